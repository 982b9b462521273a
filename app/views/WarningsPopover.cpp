#include "app/views/WarningsPopover.h"

#include "app/views/Counted.h"

#include "app/session/EditorSession.h"
#include "app/views/GridStyle.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace zarvel {

WarningsPopover::WarningsPopover(EditorSession* session, QWidget* anchor)
    : PopoverFrame(anchor), session_(session) {
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

    connect(session_, &EditorSession::reportChanged, this, [this] {
        if (isVisible()) rebuild();
    });
    connect(session_, &EditorSession::contentChanged, this, [this] {
        if (isVisible()) rebuild();
    });
    connect(session_, &EditorSession::rowFilterChanged, this, [this] {
        if (isVisible()) rebuild();
    });
}

QString WarningsPopover::lineText(const ReadWarning& warning) {
    QString what;
    switch (warning.kind) {
    case ReadWarning::Kind::unclosedQuote:
        what = QStringLiteral(": quote never closed, read as text");
        break;
    case ReadWarning::Kind::textAfterClosingQuote:
        what = QStringLiteral(": text after a closing quote, kept as is");
        break;
    case ReadWarning::Kind::invalidUTF8:
        what = QStringLiteral(
            ": bytes that are not UTF-8, shown as \uFFFD and saved so where the row is rewritten");
        break;
    case ReadWarning::Kind::nulByte:
        what = QStringLiteral(": a NUL byte, kept as it is");
        break;
    }
    return QStringLiteral("Line ") + QString::number(warning.row + 1) + what;
}

QString WarningsPopover::raggedRowsText(int64_t raggedRowCount) {
    return counted(raggedRowCount, u"row has", u"rows have") +
           QStringLiteral(" fewer or more fields than the widest row; missing cells are shown empty.");
}

QString WarningsPopover::rawText(std::string_view bytes) {
    // A few bytes per character at most; an unclosed quote's row may run to the end of
    // the file, and only its start is wanted.
    const size_t taken = std::min<size_t>(bytes.size(), rawTextLength * 4 + 4);
    const QString decoded = QString::fromUtf8(bytes.data(), static_cast<qsizetype>(taken));
    QString out;
    int characters = 0;
    for (qsizetype i = 0; i < decoded.size(); ++i) {
        if (characters == rawTextLength) return out + QChar(0x2026);
        const QChar c = decoded[i];
        if (c.unicode() < 0x20)
            out += QChar(0x2400 + c.unicode());
        else if (c.unicode() == 0x7F)
            out += QChar(0x2421);
        else
            out += c;
        // A surrogate pair is one character.
        if (c.isHighSurrogate() && i + 1 < decoded.size() && decoded[i + 1].isLowSurrogate())
            out += decoded[++i];
        ++characters;
    }
    return taken < bytes.size() ? out + QChar(0x2026) : out;
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
    rawTexts_.clear();

    const std::optional<ReadReport> report = session_ ? session_->report() : std::nullopt;
    if (!report) {
        ragged_->hide();
        adjustSize();
        return;
    }

    ragged_->setVisible(report->raggedRowCount >= 1);
    ragged_->setText(raggedRowsText(report->raggedRowCount));

    const size_t shown = std::min<size_t>(report->warnings.size(), listedWarnings);
    const CSVTable table = session_->table();
    for (size_t i = 0; i < shown; ++i) {
        const ReadWarning warning = report->warnings[i];
        auto* row = new QWidget(this);
        auto* rowLayout = new QHBoxLayout(row);
        rowLayout->setContentsMargins(0, 0, 0, 0);
        rowLayout->setSpacing(8);
        auto* texts = new QVBoxLayout;
        texts->setSpacing(1);
        auto* label = new QLabel(lineText(warning), row);
        label->setTextFormat(Qt::PlainText);
        label->setWordWrap(true);
        texts->addWidget(label);
        QLabel* raw = nullptr;
        if (warning.row >= 0 && warning.row < table.index().rowCount()) {
            raw = new QLabel(rawText(table.sourceRowBytes(static_cast<uint32_t>(warning.row))), row);
            raw->setTextFormat(Qt::PlainText);
            raw->setWordWrap(true);
            raw->setTextInteractionFlags(Qt::TextSelectableByMouse);
            QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
            mono.setPointSizeF(std::max(7.0, font().pointSizeF() - 1));
            raw->setFont(mono);
            QPalette p = raw->palette();
            p.setColor(QPalette::WindowText, GridStyle::secondary(p));
            raw->setPalette(p);
            texts->addWidget(raw);
        }
        rowLayout->addLayout(texts, 1);
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
        rawTexts_.append(raw);
        showButtons_.append(show);
    }
    adjustSize();
}

} // namespace zarvel
