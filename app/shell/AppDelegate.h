// AppDelegate: ends the program once its last document is gone.
//
// Whenever a document window closes or the focus leaves a window, a check runs half a
// second later: while a document window or an open or save dialog is visible the
// program stays; otherwise, with no document open, it quits. The delay lets a window
// that is about to appear (the next document, a dialog) show up first.
#pragma once

#include <QMetaObject>
#include <QObject>
#include <QPointer>

#include <functional>
#include <vector>

namespace zarvel {

class DocumentController;

class AppDelegate : public QObject {
    Q_OBJECT
public:
    static constexpr int checkDelayMilliseconds = 500;

    explicit AppDelegate(DocumentController* controller, QObject* parent = nullptr);

    // Registers for window closes and focus changes; call once the first windows exist.
    void applicationDidFinishLaunching();
    // Runs the check half a second from now.
    void scheduleCheck();
    // The check itself; returns whether it ended the program.
    bool checkForQuit();

    // How the program ends; tests replace it.
    std::function<void()> terminate;

Q_SIGNALS:
    // A scheduled check ran.
    void checked(bool terminated);

private:
    QPointer<DocumentController> controller_;
    std::vector<QMetaObject::Connection> observers_;
};

} // namespace zarvel
