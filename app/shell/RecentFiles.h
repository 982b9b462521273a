// RecentFiles: what the program remembers from one run to the next, in QSettings under
// the application id: the files opened last (File ▸ Open Recent), the folder the open
// and save dialogs showed last, and where the last document window stood.
#pragma once

#include <QString>
#include <QStringList>

class QMenu;
class QWidget;

namespace zarvel {

namespace RecentFiles {

inline constexpr int limit = 10;

// Most recent first, at most `limit`, each path once.
QStringList paths();
// A file was opened or saved: it moves to the top.
void noteOpened(const QString& path);
void remove(const QString& path);
void clear();

// The folder the open and save dialogs start in; the home folder the first time.
QString lastFolder();
void setLastFolder(const QString& folder);

// A document window's size and position, kept when it closes and given to the next
// one. A window opened beside others steps down and right so it does not hide them.
void saveWindowGeometry(const QWidget* window);
// False when nothing was kept yet.
bool restoreWindowGeometry(QWidget* window);

} // namespace RecentFiles

} // namespace zarvel
