// Zarvel: a desktop editor for comma-, tab- and otherwise delimited text files.
#include "app/shell/ZarvelApp.h"
#include "zarvel/BuildInfo.h"

#include <QApplication>

#include <cstdio>
#include <cstring>

namespace {

// --help and --version are answered before the QApplication exists, so that they work
// without a display.
bool answeredWithoutWindow(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const char* argument = argv[i];
        if (std::strcmp(argument, "--") == 0) return false;
        if (std::strcmp(argument, "--version") == 0 || std::strcmp(argument, "-v") == 0) {
            std::printf("zarvel %s\n", ZARVEL_VERSION);
            return true;
        }
        if (std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0) {
            std::printf("Usage: zarvel [options] [FILE...]\n"
                        "Edit CSV, TSV and other delimited text files.\n"
                        "\n"
                        "Each FILE opens in its own window; without a FILE an empty document opens.\n"
                        "\n"
                        "Options:\n"
                        "  -h, --help     Print this help and exit.\n"
                        "  -v, --version  Print the version and exit.\n"
                        "  --             Treat every following argument as a FILE.\n"
                        "\n"
                        "Qt's standard options (such as -platform) are accepted too.\n");
            return true;
        }
    }
    return false;
}

} // namespace

int main(int argc, char** argv) {
    if (answeredWithoutWindow(argc, argv)) return 0;
    QApplication app(argc, argv);
    zarvel::ZarvelApp zarvel;
    zarvel.start(zarvel::ZarvelApp::filesFromArguments(QApplication::arguments()));
    return QApplication::exec();
}
