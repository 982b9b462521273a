#include "app/views/WarningsPopover.h"

#include "app/views/Counted.h"

#include "app/session/EditorSession.h"
#include "app/views/GridStyle.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QVBoxLayout>

namespace zarvel {

WarningsPopover::WarningsPopover(EditorSession* session, QWidget* anchor) : PopoverFrame(anchor), session_(session) {
    setFixedWidth(popoverWidth);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 12, 14, 12);
    layout->setSpacing(8);

    headline_ = new QLabel(QStringLiteral("Problems found while reading"), this);
    headline_->setFont(GridStyle::headerFont(font()));
    layout->addWidget(headline_);

    headline_->setTextFormat(Qt::PlainText);
    ragged_ = new QLabel(this);
    ragged_->setTextFormat(Qt::PlainText);
    ragged_->setWordWrap(true);
    layout->addWidget(ragged_);

    list_ = new QVBoxLayout;
    list_->setSpacing(2);
    layout->addLayout(list_);

    connect(session_, &EditorSession::reportChanged, this, [this] { if (isVisible()) rebuild(); });
    connect(session_, &EditorSession::contentChanged, this, [this] { if (isVisible()) rebuild(); });
    connect(session_, &EditorSession::rowFilterChanged, this, [this] { if (isVisible()) rebuild(); });
}

QString WarningsPopover::lineText(const ReadWarning& warning) {
    QString what;
    switch (warning.kind) {
    case ReadWarning::Kind::unclosedQuote: what = QStringLiteral(": quote never closed, read as text"); break;
    case ReadWarning::Kind::textAfterClosingQuote: what = QStringLiteral(": text after a closing quote, kept as is"); break;
    case ReadWarning::Kind::invalidUTF8:
        what = QStringLiteral(": bytes that are not UTF-8, shown as \uFFFD and saved so where the row is rewritten");
        break;
    case ReadWarning::Kind::nulByte: what = QStringLiteral(": a NUL byte, kept as it is"); break;
    }
    return QStringLiteral("Line ") + QString::number(warning.row + 1) + what;
}

QString WarningsPopover::raggedRowsText(int64_t raggedRowCount) {
    return counted(raggedRowCount, u"row has", u"rows have") + QStringLiteral(" fewer or more fields than the widest row; missing cells are shown empty.");
}

void WarningsPopover::rebuild() {
    for (QWidget* row : rows_) {
        // Later: a "Show" button of this list may be the one being clicked right now.
        list_->removeWidget(row);
        row->hide();
        row->deleteLater();
    }
    rows_.clear();
    lines_.clear();
    showButtons_.clear();

    const std::optional<ReadReport> report = session_ ? session_->report() : std::nullopt;
    if (!report) {
        ragged_->hide();
        adjustSize();
        return;
    }

    ragged_->setVisible(report->raggedRowCount >= 1);
    ragged_->setText(raggedRowsText(report->raggedRowCount));

    const size_t shown = std::min<size_t>(report->warnings.size(), listedWarnings);
    for (size_t i = 0; i < shown; ++i) {
        const ReadWarning warning = report->warnings[i];
        auto* row = new QWidget(this);
        auto* rowLayout = new QHBoxLayout(row);
        rowLayout->setContentsMargins(0, 0, 0, 0);
        rowLayout->setSpacing(8);
        auto* label = new QLabel(lineText(warning), row);
        label->setTextFormat(Qt::PlainText);
        label->setWordWrap(true);
        rowLayout->addWidget(label, 1);
        QPushButton* show = nullptr;
        if (session_->displayRow(warning.row)) {
            show = new QPushButton(QStringLiteral("Show"), row);
            show->setAutoDefault(false);
            // A compact button keeps each line on one row.
            show->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
            show->setMaximumWidth(show->fontMetrics().horizontalAdvance(show->text()) + 24);
            connect(show, &QPushButton::clicked, this, [this, tableRow = warning.row] {
                if (session_) session_->revealTableRow(tableRow);
            });
            rowLayout->addWidget(show, 0, Qt::AlignVCenter);
        }
        list_->addWidget(row);
        rows_.append(row);
        lines_.append(label);
        showButtons_.append(show);
    }
    adjustSize();
}

} // namespace zarvel
