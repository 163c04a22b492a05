// The SOAP client over real HTTP: through a forwarding proxy with Basic credentials, answers that are not what was
// asked for, requests that cannot be sent, the office settings wiring, and the simulator behaving like asmx.
#include "exchange/soap/SoapClient.h"
#include "CentralSim.h"
#include "LoopbackHttp.h"
#include "TempAppDir.h"
#include "core/Dataset.h"
#include "core/OfficeSchema.h"
#include "core/Settings.h"
#include "requests/SoapSlipService.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <gtest/gtest.h>

namespace qev {
namespace {

const QByteArray kData = R"({"slips": [{"boleta": "ABC12345678", "n_doc": 30111222, "pedido": 123}]})";

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST(SoapProxy, CallsGoThroughTheProxyWithBasicCredentials) {
    test::CentralSim sim(kData);
    ASSERT_TRUE(sim.started()) << sim.error().toStdString();
    test::ForwardingProxy proxy("qev", "s3cr3to");
    SoapSlipService service(sim.root());
    service.client().setTimeout(std::chrono::seconds(10));
    service.client().setProxy(
        {QStringLiteral("127.0.0.1"), proxy.port(), QStringLiteral("qev"), QStringLiteral("s3cr3to")});
    for (int i = 1; i <= 2; ++i) {
        auto r = service.pedidoByBoletaDoc(QStringLiteral("ABC12345678"), 30111222);
        ASSERT_TRUE(r) << r.error();
        EXPECT_EQ(*r, 123);
        EXPECT_EQ(proxy.forwarded(), i);
    }
    EXPECT_EQ(sim.logText().count(QStringLiteral(" GetPedidoByBoletaDoc c_boleta=")), 2);
}

TEST(SoapProxy, WrongOrMissingCredentialsEndAsAnErrorWithoutLooping) {
    test::CentralSim sim(kData);
    ASSERT_TRUE(sim.started()) << sim.error().toStdString();
    test::ForwardingProxy proxy("qev", "s3cr3to");
    for (const QString& user : {QStringLiteral("qev"), QString()}) {
        SCOPED_TRACE(user.toStdString());
        SoapSlipService service(sim.root());
        service.client().setTimeout(std::chrono::seconds(10));
        service.client().setProxy({QStringLiteral("127.0.0.1"), proxy.port(), user, QStringLiteral("otra")});
        const int challengedBefore = proxy.challenged();
        QElapsedTimer clock;
        clock.start();
        auto r = service.fechaByBoleta(QStringLiteral("ABC12345678"));
        ASSERT_FALSE(r);
        EXPECT_LT(clock.elapsed(), 5000);
        EXPECT_EQ(service.client().lastFailure(), SoapFailure::Network);
        EXPECT_TRUE(contains(r.error(), "the proxy 127.0.0.1:" + std::to_string(proxy.port()) +
                                            " did not accept the user and password"))
            << r.error();
        EXPECT_GE(proxy.challenged() - challengedBefore, 1);
        EXPECT_LE(proxy.challenged() - challengedBefore, 4);
    }
    EXPECT_EQ(proxy.forwarded(), 0);
    EXPECT_EQ(sim.logText(), QString());
}

class OfficeWiringTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(sim.started()) << sim.error().toStdString();
        QString error;
        ASSERT_TRUE(createOfficeFolder(dir.path(), false, &error)) << error.toStdString();
        amb = std::make_unique<Dataset>(dir.path(), *findOfficeTable(QStringLiteral("amb")));
        ASSERT_TRUE(amb->open());
        settings = std::make_unique<Settings>(*amb);
    }
    test::CentralSim sim{kData};
    test::TempAppDir dir;
    std::unique_ptr<Dataset> amb;
    std::unique_ptr<Settings> settings;
};

TEST_F(OfficeWiringTest, WorkstationAddressAndProxySettingsReachTheService) {
    WorkstationIni(dir.path()).setServiceUrl(sim.root() + QStringLiteral("QEVService/QEVMessageService.asmx"));
    test::ForwardingProxy proxy("oficina", "clave");
    ASSERT_TRUE(settings->write(QStringLiteral("http_proxy"), QStringLiteral("127.0.0.1")));
    ASSERT_TRUE(settings->write(QStringLiteral("http_port"), QString::number(proxy.port())));
    ASSERT_TRUE(settings->write(QStringLiteral("proxy_user"), QStringLiteral("oficina")));
    ASSERT_TRUE(settings->write(QStringLiteral("proxy_pass"),
                                encipherProxyPassword(QStringLiteral("clave"), QStringLiteral("oficina"))));
    auto service = makeSoapSlipService(dir.path(), *settings);
    ASSERT_TRUE(service) << service.error();
    EXPECT_EQ((*service)->root(), sim.root());
    auto r = (*service)->pedidoByBoletaDoc(QStringLiteral("ABC12345678"), 30111222);
    ASSERT_TRUE(r) << r.error();
    EXPECT_EQ(*r, 123);
    EXPECT_EQ(proxy.forwarded(), 1);

    // A blank proxy host means going straight to the service.
    ASSERT_TRUE(settings->write(QStringLiteral("http_proxy"), QString()));
    service = makeSoapSlipService(dir.path(), *settings);
    ASSERT_TRUE(service) << service.error();
    r = (*service)->pedidoByBoletaDoc(QStringLiteral("ABC12345678"), 30111222);
    ASSERT_TRUE(r) << r.error();
    EXPECT_EQ(proxy.forwarded(), 1);
}

TEST_F(OfficeWiringTest, UnusableAddressOrProxyIsAnErrorBeforeAnyCall) {
    WorkstationIni(dir.path()).setServiceUrl(QStringLiteral("central/QEVService/QEVMessageService.asmx"));
    auto service = makeSoapSlipService(dir.path(), *settings);
    ASSERT_FALSE(service);
    EXPECT_TRUE(contains(service.error(), "not an http or https address")) << service.error();

    WorkstationIni(dir.path()).setServiceUrl(sim.root() + QStringLiteral("QEVService/QEVMessageService.asmx"));
    ASSERT_TRUE(settings->write(QStringLiteral("http_proxy"), QStringLiteral("proxy.office")));
    ASSERT_TRUE(settings->write(QStringLiteral("http_port"), QStringLiteral("puerto")));
    service = makeSoapSlipService(dir.path(), *settings);
    ASSERT_FALSE(service);
    EXPECT_TRUE(contains(service.error(), "proxy port")) << service.error();
}

QByteArray httpAnswer(const QByteArray& status, const QByteArray& contentType, const QByteArray& body) {
    return "HTTP/1.1 " + status + "\r\nContent-Type: " + contentType +
           "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

QByteArray answerEnvelope(const QByteArray& inner) {
    return "<soap:Envelope xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\"><soap:Body>" + inner +
           "</soap:Body></soap:Envelope>";
}

struct Canned {
    const char* what;
    QByteArray answer;
    SoapFailure failure;
    std::string error; // a part of the error text; "URL" stands for the service address
};

TEST(SoapAnswers, UnexpectedAnswersBecomeReadableErrors) {
    const std::vector<Canned> cases = {
        {"an HTML page with 200", httpAnswer("200 OK", "text/html", "<html><body>Hola</body></html>"),
         SoapFailure::BadAnswer, "the answer from URL is unusable: the answer is not a SOAP 1.1 envelope"},
        {"not XML with 200", httpAnswer("200 OK", "text/plain", "OK"), SoapFailure::BadAnswer, "not well-formed XML"},
        {"another operation's response",
         httpAnswer("200 OK", "text/xml", answerEnvelope("<OtherResponse xmlns=\"urn:x\"/>")), SoapFailure::BadAnswer,
         "holds OtherResponse instead of GetFechaByBoletaResponse"},
        {"plain text 500", httpAnswer("500 Internal Server Error", "text/plain", "boom"), SoapFailure::Http,
         "HTTP 500 Internal Server Error (URL)"},
        {"a redirection", httpAnswer("302 Found", "text/html", "").replace("Content-Type", "Location: /x\r\nX-A"),
         SoapFailure::Http, "HTTP 302 Found (URL)"},
        {"a fault with 200",
         httpAnswer("200 OK", "text/xml",
                    answerEnvelope("<soap:Fault><faultcode>soap:Server</faultcode><faultstring>Sin servicio"
                                   "</faultstring></soap:Fault>")),
         SoapFailure::Fault, "Sin servicio"},
        {"a fault without text",
         httpAnswer("500 Internal Server Error", "text/xml",
                    answerEnvelope("<soap:Fault><faultcode>soap:Server</faultcode></soap:Fault>")),
         SoapFailure::Fault, "SOAP fault soap:Server without text from URL"},
        {"a huge answer", httpAnswer("200 OK", "text/xml", QByteArray(5000, ' ')), SoapFailure::BadAnswer,
         "the answer from URL is larger than 1000 bytes"},
        {"a cut answer", httpAnswer("200 OK", "text/xml", answerEnvelope("<GetFechaByBoletaResponse/>")).chopped(5),
         SoapFailure::Network, "(URL)"},
    };
    for (const Canned& c : cases) {
        SCOPED_TRACE(c.what);
        test::CannedHttpServer server(c.answer);
        SoapClient client;
        client.setTimeout(std::chrono::seconds(10));
        SoapParseLimits limits;
        limits.maxBytes = 1000;
        client.setLimits(limits);
        const QString url = QStringLiteral("http://127.0.0.1:%1/boletasvc/service.asmx").arg(server.port());
        auto r = client.call(QUrl(url), QStringLiteral("http://host/"), QStringLiteral("GetFechaByBoleta"),
                             {{QStringLiteral("c_boleta"), SoapValue::string(QStringLiteral("A"))}});
        ASSERT_FALSE(r);
        EXPECT_EQ(client.lastFailure(), c.failure);
        std::string expected = c.error;
        if (const size_t at = expected.find("URL"); at != std::string::npos) expected.replace(at, 3, url.toStdString());
        EXPECT_TRUE(contains(r.error(), expected)) << r.error();
        EXPECT_EQ(server.requests(), 1);
    }
}

TEST(SoapAnswers, ResultThatIsMissingOrNotANumberIsAnError) {
    const std::vector<std::pair<QByteArray, std::string>> cases = {
        {"<GetPedidoByBoletaDocResponse xmlns=\"x\"><GetPedidoByBoletaDocResult>12a</GetPedidoByBoletaDocResult>"
         "</GetPedidoByBoletaDocResponse>",
         "GetPedidoByBoletaDoc: the element GetPedidoByBoletaDocResult holds '12a', not a 32-bit whole number"},
        {"<GetPedidoByBoletaDocResponse xmlns=\"x\"/>",
         "GetPedidoByBoletaDoc: the element GetPedidoByBoletaDocResponse holds no GetPedidoByBoletaDocResult"},
        {"<GetPedidoByBoletaDocResponse xmlns=\"x\" xmlns:i=\"http://www.w3.org/2001/XMLSchema-instance\">"
         "<GetPedidoByBoletaDocResult i:nil=\"true\"/></GetPedidoByBoletaDocResponse>",
         "GetPedidoByBoletaDoc: the element GetPedidoByBoletaDocResult is null"},
    };
    for (const auto& [inner, error] : cases) {
        test::CannedHttpServer server(httpAnswer("200 OK", "text/xml; charset=utf-8", answerEnvelope(inner)));
        SoapSlipService service(QStringLiteral("http://127.0.0.1:%1/").arg(server.port()));
        auto r = service.pedidoByBoletaDoc(QStringLiteral("A"), 1);
        ASSERT_FALSE(r) << inner.constData();
        EXPECT_TRUE(contains(r.error(), error)) << r.error();
    }
}

TEST(SoapRequests, WhatCannotBeSentIsRefusedBeforeConnecting) {
    test::CannedHttpServer server(httpAnswer("200 OK", "text/xml", answerEnvelope("<OpResponse/>")));
    SoapClient client;
    const QUrl url(QStringLiteral("http://127.0.0.1:%1/s.asmx").arg(server.port()));
    auto r = client.call(url, QStringLiteral("urn:x/"), QStringLiteral("Op"),
                         {{QStringLiteral("texto"), SoapValue::string(QStringLiteral("a\x02"))}});
    ASSERT_FALSE(r);
    EXPECT_EQ(client.lastFailure(), SoapFailure::BadRequest);
    EXPECT_TRUE(contains(r.error(), "texto")) << r.error();
    r = client.call(QUrl(QStringLiteral("ftp://127.0.0.1/s.asmx")), QStringLiteral("urn:x/"), QStringLiteral("Op"), {});
    ASSERT_FALSE(r);
    EXPECT_EQ(client.lastFailure(), SoapFailure::BadRequest);
    EXPECT_EQ(server.requests(), 0);
    // The same client still calls.
    r = client.call(url, QStringLiteral("urn:x/"), QStringLiteral("Op"), {});
    ASSERT_TRUE(r) << r.error();
    EXPECT_EQ(client.lastFailure(), SoapFailure::None);
    EXPECT_EQ(server.requests(), 1);
}

struct RawAnswer {
    int status = 0;
    QByteArray body;
};

RawAnswer rawPost(const QString& url, const QByteArray& contentType, const QByteArray& action, const QByteArray& body) {
    QNetworkAccessManager manager;
    manager.setProxy(QNetworkProxy::NoProxy);
    QNetworkRequest request{QUrl(url)};
    request.setRawHeader("Content-Type", contentType);
    if (!action.isNull()) request.setRawHeader("SOAPAction", action);
    std::unique_ptr<QNetworkReply> reply(body.isNull() ? manager.get(request) : manager.post(request, body));
    QEventLoop loop;
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    return {reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->readAll()};
}

TEST(CentralSimulator, ReadsRequestsTheWayAsmxDoes) {
    test::CentralSim sim(kData);
    ASSERT_TRUE(sim.started()) << sim.error().toStdString();
    const QString url = sim.root() + QStringLiteral("boletasvc/service.asmx");
    const QByteArray ns = sim.root().toUtf8();
    const QByteArray action = '"' + ns + "GetPedidoByBoletaDoc\"";
    auto call = [&](const QByteArray& op) {
        return "<?xml version=\"1.0\"?><s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\"><s:Body>" +
               op + "</s:Body></s:Envelope>";
    };
    auto faultOf = [](const RawAnswer& a) -> std::optional<SoapFault> {
        auto parsed = parseSoapAnswer(a.body);
        return parsed ? parsed->fault : std::nullopt;
    };

    // Another prefix and the arguments qualified: found.
    RawAnswer a = rawPost(url, "text/xml; charset=utf-8", action,
                          call("<q:GetPedidoByBoletaDoc xmlns:q=\"" + ns +
                               "\"><q:n_doc> 30111222 </q:n_doc>"
                               "<q:c_boleta>ABC12345678</q:c_boleta></q:GetPedidoByBoletaDoc>"));
    EXPECT_EQ(a.status, 200);
    EXPECT_TRUE(a.body.contains("<GetPedidoByBoletaDocResult>123</GetPedidoByBoletaDocResult>")) << a.body.data();
    // Unqualified arguments are unknown elements to the service: it sees null and 0.
    a = rawPost(url, "text/xml", action,
                call("<GetPedidoByBoletaDoc xmlns=\"" + ns +
                     "\"><c_boleta xmlns=\"\">ABC12345678</c_boleta>"
                     "<n_doc xmlns=\"\">30111222</n_doc></GetPedidoByBoletaDoc>"));
    EXPECT_EQ(a.status, 200);
    EXPECT_TRUE(a.body.contains("<GetPedidoByBoletaDocResult>0</GetPedidoByBoletaDocResult>")) << a.body.data();
    EXPECT_TRUE(sim.logText().contains(QStringLiteral("c_boleta=null n_doc=null -> ok")));

    const std::vector<std::pair<RawAnswer, QString>> faults = {
        {rawPost(url, "text/xml", QByteArray(), call("<GetPedidoByBoletaDoc xmlns=\"" + ns + "\"/>")),
         QStringLiteral("Server did not recognize the value of HTTP Header SOAPAction: .")},
        {rawPost(url, "text/xml", action, call("<GetPedidoByBoletaDoc xmlns=\"" + ns + "\"><n_doc>12a</n_doc>")),
         QStringLiteral("Server was unable to read request. ---> There is an error in XML document")},
        {rawPost(url, "text/xml", action,
                 call("<GetPedidoByBoletaDoc xmlns=\"" + ns + "\"><n_doc>12a</n_doc></GetPedidoByBoletaDoc>")),
         QStringLiteral("Server was unable to read request. ---> Input string was not in a correct format.")},
        {rawPost(url, "text/xml", action, call("<GetFechaByBoleta xmlns=\"" + ns + "\"/>")),
         QStringLiteral("Server was unable to read request. ---> <GetFechaByBoleta xmlns='") + sim.root() +
             QStringLiteral("'> was not expected.")},
        {rawPost(url, "text/xml", action,
                 "<!DOCTYPE x [<!ENTITY e \"e\">]>" + call("<GetPedidoByBoletaDoc xmlns=\"" + ns + "\"/>")),
         QStringLiteral("DTD is prohibited")},
    };
    for (const auto& [answer, text] : faults) {
        EXPECT_EQ(answer.status, 500) << answer.body.data();
        const auto fault = faultOf(answer);
        ASSERT_TRUE(fault.has_value()) << answer.body.data();
        EXPECT_EQ(fault->code, QStringLiteral("soap:Client"));
        EXPECT_TRUE(fault->string.contains(text)) << fault->string.toStdString();
    }

    EXPECT_EQ(rawPost(url, "application/json", action, "{}").status, 415);
    EXPECT_EQ(rawPost(url + QStringLiteral("?WSDL"), "", QByteArray(), QByteArray()).status, 404);
    EXPECT_EQ(rawPost(sim.root() + QStringLiteral("otro.asmx"), "text/xml", action, call("<x/>")).status, 404);
}

TEST(CentralSimulator, RefusesADataFileItCannotUse) {
    const std::vector<std::pair<QByteArray, QString>> cases = {
        {"{\"slips\": [{\"boleto\": \"A\", \"n_doc\": 1}]}", QStringLiteral("slips[0]: unknown key 'boleto'")},
        {"{\"requests\": [{\"c_pedido\": 1, \"n_doc\": 1, \"items\": [\"a=1\"], \"text\": \"a=1|\"}]}",
         QStringLiteral("requests[0]: give either 'items' or 'text', not both")},
        {"[1, 2", QStringLiteral("not JSON")},
    };
    for (const auto& [json, message] : cases) {
        test::CentralSim sim(json);
        EXPECT_FALSE(sim.started());
        EXPECT_TRUE(sim.error().contains(message)) << sim.error().toStdString();
    }
}

} // namespace
} // namespace qev
