#include "app/shell/DiskChangeBar.h"

#include "app/document/CSVDocument.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

namespace zarvel {

DiskChangeBar::DiskChangeBar(CSVDocument* document, QWidget* parent) : QFrame(parent), document_(document) {
    setObjectName(QStringLiteral("diskChangeBar"));
    setFrameShape(QFrame::StyledPanel);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(10, 4, 10, 4);
    layout->addWidget(new QLabel(QStringLiteral("The file has changed on disk."), this), 1);
    reload_ = new QPushButton(QStringLiteral("Reload"), this);
    ignore_ = new QPushButton(QStringLiteral("Ignore"), this);
    layout->addWidget(reload_);
    layout->addWidget(ignore_);
    hide();

    connect(reload_, &QPushButton::clicked, this, &DiskChangeBar::reloadRequested);
    connect(ignore_, &QPushButton::clicked, this, [this] {
        if (document_) ignored_ = FileIdentity::of(document_->filePath(), {});
        hide();
    });
    settle_.setSingleShot(true);
    settle_.setInterval(settleMs);
    connect(&settle_, &QTimer::timeout, this, [this] {
        watch();
        check();
    });
    connect(&watcher_, &QFileSystemWatcher::fileChanged, &settle_, qOverload<>(&QTimer::start));
    connect(&watcher_, &QFileSystemWatcher::directoryChanged, &settle_, qOverload<>(&QTimer::start));
    connect(document, &CSVDocument::filePathChanged, this, [this] {
        watch();
        check();
    });
    watch();
}

void DiskChangeBar::watch() {
    if (!document_) return;
    const QString path = document_->filePath();
    const QStringList wanted =
        path.isEmpty() ? QStringList() : QStringList{path, QFileInfo(path).absolutePath()};
    QStringList stale = watcher_.files() + watcher_.directories();
    for (const QString& p : wanted)
        stale.removeAll(p);
    if (!stale.isEmpty()) watcher_.removePaths(stale);
    for (const QString& p : wanted)
        if (!watcher_.files().contains(p) && !watcher_.directories().contains(p) && QFileInfo::exists(p))
            watcher_.addPath(p);
}

void DiskChangeBar::check() {
    if (!document_ || document_->diskState() != DiskState::changed) {
        ignored_.reset();
        hide();
        return;
    }
    std::optional<FileIdentity> now = FileIdentity::of(document_->filePath(), {});
    if (ignored_ && now && now->device == ignored_->device && now->inode == ignored_->inode &&
        now->size == ignored_->size && now->modifiedNs == ignored_->modifiedNs)
        return;
    ignored_.reset();
    show();
}

} // namespace zarvel
