#include "app/shell/RecentFiles.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QWidget>

namespace zarvel::RecentFiles {

namespace {

const QString recentKey = QStringLiteral("recentFiles");
const QString folderKey = QStringLiteral("lastFolder");
const QString geometryKey = QStringLiteral("window/geometry");

// How far a window opened over another one steps down and right.
constexpr int cascadeStep = 28;

void store(const QStringList& list) {
    QSettings settings;
    if (list.isEmpty())
        settings.remove(recentKey);
    else
        settings.setValue(recentKey, list);
}

} // namespace

QStringList paths() {
    // A hand-edited settings file may hold repeats, blanks or too many.
    QStringList result;
    for (const QString& path : QSettings().value(recentKey).toStringList())
        if (!path.isEmpty() && !result.contains(path) && result.size() < limit) result << path;
    return result;
}

void noteOpened(const QString& path) {
    if (path.isEmpty()) return;
    const QString absolute = QFileInfo(path).absoluteFilePath();
    QStringList list = paths();
    list.removeAll(absolute);
    list.prepend(absolute);
    while (list.size() > limit)
        list.removeLast();
    store(list);
}

void remove(const QString& path) {
    QStringList list = paths();
    list.removeAll(path);
    list.removeAll(QFileInfo(path).absoluteFilePath());
    store(list);
}

void clear() {
    store({});
}

QString lastFolder() {
    const QString folder = QSettings().value(folderKey).toString();
    // A folder since removed would open the dialog somewhere arbitrary.
    return !folder.isEmpty() && QFileInfo(folder).isDir() ? folder : QDir::homePath();
}

void setLastFolder(const QString& folder) {
    if (!folder.isEmpty()) QSettings().setValue(folderKey, folder);
}

void saveWindowGeometry(const QWidget* window) {
    QSettings().setValue(geometryKey, window->saveGeometry());
}

bool restoreWindowGeometry(QWidget* window) {
    const QByteArray geometry = QSettings().value(geometryKey).toByteArray();
    if (geometry.isEmpty() || !window->restoreGeometry(geometry)) return false;
    // restoreGeometry keeps the window on a screen that exists now; only the step
    // away from windows already standing there is ours.
    for (int step = 0; step < 20; ++step) {
        bool covered = false;
        for (QWidget* other : QApplication::topLevelWidgets())
            if (other != window && other->isVisible() && other->metaObject() == window->metaObject() &&
                other->geometry().topLeft() == window->geometry().topLeft())
                covered = true;
        if (!covered) break;
        window->setGeometry(window->geometry().translated(cascadeStep, cascadeStep));
    }
    return true;
}

} // namespace zarvel::RecentFiles
