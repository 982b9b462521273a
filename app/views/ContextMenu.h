// ContextMenu: the menu the header strip and the row gutter pop up. It shows the
// window's own command objects (CommandRegistry) and draws destructive ones (deleting
// rows or columns) in red, icon included.
#pragma once

#include <QMenu>

#include <cstdint>

namespace zarvel {

class EditorSession;

class ContextMenu : public QMenu {
    Q_OBJECT
public:
    explicit ContextMenu(QWidget* parent = nullptr);

    // Marks a command as destructive: context menus draw it in red.
    static void markDestructive(QAction* action);
    static bool isDestructive(const QAction* action);

    // Sorting by one column, in the orders that apply to it: with `plain` the plain sorts
    // first; then natural order for a text column and date order for a date column. The
    // items go before `before` (at the end when null), their titles end in `suffix`.
    void addSortActions(EditorSession* session, int64_t column, bool plain, QAction* before = nullptr,
                        const QString& suffix = {});

protected:
    void initStyleOption(QStyleOptionMenuItem* option, const QAction* action) const override;
};

} // namespace zarvel
