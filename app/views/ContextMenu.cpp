#include "app/views/ContextMenu.h"

#include "app/views/GridStyle.h"
#include "app/views/Symbols.h"

#include <QStyleOptionMenuItem>

namespace zarvel {

namespace {
constexpr const char* destructiveProperty = "zarvelDestructive";
}

ContextMenu::ContextMenu(QWidget* parent) : QMenu(parent) {}

QAction* ContextMenu::addItem(const QString& text, const QString& symbol, std::function<void()> run, bool enabled) {
    QAction* action = addAction(Symbols::icon(symbol), text);
    action->setEnabled(enabled);
    connect(action, &QAction::triggered, this, [run = std::move(run)] { run(); });
    return action;
}

QAction* ContextMenu::addDestructiveItem(const QString& text, const QString& symbol, std::function<void()> run,
                                         bool enabled) {
    QAction* action = addItem(text, symbol, std::move(run), enabled);
    action->setIcon(Symbols::icon(symbol, GridStyle::destructive()));
    action->setProperty(destructiveProperty, true);
    return action;
}

bool ContextMenu::isDestructive(const QAction* action) { return action && action->property(destructiveProperty).toBool(); }

void ContextMenu::initStyleOption(QStyleOptionMenuItem* option, const QAction* action) const {
    QMenu::initStyleOption(option, action);
    if (!isDestructive(action) || !action->isEnabled()) return;
    const QColor red = GridStyle::destructive();
    option->palette.setColor(QPalette::Text, red);
    option->palette.setColor(QPalette::ButtonText, red);
    option->palette.setColor(QPalette::WindowText, red);
}

} // namespace zarvel
