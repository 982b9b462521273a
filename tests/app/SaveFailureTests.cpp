// Saving and opening when the file system works against us: whatever fails, the file
// on disk is the old one or the complete new one, and the user is told in plain words.
#include "ShellTestSupport.h"

#include <QDirIterator>
#include <QSaveFile>

#include <cstdlib>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace zarvel;
using zarvel::test::readFile;
using zarvel::test::writeFile;

namespace {

// A save file that accepts `budget` bytes and then fails, as a full disk would.
class FailingSaveFile : public QSaveFile {
public:
    FailingSaveFile(const QString& path, qint64 budget) : QSaveFile(path), budget_(budget) {}

protected:
    qint64 writeData(const char* data, qint64 length) override {
        if (budget_ <= 0) {
            setErrorString(QStringLiteral("No space left on device"));
            return -1;
        }
        const qint64 n = std::min(length, budget_);
        budget_ -= n;
        return QSaveFile::writeData(data, n);
    }

private:
    qint64 budget_;
};

class SaveFailureTest : public zarvel::test::ShellTest {
protected:
    // An opened copy of people.csv with one edited cell.
    DocumentWindow* openEdited() {
        file = copyExample("people.csv");
        original = readFile(file);
        DocumentWindow* window = controller->openFile(file);
        window->document()->apply(TableEdit::setCells({{1, 1, "Ada King"}}), window->undoStack(), QStringLiteral("Edit Cell"));
        return window;
    }
    QByteArray newBytes(DocumentWindow* window) const {
        const std::string bytes = CSVDocument::fileBytes(window->document()->snapshot(), DocumentType::commaSeparatedText);
        return QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
    }
    QStringList folderEntries() const { return QDir(folder.path()).entryList(QDir::Files | QDir::Hidden); }

    QString file;
    QByteArray original;
};

} // namespace

TEST_F(SaveFailureTest, AWriteThatFailsHalfWayLeavesTheOldFile) {
    DocumentWindow* window = openEdited();
    const QStringList before = folderEntries();
    controller->setSaveFileFactory([](const QString& path) { return std::make_unique<FailingSaveFile>(path, 40); });
    EXPECT_FALSE(controller->save(window));
    EXPECT_EQ(readFile(file), original) << "never a mix of old and new bytes";
    EXPECT_EQ(folderEntries(), before) << "no temporary file left behind";
    ASSERT_EQ(prompts->errors.size(), 1u);
    EXPECT_EQ(prompts->errors[0].message, QStringLiteral("The document could not be saved as \u201Cpeople.csv\u201D."));
    EXPECT_TRUE(prompts->errors[0].detail.contains(QStringLiteral("No space left on device"))) << prompts->errors[0].detail.toStdString();
    EXPECT_TRUE(window->isWindowModified()) << "the edits are still unsaved";

    controller->setSaveFileFactory({});
    EXPECT_TRUE(controller->save(window));
    EXPECT_EQ(readFile(file), newBytes(window));
}

TEST_F(SaveFailureTest, AFileDeletedWhileOpenIsWrittenAgainWhole) {
    DocumentWindow* window = openEdited();
    ASSERT_TRUE(QFile::remove(file));
    EXPECT_TRUE(controller->save(window));
    EXPECT_EQ(readFile(file), newBytes(window));
    EXPECT_TRUE(prompts->askedToOverwrite.isEmpty()) << "nothing of anyone's is overwritten";
}

TEST_F(SaveFailureTest, AFileReplacedWhileOpenIsReplacedWholeOnlyWhenTheUserSaysSo) {
    DocumentWindow* window = openEdited();
    const QByteArray theirs = QByteArray("something else entirely\n").repeated(1000);
    writeFile(file, theirs);
    EXPECT_FALSE(controller->save(window)) << "Cancel is the default";
    EXPECT_EQ(readFile(file), theirs);
    prompts->overwriteChoices = {OverwriteChoice::overwrite};
    EXPECT_TRUE(controller->save(window));
    EXPECT_EQ(readFile(file), newBytes(window));
    EXPECT_EQ(prompts->askedToOverwrite.size(), 2);
}

TEST_F(SaveFailureTest, AFolderThatRefusesNewFilesLeavesTheOldFile) {
    DocumentWindow* window = openEdited();
    // Permissions do not stop root; an immutable folder stops everyone.
    const QByteArray dir = QFile::encodeName(folder.path());
    if (std::system(("chattr +i '" + dir + "' 2>/dev/null").constData()) != 0)
        GTEST_SKIP() << "cannot make the folder immutable here";
    const bool saved = controller->save(window);
    std::system(("chattr -i '" + dir + "'").constData());
    EXPECT_FALSE(saved);
    EXPECT_EQ(readFile(file), original);
    ASSERT_EQ(prompts->errors.size(), 1u);
    EXPECT_FALSE(prompts->errors[0].detail.isEmpty());
}

TEST_F(SaveFailureTest, OpeningWhatCannotBeReadOpensNothing) {
    const QString fifo = path(QStringLiteral("pipe.csv"));
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString gone = path(QStringLiteral("gone.csv"));
    writeFile(gone, "a,b\n");
    QFile::remove(gone);
    for (const QString& p : {fifo, gone, folder.path()}) EXPECT_EQ(controller->openFile(p), nullptr) << p.toStdString();
    EXPECT_EQ(controller->documentCount(), 0);
    ASSERT_EQ(prompts->errors.size(), 3u);
    EXPECT_EQ(prompts->errors[0].detail, QStringLiteral("The item is not a regular file."));
    EXPECT_EQ(prompts->errors[1].detail, QStringLiteral("The file does not exist."));
    EXPECT_EQ(prompts->errors[2].detail, QStringLiteral("The item is a folder, not a file."));
    EXPECT_EQ(prompts->errors[1].message, QStringLiteral("The document \u201Cgone.csv\u201D could not be opened."));
}

TEST_F(SaveFailureTest, AFileWithoutReadPermissionIsReportedAsSuch) {
    const QString locked = path(QStringLiteral("locked.csv"));
    writeFile(locked, "a,b\n1,2\n");
    ASSERT_EQ(chmod(QFile::encodeName(locked).constData(), 0000), 0);
    chmod(QFile::encodeName(folder.path()).constData(), 0755);
    // Root reads everything, so the check runs in a child that gives up root.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (getuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(3);
        DocumentError error;
        const bool opened = CSVDocument::open(locked, error) != nullptr;
        _exit(!opened && error.kind == DocumentError::Kind::permissionDenied ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 3) GTEST_SKIP() << "cannot give up root here";
    EXPECT_EQ(WEXITSTATUS(status), 0);
    DocumentError error;
    error.kind = DocumentError::Kind::permissionDenied;
    EXPECT_EQ(error.message(), QStringLiteral("You do not have permission to read the file."));
}
