#include "app/views/ContextMenu.h"

#include "app/views/GridStyle.h"
#include "app/views/Symbols.h"

#include <QStyleOptionMenuItem>

namespace zarvel {

namespace {
constexpr const char* destructiveProperty = "zarvelDestructive";
}

ContextMenu::ContextMenu(QWidget* parent) : QMenu(parent) {}

void ContextMenu::markDestructive(QAction* action) {
    action->setProperty(destructiveProperty, true);
}

bool ContextMenu::isDestructive(const QAction* action) { return action && action->property(destructiveProperty).toBool(); }

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
