// The slip services over real HTTP against the central office simulator.
#include "CentralSim.h"
#include "requests/RequestDataText.h"
#include "requests/SoapSlipService.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>

namespace qev {
namespace {

const QByteArray kData = R"({
  "slips": [
    {"boleta": "ABC12345678", "n_doc": 30111222, "pedido": 123, "fecha": "15/03/2026"},
    {"boleta": "HORA0000001", "n_doc": 18222333, "pedido": 124, "fecha": "16/03/2026 10:22:00"},
    {"boleta": "EXE00000002", "n_doc": 27444555, "pedido": 125, "fecha": null},
    {"boleta": "ÑANDÚ-ÁÉÍÓÚ", "n_doc": 5, "pedido": 126, "fecha": "17/03/2026 — pagó Ñandú"},
    {"boleta": "BLQ00000004", "n_doc": 1, "fault": "La boleta BLQ00000004 está bloqueada"},
    {"boleta": "CAIDO000005", "n_doc": 1, "http_status": 503},
    {"boleta": "LENTO000006", "n_doc": 1, "pedido": 9, "delay_ms": 3000}
  ],
  "requests": [
    {"c_tped": "P", "c_pedido": 123, "n_doc": 30111222,
     "items": ["c_pedido=123", "x_ape1=GOMEZ PEREZ", "x_nom1=ANA", "n_doc=30111222", "c_tram=1"]},
    {"c_tped": "P", "c_pedido": 126, "n_doc": 5,
     "items": ["x_ape1=MUÑOZ", "x_nom1=JOSÉ", "x_loc_s=RÍO CUARTO"], "errorDesc": "Atención: ñ"},
    {"c_pedido": 127, "n_doc": 6, "errorDesc": "Pedido anulado"}
  ]
})";

class SlipServiceTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(sim.started()) << sim.error().toStdString();
        service = std::make_unique<SoapSlipService>(sim.root());
        service->client().setTimeout(std::chrono::seconds(10));
    }
    test::CentralSim sim{kData};
    std::unique_ptr<SoapSlipService> service;
};

TEST_F(SlipServiceTest, RequestNumberOfASlipAndDocument) {
    auto found = service->pedidoByBoletaDoc(QStringLiteral("ABC12345678"), 30111222);
    ASSERT_TRUE(found) << found.error();
    EXPECT_EQ(*found, 123);
    // The simulator read both arguments in the service namespace.
    EXPECT_TRUE(sim.logText().contains(
        QStringLiteral("/boletasvc/service.asmx GetPedidoByBoletaDoc c_boleta=\"ABC12345678\" n_doc=30111222 -> ok")))
        << sim.logText().toStdString();

    auto otherDocument = service->pedidoByBoletaDoc(QStringLiteral("ABC12345678"), 30111223);
    ASSERT_TRUE(otherDocument) << otherDocument.error();
    EXPECT_EQ(*otherDocument, 0);
    auto unknown = service->pedidoByBoletaDoc(QStringLiteral("ZZZ00000000"), 30111222);
    ASSERT_TRUE(unknown) << unknown.error();
    EXPECT_EQ(*unknown, 0);
    EXPECT_EQ(service->client().lastFailure(), SoapFailure::None);
}

TEST_F(SlipServiceTest, PaymentDateWithAndWithoutTimeAndNone) {
    auto day = service->fechaByBoleta(QStringLiteral("ABC12345678"));
    ASSERT_TRUE(day) << day.error();
    EXPECT_EQ(*day, QStringLiteral("15/03/2026"));
    auto withTime = service->fechaByBoleta(QStringLiteral("HORA0000001"));
    ASSERT_TRUE(withTime) << withTime.error();
    EXPECT_EQ(*withTime, QStringLiteral("16/03/2026 10:22:00"));
    // No date: the service leaves the result element out.
    auto none = service->fechaByBoleta(QStringLiteral("EXE00000002"));
    ASSERT_TRUE(none) << none.error();
    EXPECT_TRUE(none->isEmpty());
    auto unknown = service->fechaByBoleta(QStringLiteral("ZZZ00000000"));
    ASSERT_TRUE(unknown) << unknown.error();
    EXPECT_TRUE(unknown->isEmpty());
}

TEST_F(SlipServiceTest, InternetRequestDataAndErrorDescription) {
    auto tram = service->pedidoByTram(QStringLiteral("P"), 123, 30111222, QString());
    ASSERT_TRUE(tram) << tram.error();
    EXPECT_EQ(tram->result, QStringLiteral("c_pedido=123|x_ape1=GOMEZ PEREZ|x_nom1=ANA|n_doc=30111222|c_tram=1|"));
    EXPECT_TRUE(tram->errorDesc.isEmpty());
    const RequestDataText data(tram->result);
    EXPECT_TRUE(data.hasData());
    EXPECT_EQ(data.text(QStringLiteral("x_ape1")), QStringLiteral("GOMEZ PEREZ"));
    EXPECT_TRUE(sim.logText().contains(
        QStringLiteral("GetPedidoByTram c_tped=\"P\" c_pedido=123 n_doc=30111222 in_errorDesc=\"\" -> ok")));

    // No data, only the service's description; an entry without a kind answers any kind.
    auto cancelled = service->pedidoByTram(QStringLiteral("X"), 127, 6, QStringLiteral(""));
    ASSERT_TRUE(cancelled) << cancelled.error();
    EXPECT_TRUE(cancelled->result.isEmpty());
    EXPECT_EQ(cancelled->errorDesc, QStringLiteral("Pedido anulado"));
    EXPECT_TRUE(sim.logText().contains(QStringLiteral("c_pedido=127 n_doc=6 in_errorDesc=\"\" -> ok")));

    // Another kind than the entry's is not found.
    auto otherKind = service->pedidoByTram(QStringLiteral("O"), 123, 30111222, QString());
    ASSERT_TRUE(otherKind) << otherKind.error();
    EXPECT_TRUE(otherKind->result.isEmpty());
    EXPECT_EQ(otherKind->errorDesc, QStringLiteral("Pedido inexistente"));
}

TEST_F(SlipServiceTest, NonAsciiTextRoundTripsInUtf8) {
    // The slip code only matches when the simulator read the same characters.
    auto number = service->pedidoByBoletaDoc(QStringLiteral("ÑANDÚ-ÁÉÍÓÚ"), 5);
    ASSERT_TRUE(number) << number.error();
    EXPECT_EQ(*number, 126);
    auto date = service->fechaByBoleta(QStringLiteral("ÑANDÚ-ÁÉÍÓÚ"));
    ASSERT_TRUE(date) << date.error();
    EXPECT_EQ(*date, QStringLiteral("17/03/2026 — pagó Ñandú"));
    auto tram = service->pedidoByTram(QStringLiteral("P"), 126, 5, QStringLiteral("previo: ü"));
    ASSERT_TRUE(tram) << tram.error();
    const RequestDataText data(tram->result);
    EXPECT_EQ(data.text(QStringLiteral("x_ape1")), QStringLiteral("MUÑOZ"));
    EXPECT_EQ(data.text(QStringLiteral("x_nom1")), QStringLiteral("JOSÉ"));
    EXPECT_EQ(data.text(QStringLiteral("x_loc_s")), QStringLiteral("RÍO CUARTO"));
    EXPECT_EQ(tram->errorDesc, QStringLiteral("Atención: ñ"));
    EXPECT_TRUE(sim.logText().contains(QStringLiteral("in_errorDesc=\"previo: ü\"")));
}

TEST_F(SlipServiceTest, ServerFaultTextReachesTheCaller) {
    auto r = service->pedidoByBoletaDoc(QStringLiteral("BLQ00000004"), 1);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error(), "La boleta BLQ00000004 está bloqueada");
    EXPECT_EQ(service->client().lastFailure(), SoapFailure::Fault);
    EXPECT_EQ(service->client().lastHttpStatus(), 500);
    ASSERT_TRUE(service->client().lastFault().has_value());
    EXPECT_EQ(service->client().lastFault()->code, QStringLiteral("soap:Server"));
    // The same slip on the other operation.
    auto date = service->fechaByBoleta(QStringLiteral("BLQ00000004"));
    ASSERT_FALSE(date);
    EXPECT_EQ(date.error(), "La boleta BLQ00000004 está bloqueada");
}

TEST_F(SlipServiceTest, HttpErrorGivesStatusReasonAndAddress) {
    auto r = service->fechaByBoleta(QStringLiteral("CAIDO000005"));
    ASSERT_FALSE(r);
    EXPECT_EQ(service->client().lastFailure(), SoapFailure::Http);
    EXPECT_EQ(service->client().lastHttpStatus(), 503);
    EXPECT_EQ(r.error(), "HTTP 503 Service Unavailable (" + sim.root().toStdString() + "boletasvc/service.asmx)");
}

TEST_F(SlipServiceTest, SlowAnswerEndsAtTheClientTimeout) {
    service->client().setTimeout(std::chrono::milliseconds(300));
    QElapsedTimer clock;
    clock.start();
    auto r = service->pedidoByBoletaDoc(QStringLiteral("LENTO000006"), 1);
    const qint64 elapsed = clock.elapsed();
    ASSERT_FALSE(r);
    EXPECT_EQ(service->client().lastFailure(), SoapFailure::Timeout);
    EXPECT_EQ(r.error(), "no answer from " + sim.root().toStdString() + "boletasvc/service.asmx within 0.3 s");
    EXPECT_GE(elapsed, 290);
    EXPECT_LT(elapsed, 2500);
    // The client is usable again at once.
    service->client().setTimeout(std::chrono::seconds(10));
    auto next = service->pedidoByBoletaDoc(QStringLiteral("ABC12345678"), 30111222);
    ASSERT_TRUE(next) << next.error();
    EXPECT_EQ(*next, 123);
}

TEST_F(SlipServiceTest, WrongNamespaceIsRefusedLikeAsmxDoes) {
    // "localhost" names the same server but not the namespace its services were declared in.
    SoapSlipService other(QStringLiteral("http://localhost:%1/").arg(sim.port()));
    other.client().setTimeout(std::chrono::seconds(10));
    auto r = other.pedidoByBoletaDoc(QStringLiteral("ABC12345678"), 30111222);
    ASSERT_FALSE(r);
    EXPECT_EQ(other.client().lastFailure(), SoapFailure::Fault);
    ASSERT_TRUE(other.client().lastFault().has_value());
    EXPECT_EQ(other.client().lastFault()->code, QStringLiteral("soap:Client"));
    EXPECT_EQ(r.error(), "Server did not recognize the value of HTTP Header SOAPAction: http://localhost:" +
                             std::to_string(sim.port()) + "/GetPedidoByBoletaDoc.");
}

TEST(SlipServiceNetwork, DeadPortIsAConnectionError) {
    const quint16 port = test::deadPort();
    ASSERT_NE(port, 0);
    SoapSlipService service(QStringLiteral("http://127.0.0.1:%1/").arg(port));
    service.client().setTimeout(std::chrono::seconds(10));
    QElapsedTimer clock;
    clock.start();
    auto r = service.pedidoByTram(QStringLiteral("P"), 1, 2, QString());
    ASSERT_FALSE(r);
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_EQ(service.client().lastFailure(), SoapFailure::Network);
    EXPECT_NE(r.error().find("refused"), std::string::npos) << r.error();
    EXPECT_NE(r.error().find(QStringLiteral("http://127.0.0.1:%1/trampersvc/tramper.asmx").arg(port).toStdString()),
              std::string::npos)
        << r.error();
}

} // namespace
} // namespace qev
