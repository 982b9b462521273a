// TextFieldPaste: a paste into any text field of the program waits for a copy still
// being written.
//
// A large copy is written on a worker, and until it lands the clipboard holds what was
// there before. The grid's paste waits for it in the session; a text field's paste (its
// key, the Paste command, the Paste item of its context menu) goes through here and runs
// once the copy ends, with whatever the clipboard then holds: the new text, or the old
// one after a cancel. Nothing blocks meanwhile. With no copy running, fields paste as
// they always do.
#pragma once

class QEvent;
class QObject;
class QWidget;

namespace zarvel::TextFieldPaste {

// Pastes into `field`, an editable text field, now or once the running copy ends. A
// field that is gone or hidden by then (its bar closed, its edit ended) takes nothing.
void paste(QWidget* field);
// Holds back a field's paste key and swaps its menu's Paste item while a copy is being
// written; true when `event` was taken. Called by the application-wide filter of
// TextFieldKeys.
bool intercept(QObject* watched, QEvent* event);

} // namespace zarvel::TextFieldPaste
