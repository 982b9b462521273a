#include "app/views/CellEditor.h"

#include "app/views/GridStyle.h"

#include <QFocusEvent>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextLayout>

#include <algorithm>
#include <cmath>

namespace zarvel {

namespace {

// The editor works with "\n" line breaks; a value may hold "\r\n" or "\r".
QString editorText(const std::string& value) {
    QString text = QString::fromStdString(value);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QChar('\r'), QChar('\n'));
    return text;
}

QString lineBreakOf(const std::string& value) {
    const size_t r = value.find('\r');
    if (r == std::string::npos) return QStringLiteral("\n");
    return r + 1 < value.size() && value[r + 1] == '\n' ? QStringLiteral("\r\n") : QStringLiteral("\r");
}

// Beyond this many characters the editor takes its largest size without measuring.
constexpr qsizetype measuredLength = 20000;

// A text block is laid out whole, and again at every keystroke in it: a line of
// megabytes would take minutes. So a long value is shown with each of its lines cut
// into pieces of about this many characters, one block each; the blocks after such a
// cut carry this user state and join their predecessor without a line break when the
// value is read back. Undo inside the field is off then: it could bring a cut back as a
// plain block, which would read as a line break.
constexpr qsizetype chunkedFrom = 32 * 1024;
constexpr qsizetype chunkLength = 2000;
constexpr int continuationState = 1;

bool isContinuation(const QTextBlock& block) {
    return block.isValid() && block.userState() == continuationState;
}

} // namespace

// MARK: text field

CellTextField::CellTextField(QWidget* parent) : QPlainTextEdit(parent) {
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setTabChangesFocus(false);
    document()->setDocumentMargin(0);
}

bool CellTextField::event(QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        // Tab must reach keyPressEvent before the widget's focus chain takes it.
        if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) {
            keyPressEvent(key);
            return true;
        }
    } else if (event->type() == QEvent::ShortcutOverride) {
        auto* key = static_cast<QKeyEvent*>(event);
        switch (key->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Escape:
        case Qt::Key_Tab:
        case Qt::Key_Backtab:
            event->accept();
            return true;
        default:
            break;
        }
    }
    return QPlainTextEdit::event(event);
}

void CellTextField::keyPressEvent(QKeyEvent* event) {
    const bool shift = event->modifiers().testFlag(Qt::ShiftModifier);
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (event->modifiers().testFlag(Qt::AltModifier))
            insertPlainText(QStringLiteral("\n"));
        else if (event->modifiers().testFlag(Qt::ControlModifier))
            Q_EMIT fillRequested();
        else
            Q_EMIT commitRequested(CommitMove::down);
        event->accept();
        return;
    case Qt::Key_Escape:
        Q_EMIT cancelRequested();
        event->accept();
        return;
    case Qt::Key_Tab:
        Q_EMIT commitRequested(shift ? CommitMove::previous : CommitMove::next);
        event->accept();
        return;
    case Qt::Key_Backtab:
        Q_EMIT commitRequested(CommitMove::previous);
        event->accept();
        return;
    case Qt::Key_Backspace:
    case Qt::Key_Delete: {
        // Across a cut between the pieces of a long value the keys delete the character
        // beyond it, as the cut is not there.
        QTextCursor c = textCursor();
        const bool back = event->key() == Qt::Key_Backspace;
        if (event->modifiers() == Qt::NoModifier && !c.hasSelection() &&
            (back ? c.atBlockStart() && isContinuation(c.block())
                  : c.atBlockEnd() && isContinuation(c.block().next()))) {
            c.movePosition(back ? QTextCursor::PreviousCharacter : QTextCursor::NextCharacter);
            if (back)
                c.deletePreviousChar();
            else
                c.deleteChar();
            setTextCursor(c);
            event->accept();
            return;
        }
        QPlainTextEdit::keyPressEvent(event);
        return;
    }
    default:
        QPlainTextEdit::keyPressEvent(event);
    }
}

void CellTextField::focusInEvent(QFocusEvent* event) {
    QPlainTextEdit::focusInEvent(event);
    Q_EMIT focusEntered();
}

void CellTextField::focusOutEvent(QFocusEvent* event) {
    QPlainTextEdit::focusOutEvent(event);
    if (event->reason() != Qt::PopupFocusReason) Q_EMIT focusLeft(event->reason());
}

// MARK: editor

CellEditor::CellEditor(EditorSession* session, QWidget* parent)
    : QWidget(parent), session_(session), field_(new CellTextField(this)) {
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::IBeamCursor);
    field_->hide();
    hide();

    connect(field_, &QPlainTextEdit::textChanged, this, [this] { fieldTextChanged(); });
    connect(field_, &CellTextField::commitRequested, this, [this](CommitMove move) { commit(move); });
    connect(field_, &CellTextField::fillRequested, this, [this] {
        if (isFullEdit()) session_->commitEditingIntoSelection();
    });
    connect(field_, &CellTextField::cancelRequested, this, [this] {
        if (isFullEdit()) session_->cancelEditing();
    });
    connect(field_, &CellTextField::focusEntered, this, [this] { Q_EMIT textFieldFocused(); });
    connect(field_, &CellTextField::focusLeft, this, [this](Qt::FocusReason reason) {
        if (!isFullEdit()) return;
        if (reason == Qt::TabFocusReason)
            commit(CommitMove::next);
        else if (reason == Qt::BacktabFocusReason)
            commit(CommitMove::previous);
        else
            commit(CommitMove::none);
    });
}

QFont CellEditor::editorFont() const {
    return draft_ && draft_->target.isHeader() ? GridStyle::headerFont(font()) : font();
}

QRectF CellEditor::frame() const {
    return frame_;
}

std::string CellEditor::fieldValue() const {
    QString text;
    if (chunked_) {
        // Straight to UTF-8, piece by piece: a long value is not built twice.
        std::string value;
        value.reserve(original_.size() + 64);
        const std::string lineBreak = lineBreak_.toStdString();
        for (QTextBlock b = field_->document()->begin(); b.isValid(); b = b.next()) {
            if (b != field_->document()->begin() && !isContinuation(b)) value += lineBreak;
            value += b.text().toStdString();
        }
        // Unchanged, the value keeps the line breaks it had, mixed ones included.
        return value.size() == originalRewritten_.size() && value == originalRewritten_ ? original_ : value;
    } else {
        text = field_->document()->toRawText();
        text.replace(QChar::ParagraphSeparator, QChar('\n'));
    }
    if (text == originalText_) return original_;
    if (lineBreak_ != QStringLiteral("\n")) text.replace(QChar('\n'), lineBreak_);
    return text.toStdString();
}

QSizeF CellEditor::fittingSize(const QString& text, const QSizeF& target, double maxWidth) const {
    const QFont font = editorFont();
    const QFontMetricsF metrics(font);
    const double minWidth = std::max(target.width(), minimumWidth);
    const double widest = std::max(minWidth, maxWidth);
    const double lineHeight = metrics.height();
    if (text.size() > measuredLength)
        return {widest,
                std::max(target.height(), maximumLines * lineHeight + topInset_ + verticalPadding + 1)};

    const QStringList paragraphs = text.split(QChar('\n'));
    double natural = 0;
    for (const QString& p : paragraphs)
        natural = std::max(natural, metrics.horizontalAdvance(p));
    // A little room for the insertion point after the last character.
    const double width = std::clamp(std::ceil(natural) + 2 * horizontalPadding + 3, minWidth, widest);

    const double available = width - 2 * horizontalPadding;
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    int lines = 0;
    for (const QString& p : paragraphs) {
        QTextLayout layout(p, font);
        layout.setTextOption(option);
        layout.beginLayout();
        int count = 0;
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(available);
            ++count;
        }
        layout.endLayout();
        lines += std::max(count, 1);
    }
    lines = std::clamp(lines, 1, maximumLines);
    return {width,
            std::max(target.height(), std::ceil(lines * lineHeight + topInset_ + verticalPadding + 1))};
}

void CellEditor::setFieldText(const QString& text) {
    settingText_ = true;
    chunked_ = text.size() >= chunkedFrom;
    field_->document()->setUndoRedoEnabled(!chunked_);
    if (!chunked_) {
        field_->setPlainText(text);
        settingText_ = false;
        return;
    }
    // Cut each line into pieces, after a space near the end of a piece where there is
    // one, never between the halves of a surrogate pair.
    QString shown;
    shown.reserve(text.size() + text.size() / chunkLength + 1);
    std::vector<int> continuations; // block numbers
    int block = 0;
    qsizetype lineStart = 0;
    while (true) {
        qsizetype lineEnd = text.indexOf(QChar('\n'), lineStart);
        if (lineEnd < 0) lineEnd = text.size();
        qsizetype p = lineStart;
        while (lineEnd - p > chunkLength) {
            qsizetype end = p + chunkLength;
            qsizetype space = end;
            while (space > p + chunkLength * 3 / 4 && text[space - 1] != QChar(' '))
                --space;
            if (space > p + chunkLength * 3 / 4)
                end = space;
            else if (text[end - 1].isHighSurrogate())
                --end;
            shown += QStringView(text).mid(p, end - p);
            shown += QChar('\n');
            continuations.push_back(++block);
            p = end;
        }
        shown += QStringView(text).mid(p, lineEnd - p);
        if (lineEnd == text.size()) break;
        shown += QChar('\n');
        ++block;
        lineStart = lineEnd + 1;
    }
    field_->setPlainText(shown);
    QTextBlock b = field_->document()->begin();
    int number = 0;
    for (int c : continuations) {
        while (number < c && b.isValid()) {
            b = b.next();
            ++number;
        }
        if (b.isValid()) b.setUserState(continuationState);
    }
    settingText_ = false;
}

void CellEditor::present(const CellDraft& draft, const QRectF& target, double maxWidth) {
    const bool fresh = !draft_ || draft_->target != draft.target;
    const bool wasFullEdit = isFullEdit() && !fresh;
    // The field shows the previous draft's text already: it wrote it, or was given it.
    const bool sameText = wasFullEdit && (pushing_ || draft_->text == draft.text);
    if (fresh) {
        original_ = draft.text;
        lineBreak_ = lineBreakOf(draft.text);
        originalText_ = editorText(original_);
        originalRewritten_.clear();
        if (original_.size() >= static_cast<size_t>(chunkedFrom)) {
            QString rewritten = originalText_;
            if (lineBreak_ != QStringLiteral("\n")) rewritten.replace(QChar('\n'), lineBreak_);
            originalRewritten_ = rewritten.toStdString();
        }
    }
    draft_ = draft;

    // One line of text sits where the cell or title showed it: centred in the target.
    topInset_ =
        std::max(verticalPadding, std::floor((target.height() - QFontMetricsF(editorFont()).height()) / 2));
    // A long text is converted only when the field must show it anew: the draft follows
    // the field at every keystroke, and passes over megabytes each time would be felt.
    const bool setsField = !draft.isEntering && !sameText && (!wasFullEdit || fieldValue() != draft.text);
    std::optional<QString> text;
    if (fresh && !draft.isEntering)
        text = originalText_;
    else if (draft.isEntering || setsField || draft.text.size() <= 4 * static_cast<size_t>(measuredLength))
        text = editorText(draft.text);
    // Without the text at hand it is a long one, which takes the largest size anyway.
    const QSizeF size =
        text ? fittingSize(draft.isEntering ? *text + QChar('|') : *text, target.size(), maxWidth)
             : fittingSize(QString(measuredLength + 1, QChar(' ')), target.size(), maxWidth);
    frame_ = QRectF(target.topLeft(), size);
    const int m = shadowMargin;
    setGeometry(static_cast<int>(std::lround(frame_.x())) - m, static_cast<int>(std::lround(frame_.y())) - m,
                static_cast<int>(std::lround(size.width())) + 2 * m,
                static_cast<int>(std::lround(size.height())) + 2 * m);

    if (draft.isEntering) {
        field_->hide();
    } else {
        field_->setFont(editorFont());
        field_->setGeometry(QRectF(m + horizontalPadding, m + topInset_, size.width() - 2 * horizontalPadding,
                                   size.height() - topInset_ - verticalPadding)
                                .toRect());
        if (setsField) {
            setFieldText(*text);
            field_->moveCursor(QTextCursor::End);
        }
        field_->show();
    }
    show();
    update();
}

void CellEditor::dismiss() {
    draft_.reset();
    hide();
}

void CellEditor::focusTextField() {
    if (!isFullEdit()) return;
    field_->setFocus(Qt::OtherFocusReason);
    field_->moveCursor(QTextCursor::End);
}

void CellEditor::fieldTextChanged() {
    if (settingText_ || !isFullEdit()) return;
    pushing_ = true;
    session_->updateDraft(fieldValue(), false);
    pushing_ = false;
}

void CellEditor::commit(CommitMove move) {
    if (isFullEdit()) session_->commitEditing(move);
}

void CellEditor::paintEvent(QPaintEvent*) {
    if (!draft_) return;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const int m = shadowMargin;
    const QRectF frame(m, m, width() - 2 * m, height() - 2 * m);

    // A soft shadow: layers that pile up to about 15 % black next to the frame.
    for (int i = m; i >= 1; --i) {
        QPainterPath layer;
        layer.addRoundedRect(frame.adjusted(-i, -i + 1, i, i + 1), i, i);
        p.fillPath(layer, QColor(0, 0, 0, 10));
    }
    p.fillRect(frame, palette().color(QPalette::Base));
    p.setRenderHint(QPainter::Antialiasing, false);
    const QColor accent = GridStyle::accent(palette());
    const double b = borderWidth;
    p.fillRect(QRectF(frame.left(), frame.top(), frame.width(), b), accent);
    p.fillRect(QRectF(frame.left(), frame.bottom() - b, frame.width(), b), accent);
    p.fillRect(QRectF(frame.left(), frame.top() + b, b, frame.height() - 2 * b), accent);
    p.fillRect(QRectF(frame.right() - b, frame.top() + b, b, frame.height() - 2 * b), accent);

    if (!draft_->isEntering) return;
    // Typing over: the draft and an accent caret after it, the last lines when long.
    QString shown = editorText(draft_->text);
    shown.replace(QChar('\n'), QChar::LineSeparator);
    shown += QChar('|');
    QTextLayout layout(shown, editorFont());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    QTextCharFormat caretFormat;
    caretFormat.setForeground(accent);
    layout.setFormats({QTextLayout::FormatRange{static_cast<int>(shown.size() - 1), 1, caretFormat}});
    const QRectF textRect =
        frame.adjusted(horizontalPadding, topInset_, -horizontalPadding, -verticalPadding);
    layout.beginLayout();
    double y = 0;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(textRect.width());
        line.setPosition(QPointF(0, y));
        y += line.height();
    }
    layout.endLayout();
    p.setRenderHint(QPainter::Antialiasing);
    p.setClipRect(textRect);
    p.setPen(GridStyle::primary(palette()));
    layout.draw(&p, textRect.topLeft() - QPointF(0, std::max(0.0, y - textRect.height())));
}

void CellEditor::mousePressEvent(QMouseEvent* event) {
    if (draft_ && draft_->isEntering) {
        // A click on the typed text takes it over into a full edit.
        session_->updateDraft(draft_->text, false);
        event->accept();
        return;
    }
    QWidget::mousePressEvent(event);
}

} // namespace zarvel
