#include "app/shell/ZarvelApp.h"

#include "zarvel/BuildInfo.h"

#include <QApplication>
#include <QCommandLineParser>

namespace zarvel {

ZarvelApp::ZarvelApp(std::unique_ptr<DocumentPrompts> prompts)
    : controller_(std::move(prompts)), delegate_(&controller_) {
    QApplication::setApplicationName(QStringLiteral("Zarvel"));
    QApplication::setApplicationDisplayName(QStringLiteral("Zarvel"));
    QApplication::setApplicationVersion(QStringLiteral(ZARVEL_VERSION));
    // Settings land in ~/.config/<application id>/, and the desktop (Wayland app id,
    // taskbar icon) matches our windows to the installed desktop entry.
    QApplication::setOrganizationName(QStringLiteral(ZARVEL_APP_ID));
    QApplication::setOrganizationDomain(QStringLiteral(ZARVEL_ORGANIZATION_DOMAIN));
    QGuiApplication::setDesktopFileName(QStringLiteral(ZARVEL_APP_ID));
    // The delegate decides when the program ends: a dialog outliving the last window
    // must not end it.
    QApplication::setQuitOnLastWindowClosed(false);
    controller_.setRecoveryStore(std::make_unique<RecoveryStore>(RecoveryStore::defaultFolder()));
}

void ZarvelApp::start(const QStringList& files) {
    // Before anything else opens, so a named file with unsaved changes opens once,
    // restored (opening it again brings that window forward).
    const QList<DocumentWindow*> restored = controller_.restoreRecoveredDocuments();
    if (!files.isEmpty())
        controller_.openFiles(files);
    else if (restored.isEmpty())
        controller_.newDocument();
    delegate_.applicationDidFinishLaunching();
    // Every named file may have failed to open: then nothing keeps the program up.
    if (controller_.documentCount() == 0) delegate_.scheduleCheck();
}

QStringList ZarvelApp::filesFromArguments(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Edit delimited text files."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("files"), QStringLiteral("Files to open."),
                                 QStringLiteral("[files...]"));
    parser.process(arguments);
    return parser.positionalArguments();
}

} // namespace zarvel
