// The grid as assistive technology reads it, queried in-process as a screen reader
// would (no reader runs): a table of display texts with header cells, the selection,
// and the events that tell a reader what moved or changed.
#include "GridViewTestFixture.h"

#include "app/shell/DocumentWindow.h"
#include "app/views/GridAccessible.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QComboBox>
#include <QLineEdit>
#include <QToolBar>

namespace zarvel::test {
namespace {

struct Seen {
    QAccessible::Event type;
    int child;
    QAccessibleTableModelChangeEvent::ModelChangeType change = QAccessibleTableModelChangeEvent::ModelReset;
};

class GridAccessibleTest : public GridViewTest {
protected:
    void SetUp() override {
        GridAccessible::setEventSink([this](QAccessibleEvent* event) {
            Seen seen{event->type(), event->child()};
            if (event->type() == QAccessible::TableModelChanged)
                seen.change = static_cast<QAccessibleTableModelChangeEvent*>(event)->modelChangeType();
            events.push_back(seen);
        });
    }
    void TearDown() override { GridAccessible::setEventSink(nullptr); }

    QAccessibleInterface* table() const { return QAccessible::queryAccessibleInterface(grid); }
    QAccessibleTableInterface* cells() const { return table()->tableInterface(); }
    QString text(int row, int column) const { return cells()->cellAt(row, column)->text(QAccessible::Name); }
    bool saw(QAccessible::Event type, int child = -2) const {
        for (const Seen& e : events)
            if (e.type == type && (child == -2 || e.child == child)) return true;
        return false;
    }

    std::vector<Seen> events;
};

TEST_F(GridAccessibleTest, TheGridReadsAsATableOfDisplayTextsWithHeaderCells) {
    open("name,amount\nAda,12\n\"two\nlines\",7\n");
    QAccessibleInterface* iface = table();
    ASSERT_NE(iface, nullptr);
    EXPECT_EQ(iface->role(), QAccessible::Table);
    ASSERT_NE(cells(), nullptr);
    EXPECT_EQ(cells()->rowCount(), 2);
    EXPECT_EQ(cells()->columnCount(), 2);
    EXPECT_EQ(iface->text(QAccessible::Description), QStringLiteral("2 rows, 2 columns"));

    // A cell says what the grid shows, a line break as the grid draws it.
    EXPECT_EQ(text(0, 0), QStringLiteral("Ada"));
    EXPECT_EQ(text(1, 0), QStringLiteral("two\u23CElines"));
    EXPECT_EQ(cells()->cellAt(2, 0), nullptr);
    EXPECT_EQ(cells()->cellAt(0, 1), cells()->cellAt(0, 1)); // one interface per cell

    QAccessibleInterface* cell = cells()->cellAt(0, 1);
    QAccessibleTableCellInterface* place = cell->tableCellInterface();
    ASSERT_NE(place, nullptr);
    EXPECT_EQ(cell->role(), QAccessible::Cell);
    EXPECT_EQ(cell->parent(), iface);
    EXPECT_EQ(iface->indexOfChild(cell), 5); // corner, 2 titles; row header, cell 0, cell 1
    EXPECT_EQ(iface->child(5), cell);
    ASSERT_EQ(place->columnHeaderCells().size(), 1);
    EXPECT_EQ(place->columnHeaderCells()[0]->text(QAccessible::Name), QStringLiteral("amount"));
    EXPECT_EQ(place->columnHeaderCells()[0]->role(), QAccessible::ColumnHeader);
    ASSERT_EQ(place->rowHeaderCells().size(), 1);
    EXPECT_EQ(place->rowHeaderCells()[0]->text(QAccessible::Name), QStringLiteral("1"));
    EXPECT_EQ(iface->child(0)->text(QAccessible::Name), QStringLiteral("Select All"));

    // A point on screen finds its cell.
    const QPoint centre = grid->viewport()->mapToGlobal(cellPoint(1, 1));
    EXPECT_EQ(iface->childAt(centre.x(), centre.y()), cells()->cellAt(1, 1));
    EXPECT_TRUE(cell->rect().contains(grid->viewport()->mapToGlobal(cellPoint(0, 1))));
}

TEST_F(GridAccessibleTest, MovingAndExtendingTheSelectionIsReadAndAnnounced) {
    open(sampleCSV(5, 4));
    grid->setFocus();
    click(1, 1);
    events.clear();

    // The active cell moves: focus and selection go to that cell.
    key(Qt::Key_Right);
    const int cell12 = table()->indexOfChild(cells()->cellAt(1, 2));
    EXPECT_TRUE(saw(QAccessible::Focus, cell12));
    EXPECT_TRUE(saw(QAccessible::Selection, cell12));
    EXPECT_EQ(table()->focusChild(), cells()->cellAt(1, 2));
    EXPECT_TRUE(cells()->cellAt(1, 2)->state().focused);
    EXPECT_EQ(table()->focusChild()->text(QAccessible::Name), QStringLiteral("r1c2"));

    events.clear();
    key(Qt::Key_Down, Qt::ShiftModifier);
    key(Qt::Key_Right, Qt::ShiftModifier);
    EXPECT_TRUE(saw(QAccessible::SelectionWithin));
    EXPECT_EQ(cells()->selectedCellCount(), 4);
    QStringList selected;
    for (QAccessibleInterface* c : cells()->selectedCells())
        selected << c->text(QAccessible::Name);
    EXPECT_EQ(selected, (QStringList{"r1c2", "r1c3", "r2c2", "r2c3"}));
    EXPECT_TRUE(cells()->cellAt(2, 3)->state().selected);
    EXPECT_FALSE(cells()->cellAt(0, 0)->state().selected);
    EXPECT_TRUE(cells()->selectedRows().isEmpty());

    // Whole rows and columns read as selected rows and columns.
    ASSERT_TRUE(cells()->selectRow(3));
    EXPECT_EQ(cells()->selectedRows(), QList<int>{3});
    EXPECT_TRUE(cells()->isRowSelected(3));
    ASSERT_TRUE(cells()->selectColumn(0));
    EXPECT_EQ(cells()->selectedColumns(), QList<int>{0});
    EXPECT_TRUE(cells()->cellAt(0, 0)->tableCellInterface()->columnHeaderCells()[0]->state().selected);
}

TEST_F(GridAccessibleTest, AnEditIsAnnouncedAndReadBackAndAStructureChangeResetsTheTable) {
    open(sampleCSV(3, 2));
    grid->setFocus();
    click(0, 0);
    QAccessibleInterface* before = cells()->cellAt(0, 0);
    events.clear();

    typeText(QStringLiteral("New"));
    key(Qt::Key_Return);
    ASSERT_EQ(session->document()->table().value(session->tableRow(0), 0), "New");
    ASSERT_TRUE(saw(QAccessible::TableModelChanged));
    EXPECT_EQ(events.front().type == QAccessible::TableModelChanged
                  ? events.front().change
                  : QAccessibleTableModelChangeEvent::DataChanged,
              QAccessibleTableModelChangeEvent::DataChanged);
    EXPECT_EQ(text(0, 0), QStringLiteral("New"));
    Q_UNUSED(before); // dropped with the change; asking again gives a fresh one

    events.clear();
    session->insertRow(false);
    bool reset = false;
    for (const Seen& e : events)
        reset |= e.type == QAccessible::TableModelChanged &&
                 e.change == QAccessibleTableModelChangeEvent::ModelReset;
    EXPECT_TRUE(reset);
    EXPECT_EQ(cells()->rowCount(), 4);
}

// Every control of a document window, its popovers included, has a name to read out.
TEST(AccessibleNames, EveryControlOfADocumentWindowIsNamed) {
    DocumentWindow window(std::make_unique<CSVDocument>());
    window.show();
    QStringList unnamed;
    for (QWidget* control : window.findChildren<QWidget*>()) {
        const bool isControl = qobject_cast<QAbstractButton*>(control) || qobject_cast<QLineEdit*>(control) ||
                               qobject_cast<QComboBox*>(control);
        if (!isControl) continue;
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(control);
        if (!iface || iface->text(QAccessible::Name).trimmed().isEmpty())
            unnamed << QString::fromLatin1(control->metaObject()->className()) + QLatin1Char(' ') +
                           control->objectName() + QLatin1Char(' ') + control->toolTip();
    }
    EXPECT_TRUE(unnamed.isEmpty()) << unnamed.join(QStringLiteral("; ")).toStdString();
    EXPECT_EQ(window.toolBar()->accessibleName(), QStringLiteral("Toolbar"));
}

} // namespace
} // namespace zarvel::test
