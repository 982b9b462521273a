// EditorSession: copy, cut and paste of blocks as tab-separated text.
#include "app/session/EditorSession.h"

#include "core/CSVReader.h"
#include "core/CSVWriter.h"
#include "core/TableEdit.h"
#include "core/UTF8.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

#include <algorithm>
#include <new>

namespace zarvel {

ClipboardText::Block EditorSession::copyBlock(bool withColumnTitles) const {
    ClipboardText::Block block;
    if (!document_) return block;
    block.table = currentTable();
    block.rows = selection_.rows().clamped(0, displayedSize().rows);
    block.columns = selection_.columns();
    block.rowFilter = rowFilter_;
    block.withColumnTitles = withColumnTitles;
    return block;
}

std::string EditorSession::copyText(bool withColumnTitles) const {
    return ClipboardText::text(copyBlock(withColumnTitles));
}

// MARK: the system clipboard

namespace {

const QString utf8Text = QStringLiteral("text/plain;charset=utf-8");

// The bytes go on the clipboard once, shared by both formats; a UTF-16 copy is made
// only if a reader asks for one.
void putOnClipboard(const QByteArray& utf8) {
    auto* mime = new QMimeData;
    mime->setData(utf8Text, utf8);
    mime->setData(QStringLiteral("text/plain"), utf8);
    QGuiApplication::clipboard()->setMimeData(mime);
}

QByteArray clipboardBytes() {
    const QMimeData* mime = QGuiApplication::clipboard()->mimeData();
    if (!mime) return {};
    if (mime->hasFormat(utf8Text)) return mime->data(utf8Text);
    return mime->hasText() ? mime->text().toUtf8() : QByteArray();
}

} // namespace

// The one copy being written on a worker, whichever window started it: the clipboard
// is the application's, and so is the rule that a paste waits for it.
struct ClipboardCopies {
    struct Pending {
        uint64_t generation = 0;
        QPointer<EditorSession> owner;
        std::stop_source stop;
        std::shared_ptr<ClipboardText::LineCounter> lines;
        int64_t lineCount = 0;
        // A cut's cells, cleared only once its text is on the clipboard.
        std::shared_ptr<const EditorSession::CutCells> cut;
    };
    struct Waiting {
        QPointer<QObject> context;
        std::function<void(bool)> then;
    };
    static std::optional<Pending>& pending() {
        static std::optional<Pending> p;
        return p;
    }
    static uint64_t& generation() {
        static uint64_t g = 0;
        return g;
    }
    static std::vector<Waiting>& waiting() {
        static std::vector<Waiting> w;
        return w;
    }

    // Ends the pending copy, if any, telling the waiting pastes whether it landed. A
    // landed cut clears its cells first, so a paste that waited lands after the clear.
    static void finish(bool landed) {
        if (!pending()) return;
        pending()->stop.request_stop();
        const QPointer<EditorSession> owner = pending()->owner;
        const std::shared_ptr<const EditorSession::CutCells> cut = std::move(pending()->cut);
        pending().reset();
        std::vector<Waiting> waiters;
        waiters.swap(waiting());
        if (owner) {
            if (landed && cut) owner->clearCutCells(*cut);
            Q_EMIT owner->copyingChanged();
        }
        for (Waiting& w : waiters)
            if (w.context) w.then(landed);
    }

    // Another program's copy, or a text field's, supersedes the one being written.
    static void watchClipboard() {
        static bool watching = false;
        if (watching) return;
        watching = true;
        QObject::connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, qApp, [] { finish(false); });
    }
};

void EditorSession::copyToClipboard(bool withColumnTitles) {
    startCopy(withColumnTitles, false);
}

void EditorSession::cutToClipboard() {
    startCopy(false, true);
}

void EditorSession::startCopy(bool withColumnTitles, bool cut) {
    commitPendingDraft();
    if (!document_) return;
    ClipboardCopies::finish(false);
    ClipboardText::Block block = copyBlock(withColumnTitles);
    if (block.cellCount() <= syncCopyCells) {
        const size_t size = ClipboardText::measure(block).value_or(0);
        QByteArray text(static_cast<qsizetype>(size), Qt::Uninitialized);
        if (!ClipboardText::write(block, text.data(), size)) text.clear();
        putOnClipboard(text);
        if (cut) clearBlock(std::move(block.table), block.rows, block.columns, block.rowFilter);
        return;
    }
    ClipboardCopies::watchClipboard();
    ClipboardCopies::Pending p;
    p.generation = ++ClipboardCopies::generation();
    p.owner = this;
    p.lines = std::make_shared<ClipboardText::LineCounter>(0);
    p.lineCount = block.lineCount();
    if (cut)
        p.cut = std::make_shared<const CutCells>(
            CutCells{document_->revision(), block.rows, block.columns, block.rowFilter});
    const uint64_t generation = p.generation;
    const std::stop_token stop = p.stop.get_token();
    const auto lines = p.lines;
    ClipboardCopies::pending() = std::move(p);
    Q_EMIT copyingChanged();

    QThreadPool::globalInstance()->start([block = std::move(block), stop, lines, generation]() mutable {
        std::optional<QByteArray> bytes;
        bool failed = false;
        try {
            if (const auto size = ClipboardText::measure(block, stop, lines.get())) {
                QByteArray text(static_cast<qsizetype>(*size), Qt::Uninitialized);
                if (ClipboardText::write(block, text.data(), *size, stop, lines.get()))
                    bytes = std::move(text);
            }
        } catch (const std::bad_alloc&) {
            failed = true;
        }
        block = {}; // the snapshot goes here, not on the main thread
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [bytes = std::move(bytes), generation, failed] {
                auto& pending = ClipboardCopies::pending();
                if (!pending || pending->generation != generation) return; // superseded or cancelled
                const QPointer<EditorSession> owner = pending->owner;
                if (!bytes) {
                    ClipboardCopies::finish(false);
                    if (failed && owner)
                        Q_EMIT owner->clipboardNotice(
                            QStringLiteral("The copy is too large to fit in memory."));
                    return;
                }
                // Ended first, so the clipboard's change is not taken for another copy.
                pending->stop.request_stop();
                auto waiting = std::move(pending);
                pending.reset();
                putOnClipboard(*bytes);
                pending = std::move(waiting);
                ClipboardCopies::finish(true);
            },
            Qt::QueuedConnection);
    });
}

void EditorSession::clearCutCells(const CutCells& cells) {
    if (!document_) return;
    // The text on the clipboard is the table's as of the cut: cells changed since then
    // may not be what was copied, so nothing is cleared.
    if (document_->revision() != cells.revision || replacing_ || isOpening()) {
        Q_EMIT clipboardNotice(QStringLiteral(
            "The cut cells were copied but not cleared: the table changed while they were being copied."));
        return;
    }
    clearBlock(currentTable(), cells.rows, cells.columns, cells.rowFilter);
}

void EditorSession::abandonCut() {
    auto& pending = ClipboardCopies::pending();
    if (!pending || pending->owner != this || !pending->cut) return;
    pending->owner = nullptr;
    ClipboardCopies::finish(false);
}

bool EditorSession::isClipboardBeingWritten() {
    return ClipboardCopies::pending().has_value();
}

void EditorSession::whenClipboardWritten(QObject* context, std::function<void(bool landed)> then) {
    if (!ClipboardCopies::pending()) {
        then(true);
        return;
    }
    ClipboardCopies::waiting().push_back({context, std::move(then)});
}

CSVTable EditorSession::displayedRowsTable() const {
    CSVTable t = currentTable();
    if (!rowFilter_) return t;
    // Every data row the filter leaves out, as ranges between the kept ones.
    IndexSet hidden;
    int64_t next = t.firstDataRow();
    for (const int64_t row : *rowFilter_) {
        if (row < next || row >= t.rowCount()) continue;
        if (row > next) hidden.insert(IndexRange{next, row});
        next = row + 1;
    }
    if (next < t.rowCount()) hidden.insert(IndexRange{next, t.rowCount()});
    if (!hidden.empty()) t.apply(TableEdit::removeRows(std::move(hidden)));
    return t;
}

bool EditorSession::isCopying() const {
    const auto& pending = ClipboardCopies::pending();
    return pending && pending->owner == this;
}

double EditorSession::copyProgress() const {
    const auto& pending = ClipboardCopies::pending();
    if (!pending || pending->owner != this || pending->lineCount == 0) return 0;
    // Two passes over every line: measuring, then writing.
    return std::min(1.0, static_cast<double>(pending->lines->load(std::memory_order_relaxed)) /
                             (2.0 * static_cast<double>(pending->lineCount)));
}

void EditorSession::cancelCopy() {
    if (isCopying()) ClipboardCopies::finish(false);
}

void EditorSession::pasteFromClipboard() {
    if (ClipboardCopies::pending()) {
        // The clipboard still holds what was there before the copy: never paste that.
        if (pasteWaitsForCopy_) return;
        pasteWaitsForCopy_ = true;
        whenClipboardWritten(this, [this](bool landed) {
            pasteWaitsForCopy_ = false;
            if (landed) pasteFromClipboard();
        });
        return;
    }
    const QByteArray bytes = clipboardBytes();
    if (!bytes.isEmpty()) paste(std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())));
}

std::string EditorSession::cut() {
    std::string text = copyText();
    clearContents();
    return text;
}

void EditorSession::paste(std::string_view text) {
    commitPendingDraft();
    if (text.empty() || !document_) return;
    ReadOptions options;
    options.encoding = TextEncoding::utf8;
    options.dialect = CSVDialect::tab();
    options.hasHeader = false;
    // Text copied from elsewhere may well start with «sep=;»: it is data here.
    options.recognizesSepLine = false;
    StringRows pasted;
    try {
        const CSVTable read = CSVReader::read(SharedBytes::copyOf(text), options).table;
        // Each line keeps its own length: a short line leaves the rest of its row alone.
        for (int64_t r = 0; r < read.rowCount(); ++r) {
            StringRow values = read.values(r);
            values.resize(static_cast<size_t>(read.index().fieldCount(read.rowRef(r).number())));
            pasted.push_back(std::move(values));
        }
    } catch (const CSVError&) {
        return;
    }
    if (pasted.empty()) return;

    // The counts, not a copy of the table: one alive during the edit would make it copy
    // the whole row list.
    const int64_t rowCount = shape_.firstDataRow + shape_.dataRowCount;
    const GridSize size = displayedSize();
    const IndexRange rows = selection_.rows();
    const IndexRange columns = selection_.columns();

    if (pasted.size() == 1 && pasted[0].size() == 1 && selection_.cellCount() > 1) {
        std::vector<CellChange> changes;
        const IndexRange r = rows.clamped(0, size.rows), c = columns.clamped(0, size.columns);
        for (int64_t row = r.lower; row < r.upper; ++row)
            for (int64_t column = c.lower; column < c.upper; ++column)
                changes.push_back({tableRow(row), column, pasted[0][0]});
        if (!changes.empty()) applyEdit(TableEdit::setCells(std::move(changes)), QStringLiteral("Paste"));
        return;
    }

    const int64_t top = std::max<int64_t>(rows.lower, 0), left = std::max<int64_t>(columns.lower, 0);
    const auto height = static_cast<int64_t>(pasted.size());
    int64_t width = 0;
    for (const auto& row : pasted)
        width = std::max<int64_t>(width, static_cast<int64_t>(row.size()));
    const int64_t newRows = std::max<int64_t>(top + height - size.rows, 0);
    const int64_t newColumns = std::max<int64_t>(left + width - size.columns, 0);

    std::vector<CellChange> changes;
    std::vector<int64_t> targetRows;
    for (int64_t i = 0; i < height; ++i) {
        const int64_t displayRow = top + i;
        const int64_t row =
            displayRow < size.rows ? tableRow(displayRow) : rowCount + (displayRow - size.rows);
        targetRows.push_back(row);
        const auto& values = pasted[static_cast<size_t>(i)];
        for (size_t j = 0; j < values.size(); ++j)
            changes.push_back({row, left + static_cast<int64_t>(j), values[j]});
    }
    const bool filtered = rowFilter_.has_value();
    if (newRows > 0) removeRowFilter();

    std::vector<TableEdit> edits;
    if (newRows > 0) edits.push_back(TableEdit::insertRows(RowBlock::empty(newRows, rowCount)));
    if (newColumns > 0)
        edits.push_back(TableEdit::insertColumns(ColumnBlock::empty(newColumns, size.columns)));
    edits.push_back(TableEdit::setCells(std::move(changes)));
    applyEdit(TableEdit::batch(std::move(edits)), QStringLiteral("Paste"));

    if (filtered && newRows > 0) {
        // The filter is gone: select the cells actually written, in the unfiltered grid.
        const auto [lo, hi] = std::minmax_element(targetRows.begin(), targetRows.end());
        const int64_t first = currentTable().firstDataRow();
        setSelection({{*lo - first, left}, {*hi - first, left + width - 1}});
    } else {
        setSelection({{top, left}, {top + height - 1, left + width - 1}});
    }
    clampSelection();
}

} // namespace zarvel
