// Pictures of the grid for a person to look at; not run by default
// (--gtest_also_run_disabled_tests, ZARVEL_SCREENSHOTS=<folder>).
#include "GridViewTestFixture.h"

#include "app/views/ContextMenu.h"
#include "app/views/Symbols.h"

#include <QDir>
#include <QPainter>

namespace zarvel::test {
namespace {

class GridViewScreenshots : public GridViewTest {
protected:
    void save(QWidget* widget, const QString& name) {
        const QString folder = qEnvironmentVariable("ZARVEL_SCREENSHOTS", QDir::tempPath());
        widget->grab().save(folder + QLatin1Char('/') + name + QStringLiteral(".png"));
    }
};

constexpr const char* sample =
    "id,name,city,amount,date,note\n"
    "1,Anna Müller,Zürich,1250.50,2024-01-03,first order\n"
    "2,\"Smith, Ben\",Kraków,-42,2024-01-04,\"two\nlines\"\n"
    "3,Chloé Novák,São Paulo,7,2024-02-11,\n"
    "4,David García,Reykjavík,310.25,2024-02-12,a rather long note that will not fit into its column at all\n"
    "5,Emma Rossi,東京,99999.99,2024-03-01,\n"
    "6,Felix Jansen,Lyon,0.5,2024-03-02,tab\there\n"
    "7,Greta Dubois,Oslo,12,2024-03-05,\n"
    "8,Hugo Nowak,Brno,8,2024-03-09,\n";

TEST_F(GridViewScreenshots, DISABLED_Pictures) {
    open(sample, {900, 360});
    session->setSelection({{1, 1}, {3, 2}});
    QApplication::processEvents();
    save(window.get(), QStringLiteral("grid-sample"));

    select(2, 1);
    typeText(QStringLiteral("Typed text"));
    QApplication::processEvents();
    save(window.get(), QStringLiteral("grid-typing-over"));
    key(Qt::Key_Escape);

    doubleClick(1, 5);
    ASSERT_TRUE(waitForEditorFocus());
    save(window.get(), QStringLiteral("grid-full-edit"));
    key(Qt::Key_Escape);

    session->selectWholeColumns(3, 3, false);
    QApplication::processEvents();
    save(window.get(), QStringLiteral("grid-column-selected"));

    {
        auto menu = grid->columnHeader()->makeContextMenu(0);
        menu->adjustSize();
        save(menu.get(), QStringLiteral("menu-column"));
        auto rows = grid->rowGutter()->makeContextMenu(0);
        rows->adjustSize();
        save(rows.get(), QStringLiteral("menu-row"));
    }
    session->selectWholeRows(2, 4, false);
    QApplication::processEvents();
    save(window.get(), QStringLiteral("grid-rows-selected"));

    session->beginRenamingColumn(2);
    ASSERT_TRUE(waitForEditorFocus());
    save(window.get(), QStringLiteral("grid-rename"));
    key(Qt::Key_Escape);
}

TEST(SymbolSheet, DISABLED_Picture) {
    const QStringList names = Symbols::names();
    const int cell = 64, columns = 8;
    QImage sheet(columns * cell, ((static_cast<int>(names.size()) + columns - 1) / columns) * cell, QImage::Format_ARGB32);
    sheet.fill(Qt::white);
    QPainter p(&sheet);
    for (int i = 0; i < names.size(); ++i) {
        const QRect box((i % columns) * cell, (i / columns) * cell, cell, cell);
        Symbols::paint(p, QRectF(box.x() + 8, box.y() + 4, 16, 16), names[i], Qt::black);
        Symbols::paint(p, QRectF(box.x() + 30, box.y() + 4, 28, 28), names[i], Qt::black);
        p.setFont(QFont(QStringLiteral("DejaVu Sans"), 5));
        p.drawText(QRect(box.x(), box.y() + 36, cell, 26), Qt::AlignCenter | Qt::TextWrapAnywhere, names[i]);
    }
    p.end();
    sheet.save(qEnvironmentVariable("ZARVEL_SCREENSHOTS", QDir::tempPath()) + QStringLiteral("/symbols.png"));
}

} // namespace
} // namespace zarvel::test
