// Crash recovery: a run that ends without saving leaves a journal that the next run
// restores, in windows that hold the unsaved changes and say they are unsaved.
#include "ShellTestSupport.h"

#include "app/document/RecoveryStore.h"
#include "app/shell/DiskChangeBar.h"
#include "app/shell/ZarvelApp.h"
#include "app/views/StatusBar.h"

#include <QProcess>
#include <QPushButton>
#include <QUndoStack>

#include <csignal>
#include <cstdio>
#include <thread>

namespace zarvel::test {

namespace {

const QByteArray fruit = "name,qty\napple,1\npear,2\nplum,3\n";

// Types into a cell as the grid's editor would and commits.
void enter(DocumentWindow* window, int64_t row, int64_t column, const char* text) {
    window->session()->setSelection({{row, column}, {row, column}});
    window->session()->beginEditing(std::string(text));
    window->session()->commitEditing(CommitMove::none);
}

// The steps both halves agree on: edits, a deleted row brought back, an undone edit.
void editFruit(DocumentWindow* window) {
    enter(window, 0, 1, "10");
    window->session()->setSelection({{2, 0}, {2, 1}});
    window->session()->deleteRows();
    window->session()->undo();
    enter(window, 1, 0, "quince");
    enter(window, 2, 1, "30");
    window->session()->undo();
}
const StringRows editedFruit{{"name", "qty"}, {"apple", "10"}, {"quince", "2"}, {"plum", "3"}};

DocumentRecorder* recorderOf(DocumentWindow* window) {
    return window->findChild<DocumentRecorder*>();
}

bool waitUntilDurable(DocumentWindow* window) {
    DocumentRecorder* recorder = recorderOf(window);
    return recorder &&
           QTest::qWaitFor([&] { return recorder->hasJournal() && !recorder->hasPendingWrites(); }, 10000);
}

QStringList recordsIn(const QString& folder) {
    return QDir(folder).entryList({QStringLiteral("*.zrec")}, QDir::Files);
}

} // namespace

bool isRecoveryChild() {
    return !qEnvironmentVariableIsEmpty("ZARVEL_RECOVERY_CHILD");
}

// Opens the named file, edits it, waits until the journal is on disk, says so and
// waits to be killed.
int runRecoveryChild() {
    if (qEnvironmentVariable("ZARVEL_RECOVERY_SNAPSHOT") == QStringLiteral("never"))
        DocumentRecorder::smallTableBytes = 0;
    DocumentController controller(std::make_unique<ScriptedPrompts>());
    controller.setRecoveryStore(std::make_unique<RecoveryStore>(RecoveryStore::defaultFolder()));
    DocumentWindow* window = controller.openFile(qEnvironmentVariable("ZARVEL_RECOVERY_CHILD"));
    if (!window) return 2;
    editFruit(window);
    if (window->document()->table().allRows() != editedFruit || !waitUntilDurable(window)) return 3;
    std::puts("durable");
    std::fflush(stdout);
    for (;;)
        QTest::qWait(1000);
}

class RecoveryTest : public ShellTest {
protected:
    void SetUp() override {
        ShellTest::SetUp();
        ASSERT_TRUE(state.isValid());
        controller->setRecoveryStore(std::make_unique<RecoveryStore>(recoveryFolder()));
    }
    void TearDown() override {
        DocumentRecorder::smallTableBytes = 8u << 20;
        ShellTest::TearDown();
    }
    QString recoveryFolder() const { return state.filePath(QStringLiteral("zarvel/recovery")); }

    // A second run of the program over the same records.
    std::unique_ptr<DocumentController> nextRun(ScriptedPrompts*& answers) {
        auto owned = std::make_unique<ScriptedPrompts>();
        answers = owned.get();
        auto next = std::make_unique<DocumentController>(std::move(owned));
        next->setRecoveryStore(std::make_unique<RecoveryStore>(recoveryFolder()));
        return next;
    }
    // The run ends without anyone being asked, as a crash would end it.
    void endRun() { controller.reset(); }
    std::unique_ptr<DocumentController> nextRunController() {
        ScriptedPrompts* unused = nullptr;
        return nextRun(unused);
    }

    QTemporaryDir state;
};

TEST_F(RecoveryTest, AKilledRunIsRestoredWithItsUnsavedChanges) {
    for (const char* snapshot : {"small tables", "never"}) {
        SCOPED_TRACE(snapshot);
        const QString file = path(QStringLiteral("fruit.csv"));
        writeFile(file, fruit);
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("ZARVEL_RECOVERY_CHILD"), file);
        env.insert(QStringLiteral("ZARVEL_RECOVERY_SNAPSHOT"), QString::fromLatin1(snapshot));
        env.insert(QStringLiteral("XDG_STATE_HOME"), state.path());
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), {});
        ASSERT_TRUE(child.waitForStarted());
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return child.canReadLine() || child.state() == QProcess::NotRunning; }, 60000));
        ASSERT_EQ(child.readLine().trimmed(), "durable") << child.readAllStandardError().toStdString();
        ::kill(static_cast<pid_t>(child.processId()), SIGKILL);
        ASSERT_TRUE(child.waitForFinished());
        ASSERT_EQ(child.exitStatus(), QProcess::CrashExit);

        // The restoring run journals the same way: its snapshot is taken when due.
        if (QByteArray(snapshot) == "never") DocumentRecorder::smallTableBytes = 0;
        ScriptedPrompts* answers = nullptr;
        auto next = nextRun(answers);
        const QList<DocumentWindow*> restored = next->restoreRecoveredDocuments();
        ASSERT_EQ(answers->offeredForRecovery.size(), 1u);
        ASSERT_EQ(answers->offeredForRecovery[0].size(), 1);
        EXPECT_EQ(answers->offeredForRecovery[0][0].name, QStringLiteral("fruit.csv"));
        EXPECT_EQ(answers->offeredForRecovery[0][0].folder, folder.path());
        ASSERT_EQ(restored.size(), 1);
        DocumentWindow* window = restored[0];
        EXPECT_EQ(recordsIn(recoveryFolder()).size(), 1);
        EXPECT_FALSE(recorderOf(window)->hasPendingWrites()) << "the restored window's own record is on disk";
        EXPECT_EQ(window->document()->table().allRows(), editedFruit);
        EXPECT_TRUE(window->isWindowModified());
        EXPECT_EQ(window->document()->filePath(), file);
        EXPECT_TRUE(window->diskChangeBar()->isHidden()) << "the file is as the changes left it";
        EXPECT_TRUE(answers->errors.empty());
        // One step back is the file as it is on disk.
        window->undoStack()->undo();
        EXPECT_EQ(QByteArray::fromStdString(
                      CSVDocument::fileBytes(window->document()->table(), DocumentType::commaSeparatedText)),
                  fruit);

        // Saved now: the next run has nothing to offer.
        window->undoStack()->redo();
        ASSERT_TRUE(next->save(window));
        EXPECT_EQ(readFile(file), "name,qty\napple,10\nquince,2\nplum,3\n");
        next.reset();
        auto third = nextRun(answers);
        EXPECT_TRUE(third->restoreRecoveredDocuments().isEmpty());
        EXPECT_TRUE(answers->offeredForRecovery.empty());
        EXPECT_TRUE(recordsIn(recoveryFolder()).isEmpty());
    }
}

TEST_F(RecoveryTest, AnUntitledDocumentIsRestored) {
    DocumentWindow* window = controller->newDocument();
    enter(window, 0, 0, "café");
    enter(window, 0, 2, "x,y");
    ASSERT_TRUE(waitUntilDurable(window));
    const StringRows expected = window->document()->table().allRows();
    endRun();

    ScriptedPrompts* answers = nullptr;
    auto next = nextRun(answers);
    const QList<DocumentWindow*> restored = next->restoreRecoveredDocuments();
    ASSERT_EQ(restored.size(), 1);
    EXPECT_EQ(answers->offeredForRecovery.at(0).at(0).name, QStringLiteral("Untitled"));
    EXPECT_TRUE(restored[0]->document()->filePath().isEmpty());
    EXPECT_EQ(restored[0]->document()->table().allRows(), expected);
    EXPECT_TRUE(restored[0]->isWindowModified());
}

TEST_F(RecoveryTest, DiscardRemovesTheRecords) {
    enter(controller->newDocument(), 0, 0, "gone");
    ASSERT_TRUE(waitUntilDurable(controller->windows()[0]));
    endRun();
    ScriptedPrompts* answers = nullptr;
    auto next = nextRun(answers);
    answers->recoveryChoices = {RecoveryChoice::discard};
    EXPECT_TRUE(next->restoreRecoveredDocuments().isEmpty());
    EXPECT_EQ(next->documentCount(), 0);
    EXPECT_TRUE(recordsIn(recoveryFolder()).isEmpty());
}

TEST_F(RecoveryTest, ARecordOfARunningInstanceIsLeftAlone) {
    DocumentWindow* window = controller->newDocument();
    enter(window, 0, 0, "still open");
    ASSERT_TRUE(waitUntilDurable(window));

    ScriptedPrompts* answers = nullptr;
    auto other = nextRun(answers);
    EXPECT_TRUE(other->restoreRecoveredDocuments().isEmpty());
    EXPECT_TRUE(answers->offeredForRecovery.empty());
    EXPECT_EQ(recordsIn(recoveryFolder()).size(), 1) << "the running instance keeps its record";
}

TEST_F(RecoveryTest, ADamagedRecordIsSetAsideAndSaidOnce) {
    ASSERT_TRUE(RecoveryStore(recoveryFolder()).prepare());
    writeFile(QDir(recoveryFolder()).filePath(QStringLiteral("garbage.zrec")), "not a journal at all");
    // A good journal with one byte of its header changed.
    DocumentWindow* window = controller->newDocument();
    enter(window, 0, 0, "one");
    enter(window, 0, 1, "two");
    ASSERT_TRUE(waitUntilDurable(window));
    enter(window, 0, 2, "three");
    ASSERT_TRUE(waitUntilDurable(window));
    const QString journal = recorderOf(window)->journalPath();
    endRun();
    QByteArray bytes = readFile(journal);
    bytes[20] = static_cast<char>(bytes[20] ^ 0x5a);
    writeFile(journal, bytes);

    ScriptedPrompts* answers = nullptr;
    auto next = nextRun(answers);
    EXPECT_TRUE(next->restoreRecoveredDocuments().isEmpty());
    ASSERT_EQ(answers->errors.size(), 1u);
    EXPECT_EQ(answers->errors[0].message,
              QStringLiteral("Some unsaved changes from an earlier session could not be recovered."));
    EXPECT_TRUE(recordsIn(recoveryFolder()).isEmpty());
    EXPECT_EQ(QDir(recoveryFolder()).entryList({QStringLiteral("*.damaged")}).size(), 2);

    auto third = nextRun(answers);
    EXPECT_TRUE(third->restoreRecoveredDocuments().isEmpty());
    EXPECT_TRUE(answers->errors.empty()) << "said once";
}

TEST_F(RecoveryTest, ACleanSaveAndDontSaveRemoveTheRecord) {
    const QString file = path(QStringLiteral("fruit.csv"));
    writeFile(file, fruit);
    DocumentWindow* window = controller->openFile(file);
    EXPECT_TRUE(recordsIn(recoveryFolder()).isEmpty()) << "nothing unsaved yet";
    enter(window, 0, 0, "kiwi");
    ASSERT_TRUE(waitUntilDurable(window));
    EXPECT_EQ(recordsIn(recoveryFolder()).size(), 1);
    ASSERT_TRUE(controller->save(window));
    EXPECT_TRUE(recordsIn(recoveryFolder()).isEmpty());

    enter(window, 0, 0, "lime");
    ASSERT_TRUE(waitUntilDurable(window));
    EXPECT_EQ(recordsIn(recoveryFolder()).size(), 1);
    prompts->choices = {SaveChoice::dontSave};
    ASSERT_TRUE(window->close());
    EXPECT_TRUE(recordsIn(recoveryFolder()).isEmpty());
    EXPECT_EQ(readFile(file), "name,qty\nkiwi,1\npear,2\nplum,3\n");
    const QFileInfo info(recoveryFolder());
    EXPECT_EQ(info.permissions() &
                  (QFile::ReadGroup | QFile::ReadOther | QFile::WriteGroup | QFile::WriteOther),
              0);
}

TEST_F(RecoveryTest, ANamedFileWithARecordOpensOnceRestored) {
    const QString file = path(QStringLiteral("fruit.csv"));
    writeFile(file, fruit);
    // ZarvelApp keeps its records under XDG_STATE_HOME, which main() points at a scratch folder.
    controller->setRecoveryStore(std::make_unique<RecoveryStore>(RecoveryStore::defaultFolder()));
    DocumentWindow* window = controller->openFile(file);
    enter(window, 0, 0, "fig");
    ASSERT_TRUE(waitUntilDurable(window));
    endRun();

    auto owned = std::make_unique<ScriptedPrompts>();
    ScriptedPrompts* answers = owned.get();
    ZarvelApp app(std::move(owned));
    app.delegate().terminate = [] {};
    app.start({file});
    ASSERT_EQ(app.controller().documentCount(), 1);
    DocumentWindow* restored = app.controller().windows()[0];
    EXPECT_EQ(cell(restored, 1, 0), "fig");
    EXPECT_TRUE(restored->isWindowModified());
    EXPECT_EQ(answers->offeredForRecovery.size(), 1u);
    // Later runs of the tests see no record.
    answers->choices = {SaveChoice::dontSave};
    EXPECT_TRUE(app.controller().closeAll());
    EXPECT_TRUE(recordsIn(RecoveryStore::defaultFolder()).isEmpty());
}

TEST_F(RecoveryTest, ChangesToAFileThatChangedSinceAreRestoredAsTheUsersVersion) {
    // A small table's record starts from a snapshot; a large one's from a copy of the file.
    for (const bool snapshot : {true, false}) {
        SCOPED_TRACE(snapshot ? "snapshot" : "copy of the file");
        DocumentRecorder::smallTableBytes = snapshot ? 8u << 20 : 0;
        if (!controller) controller = nextRunController();
        const QString file = path(QStringLiteral("fruit.csv"));
        writeFile(file, fruit);
        DocumentWindow* window = controller->openFile(file);
        enter(window, 0, 0, "mango");
        ASSERT_TRUE(waitUntilDurable(window));
        endRun();
        writeFile(file, "name,qty\nbanana,9\n");

        ScriptedPrompts* answers = nullptr;
        auto next = nextRun(answers);
        const QList<DocumentWindow*> restored = next->restoreRecoveredDocuments();
        ASSERT_EQ(restored.size(), 1);
        EXPECT_EQ(restored[0]->document()->table().allRows(),
                  (StringRows{{"name", "qty"}, {"mango", "1"}, {"pear", "2"}, {"plum", "3"}}));
        EXPECT_TRUE(restored[0]->isWindowModified());
        EXPECT_FALSE(restored[0]->diskChangeBar()->isHidden()) << "the window says the file changed";
        EXPECT_FALSE(next->save(restored[0])) << "Cancel is the default";
        EXPECT_EQ(answers->askedToOverwrite, QStringList{QStringLiteral("fruit.csv")});
        EXPECT_EQ(readFile(file), "name,qty\nbanana,9\n");
        restored[0]->undoStack()->setClean(); // nothing left for the next round
        next.reset();
    }
}

// A large file is read in the background, as when it is opened, and the changes are
// replayed over it when it lands; a cancelled read keeps the record for the next start.
TEST_F(RecoveryTest, ALargeFileIsReadInTheBackgroundThenTheChangesReplayed) {
    const QString file = path(QStringLiteral("large.csv"));
    QByteArray bytes("name,qty\n");
    for (int i = 0; i < 120000; ++i)
        bytes += "item " + QByteArray::number(i) + "," + QByteArray::number(i) + "\n";
    ASSERT_GT(bytes.size(), static_cast<qsizetype>(CSVDocument::backgroundThreshold));
    writeFile(file, bytes);
    DocumentWindow* window = controller->openFile(file);
    ASSERT_NE(window, nullptr);
    QTRY_VERIFY_WITH_TIMEOUT(!window->session()->isOpening(), 60000);
    enter(window, 0, 0, "mango");
    ASSERT_TRUE(waitUntilDurable(window));
    endRun();

    for (const bool cancel : {true, false}) {
        SCOPED_TRACE(cancel ? "cancelled" : "landed");
        ScriptedPrompts* answers = nullptr;
        auto next = nextRun(answers);
        const QList<DocumentWindow*> restored = next->restoreRecoveredDocuments();
        ASSERT_EQ(restored.size(), 1);
        DocumentWindow* w = restored[0];
        ASSERT_TRUE(w->session()->isOpening()) << "the window comes at once";
        if (cancel) {
            w->statusStrip()->cancelOpeningButton()->click();
            QTRY_VERIFY_WITH_TIMEOUT(next->windows().isEmpty(), 60000);
            EXPECT_TRUE(answers->errors.empty());
            next.reset();
            EXPECT_EQ(recordsIn(recoveryFolder()).size(), 1) << "kept for the next start";
            continue;
        }
        QTRY_VERIFY_WITH_TIMEOUT(!w->session()->isOpening(), 60000);
        const CSVTable t = w->document()->table();
        EXPECT_EQ(t.value(1, 0), "mango");
        EXPECT_EQ(t.value(2, 0), "item 1");
        EXPECT_EQ(t.dataRowCount(), 120000);
        EXPECT_TRUE(w->isWindowModified());
        EXPECT_EQ(w->undoStack()->undoText(), QStringLiteral("Recover Unsaved Changes"));
        EXPECT_TRUE(answers->errors.empty());
        w->undoStack()->setClean();
        next.reset();
    }
}

} // namespace zarvel::test
