// DiskChangeBar: the strip above the grid that says another program changed the
// document's file, with Reload and Ignore. It watches the file and its folder (a
// replace-by-rename ends the watch on the old file, so the watch is set again) and
// checks the file a moment after the last notice.
#pragma once

#include "app/document/FileIdentity.h"

#include <QFileSystemWatcher>
#include <QFrame>
#include <QPointer>
#include <QTimer>

#include <optional>

class QPushButton;

namespace zarvel {

class CSVDocument;

class DiskChangeBar : public QFrame {
    Q_OBJECT
public:
    static constexpr int settleMs = 200;

    DiskChangeBar(CSVDocument* document, QWidget* parent = nullptr);

    // Compares the file with the document now and shows or hides the bar.
    void check();
    QPushButton* reloadButton() const { return reload_; }
    QPushButton* ignoreButton() const { return ignore_; }

Q_SIGNALS:
    void reloadRequested();

private:
    void watch();

    QPointer<CSVDocument> document_;
    QFileSystemWatcher watcher_;
    QTimer settle_;
    QPushButton* reload_ = nullptr;
    QPushButton* ignore_ = nullptr;
    // The file's status when the user chose Ignore: that change is not told again.
    std::optional<FileIdentity> ignored_;
};

} // namespace zarvel
