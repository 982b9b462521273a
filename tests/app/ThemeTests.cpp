// Light and dark: every colour the views set themselves follows a palette switch.
#include "ShellTestSupport.h"

#include "app/views/ContextMenu.h"
#include "app/views/FormatPopover.h"
#include "app/views/GridStyle.h"
#include "app/views/StatusBar.h"
#include "app/views/WarningsButton.h"

#include <QLabel>
#include <QStyleOptionMenuItem>

namespace zarvel::test {
namespace {

// Exposes how a context menu item is styled.
class MenuProbe : public ContextMenu {
public:
    using ContextMenu::initStyleOption;
};

// The palette is the application's: put back whatever a test leaves.
class ThemeTest : public ::testing::Test {
protected:
    void TearDown() override { QApplication::setPalette(saved); }
    const QPalette saved = QApplication::palette();
};

TEST_F(ThemeTest, TheFindCounterAndWarningAndDeleteColoursComeFromTheNewPalette) {
    DocumentWindow window(std::make_unique<CSVDocument>());
    window.show();
    QLabel* counter = window.findBar()->counterLabel();
    QLabel* filter = window.statusStrip()->filterLabel();
    WarningsButton* warnings = window.statusStrip()->warningsButton();
    QLabel* error = window.formatPopover()->errorLabel();
    MenuProbe menu;
    QAction* remove = menu.addAction(QStringLiteral("Delete Rows"));
    ContextMenu::markDestructive(remove);

    const auto check = [&](const QPalette& palette) {
        SCOPED_TRACE(GridStyle::isDark(palette) ? "dark" : "light");
        EXPECT_EQ(counter->palette().color(QPalette::WindowText),
                  GridStyle::secondary(window.findBar()->palette()));
        EXPECT_EQ(GridStyle::secondary(window.findBar()->palette()), GridStyle::secondary(palette));
        EXPECT_EQ(filter->palette().color(QPalette::WindowText), GridStyle::warning(palette));
        EXPECT_EQ(warnings->palette().color(QPalette::ButtonText), GridStyle::caution(palette));
        EXPECT_EQ(error->palette().color(QPalette::WindowText), GridStyle::destructive(palette));
        QStyleOptionMenuItem option;
        menu.initStyleOption(&option, remove);
        EXPECT_EQ(option.palette.color(QPalette::Text), GridStyle::destructive(palette));
        // Everything else still comes from the palette itself.
        EXPECT_EQ(counter->palette().color(QPalette::Base), palette.color(QPalette::Base));
    };
    check(QApplication::palette());
    const QColor lightRed = GridStyle::destructive(QApplication::palette());

    const QPalette dark = GridStyle::darkPalette();
    ASSERT_TRUE(GridStyle::isDark(dark));
    QApplication::setPalette(dark);
    QApplication::processEvents(); // the change reaches the widgets through the event loop
    check(dark);
    EXPECT_NE(GridStyle::destructive(dark), lightRed);

    QApplication::setPalette(saved);
    QApplication::processEvents();
    check(saved);
}

} // namespace
} // namespace zarvel::test
