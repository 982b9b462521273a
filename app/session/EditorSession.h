// EditorSession: the per-window state of one open document and every operation a user
// performs on it, from a key, a menu, a click or the clipboard.
//
// The session works in display coordinates: display row r is table row r + 1 when the
// table has a header row, r otherwise, and the filter's entry r while "Only matching
// rows" is on. Every change of the table is a TableEdit passed to the document with the
// window's undo stack and an action name, so each user operation is exactly one undo
// step (Return on the last row is two: "Add Row", then "Edit Cell").
//
// Observed properties notify only when their value really changes. The session belongs
// to the main thread; sorting, searching and reinterpreting run on copies elsewhere and
// their results are dropped when the table changed meanwhile or the session is gone.
#pragma once

#include "app/document/CSVDocument.h"
#include "app/session/CellDraft.h"
#include "app/session/FindState.h"
#include "core/ClipboardText.h"
#include "core/ColumnKindDetector.h"
#include "core/ReadReport.h"
#include "core/TableSorter.h"
#include "grid/GridAction.h"
#include "grid/GridGeometry.h"
#include "grid/GridKey.h"
#include "grid/GridSelection.h"
#include "grid/GridSize.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QThreadPool>
#include <QUndoStack>
#include <QUuid>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

namespace zarvel {

struct ScrollRequest {
    GridCell cell;
    QUuid id;
    bool operator==(const ScrollRequest&) const = default;
};

// How the selection moves after a cell edit is committed.
enum class CommitMove { none, down, next, previous };

// The fixed format of clipboard text: tab-separated, double quotes, LF after every row.
FileFormat clipboardFormat();

class EditorSession : public QObject {
    Q_OBJECT
public:
    explicit EditorSession(CSVDocument* document, QObject* parent = nullptr);
    ~EditorSession() override;

    CSVDocument* document() const { return document_; }
    QUndoStack* undoManager() const { return undoManager_; }
    void setUndoManager(QUndoStack* undoManager) { undoManager_ = undoManager; }
    const GridGeometry::Rect& visibleRect() const { return visibleRect_; }
    void setVisibleRect(const GridGeometry::Rect& rect) { visibleRect_ = rect; }

    // Observed state.
    const GridSelection& selection() const { return selection_; }
    void setSelection(const GridSelection& selection);
    const GridGeometry& layout() const { return layout_; }
    void setLayout(const GridGeometry& layout);
    const std::optional<CellDraft>& editing() const { return editing_; }
    void setEditing(const std::optional<CellDraft>& draft);
    const FindState& find() const { return find_; }
    void setFind(const FindState& find);
    bool isFormatPresented() const { return isFormatPresented_; }
    void setFormatPresented(bool presented);
    const std::vector<ColumnKind>& columnKinds() const { return columnKinds_; }
    const std::optional<std::vector<int64_t>>& rowFilter() const { return rowFilter_; }
    const std::optional<ScrollRequest>& scrollRequest() const { return scrollRequest_; }
    bool isBusy() const { return busyCount_ > 0; }
    int64_t knownColumnCount() const { return knownColumnCount_; }
    int64_t knownRowCount() const { return knownRowCount_; }

    // The file is still being read in the background: the table holds its first rows,
    // for looking only (no draft begins, no edit applies).
    bool isOpening() const { return document_ && document_->isOpening(); }
    OpenProgress openProgress() const { return document_ ? document_->openProgress() : OpenProgress{}; }
    void cancelOpening() {
        if (document_) document_->cancelOpening();
    }

    // What the views read. Views learn of changes from the session only: contentChanged()
    // comes after every change of the table, once the session has synced its layout,
    // selection and filter to it, so what they read here and there agrees.
    bool hasDocument() const { return document_ != nullptr; }
    CSVTable table() const { return document_ ? document_->table() : CSVTable(); }
    std::optional<ReadReport> report() const { return document_ ? document_->report() : std::nullopt; }
    int64_t revision() const { return document_ ? document_->revision() : 0; }

    // Coordinates.
    int64_t displayedRowCount() const;
    GridSize displayedSize() const;
    int64_t tableRow(int64_t displayRow) const;
    std::optional<int64_t> displayRow(int64_t tableRow) const;

    // Refreshes layout, column kinds and selection after the table changed.
    void sync();

    // Pointer.
    void selectCellAtPoint(double x, double y, bool extend);
    void extendSelectionToPoint(double x, double y);
    void editCellAtPoint(double x, double y);
    void selectWholeRows(int64_t from, int64_t to, bool extend);
    void selectWholeColumns(int64_t from, int64_t to, bool extend);
    void selectAll();

    // Editing.
    void beginEditing(std::optional<std::string> replacement = std::nullopt);
    void beginRenamingColumn(int64_t column);
    void commitEditing(CommitMove move);
    void cancelEditing();
    // The cell editor's text changed, or it took over from typing.
    void updateDraft(const std::string& text, bool isEntering);
    GridGeometry::Rect editorFrame(const CellDraft::Target& target) const;

    // Keys. Returns whether the key was handled.
    bool handleKey(const GridKey& key);
    int64_t pageRowCount() const;

    // Reading and format.
    // Runs with the read's error, or with none once the read landed. A read that lands
    // after the table changed, or while a cell is being typed into, is dropped (the
    // user's edit stays) and also reports no error.
    using ReinterpretCompletion = std::function<void(std::optional<CSVError>)>;
    void reinterpret(const ReadOptions& options, ReinterpretCompletion completion = {});
    void changeFormat(const FileFormat& format);
    void setColumnWidth(int64_t column, double width);
    void fitColumnWidth(int64_t column);

    // Undo and redo through the window's stack, committing a pending draft first so it
    // never lands in a cell the undo moved.
    void undo();
    void redo();

    // Structure.
    void insertRow(bool above);
    void insertColumn(bool left);
    void deleteRows();
    void deleteColumns();
    void clearContents();
    void moveColumn(bool right);
    // By the column's kind: numbers as numbers, any other column as text.
    void sort(int64_t column, bool ascending);
    void sort(int64_t column, bool ascending, SortKind kind);
    void toggleHeader();
    static QString toggleHeaderTitle(bool tableHasHeader);

    // Go to Row: `number` is a row number as the gutter shows it (the data row counted
    // from 1). Selects that row, or the nearest displayed one, and scrolls to it.
    struct RowJump {
        enum class Outcome { exact, first, last, nearest, noRows };
        Outcome outcome = Outcome::noRows;
        int64_t number = 0; // the number of the row selected
    };
    RowJump goToRow(int64_t number);

    // Fill and repairs; each returns the number of cells it changed (one undo step when
    // any changed, none otherwise).
    // Writes the selection's first row into its other rows, column by column.
    int64_t fillDown();
    // Commits the draft into every cell of the block that was selected when the edit
    // began; with a single cell selected, commits and moves down as Return does.
    int64_t commitEditingIntoSelection();
    // The block the edit began on, while a cell edit of a larger selection is open.
    const std::optional<GridSelection>& editingBlock() const { return editingBlock_; }
    // Adds empty cells to rows that have fewer fields than the table has columns.
    int64_t padShortRows();
    // Removes leading and trailing spaces and tabs in the selected cells.
    int64_t trimSpaces();

    // Clipboard. With `withColumnTitles` the selected columns' titles come first, as one
    // more line.
    std::string copyText(bool withColumnTitles = false) const;
    // The selected block over a snapshot of the table, to be written anywhere.
    ClipboardText::Block copyBlock(bool withColumnTitles = false) const;
    // Puts the selection on the system clipboard as UTF-8 text. A block of up to
    // syncCopyCells cells is there when this returns; a larger one is written on a
    // worker (isCopying() meanwhile, copyingChanged() at both ends), and any paste in
    // Zarvel waits for it. A newer copy, here, in another window or in another program,
    // supersedes it.
    static constexpr int64_t syncCopyCells = 250'000;
    void copyToClipboard(bool withColumnTitles = false);
    // Copies the selected cells, and clears them once their text is on the clipboard: a
    // cut that is cancelled, fails or is superseded, or whose window closes first,
    // changes nothing. When the table changed while a large cut was written, its text
    // still lands but the cells stay, and clipboardNotice() says so.
    void cutToClipboard();
    // Pastes the clipboard's text; while a copy of any window is still being written,
    // the paste runs when it lands, and not at all when it is cancelled or fails.
    void pasteFromClipboard();
    // Whether a copy of any window is still being written; `then` runs once it ends
    // (with whether it landed), or at once with true when none is. It is dropped when
    // `context` is destroyed first. For pastes anywhere in the program, which must not
    // read what the clipboard held before the copy.
    static bool isClipboardBeingWritten();
    static void whenClipboardWritten(QObject* context, std::function<void(bool landed)> then);
    // A copy started here is still being written; how far (0…1); stopping it leaves the
    // clipboard as it was.
    bool isCopying() const;
    double copyProgress() const;
    void cancelCopy();
    // The header row (when the table has one) and the displayed rows in their order: the
    // table's own rows, so an unedited one is written as it was read. The whole table
    // while no row filter is on.
    CSVTable displayedRowsTable() const;
    std::string cut();
    void paste(std::string_view text);

    // Find and replace.
    void presentFind(bool showReplace);
    void closeFind();
    void setQuery(const std::string& query);
    void setReplacement(const std::string& replacement);
    void setCaseSensitive(bool caseSensitive);
    void setRegex(bool isRegex);
    void setShowsReplace(bool showsReplace);
    void search();
    // Stops a running search or Replace All and drops its result.
    void cancelSearch();
    void findNext(bool forward);
    void replaceCurrent();
    // Works out the changes on a worker from a copy of the table and lands them as one
    // undo step. While it runs the table is for looking only (no draft begins, no edit,
    // undo or sort applies), so the changes it computed still describe the table when
    // they land; a new search, or a change of the query, case or pattern mode, cancels
    // it.
    void replaceAll();
    bool isReplacing() const { return replacing_.has_value(); }
    // How far a running Replace All is, from 0 to 1; none when none runs.
    std::optional<double> replaceProgress() const;
    void cancelReplacing() {
        if (replacing_) cancelSearch();
    }
    void setShowsOnlyMatches(bool on);

    // Selects the first cell of a table row and scrolls to it, as the warnings list's
    // "Show" does; commits a pending draft first, like every other move. Does nothing
    // when the row is not displayed.
    void revealTableRow(int64_t tableRow) {
        commitPendingDraft();
        const auto row = displayRow(tableRow);
        if (!row || displayedSize().isEmpty()) return;
        setSelection({{*row, 0}, {*row, 0}});
        requestScroll();
    }

Q_SIGNALS:
    void selectionChanged();
    void layoutChanged();
    void editingChanged();
    void findChanged();
    void formatPresentedChanged(bool presented);
    void columnKindsChanged();
    void rowFilterChanged();
    void scrollRequestChanged();
    void busyChanged(bool busy);
    // The table changed (an edit, undo, redo, a new read); the session is synced.
    void contentChanged();
    // The read report changed (a new read of the file).
    void reportChanged();
    // A background read of the file began again (a reload) or ended, whole or not:
    // isOpening() changed.
    void openingChanged();
    // The latest search landed, or was dropped because the table changed meanwhile (a
    // search superseded by a newer one reports nothing).
    void searchFinished();
    // Replace All began, or ended (landed, found nothing to change, or was cancelled).
    void replacingChanged();
    // A copy started here began or ended being written on a worker.
    void copyingChanged();
    // A copy or cut written on a worker did not go as asked: the text did not fit in
    // memory, or a cut's cells were kept because the table changed meanwhile.
    void clipboardNotice(const QString& message);

private:
    CSVTable currentTable() const { return document_->table(); }
    void applyEdit(const TableEdit& edit, const QString& actionName);
    void requestScroll();
    void commitPendingDraft() { commitEditing(CommitMove::none); }
    void setRowFilter(std::optional<std::vector<int64_t>> filter);
    void setColumnKinds(std::vector<ColumnKind> kinds);
    void removeRowFilter();
    // Applies the displayed row count and gutter to the layout.
    void updateLayoutRowCount();
    void clampSelection();
    bool performAction(const GridAction& action);
    bool handleTypingOver(const GridKey& key);
    void beginTask();
    void endTask();
    // Runs `work` on a worker thread and `done` with its result back on the main
    // thread, unless the session is gone by then.
    template <class Result>
    void runInBackground(std::function<Result()> work, std::function<void(Result)> done);
    bool matchIsCurrent(const CellPosition& match, const CSVTable& table) const;
    void rebuildFilterFromMatches(bool resetSelection);
    void endReplacing();
    bool selectionDisplayedRowValid() const {
        return selection_.active.row >= 0 && selection_.active.row < displayedRowCount();
    }

    QPointer<CSVDocument> document_;
    QPointer<QUndoStack> undoManager_;
    GridGeometry::Rect visibleRect_;
    GridSelection selection_;
    GridGeometry layout_;
    std::optional<CellDraft> editing_;
    std::optional<GridSelection> editingBlock_;
    FindState find_;
    bool isFormatPresented_ = false;
    std::vector<ColumnKind> columnKinds_;
    std::optional<std::vector<int64_t>> rowFilter_;
    std::optional<ScrollRequest> scrollRequest_;
    int busyCount_ = 0;
    int64_t knownColumnCount_ = -1;
    int64_t knownRowCount_ = -1;

    // The table's row and column counts as of the last change, so that mapping display
    // rows (once per row in bulk operations, per paint in views) needs no table copy. The
    // session syncs on every revision change, so this is never stale.
    struct TableShape {
        int64_t firstDataRow = 0;
        int64_t dataRowCount = 0;
        int64_t columnCount = 0;
    };
    void refreshShape();
    TableShape shape_;

    // The cells a large cut clears once its text landed: display rows and columns over
    // the table as it was at `revision`.
    struct CutCells {
        int64_t revision = 0;
        IndexRange rows;
        IndexRange columns;
        std::optional<std::vector<int64_t>> rowFilter;
    };
    void startCopy(bool withColumnTitles, bool cut);
    void clearCutCells(const CutCells& cells);
    // Stops a cut of this session still being written, quietly: the session is going.
    void abandonCut();
    // Clears the block's non-empty cells of `t` (taken by value and let go of before the
    // edit) in one undo step.
    void clearBlock(CSVTable t, IndexRange rows, IndexRange columns,
                    const std::optional<std::vector<int64_t>>& filter);

    bool pasteWaitsForCopy_ = false;
    friend struct ClipboardCopies;

    std::stop_source searchStop_;
    uint64_t searchGeneration_ = 0;

    // A Replace All on a worker: its search generation, and how many of its matches the
    // worker has looked at.
    struct Replacing {
        uint64_t generation = 0;
        int64_t total = 0;
        std::shared_ptr<std::atomic<int64_t>> done;
    };
    std::optional<Replacing> replacing_;
};

template <class Result>
inline void EditorSession::runInBackground(std::function<Result()> work, std::function<void(Result)> done) {
    // The result is posted to the application object, never to the session itself: the
    // guard is only read on the main thread, where the session may have been destroyed.
    QPointer<EditorSession> guard(this);
    QThreadPool::globalInstance()->start([guard, work = std::move(work), done = std::move(done)]() mutable {
        auto result = std::make_shared<Result>(work());
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [guard, done = std::move(done), result] {
                if (guard) done(std::move(*result));
            },
            Qt::QueuedConnection);
    });
}

} // namespace zarvel
