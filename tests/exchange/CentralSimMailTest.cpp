// The central office simulator's reply mails, sent to the loopback Postfix, fetched back through Dovecot's POP3
// and read with Python's MIME parser: subjects, the keys of "resp.dat", "resp.tif" as a real TIFF, the state lists;
// then what the simulator's pages and services say after each reply.
#include "CentralSim.h"
#include "LoopbackMail.h"
#include "exchange/QevMessage.h"
#include "exchange/soap/SoapClient.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QHttpMultiPart>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>
#include <tuple>

namespace qev {
namespace {

const QString kSmtpPort = test::smtpPort();
const QString kPop3Port = test::pop3Port();
const QString kUser = QStringLiteral("other");

QStringList mailFiles() {
    return test::mailFiles(kUser);
}

// The one message of the mailbox as Dovecot serves it, read by Python; empty when none arrived.
QStringList fetchAndParse(const QString& workDir) {
    QElapsedTimer t;
    t.start();
    while (mailFiles().isEmpty() && t.elapsed() < 10000)
        QThread::msleep(20);
    if (mailFiles().size() != 1) return {QStringLiteral("messages: %1").arg(mailFiles().size())};
    const QString eml = workDir + QStringLiteral("/reply.eml");
    QProcess curl;
    curl.start(QStringLiteral("curl"),
               {QStringLiteral("-sS"), QStringLiteral("-o"), eml, QStringLiteral("-u"),
                kUser + QStringLiteral(":secret2"), QStringLiteral("pop3://127.0.0.1:%1/1").arg(kPop3Port)});
    curl.waitForFinished(20000);
    if (curl.exitCode() != 0) return {QStringLiteral("curl: ") + QString::fromUtf8(curl.readAllStandardError())};
    QProcess py;
    py.start(QStringLiteral("/usr/bin/python3"),
             {QStringLiteral(QEV_SOURCE_DIR "/tests/exchange/data/central_reply.py"), eml});
    py.waitForFinished(20000);
    return QString::fromUtf8(py.readAllStandardOutput() + py.readAllStandardError())
        .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QByteArray getPage(const QString& url) {
    QNetworkAccessManager nam;
    QNetworkReply* reply = nam.get(QNetworkRequest(QUrl(url)));
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    const QByteArray body = reply->readAll();
    reply->deleteLater();
    return body;
}

struct ReplyCase {
    const char* name;
    const char* kind;
    std::vector<const char*> args;
    std::vector<const char*> mail; // lines the parsed mail must hold, in this order
    const char* page;              // a page of the simulator afterwards ...
    const char* pageLine;          // ... and a line it must hold
};

class CentralSimReplies : public ::testing::TestWithParam<ReplyCase> {
protected:
    void SetUp() override {
        ASSERT_TRUE(sim.started()) << sim.error().toStdString();
        for (const QString& f : mailFiles())
            QFile::remove(f);
    }
    void TearDown() override {
        for (const QString& f : mailFiles())
            QFile::remove(f);
    }
    test::CentralSim sim{R"({"results": [{"regional": 7, "lines": ["88;T|900,"]}]})",
                         QStringLiteral("127.0.0.1:") + kSmtpPort, QStringLiteral("other@example.test")};
    QTemporaryDir work;
};

TEST_P(CentralSimReplies, ArriveAsTheOfficeReadsThem) {
    const ReplyCase& c = GetParam();
    QStringList args;
    for (const char* a : c.args)
        args << QString::fromUtf8(a);
    if (args.contains(QStringLiteral("IMAGE"))) {
        // A given answer image goes byte for byte.
        QFile tif(work.filePath(QStringLiteral("given.tif")));
        ASSERT_TRUE(tif.open(QIODevice::WriteOnly));
        tif.write(QByteArray("II*\0\x08\0\0\0\0\0\0\0\0\0", 14));
        tif.close();
        args.replace(args.indexOf(QStringLiteral("IMAGE")), tif.fileName());
    }
    const test::CentralSim::ReplyRun run = sim.sendReply(QString::fromLatin1(c.kind), args);
    ASSERT_EQ(run.exitCode, 0) << run.output.toStdString();
    const QStringList parsed = fetchAndParse(work.path());
    qsizetype at = 0;
    for (const char* want : c.mail) {
        qsizetype found = -1;
        for (qsizetype i = at; i < parsed.size() && found < 0; ++i)
            if (parsed[i] == QString::fromUtf8(want) ||
                (parsed[i].startsWith(QStringLiteral("file\t")) &&
                 parsed[i].section(QLatin1Char('\t'), 0, 2) == QString::fromUtf8(want)))
                found = i;
        EXPECT_GE(found, 0) << "missing or out of order: " << want << "\n" << parsed.join('\n').toStdString();
        if (found >= 0) at = found + 1;
    }
    // Nothing else travels: the files are exactly those listed.
    EXPECT_EQ(
        parsed.filter(QRegularExpression(QStringLiteral("^file\t"))).size(),
        std::count_if(c.mail.begin(), c.mail.end(), [](const char* l) { return QByteArray(l).startsWith("file\t"); }))
        << parsed.join('\n').toStdString();
    if (c.page) {
        const QString page = QString::fromLatin1(getPage(sim.root() + QString::fromLatin1(c.page)));
        EXPECT_TRUE(page.split(QStringLiteral("\r\n")).contains(QString::fromLatin1(c.pageLine))) << page.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, CentralSimReplies,
    ::testing::Values(
        ReplyCase{"Confirmo",
                  "confirmo",
                  {"--pedido", "101", "--regional", "7", "--expediente", "777"},
                  {"subject\tCONFIRMO", "file\tresp.dat\tapplication/octet-stream", "line\tresp.dat\t[DATA]",
                   "line\tresp.dat\tc_ped=101", "line\tresp.dat\tc_reg=7", "line\tresp.dat\tn_expe=777",
                   "line\tresp.dat\tc_est=T", "line\tresp.dat\tx_obs=", "line\tresp.dat\tn_cert=",
                   "line\tresp.dat\tc_rechazo=", "line\tresp.dat\tc_res=", "crlf\tresp.dat\tyes"},
                  "GetEstReg.asp?reg=7",
                  "101;T|777"},
        ReplyCase{"Contesto",
                  "contesto",
                  {"--pedido", "102", "--regional", "7", "--expediente", "778"},
                  {"subject\tCONTESTO", "file\tresp.dat\tapplication/octet-stream", "line\tresp.dat\tc_ped=102",
                   "line\tresp.dat\tn_expe=778", "file\tresp.tif\timage/tiff",
                   "tiff\tresp.tif\t1654\t2339\t4\t0\t1\t200.0\t1"},
                  "GetEstReg.asp?reg=7",
                  "102;C|778"},
        ReplyCase{"ContestopByPost",
                  "contestop",
                  {"--pedido", "88", "--regional", "7", "--cert", "CC-4455", "--res", "R"},
                  {"subject\tCONTESTOP", "file\tresp.dat\tapplication/octet-stream", "line\tresp.dat\tc_est=C",
                   "line\tresp.dat\tn_cert=CC-4455", "line\tresp.dat\tc_res=R"},
                  "GetEstResP.asp?reg=7",
                  "88;C|900,R"},
        ReplyCase{
            "ContestopWithGivenImageAndSubject",
            "contestop",
            {"--pedido", "89", "--regional", "7", "--image", "IMAGE", "--subject", "RESPUESTA PERSONAL"},
            {"subject\tRESPUESTA PERSONAL", "file\tresp.dat\tapplication/octet-stream", "file\tresp.tif\timage/tiff"},
            "GetEstRegp.asp?reg=7",
            "89;C|"},
        ReplyCase{"Confirmop",
                  "confirmop",
                  {"--pedido", "90", "--regional", "7", "--expediente", "12"},
                  {"subject\tCONFIRMOP", "file\tresp.dat\tapplication/octet-stream", "line\tresp.dat\tc_est=T"},
                  "GetEstRegp.asp?reg=7",
                  "90;T|12"},
        ReplyCase{"Rechazo",
                  "rechazo",
                  {"--pedido", "103", "--regional", "7", "--obs", "Falta la ficha, año 2026"},
                  {"subject\tRECHAZO", "file\tresp.dat\tapplication/octet-stream", "line\tresp.dat\tc_est=R",
                   "line\tresp.dat\tx_obs=Falta la ficha, año 2026"},
                  "GetEstReg.asp?reg=7",
                  "103;R|"},
        ReplyCase{
            "Rechazop",
            "rechazop",
            {"--pedido", "91", "--regional", "7", "--obs", "Foto ilegible"},
            {"subject\tRECHAZOP", "file\tresp.dat\tapplication/octet-stream", "line\tresp.dat\tx_obs=Foto ilegible"},
            "GetEstResP.asp?reg=7",
            "91;R|,"},
        ReplyCase{"SetEstado",
                  "setestado",
                  {"--oficial", "1234;T|5678\n1235;C", "--personal", "88;R|900"},
                  {"subject\tSETESTADO", "file\tEstOfi.DAT\tapplication/octet-stream", "line\tEstOfi.DAT\t1234;T|5678",
                   "line\tEstOfi.DAT\t1235;C", "crlf\tEstOfi.DAT\tyes", "file\tEstPriv.DAT\tapplication/octet-stream",
                   "line\tEstPriv.DAT\t88;R|900"},
                  "GetEstRegp.asp?reg=7",
                  "NO_HAY_PEDIDOS"}),
    [](const ::testing::TestParamInfo<ReplyCase>& p) { return std::string(p.param.name); });

// What the command refuses exits 2 with the reason and sends nothing.
TEST_F(CentralSimReplies, RefusedCommandsSendNothing) {
    struct Refused {
        const char* kind;
        QStringList args;
        const char* reason;
    };
    const quint16 dead = test::deadPort();
    for (const Refused& r :
         {Refused{"contestado", {}, "unknown reply"},
          Refused{"confirmo", {QStringLiteral("--regional"), QStringLiteral("7")}, "--pedido and --regional"},
          Refused{"confirmo",
                  {QStringLiteral("--pedido"), QStringLiteral("x1"), QStringLiteral("--regional"), QStringLiteral("7")},
                  "'pedido' must be a whole number"},
          Refused{"rechazo",
                  {QStringLiteral("--pedido"), QStringLiteral("1"), QStringLiteral("--regional"), QStringLiteral("7"),
                   QStringLiteral("--image"), QStringLiteral("/nonexistent.tif")},
                  "cannot read the image"},
          Refused{"setestado", {}, "setestado needs"}}) {
        const auto run = sim.sendReply(QString::fromLatin1(r.kind), r.args);
        EXPECT_EQ(run.exitCode, 2) << r.kind;
        EXPECT_TRUE(run.output.contains(QString::fromLatin1(r.reason))) << run.output.toStdString();
    }
    test::CentralSim noServer{"{}", QStringLiteral("127.0.0.1:%1").arg(dead), QStringLiteral("other@example.test")};
    ASSERT_TRUE(noServer.started());
    const auto run =
        noServer.sendReply(QStringLiteral("confirmo"), {QStringLiteral("--pedido"), QStringLiteral("5"),
                                                        QStringLiteral("--regional"), QStringLiteral("7")});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(run.output.contains(QStringLiteral("SMTP 127.0.0.1:"))) << run.output.toStdString();
    QThread::msleep(300);
    EXPECT_TRUE(mailFiles().isEmpty());
    // The refused ones told the server nothing either.
    EXPECT_EQ(getPage(sim.root() + QStringLiteral("GetEstReg.asp?reg=7")), QByteArray("NO_HAY_PEDIDOS\r\n"));
}

// The rehearsal page: a rejection posted as a form goes out and gives its reason to the rejection service.
TEST_F(CentralSimReplies, FormPostSendsAndTeachesTheReason) {
    QNetworkAccessManager nam;
    QHttpMultiPart form(QHttpMultiPart::FormDataType);
    for (const auto& [name, value] : {std::pair{"kind", "rechazo"}, std::pair{"pedido", "104"},
                                      std::pair{"regional", "7"}, std::pair{"obs", "Huellas borrosas"}}) {
        QHttpPart part;
        part.setHeader(QNetworkRequest::ContentDispositionHeader,
                       QStringLiteral("form-data; name=\"%1\"").arg(QString::fromLatin1(name)));
        part.setBody(value);
        form.append(part);
    }
    QNetworkReply* reply = nam.post(QNetworkRequest(QUrl(sim.root() + QStringLiteral("sim/reply"))), &form);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    EXPECT_EQ(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 200)
        << reply->readAll().toStdString();
    reply->deleteLater();
    const QStringList parsed = fetchAndParse(work.path());
    EXPECT_TRUE(parsed.contains(QStringLiteral("subject\tRECHAZO"))) << parsed.join('\n').toStdString();
    EXPECT_TRUE(parsed.contains(QStringLiteral("line\tresp.dat\tx_obs=Huellas borrosas")));
    SoapClient client;
    auto r =
        client.call(QUrl(sim.root() + QStringLiteral("QEVSVC/QEVService.asmx")), sim.root(),
                    QStringLiteral("ObtenerMotivoRechazoOficial"),
                    {{QStringLiteral("c_ped"), SoapValue::int32(104)}, {QStringLiteral("c_reg"), SoapValue::int32(7)}});
    ASSERT_TRUE(r) << r.error();
    EXPECT_EQ(r->childText(QStringLiteral("ObtenerMotivoRechazoOficialResult")), QStringLiteral("Huellas borrosas"));
}

// The state request of "Estado vía Mail" is answered by a "SETESTADO" mail with the lists the pages show.
TEST_F(CentralSimReplies, StateRequestIsAnsweredByMail) {
    SoapClient client;
    const QUrl service(sim.root() + QStringLiteral("QEVService/QEVMessageService.asmx"));
    for (const auto& [pedido, subject, file, text] :
         {std::tuple{101, "PEDIDO", "ped.dat", "[DATA]\r\nc_ped=101\r\n"},
          std::tuple{0, "GETESTADO", "GetEstado.DAT", "[DATA]\r\nc_reg=7\r\nc_regp=8\r\n"}}) {
        QEVMessage msg;
        msg.Pedido = pedido;
        msg.Regional = 7;
        msg.Subject = QString::fromLatin1(subject);
        msg.Attachments.push_back({QString::fromLatin1(file), attachmentContent(QByteArray(text))});
        auto r = client.call(service, sim.root(), QStringLiteral("SendMessage"), messageParams(msg));
        ASSERT_TRUE(r) << r.error();
    }
    const QStringList parsed = fetchAndParse(work.path());
    for (const char* want : {"subject\tSETESTADO", "line\tEstOfi.DAT\t101;T|", "line\tEstPriv.DAT\tNO_HAY_PEDIDOS"})
        EXPECT_TRUE(parsed.contains(QString::fromLatin1(want))) << want << "\n" << parsed.join('\n').toStdString();
    EXPECT_EQ(parsed.filter(QStringLiteral("line\t")).size(), 2) << parsed.join('\n').toStdString();
}

} // namespace
} // namespace qev
