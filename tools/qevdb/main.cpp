// qevdb: table administration of the office folder, run from a shell.
#include "QevDb.h"

#include <QCoreApplication>
#include <QGuiApplication>

#include <cstdio>
#include <cstring>
#include <memory>

int main(int argc, char** argv) {
    // Reports need fonts, so the commands that print (a report, the answers a reception prints) run a GUI application
    // on the offscreen platform (no display).
    std::unique_ptr<QCoreApplication> app;
    if (argc > 1 && (std::strcmp(argv[1], "informe") == 0 || std::strcmp(argv[1], "recibir") == 0)) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        app = std::make_unique<QGuiApplication>(argc, argv);
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    QTextStream out(stdout);
    QTextStream err(stderr);
    const int status = qev::tools::runQevDb(QCoreApplication::arguments().mid(1), out, err);
    out.flush();
    err.flush();
    return status;
}
