// ZarvelApp: the application itself: one document controller, the delegate that ends
// the program with its last window, and the start from the command line.
#pragma once

#include "app/shell/AppDelegate.h"
#include "app/shell/DocumentController.h"

#include <QStringList>

#include <memory>

namespace zarvel {

class ZarvelApp {
public:
    // Names the application; a QApplication must exist.
    explicit ZarvelApp(std::unique_ptr<DocumentPrompts> prompts = nullptr);

    DocumentController& controller() { return controller_; }
    AppDelegate& delegate() { return delegate_; }

    // Offers to restore what earlier runs left unsaved, then opens each named file in
    // its own window, or one new untitled document when nothing else opened.
    void start(const QStringList& files);
    // The file names among the program's arguments (the first is the program).
    static QStringList filesFromArguments(const QStringList& arguments);

private:
    DocumentController controller_;
    AppDelegate delegate_;
};

} // namespace zarvel
