// qevdb: table administration of the office folder, run from a shell.
#include "QevDb.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    const int status = qev::tools::runQevDb(QCoreApplication::arguments().mid(1), out, err);
    out.flush();
    err.flush();
    return status;
}
