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
    ASSERT_TRUE(window->close());
    QCoreApplication::processEvents();
    EXPECT_EQ(terminations, 0); // not at once
    EXPECT_TRUE(QTest::qWaitFor([&] { return terminations > 0; }, 5000));
}

TEST_F(AppDelegateTest, AnotherWindowOrAnOpenDialogKeepsTheProgramUntilItIsGone) {
    DocumentWindow* first = controller->newDocument();
    DocumentWindow* second = controller->newDocument();
    ASSERT_TRUE(showAndActivate(first));
    QSignalSpy checks(delegate.get(), &AppDelegate::checked);
    ASSERT_TRUE(first->close());
    ASSERT_TRUE(checks.wait(5000));
    EXPECT_EQ(checks.first().first().toBool(), false);

    ASSERT_TRUE(showAndActivate(second));
    QFileDialog panel(nullptr, QStringLiteral("Open"));
    panel.setOption(QFileDialog::DontUseNativeDialog);
    ASSERT_TRUE(showAndActivate(&panel));
    checks.clear();
    ASSERT_TRUE(second->close());
    ASSERT_TRUE(checks.wait(5000));
    EXPECT_EQ(terminations, 0);
    // Dismissing the dialog with no document left ends the program.
    panel.close();
    ASSERT_TRUE(QTest::qWaitFor([&] { return terminations > 0; }, 5000));
}

TEST(ZarvelApp, StartsWithTheNamedFilesOrAnUntitledDocumentAndEndsWhenNoneOpens) {
    const QString missing = QStringLiteral("/nonexistent/x.csv");
    const struct {
        QStringList arguments;
        QStringList windows;
        size_t errors;
    } cases[] = {
        {{"zarvel"}, {"Untitled"}, 0},
        {{"zarvel", examplePath("people.csv"), missing, examplePath("inventory.tsv")},
         {"people.csv", "inventory.tsv"},
         1},
        {{"zarvel", missing}, {}, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.join(QLatin1Char(' ')).toStdString());
        auto owned = std::make_unique<ScriptedPrompts>();
        ScriptedPrompts* prompts = owned.get();
        ZarvelApp app(std::move(owned));
        int terminations = 0;
        app.delegate().terminate = [&] { ++terminations; };
        app.start(ZarvelApp::filesFromArguments(c.arguments));
        QStringList windows;
        for (DocumentWindow* window : app.controller().windows())
            windows << window->displayName();
        EXPECT_EQ(windows, c.windows);
        ASSERT_EQ(prompts->errors.size(), c.errors);
        for (const auto& error : prompts->errors)
            EXPECT_EQ(error.detail, QStringLiteral("The file does not exist."));
        if (c.windows.isEmpty()) {
            EXPECT_TRUE(QTest::qWaitFor([&] { return terminations > 0; }, 5000))
                << "nothing open, nothing to do";
        }
    }
}

} // namespace
} // namespace zarvel::test
