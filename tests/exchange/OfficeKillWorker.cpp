// The process the office kill tests kill, on an office folder the test prepared, without end:
//   reception FOLDER        receives the central office's replies from the loopback POP3 server, over and over; a
//                           reply has been handled once its message is gone from the server.
//   filing FOLDER FIRST     saves a new official request with the card "card.src" and a documents file, then gives
//                           an earlier request a new documents file, and so on; after each save the program
//                           acknowledged it prints "N <c_ped> <seq>" or "E <c_ped> <seq>".
// A documents file of version `seq` is the text of officeKillDocument(seq).
#include "FixedClock.h"
#include "NoDiskWait.h"
#include "OfficeKill.h"
#include "ScriptedPrompter.h"
#include "core/Dataset.h"
#include "dm/Tdm.h"
#include "exchange/HostIdentity.h"
#include "exchange/MailReception.h"
#include "exchange/ReceptionPorts.h"
#include "exchange/mail/TdmMail.h"

#include <QApplication>
#include <QFile>
#include <QThread>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <random>

using namespace qev;

namespace {

struct QuietViews final : ReceptionViews {
    void activityLine(const QString&) override {}
    void showActivity() override {}
    void clearStates() override {}
    void stateLine(const QString&) override {}
    void showStates() override {}
    void stateStatus(const QString&) override {}
    void status(const QString&) override {}
};

void ack(const QString& line) {
    const QByteArray l = line.toLatin1() + '\n';
    if (::write(1, l.constData(), static_cast<size_t>(l.size())) != l.size()) std::_Exit(3);
}

[[noreturn]] void die(const QString& what) {
    std::fprintf(stderr, "%s\n", what.toLocal8Bit().constData());
    std::_Exit(1);
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

bool save(Tdm& dm, Dataset& ds) {
    dm.setSavePermission(true);
    const bool ok = ds.post();
    dm.setSavePermission(false);
    return ok;
}

void filing(Tdm& dm, test::ScriptedPrompter& prompter, long first) {
    const AppDir& dir = dm.appDir();
    Dataset& ped = dm.ped();
    std::mt19937 rng(static_cast<unsigned>(first));
    auto fail = [&](const char* what) {
        die(QString::fromLatin1(what) + QStringLiteral(": ") + prompter.texts().join('|'));
    };
    for (long seq = first;; ++seq) {
        if (!ped.insert()) fail("insert");
        ped.setValue(QStringLiteral("C_ORG"), dbf::Value(1));
        ped.setValue(QStringLiteral("C_NAC"), dbf::Value(32));
        ped.setValue(QStringLiteral("C_SEXO"), dbf::Value("M"));
        ped.setValue(QStringLiteral("X_APE1"), dbf::Value("KILL"));
        ped.setValue(QStringLiteral("X_NOM1"), dbf::Value(test::officeKillName(seq).toStdString()));
        ped.setValue(QStringLiteral("C_PRIOR"), dbf::Value(1));
        ped.setValue(QStringLiteral("C_TDEL"), dbf::Value(101));
        QFile::remove(dir.file(QStringLiteral("edit.tif")));
        if (!QFile::copy(dir.file(QStringLiteral("card.src")), dir.file(QStringLiteral("edit.tif")))) fail("card");
        if (!writeFile(dir.file(QStringLiteral("docu.tif")), test::officeKillDocument(seq))) fail("documents");
        if (!save(dm, ped)) fail("save");
        const long last = static_cast<long>(ped.value(QStringLiteral("C_PED")).number());
        ack(QStringLiteral("N %1 %2").arg(last).arg(seq));

        // An earlier request gets new documents (one whose save was cut short has no row to edit).
        ++seq;
        const long earlier = 1 + static_cast<long>(rng() % static_cast<unsigned>(last));
        if (!ped.locate(QStringLiteral("C_PED"), dbf::Value(static_cast<double>(earlier)))) continue;
        if (!ped.edit()) fail("edit");
        if (!writeFile(dir.file(QStringLiteral("docu.tif")), test::officeKillDocument(seq))) fail("documents");
        if (!save(dm, ped)) fail("save of the edit");
        ack(QStringLiteral("E %1 %2").arg(earlier).arg(seq));
    }
}

void reception(Tdm& dm) {
    if (!dm.mail().leerConfiguracion()) die(QStringLiteral("mail settings"));
    for (;;) {
        dm.mailReception().RecibirPop3();
        const MailReception::Counters& c = dm.mailReception().last();
        if (c.failed) die(QStringLiteral("reception: ") + c.error);
        if (c.total == 0) QThread::msleep(2);
    }
}

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    test::skipDiskWaits();
    QApplication app(argc, argv);
    if (argc < 3) die(QStringLiteral("usage: office_kill_worker reception|filing FOLDER [FIRST]"));
    const QString kind = QString::fromLocal8Bit(argv[1]);
    test::ScriptedPrompter prompter;
    test::FixedClock clock{QDateTime(QDate(2026, 3, 16), QTime(9, 30))};
    Tdm dm(AppDir(QString::fromLocal8Bit(argv[2])), prompter, clock);
    dm.setHostIdentity(std::make_unique<FixedHostIdentity>(NetworkIdentity{}));
    if (!dm.create()) die(QStringLiteral("the office does not open: ") + prompter.texts().join('|'));
    QuietViews views;
    dm.setReceptionViews(&views);
    if (kind == QLatin1String("reception")) reception(dm);
    if (kind == QLatin1String("filing") && argc > 3) filing(dm, prompter, std::atol(argv[3]));
    die(QStringLiteral("unknown kind ") + kind);
}
