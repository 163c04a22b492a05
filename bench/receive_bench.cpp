// receive_bench: N reply messages of the central office (confirmations, rejections and personal answers of the
// demo office's requests, each with its "resp.dat") in a loopback Dovecot mailbox; `qevdb recibir` applies them
// all in one reception, reconnecting for every message as the reception does. Then the very same messages are put
// back and curl fetches and deletes each of them, one process and one connection per message, as the peer.
// Prints messages per second and the ratio to curl.
//
//   receive_bench [--count N] [--work DIR]      (N = 500; DIR under /tmp, reachable by the mail user)
#include "BenchMail.h"
#include "core/OfficeSchema.h"
#include "core/Settings.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

using qev::bench::mailFiles;
using qev::bench::run;
using qev::bench::setSetting;

namespace {

const QString kSource = QStringLiteral(QEV_SOURCE_DIR);
const QString kBuild = QStringLiteral(QEV_BUILD_DIR);

// Four kinds of reply, each of which applies again and again to the demo office.
QJsonArray replies(int count) {
    QJsonArray out;
    for (int i = 0; i < count; ++i) {
        QJsonObject resp{{QStringLiteral("c_reg"), 7}, {QStringLiteral("n_expe"), 500000 + i}};
        QString subject;
        switch (i % 4) {
        case 0:
        case 1:
            subject = QStringLiteral("CONFIRMO");
            resp[QStringLiteral("c_ped")] = 2 + i % 2;
            resp[QStringLiteral("c_est")] = QStringLiteral("T");
            break;
        case 2:
            subject = QStringLiteral("RECHAZOP");
            resp[QStringLiteral("c_ped")] = 2;
            resp[QStringLiteral("c_est")] = QStringLiteral("R");
            resp[QStringLiteral("x_obs")] = QStringLiteral("Huellas ilegibles");
            break;
        default:
            subject = QStringLiteral("CONTESTOP");
            resp[QStringLiteral("c_ped")] = 3;
            resp[QStringLiteral("c_est")] = QStringLiteral("T");
            break;
        }
        out.append(QJsonObject{{QStringLiteral("subject"), subject}, {QStringLiteral("resp"), resp}});
    }
    return out;
}

bool writeMessages(const QString& maildir, const QJsonArray& messages) {
    QProcess p;
    p.start(QStringLiteral("/usr/bin/python3"),
            {kSource + QStringLiteral("/tests/exchange/data/reply_mail.py"), QStringLiteral("maildir"), maildir});
    if (!p.waitForStarted()) return false;
    p.write(QJsonDocument(messages).toJson());
    p.closeWriteChannel();
    p.waitForFinished(300000);
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// The delivered messages copied aside, and put back as new mail (same bytes, same order).
bool copyFiles(const QStringList& files, const QString& to, const QString& owner) {
    QDir().mkpath(to);
    for (const QString& f : files) {
        const QString target = to + QLatin1Char('/') + QFileInfo(f).fileName().section(QLatin1Char(':'), 0, 0);
        if (!QFile::copy(f, target)) return false;
        if (!owner.isEmpty() && !run(QStringLiteral("chown"), {QStringLiteral("--reference=") + owner, target}))
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const auto [count, work] =
        qev::bench::mailBenchOptions(app.arguments(), 500, QStringLiteral("/tmp/qev-receive-bench"));
    QDir(work).removeRecursively();
    const qev::bench::MailServers mail(kSource, work);
    if (!mail.started()) return 1;
    const QString maildir = mail.maildir(QStringLiteral("user"));
    const QString ca = mail.ca();

    const QString office = work + QStringLiteral("/office");
    QString error;
    if (!qev::createOfficeFolder(office, true, &error)) {
        std::fprintf(stderr, "office: %s\n", qPrintable(error));
        return 1;
    }
    for (const auto& [k, v] : std::vector<std::pair<QString, QString>>{
             {QStringLiteral("envWebService"), QStringLiteral("N")},
             {QStringLiteral("smtpName"), QStringLiteral("127.0.0.1")},
             {QStringLiteral("smtpPort"), QStringLiteral("2525")},
             {QStringLiteral("pop3Name"), QStringLiteral("127.0.0.1")},
             {QStringLiteral("pop3Port"), QStringLiteral("2110")},
             {QStringLiteral("pop3User"), QStringLiteral("user")},
             {QStringLiteral("pop3PwdE"), qev::complementText(QStringLiteral("secret"))},
             {QStringLiteral("userEmail"), QStringLiteral("regional7@example.test")},
             {QStringLiteral("emailFwd"), QStringLiteral("other@example.test")},
             {QStringLiteral("tlsCA"), ca},
             {QStringLiteral("LogOpeMail"), QStringLiteral("N")}})
        if (!setSetting(office, k, v)) return 1;

    if (!writeMessages(maildir, replies(count))) return 1;
    const QStringList delivered = mailFiles(maildir);
    if (delivered.size() != count) return 1;
    const QString kept = work + QStringLiteral("/kept");
    if (!copyFiles(delivered, kept, QString())) return 1;

    // The program: one reception applies them all.
    QElapsedTimer t;
    t.start();
    QByteArray counters;
    if (!run(kBuild + QStringLiteral("/tools/qevdb/qevdb"), {QStringLiteral("recibir"), office}, &counters)) return 1;
    const double program = static_cast<double>(t.nsecsElapsed()) / 1e9;
    std::printf("qevdb recibir: %s", counters.constData());
    if (!mailFiles(maildir).isEmpty() ||
        !counters.startsWith(QStringLiteral("Procesados: %1 ").arg(count).toLatin1())) {
        std::fprintf(stderr, "the reception did not apply every message (%lld left)\n",
                     static_cast<long long>(mailFiles(maildir).size()));
        return 1;
    }

    // The peer: the same messages back in the mailbox, fetched and deleted with curl, one connection each.
    QStringList keptFiles;
    for (const QString& f : QDir(kept).entryList(QDir::Files, QDir::Name))
        keptFiles << kept + QLatin1Char('/') + f;
    if (!copyFiles(keptFiles, maildir + QStringLiteral("/new"), maildir + QStringLiteral("/new"))) return 1;
    const QStringList tls = {QStringLiteral("-s"), QStringLiteral("--ssl-reqd"), QStringLiteral("--cacert"), ca,
                             QStringLiteral("-u"), QStringLiteral("user:secret")};
    const QString first = QStringLiteral("pop3://127.0.0.1:2110/1");
    t.restart();
    for (int i = 0; i < count; ++i) {
        QStringList a = tls;
        a << first << QStringLiteral("-o") << work + QStringLiteral("/fetched.eml") << QStringLiteral("--next") << tls
          << QStringLiteral("-X") << QStringLiteral("DELE") << QStringLiteral("-I") << first;
        if (!run(QStringLiteral("curl"), a)) return 1;
    }
    const double peer = static_cast<double>(t.nsecsElapsed()) / 1e9;
    if (!mailFiles(maildir).isEmpty()) {
        std::fprintf(stderr, "curl left messages behind\n");
        return 1;
    }
    std::printf("%d messages\n", count);
    std::printf("qevdb recibir  %8.2f s  %8.1f messages/s\n", program, count / program);
    std::printf("curl           %8.2f s  %8.1f messages/s\n", peer, count / peer);
    std::printf("ratio (qevdb / curl time): %.2fx   (aim: within 2x)\n", program / peer);
    return 0;
}
