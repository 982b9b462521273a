#include "app/views/TextFieldKeys.h"

#include "app/views/TextFieldPaste.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTextEdit>

namespace zarvel::TextFieldKeys {

bool isEditingKey(const QKeyEvent& event, bool withUndo) {
    switch (event.key()) {
    case Qt::Key_Backspace:
    case Qt::Key_Delete:
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_Home:
    case Qt::Key_End:
        return true;
    default:
        break;
    }
    // Ctrl+Minus deletes columns in the grid; in a field it must not reach the table.
    if (event.key() == Qt::Key_Minus && event.modifiers().testFlag(Qt::ControlModifier)) return true;
    if (event.matches(QKeySequence::SelectAll)) return true;
    return withUndo && (event.matches(QKeySequence::Undo) || event.matches(QKeySequence::Redo));
}

bool isTextField(const QObject* object) {
    if (const auto* line = qobject_cast<const QLineEdit*>(object)) return !line->isReadOnly();
    if (const auto* plain = qobject_cast<const QPlainTextEdit*>(object)) return !plain->isReadOnly();
    if (const auto* rich = qobject_cast<const QTextEdit*>(object)) return !rich->isReadOnly();
    return false;
}

namespace {

class Filter : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (TextFieldPaste::intercept(watched, event)) return true;
        if (event->type() != QEvent::ShortcutOverride || !isTextField(watched)) return false;
        if (!isEditingKey(*static_cast<QKeyEvent*>(event), true)) return false;
        // Accepted: the key reaches the field as a key press, and no shortcut fires.
        event->accept();
        return true;
    }
};

} // namespace

void install() {
    static QPointer<Filter> filter;
    if (filter || !qApp) return;
    filter = new Filter(qApp);
    qApp->installEventFilter(filter);
}

} // namespace zarvel::TextFieldKeys
