#include "app/views/TextFieldPaste.h"

#include "app/session/EditorSession.h"
#include "app/views/TextFieldKeys.h"

#include <QAction>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>

namespace zarvel::TextFieldPaste {

void paste(QWidget* field) {
    EditorSession::whenClipboardWritten(field, [field](bool) {
        if (field->isVisible() && TextFieldKeys::isTextField(field))
            QMetaObject::invokeMethod(field, "paste");
    });
}

namespace {

// The items of the fields' own menus have no names: Paste is known by Qt's own title,
// translated as Qt translates it.
bool isPasteItem(const QAction* item) {
    const QString title = item->text().section(QLatin1Char('\t'), 0, 0);
    return title == QLineEdit::tr("&Paste") ||
           title == QCoreApplication::translate("QWidgetTextControl", "&Paste");
}

// The fields' own context menus paste straight from the clipboard; while a copy is
// written their Paste item is swapped for one that waits. Enabled even when the old
// clipboard is empty: the copy's text is on its way.
void deferPasteItem(QMenu* menu, QWidget* field) {
    for (QAction* item : menu->actions()) {
        if (!isPasteItem(item)) continue;
        auto* waiting = new QAction(item->icon(), item->text(), menu);
        QObject::connect(waiting, &QAction::triggered, field, [field] { paste(field); });
        menu->insertAction(item, waiting);
        delete item;
        return;
    }
}

} // namespace

bool intercept(QObject* watched, QEvent* event) {
    if (!EditorSession::isClipboardBeingWritten()) return false;
    if (event->type() == QEvent::KeyPress && TextFieldKeys::isTextField(watched) &&
        static_cast<QKeyEvent*>(event)->matches(QKeySequence::Paste)) {
        paste(static_cast<QWidget*>(watched));
        return true;
    }
    auto* menu = event->type() == QEvent::Show ? qobject_cast<QMenu*>(watched) : nullptr;
    if (menu) {
        // A multi-line field makes its menu a child of its viewport.
        QWidget* owner = menu->parentWidget();
        if (owner && !TextFieldKeys::isTextField(owner)) owner = owner->parentWidget();
        if (TextFieldKeys::isTextField(owner)) deferPasteItem(menu, owner);
    }
    return false;
}

} // namespace zarvel::TextFieldPaste
