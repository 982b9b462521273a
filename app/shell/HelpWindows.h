// HelpWindows: what the Help menu opens. The keyboard shortcuts window lists every
// binding, built from the window's command registry and the grid's key map (through the
// same key conversion the grid uses), so the list cannot drift from what the keys do.
// About names the version, the Qt and ICU versions and the licence.
#pragma once

#include <QDialog>
#include <QList>
#include <QString>

class QTreeWidget;

namespace zarvel {

class CommandRegistry;

struct ShortcutEntry {
    QString section; // "Commands" or "Grid"
    QString title;
    QString keys; // as the platform writes them ("Ctrl+Shift+Z"), several separated by ", "
    bool operator==(const ShortcutEntry&) const = default;
};

// The registry's commands that have a shortcut, in the registry's order, then every key
// the grid's key map binds that no command already holds. A modifier that changes
// nothing (Ctrl+Tab does what Tab does) adds no entry of its own.
QList<ShortcutEntry> shortcutEntries(const CommandRegistry& commands);

class ShortcutsWindow : public QDialog {
    Q_OBJECT
public:
    explicit ShortcutsWindow(const CommandRegistry* commands, QWidget* parent = nullptr);

    QTreeWidget* list() const { return list_; }
    // Lists the bindings again (command titles follow the selection).
    void refresh();

private:
    const CommandRegistry* commands_;
    QTreeWidget* list_;
};

QString aboutText();
// A window-modal message that returns at once.
void showAbout(QWidget* parent);

} // namespace zarvel
