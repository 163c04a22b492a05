// The mail transports against a real Postfix (SMTP, submission, SMTPS) and a real Dovecot (POP3, POP3S) on
// loopback, started for these tests with a certificate authority of their own. What arrives is read back with
// Python's MIME parser, independently of the program's own reading.
#include "FixedClock.h"
#include "LoopbackMail.h"
#include "ScriptedPrompter.h"
#include "TempAppDir.h"
#include "capture/ImageLib.h"
#include "core/OfficeSchema.h"
#include "core/Settings.h"
#include "dm/Tdm.h"
#include "exchange/HostIdentity.h"
#include "exchange/TSMime.h"
#include "exchange/mail/TdmMail.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QThread>
#include <gtest/gtest.h>

namespace qev {
namespace {

using dbf::Value;

using test::clearMailbox;
using test::mailFiles;
using test::waitForMail;

const QString kCa = test::mailDir() + QStringLiteral("/tls/ca.pem");

QByteArray sha256(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return "missing";
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256).toHex();
}

struct Parsed {
    QString subject, to, received, body;
    QStringList attachments; // "name sha256 size"
};

Parsed parseWithPython(const QString& file) {
    QProcess p;
    p.start(QStringLiteral("/usr/bin/python3"),
            {QStringLiteral(QEV_SOURCE_DIR "/tests/exchange/data/mime_parts.py"), file});
    p.waitForFinished(20000);
    Parsed out;
    for (const QString& line : QString::fromUtf8(p.readAllStandardOutput()).split(QLatin1Char('\n'))) {
        const QString key = line.section(QLatin1Char('\t'), 0, 0);
        const QString rest = line.section(QLatin1Char('\t'), 1);
        if (key == QLatin1String("subject")) out.subject = rest;
        if (key == QLatin1String("to")) out.to = rest;
        if (key == QLatin1String("received")) out.received = rest;
        if (key == QLatin1String("body")) out.body = rest;
        if (key == QLatin1String("attachment")) out.attachments << QString(rest).replace(QLatin1Char('\t'), ' ');
    }
    return out;
}

class MailTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::startLoopbackOffice(
            dir, true, prompter, clock, dm, QStringLiteral("central"), QStringLiteral("secret3"),
            QStringLiteral("regional7@example.test"),
            {{"x_toreg", "central@example.test"}, {"x_toregp", "central@example.test"}, {"LogOpeMail", "S"}});
        if (HasFatalFailure()) return;
        reload();
        for (const char* u : {"user", "other", "central"})
            clearMailbox(QString::fromLatin1(u));
        prompter.clear();
    }

    void reload() {
        ASSERT_TRUE(dm->mail().leerConfiguracion());
        dm->createSender();
    }

    void writeCard(const QString& name, int w = 2480, int h = 1299) {
        capture::Raster r = capture::Raster::grey(w, h, 170);
        for (int y = 0; y < h; y += 3)
            for (int x = (y * 5) % 11; x < w; x += 11)
                r.row(y)[x] = 20;
        r.resolutionX = r.resolutionY = 300;
        std::string error;
        ASSERT_TRUE(capture::saveAs(dir.filePath(name.toStdString()), r, {}, &error)) << error;
    }
    QString attachment(const QString& name, const QString& file) const {
        QFile f(dir.file(file));
        return name + QLatin1Char(' ') + QString::fromLatin1(sha256(dir.file(file))) + QLatin1Char(' ') +
               QString::number(f.size());
    }
    // A plain message with `files` (names in the office folder) from regional7 to `to`.
    bool send(const QString& to, const QString& subject, const QStringList& lines, const QStringList& files,
              QString& error) {
        THeaderMsg h;
        h.recipients = to;
        h.subject = subject;
        QStringList paths;
        for (const QString& f : files)
            paths << dir.file(f);
        return dm->mail().EnviarCorreo(h, lines, error, paths);
    }

    test::TempAppDir dir;
    test::FixedClock clock{QDateTime(QDate(2026, 3, 16), QTime(9, 30))};
    test::ScriptedPrompter prompter;
    std::unique_ptr<Tdm> dm;
};

TEST_F(MailTest, RequestsArriveWithTheirAttachmentsByteForByte) {
    // An 8-bit subject, as the office may configure it: the server offers SMTPUTF8, and the words and their spaces
    // must still arrive exactly.
    ASSERT_TRUE(dm->settings().write(QStringLiteral("x_msgreg"), QStringLiteral("PEDIDO Año 2026 (envío) ñandú")));
    ASSERT_TRUE(dm->ped().locate(QStringLiteral("C_PED"), Value(3.0)));
    writeCard(QStringLiteral("h3.7"));
    writeCard(QStringLiteral("d3.7"), 2480, 3508);
    prompter.answerConfirm(true);
    ASSERT_TRUE(dm->EnviarPedidoOficial()) << prompter.texts().join('|').toStdString();
    const QString pedDatOficial = attachment(QStringLiteral("ped.dat"), QStringLiteral("ped.dat"));

    ASSERT_TRUE(dm->pedp().locate(QStringLiteral("C_PED"), Value(1.0)));
    writeCard(QStringLiteral("hp1.7"));
    writeCard(QStringLiteral("dp1.7"), 2480, 3508);
    QFile zip(dir.file(QStringLiteral("zp1.7")));
    ASSERT_TRUE(zip.open(QIODevice::WriteOnly));
    zip.write(QByteArray(300000, '\x5a'));
    zip.close();
    ASSERT_TRUE(dm->EnviarPedidoPersonal()) << prompter.texts().join('|').toStdString();

    const QStringList files = waitForMail(QStringLiteral("central"), 2);
    ASSERT_EQ(files.size(), 2);
    const Parsed official = parseWithPython(files[0]);
    EXPECT_EQ(official.subject, QStringLiteral("PEDIDO Año 2026 (envío) ñandú"));
    EXPECT_EQ(official.to, QStringLiteral("central@example.test"));
    EXPECT_TRUE(official.received.contains(QLatin1String("ESMTPS")) ||
                official.received.contains(QLatin1String("SMTPS")))
        << official.received.toStdString(); // STARTTLS was used
    EXPECT_EQ(official.attachments,
              (QStringList{pedDatOficial, attachment(QStringLiteral("huella.tif"), QStringLiteral("h3.7")),
                           attachment(QStringLiteral("docu.tif"), QStringLiteral("d3.7"))}));
    const Parsed personal = parseWithPython(files[1]);
    EXPECT_EQ(personal.subject, QStringLiteral("PEDIDOP"));
    EXPECT_EQ(personal.attachments, (QStringList{attachment(QStringLiteral("docu.tif"), QStringLiteral("dp1.7")),
                                                 attachment(QStringLiteral("ped.dat"), QStringLiteral("ped.dat")),
                                                 attachment(QStringLiteral("huella.zip"), QStringLiteral("zp1.7"))}));
    EXPECT_EQ(dm->ped().text(QStringLiteral("C_EST")), QStringLiteral("E"));
    EXPECT_EQ(dm->pedp().text(QStringLiteral("C_EST")), QStringLiteral("E"));
    // With mail logging on, each send is one line of the log file.
    QFile log(dir.file(QStringLiteral("QevRegLog.log")));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QString logText = fromAnsiBytes(log.readAll());
    EXPECT_EQ(logText.count(QStringLiteral("SendMail Result: True")), 2) << logText.toStdString();
    EXPECT_TRUE(logText.contains(QStringLiteral("16/03/2026 09:30:00 - To: central@example.test - Tema: PEDIDOP - "
                                                "SendMail Result: True - Tiempo: ")));
}

// The POP3 session: counting, headers, reading, saving attachments, deleting only when the session ends, and the
// renumbering after a deletion; forwarding keeps the body and marks the subject.
TEST_F(MailTest, Pop3SessionReadsSavesDeletesAndForwards) {
    QFile data(dir.file(QStringLiteral("resp.dat")));
    ASSERT_TRUE(data.open(QIODevice::WriteOnly));
    data.write("[DATA]\r\nc_ped=3\r\nn_expe=500003\r\n");
    data.close();
    writeCard(QStringLiteral("resp.tif"));
    QString error;
    ASSERT_TRUE(send(QStringLiteral("central@example.test"), QStringLiteral("Consulta"),
                     {QStringLiteral("Importe 12.50 pagado."), QStringLiteral("Segunda línea")},
                     {QStringLiteral("resp.dat"), QStringLiteral("resp.tif")}, error))
        << error.toStdString();
    ASSERT_TRUE(
        send(QStringLiteral("central@example.test"), QStringLiteral("Segundo"), {QStringLiteral("b")}, {}, error))
        << error.toStdString();
    ASSERT_TRUE(
        send(QStringLiteral("central@example.test"), QStringLiteral("Tercero"), {QStringLiteral("c")}, {}, error))
        << error.toStdString();
    ASSERT_EQ(waitForMail(QStringLiteral("central"), 3).size(), 3);

    TdmMail& mail = dm->mail();
    int total = 0;
    ASSERT_TRUE(mail.ContarMensajes(total, error)) << error.toStdString();
    EXPECT_EQ(total, 3);
    std::vector<MsgHeaderRow> rows;
    ASSERT_TRUE(mail.LeerEncabezados(error, rows)) << error.toStdString();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].subject, QStringLiteral("Consulta"));
    EXPECT_EQ(rows[0].from, QStringLiteral("regional7@example.test"));
    EXPECT_EQ(rows[0].priority, 3); // normal, one higher when read
    EXPECT_GT(rows[0].bytes, 1000);
    EXPECT_EQ(rows[2].subject, QStringLiteral("Tercero"));

    QStringList lines;
    std::vector<AttachmentRow> parts;
    ASSERT_TRUE(mail.LeerMensaje(1, lines, parts, &error)) << error.toStdString();
    // Only the body's first full stop became a blank.
    EXPECT_EQ(lines, (QStringList{"Importe 12 50 pagado.", "Segunda línea"}));
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_EQ(parts[0].filename, QStringLiteral("resp.dat"));
    EXPECT_EQ(parts[1].filename, QStringLiteral("resp.tif"));

    QTemporaryDir out;
    ASSERT_TRUE(mail.GuardarAdjuntos(1, out.path(), error)) << error.toStdString();
    EXPECT_EQ(sha256(out.filePath(QStringLiteral("resp.dat"))), sha256(dir.file(QStringLiteral("resp.dat"))));
    EXPECT_EQ(sha256(out.filePath(QStringLiteral("resp.tif"))), sha256(dir.file(QStringLiteral("resp.tif"))));
    ASSERT_TRUE(mail.GuardarAdjunto(1, 2, out.filePath(QStringLiteral("copia.tif"))));
    EXPECT_EQ(sha256(out.filePath(QStringLiteral("copia.tif"))), sha256(dir.file(QStringLiteral("resp.tif"))));

    ASSERT_TRUE(mail.ReenviarMensaje(1, QStringLiteral("other@example.test"), error)) << error.toStdString();
    const QStringList forwarded = waitForMail(QStringLiteral("other"), 1);
    ASSERT_EQ(forwarded.size(), 1);
    const Parsed fwd = parseWithPython(forwarded[0]);
    EXPECT_EQ(fwd.subject, QStringLiteral("Consulta (REENVIO QEV REGIONAL)"));
    EXPECT_EQ(fwd.to, QStringLiteral("other@example.test"));
    EXPECT_EQ(fwd.attachments, parseWithPython(mailFiles(QStringLiteral("central"))[0]).attachments);

    // A reconnection deletes nothing; a second session sees every message until the deletion is committed.
    ASSERT_TRUE(mail.ConectarPop3(error));
    ASSERT_TRUE(mail.ContarMensajes(total, error));
    EXPECT_EQ(total, 3);
    ASSERT_TRUE(mail.BorrarMensaje(1, error)) << error.toStdString();
    EXPECT_FALSE(mail.pop3Connected());
    ASSERT_TRUE(mail.LeerEncabezados(error, rows)) << error.toStdString();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].subject, QStringLiteral("Segundo"));
    EXPECT_EQ(rows[1].subject, QStringLiteral("Tercero"));

    // Saving one part needs the session; a blank destination is refused before anything is read.
    prompter.clear();
    EXPECT_FALSE(mail.GuardarAdjunto(1, 1, QStringLiteral("  ")));
    EXPECT_EQ(prompter.lastText(), QStringLiteral("Error: El nombre del archivo destino no puede ser vacio"));
    mail.desconectarPop3();
    EXPECT_FALSE(mail.GuardarAdjunto(1, 1, out.filePath(QStringLiteral("x"))));
    EXPECT_EQ(prompter.lastText(),
              QStringLiteral("Error: Se ha perdido la conexión con el servidor. Vuelva a consultar los mensajes."));
}

// Connections protected as configured: certificates of the tests' own authority verify, others are refused with
// a clear message, and the servers that demand authentication get it.
struct Protection {
    const char* name;
    bool pop3;
    int port;
    const char* security;
    bool trustCa;
    bool verify;
    const char* user;
    const char* password;
    const char* errorPart; // empty: must succeed
};

// Named cases read better in test lists than their bytes.
void PrintTo(const Protection& c, std::ostream* os) {
    *os << c.name;
}

class MailProtectionTest : public MailTest, public ::testing::WithParamInterface<Protection> {};

TEST_P(MailProtectionTest, ConnectsOrRefusesClearly) {
    const Protection& p = GetParam();
    TdmMail& mail = dm->mail();
    mail.connection().verifyCertificates = p.verify;
    mail.connection().caFile = p.trustCa ? kCa : QString();
    QString error;
    bool ok = false;
    if (p.pop3) {
        mail.account().pop3Port = p.port;
        mail.account().pop3User = QString::fromLatin1(p.user);
        mail.account().pop3Password = QString::fromLatin1(p.password);
        mail.connection().pop3Security =
            QString::fromLatin1(p.security) == QLatin1String("SSL") ? MailSecurity::Tls : MailSecurity::StartTls;
        int total = 0;
        ok = mail.ContarMensajes(total, error);
        if (ok) {
            EXPECT_EQ(total, 0);
        }
    } else {
        mail.account().smtpPort = p.port;
        mail.smtpUser = QString::fromLatin1(p.user);
        mail.smtpPassword = QString::fromLatin1(p.password);
        const QString s = QString::fromLatin1(p.security);
        mail.connection().smtpSecurity = s == QLatin1String("SSL")        ? MailSecurity::Tls
                                         : s == QLatin1String("STARTTLS") ? MailSecurity::StartTls
                                         : s == QLatin1String("NO")       ? MailSecurity::None
                                                                          : MailSecurity::Auto;
        ok = send(QStringLiteral("user@example.test"), QStringLiteral("Prueba"), {QStringLiteral("x")}, {}, error);
        if (ok) {
            EXPECT_EQ(waitForMail(QStringLiteral("user"), 1).size(), 1);
        }
    }
    if (*p.errorPart == 0) {
        EXPECT_TRUE(ok) << error.toStdString();
    } else {
        EXPECT_FALSE(ok);
        EXPECT_TRUE(error.contains(QString::fromUtf8(p.errorPart))) << error.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Servers, MailProtectionTest,
    ::testing::Values(
        Protection{"SmtpStartTlsVerified", false, 2525, "", true, true, "", "", ""},
        Protection{"SmtpStartTlsUntrusted", false, 2525, "", false, true, "", "",
                   "Error SendMail: no se pudo verificar el certificado del servidor"},
        Protection{"SmtpPrivateCertificateAccepted", false, 2525, "", false, false, "", "", ""},
        Protection{"SubmissionWithLogin", false, 2587, "STARTTLS", true, true, "user", "secret", ""},
        Protection{"SubmissionWrongPassword", false, 2587, "STARTTLS", true, true, "user", "wrong", "Error SendMail: "},
        Protection{"SubmissionRefusesPlainText", false, 2587, "NO", true, true, "user", "secret", "Error SendMail: "},
        Protection{"SmtpsImplicitTls", false, 2465, "SSL", true, true, "user", "secret", ""},
        Protection{"SmtpsUntrusted", false, 2465, "SSL", false, true, "user", "secret",
                   "no se pudo verificar el certificado del servidor"},
        Protection{"Pop3Stls", true, 2110, "STARTTLS", true, true, "user", "secret", ""},
        Protection{"Pop3sImplicitTls", true, 2995, "SSL", true, true, "user", "secret", ""},
        Protection{"Pop3sUntrusted", true, 2995, "SSL", false, true, "user", "secret",
                   "Error GetTotMsgInbox: Error ConnectPOP3: no se pudo verificar el certificado del servidor"},
        Protection{"Pop3WrongPassword", true, 2110, "STARTTLS", true, true, "user", "wrong",
                   "Error GetTotMsgInbox: Error ConnectPOP3: "},
        Protection{"SmtpNothingListening", false, 2999, "", true, true, "", "",
                   "Error SendMail: no se pudo conectar con 127.0.0.1"},
        Protection{"Pop3NothingListening", true, 2998, "STARTTLS", true, true, "user", "secret",
                   "Error ConnectPOP3: no se pudo conectar con 127.0.0.1"}),
    [](const ::testing::TestParamInfo<Protection>& tp) { return std::string(tp.param.name); });

// A send that fails says why, keeps the request as it was and leaves no package copy of its card behind.
TEST_F(MailTest, FailedSendsKeepTheRequest) {
    ASSERT_TRUE(dm->ped().locate(QStringLiteral("C_PED"), Value(1.0)));
    writeCard(QStringLiteral("h1.7"));
    auto attempt = [&](const char* expected) {
        prompter.clear();
        EXPECT_FALSE(dm->EnviarPedidoOficial());
        EXPECT_TRUE(prompter.texts().join('|').contains(QString::fromUtf8(expected)))
            << prompter.texts().join('|').toStdString();
        EXPECT_EQ(prompter.lastText(), QStringLiteral("No se pudo enviar el pedido"));
        EXPECT_EQ(dm->ped().text(QStringLiteral("C_EST")), QStringLiteral("I"));
        EXPECT_FALSE(QFile::exists(dir.file(QStringLiteral("huella.tif"))));
        EXPECT_TRUE(QFile::exists(dir.file(QStringLiteral("h1.7"))));
    };
    // A recipient the address check refuses.
    ASSERT_TRUE(dm->settings().write(QStringLiteral("x_toreg"), QStringLiteral("central@@example")));
    attempt("Error al enviar: Error SendMail: la dirección de destinatario \"central@@example\" no es válida");
    // A recipient the server refuses.
    ASSERT_TRUE(dm->settings().write(QStringLiteral("x_toreg"), QStringLiteral("nadie@example.test")));
    attempt("Error al enviar: Error SendMail: ");
    // Nobody listening.
    ASSERT_TRUE(dm->settings().write(QStringLiteral("x_toreg"), QStringLiteral("central@example.test")));
    dm->mail().account().smtpPort = 2524;
    attempt("Error al enviar: Error SendMail: ");
    // A server that closes the connection in the middle of the message.
    QProcess drop;
    drop.start(QStringLiteral("/usr/bin/python3"),
               {QStringLiteral(QEV_SOURCE_DIR "/tests/exchange/data/drop_smtp.py")});
    ASSERT_TRUE(drop.waitForReadyRead(10000));
    dm->mail().account().smtpPort = drop.readLine().trimmed().toInt();
    dm->mail().connection().smtpSecurity = MailSecurity::None;
    attempt("Error al enviar: Error SendMail: ");
    drop.waitForFinished(5000);
    // A server that takes the connection and never says a word: the send gives up after the timeout.
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));
    dm->mail().account().smtpPort = silent.serverPort();
    dm->mail().connection().timeoutMs = 300;
    QElapsedTimer waited;
    waited.start();
    attempt("Error al enviar: Error SendMail: el servidor no respondió a tiempo");
    EXPECT_LT(waited.elapsed(), 20000);
    EXPECT_TRUE(mailFiles(QStringLiteral("central")).isEmpty());

    // A missing attachment by SMTP fails the send.
    QString error;
    EXPECT_FALSE(
        send(QStringLiteral("central@example.test"), QStringLiteral("x"), {}, {QStringLiteral("no.tif")}, error));
    EXPECT_TRUE(error.startsWith(QStringLiteral("Error SendMail: no se encuentra el archivo adjunto")))
        << error.toStdString();
}

TEST_F(MailTest, WithoutMailLoggingNothingIsLogged) {
    ASSERT_TRUE(dm->settings().write(QStringLiteral("LogOpeMail"), QStringLiteral("N")));
    reload();
    QString error;
    ASSERT_TRUE(send(QStringLiteral("central@example.test"), QStringLiteral("x"), {QStringLiteral("y")}, {}, error))
        << error.toStdString();
    QStringList lines;
    std::vector<AttachmentRow> parts;
    ASSERT_EQ(waitForMail(QStringLiteral("central"), 1).size(), 1);
    ASSERT_TRUE(dm->mail().LeerMensaje(1, lines, parts, &error)) << error.toStdString();
    EXPECT_FALSE(QFile::exists(dir.file(QStringLiteral("QevRegLog.log"))));
}

// Outlook does not exist here: its flag sends nothing, answers false and says so in the log once.
TEST_F(MailTest, OutlookFlagSendsNothing) {
    ASSERT_TRUE(dm->settings().write(QStringLiteral("usaOutlook"), QStringLiteral("S")));
    reload();
    ASSERT_TRUE(dm->ped().locate(QStringLiteral("C_PED"), Value(1.0)));
    writeCard(QStringLiteral("h1.7"));
    EXPECT_FALSE(dm->EnviarPedidoOficial());
    EXPECT_FALSE(dm->EnviarPedidoOficial());
    EXPECT_EQ(prompter.lastText(), QStringLiteral("No se pudo enviar el pedido"));
    EXPECT_EQ(dm->ped().text(QStringLiteral("C_EST")), QStringLiteral("I"));
    QFile log(dir.file(QStringLiteral("QevRegLog.log")));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_EQ(fromAnsiBytes(log.readAll()).count(QStringLiteral("Outlook no está disponible")), 1);
    QThread::msleep(200);
    EXPECT_TRUE(mailFiles(QStringLiteral("central")).isEmpty());
}

} // namespace
} // namespace qev
