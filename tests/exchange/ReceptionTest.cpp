// The reception of the central office's replies through a real Dovecot on loopback: messages built by Python's
// email package in the shapes mail programs write, hostile ones, foreign ones and ones of another regional.
#include "CentralSim.h"
#include "FixedClock.h"
#include "LoopbackMail.h"
#include "ScriptedPrompter.h"
#include "TempAppDir.h"
#include "capture/ImageLib.h"
#include "core/Dataset.h"
#include "core/OfficeSchema.h"
#include "core/Settings.h"
#include "dm/ReceptionOutput.h"
#include "dm/Tdm.h"
#include "exchange/CentralState.h"
#include "exchange/HostIdentity.h"
#include "exchange/MailReception.h"
#include "exchange/TSMime.h"
#include "exchange/mail/TdmMail.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>

namespace qev {
namespace {

using dbf::Value;

using test::clearMailbox;
using test::maildir;

int mailCount(const QString& user) {
    return static_cast<int>(test::mailFiles(user).size());
}

// Puts messages straight into a mailbox (or through Postfix with `smtp`), built by the Python script.
bool deliver(const QJsonArray& messages, const QString& user = QStringLiteral("user"), bool smtp = false) {
    QProcess p;
    const QStringList args =
        smtp ? QStringList{QStringLiteral("smtp"), QStringLiteral("127.0.0.1"), QStringLiteral("2525")}
             : QStringList{QStringLiteral("maildir"), maildir(user)};
    p.start(QStringLiteral("/usr/bin/python3"),
            QStringList{QStringLiteral(QEV_SOURCE_DIR "/tests/exchange/data/reply_mail.py")} + args);
    if (!p.waitForStarted()) return false;
    p.write(QJsonDocument(messages).toJson());
    p.closeWriteChannel();
    p.waitForFinished(120000);
    if (p.exitCode() != 0) ADD_FAILURE() << p.readAllStandardError().toStdString();
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

QJsonObject reply(const QString& subject, const QJsonObject& resp, const QString& shape = QStringLiteral("plain")) {
    return QJsonObject{
        {QStringLiteral("subject"), subject}, {QStringLiteral("resp"), resp}, {QStringLiteral("shape"), shape}};
}

QJsonObject respDat(int cPed, int cReg, int nExpe, const QString& cEst, const QJsonObject& more = {}) {
    QJsonObject o = more;
    o[QStringLiteral("c_ped")] = cPed;
    o[QStringLiteral("c_reg")] = cReg;
    o[QStringLiteral("n_expe")] = nExpe;
    o[QStringLiteral("c_est")] = cEst;
    return o;
}

struct RecordingViews final : ReceptionViews {
    QStringList activity, states, statuses;
    int activityShown = 0;
    void activityLine(const QString& l) override { activity << l; }
    void showActivity() override { ++activityShown; }
    void clearStates() override { states.clear(); }
    void stateLine(const QString& l) override { states << l; }
    void showStates() override {}
    void stateStatus(const QString& t) override { statuses << t; }
    void status(const QString& t) override { statuses << t; }
};

// Every file of the office folder (outside the reception folder) with its size: what a reception may change.
QStringList officeFiles(const QString& folder) {
    QStringList out;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString f = it.next();
        out << QDir(folder).relativeFilePath(f);
    }
    out.sort();
    return out;
}

class ReceptionTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::startLoopbackOffice(dir, true, prompter, clock, dm, QStringLiteral("user"), QStringLiteral("secret"),
                                  QStringLiteral("regional7@example.test"),
                                  {{"emailFwd", "other@example.test"}, {"LogOpeMail", "S"}, {"m_impauto", "S"}});
        if (HasFatalFailure()) return;
        ASSERT_TRUE(dm->mail().leerConfiguracion());
        dm->setReceptionViews(&views);
        for (const char* u : {"user", "other"})
            clearMailbox(QString::fromLatin1(u));
        prompter.clear();
    }

    const MailReception::Counters& receive() {
        dm->mailReception().RecibirPop3();
        return dm->mailReception().last();
    }

    QString text(Dataset& ds, double cPed, const char* field) {
        ds.refresh();
        if (!ds.locate(QStringLiteral("C_PED"), Value(cPed))) return QStringLiteral("<no row>");
        return ds.text(QString::fromLatin1(field));
    }

    QString logText() const {
        QFile f(dir.file(QStringLiteral("QevRegLog.log")));
        return f.open(QIODevice::ReadOnly) ? fromAnsiBytes(f.readAll()) : QString();
    }

    test::TempAppDir dir;
    test::FixedClock clock{QDateTime(QDate(2026, 3, 16), QTime(9, 30))};
    test::ScriptedPrompter prompter;
    RecordingViews views;
    std::unique_ptr<Tdm> dm;
};

class ReplyShapes : public ReceptionTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(ReplyShapes, AreRecognisedAndApplied) {
    ASSERT_TRUE(deliver({reply(QStringLiteral("CONFIRMO"), respDat(2, 7, 5678, QStringLiteral("T")),
                               QString::fromLatin1(GetParam()))}));
    const auto& c = receive();
    EXPECT_FALSE(c.failed) << c.error.toStdString();
    EXPECT_EQ(c.processed, 1) << views.activity.join('|').toStdString();
    EXPECT_EQ(text(dm->ped(), 2, "C_EST"), QStringLiteral("T"));
    EXPECT_EQ(text(dm->ped(), 2, "N_EXPE"), QStringLiteral("5678"));
    EXPECT_EQ(mailCount(QStringLiteral("user")), 0);
    EXPECT_EQ(views.activity,
              QStringList{QStringLiteral("16/03/2026 09:30:00  Pedido Oficial 2 Recibido y en Trámite")});
    EXPECT_TRUE(QDir(dm->mailReception().receptionFolder()).isEmpty()) << "the attachments are cleared after use";
}

INSTANTIATE_TEST_SUITE_P(MailPrograms, ReplyShapes,
                         ::testing::Values("plain", "alternative", "rfc2231", "rfc2047", "qp", "nameonly"),
                         [](const auto& p) { return std::string(p.param); });

TEST_F(ReceptionTest, OwnMessagesAppliedForeignForwardedAndAnotherRegionalsLeftOnTheServer) {
    ASSERT_TRUE(deliver({
        reply(QStringLiteral("CONFIRMO"), respDat(2, 7, 4242, QStringLiteral("T"))),
        reply(QStringLiteral("RECHAZOP"), respDat(2, 7, 800002, QStringLiteral("R"),
                                                  {{QStringLiteral("x_obs"), QStringLiteral("Huellas ilegibles")}})),
        QJsonObject{{QStringLiteral("subject"), QStringLiteral("Consulta de un vecino")}},
        // Request 1 exists, but at regional 7, not 9: nothing may change and the message must stay.
        reply(QStringLiteral("CONFIRMO"), respDat(1, 9, 999, QStringLiteral("T"))),
    }));
    const auto& c = receive();
    EXPECT_FALSE(c.failed) << c.error.toStdString();
    EXPECT_EQ(c.processed, 2);
    EXPECT_EQ(c.forwarded, 1);
    EXPECT_EQ(c.notProcessed, 1);
    EXPECT_EQ(text(dm->ped(), 2, "C_EST"), QStringLiteral("T"));
    EXPECT_EQ(text(dm->pedp(), 2, "C_EST"), QStringLiteral("R"));
    EXPECT_EQ(text(dm->pedp(), 2, "X_RECHAZO"), QStringLiteral("Huellas ilegibles"));
    EXPECT_EQ(text(dm->ped(), 1, "C_EST"), QStringLiteral("I"));
    EXPECT_EQ(text(dm->ped(), 1, "N_EXPE"), QString());
    EXPECT_EQ(mailCount(QStringLiteral("user")), 1) << "the other regional's message stays on the server";

    QElapsedTimer t;
    t.start();
    while (mailCount(QStringLiteral("other")) < 1 && t.elapsed() < 10000)
        QThread::msleep(20);
    EXPECT_EQ(mailCount(QStringLiteral("other")), 1) << "the foreign message is forwarded";

    ASSERT_EQ(views.activity.size(), 3) << views.activity.join('|').toStdString();
    EXPECT_EQ(views.activity[1],
              QStringLiteral("16/03/2026 09:30:00  Pedido Privado 2 Rechazado. Observaciones:Huellas ilegibles"));
    EXPECT_TRUE(views.activity[2].startsWith(QStringLiteral("16/03/2026 09:30:00 - Error al procesar correo: Error "
                                                            "RecibirMsgIndyToQev: No se pudo procesar el mensaje en "
                                                            "la base QEV: ERROR ProcesaMsgIndyToQEV: Error al "
                                                            "confirmar pedido oficial")))
        << views.activity[2].toStdString();
    EXPECT_TRUE(views.activity[2].contains(QStringLiteral("otra regional")));
    EXPECT_EQ(views.statuses.last(),
              QStringLiteral("Total mensajes de correo: Procesados: 2 - No procesados: 1 - Reenviados: 1 "));
    const QString log = logText();
    EXPECT_EQ(log.count(QStringLiteral("DeleteMail OK")), 3) << log.toStdString();
    EXPECT_EQ(log.count(QStringLiteral("ForwardMail OK")), 1);
    EXPECT_TRUE(log.contains(QStringLiteral(" - MailIndex: 1 - ERROR: ")));

    // The message left behind is tried again at the next reception, still without effect.
    const auto& again = receive();
    EXPECT_EQ(again.notProcessed, 1);
    EXPECT_EQ(again.processed, 0);
    EXPECT_EQ(text(dm->ped(), 1, "C_EST"), QStringLiteral("I"));
}

TEST_F(ReceptionTest, HostileMessagesWriteNothingOutsideTheirFolderAndTheRestGoesOn) {
    const QStringList before = officeFiles(dir.path());
    const QString outside = QDir(dir.path()).absoluteFilePath(QStringLiteral("../qev-escape.txt"));
    QFile::remove(outside);
    auto withFiles = [](const QString& subject, const QJsonObject& resp, const QJsonArray& files,
                        const QString& shape = QStringLiteral("plain")) {
        QJsonObject m = reply(subject, resp, shape);
        m[QStringLiteral("files")] = files;
        return m;
    };
    auto file = [](const QString& name, const QString& text) {
        return QJsonObject{{QStringLiteral("name"), name}, {QStringLiteral("text"), text}};
    };
    const QJsonObject official = respDat(2, 7, 11, QStringLiteral("T"));
    QJsonObject nulName = withFiles(QStringLiteral("CONFIRMO"), official, {file(QStringLiteral("NULNAME.txt"), "x")});
    // A NUL byte inside the quoted file name, as no mail program writes it.
    nulName[QStringLiteral("replace")] =
        QJsonArray{QJsonArray{QStringLiteral("NULNAME"), QStringLiteral("NUL\u0000NAME")}};
    ASSERT_TRUE(deliver({
        withFiles(QStringLiteral("CONFIRMO"), official,
                  {file(QStringLiteral("../../qev-escape.txt"), "fuera"), file(QStringLiteral("/etc/PED.DBF"), "tabla"),
                   file(QStringLiteral("..\\..\\QEVReg.INI"), "ini"), file(QStringLiteral("CON"), "dispositivo"),
                   file(QString(300, QLatin1Char('n')) + QStringLiteral(".txt"), "largo"),
                   file(QStringLiteral(".."), "puntos")}),
        nulName,
        // A 50 MB attachment beside the reply.
        withFiles(
            QStringLiteral("CONFIRMO"), official,
            {QJsonObject{{QStringLiteral("name"), QStringLiteral("grande.bin")},
                         {QStringLiteral("repeat"), QJsonArray{QStringLiteral("0123456789abcdef"), 50 * 65536}}}}),
        // A MIME tree 200 levels deep.
        QJsonObject{{QStringLiteral("subject"), QStringLiteral("CONFIRMO")},
                    {QStringLiteral("resp"), official},
                    {QStringLiteral("shape"), QStringLiteral("deep")},
                    {QStringLiteral("depth"), 200}},
        // A "resp.dat" of 10 MB in one line.
        QJsonObject{{QStringLiteral("subject"), QStringLiteral("RECHAZO")},
                    {QStringLiteral("files"),
                     QJsonArray{QJsonObject{
                         {QStringLiteral("name"), QStringLiteral("resp.dat")},
                         {QStringLiteral("repeat"), QJsonArray{QStringLiteral("[DATA] c_ped=2 c_reg=7 "), 400000}}}}}},
        // And a sound reply after all of them.
        reply(QStringLiteral("RECHAZO"),
              respDat(5, 7, 77, QStringLiteral("R"), {{QStringLiteral("x_obs"), QStringLiteral("Sin oficio")}})),
    }));
    const auto& c = receive();
    EXPECT_FALSE(c.failed) << c.error.toStdString();
    EXPECT_EQ(c.processed + c.notProcessed, 6) << views.activity.join('\n').toStdString();
    EXPECT_EQ(text(dm->ped(), 5, "C_EST"), QStringLiteral("R")) << "the sound reply after the hostile ones applied";
    EXPECT_EQ(text(dm->ped(), 5, "X_RECHAZO"), QStringLiteral("Sin oficio"));
    EXPECT_FALSE(QFile::exists(outside));
    EXPECT_EQ(text(dm->ped(), 2, "C_EST"), QStringLiteral("T")) << "the replies with hostile names still apply";

    // Nothing was written among the office's files but the logs, the reception folder and the changed tables.
    QStringList after = officeFiles(dir.path());
    QStringList added;
    for (const QString& f : after)
        if (!before.contains(f)) added << f;
    added.removeAll(QStringLiteral("QevRegLog.log"));
    EXPECT_TRUE(added.isEmpty()) << added.join(' ').toStdString();
    EXPECT_TRUE(QDir(dm->mailReception().receptionFolder()).isEmpty());
    const QString log = logText();
    EXPECT_TRUE(log.contains(QStringLiteral("adjunto rechazado: el nombre \"..\""))) << log.toStdString();
    QFile ini(dir.file(QStringLiteral("QEVReg.INI")));
    if (ini.open(QIODevice::ReadOnly)) {
        EXPECT_FALSE(ini.readAll().contains("ini"));
    }
}

// The whole road of a request: sent to the simulator by web service, then its replies mailed by the simulator
// through Postfix and received from Dovecot.
TEST_F(ReceptionTest, RoundTripOfAnOfficialAndAPersonalRequest) {
    test::CentralSim sim("{}", QStringLiteral("127.0.0.1:2525"), QStringLiteral("user@example.test"));
    ASSERT_TRUE(sim.started()) << sim.error().toStdString();
    WorkstationIni(dir.path()).setServiceUrl(sim.root() + QStringLiteral("QEVService/QEVMessageService.asmx"));
    ASSERT_TRUE(dm->settings().write(QStringLiteral("envWebService"), QStringLiteral("S")));
    ASSERT_TRUE(dm->settings().write(QStringLiteral("m_impconfp"), QStringLiteral("S")));
    dm->createSender();
    auto image = [&](const QString& name, int w, int h) {
        capture::Raster r = capture::Raster::grey(w, h, 170);
        for (int y = 0; y < h; y += 5)
            for (int x = (y * 3) % 7; x < w; x += 7)
                r.row(y)[x] = 30;
        r.resolutionX = r.resolutionY = 300;
        std::string error;
        ASSERT_TRUE(capture::saveAs(dir.filePath(name.toStdString()), r, {}, &error)) << error;
    };
    // Waits until Postfix has put `n` messages in the office's mailbox.
    auto arrived = [](int n) {
        QElapsedTimer t;
        t.start();
        while (mailCount(QStringLiteral("user")) < n && t.elapsed() < 15000)
            QThread::msleep(20);
        return mailCount(QStringLiteral("user")) == n;
    };
    auto reply = [&](const char* kind, QStringList args) {
        args << QStringLiteral("--regional") << QStringLiteral("7");
        const auto r = sim.sendReply(QString::fromLatin1(kind), args);
        ASSERT_EQ(r.exitCode, 0) << r.output.toStdString();
    };

    // Official request 3: sent, confirmed, answered with its report image.
    ASSERT_TRUE(dm->ped().locate(QStringLiteral("C_PED"), Value(3.0)));
    image(QStringLiteral("h3.7"), 2480, 1299);
    image(QStringLiteral("d3.7"), 2480, 3508);
    prompter.answerConfirm(true); // sent before: send again
    ASSERT_TRUE(dm->EnviarPedidoOficial()) << prompter.texts().join('|').toStdString();
    dm->sender().waitForSends();
    EXPECT_EQ(text(dm->ped(), 3, "C_EST"), QStringLiteral("E"));
    reply("confirmo", {QStringLiteral("--pedido"), QStringLiteral("3"), QStringLiteral("--expediente"),
                       QStringLiteral("9003"), QStringLiteral("--estado"), QStringLiteral("T")});
    ASSERT_TRUE(arrived(1));
    EXPECT_EQ(receive().processed, 1) << views.activity.join('|').toStdString();
    EXPECT_EQ(text(dm->ped(), 3, "C_EST"), QStringLiteral("T"));
    EXPECT_EQ(text(dm->ped(), 3, "N_EXPE"), QStringLiteral("9003"));
    EXPECT_EQ(views.activity.last(), QStringLiteral("16/03/2026 09:30:00  Pedido Oficial 3 Recibido y en Trámite"));

    reply("contesto",
          {QStringLiteral("--pedido"), QStringLiteral("3"), QStringLiteral("--expediente"), QStringLiteral("9003")});
    ASSERT_TRUE(arrived(1));
    EXPECT_EQ(receive().processed, 1) << views.activity.join('|').toStdString();
    EXPECT_EQ(text(dm->ped(), 3, "C_EST"), QStringLiteral("C"));
    EXPECT_EQ(text(dm->ped(), 3, "M_CONTESTA"), QStringLiteral("True"));
    std::string why;
    EXPECT_EQ(capture::pageCount(dir.filePath("c3.7"), &why), 1) << "the answer image filed as c3.7: " << why;
    ASSERT_EQ(dm->pdfPrinter().written().size(), 1) << "the answer image printed to PDF";
    EXPECT_GT(QFileInfo(dm->pdfPrinter().written()[0]).size(), 2000);
    EXPECT_EQ(mailCount(QStringLiteral("user")), 0);

    // Personal request 1: sent, rejected with its reasons, which the rejection service also gives.
    ASSERT_TRUE(dm->pedp().locate(QStringLiteral("C_PED"), Value(1.0)));
    image(QStringLiteral("hp1.7"), 2480, 1299);
    image(QStringLiteral("dp1.7"), 2480, 3508);
    ASSERT_TRUE(dm->EnviarPedidoPersonal()) << prompter.texts().join('|').toStdString();
    dm->sender().waitForSends();
    EXPECT_EQ(text(dm->pedp(), 1, "C_EST"), QStringLiteral("E"));
    reply("rechazop", {QStringLiteral("--pedido"), QStringLiteral("1"), QStringLiteral("--expediente"),
                       QStringLiteral("8001"), QStringLiteral("--estado"), QStringLiteral("R"), QStringLiteral("--obs"),
                       QStringLiteral("Huellas ilegibles, dedos superpuestos")});
    ASSERT_TRUE(arrived(1));
    EXPECT_EQ(receive().processed, 1) << views.activity.join('|').toStdString();
    EXPECT_EQ(text(dm->pedp(), 1, "C_EST"), QStringLiteral("R"));
    EXPECT_EQ(text(dm->pedp(), 1, "N_EXPE"), QStringLiteral("8001"));
    EXPECT_EQ(text(dm->pedp(), 1, "X_RECHAZO"), QStringLiteral("Huellas ilegibles, dedos superpuestos"));
    EXPECT_EQ(views.activity.last(), QStringLiteral("16/03/2026 09:30:00  Pedido Privado 1 Rechazado. "
                                                    "Observaciones:Huellas ilegibles, dedos superpuestos"));
    QString motivo, error;
    ASSERT_TRUE(dm->centralState().ObtenerMotivoRechazo(false, 1, 7, motivo, error)) << error.toStdString();
    EXPECT_EQ(motivo, QStringLiteral("Huellas ilegibles, dedos superpuestos"));
}

} // namespace
} // namespace qev
