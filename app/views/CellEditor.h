// CellEditor: the in-place editor that floats over the grid while the session holds a
// cell draft, the text being typed into one cell or one column title.
//
// Two presentations. While the user types over a cell (an entering draft) the grid
// keeps keyboard focus and the session collects the keys; the editor only shows the
// draft with an accent caret after it. Otherwise (Return, a double click, "Rename
// Column…", or a click on the entering text) it is a full edit: a multi-line text field
// with focus, bound to the draft. Return commits and moves down, Ctrl+Return writes the
// text into every cell of the selection the edit began on, Alt+Return adds a line break, Tab and Shift+Tab
// commit and move along the row, Escape cancels, and losing focus any other way commits where it stands.
//
// The draft belongs to the session; this view shows it and feeds changes back.
#pragma once

#include "app/session/CellDraft.h"
#include "app/session/EditorSession.h"

#include <QPlainTextEdit>
#include <QWidget>

#include <optional>
#include <string>

namespace zarvel {

// The full edit's text field: a plain-text editor that keeps a cell's line breaks and
// turns the editing keys and the loss of focus into commit and cancel requests.
class CellTextField : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit CellTextField(QWidget* parent = nullptr);

Q_SIGNALS:
    void commitRequested(zarvel::CommitMove move);
    // Ctrl+Return: the text goes into every selected cell.
    void fillRequested();
    void cancelRequested();
    void focusEntered();
    // Focus left for a reason other than a popup of our own (a menu, the text's
    // context menu), which hands it back.
    void focusLeft(Qt::FocusReason reason);

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
};

class CellEditor : public QWidget {
    Q_OBJECT
public:
    explicit CellEditor(EditorSession* session, QWidget* parent = nullptr);

    static constexpr double minimumWidth = 160;
    static constexpr int maximumLines = 12;
    static constexpr double horizontalPadding = 5;
    static constexpr double verticalPadding = 3;
    static constexpr double borderWidth = 2;
    // Room around the editor for its drop shadow.
    static constexpr int shadowMargin = 4;

    // Shows a draft over `target`, the cell's (or header cell's) rectangle in the parent's
    // coordinates. The editor may grow right up to `maxWidth`.
    void present(const CellDraft& draft, const QRectF& target, double maxWidth);
    void dismiss();
    bool isPresented() const { return draft_.has_value(); }
    bool isFullEdit() const { return draft_ && !draft_->isEntering; }
    // The editor's own rectangle, without the shadow, in the parent's coordinates.
    QRectF frame() const;
    CellTextField* textField() const { return field_; }
    // Gives the text field keyboard focus with the insertion point at the end.
    void focusTextField();
    // The field's text as a cell value: line breaks written as the value wrote them.
    std::string fieldValue() const;

Q_SIGNALS:
    void textFieldFocused();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    QFont editorFont() const;
    QSizeF fittingSize(const QString& text, const QSizeF& target, double maxWidth) const;
    void fieldTextChanged();
    void commit(CommitMove move);
    // Puts a value's editor text into the field, in pieces when it is long (see the source).
    void setFieldText(const QString& text);

    EditorSession* session_;
    CellTextField* field_;
    std::optional<CellDraft> draft_;
    QRectF frame_;
    double topInset_ = verticalPadding;
    // The value when the edit began, and how its line breaks were written.
    std::string original_;
    QString lineBreak_ = QStringLiteral("\n");
    bool settingText_ = false;
    // The field text of `original_`, made once per edit.
    QString originalText_;
    // `original_` with its line breaks written as the edit writes them (long values only).
    std::string originalRewritten_;
    // The field holds a long value split into several blocks (see the source).
    bool chunked_ = false;
    // The draft is being updated from the field's own text.
    bool pushing_ = false;
};

} // namespace zarvel
