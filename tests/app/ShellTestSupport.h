// Helpers for driving document windows as a user would: scripted answers for the
// dialogs, temporary files, and typing into the grid.
#pragma once

// Before the views: GridView.h names QPlainTextEdit without declaring it first.
#include <QPlainTextEdit>

#include "app/document/CSVDocument.h"
#include "app/session/EditorSession.h"
#include "app/shell/DocumentController.h"
#include "app/shell/DocumentWindow.h"
#include "app/views/FindBar.h"
#include "app/views/GridView.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <deque>
#include <optional>
#include <ostream>

// Readable texts in failure messages.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace zarvel::test {

// Answers the controller's questions from a script and remembers what it was asked.
class ScriptedPrompts : public DocumentPrompts {
public:
    struct Error {
        QString message;
        QString detail;
    };

    QStringList chooseFilesToOpen(QWidget*, const QString& directory) override {
        ++openPanels;
        openPanelFolder = directory;
        return take(filesToOpen, QStringList());
    }
    std::optional<SaveTarget> chooseSaveTarget(QWidget*, const QString& suggestedPath,
                                               DocumentType suggestedType) override {
        suggestions.push_back({suggestedPath, suggestedType});
        return take(saveTargets, std::optional<SaveTarget>()); // none left: the user cancels
    }
    SaveChoice askToSaveChanges(QWidget*, const QString& documentName) override {
        askedAbout << documentName;
        return take(choices, SaveChoice::cancel);
    }
    void showError(QWidget*, const QString& message, const QString& detail) override {
        errors.push_back({message, detail});
    }
    OverwriteChoice askToOverwriteChangedFile(QWidget*, const QString& documentName) override {
        askedToOverwrite << documentName;
        return take(overwriteChoices, OverwriteChoice::cancel);
    }
    RecoveryChoice askToRestore(QWidget*, const QList<RecoveryRecord>& records) override {
        offeredForRecovery.push_back(records);
        return take(recoveryChoices, RecoveryChoice::restore);
    }

    std::deque<QStringList> filesToOpen;
    std::deque<SaveTarget> saveTargets;
    std::deque<SaveChoice> choices;
    std::deque<OverwriteChoice> overwriteChoices;
    std::deque<RecoveryChoice> recoveryChoices;

    int openPanels = 0;
    QString openPanelFolder;
    std::vector<SaveTarget> suggestions;
    QStringList askedAbout;
    QStringList askedToOverwrite;
    std::vector<QList<RecoveryRecord>> offeredForRecovery;
    std::vector<Error> errors;

private:
    template <class T, class Answer> static Answer take(std::deque<T>& answers, Answer otherwise) {
        if (!answers.empty()) {
            otherwise = std::move(answers.front());
            answers.pop_front();
        }
        return otherwise;
    }
};

inline void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

inline QByteArray readFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return file.readAll();
}

inline QString examplePath(const char* name) {
    return QStringLiteral(ZARVEL_TEST_DATA_DIR "/../examples/") + QString::fromLatin1(name);
}

inline bool showAndActivate(QWidget* window) {
    window->show();
    window->activateWindow();
    QApplication::setActiveWindow(window);
    return QTest::qWaitForWindowActive(window);
}

// Selects a cell as a click would, then types into the grid without pressing Return,
// so the text is still a draft.
inline void typeOver(DocumentWindow* window, int64_t row, int64_t column, const char* text) {
    window->session()->setSelection({{row, column}, {row, column}});
    window->gridView()->setFocus();
    for (const QChar c : QString::fromUtf8(text)) {
        if (c.unicode() < 128)
            QTest::keyClick(window->gridView(), c.toLatin1());
        else // what an input method delivers for a character without a key of its own
            QTest::sendKeyEvent(QTest::Click, window->gridView(), Qt::Key_unknown, QString(c),
                                Qt::NoModifier);
    }
}

inline std::string cell(const DocumentWindow* window, int64_t row, int64_t column) {
    return window->document()->table().value(row, column);
}

// A controller whose dialogs are scripted, with a scratch folder for files.
class ShellTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder.isValid());
        auto owned = std::make_unique<ScriptedPrompts>();
        prompts = owned.get();
        controller = std::make_unique<DocumentController>(std::move(owned));
    }
    void TearDown() override { controller.reset(); }

    QString path(const QString& name) const { return folder.filePath(name); }
    // A copy of an example file in the scratch folder, under its own name or `as`.
    QString copyExample(const char* name, const char* as = nullptr) {
        const QString copy = path(QString::fromLatin1(as ? as : name));
        QFile::copy(examplePath(name), copy);
        return copy;
    }

    QTemporaryDir folder;
    ScriptedPrompts* prompts = nullptr;
    std::unique_ptr<DocumentController> controller;
};

} // namespace zarvel::test
