#include "app/views/ContextMenu.h"

#include "app/session/EditorSession.h"
#include "app/views/GridStyle.h"
#include "app/views/Symbols.h"

#include <QPointer>
#include <QStyleOptionMenuItem>

#include <optional>
#include <vector>

namespace zarvel {

namespace {
constexpr const char* destructiveProperty = "zarvelDestructive";
}

ContextMenu::ContextMenu(QWidget* parent) : QMenu(parent) {}

void ContextMenu::markDestructive(QAction* action) {
    action->setProperty(destructiveProperty, true);
}

bool ContextMenu::isDestructive(const QAction* action) {
    return action && action->property(destructiveProperty).toBool();
}

void ContextMenu::addSortActions(EditorSession* session, int64_t column, bool plain, QAction* before,
                                 const QString& suffix) {
    const auto& kinds = session->columnKinds();
    const ColumnKind kind = column >= 0 && column < static_cast<int64_t>(kinds.size())
                                ? kinds[static_cast<size_t>(column)]
                                : ColumnKind::text;
    struct Item {
        const char* title;
        bool ascending;
        std::optional<SortKind> order; // none: the plain sort
    };
    std::vector<Item> items;
    if (plain) items.insert(items.end(), {{"Sort Ascending", true, {}}, {"Sort Descending", false, {}}});
    if (kind == ColumnKind::text)
        items.insert(items.end(), {{"Sort Naturally Ascending", true, SortKind::natural},
                                   {"Sort Naturally Descending", false, SortKind::natural}});
    if (kind == ColumnKind::date)
        items.insert(items.end(), {{"Sort by Date Ascending", true, SortKind::date},
                                   {"Sort by Date Descending", false, SortKind::date}});
    QPointer<EditorSession> target(session);
    for (const Item& item : items) {
        auto* action = new QAction(
            Symbols::icon(item.ascending ? QStringLiteral("arrow.up") : QStringLiteral("arrow.down")),
            QString::fromUtf8(item.title) + suffix, this);
        connect(action, &QAction::triggered, this,
                [target, column, ascending = item.ascending, order = item.order] {
                    if (!target) return;
                    if (order)
                        target->sort(column, ascending, *order);
                    else
                        target->sort(column, ascending);
                });
        insertAction(before, action);
    }
}

void ContextMenu::initStyleOption(QStyleOptionMenuItem* option, const QAction* action) const {
    QMenu::initStyleOption(option, action);
    if (!isDestructive(action) || !action->isEnabled()) return;
    const QColor red = GridStyle::destructive(option->palette);
    option->palette.setColor(QPalette::Text, red);
    option->palette.setColor(QPalette::ButtonText, red);
    option->palette.setColor(QPalette::WindowText, red);
    // The command's icon is shared with the menu bar; only here is it drawn red.
    if (!action->icon().name().isEmpty()) option->icon = Symbols::icon(action->icon().name(), red);
}

} // namespace zarvel
