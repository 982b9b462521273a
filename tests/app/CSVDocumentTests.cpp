#include "SessionTestSupport.h"

#include "app/document/DocumentType.h"

#include <QSignalSpy>
#include <QTemporaryDir>

#include <atomic>
#include <sys/stat.h>
#include <thread>

using namespace zarvel;

TEST(CSVDocument, NewDocumentHasThreeNamedColumnsAndNoReport) {
    CSVDocument d;
    EXPECT_EQ(d.table().allRows(), (StringRows{{"Column 1", "Column 2", "Column 3"}, {"", "", ""}}));
    EXPECT_EQ(d.table().format(), FileFormat::standard());
    EXPECT_FALSE(d.report());
    EXPECT_FALSE(d.originalData());
    EXPECT_EQ(d.revision(), 0);
}

TEST(CSVDocument, UndoAndRedoAlternateWithoutLimitAndRaiseTheRevision) {
    auto d = CSVDocument::fromBytes(SharedBytes::copyOf("a,b\n1,2\n"));
    QUndoStack undo;
    QSignalSpy revisions(d.get(), &CSVDocument::revisionChanged);
    d->apply(TableEdit::setCells({{1, 0, "x"}}), &undo, QStringLiteral("Edit Cell"));
    EXPECT_EQ(undo.undoText(), QStringLiteral("Edit Cell"));
    for (int i = 0; i < 3; ++i) {
        undo.undo();
        EXPECT_EQ(d->table().value(1, 0), "1");
        EXPECT_EQ(undo.redoText(), QStringLiteral("Edit Cell"));
        undo.redo();
        EXPECT_EQ(d->table().value(1, 0), "x");
    }
    EXPECT_EQ(d->revision(), 7);
    EXPECT_EQ(revisions.count(), 7);
    d->apply(TableEdit::setCells({{1, 1, "y"}}));
    EXPECT_EQ(undo.count(), 1) << "an edit without an undo stack cannot be undone";
}

TEST(CSVDocument, ReinterpretUndoKeepsTheNewReport) {
    auto d = CSVDocument::fromBytes(SharedBytes::copyOf("a;b\n1;2\n"));
    QUndoStack undo;
    ReadOptions o;
    o.dialect = CSVDialect::comma();
    d->reinterpret(CSVReader::read(*d->originalData(), o), &undo);
    EXPECT_EQ(d->table().columnCount(), 1);
    EXPECT_EQ(undo.undoText(), QStringLiteral("Reinterpret File"));
    undo.undo();
    EXPECT_EQ(d->table().columnCount(), 2);
    EXPECT_EQ(d->report()->format.dialect, CSVDialect::comma());
}

TEST(CSVDocument, SavedDelimiterFollowsTheChosenType) {
    const CSVTable tabs = CSVDocument::fromBytes(SharedBytes::copyOf("a\tb\n1\t2\n"))->table();
    const CSVTable semis = CSVDocument::fromBytes(SharedBytes::copyOf("a;b\n1;2\n"))->table();
    EXPECT_EQ(CSVDocument::fileBytes(tabs, DocumentType::commaSeparatedText), "a,b\n1,2\n");
    EXPECT_EQ(CSVDocument::fileBytes(semis, DocumentType::commaSeparatedText), "a;b\n1;2\n");
    EXPECT_EQ(CSVDocument::fileBytes(semis, DocumentType::pipeText), "a|b\n1|2\n");
    EXPECT_EQ(CSVDocument::fileBytes(semis, DocumentType::tabSeparatedText), "a\tb\n1\t2\n");
    EXPECT_EQ(CSVDocument::fileBytes(semis, DocumentType::plainText), "a;b\n1;2\n");
    EXPECT_EQ(CSVDocument::fileBytes(semis, DocumentType::tabText), "a\tb\n1\t2\n");
    EXPECT_EQ(semis.format().dialect.delimiter, ';') << "the table's format is untouched";
}

TEST(DocumentType, ConformanceOfTheProgramsOwnTypes) {
    EXPECT_TRUE(conformsTo(DocumentType::tabText, DocumentType::tabSeparatedText));
    EXPECT_TRUE(conformsTo(DocumentType::utf8TabSeparatedText, DocumentType::tabSeparatedText));
    EXPECT_TRUE(conformsTo(DocumentType::pipeText, DocumentType::delimitedText));
    EXPECT_FALSE(conformsTo(DocumentType::delimiterSeparatedText, DocumentType::tabSeparatedText));
    EXPECT_FALSE(conformsTo(DocumentType::commaSeparatedText, DocumentType::tabSeparatedText));
    EXPECT_EQ(documentTypeForFileName(QStringLiteral("x.PSV")), DocumentType::pipeText);
    EXPECT_EQ(documentTypeForNameFilter(nameFilter(DocumentType::pipeText)), DocumentType::pipeText);
}

TEST(CSVDocument, OpeningRefusesWhatIsNotARegularTextFile) {
    QTemporaryDir dir;
    DocumentError error;
    EXPECT_FALSE(CSVDocument::open(dir.path(), error));
    EXPECT_EQ(error.kind, DocumentError::Kind::isDirectory);
    EXPECT_FALSE(CSVDocument::open(dir.filePath(QStringLiteral("missing.csv")), error));
    EXPECT_EQ(error.kind, DocumentError::Kind::notFound);
    const QString fifo = dir.filePath(QStringLiteral("pipe"));
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    EXPECT_FALSE(CSVDocument::open(fifo, error)) << "must not block waiting for a writer";
    EXPECT_EQ(error.kind, DocumentError::Kind::notRegularFile);

    QFile binary(dir.filePath(QStringLiteral("bin.csv")));
    ASSERT_TRUE(binary.open(QIODevice::WriteOnly));
    binary.write(QByteArray("a\0\0\0b\0c\0\0\0\0\0", 12));
    binary.close();
    EXPECT_FALSE(CSVDocument::open(binary.fileName(), error));
    EXPECT_EQ(error.kind, DocumentError::Kind::content);
    EXPECT_EQ(error.message(), QStringLiteral("The file does not hold text (it looks like binary data)."));

    QFile latin(dir.filePath(QStringLiteral("latin.csv")));
    ASSERT_TRUE(latin.open(QIODevice::WriteOnly));
    latin.write("name\ncaf\xE9\n");
    latin.close();
    auto ok = CSVDocument::open(latin.fileName(), error);
    ASSERT_TRUE(ok);
    EXPECT_EQ(ok->table().value(1, 0), "caf\xC3\xA9");
    EXPECT_EQ(ok->filePath(), latin.fileName());
}

TEST(CSVDocument, UTF8BytesAreSharedWithTheTable) {
    auto bytes = SharedBytes::copyOf("\xEF\xBB\xBFx,y\n");
    auto d = CSVDocument::fromBytes(bytes);
    const CSVTable table = d->table();
    EXPECT_TRUE(d->originalData()->sharesStorageWith(table.source()));
}

TEST(CSVDocument, SnapshotsOnAnotherThreadAreConsistentWhileTheMainThreadEdits) {
    auto d = CSVDocument::fromBytes(SharedBytes::copyOf("a,b\n0,0\n"));
    std::atomic<bool> stop{false};
    std::atomic<int> inconsistent{0}, taken{0};
    std::thread saver([&] {
        while (!stop) {
            const CSVTable t = d->snapshot();
            // Every edit writes both cells to the same number.
            if (t.value(1, 0) != t.value(1, 1)) ++inconsistent;
            (void)CSVDocument::fileBytes(t, DocumentType::commaSeparatedText);
            ++taken;
        }
    });
    for (int i = 1; i <= 2000; ++i) {
        const std::string v = std::to_string(i);
        d->apply(TableEdit::setCells({{1, 0, v}, {1, 1, v}}));
    }
    zarvel::test::waitUntil([&] { return taken > 10; });
    stop = true;
    saver.join();
    EXPECT_EQ(inconsistent, 0);
    EXPECT_EQ(d->table().value(1, 1), "2000");
}

TEST(CSVDocument, SignalsAreEmittedWithoutTheLockHeld) {
    auto d = CSVDocument::fromBytes(SharedBytes::copyOf("a\n1\n"));
    int seen = 0;
    // Reading the table from the slot would deadlock if the lock were still held.
    QObject::connect(d.get(), &CSVDocument::revisionChanged, d.get(),
                     [&] { seen += d->table().rowCount() > 0; });
    d->apply(TableEdit::setCells({{1, 0, "2"}}));
    EXPECT_EQ(seen, 1);
}
