#include "app/views/GridKeyConversion.h"

#include <QKeyEvent>

namespace zarvel::GridKeyConversion {

GridKey::Modifiers modifiers(Qt::KeyboardModifiers flags) {
    return {.shift = flags.testFlag(Qt::ShiftModifier),
            .command = flags.testFlag(Qt::ControlModifier),
            .option = flags.testFlag(Qt::AltModifier),
            .control = flags.testFlag(Qt::MetaModifier)};
}

namespace {

std::optional<GridKey::Key> namedKey(int key) {
    using K = GridKey::Key;
    switch (key) {
    case Qt::Key_Up:
        return K::up;
    case Qt::Key_Down:
        return K::down;
    case Qt::Key_Left:
        return K::left;
    case Qt::Key_Right:
        return K::right;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        return K::tab;
    case Qt::Key_F2:
        return K::edit;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return K::enter;
    case Qt::Key_Escape:
        return K::escape;
    case Qt::Key_Backspace:
    case Qt::Key_Delete:
        return K::deleteKey;
    case Qt::Key_Home:
        return K::home;
    case Qt::Key_End:
        return K::end;
    case Qt::Key_PageUp:
        return K::pageUp;
    case Qt::Key_PageDown:
        return K::pageDown;
    default:
        return std::nullopt;
    }
}

} // namespace

std::optional<GridKey> fromKeyEvent(const QKeyEvent& event) {
    GridKey::Modifiers m = modifiers(event.modifiers());
    const int key = event.key();
    if (auto named = namedKey(key)) {
        if (key == Qt::Key_Backtab) m.shift = true;
        return GridKey::press(*named, m);
    }
    // Alt with a character is a menu's mnemonic on Linux (Alt+T opens Table), never
    // text; AltGr characters come without the Alt flag and still type.
    if (m.option && !m.command && !m.control) return std::nullopt;
    QString text = event.text();
    // With Ctrl or Meta held, X11 reports control characters ("\x01" for Ctrl+A); the
    // key map wants the character on the key cap, as other platforms report it.
    if ((m.command || m.control) && key >= Qt::Key_Space && key <= Qt::Key_AsciiTilde) {
        QChar c(key);
        text = m.shift ? QString(c) : QString(c.toLower());
    }
    if (text.isEmpty()) return std::nullopt;
    return GridKey::typed(text.toStdString(), m);
}

} // namespace zarvel::GridKeyConversion
