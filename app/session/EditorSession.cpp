#include "app/session/EditorSession.h"

#include "core/CSVWriter.h"
#include "core/UTF8.h"
#include "grid/ColumnWidthEstimator.h"
#include "grid/GridKeymap.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThreadPool>

#include <algorithm>
#include <unicode/brkiter.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

namespace zarvel {

FileFormat clipboardFormat() {
    return ClipboardText::format();
}

EditorSession::EditorSession(CSVDocument* document, QObject* parent) : QObject(parent), document_(document) {
    // Synchronous on purpose: the geometry and selection are current before any
    // operation that applied an edit goes on to set the selection or scroll.
    connect(document, &CSVDocument::revisionChanged, this, [this] {
        sync();
        Q_EMIT contentChanged();
    });
    connect(document, &CSVDocument::reportChanged, this, &EditorSession::reportChanged);
    connect(document, &CSVDocument::opened, this, &EditorSession::openingChanged);
    connect(document, &CSVDocument::openFailed, this, &EditorSession::openingChanged);
    connect(document, &CSVDocument::rereadStarted, this, &EditorSession::openingChanged);
    connect(document, &CSVDocument::reloaded, this, &EditorSession::openingChanged);
    connect(document, &CSVDocument::rereadFailed, this, &EditorSession::openingChanged);
    refreshShape();
}

EditorSession::~EditorSession() {
    searchStop_.request_stop();
    abandonCut();
}

// MARK: observed state

void EditorSession::setSelection(const GridSelection& selection) {
    if (selection == selection_) return;
    selection_ = selection;
    Q_EMIT selectionChanged();
}

void EditorSession::setLayout(const GridGeometry& layout) {
    if (layout == layout_) return;
    layout_ = layout;
    Q_EMIT layoutChanged();
}

void EditorSession::setEditing(const std::optional<CellDraft>& draft) {
    if (!draft) editingBlock_.reset();
    if (draft == editing_) return;
    editing_ = draft;
    Q_EMIT editingChanged();
}

void EditorSession::setFind(const FindState& find) {
    if (find == find_) return;
    find_ = find;
    Q_EMIT findChanged();
}

void EditorSession::setFormatPresented(bool presented) {
    if (presented == isFormatPresented_) return;
    isFormatPresented_ = presented;
    Q_EMIT formatPresentedChanged(presented);
}

void EditorSession::setColumnKinds(std::vector<ColumnKind> kinds) {
    if (kinds == columnKinds_) return;
    columnKinds_ = std::move(kinds);
    Q_EMIT columnKindsChanged();
}

void EditorSession::setRowFilter(std::optional<std::vector<int64_t>> filter) {
    if (filter == rowFilter_) return;
    rowFilter_ = std::move(filter);
    Q_EMIT rowFilterChanged();
}

void EditorSession::beginTask() {
    if (busyCount_++ == 0) Q_EMIT busyChanged(true);
}

void EditorSession::endTask() {
    if (--busyCount_ == 0) Q_EMIT busyChanged(false);
}

// MARK: coordinates

void EditorSession::refreshShape() {
    const CSVTable t = currentTable();
    shape_ = {t.firstDataRow(), t.dataRowCount(), t.columnCount()};
}

int64_t EditorSession::displayedRowCount() const {
    if (rowFilter_) return static_cast<int64_t>(rowFilter_->size());
    return shape_.dataRowCount;
}

GridSize EditorSession::displayedSize() const {
    return {displayedRowCount(), shape_.columnCount};
}

int64_t EditorSession::tableRow(int64_t displayRow) const {
    if (rowFilter_) return (*rowFilter_)[static_cast<size_t>(displayRow)];
    return displayRow + shape_.firstDataRow;
}

std::optional<int64_t> EditorSession::displayRow(int64_t tableRow) const {
    if (rowFilter_) {
        auto it = std::lower_bound(rowFilter_->begin(), rowFilter_->end(), tableRow);
        if (it == rowFilter_->end() || *it != tableRow) return std::nullopt;
        return static_cast<int64_t>(it - rowFilter_->begin());
    }
    const int64_t row = tableRow - shape_.firstDataRow;
    if (row < 0 || row >= shape_.dataRowCount) return std::nullopt;
    return row;
}

void EditorSession::updateLayoutRowCount() {
    GridGeometry layout = layout_;
    layout.setRowCount(displayedRowCount());
    setLayout(layout);
}

void EditorSession::clampSelection() {
    GridSelection s = selection_;
    s.clamp(displayedSize());
    setSelection(s);
}

void EditorSession::removeRowFilter() {
    if (!rowFilter_ && !find_.showsOnlyMatches) return;
    // Leaving the filtered view is "Only matching rows" switched off.
    setShowsOnlyMatches(false);
}

// MARK: refresh

void EditorSession::sync() {
    if (!document_) return;
    const CSVTable t = currentTable();
    refreshShape();
    if (rowFilter_ && t.rowCount() != knownRowCount_) {
        // The filter's rows no longer name the same rows; a draft in filtered
        // coordinates must not land elsewhere.
        if (editing_) setEditing(std::nullopt);
        setRowFilter(std::nullopt);
    }
    GridGeometry layout = layout_;
    if (t.columnCount() != knownColumnCount_) {
        layout.setColumnWidths(ColumnWidthEstimator::widths(t, ColumnWidthEstimator::defaultSampleRows));
        knownColumnCount_ = t.columnCount();
    }
    knownRowCount_ = t.rowCount();
    layout.setRowCount(rowFilter_ ? static_cast<int64_t>(rowFilter_->size()) : t.dataRowCount());
    setLayout(layout);
    setColumnKinds(ColumnKindDetector::kinds(t, 200));
    clampSelection();
}

// MARK: pointer

void EditorSession::selectCellAtPoint(double x, double y, bool extend) {
    commitPendingDraft();
    const auto row = layout_.rowAt(y);
    const auto column = layout_.columnAt(x);
    if (!row || !column) return;
    GridSelection s = selection_;
    s.select({*row, *column}, extend);
    setSelection(s);
}

void EditorSession::extendSelectionToPoint(double x, double y) {
    const GridSize size = displayedSize();
    if (size.isEmpty()) return;
    GridSelection s = selection_;
    s.active = {std::clamp<int64_t>(layout_.nearestRow(y), 0, size.rows - 1),
                std::clamp<int64_t>(layout_.nearestColumn(x), 0, size.columns - 1)};
    setSelection(s);
}

void EditorSession::editCellAtPoint(double x, double y) {
    const auto row = layout_.rowAt(y);
    const auto column = layout_.columnAt(x);
    if (!row || !column) return;
    setSelection({{*row, *column}, {*row, *column}});
    beginEditing();
}

void EditorSession::selectWholeRows(int64_t from, int64_t to, bool extend) {
    commitPendingDraft();
    int64_t low = std::min(from, to), high = std::max(from, to);
    if (extend) {
        low = std::min({low, selection_.anchor.row, selection_.active.row});
        high = std::max({high, selection_.anchor.row, selection_.active.row});
    }
    const GridSize size = displayedSize();
    if (size.isEmpty()) return;
    setSelection({{low, 0}, {high, size.columns - 1}});
}

void EditorSession::selectWholeColumns(int64_t from, int64_t to, bool extend) {
    commitPendingDraft();
    int64_t low = std::min(from, to), high = std::max(from, to);
    if (extend) {
        low = std::min({low, selection_.anchor.column, selection_.active.column});
        high = std::max({high, selection_.anchor.column, selection_.active.column});
    }
    const GridSize size = displayedSize();
    if (size.isEmpty()) return;
    setSelection({{0, low}, {size.rows - 1, high}});
}

void EditorSession::selectAll() {
    commitPendingDraft();
    GridSelection s = selection_;
    s.selectAll(displayedSize());
    setSelection(s);
}

// MARK: editing

void EditorSession::requestScroll() {
    scrollRequest_ = ScrollRequest{selection_.active, QUuid::createUuid()}, Q_EMIT scrollRequestChanged();
}

void EditorSession::applyEdit(const TableEdit& edit, const QString& actionName) {
    // Replace All's changes describe the table as it was when it began.
    if (document_ && !replacing_) document_->apply(edit, undoManager_, actionName);
}

void EditorSession::beginEditing(std::optional<std::string> replacement) {
    const GridSize size = displayedSize();
    if (size.isEmpty() || isOpening() || replacing_) return;
    GridSelection s = selection_;
    s.clamp(size);
    // The block stays known while its active cell is edited, for Ctrl+Return.
    std::optional<GridSelection> block;
    if (!s.isSingleCell()) block = s;
    s.anchor = s.active;
    setSelection(s);
    editingBlock_ = block;
    CellDraft draft;
    draft.target = CellDraft::Target::cell(s.active);
    if (replacement) {
        draft.text = std::move(*replacement);
        draft.isEntering = true;
    } else {
        draft.text = currentTable().value(tableRow(s.active.row), s.active.column);
    }
    setEditing(draft);
    requestScroll();
}

void EditorSession::beginRenamingColumn(int64_t column) {
    const CSVTable t = currentTable();
    if (isOpening() || replacing_ || t.firstDataRow() != 1 || column < 0 || column >= t.columnCount()) return;
    commitPendingDraft();
    setEditing(CellDraft{CellDraft::Target::header(column), currentTable().value(0, column), false});
}

void EditorSession::cancelEditing() {
    setEditing(std::nullopt);
}

void EditorSession::updateDraft(const std::string& text, bool isEntering) {
    if (!editing_) return;
    // Not a copy of the old text too: a draft may be megabytes long.
    setEditing(CellDraft{editing_->target, text, isEntering});
}

void EditorSession::commitEditing(CommitMove move) {
    if (!editing_) return;
    const CellDraft draft = *editing_;
    setEditing(std::nullopt);

    std::optional<CellPosition> target;
    {
        // No copy of the table may live on into the edit: one still sharing the row list
        // would make the edit copy the whole list (millions of rows) before writing it.
        const CSVTable t = currentTable();
        if (draft.target.isHeader()) {
            const int64_t column = std::get<CellDraft::Target::Header>(draft.target.value).column;
            if (t.rowCount() > 0 && column < t.columnCount()) target = CellPosition{0, column};
        } else {
            const GridCell cell = std::get<CellDraft::Target::Cell>(draft.target.value).cell;
            // A draft whose cell left the grid meanwhile is outside the table.
            if (cell.row >= 0 && cell.row < displayedRowCount() && cell.column >= 0 &&
                cell.column < t.columnCount())
                target = CellPosition{tableRow(cell.row), cell.column};
        }
        if (target && t.value(target->row, target->column) == draft.text) target.reset();
    }
    if (target)
        applyEdit(TableEdit::setCells({{target->row, target->column, draft.text}}),
                  QStringLiteral("Edit Cell"));

    if (draft.target.isHeader() || move == CommitMove::none) return;
    GridSelection s = selection_;
    if (move == CommitMove::down) {
        if (selection_.active.row == displayedRowCount() - 1 && !rowFilter_)
            applyEdit(TableEdit::insertRows(RowBlock::empty(1, shape_.firstDataRow + shape_.dataRowCount)),
                      QStringLiteral("Add Row"));
        s = selection_;
        s.move(GridDirection::down, false, false, displayedSize());
    } else {
        s.advance(move == CommitMove::previous, displayedSize());
    }
    setSelection(s);
    requestScroll();
}

GridGeometry::Rect EditorSession::editorFrame(const CellDraft::Target& target) const {
    if (target.isHeader()) {
        const int64_t column = std::get<CellDraft::Target::Header>(target.value).column;
        if (column < 0 || column >= layout_.columnCount()) return {};
        return {layout_.xOfColumn(column), 0, layout_.columnWidths()[static_cast<size_t>(column)],
                layout_.headerHeight()};
    }
    const GridCell cell = std::get<CellDraft::Target::Cell>(target.value).cell;
    if (cell.column < 0 || cell.column >= layout_.columnCount()) return {};
    return layout_.cellRect(cell.row, cell.column);
}

// MARK: keys

int64_t EditorSession::pageRowCount() const {
    return std::max<int64_t>(static_cast<int64_t>(visibleRect_.height / layout_.rowHeight()) - 2, 1);
}

namespace {

// Removes the last user-perceived character.
void removeLastCharacter(std::string& text) {
    if (text.empty()) return;
    UErrorCode status = U_ZERO_ERROR;
    const icu::UnicodeString u = icu::UnicodeString::fromUTF8(text);
    std::unique_ptr<icu::BreakIterator> it(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status)) {
        size_t cut = text.size() - 1;
        while (cut > 0 && (static_cast<uint8_t>(text[cut]) & 0xC0) == 0x80)
            --cut;
        text.resize(cut);
        return;
    }
    it->setText(u);
    const int32_t last = it->last();
    const int32_t previous = it->preceding(last);
    std::string out;
    u.tempSubString(0, previous == icu::BreakIterator::DONE ? 0 : previous).toUTF8String(out);
    text = std::move(out);
}

// Removes the last word and the white space after it, as Ctrl+Backspace does at the
// end of a text field.
void removeLastWord(std::string& text) {
    icu::UnicodeString u = icu::UnicodeString::fromUTF8(text);
    int32_t end = u.length();
    while (end > 0) {
        const int32_t previous = u.moveIndex32(end, -1);
        if (!u_isUWhiteSpace(u.char32At(previous))) break;
        end = previous;
    }
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> it(
        icu::BreakIterator::createWordInstance(icu::Locale::getRoot(), status));
    int32_t start = 0;
    if (U_SUCCESS(status) && end > 0) {
        it->setText(u);
        const int32_t boundary = it->preceding(end);
        start = boundary == icu::BreakIterator::DONE ? 0 : boundary;
    }
    text.clear();
    u.tempSubString(0, start).toUTF8String(text);
}

} // namespace

bool EditorSession::handleTypingOver(const GridKey& key) {
    CellDraft draft = *editing_;
    using K = GridKey::Key;
    switch (key.key) {
    case K::up:
    case K::down:
    case K::left:
    case K::right: {
        // Alt with an arrow inserts rows and columns in the grid; in text it means
        // nothing, and the draft stays as it is.
        if (key.option && !key.command) return true;
        commitEditing(CommitMove::none);
        const auto action = GridKeymap::action(key);
        if (!action) return false;
        const bool handled = performAction(*action);
        if (handled && !std::holds_alternative<GridAction::SelectAll>(action->value)) requestScroll();
        return handled;
    }
    case K::tab:
        commitEditing(key.shift ? CommitMove::previous : CommitMove::next);
        return true;
    case K::enter:
        if (key.command && !key.option) {
            commitEditingIntoSelection();
        } else if (key.option) {
            draft.text.push_back('\n');
            setEditing(draft);
        } else {
            commitEditing(CommitMove::down);
        }
        return true;
    case K::escape:
        cancelEditing();
        return true;
    case K::edit:
        // What was typed so far stays, now in the full editor with its caret and keys.
        draft.isEntering = false;
        setEditing(draft);
        return true;
    case K::deleteKey:
        // With Ctrl, a word, as in any text field; never the rows of the table.
        if (key.command)
            removeLastWord(draft.text);
        else
            removeLastCharacter(draft.text);
        setEditing(draft);
        return true;
    case K::home:
    case K::end:
    case K::pageUp:
    case K::pageDown:
        return false;
    case K::character:
        if (key.command || key.control) return false;
        draft.text += key.text;
        setEditing(draft);
        return true;
    }
    return false;
}

bool EditorSession::performAction(const GridAction& action) {
    const GridSize size = displayedSize();
    return std::visit(
        [&](const auto& a) -> bool {
            using T = std::decay_t<decltype(a)>;
            GridSelection s = selection_;
            if constexpr (std::is_same_v<T, GridAction::Move>) {
                s.move(a.direction, a.extend, a.toEdge, size);
                setSelection(s);
            } else if constexpr (std::is_same_v<T, GridAction::Page>) {
                const int64_t rows = pageRowCount();
                int64_t row = s.active.row + (a.direction == GridDirection::down ? rows : -rows);
                row = std::clamp<int64_t>(row, 0, std::max<int64_t>(size.rows - 1, 0));
                s.active = {row, s.active.column};
                if (!a.extend) s.anchor = s.active;
                setSelection(s);
            } else if constexpr (std::is_same_v<T, GridAction::Advance>) {
                s.advance(a.backwards, size);
                setSelection(s);
            } else if constexpr (std::is_same_v<T, GridAction::BeginEditing>) {
                beginEditing(a.replacingWith);
            } else if constexpr (std::is_same_v<T, GridAction::ClearContents>) {
                clearContents();
            } else if constexpr (std::is_same_v<T, GridAction::InsertRow>) {
                insertRow(a.above);
            } else if constexpr (std::is_same_v<T, GridAction::InsertColumn>) {
                insertColumn(a.left);
            } else if constexpr (std::is_same_v<T, GridAction::DeleteRows>) {
                deleteRows();
            } else if constexpr (std::is_same_v<T, GridAction::DeleteColumns>) {
                deleteColumns();
            } else if constexpr (std::is_same_v<T, GridAction::SelectAll>) {
                s.selectAll(size);
                setSelection(s);
            }
            return true;
        },
        action.value);
}

bool EditorSession::handleKey(const GridKey& key) {
    if (editing_ && editing_->isEntering) return handleTypingOver(key);
    const auto action = GridKeymap::action(key);
    if (!action) return false;
    performAction(*action);
    if (!std::holds_alternative<GridAction::SelectAll>(action->value)) requestScroll();
    return true;
}

// MARK: reading and format

void EditorSession::reinterpret(const ReadOptions& options, ReinterpretCompletion completion) {
    commitPendingDraft();
    if (!document_) return;
    SharedBytes bytes;
    if (document_->originalData()) {
        bytes = *document_->originalData();
    } else {
        try {
            const CSVTable t = currentTable();
            bytes = SharedBytes::fromString(CSVWriter::write(t, t.format()));
        } catch (const CSVError& e) {
            if (completion) completion(e);
            return;
        }
    }
    beginTask();
    const int64_t revision = document_->revision();
    using Outcome = std::variant<ReadResult, CSVError>;
    runInBackground<Outcome>(
        [bytes, options]() -> Outcome {
            try {
                return CSVReader::read(bytes, options);
            } catch (const CSVError& e) {
                return e;
            }
        },
        [this, completion, revision](Outcome outcome) {
            endTask();
            if (auto* error = std::get_if<CSVError>(&outcome)) {
                if (completion) completion(*error);
                return;
            }
            // What the user did while the file was read again wins: an edit made or a
            // cell being typed into meanwhile stays, and this read is dropped whole.
            if (document_ && document_->revision() == revision && !editing_ && !replacing_) {
                removeRowFilter();
                document_->reinterpret(std::move(std::get<ReadResult>(outcome)), undoManager_);
            }
            if (completion) completion(std::nullopt);
        });
}

void EditorSession::changeFormat(const FileFormat& format) {
    if (!document_ || currentTable().format() == format) return;
    applyEdit(TableEdit::setFormat(format), QStringLiteral("Change File Format"));
}

void EditorSession::setColumnWidth(int64_t column, double width) {
    if (column < 0 || column >= layout_.columnCount()) return;
    GridGeometry layout = layout_;
    layout.setWidth(column, width);
    setLayout(layout);
}

void EditorSession::fitColumnWidth(int64_t column) {
    const CSVTable t = currentTable();
    if (column < 0 || column >= t.columnCount()) return;
    const int64_t first = t.firstDataRow();
    setColumnWidth(
        column, ColumnWidthEstimator::fittingWidth(t, column, {first, std::min(first + 2000, t.rowCount())}));
}

void EditorSession::undo() {
    // A file being read again lands as a step of its own: the stack waits for it.
    if (isOpening()) return;
    commitPendingDraft();
    if (undoManager_ && undoManager_->canUndo() && !replacing_) undoManager_->undo();
}

void EditorSession::redo() {
    if (isOpening()) return;
    commitPendingDraft();
    if (undoManager_ && undoManager_->canRedo() && !replacing_) undoManager_->redo();
}

} // namespace zarvel
