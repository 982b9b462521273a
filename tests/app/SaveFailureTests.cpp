// Saving and opening when the file system works against us: whatever fails, the file
// on disk is the old one or the complete new one, and the user is told in plain words.
#include "ShellTestSupport.h"
#include "tests/SaveFaults.h"

#include <QDirIterator>

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace zarvel;
using zarvel::test::diskFullAfter;
using zarvel::test::readFile;
using zarvel::test::writeFile;

namespace {

class SaveFailureTest : public zarvel::test::ShellTest {
protected:
    // An opened copy of people.csv with one edited cell.
    DocumentWindow* openEdited() {
        file = copyExample("people.csv");
        original = readFile(file);
        DocumentWindow* window = controller->openFile(file);
        window->document()->apply(TableEdit::setCells({{1, 1, "Ada King"}}), window->undoStack(),
                                  QStringLiteral("Edit Cell"));
        return window;
    }
    QByteArray newBytes(DocumentWindow* window) const {
        const std::string bytes =
            CSVDocument::fileBytes(window->document()->snapshot(), DocumentType::commaSeparatedText);
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
    controller->setSaveWriteHook(diskFullAfter(40));
    EXPECT_FALSE(controller->save(window));
    EXPECT_EQ(readFile(file), original) << "never a mix of old and new bytes";
    EXPECT_EQ(folderEntries(), before) << "no temporary file left behind";
    ASSERT_EQ(prompts->errors.size(), 1u);
    EXPECT_EQ(prompts->errors[0].message,
              QStringLiteral("The document could not be saved as \u201Cpeople.csv\u201D."));
    EXPECT_EQ(prompts->errors[0].detail, QStringLiteral("The file could not be written: the disk is full."));
    EXPECT_TRUE(window->isWindowModified()) << "the edits are still unsaved";

    controller->setSaveWriteHook({});
    EXPECT_TRUE(controller->save(window));
    EXPECT_EQ(readFile(file), newBytes(window));
}

// The window saves as the command line does: the file keeps its owner, permissions and
// other names, and a failure part way leaves every name with the old content.
TEST_F(SaveFailureTest, SavingKeepsTheFilesOwnerModeAndLinks) {
    if (geteuid() != 0) GTEST_SKIP() << "giving the file to another user needs root";
    DocumentWindow* window = openEdited();
    const QByteArray name = QFile::encodeName(file);
    ASSERT_EQ(chown(name.constData(), 65534, 65534), 0);
    ASSERT_EQ(chmod(name.constData(), 0640), 0);
    const auto expectIdentity = [&](nlink_t links) {
        struct stat st {};
        ASSERT_EQ(stat(name.constData(), &st), 0);
        EXPECT_EQ(st.st_uid, 65534u);
        EXPECT_EQ(st.st_gid, 65534u);
        EXPECT_EQ(st.st_mode & 07777, 0640u);
        EXPECT_EQ(st.st_nlink, links);
    };
    EXPECT_TRUE(controller->save(window));
    EXPECT_EQ(readFile(file), newBytes(window));
    expectIdentity(1);

    // With a second name the file is written in place; a failure puts the old content back.
    const QString otherName = path(QStringLiteral("other-name.csv"));
    ASSERT_EQ(link(name.constData(), QFile::encodeName(otherName).constData()), 0);
    const QByteArray saved = readFile(file);
    const QStringList entries = folderEntries();
    window->document()->apply(TableEdit::setCells({{2, 1, "Grace"}}), window->undoStack(),
                              QStringLiteral("Edit Cell"));
    controller->setSaveWriteHook(diskFullAfter(40));
    EXPECT_FALSE(controller->save(window));
    ASSERT_EQ(prompts->errors.size(), 1u);
    EXPECT_EQ(
        prompts->errors[0].detail,
        QStringLiteral("The file could not be written: the disk is full; the old content was put back."));
    EXPECT_EQ(readFile(otherName), saved);
    EXPECT_EQ(folderEntries(), entries) << "the copy of the old content is gone";

    controller->setSaveWriteHook({});
    EXPECT_TRUE(controller->save(window));
    EXPECT_EQ(readFile(otherName), newBytes(window)) << "the other name sees the new content";
    expectIdentity(2);
    EXPECT_EQ(folderEntries(), entries);
}

TEST_F(SaveFailureTest, AReadOnlyFileIsRefusedEvenForRoot) {
    DocumentWindow* window = openEdited();
    ASSERT_EQ(chmod(QFile::encodeName(file).constData(), 0444), 0);
    EXPECT_FALSE(controller->save(window));
    EXPECT_EQ(readFile(file), original);
    ASSERT_EQ(prompts->errors.size(), 1u);
    EXPECT_EQ(prompts->errors[0].detail,
              QStringLiteral("The file is locked, or you do not have permission to change it."));
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
    for (const QString& p : {fifo, gone, folder.path()})
        EXPECT_EQ(controller->openFile(p), nullptr) << p.toStdString();
    EXPECT_EQ(controller->documentCount(), 0);
    ASSERT_EQ(prompts->errors.size(), 3u);
    EXPECT_EQ(prompts->errors[0].detail, QStringLiteral("The item is not a regular file."));
    EXPECT_EQ(prompts->errors[1].detail, QStringLiteral("The file does not exist."));
    EXPECT_EQ(prompts->errors[2].detail, QStringLiteral("The item is a folder, not a file."));
    EXPECT_EQ(prompts->errors[1].message,
              QStringLiteral("The document \u201Cgone.csv\u201D could not be opened."));
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
