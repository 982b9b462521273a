// The program ends half a second after its last document window is gone, unless an
// open or save dialog is still up; and it starts with the files it was given.
#include "ShellTestSupport.h"

#include "app/shell/AppDelegate.h"
#include "app/shell/ZarvelApp.h"

#include <QFileDialog>
#include <QSignalSpy>

namespace zarvel::test {
namespace {

class AppDelegateTest : public ShellTest {
protected:
    void SetUp() override {
        ShellTest::SetUp();
        delegate = std::make_unique<AppDelegate>(controller.get());
        delegate->terminate = [this] { ++terminations; };
        delegate->applicationDidFinishLaunching();
    }
    void TearDown() override {
        delegate.reset();
        ShellTest::TearDown();
    }

    std::unique_ptr<AppDelegate> delegate;
    int terminations = 0;
};

TEST_F(AppDelegateTest, ClosingTheLastDocumentWindowQuitsHalfASecondLater) {
    DocumentWindow* window = controller->newDocument();
    ASSERT_TRUE(showAndActivate(window));
    QSignalSpy checks(delegate.get(), &AppDelegate::checked);
    ASSERT_TRUE(window->close());
    QCoreApplication::processEvents();
    EXPECT_EQ(terminations, 0); // not at once
    // The close and the focus change each ask once.
    EXPECT_TRUE(QTest::qWaitFor([&] { return terminations > 0; }, 5000));
}

TEST_F(AppDelegateTest, ClosingOneOfTwoWindowsKeepsTheProgram) {
    DocumentWindow* first = controller->newDocument();
    controller->newDocument();
    ASSERT_TRUE(showAndActivate(first));
    QSignalSpy checks(delegate.get(), &AppDelegate::checked);
    ASSERT_TRUE(first->close());
    ASSERT_TRUE(checks.wait(5000));
    EXPECT_EQ(checks.first().first().toBool(), false);
    EXPECT_EQ(terminations, 0);
}

TEST_F(AppDelegateTest, AnOpenDialogOutlivingTheLastWindowKeepsTheProgram) {
    DocumentWindow* window = controller->newDocument();
    ASSERT_TRUE(showAndActivate(window));
    QFileDialog panel(nullptr, QStringLiteral("Open"));
    panel.setOption(QFileDialog::DontUseNativeDialog);
    ASSERT_TRUE(showAndActivate(&panel));
    QSignalSpy checks(delegate.get(), &AppDelegate::checked);
    ASSERT_TRUE(window->close());
    ASSERT_TRUE(checks.wait(5000));
    EXPECT_EQ(terminations, 0);

    // Dismissing the dialog with no document left ends the program.
    checks.clear();
    panel.close();
    ASSERT_TRUE(QTest::qWaitFor([&] { return terminations > 0; }, 5000));
}

TEST(ZarvelApp, StartsWithOneUntitledDocumentWhenNoFileIsNamed) {
    ZarvelApp app(std::make_unique<ScriptedPrompts>());
    app.delegate().terminate = [] {};
    app.start({});
    ASSERT_EQ(app.controller().documentCount(), 1);
    DocumentWindow* window = app.controller().windows().first();
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Untitled[*]"));
    EXPECT_EQ(window->size(), QSize(1100, 720));
    EXPECT_EQ(QApplication::applicationName(), QStringLiteral("Zarvel"));
    EXPECT_EQ(cell(window, 0, 2), "Column 3");
}

TEST(ZarvelApp, OpensEachNamedFileInItsOwnWindowAndReportsTheOnesThatFail) {
    auto owned = std::make_unique<ScriptedPrompts>();
    ScriptedPrompts* prompts = owned.get();
    ZarvelApp app(std::move(owned));
    app.delegate().terminate = [] {};
    const QStringList arguments{QStringLiteral("zarvel"), examplePath("people.csv"), QStringLiteral("/nonexistent/x.csv"),
                                examplePath("inventory.tsv")};
    app.start(ZarvelApp::filesFromArguments(arguments));
    ASSERT_EQ(app.controller().documentCount(), 2);
    EXPECT_EQ(app.controller().windows()[0]->displayName(), QStringLiteral("people.csv"));
    EXPECT_EQ(app.controller().windows()[1]->displayName(), QStringLiteral("inventory.tsv"));
    ASSERT_EQ(prompts->errors.size(), 1u);
    EXPECT_EQ(prompts->errors[0].detail, QStringLiteral("The file does not exist."));
}

TEST(ZarvelApp, EndsWhenNoNamedFileCouldBeOpened) {
    ZarvelApp app(std::make_unique<ScriptedPrompts>());
    int terminations = 0;
    app.delegate().terminate = [&] { ++terminations; };
    app.start({QStringLiteral("/nonexistent/x.csv")});
    EXPECT_EQ(app.controller().documentCount(), 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return terminations > 0; }, 5000));
}

} // namespace
} // namespace zarvel::test
