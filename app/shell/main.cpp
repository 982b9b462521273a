// Zarvel: a desktop editor for comma-, tab- and otherwise delimited text files.
#include "app/shell/ZarvelApp.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    zarvel::ZarvelApp zarvel;
    zarvel.start(zarvel::ZarvelApp::filesFromArguments(QApplication::arguments()));
    return QApplication::exec();
}
