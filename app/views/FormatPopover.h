// FormatPopover: the panel where the user sees and changes how the file is read and how
// it will be saved.
//
// The two halves behave differently. Save settings apply at once, each change one
// undoable "Change File Format". Read settings are only collected here; "Reinterpret"
// reads the original bytes again with them and replaces the table (undoably), after
// asking when there are edits that would be replaced.
//
// The panel is bound to the session's `isFormatPresented` both ways: it opens when the
// flag turns on and turns the flag off when it closes, however it was closed.
#pragma once

#include "app/views/PopoverFrame.h"
#include "core/CSVDialect.h"
#include "core/TextEncoding.h"

#include <QComboBox>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <optional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace zarvel {

class EditorSession;
struct FileFormat;

// "Encoding": the built-in encodings in declared order under their display names, the
// current one when it is an extra encoding, then "More…", which offers all the extras.
class EncodingPicker : public QComboBox {
    Q_OBJECT
public:
    // Asks for an extra encoding; nothing when the user cancels.
    using Chooser = std::function<std::optional<TextEncoding>(QWidget* parent, TextEncoding current)>;

    explicit EncodingPicker(QWidget* parent = nullptr);
    TextEncoding encoding() const;
    // Shows `encoding` as the choice; emits nothing.
    void setEncoding(TextEncoding encoding);
    // Replaces the list dialog behind "More…" (tests, and the popover, which steps aside).
    void setChooser(Chooser chooser) { chooser_ = std::move(chooser); }

    // A searchable list of the extra encodings by display name and region.
    static std::optional<TextEncoding> chooseExtraEncoding(QWidget* parent, TextEncoding current);

Q_SIGNALS:
    void encodingChosen(zarvel::TextEncoding encoding);

private:
    void rebuild();
    void choose(int index);

    TextEncoding encoding_ = TextEncoding::utf8;
    Chooser chooser_ = &EncodingPicker::chooseExtraEncoding;
};

// "Quotes": double quote, single quote or none.
class QuotePicker : public QComboBox {
    Q_OBJECT
public:
    explicit QuotePicker(QWidget* parent = nullptr);
    std::optional<uint8_t> quote() const;
    void setQuote(std::optional<uint8_t> quote);

    // -1 stands for "no quote character".
Q_SIGNALS:
    void quoteChosen(int quote);
};

// A delimiter: the common ones by name, the current one when it is none of them (in
// curly quotes), and "Other", which opens a one-character field.
class DelimiterPicker : public QWidget {
    Q_OBJECT
public:
    static constexpr int otherFieldWidth = 44;

    explicit DelimiterPicker(const QString& title, QWidget* parent = nullptr);
    const QString& title() const { return title_; }
    uint8_t delimiter() const { return delimiter_; }
    // Shows `delimiter` as the choice; emits nothing.
    void setDelimiter(uint8_t delimiter);

    // "Comma  ,", "Tab", … for the common delimiters; “#” for any other.
    static QString label(uint8_t delimiter);
    // The byte a custom field's text stands for: one ASCII character, tab or printable.
    static std::optional<uint8_t> customDelimiter(const QString& text);

    QComboBox* comboBox() const { return combo_; }
    QLineEdit* otherField() const { return other_; }

Q_SIGNALS:
    void delimiterChosen(int delimiter);

private:
    void rebuild();
    void choose(int index);
    void acceptOther();

    QString title_;
    uint8_t delimiter_ = Byte::comma;
    bool choosingOther_ = false;
    QComboBox* combo_ = nullptr;
    QLineEdit* other_ = nullptr;
};

class FormatPopover : public PopoverFrame {
    Q_OBJECT
public:
    static constexpr int formWidth = 400;

    FormatPopover(EditorSession* session, QWidget* anchor);

    // The read settings the panel starts from: the format the file was read with (the
    // read report's), or the table's for a document that was never read.
    FileFormat readFormat() const;
    // The error line's text for a failed read in `encoding`.
    static QString errorText(TextEncoding encoding);

    // Read settings, as chosen so far.
    uint8_t readDelimiter() const { return readDelimiter_; }
    std::optional<uint8_t> readQuote() const { return readQuote_; }
    TextEncoding readEncoding() const { return readEncoding_; }
    bool isConfirmingReinterpret() const { return confirming_; }
    const std::optional<QString>& errorMessage() const { return errorMessage_; }

    // Replaces the confirmation dialog (tests, embedding); it answers whether to go on.
    void setConfirmation(std::function<bool()> confirm) { confirm_ = std::move(confirm); }

    EncodingPicker* readEncodingPicker() const { return readEncodingPicker_; }
    DelimiterPicker* readDelimiterPicker() const { return readDelimiterPicker_; }
    QuotePicker* readQuotePicker() const { return readQuotePicker_; }
    QCheckBox* headerToggle() const { return headerToggle_; }
    QLabel* errorLabel() const { return errorLabel_; }
    // "This looks like …" with its own "Reinterpret": shown while the read report
    // suggests another encoding.
    QLabel* suggestionLabel() const { return suggestionLabel_; }
    QPushButton* suggestionButton() const { return suggestionButton_; }
    QPushButton* reinterpretButton() const { return reinterpretButton_; }
    QPushButton* presetButton(const QString& name) const;
    DelimiterPicker* saveDelimiterPicker() const { return saveDelimiterPicker_; }
    EncodingPicker* saveEncodingPicker() const { return saveEncodingPicker_; }
    QCheckBox* bomToggle() const { return bomToggle_; }
    QComboBox* lineEndingPicker() const { return lineEndingPicker_; }
    QComboBox* quotingPicker() const { return quotingPicker_; }

    void refresh();

private:
    void buildForm();
    void present();
    void resetReadSettings();
    bool readSettingsDiffer() const;
    void requestReinterpret();
    bool askToReinterpret();
    std::optional<TextEncoding> chooseExtraEncoding(TextEncoding current);
    void reinterpret();
    std::optional<TextEncoding> suggestedEncoding() const;
    void changeSaveFormat(const std::function<void(FileFormat&)>& change);

    QPointer<EditorSession> session_;
    uint8_t readDelimiter_ = Byte::comma;
    std::optional<uint8_t> readQuote_ = Byte::doubleQuote;
    TextEncoding readEncoding_ = TextEncoding::utf8;
    // Not offered in the panel, but a reinterpretation must not silently change it.
    CSVDialect::Escape readEscape_ = CSVDialect::Escape::doubled;
    bool confirming_ = false;
    bool choosingEncoding_ = false;
    std::optional<QString> errorMessage_;
    std::function<bool()> confirm_;

    EncodingPicker* readEncodingPicker_ = nullptr;
    DelimiterPicker* readDelimiterPicker_ = nullptr;
    QuotePicker* readQuotePicker_ = nullptr;
    QCheckBox* headerToggle_ = nullptr;
    QLabel* errorLabel_ = nullptr;
    QWidget* suggestion_ = nullptr;
    QLabel* suggestionLabel_ = nullptr;
    QPushButton* suggestionButton_ = nullptr;
    QPushButton* reinterpretButton_ = nullptr;
    QPushButton* standardButton_ = nullptr;
    QPushButton* excelButton_ = nullptr;
    QPushButton* tsvButton_ = nullptr;
    DelimiterPicker* saveDelimiterPicker_ = nullptr;
    EncodingPicker* saveEncodingPicker_ = nullptr;
    QCheckBox* bomToggle_ = nullptr;
    QComboBox* lineEndingPicker_ = nullptr;
    QComboBox* quotingPicker_ = nullptr;
};

} // namespace zarvel
