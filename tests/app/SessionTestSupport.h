// A document, an undo stack and a session wired as a window wires them, for driving the
// session as a user would.
#pragma once

#include "app/document/CSVDocument.h"
#include "app/session/EditorSession.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QUndoStack>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace zarvel::test {

// Runs the event loop until `done` holds; false after the timeout.
inline bool waitUntil(const std::function<bool()>& done, int timeoutMs = 10000) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

class SessionTest : public ::testing::Test {
protected:
    void open(std::string_view text) {
        session.reset();
        document = CSVDocument::fromBytes(SharedBytes::copyOf(text));
        start();
    }
    void openNew() {
        session.reset();
        document = std::make_unique<CSVDocument>();
        start();
    }
    void start() {
        undo.clear();
        session = std::make_unique<EditorSession>(document.get());
        session->setUndoManager(&undo);
        session->setVisibleRect({0, 0, 800, 22 * 12});
        session->sync();
    }

    CSVTable table() const { return document->table(); }
    StringRows rows() const { return table().allRows(); }
    std::string cell(int64_t row, int64_t column) const { return table().value(row, column); }

    bool key(GridKey::Key k, GridKey::Modifiers m = {}) { return session->handleKey(GridKey::press(k, m)); }
    void type(std::string_view text) {
        for (char c : text)
            session->handleKey(GridKey::typed(std::string(1, c)));
    }
    void select(int64_t row, int64_t column) { session->setSelection({{row, column}, {row, column}}); }
    void select(GridCell anchor, GridCell active) { session->setSelection({anchor, active}); }
    GridCell active() const { return session->selection().active; }
    QString undoText() const { return undo.undoText(); }
    bool waitIdle() {
        return waitUntil([this] { return !session->isBusy(); });
    }

    // Undoing every step restores `before`; redoing them all gives `after`.
    void expectUndoRedoRestores(const StringRows& before, const StringRows& after) {
        while (undo.canUndo())
            session->undo();
        EXPECT_EQ(rows(), before);
        while (undo.canRedo())
            session->redo();
        EXPECT_EQ(rows(), after);
    }

    QUndoStack undo;
    std::unique_ptr<CSVDocument> document;
    std::unique_ptr<EditorSession> session;
};

} // namespace zarvel::test
