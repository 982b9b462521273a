// A document window's grid as a user meets it: the session's document and undo stack,
// and a shown, active top-level window holding the grid view (plus a line edit to move
// focus to), driven with QTest key and mouse events.
#pragma once

#include "SessionTestSupport.h"

#include "app/views/CellEditor.h"
#include "app/views/ColumnHeaderView.h"
#include "app/views/GridView.h"
#include "app/views/RowGutterView.h"

#include <QApplication>
#include <QLineEdit>
#include <QScrollBar>
#include <QTest>
#include <QVBoxLayout>

#include <memory>
#include <string>

namespace zarvel::test {

// Rows "r<row>c<column>" under a header "h0,h1,…".
inline std::string sampleCSV(int rows, int columns) {
    std::string text;
    for (int c = 0; c < columns; ++c)
        text += (c ? ",h" : "h") + std::to_string(c);
    text += '\n';
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < columns; ++c)
            text += (c ? ",r" : "r") + std::to_string(r) + "c" + std::to_string(c);
        text += '\n';
    }
    return text;
}

// The window is declared after the session, so it goes first on teardown.
class GridViewTest : public SessionTest {
protected:
    void open(std::string_view text, QSize size = {800, 480}) {
        window.reset(); // its grid holds the session about to be replaced
        SessionTest::open(text);
        window = std::make_unique<QWidget>();
        auto* layout = new QVBoxLayout(window.get());
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
        other = new QLineEdit(window.get());
        grid = new GridView(session.get(), window.get());
        layout->addWidget(other);
        layout->addWidget(grid, 1);
        window->resize(size);
        window->show();
        QApplication::setActiveWindow(window.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }

    const GridSelection& selection() const { return session->selection(); }
    // The centre of a cell in the viewport's coordinates.
    QPoint cellPoint(int64_t row, int64_t column) const {
        const auto r = session->layout().cellRect(row, column);
        return grid->viewportPoint(QPointF(r.x + r.width / 2, r.y + r.height / 2)).toPoint();
    }
    void click(int64_t row, int64_t column, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, mods, cellPoint(row, column));
    }
    void key(Qt::Key k, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        QTest::keyClick(QApplication::focusWidget(), k, mods);
    }
    void typeText(const QString& text) { QTest::keyClicks(QApplication::focusWidget(), text); }

    CellEditor* editor() const { return grid->cellEditor(); }
    bool waitForEditorFocus() {
        return waitUntil([this] { return editor()->textField()->hasFocus(); }, 5000);
    }

    std::unique_ptr<QWidget> window;
    GridView* grid = nullptr;
    QLineEdit* other = nullptr;
};

} // namespace zarvel::test
