// GoToRowPopover: Go to Row…, a small field under the column header strip. Typing a
// row number (as the gutter shows it) and Return selects that row and scrolls to it; a
// number outside the rows goes to the first or last row, and the message says so.
#pragma once

#include "app/views/PopoverFrame.h"

#include <QPointer>

class QLabel;
class QLineEdit;

namespace zarvel {

class EditorSession;

class GoToRowPopover : public PopoverFrame {
    Q_OBJECT
public:
    GoToRowPopover(EditorSession* session, QWidget* anchor);

    // Opens with an empty field that has focus.
    void present();
    // Goes to the row the field names; stays open with a message unless it went
    // exactly there.
    void go();

    QLineEdit* field() const { return field_; }
    QLabel* message() const { return message_; }

Q_SIGNALS:
    // The row was reached; the grid takes the keys back.
    void jumped();

private:
    QPointer<EditorSession> session_;
    QLineEdit* field_ = nullptr;
    QLabel* message_ = nullptr;
};

} // namespace zarvel
