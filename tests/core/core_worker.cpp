// Worker process for the cross-process tests: draws sequence numbers or appends log lines in an office folder.
#include "NoDiskWait.h"
#include "ScriptedPrompter.h"
#include "core/Records.h"
#include "core/Settings.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char** argv) {
    qev::test::skipDiskWaits();
    QCoreApplication app(argc, argv);
    if (argc != 5) return 2;
    const QString mode = QString::fromLocal8Bit(argv[1]);
    const QString folder = QString::fromLocal8Bit(argv[2]);
    const QString tag = QString::fromLocal8Bit(argv[3]);
    const int count = QString::fromLocal8Bit(argv[4]).toInt();
    qev::test::ScriptedPrompter prompter;
    for (int i = 0; i < count; ++i) {
        if (mode == QStringLiteral("seq")) {
            const double n = qev::nextSequenceNumber(folder, QStringLiteral("ped"), prompter);
            if (n <= 0) {
                std::fprintf(stderr, "%s\n", qPrintable(prompter.lastText()));
                return 1;
            }
            std::printf("%.0f\n", n);
        } else if (!qev::writeLogLine(folder, QStringLiteral("%1 %2").arg(tag).arg(i))) {
            return 1;
        }
    }
    return 0;
}
