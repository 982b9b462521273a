// TextFieldKeys: the keys a text field uses for its own editing, kept away from the
// window's commands while a text field has focus.
//
// Qt offers each key press to the focused widget as a ShortcutOverride first; a field
// that accepts it gets the key instead of any shortcut. Line edits accept only some of
// their keys (not Ctrl+Backspace, not Alt with an arrow), so without help "Delete Rows"
// would fire while the user deletes a word in the find field. The filter installed here
// accepts every editing key on behalf of any editable text field of the program.
#pragma once

class QKeyEvent;
class QObject;

namespace zarvel::TextFieldKeys {

// Backspace and Delete, the arrows, Home and End, each with any modifiers, Ctrl+Minus
// and Select All. With `withUndo`, also Undo and Redo (for fields that keep their own history).
bool isEditingKey(const QKeyEvent& event, bool withUndo);
// An editable QLineEdit, QPlainTextEdit or QTextEdit.
bool isTextField(const QObject* object);
// Installs the application-wide filter once (it also holds pastes back while a copy is
// written, see TextFieldPaste); later calls do nothing.
void install();

} // namespace zarvel::TextFieldKeys
