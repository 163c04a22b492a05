// send_bench: sends N official requests (a 1.5 MB card each) with `qevdb enviar`, one process per request as an
// administrator would, by SMTP to a loopback Postfix and by web service to the central office simulator; then
// uploads the very messages Postfix delivered with curl's SMTP client, one process per message, as the peer.
// Prints requests per second and the ratio to curl.
//
//   send_bench [--count N] [--work DIR]      (N = 200; DIR under /tmp, reachable by the mail user)
#include "BenchMail.h"
#include "capture/ImageLib.h"
#include "core/OfficeSchema.h"
#include "core/Settings.h"
#include "dbf/Table.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>

#include <cstdio>
#include <random>

using qev::bench::mailFiles;
using qev::bench::run;
using qev::bench::setSetting;

namespace {

const QString kSource = QStringLiteral(QEV_SOURCE_DIR);
const QString kBuild = QStringLiteral(QEV_BUILD_DIR);

bool waitForMail(const QString& maildir, int n) {
    QElapsedTimer t;
    t.start();
    while (mailFiles(maildir).size() < n) {
        if (t.elapsed() > 120000) return false;
        QThread::msleep(20);
    }
    return true;
}

// A card of about 1.5 MB as the scanner leaves it: grey noise over ridges, 300 DPI JPEG.
bool writeCard(const QString& path) {
    qev::capture::Raster r = qev::capture::Raster::grey(2480, 1299, 200);
    r.resolutionX = r.resolutionY = 300;
    std::mt19937 rng(7);
    for (int y = 0; y < r.height; ++y)
        for (int x = 0; x < r.width; ++x)
            r.row(y)[x] = static_cast<uint8_t>(((x + y) % 9 < 3 ? 70 : 190) + static_cast<int>(rng() % 40));
    std::string error;
    return qev::capture::saveAs(path.toStdString(), r, {}, &error);
}

// N copies of demo request 1 numbered 1001.., each with its own card.
bool makeOffice(const QString& folder, int count) {
    QDir(folder).removeRecursively();
    QString error;
    if (!qev::createOfficeFolder(folder, true, &error)) return false;
    auto t = qev::dbf::Table::open((folder + QStringLiteral("/PED.DBF")).toStdString(), qev::dbf::OpenMode::Shared);
    if (!t) return false;
    auto first = (*t)->read(1);
    if (!first) return false;
    const QString card = folder + QStringLiteral("/card.tif");
    if (!writeCard(card)) return false;
    const int cPed = (*t)->fieldIndex("C_PED");
    for (int i = 0; i < count; ++i) {
        qev::dbf::Record r = first->values;
        r[static_cast<size_t>(cPed)] = qev::dbf::Value(1001.0 + i);
        if (!(*t)->append(r)) return false;
        if (!QFile::copy(card, folder + QStringLiteral("/h%1.7").arg(1001 + i))) return false;
    }
    return true;
}

double sendAll(const QString& folder, int count) {
    const QString qevdb = kBuild + QStringLiteral("/tools/qevdb/qevdb");
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < count; ++i)
        if (!run(qevdb, {QStringLiteral("enviar"), folder, QStringLiteral("--oficial"), QString::number(1001 + i)}))
            return -1;
    return static_cast<double>(t.nsecsElapsed()) / 1e9;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const auto [count, work] =
        qev::bench::mailBenchOptions(app.arguments(), 200, QStringLiteral("/tmp/qev-send-bench"));
    const qev::bench::MailServers mail(kSource, work);
    if (!mail.started()) return 1;
    const QString maildir = mail.maildir(QStringLiteral("central"));

    // By SMTP.
    const QString office = work + QStringLiteral("/office");
    if (!makeOffice(office, count)) return 1;
    for (const auto& [k, v] : std::vector<std::pair<QString, QString>>{
             {QStringLiteral("envWebService"), QStringLiteral("N")},
             {QStringLiteral("smtpName"), QStringLiteral("127.0.0.1")},
             {QStringLiteral("smtpPort"), QStringLiteral("2525")},
             {QStringLiteral("userEmail"), QStringLiteral("regional7@example.test")},
             {QStringLiteral("x_toreg"), QStringLiteral("central@example.test")},
             {QStringLiteral("tlsCA"), mail.ca()},
             {QStringLiteral("LogOpeMail"), QStringLiteral("N")}})
        if (!setSetting(office, k, v)) return 1;
    const double smtpSeconds = sendAll(office, count);
    if (smtpSeconds < 0 || !waitForMail(maildir, count)) return 1;

    // The peer: the same messages as delivered (the server's own trace lines taken off), uploaded by curl with
    // STARTTLS against the same authority, one process each.
    const QString copies = work + QStringLiteral("/messages");
    QDir(copies).removeRecursively();
    QDir().mkpath(copies);
    QStringList files;
    qint64 bytes = 0;
    for (const QString& f : mailFiles(maildir)) {
        QFile in(f);
        if (!in.open(QIODevice::ReadOnly)) return 1;
        QByteArray m = in.readAll();
        while (m.startsWith("Return-Path:") || m.startsWith("X-Original-To:") || m.startsWith("Delivered-To:") ||
               m.startsWith("Received:")) {
            qsizetype end = m.indexOf('\n');
            while (end >= 0 && end + 1 < m.size() && (m[end + 1] == ' ' || m[end + 1] == '\t'))
                end = m.indexOf('\n', end + 1);
            m = m.mid(end + 1);
        }
        QFile out(copies + QStringLiteral("/%1.eml").arg(files.size()));
        if (!out.open(QIODevice::WriteOnly) || out.write(m) != m.size()) return 1;
        files << out.fileName();
        bytes += m.size();
        QFile::remove(f);
    }
    QElapsedTimer curlTimer;
    curlTimer.start();
    for (const QString& f : files)
        if (!run(QStringLiteral("curl"),
                 {QStringLiteral("-s"), QStringLiteral("--ssl-reqd"), QStringLiteral("--cacert"), mail.ca(),
                  QStringLiteral("--url"), QStringLiteral("smtp://127.0.0.1:2525"), QStringLiteral("--mail-from"),
                  QStringLiteral("regional7@example.test"), QStringLiteral("--mail-rcpt"),
                  QStringLiteral("central@example.test"), QStringLiteral("-T"), f}))
            return 1;
    const double curlSeconds = static_cast<double>(curlTimer.nsecsElapsed()) / 1e9;
    if (!waitForMail(maildir, count)) return 1;

    // By web service, to the simulator keeping every package.
    QProcess sim;
    sim.start(kBuild + QStringLiteral("/tools/qev-central-sim/qev-central-sim"),
              {QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--store"),
               work + QStringLiteral("/store"), QStringLiteral("--log"), work + QStringLiteral("/sim.log")});
    if (!sim.waitForReadyRead(10000)) return 1;
    const QString base = QString::fromUtf8(sim.readLine().trimmed()).section(QLatin1Char(' '), 2);
    QDir(work + QStringLiteral("/store")).removeRecursively();
    if (!makeOffice(office, count)) return 1;
    qev::WorkstationIni(office).setServiceUrl(base + QStringLiteral("QEVService/QEVMessageService.asmx"));
    const double webSeconds = sendAll(office, count);
    sim.kill();
    sim.waitForFinished();
    if (webSeconds < 0) return 1;
    const int stored =
        static_cast<int>(QDir(work + QStringLiteral("/store")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());

    std::printf("send_bench: %d official requests, %.2f MB per message on average\n", count,
                static_cast<double>(bytes) / count / 1e6);
    std::printf("  qevdb enviar by SMTP (STARTTLS):    %7.2f s  %6.1f requests/s\n", smtpSeconds, count / smtpSeconds);
    std::printf("  curl SMTP upload, same messages:    %7.2f s  %6.1f messages/s   (peer)\n", curlSeconds,
                count / curlSeconds);
    std::printf("  qevdb enviar by web service:        %7.2f s  %6.1f requests/s  (%d packages kept)\n", webSeconds,
                count / webSeconds, stored);
    std::printf("  ratio SMTP send / curl: %.2fx   (aim: at most 1.5x)\n", smtpSeconds / curlSeconds);
    return stored == count ? 0 : 1;
}
