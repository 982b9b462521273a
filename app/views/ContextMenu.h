// ContextMenu: the menu the header strip and the row gutter pop up. It adds actions
// with our symbols and draws destructive items (deleting rows or columns) in red.
#pragma once

#include <QMenu>

#include <functional>

namespace zarvel {

class ContextMenu : public QMenu {
    Q_OBJECT
public:
    explicit ContextMenu(QWidget* parent = nullptr);

    // An item with a symbol that calls `run` when chosen.
    QAction* addItem(const QString& text, const QString& symbol, std::function<void()> run, bool enabled = true);
    // The same, drawn as a destructive item.
    QAction* addDestructiveItem(const QString& text, const QString& symbol, std::function<void()> run, bool enabled = true);

    static bool isDestructive(const QAction* action);

protected:
    void initStyleOption(QStyleOptionMenuItem* option, const QAction* action) const override;
};

} // namespace zarvel
