#include "app/shell/AppDelegate.h"

#include "app/shell/DocumentController.h"
#include "app/shell/DocumentWindow.h"
#include "app/views/GridStyle.h"

#include <QApplication>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMainWindow>
#include <QTimer>
#include <QWidget>
#include <QWindow>

namespace zarvel {

AppDelegate::AppDelegate(DocumentController* controller, QObject* parent)
    : QObject(parent), terminate([] { QCoreApplication::quit(); }), controller_(controller) {
    // Before the first window, so that it opens in the desktop's light or dark colours.
    GridStyle::followColorScheme();
}

void AppDelegate::applicationDidFinishLaunching() {
    if (!observers_.empty()) return;
    observers_.push_back(
        connect(qGuiApp, &QGuiApplication::focusWindowChanged, this, [this] { scheduleCheck(); }));
    if (controller_)
        observers_.push_back(
            connect(controller_, &DocumentController::windowClosed, this, [this] { scheduleCheck(); }));
}

void AppDelegate::scheduleCheck() {
    QTimer::singleShot(checkDelayMilliseconds, Qt::PreciseTimer, this,
                       [this] { Q_EMIT checked(checkForQuit()); });
}

bool AppDelegate::checkForQuit() {
    const int documents = controller_ ? controller_->documentCount() : 0;
    // A native dialog is no widget of ours; the controller knows when one is up.
    if (controller_ && controller_->isPanelOpen()) return false;
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget* window : windows) {
        if (!window->isVisible()) continue;
        if (qobject_cast<QMainWindow*>(window) || qobject_cast<QFileDialog*>(window)) return false;
    }
    if (documents != 0) return false;
    if (terminate) terminate();
    return true;
}

} // namespace zarvel
