#include "app/views/GridAccessible.h"

#include "app/session/EditorSession.h"
#include "app/views/GridStyle.h"

// Before GridView.h, which names QPlainTextEdit without declaring it first.
#include <QPlainTextEdit>

#include "app/views/GridView.h"

#include "app/views/ColumnHeaderView.h"
#include "app/views/RowGutterView.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QAccessibleWidget>
#include <QComboBox>
#include <QEvent>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>

#include <algorithm>
#include <climits>

namespace zarvel::GridAccessible {

namespace {

EventSink& sink() {
    static EventSink instance;
    return instance;
}

// Lists of selected cells, rows or columns stop here: a selection of a whole huge
// table must not make millions of objects for a reader that reads a few.
constexpr int listLimit = 10000;

enum class Kind : quint64 { cell = 0, columnHeader = 1, rowHeader = 2 };

int64_t displayedRows(const EditorSession* session) {
    return std::max<int64_t>(0, std::min(session->layout().rowCount(), session->displayedRowCount()));
}
int64_t displayedColumns(const EditorSession* session) {
    return session->layout().columnCount();
}

// Qt counts children in int: the columns as they are (a row holds them all), the rows
// as many as fit beside them.
int shownColumns(const EditorSession* session) {
    return static_cast<int>(std::min<int64_t>(displayedColumns(session), INT_MAX / 2 - 1));
}
int shownRows(const EditorSession* session) {
    const int64_t perRow = shownColumns(session) + 1;
    return static_cast<int>(std::min<int64_t>(displayedRows(session), INT_MAX / perRow - 1));
}
// Children in reading order: the corner and the column headers, then per row its
// header and its cells.
int childIndex(const EditorSession* session, int row, int column) {
    return (row + 1) * (shownColumns(session) + 1) + column + 1;
}

class CellAccessible;

// What the grid's interfaces share: the cell interfaces made so far, so that asking
// twice for a cell gives the same one, and what was last told to the reader.
class GridState : public QObject {
public:
    explicit GridState(GridView* grid);
    ~GridState() override { dropCells(); }

    GridView* grid() const { return grid_; }
    QAccessibleInterface* cell(Kind kind, int row, int column);
    void dropCells() {
        for (QAccessible::Id id : std::as_const(cells_))
            QAccessible::deleteAccessibleInterface(id);
        cells_.clear();
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == grid_ && event->type() == QEvent::FocusIn) activeCellFocused();
        return QObject::eventFilter(watched, event);
    }

private:
    void selectionChanged();
    void contentChanged(bool valuesChanged);
    void activeCellFocused();
    static void post(QAccessibleEvent& event) {
        if (sink()) sink()(&event);
        QAccessible::updateAccessibility(&event);
    }
    static bool anyoneListening() { return QAccessible::isActive() || sink(); }

    GridView* grid_;
    QHash<quint64, QAccessible::Id> cells_;
    GridSelection lastSelection_;
    int64_t lastRows_ = 0;
    int64_t lastColumns_ = 0;
};

// GridState has no meta-object of its own, so findChild could not tell it apart.
GridState* stateOf(const GridView* grid) {
    if (!grid) return nullptr;
    for (QObject* child : grid->children())
        if (auto* state = dynamic_cast<GridState*>(child)) return state;
    return nullptr;
}

// One cell, column title or row number.
class CellAccessible : public QAccessibleInterface, public QAccessibleTableCellInterface {
public:
    CellAccessible(GridView* grid, Kind kind, int row, int column)
        : grid_(grid), kind_(kind), row_(row), column_(column) {}

    bool isValid() const override {
        if (!grid_) return false;
        const EditorSession* session = grid_->session();
        const bool rowOk = kind_ == Kind::columnHeader || (row_ >= 0 && row_ < shownRows(session));
        const bool columnOk = kind_ == Kind::rowHeader || (column_ >= 0 && column_ < shownColumns(session));
        return rowOk && columnOk;
    }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return grid_ ? grid_->window()->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override {
        return grid_ ? QAccessible::queryAccessibleInterface(grid_) : nullptr;
    }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }

    QString text(QAccessible::Text t) const override {
        if (!isValid() || (t != QAccessible::Name && t != QAccessible::Value)) return {};
        const EditorSession* session = grid_->session();
        const CSVTable table = session->table();
        switch (kind_) {
        case Kind::columnHeader:
            return QString::fromStdString(table.columnTitle(column_));
        case Kind::rowHeader:
            return QString::number(session->tableRow(row_) - table.firstDataRow() + 1);
        case Kind::cell: {
            const int64_t stored = session->tableRow(row_);
            const StringRows values =
                table.displayValues({stored, stored + 1}, {column_, column_ + 1}, GridStyle::displayLimit);
            return values.empty() || values.front().empty() ? QString()
                                                            : QString::fromStdString(values.front().front());
        }
        }
        return {};
    }
    void setText(QAccessible::Text, const QString&) override {}

    QRect rect() const override {
        if (!isValid()) return {};
        const GridGeometry& layout = grid_->session()->layout();
        QWidget* viewport = grid_->viewport();
        const auto toGlobal = [viewport](QPointF p) { return viewport->mapToGlobal(p.toPoint()); };
        switch (kind_) {
        case Kind::cell: {
            const GridGeometry::Rect r = layout.cellRect(row_, column_);
            return QRect(toGlobal(grid_->viewportPoint(QPointF(r.x, r.y))),
                         QSize(int(r.width), int(r.height)));
        }
        case Kind::columnHeader: {
            const int x = toGlobal(grid_->viewportPoint(QPointF(layout.xOfColumn(column_), 0))).x();
            const QWidget* header = grid_->columnHeader();
            return QRect(x, header->mapToGlobal(QPoint(0, 0)).y(),
                         int(layout.columnWidths()[size_t(column_)]), header->height());
        }
        case Kind::rowHeader: {
            const int y = toGlobal(grid_->viewportPoint(QPointF(0, layout.yOfRow(row_)))).y();
            const QWidget* gutter = grid_->rowGutter();
            return QRect(gutter->mapToGlobal(QPoint(0, 0)).x(), y, gutter->width(), int(layout.rowHeight()));
        }
        }
        return {};
    }

    QAccessible::Role role() const override {
        switch (kind_) {
        case Kind::columnHeader:
            return QAccessible::ColumnHeader;
        case Kind::rowHeader:
            return QAccessible::RowHeader;
        case Kind::cell:
            break;
        }
        return QAccessible::Cell;
    }

    QAccessible::State state() const override {
        QAccessible::State s;
        if (!isValid()) {
            s.invalid = true;
            return s;
        }
        s.selectable = true;
        s.selected = isSelected();
        if (kind_ == Kind::cell) {
            s.focusable = true;
            s.editable = true;
            const GridCell active = grid_->session()->selection().active;
            s.active = active.row == row_ && active.column == column_;
            s.focused = s.active && grid_->hasFocus();
        }
        const QRect shown(grid_->viewport()->mapToGlobal(QPoint(0, 0)), grid_->viewport()->size());
        s.invisible = !grid_->isVisible();
        s.offscreen = !shown.intersects(rect());
        return s;
    }

    void* interface_cast(QAccessible::InterfaceType type) override {
        return type == QAccessible::TableCellInterface ? static_cast<QAccessibleTableCellInterface*>(this)
                                                       : nullptr;
    }

    bool isSelected() const override {
        if (!isValid()) return false;
        const EditorSession* session = grid_->session();
        const GridSelection& selection = session->selection();
        switch (kind_) {
        case Kind::cell:
            return selection.contains({row_, column_});
        case Kind::columnHeader:
            return selection.coversWholeColumns(session->displayedSize()) &&
                   selection.columns().contains(column_);
        case Kind::rowHeader:
            return selection.coversWholeRows(session->displayedSize()) && selection.rows().contains(row_);
        }
        return false;
    }
    QList<QAccessibleInterface*> columnHeaderCells() const override {
        GridState* state = stateOf(grid_);
        if (kind_ != Kind::cell || !state) return {};
        return {state->cell(Kind::columnHeader, -1, column_)};
    }
    QList<QAccessibleInterface*> rowHeaderCells() const override {
        GridState* state = stateOf(grid_);
        if (kind_ != Kind::cell || !state) return {};
        return {state->cell(Kind::rowHeader, row_, -1)};
    }
    int columnIndex() const override { return column_; }
    int rowIndex() const override { return row_; }
    int columnExtent() const override { return 1; }
    int rowExtent() const override { return 1; }
    QAccessibleInterface* table() const override { return parent(); }

private:
    QPointer<GridView> grid_;
    Kind kind_;
    int row_;
    int column_;
};

// The grid itself: a table whose children are the corner, the headers and the cells.
class TableAccessible : public QAccessibleWidget, public QAccessibleTableInterface {
public:
    explicit TableAccessible(GridView* grid) : QAccessibleWidget(grid, QAccessible::Table) {}

    GridView* grid() const { return static_cast<GridView*>(object()); }
    EditorSession* session() const { return grid()->session(); }
    GridState* gridState() const { return stateOf(grid()); }

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::TableInterface) return static_cast<QAccessibleTableInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name && grid()->accessibleName().isEmpty()) return QStringLiteral("Table");
        if (t == QAccessible::Description && grid()->accessibleDescription().isEmpty())
            return QStringLiteral("%1 rows, %2 columns")
                .arg(displayedRows(session()))
                .arg(displayedColumns(session()));
        return QAccessibleWidget::text(t);
    }

    int childCount() const override {
        const int64_t count = int64_t(shownRows(session()) + 1) * (shownColumns(session()) + 1);
        return static_cast<int>(std::min<int64_t>(count, INT_MAX));
    }
    QAccessibleInterface* child(int index) const override {
        if (index < 0 || index >= childCount() || !gridState()) return nullptr;
        const int perRow = shownColumns(session()) + 1;
        const int row = index / perRow - 1;
        const int column = index % perRow - 1;
        if (row < 0 && column < 0) return QAccessible::queryAccessibleInterface(grid()->corner());
        if (row < 0) return gridState()->cell(Kind::columnHeader, -1, column);
        if (column < 0) return gridState()->cell(Kind::rowHeader, row, -1);
        return gridState()->cell(Kind::cell, row, column);
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        if (!child) return -1;
        if (child->object() == grid()->corner()) return 0;
        auto* cell = const_cast<QAccessibleInterface*>(child)->tableCellInterface();
        if (!cell || child->parent() != this) return -1;
        return childIndex(session(), cell->rowIndex(), cell->columnIndex());
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        const QPoint local = grid()->viewport()->mapFromGlobal(QPoint(x, y));
        const QPointF content = grid()->contentPoint(QPointF(local));
        const GridGeometry& layout = session()->layout();
        const QPoint inGrid = grid()->mapFromGlobal(QPoint(x, y));
        if (!grid()->rect().contains(inGrid)) return nullptr;
        const bool inHeader = inGrid.y() < grid()->viewport()->geometry().top();
        const bool inGutter = inGrid.x() < grid()->viewport()->geometry().left();
        const std::optional<int64_t> row = layout.rowAt(content.y());
        const std::optional<int64_t> column = layout.columnAt(content.x());
        if (inHeader && inGutter) return QAccessible::queryAccessibleInterface(grid()->corner());
        if (inHeader) return column && *column < shownColumns(session()) ? cellAt(-1, int(*column)) : nullptr;
        if (inGutter)
            return row && *row < shownRows(session()) ? gridState()->cell(Kind::rowHeader, int(*row), -1)
                                                      : nullptr;
        if (!row || !column) return nullptr;
        return cellAt(int(*row), int(*column));
    }
    QAccessibleInterface* focusChild() const override {
        if (!grid()->hasFocus()) return QAccessibleWidget::focusChild();
        const GridCell active = session()->selection().active;
        return cellAt(int(active.row), int(active.column));
    }

    // Row −1 gives a column's header cell.
    QAccessibleInterface* cellAt(int row, int column) const override {
        if (!gridState() || column < 0 || column >= shownColumns(session()) || row < -1 ||
            row >= shownRows(session()))
            return nullptr;
        return row < 0 ? gridState()->cell(Kind::columnHeader, -1, column)
                       : gridState()->cell(Kind::cell, row, column);
    }
    QAccessibleInterface* caption() const override { return nullptr; }
    QAccessibleInterface* summary() const override { return nullptr; }
    QString columnDescription(int column) const override {
        if (column < 0 || column >= shownColumns(session())) return {};
        return QString::fromStdString(session()->table().columnTitle(column));
    }
    QString rowDescription(int row) const override {
        if (row < 0 || row >= shownRows(session())) return {};
        return QString::number(session()->tableRow(row) - session()->table().firstDataRow() + 1);
    }

    int selectedCellCount() const override {
        if (shownRows(session()) == 0 || shownColumns(session()) == 0) return 0;
        return static_cast<int>(std::min<int64_t>(session()->selection().cellCount(), INT_MAX));
    }
    QList<QAccessibleInterface*> selectedCells() const override {
        QList<QAccessibleInterface*> cells;
        if (selectedCellCount() == 0) return cells;
        const GridSelection& selection = session()->selection();
        for (int64_t row = selection.rows().lower; row < selection.rows().upper; ++row)
            for (int64_t column = selection.columns().lower; column < selection.columns().upper; ++column) {
                if (cells.size() >= listLimit) return cells;
                if (QAccessibleInterface* cell = cellAt(int(row), int(column))) cells << cell;
            }
        return cells;
    }
    QList<int> selectedColumns() const override {
        QList<int> columns;
        const GridSelection& selection = session()->selection();
        if (shownRows(session()) == 0 || !selection.coversWholeColumns(session()->displayedSize()))
            return columns;
        for (int64_t c = selection.columns().lower;
             c < selection.columns().upper && columns.size() < listLimit; ++c)
            columns << int(c);
        return columns;
    }
    QList<int> selectedRows() const override {
        QList<int> rows;
        const GridSelection& selection = session()->selection();
        if (shownColumns(session()) == 0 || !selection.coversWholeRows(session()->displayedSize()))
            return rows;
        for (int64_t r = selection.rows().lower; r < selection.rows().upper && rows.size() < listLimit; ++r)
            rows << int(r);
        return rows;
    }
    int selectedColumnCount() const override { return int(selectedColumns().size()); }
    int selectedRowCount() const override { return int(selectedRows().size()); }
    int columnCount() const override { return zarvel::GridAccessible::shownColumns(session()); }
    int rowCount() const override { return zarvel::GridAccessible::shownRows(session()); }
    bool isColumnSelected(int column) const override {
        const GridSelection& selection = session()->selection();
        return selection.coversWholeColumns(session()->displayedSize()) &&
               selection.columns().contains(column);
    }
    bool isRowSelected(int row) const override {
        const GridSelection& selection = session()->selection();
        return selection.coversWholeRows(session()->displayedSize()) && selection.rows().contains(row);
    }
    // The grid has one rectangular selection: selecting a row or column replaces it,
    // and a part of it cannot be taken out.
    bool selectRow(int row) override {
        if (row < 0 || row >= rowCount()) return false;
        session()->selectWholeRows(row, row, false);
        return true;
    }
    bool selectColumn(int column) override {
        if (column < 0 || column >= columnCount()) return false;
        session()->selectWholeColumns(column, column, false);
        return true;
    }
    bool unselectRow(int) override { return false; }
    bool unselectColumn(int) override { return false; }
    void modelChange(QAccessibleTableModelChangeEvent*) override {
        if (GridState* s = gridState()) s->dropCells();
    }
};

GridState::GridState(GridView* grid) : QObject(grid), grid_(grid) {
    EditorSession* session = grid->session();
    lastSelection_ = session->selection();
    lastRows_ = displayedRows(session);
    lastColumns_ = displayedColumns(session);
    connect(session, &EditorSession::selectionChanged, this, [this] { selectionChanged(); });
    connect(session, &EditorSession::layoutChanged, this, [this] { contentChanged(false); });
    connect(session, &EditorSession::rowFilterChanged, this, [this] { contentChanged(false); });
    connect(session, &EditorSession::contentChanged, this, [this] { contentChanged(true); });
    grid->installEventFilter(this);
}

QAccessibleInterface* GridState::cell(Kind kind, int row, int column) {
    const quint64 key =
        (quint64(kind) << 62) | (quint64(quint32(row + 1)) << 31) | quint64(quint32(column + 1));
    if (auto it = cells_.constFind(key); it != cells_.constEnd())
        return QAccessible::accessibleInterface(*it);
    auto* made = new CellAccessible(grid_, kind, row, column);
    cells_.insert(key, QAccessible::registerAccessibleInterface(made));
    return made;
}

void GridState::activeCellFocused() {
    if (!anyoneListening()) return;
    const GridCell active = grid_->session()->selection().active;
    if (active.row >= shownRows(grid_->session()) || active.column >= shownColumns(grid_->session())) return;
    QAccessibleEvent focus(grid_, QAccessible::Focus);
    focus.setChild(childIndex(grid_->session(), int(active.row), int(active.column)));
    post(focus);
}

void GridState::selectionChanged() {
    const GridSelection now = grid_->session()->selection();
    const GridSelection before = std::exchange(lastSelection_, now);
    if (now == before || !anyoneListening()) return;
    if (now.active != before.active && grid_->hasFocus()) activeCellFocused();
    if (now.isSingleCell() && now.active.row < shownRows(grid_->session()) &&
        now.active.column < shownColumns(grid_->session())) {
        QAccessibleEvent selection(grid_, QAccessible::Selection);
        selection.setChild(childIndex(grid_->session(), int(now.active.row), int(now.active.column)));
        post(selection);
    } else {
        QAccessibleEvent within(grid_, QAccessible::SelectionWithin);
        post(within);
    }
}

void GridState::contentChanged(bool valuesChanged) {
    const EditorSession* session = grid_->session();
    const int64_t rows = displayedRows(session);
    const int64_t columns = displayedColumns(session);
    const bool reshaped = rows != lastRows_ || columns != lastColumns_;
    lastRows_ = rows;
    lastColumns_ = columns;
    // Made cells may now stand for other values, or for nothing.
    dropCells();
    if ((!reshaped && !valuesChanged) || !anyoneListening()) return;
    QAccessibleTableModelChangeEvent change(grid_, reshaped ? QAccessibleTableModelChangeEvent::ModelReset
                                                            : QAccessibleTableModelChangeEvent::DataChanged);
    if (!reshaped) {
        change.setFirstRow(0);
        change.setLastRow(shownRows(session) - 1);
        change.setFirstColumn(0);
        change.setLastColumn(shownColumns(session) - 1);
    }
    post(change);
}

QAccessibleInterface* factory(const QString&, QObject* object) {
    if (auto* grid = qobject_cast<GridView*>(object)) return new TableAccessible(grid);
    return nullptr;
}

} // namespace

void attach(GridView* grid) {
    static const bool installed = [] {
        QAccessible::installFactory(factory);
        return true;
    }();
    Q_UNUSED(installed);
    if (!stateOf(grid)) new GridState(grid);
}

void setEventSink(EventSink newSink) {
    sink() = std::move(newSink);
}

void nameControls(QWidget* root) {
    QHash<const QWidget*, QString> labelled;
    for (const QLabel* label : root->findChildren<QLabel*>())
        if (label->buddy()) labelled.insert(label->buddy(), label->text());
    const auto plain = [](QString text) { return text.remove(QLatin1Char('&')).trimmed(); };
    for (QWidget* control : root->findChildren<QWidget*>()) {
        const bool isControl = qobject_cast<QAbstractButton*>(control) || qobject_cast<QLineEdit*>(control) ||
                               qobject_cast<QComboBox*>(control) || qobject_cast<QAbstractSpinBox*>(control);
        if (!isControl || !control->accessibleName().isEmpty()) continue;
        QString name;
        if (auto* button = qobject_cast<QAbstractButton*>(control)) name = plain(button->text());
        if (auto* field = qobject_cast<QLineEdit*>(control); field && name.isEmpty())
            name = field->placeholderText();
        if (name.isEmpty()) name = plain(labelled.value(control));
        if (name.isEmpty()) name = control->toolTip();
        // Qt's own little buttons: a field's clear button, the overflow of a toolbar or menu bar.
        if (name.isEmpty() && control->inherits("QLineEditIconButton")) name = QStringLiteral("Clear");
        if (name.isEmpty() && control->objectName().endsWith(QLatin1String("_ext_button")))
            name = QStringLiteral("More");
        if (!name.isEmpty()) control->setAccessibleName(name);
    }
}

} // namespace zarvel::GridAccessible
