// ContextMenu: the menu the header strip and the row gutter pop up. It shows the
// window's own command objects (CommandRegistry) and draws destructive ones (deleting
// rows or columns) in red, icon included.
#pragma once

#include <QMenu>

namespace zarvel {

class ContextMenu : public QMenu {
    Q_OBJECT
public:
    explicit ContextMenu(QWidget* parent = nullptr);

    // Marks a command as destructive: context menus draw it in red.
    static void markDestructive(QAction* action);
    static bool isDestructive(const QAction* action);

protected:
    void initStyleOption(QStyleOptionMenuItem* option, const QAction* action) const override;
};

} // namespace zarvel
