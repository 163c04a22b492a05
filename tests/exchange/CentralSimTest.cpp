// The central office simulator's pages and small services over real HTTP: the state, result and Vorlund pages from
// the data file and from the requests its message service received in the run, the rejection reasons and the
// security-code change through the program's SOAP client.
#include "CentralSim.h"
#include "exchange/QevMessage.h"
#include "exchange/soap/SoapClient.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <gtest/gtest.h>

namespace qev {
namespace {

const QByteArray kData = R"({
  "states": [{"regional": 7, "official": ["100;T|500", "101;C"], "personal": []},
             {"regional": 8, "text": "Error 404 - pagina no encontrada"},
             {"regional": 9, "http_status": 503}],
  "results": [{"regional": 7, "lines": ["88;C|900,R"]}],
  "vorlund": [{"tram": "U500", "estado": "EN TRAMITE", "oficina": "MESA DE ENTRADAS"},
              {"tram": "W901", "lines": ["ESTADO=FINALIZADO"]}],
  "rejections": [{"kind": "oficial", "c_ped": 100, "c_reg": 7, "motivo": "Falta la ficha dactiloscópica"},
                 {"kind": "privado", "c_ped": 66, "c_reg": 7, "motivo": "x", "fault": "Servicio caído"}],
  "security": [{"c_ped": 88, "c_reg": 7, "c_segur": "AB12CD34EF"}]
})";

struct Page {
    int status = 0;
    QByteArray body;
};

Page get(const QString& url) {
    QNetworkAccessManager nam;
    QNetworkReply* reply = nam.get(QNetworkRequest(QUrl(url)));
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    Page p{reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->readAll()};
    reply->deleteLater();
    return p;
}

class CentralSimTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(sim.started()) << sim.error().toStdString(); }

    // A request package as the office's sender makes it, through SendMessage.
    void sendPackage(int pedido, int regional, const QString& subject, const QByteArray& pedDat) {
        QEVMessage msg;
        msg.Pedido = pedido;
        msg.Regional = regional;
        msg.Subject = subject;
        msg.Attachments.push_back({QStringLiteral("ped.dat"), attachmentContent(pedDat)});
        auto r = client.call(QUrl(sim.root() + QStringLiteral("QEVService/QEVMessageService.asmx")), sim.root(),
                             QStringLiteral("SendMessage"), messageParams(msg));
        ASSERT_TRUE(r) << r.error();
    }

    test::CentralSim sim{kData};
    SoapClient client;
};

struct PageCase {
    const char* name;
    const char* path;
    int status;
    const char* before; // before any request was received
    const char* after;  // after the packages of SetUp were received
};

class CentralSimPages : public CentralSimTest, public ::testing::WithParamInterface<PageCase> {};

TEST_P(CentralSimPages, AnswerTheDataThenTheRequestsReceived) {
    const PageCase& c = GetParam();
    Page p = get(sim.root() + QString::fromLatin1(c.path));
    EXPECT_EQ(p.status, c.status);
    if (c.status == 200) {
        EXPECT_EQ(p.body, QByteArray(c.before));
    }
    // An official request (the data's line of 101 is replaced), a personal one (by its subject) and a correction
    // of another personal one (its "ped.dat" holds c_tped), then the state request, which changes nothing.
    sendPackage(101, 7, QStringLiteral("PEDIDO"), "[DATA]\r\nc_ped=101\r\nc_reg=7\r\n");
    sendPackage(300, 7, QStringLiteral("PEDIDOP"), "[DATA]\r\nc_ped=300\r\nc_tped=P\r\nc_segur=SEG0000001\r\n");
    sendPackage(301, 7, QStringLiteral("OTRO"), "[DATA]\r\nc_ped=301\r\nc_tped=I\r\n");
    sendPackage(0, 7, QStringLiteral("GETESTADO"), "[DATA]\r\nc_reg=7\r\nc_regp=7\r\n");
    p = get(sim.root() + QString::fromLatin1(c.path));
    EXPECT_EQ(p.status, c.status);
    if (c.status == 200) {
        EXPECT_EQ(p.body, QByteArray(c.after));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Pages, CentralSimPages,
    ::testing::Values(
        PageCase{"Official", "GetEstReg.asp?reg=7", 200, "100;T|500\r\n101;C\r\n", "100;T|500\r\n101;T|\r\n"},
        PageCase{"Personal", "GetEstRegp.asp?reg=7", 200, "NO_HAY_PEDIDOS\r\n", "300;T|\r\n301;T|\r\n"},
        PageCase{"Results", "GetEstResP.asp?reg=7", 200, "88;C|900,R\r\n", "88;C|900,R\r\n300;T|,\r\n301;T|,\r\n"},
        PageCase{"OtherRegional", "GetEstReg.asp?reg=5", 200, "NO_HAY_PEDIDOS\r\n", "NO_HAY_PEDIDOS\r\n"},
        PageCase{"RawText", "GetEstReg.asp?reg=8", 200, "Error 404 - pagina no encontrada",
                 "Error 404 - pagina no encontrada"},
        PageCase{"HttpError", "GetEstRegp.asp?reg=9", 503, "", ""},
        PageCase{"RegionalNotANumber", "GetEstReg.asp?reg=siete", 400, "", ""},
        PageCase{"Vorlund", "EstadoVorlund.asp?tram=U500&pedqev=100&regqev=7", 200,
                 "ESTADO=EN TRAMITE\r\nOFICINA=MESA DE ENTRADAS\r\n",
                 "ESTADO=EN TRAMITE\r\nOFICINA=MESA DE ENTRADAS\r\n"},
        PageCase{"VorlundWithoutOffice", "EstadoVorlund.asp?tram=W901&pedqev=1&regqev=7", 200, "ESTADO=FINALIZADO\r\n",
                 "ESTADO=FINALIZADO\r\n"},
        PageCase{"VorlundUnknown", "EstadoVorlund.asp?tram=U77&pedqev=101&regqev=7", 200,
                 "ERROR=Tr\xe1mite U77 desconocido\r\n", "ERROR=Tr\xe1mite U77 desconocido\r\n"}),
    [](const ::testing::TestParamInfo<PageCase>& p) { return std::string(p.param.name); });

TEST_F(CentralSimTest, RejectionReasonsAndSecurityCodes) {
    const QUrl reasons(sim.root() + QStringLiteral("QEVSVC/QEVService.asmx"));
    auto reason = [&](const char* op, int ped, int reg) -> std::string {
        auto r = client.call(
            reasons, sim.root(), QString::fromLatin1(op),
            {{QStringLiteral("c_ped"), SoapValue::int32(ped)}, {QStringLiteral("c_reg"), SoapValue::int32(reg)}});
        if (!r) return "error: " + r.error();
        return r->childText(QString::fromLatin1(op) + QStringLiteral("Result"))
            .value_or(QStringLiteral("<nil>"))
            .toStdString();
    };
    EXPECT_EQ(reason("ObtenerMotivoRechazoOficial", 100, 7), "Falta la ficha dactiloscópica");
    EXPECT_EQ(reason("ObtenerMotivoRechazoPrivado", 100, 7), "");
    EXPECT_EQ(reason("ObtenerMotivoRechazoOficial", 100, 8), "");
    EXPECT_NE(reason("ObtenerMotivoRechazoPrivado", 66, 7).find("Servicio caído"), std::string::npos);

    sendPackage(300, 7, QStringLiteral("PEDIDOP"), "[DATA]\r\nc_ped=300\r\nc_tped=P\r\nc_segur=SEG0000001\r\n");
    const QUrl segur(sim.root() + QStringLiteral("ActualizaSegurSVC/ActualizaSegur.asmx"));
    struct Change {
        int ped;
        const char* actual;
        const char* nuevo;
        int expected;
    };
    // The data's code, then the one it was changed to; the code a received package carries; a request the
    // central office holds no code for; an empty new code.
    for (const Change& c : {Change{88, "AB12CD34EF", "NUEVO00001", 1}, Change{88, "AB12CD34EF", "NUEVO00002", 0},
                            Change{88, "NUEVO00001", "NUEVO00002", 1}, Change{300, "OTRO000000", "NUEVO00003", 0},
                            Change{300, "SEG0000001", "NUEVO00003", 1}, Change{555, "CUALQUIERA", "NUEVO00004", 1},
                            Change{555, "NUEVO00004", "", 0}}) {
        auto r = client.call(segur, sim.root(), QStringLiteral("ActualizarCodSegur"),
                             {{QStringLiteral("c_pedqev"), SoapValue::int32(c.ped)},
                              {QStringLiteral("c_regqev"), SoapValue::int32(7)},
                              {QStringLiteral("c_segur_actual"), SoapValue::string(QString::fromLatin1(c.actual))},
                              {QStringLiteral("c_segur_nuevo"), SoapValue::string(QString::fromLatin1(c.nuevo))}});
        ASSERT_TRUE(r) << r.error();
        auto n = r->childInt(QStringLiteral("ActualizarCodSegurResult"));
        ASSERT_TRUE(n) << n.error();
        EXPECT_EQ(*n, c.expected) << c.ped << " " << c.actual << " -> " << c.nuevo;
    }
    EXPECT_EQ(get(sim.root() + QStringLiteral("ActualizaSegurSVC/ActualizaSegur.asmx?wsdl")).status, 404);
}

TEST(CentralSimData, RefusesUnknownKeysOfThePages) {
    for (const char* json : {R"({"states": [{"regional": 7, "oficial": []}]})",
                             R"({"vorlund": [{"tram": "U1", "estado": "X", "lines": ["ESTADO=Y"]}]})",
                             R"({"rejections": [{"kind": "otro", "c_ped": 1, "c_reg": 1, "motivo": "m"}]})"}) {
        test::CentralSim sim{QByteArray(json)};
        EXPECT_FALSE(sim.started()) << json;
    }
}

} // namespace
} // namespace qev
