#include "app/views/StatusBar.h"

#include "app/views/Counted.h"

#include "app/session/EditorSession.h"
#include "app/views/GridStyle.h"
#include "app/views/Symbols.h"
#include "app/views/WarningsButton.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>

#include <algorithm>

namespace zarvel {

namespace {

// The Cancel beside a long task's progress: the bar's own small font, never the focus.
QPushButton* cancelButton(QWidget* bar) {
    auto* button = new QPushButton(QStringLiteral("Cancel"), bar);
    button->setFont(bar->font());
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

constexpr int chipPaddingX = 6;
constexpr int chipPaddingY = 2;
constexpr int chipSpacing = 6;
constexpr int chevronSize = 12;
const QString partSeparator = QStringLiteral("·");

QFont calloutFont(const QFont& base) {
    QFont f = base;
    f.setPointSizeF(std::max(base.pointSizeF() - 1.0, 7.0));
    return f;
}

QString grouped(int64_t n) {
    return groupedCount(n);
}

} // namespace

// MARK: format summary

FormatSummaryButton::FormatSummaryButton(QWidget* parent) : QAbstractButton(parent) {
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void FormatSummaryButton::setParts(const QStringList& parts) {
    if (parts == parts_) return;
    parts_ = parts;
    setText(parts.join(QStringLiteral(" ") + partSeparator + QStringLiteral(" ")));
    setAccessibleName(text());
    updateGeometry();
    update();
}

void FormatSummaryButton::setWarning(bool warning) {
    if (warning == warning_) return;
    warning_ = warning;
    update();
}

QSize FormatSummaryButton::sizeHint() const {
    const QFontMetrics fm(font());
    int width = 2 * chipPaddingX + chevronSize;
    for (const QString& part : parts_)
        width += fm.horizontalAdvance(part) + chipSpacing;
    if (parts_.size() > 1)
        width += static_cast<int>(parts_.size() - 1) * (fm.horizontalAdvance(partSeparator) + chipSpacing);
    return {width, fm.height() + 2 * chipPaddingY};
}

void FormatSummaryButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF chip = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const double quaternary = isDown() ? 0.16 : (underMouse() ? 0.12 : 0.08);
    p.setPen(Qt::NoPen);
    p.setBrush(GridStyle::withOpacity(GridStyle::primary(palette()), quaternary));
    p.drawRoundedRect(chip, 5, 5);

    const QColor ink = warning_ ? GridStyle::warning(palette()) : GridStyle::primary(palette());
    const QFontMetrics fm(font());
    int x = chipPaddingX;
    auto draw = [&](const QString& s, const QColor& color) {
        p.setPen(color);
        p.drawText(QRect(x, 0, fm.horizontalAdvance(s), height()), Qt::AlignVCenter | Qt::AlignLeft, s);
        x += fm.horizontalAdvance(s) + chipSpacing;
    };
    for (qsizetype i = 0; i < parts_.size(); ++i) {
        if (i > 0) draw(partSeparator, GridStyle::secondary(palette()));
        draw(parts_[i], ink);
    }
    const QRect chevron(x, (height() - chevronSize) / 2, chevronSize, chevronSize);
    Symbols::icon(QStringLiteral("chevron.up.chevron.down")).paint(&p, chevron);
    if (hasFocus()) {
        p.setPen(QPen(GridStyle::accent(palette()), 1.5));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(chip, 5, 5);
    }
}

void FormatSummaryButton::enterEvent(QEnterEvent* event) {
    QAbstractButton::enterEvent(event);
    update(); // the chip darkens under the pointer
}

void FormatSummaryButton::leaveEvent(QEvent* event) {
    QAbstractButton::leaveEvent(event);
    update();
}

// MARK: busy indicator

BusyIndicator::BusyIndicator(QWidget* parent) : QWidget(parent) {
    setFixedSize(sizeHint());
    timer_.setInterval(40);
    connect(&timer_, &QTimer::timeout, this, [this] {
        angle_ = (angle_ + 30) % 360;
        update();
    });
}

void BusyIndicator::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(rect()).adjusted(2, 2, -2, -2);
    p.setPen(QPen(GridStyle::tertiary(palette()), 2));
    p.drawEllipse(r);
    p.setPen(QPen(GridStyle::secondary(palette()), 2, Qt::SolidLine, Qt::RoundCap));
    p.drawArc(r, -angle_ * 16, 100 * 16);
}

void BusyIndicator::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    timer_.start();
}

void BusyIndicator::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    timer_.stop();
}

// MARK: status bar

StatusBar::StatusBar(EditorSession* session, QWidget* parent) : QWidget(parent), session_(session) {
    setFixedHeight(barHeight);
    setFont(calloutFont(font()));

    size_ = new QLabel(this);
    filter_ = new QLabel(this);
    GridStyle::followColor(filter_, QPalette::WindowText, GridStyle::warning);
    selection_ = new QLabel(this);
    busy_ = new BusyIndicator(this);
    format_ = new FormatSummaryButton(this);
    warnings_ = new WarningsButton(session, this);
    opening_ = new QLabel(this);
    saving_ = new QLabel(this);
    saving_->hide();
    cancelOpening_ = cancelButton(this);
    replacing_ = new QLabel(this);
    cancelReplacing_ = cancelButton(this);

    // The selection names a column by its title, which is the file's text: never markup.
    for (QLabel* label : {size_, filter_, selection_})
        label->setTextFormat(Qt::PlainText);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(10, 0, 10, 0);
    layout->setSpacing(12);
    layout->addWidget(size_);
    layout->addWidget(filter_);
    layout->addWidget(selection_);
    layout->addWidget(busy_);
    layout->addWidget(opening_);
    layout->addWidget(cancelOpening_);
    layout->addWidget(saving_);
    layout->addWidget(replacing_);
    layout->addWidget(cancelReplacing_);
    copying_ = new QLabel(this);
    cancelCopy_ = cancelButton(this);
    layout->addWidget(copying_);
    layout->addWidget(cancelCopy_);
    layout->addStretch(1);
    layout->addWidget(format_);
    layout->addWidget(warnings_);

    connect(format_, &QAbstractButton::clicked, this, [this] {
        Q_EMIT formatSummaryClicked(format_);
        if (session_) session_->setFormatPresented(true);
    });

    connect(session_, &EditorSession::selectionChanged, this, &StatusBar::refresh);
    connect(session_, &EditorSession::layoutChanged, this, &StatusBar::refresh);
    connect(session_, &EditorSession::rowFilterChanged, this, &StatusBar::refresh);
    connect(session_, &EditorSession::busyChanged, this, &StatusBar::refresh);
    connect(session_, &EditorSession::openingChanged, this, &StatusBar::refresh);
    connect(cancelOpening_, &QPushButton::clicked, this, [this] {
        if (session_) session_->cancelOpening();
    });
    // The reader counts on its own thread; the bar looks a few times a second.
    openingTimer_.setInterval(100);
    connect(&openingTimer_, &QTimer::timeout, this, [this] {
        if (session_) opening_->setText(openingText(session_->openProgress()));
    });
    connect(session_, &EditorSession::replacingChanged, this, &StatusBar::refresh);
    connect(cancelReplacing_, &QPushButton::clicked, this, [this] {
        if (session_) session_->cancelReplacing();
    });
    replacingTimer_.setInterval(100);
    connect(&replacingTimer_, &QTimer::timeout, this, [this] {
        if (const auto fraction = session_ ? session_->replaceProgress() : std::nullopt)
            replacing_->setText(replacingText(*fraction));
    });
    connect(session_, &EditorSession::contentChanged, this, &StatusBar::refresh);
    connect(session_, &EditorSession::reportChanged, this, &StatusBar::refresh);
    connect(session_, &EditorSession::copyingChanged, this, &StatusBar::refresh);
    connect(cancelCopy_, &QPushButton::clicked, this, [this] {
        if (session_) session_->cancelCopy();
    });
    copyingTimer_.setInterval(100);
    connect(&copyingTimer_, &QTimer::timeout, this, &StatusBar::refreshCopying);
    refresh();
}

void StatusBar::refreshCopying() {
    const bool copying = session_ && session_->isCopying();
    copying_->setVisible(copying);
    cancelCopy_->setVisible(copying);
    if (!copying) {
        copyingTimer_.stop();
        return;
    }
    copying_->setText(QStringLiteral("Copying… %1 %")
                          .arg(std::clamp(static_cast<int>(session_->copyProgress() * 100), 0, 100)));
    if (!copyingTimer_.isActive()) copyingTimer_.start();
}

QString StatusBar::sizeText(int64_t dataRows, int64_t columns) {
    return counted(dataRows, u"row", u"rows") + QStringLiteral(" · ") +
           counted(columns, u"column", u"columns");
}

QString StatusBar::selectionText() const {
    if (!session_ || !session_->hasDocument()) return {};
    // With a filter that matches nothing there is no active cell to describe.
    const GridSize size = session_->displayedSize();
    if (size.isEmpty()) return {};
    const GridSelection& s = session_->selection();
    if (s.active.row < 0 || s.active.row >= size.rows || s.active.column < 0 ||
        s.active.column >= size.columns)
        return {};
    if (s.isSingleCell()) {
        const CSVTable table = session_->table();
        const int64_t dataRow = session_->tableRow(s.active.row) - table.firstDataRow() + 1;
        QString title = QString::fromStdString(table.columnTitle(s.active.column)).simplified();
        if (title.isEmpty()) title = QString::fromStdString(CSVTable::columnLetters(s.active.column));
        return QStringLiteral("Row ") + QString::number(dataRow) + QStringLiteral(", ") + title;
    }
    return grouped(s.rows().count()) + QStringLiteral(" × ") + grouped(s.columns().count()) +
           QStringLiteral(" selected");
}

QStringList StatusBar::formatParts(const FileFormat& format) {
    QString encoding = QString::fromUtf8(displayName(format.encoding));
    if (format.hasBOM && supportsBOM(format.encoding)) encoding += QStringLiteral(" BOM");
    return {QString::fromStdString(CSVDialect::displayName(format.dialect.delimiter)), encoding,
            QString::fromUtf8(displayName(format.lineEnding))};
}

QString StatusBar::openingText(const OpenProgress& progress) {
    // Both phases in one figure: the bytes coming in, then the text indexed.
    const double total = static_cast<double>(progress.fileSize) +
                         static_cast<double>(progress.isIndexing() ? progress.textSize : progress.fileSize);
    const double done = static_cast<double>(progress.loaded) + static_cast<double>(progress.indexed);
    const int percent = total > 0 ? std::clamp(static_cast<int>(done * 100 / total), 0, 100) : 0;
    QString text =
        (progress.isRereading ? QStringLiteral("Reading again… %1 %") : QStringLiteral("Opening… %1 %"))
            .arg(percent);
    if (progress.rows > 0) text += QStringLiteral(" · ") + counted(progress.rows, u"row", u"rows");
    if (progress.seconds > 0.2 && total > 0) {
        const double megabytesPerSecond =
            done / total * static_cast<double>(progress.fileSize) / progress.seconds / 1e6;
        text += QStringLiteral(" · %1 MB/s").arg(grouped(static_cast<int64_t>(megabytesPerSecond)));
    }
    return text;
}

QString StatusBar::replacingText(double fraction) {
    return QStringLiteral("Replacing… %1 %").arg(std::clamp(static_cast<int>(fraction * 100), 0, 100));
}

void StatusBar::setSaveProgress(std::optional<double> fraction) {
    saving_->setVisible(fraction.has_value());
    if (fraction)
        saving_->setText(
            QStringLiteral("Saving… %1 %").arg(std::clamp(static_cast<int>(*fraction * 100), 0, 100)));
    refresh();
}

void StatusBar::refresh() {
    if (!session_ || !session_->hasDocument()) return;
    const CSVTable table = session_->table();

    // While the file is being read, the bar tells how far instead of what the first
    // rows would say about the table.
    const bool isOpening = session_->isOpening();
    opening_->setVisible(isOpening);
    cancelOpening_->setVisible(isOpening);
    size_->setVisible(!isOpening);
    format_->setVisible(!isOpening);
    if (isOpening) {
        opening_->setText(openingText(session_->openProgress()));
        if (!openingTimer_.isActive()) openingTimer_.start();
    } else {
        openingTimer_.stop();
    }

    const std::optional<double> replacing = session_->replaceProgress();
    replacing_->setVisible(replacing.has_value());
    cancelReplacing_->setVisible(replacing.has_value());
    if (replacing) {
        replacing_->setText(replacingText(*replacing));
        if (!replacingTimer_.isActive()) replacingTimer_.start();
    } else {
        replacingTimer_.stop();
    }

    size_->setText(sizeText(table.dataRowCount(), table.columnCount()));

    const auto& filter = session_->rowFilter();
    filter_->setVisible(filter.has_value());
    if (filter)
        filter_->setText(QStringLiteral("Showing ") +
                         counted(static_cast<int64_t>(filter->size()), u"matching row", u"matching rows"));

    const QString selection = selectionText();
    selection_->setText(selection);
    selection_->setVisible(!selection.isEmpty());

    refreshCopying();
    busy_->setVisible(session_->isBusy() || isOpening || saving_->isVisibleTo(this) || session_->isCopying());

    const std::optional<ReadReport> report = session_->report();
    format_->setParts(formatParts(report ? report->format : table.format()));
    const bool doubtful = report && report->confidence < confidenceWarningBelow;
    // A better encoding for a file read in the fallback is offered in the format popover.
    format_->setWarning(doubtful || (report && report->suggestedEncoding));
    format_->setToolTip(doubtful
                            ? QStringLiteral("The delimiter was hard to detect. Check how the file is read.")
                            : QStringLiteral("File format"));

    warnings_->refresh();
    if (isOpening) warnings_->setVisible(false);
}

void StatusBar::paintEvent(QPaintEvent*) {
    QPainter p(this);
    // The window draws the divider above the bar.
    p.fillRect(rect(), GridStyle::bar(palette()));
}

} // namespace zarvel
