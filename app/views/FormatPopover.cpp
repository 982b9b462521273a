#include "app/views/FormatPopover.h"

#include "app/session/EditorSession.h"
#include "app/views/GridStyle.h"

#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QUndoStack>
#include <QVBoxLayout>

#include <algorithm>

namespace zarvel {

namespace {

constexpr int otherChoice = -1;
constexpr int controlWidth = 170;

// Curly double quotation marks around a character: how a delimiter or quote outside
// the usual choices is named.
QString quoted(uint8_t byte) {
    return QStringLiteral("\u201C") + QString::fromStdString(CSVDialect::displayName(byte)) +
           QStringLiteral("\u201D");
}

// One rounded group of a form, its rows a label on the left and a control on the right.
class FormGroup : public QWidget {
public:
    explicit FormGroup(QWidget* parent) : QWidget(parent), grid_(new QGridLayout(this)) {
        grid_->setContentsMargins(10, 8, 10, 8);
        grid_->setHorizontalSpacing(12);
        grid_->setVerticalSpacing(6);
        grid_->setColumnStretch(0, 1);
    }
    void addRow(const QString& label, QWidget* control) {
        // Pickers share one width so that their right edges and texts line up.
        if (qobject_cast<QComboBox*>(control)) control->setMinimumWidth(controlWidth);
        const int row = grid_->rowCount();
        auto* title = new QLabel(label, this);
        title->setTextFormat(Qt::PlainText);
        title->setBuddy(control);
        grid_->addWidget(title, row, 0, Qt::AlignVCenter | Qt::AlignLeft);
        grid_->addWidget(control, row, 1, Qt::AlignVCenter | Qt::AlignRight);
    }
    void addWide(QWidget* widget, Qt::Alignment alignment = {}) {
        grid_->addWidget(widget, grid_->rowCount(), 0, 1, 2, alignment);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(GridStyle::divider(palette()));
        p.setBrush(GridStyle::withOpacity(GridStyle::primary(palette()), 0.035));
        p.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 7, 7);
    }

private:
    QGridLayout* grid_;
};

QLabel* sectionTitle(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setFont(GridStyle::headerFont(parent->font()));
    label->setContentsMargins(4, 0, 0, 0);
    return label;
}

std::optional<char32_t> localeDecimalSeparator() {
    const QList<uint> ucs4 = QLocale().decimalPoint().toUcs4();
    if (ucs4.isEmpty()) return std::nullopt;
    return static_cast<char32_t>(ucs4.front());
}

void selectData(QComboBox* combo, int value) {
    const int index = combo->findData(value);
    if (index >= 0) combo->setCurrentIndex(index);
}

} // namespace

// MARK: pickers

EncodingPicker::EncodingPicker(QWidget* parent) : QComboBox(parent) {
    setAccessibleName(QStringLiteral("Encoding"));
    rebuild();
    connect(this, &QComboBox::activated, this, &EncodingPicker::choose);
}

TextEncoding EncodingPicker::encoding() const {
    return encoding_;
}

void EncodingPicker::setEncoding(TextEncoding encoding) {
    encoding_ = encoding;
    rebuild();
}

void EncodingPicker::rebuild() {
    const QSignalBlocker block(this);
    clear();
    for (TextEncoding e : allTextEncodings)
        addItem(QString::fromUtf8(displayName(e)), static_cast<int>(e));
    insertSeparator(count());
    if (isExtraEncoding(encoding_))
        addItem(QString::fromUtf8(displayName(encoding_)), static_cast<int>(encoding_));
    addItem(QStringLiteral("More\u2026"), otherChoice);
    selectData(this, static_cast<int>(encoding_));
}

void EncodingPicker::choose(int index) {
    const int value = itemData(index).toInt();
    if (value != otherChoice) {
        encoding_ = static_cast<TextEncoding>(value);
        Q_EMIT encodingChosen(encoding_);
        return;
    }
    const QPointer<EncodingPicker> self(this);
    const std::optional<TextEncoding> chosen = chooser_ ? chooser_(this, encoding_) : std::nullopt;
    if (!self) return;
    if (chosen) encoding_ = *chosen;
    rebuild();
    if (chosen) Q_EMIT encodingChosen(encoding_);
}

std::optional<TextEncoding> EncodingPicker::chooseExtraEncoding(QWidget* parent, TextEncoding current) {
    QDialog dialog(parent ? parent->window() : nullptr);
    dialog.setWindowTitle(QStringLiteral("Encoding"));
    auto* layout = new QVBoxLayout(&dialog);
    auto* search = new QLineEdit(&dialog);
    search->setPlaceholderText(QStringLiteral("Search"));
    search->setClearButtonEnabled(true);
    auto* list = new QListWidget(&dialog);
    for (TextEncoding e : extraTextEncodings()) {
        const QString name = QString::fromUtf8(displayName(e));
        const QString region = QString::fromUtf8(encodingRegion(e));
        auto* item = new QListWidgetItem(region.isEmpty() || region == QLatin1String("Other")
                                             ? name
                                             : name + QStringLiteral("  \u2014  ") + region,
                                         list);
        item->setData(Qt::UserRole, static_cast<int>(e));
        // Found by any of its names, as well as by what it is for.
        item->setData(Qt::UserRole + 1,
                      name + QLatin1Char(' ') + QString::fromUtf8(rawValue(e)) + QLatin1Char(' ') + region);
        if (e == current) list->setCurrentItem(item);
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    layout->addWidget(search);
    layout->addWidget(list);
    layout->addWidget(buttons);
    dialog.resize(360, 420);
    QObject::connect(search, &QLineEdit::textChanged, list, [list](const QString& text) {
        QListWidgetItem* firstShown = nullptr;
        for (int i = 0; i < list->count(); ++i) {
            QListWidgetItem* item = list->item(i);
            const bool shown = item->data(Qt::UserRole + 1).toString().contains(text, Qt::CaseInsensitive);
            item->setHidden(!shown);
            if (shown && !firstShown) firstShown = item;
        }
        if (!list->currentItem() || list->currentItem()->isHidden()) list->setCurrentItem(firstShown);
    });
    QObject::connect(list, &QListWidget::itemActivated, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    search->setFocus();
    if (dialog.exec() != QDialog::Accepted || !list->currentItem() || list->currentItem()->isHidden())
        return std::nullopt;
    return static_cast<TextEncoding>(list->currentItem()->data(Qt::UserRole).toInt());
}

QuotePicker::QuotePicker(QWidget* parent) : QComboBox(parent) {
    setAccessibleName(QStringLiteral("Quotes"));
    setQuote(Byte::doubleQuote);
    connect(this, &QComboBox::activated, this, [this](int) { Q_EMIT quoteChosen(currentData().toInt()); });
}

std::optional<uint8_t> QuotePicker::quote() const {
    const int value = currentData().toInt();
    if (value < 0) return std::nullopt;
    return static_cast<uint8_t>(value);
}

void QuotePicker::setQuote(std::optional<uint8_t> quote) {
    const QSignalBlocker block(this);
    clear();
    addItem(QStringLiteral("Double quote  \""), int(Byte::doubleQuote));
    addItem(QStringLiteral("Single quote  '"), int(Byte::singleQuote));
    // A file read with some other quote character keeps it visible as a choice.
    if (quote && *quote != Byte::doubleQuote && *quote != Byte::singleQuote)
        addItem(quoted(*quote), int(*quote));
    addItem(QStringLiteral("None"), -1);
    selectData(this, quote ? int(*quote) : -1);
}

DelimiterPicker::DelimiterPicker(const QString& title, QWidget* parent)
    : QWidget(parent), title_(title), combo_(new QComboBox(this)), other_(new QLineEdit(this)) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    layout->addWidget(other_);
    layout->addWidget(combo_);
    combo_->setAccessibleName(title);
    combo_->setMinimumWidth(controlWidth);
    other_->setFixedWidth(otherFieldWidth);
    other_->setToolTip(QStringLiteral("Type any single ASCII character and press Return"));
    other_->setAccessibleName(title);
    other_->setAlignment(Qt::AlignCenter);
    other_->hide();
    connect(combo_, &QComboBox::activated, this, &DelimiterPicker::choose);
    connect(other_, &QLineEdit::returnPressed, this, &DelimiterPicker::acceptOther);
    rebuild();
}

QString DelimiterPicker::label(uint8_t delimiter) {
    switch (delimiter) {
    case Byte::comma:
        return QStringLiteral("Comma  ,");
    case Byte::tab:
        return QStringLiteral("Tab");
    case Byte::semicolon:
        return QStringLiteral("Semicolon  ;");
    case Byte::pipe:
        return QStringLiteral("Pipe  |");
    case Byte::colon:
        return QStringLiteral("Colon  :");
    case Byte::caret:
        return QStringLiteral("Caret  ^");
    case Byte::tilde:
        return QStringLiteral("Tilde  ~");
    case Byte::space:
        return QStringLiteral("Space");
    default:
        return quoted(delimiter);
    }
}

std::optional<uint8_t> DelimiterPicker::customDelimiter(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    if (bytes.size() != 1) return std::nullopt;
    const auto byte = static_cast<uint8_t>(bytes[0]);
    if (byte >= 128 || (byte != Byte::tab && byte < 32)) return std::nullopt;
    return byte;
}

void DelimiterPicker::setDelimiter(uint8_t delimiter) {
    if (delimiter == delimiter_ && combo_->count() > 0) return;
    delimiter_ = delimiter;
    rebuild();
}

void DelimiterPicker::rebuild() {
    const QSignalBlocker block(combo_);
    combo_->clear();
    for (uint8_t d : CSVDialect::commonDelimiters)
        combo_->addItem(label(d), int(d));
    const bool common = std::find(CSVDialect::commonDelimiters.begin(), CSVDialect::commonDelimiters.end(),
                                  delimiter_) != CSVDialect::commonDelimiters.end();
    if (!common) combo_->addItem(label(delimiter_), int(delimiter_));
    combo_->addItem(QStringLiteral("Other"), otherChoice);
    selectData(combo_, choosingOther_ ? otherChoice : int(delimiter_));
}

void DelimiterPicker::choose(int index) {
    const int value = combo_->itemData(index).toInt();
    if (value == otherChoice) {
        choosingOther_ = true;
        other_->show();
        other_->setFocus(Qt::OtherFocusReason);
        return;
    }
    choosingOther_ = false;
    other_->clear();
    other_->hide();
    if (value != delimiter_) {
        delimiter_ = static_cast<uint8_t>(value);
        rebuild();
        Q_EMIT delimiterChosen(value);
    }
}

void DelimiterPicker::acceptOther() {
    const std::optional<uint8_t> byte = customDelimiter(other_->text());
    other_->clear();
    if (!byte) return;
    choosingOther_ = false;
    other_->hide();
    const bool changed = *byte != delimiter_;
    delimiter_ = *byte;
    rebuild();
    if (changed) Q_EMIT delimiterChosen(*byte);
}

// MARK: popover

FormatPopover::FormatPopover(EditorSession* session, QWidget* anchor)
    : PopoverFrame(anchor), session_(session) {
    buildForm();
    resetReadSettings();
    refresh();

    connect(session_, &EditorSession::formatPresentedChanged, this, [this](bool presented) {
        if (presented)
            present();
        else if (!confirming_ && !choosingEncoding_)
            hide();
    });
    connect(session_, &EditorSession::busyChanged, this, &FormatPopover::refresh);
    connect(this, &PopoverFrame::closed, this, [this] {
        // Hidden for the confirmation dialog is not closed.
        if (!confirming_ && !choosingEncoding_ && session_) session_->setFormatPresented(false);
    });
    connect(session_, &EditorSession::contentChanged, this, &FormatPopover::refresh);
    connect(session_, &EditorSession::reportChanged, this, [this] {
        resetReadSettings();
        refresh();
    });
    if (session_->isFormatPresented()) present();
}

void FormatPopover::buildForm() {
    setFixedWidth(formWidth);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->setSpacing(6);

    // How the file is read.
    layout->addWidget(sectionTitle(QStringLiteral("How the file is read"), this));
    auto* read = new FormGroup(this);
    readEncodingPicker_ = new EncodingPicker(read);
    read->addRow(QStringLiteral("Encoding"), readEncodingPicker_);
    readDelimiterPicker_ = new DelimiterPicker(QStringLiteral("Delimiter"), read);
    read->addRow(readDelimiterPicker_->title(), readDelimiterPicker_);
    readQuotePicker_ = new QuotePicker(read);
    read->addRow(QStringLiteral("Quotes"), readQuotePicker_);
    headerToggle_ = new QCheckBox(QStringLiteral("First row is header"), read);
    read->addWide(headerToggle_, Qt::AlignLeft);
    errorLabel_ = new QLabel(read);
    errorLabel_->setTextFormat(Qt::PlainText); // names an encoding
    errorLabel_->setWordWrap(true);
    errorLabel_->setFont(GridStyle::captionFont(font()));
    GridStyle::followColor(errorLabel_, QPalette::WindowText, GridStyle::destructive);
    errorLabel_->hide();
    read->addWide(errorLabel_);
    suggestion_ = new QWidget(read);
    auto* suggestionLayout = new QHBoxLayout(suggestion_);
    suggestionLayout->setContentsMargins(0, 0, 0, 0);
    suggestionLabel_ = new QLabel(suggestion_);
    suggestionLabel_->setTextFormat(Qt::PlainText);
    suggestionLabel_->setWordWrap(true);
    suggestionButton_ = new QPushButton(QStringLiteral("Reinterpret"), suggestion_);
    suggestionButton_->setAutoDefault(false);
    suggestionLayout->addWidget(suggestionLabel_, 1);
    suggestionLayout->addWidget(suggestionButton_);
    suggestion_->hide();
    read->addWide(suggestion_);
    connect(suggestionButton_, &QPushButton::clicked, this, [this] {
        // One click: the suggested encoding with the delimiter and quote as they are.
        if (const auto e = suggestedEncoding()) {
            const FileFormat f = readFormat();
            readEncoding_ = *e;
            readDelimiter_ = f.dialect.delimiter;
            readQuote_ = f.dialect.quote;
            requestReinterpret();
        }
    });
    reinterpretButton_ = new QPushButton(QStringLiteral("Reinterpret"), read);
    reinterpretButton_->setAutoDefault(false);
    read->addWide(reinterpretButton_, Qt::AlignRight);
    layout->addWidget(read);

    connect(readEncodingPicker_, &EncodingPicker::encodingChosen, this, [this](TextEncoding e) {
        readEncoding_ = e;
        refresh();
    });
    connect(readDelimiterPicker_, &DelimiterPicker::delimiterChosen, this, [this](int d) {
        readDelimiter_ = static_cast<uint8_t>(d);
        refresh();
    });
    connect(readQuotePicker_, &QuotePicker::quoteChosen, this, [this](int q) {
        readQuote_ = q < 0 ? std::nullopt : std::optional<uint8_t>(static_cast<uint8_t>(q));
        refresh();
    });
    connect(headerToggle_, &QCheckBox::clicked, this, [this] {
        session_->toggleHeader();
        refresh();
    });
    connect(reinterpretButton_, &QPushButton::clicked, this, &FormatPopover::requestReinterpret);

    layout->addSpacing(8);

    // How the file is saved.
    layout->addWidget(sectionTitle(QStringLiteral("How the file is saved"), this));
    auto* save = new FormGroup(this);
    auto* presets = new QWidget(save);
    auto* presetLayout = new QHBoxLayout(presets);
    presetLayout->setContentsMargins(0, 0, 0, 0);
    presetLayout->setSpacing(6);
    standardButton_ = new QPushButton(QStringLiteral("Standard"), presets);
    excelButton_ = new QPushButton(QStringLiteral("Excel"), presets);
    tsvButton_ = new QPushButton(QStringLiteral("TSV"), presets);
    for (QPushButton* b : {standardButton_, excelButton_, tsvButton_}) {
        b->setAutoDefault(false);
        presetLayout->addWidget(b);
    }
    save->addRow(QStringLiteral("Preset"), presets);
    connect(standardButton_, &QPushButton::clicked, this, [this] {
        changeSaveFormat([](FileFormat& f) { f = f.applyingOutput(FileFormat::standard()); });
    });
    connect(excelButton_, &QPushButton::clicked, this, [this] {
        changeSaveFormat(
            [](FileFormat& f) { f = f.applyingOutput(FileFormat::excel(localeDecimalSeparator())); });
    });
    connect(tsvButton_, &QPushButton::clicked, this,
            [this] { changeSaveFormat([](FileFormat& f) { f = f.applyingOutput(FileFormat::tsv()); }); });

    saveDelimiterPicker_ = new DelimiterPicker(QStringLiteral("Delimiter"), save);
    save->addRow(saveDelimiterPicker_->title(), saveDelimiterPicker_);
    connect(saveDelimiterPicker_, &DelimiterPicker::delimiterChosen, this, [this](int d) {
        changeSaveFormat([d](FileFormat& f) { f.dialect.delimiter = static_cast<uint8_t>(d); });
    });

    saveEncodingPicker_ = new EncodingPicker(save);
    for (EncodingPicker* picker : {readEncodingPicker_, saveEncodingPicker_})
        picker->setChooser([this](QWidget*, TextEncoding current) { return chooseExtraEncoding(current); });
    save->addRow(QStringLiteral("Encoding"), saveEncodingPicker_);
    connect(saveEncodingPicker_, &EncodingPicker::encodingChosen, this, [this](TextEncoding e) {
        changeSaveFormat([e](FileFormat& f) {
            f.encoding = e;
            if (!supportsBOM(e)) f.hasBOM = false;
        });
    });

    bomToggle_ = new QCheckBox(QStringLiteral("Byte order mark (BOM)"), save);
    save->addWide(bomToggle_, Qt::AlignLeft);
    connect(bomToggle_, &QCheckBox::clicked, this,
            [this](bool on) { changeSaveFormat([on](FileFormat& f) { f.hasBOM = on; }); });

    lineEndingPicker_ = new QComboBox(save);
    lineEndingPicker_->setAccessibleName(QStringLiteral("Line ending"));
    lineEndingPicker_->addItem(QStringLiteral("LF (macOS, Linux)"), int(FileFormat::LineEnding::lf));
    lineEndingPicker_->addItem(QStringLiteral("CRLF (Windows)"), int(FileFormat::LineEnding::crlf));
    lineEndingPicker_->addItem(QStringLiteral("CR (classic Mac)"), int(FileFormat::LineEnding::cr));
    save->addRow(QStringLiteral("Line ending"), lineEndingPicker_);
    connect(lineEndingPicker_, &QComboBox::activated, this, [this](int index) {
        const auto ending = static_cast<FileFormat::LineEnding>(lineEndingPicker_->itemData(index).toInt());
        changeSaveFormat([ending](FileFormat& f) { f.lineEnding = ending; });
    });

    quotingPicker_ = new QComboBox(save);
    quotingPicker_->setAccessibleName(QStringLiteral("Quotes"));
    quotingPicker_->addItem(QStringLiteral("Only when needed"), int(FileFormat::Quoting::minimal));
    quotingPicker_->addItem(QStringLiteral("Every field"), int(FileFormat::Quoting::all));
    save->addRow(QStringLiteral("Quotes"), quotingPicker_);
    connect(quotingPicker_, &QComboBox::activated, this, [this](int index) {
        const auto quoting = static_cast<FileFormat::Quoting>(quotingPicker_->itemData(index).toInt());
        changeSaveFormat([quoting](FileFormat& f) { f.quoting = quoting; });
    });
    layout->addWidget(save);
}

QPushButton* FormatPopover::presetButton(const QString& name) const {
    if (name == QLatin1String("Standard")) return standardButton_;
    if (name == QLatin1String("Excel")) return excelButton_;
    if (name == QLatin1String("TSV")) return tsvButton_;
    return nullptr;
}

FileFormat FormatPopover::readFormat() const {
    if (!session_ || !session_->hasDocument()) return FileFormat::standard();
    if (const auto report = session_->report()) return report->format;
    return session_->table().format();
}

QString FormatPopover::errorText(TextEncoding encoding) {
    return QStringLiteral("The file cannot be read as ") + QString::fromUtf8(displayName(encoding)) +
           QStringLiteral(".");
}

void FormatPopover::present() {
    resetReadSettings();
    errorMessage_.reset();
    refresh();
    popup();
}

void FormatPopover::resetReadSettings() {
    const FileFormat f = readFormat();
    readDelimiter_ = f.dialect.delimiter;
    readQuote_ = f.dialect.quote;
    readEscape_ = f.dialect.escape;
    readEncoding_ = f.encoding;
}

bool FormatPopover::readSettingsDiffer() const {
    const FileFormat f = readFormat();
    return readEncoding_ != f.encoding || readDelimiter_ != f.dialect.delimiter ||
           readQuote_ != f.dialect.quote;
}

void FormatPopover::refresh() {
    if (!session_ || !session_->hasDocument()) return;
    const FileFormat saved = session_->table().format();

    readEncodingPicker_->setEncoding(readEncoding_);
    readDelimiterPicker_->setDelimiter(readDelimiter_);
    readQuotePicker_->setQuote(readQuote_);
    headerToggle_->setChecked(saved.hasHeader);
    errorLabel_->setVisible(errorMessage_.has_value());
    errorLabel_->setText(errorMessage_.value_or(QString()));
    reinterpretButton_->setEnabled(readSettingsDiffer() && !session_->isBusy());
    const std::optional<TextEncoding> suggested = suggestedEncoding();
    suggestion_->setVisible(suggested.has_value());
    if (suggested)
        suggestionLabel_->setText(QStringLiteral("This looks like ") +
                                  QString::fromUtf8(displayName(*suggested)) + QStringLiteral("."));
    suggestionButton_->setEnabled(!session_->isBusy());

    saveDelimiterPicker_->setDelimiter(saved.dialect.delimiter);
    saveEncodingPicker_->setEncoding(saved.encoding);
    bomToggle_->setEnabled(supportsBOM(saved.encoding));
    bomToggle_->setChecked(saved.hasBOM && supportsBOM(saved.encoding));
    selectData(lineEndingPicker_, int(saved.lineEnding));
    selectData(quotingPicker_, int(saved.quoting));
    if (isVisible()) adjustSize();
}

std::optional<TextEncoding> FormatPopover::suggestedEncoding() const {
    const std::optional<ReadReport> report = session_ ? session_->report() : std::nullopt;
    if (!report) return std::nullopt;
    return report->suggestedEncoding;
}

void FormatPopover::changeSaveFormat(const std::function<void(FileFormat&)>& change) {
    if (!session_ || !session_->hasDocument()) return;
    FileFormat f = session_->table().format();
    change(f);
    session_->changeFormat(f);
    refresh();
}

void FormatPopover::requestReinterpret() {
    if (!session_ || !readSettingsDiffer()) return;
    const QUndoStack* undo = session_->undoManager();
    // Nothing to undo means no edit would be lost: no need to ask.
    if (undo && undo->canUndo() && !askToReinterpret()) return;
    reinterpret();
}

std::optional<TextEncoding> FormatPopover::chooseExtraEncoding(TextEncoding current) {
    // Steps aside for the dialog as for the confirmation, and comes back.
    choosingEncoding_ = true;
    hide();
    QPointer<FormatPopover> self(this);
    const std::optional<TextEncoding> chosen = EncodingPicker::chooseExtraEncoding(anchor(), current);
    if (!self) return std::nullopt;
    choosingEncoding_ = false;
    if (session_ && session_->isFormatPresented()) popup();
    return chosen;
}

bool FormatPopover::askToReinterpret() {
    if (confirm_) return confirm_();
    // A popup holds the mouse and keyboard, so it steps aside while the dialog is open
    // and comes back afterwards to show how the read went.
    confirming_ = true;
    hide();
    // On the heap: closing the window during the dialog deletes it with its parent.
    QPointer<FormatPopover> self(this);
    QPointer<QMessageBox> box = new QMessageBox(anchor() ? anchor()->window() : nullptr);
    box->setIcon(QMessageBox::Warning);
    box->setTextFormat(Qt::PlainText);
    box->setWindowTitle(QStringLiteral("Reinterpret the file?"));
    box->setText(QStringLiteral("Reinterpret the file?"));
    box->setInformativeText(QStringLiteral("The original file is read again with the new settings. Your "
                                           "edits are replaced, but you can undo this."));
    QPushButton* go = box->addButton(QStringLiteral("Reinterpret"), QMessageBox::AcceptRole);
    box->addButton(QMessageBox::Cancel);
    box->setDefaultButton(go);
    box->exec();
    const bool confirmed = box && box->clickedButton() == go;
    delete box;
    if (!self) return false;
    confirming_ = false;
    if (session_ && session_->isFormatPresented()) popup();
    return confirmed;
}

void FormatPopover::reinterpret() {
    if (!session_) return;
    ReadOptions options;
    options.encoding = readEncoding_;
    options.dialect = CSVDialect{readDelimiter_, readQuote_, readEscape_};
    const TextEncoding encoding = readEncoding_;
    QPointer<FormatPopover> self(this);
    session_->reinterpret(options, [self, encoding](std::optional<CSVError> error) {
        if (!self) return;
        if (error)
            self->errorMessage_ = errorText(encoding);
        else
            self->errorMessage_.reset();
        self->refresh();
    });
    refresh();
}

} // namespace zarvel
