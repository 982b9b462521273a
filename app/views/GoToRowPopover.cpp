#include "app/views/GoToRowPopover.h"

#include "app/session/EditorSession.h"
#include "app/views/Counted.h"

#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace zarvel {

GoToRowPopover::GoToRowPopover(EditorSession* session, QWidget* anchor)
    : PopoverFrame(anchor), session_(session) {
    setFixedWidth(260);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 10, 12, 10);
    layout->setSpacing(6);
    auto* title = new QLabel(QStringLiteral("Go to row:"), this);
    field_ = new QLineEdit(this);
    field_->setPlaceholderText(QStringLiteral("Row number"));
    field_->setClearButtonEnabled(true);
    message_ = new QLabel(this);
    message_->setTextFormat(Qt::PlainText);
    message_->setWordWrap(true);
    layout->addWidget(title);
    layout->addWidget(field_);
    layout->addWidget(message_);
    connect(field_, &QLineEdit::returnPressed, this, &GoToRowPopover::go);
}

void GoToRowPopover::present() {
    field_->clear();
    const int64_t rows = session_ ? session_->displayedRowCount() : 0;
    message_->setText(rows > 0 ? QStringLiteral("The rows are numbered as in the left margin.")
                               : QStringLiteral("The table has no rows."));
    popup();
    activateWindow();
    field_->setFocus(Qt::PopupFocusReason);
}

void GoToRowPopover::go() {
    if (!session_) return;
    bool ok = false;
    const QString text =
        field_->text().trimmed().remove(QLatin1Char(',')).remove(QChar(0x202F)).remove(QChar(0xA0));
    const qlonglong number = text.toLongLong(&ok);
    if (!ok) {
        message_->setText(QStringLiteral("Type a row number."));
        adjustSize();
        return;
    }
    using O = EditorSession::RowJump::Outcome;
    const EditorSession::RowJump jump = session_->goToRow(number);
    const QString shown = groupedCount(jump.number);
    switch (jump.outcome) {
    case O::exact:
        hide();
        Q_EMIT jumped();
        return;
    case O::noRows:
        message_->setText(QStringLiteral("The table has no rows."));
        break;
    case O::first:
        message_->setText(QStringLiteral("There is no row ") + text +
                          QStringLiteral("; went to the first row, ") + shown + QLatin1Char('.'));
        break;
    case O::last:
        message_->setText(QStringLiteral("There is no row ") + text +
                          QStringLiteral("; went to the last row, ") + shown + QLatin1Char('.'));
        break;
    case O::nearest:
        message_->setText(QStringLiteral("Row ") + text + QStringLiteral(" is not shown; went to row ") +
                          shown + QLatin1Char('.'));
        break;
    }
    field_->selectAll();
    adjustSize();
}

} // namespace zarvel
