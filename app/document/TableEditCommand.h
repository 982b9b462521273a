// TableEditCommand: one undo step on the window's QUndoStack. It holds the edit that
// undoes the step; undo() and redo() apply the held edit through the document and keep
// the edit that application returns for the next turn, so the two alternate forever.
#pragma once

#include "app/document/CSVDocument.h"

#include <QPointer>
#include <QUndoCommand>

namespace zarvel {

class TableEditCommand : public QUndoCommand {
public:
    TableEditCommand(CSVDocument* document, TableEdit inverse, const QString& actionName)
        : QUndoCommand(actionName), document_(document), edit_(std::move(inverse)) {}

    void undo() override { turn(); }
    void redo() override {
        // push() calls redo() once; the edit is already applied then.
        if (pushed_) {
            pushed_ = false;
            return;
        }
        turn();
    }

private:
    void turn() {
        if (document_) edit_ = document_->applyEdit(edit_);
    }

    QPointer<CSVDocument> document_;
    TableEdit edit_;
    bool pushed_ = true;
};

} // namespace zarvel
