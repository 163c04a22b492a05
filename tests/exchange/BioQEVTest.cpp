// The biometric service over real HTTP against the central office simulator: verification numbers as the service
// answers them (the low 32 bits of a 64-bit answer), faults, timeouts, and fingers that are not WSQ.
#include "exchange/BioQEV.h"
#include "CentralSim.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <gtest/gtest.h>

namespace qev {
namespace {

std::vector<uint8_t> bytes(const QByteArray& b) {
    return {b.begin(), b.end()};
}

// Two fingers as the service sees them: WSQ streams start with the start-of-image marker FF A0.
const QByteArray kFingerA = QByteArray::fromHex("ffa0ffa8007a4e4953545f434f4d") + QByteArray(300, 'a');
const QByteArray kFingerB = QByteArray::fromHex("ffa0ffa8007a4e4953545f434f4d") + QByteArray(301, 'b');

QByteArray simData() {
    const QByteArray shaA = QCryptographicHash::hash(kFingerA, QCryptographicHash::Sha256).toHex();
    return R"({"biometric": [
      {"app_id": "ADMIN", "wsq_sha256": ")" +
           shaA + R"(", "score": 5},
      {"app_id": "rechazado", "score": -1},
      {"app_id": "ancho", "score": 4294967303},
      {"app_id": "bloqueado", "score": 5, "fault": "Servicio biométrico fuera de línea"},
      {"app_id": "lento", "score": 5, "delay_ms": 3000}
    ]})";
}

class BioQEVTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(sim.started()) << sim.error().toStdString();
        service = std::make_unique<BioQEVService>(sim.root());
        service->client().setTimeout(std::chrono::seconds(10));
    }
    test::CentralSim sim{simData()};
    std::unique_ptr<BioQEVService> service;
};

TEST(WsqBase64Text, StandardAlphabetWithPaddingAndOneLineBreakAtTheEnd) {
    EXPECT_EQ(wsqBase64Text({}), QString()) << "nothing to send stays empty";
    EXPECT_EQ(wsqBase64Text(bytes(QByteArray::fromHex("ff"))), QStringLiteral("/w==\r\n"));
    EXPECT_EQ(wsqBase64Text(bytes(QByteArray::fromHex("ffa0"))), QStringLiteral("/6A=\r\n"));
    EXPECT_EQ(wsqBase64Text(bytes(QByteArray::fromHex("ffa0fb"))), QStringLiteral("/6D7\r\n"));
    // A long stream: one line, whatever its length.
    QByteArray big(1000, '\0');
    for (int i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>(i * 7);
    const QString text = wsqBase64Text(bytes(big));
    ASSERT_TRUE(text.endsWith(QStringLiteral("\r\n")));
    const QString body = text.chopped(2);
    EXPECT_EQ(body.size(), 4 * ((1000 + 2) / 3));
    EXPECT_FALSE(body.contains(u'\n') || body.contains(u'\r'));
    EXPECT_EQ(QByteArray::fromBase64(body.toLatin1()), big);
}

TEST_F(BioQEVTest, VerificationNumbersAsTheServiceAnswersThem) {
    struct Case {
        const char* appId;
        const QByteArray& finger;
        int expected;
    };
    const Case cases[] = {
        {"admin", kFingerA, 5},      // the user's finger; the user name's letter case does not matter
        {"admin", kFingerB, 0},      // another finger
        {"nadie", kFingerA, 0},      // an unknown user
        {"rechazado", kFingerB, -1}, // refused
        {"ancho", kFingerB, 7},      // 4294967303: only the low 32 bits count
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.appId);
        auto r = service->verificarHuella(QString::fromLatin1(c.appId), wsqBase64Text(bytes(c.finger)));
        ASSERT_TRUE(r) << r.error();
        EXPECT_EQ(*r, c.expected);
    }
    EXPECT_TRUE(sim.logText().contains(QStringLiteral("/BioQEV/BioQEV.asmx VerificarHuella AppId=\"admin\" "
                                                      "WSQBase64=\"/6D/qAB6TklTVF9DT01")))
        << sim.logText().toStdString();
    EXPECT_FALSE(sim.logText().contains(QStringLiteral("VerificarHuellaPuntaje"))) << "only VerificarHuella is asked";

    // The service's 32-bit operation answers the same score as an xs:int.
    auto puntaje =
        service->client().call(service->endpoint(), sim.root(), QStringLiteral("VerificarHuellaPuntaje"),
                               {{QStringLiteral("AppId"), SoapValue::string(QStringLiteral("ancho"))},
                                {QStringLiteral("WSQBase64"), SoapValue::string(wsqBase64Text(bytes(kFingerA)))}});
    ASSERT_TRUE(puntaje) << puntaje.error();
    auto score = puntaje->childInt(u"VerificarHuellaPuntajeResult");
    ASSERT_TRUE(score) << score.error();
    EXPECT_EQ(*score, 7);
}

TEST_F(BioQEVTest, FaultTimeoutAndFingersThatAreNotWsq) {
    auto fault = service->verificarHuella(QStringLiteral("bloqueado"), wsqBase64Text(bytes(kFingerA)));
    ASSERT_FALSE(fault);
    EXPECT_EQ(fault.error(), "Servicio biométrico fuera de línea");
    EXPECT_EQ(service->client().lastFailure(), SoapFailure::Fault);

    service->client().setTimeout(std::chrono::milliseconds(300));
    QElapsedTimer clock;
    clock.start();
    auto slow = service->verificarHuella(QStringLiteral("lento"), wsqBase64Text(bytes(kFingerA)));
    ASSERT_FALSE(slow);
    EXPECT_LT(clock.elapsed(), 2500);
    EXPECT_EQ(service->client().lastFailure(), SoapFailure::Timeout);
    EXPECT_EQ(slow.error(), "no answer from " + sim.root().toStdString() + "BioQEV/BioQEV.asmx within 0.3 s");
    service->client().setTimeout(std::chrono::seconds(10));

    const struct {
        QString text;
        const char* why;
    } bad[] = {
        {QString::fromLatin1(QByteArray("GIF89a").toBase64()), "does not hold a WSQ image"},
        {QString(), "does not hold a WSQ image"},
        {QStringLiteral("/6A*AB==\r\n"), "not a valid Base-64 string"},
        {QStringLiteral("/6AB/"), "not a valid Base-64 string"},
    };
    for (const auto& b : bad) {
        SCOPED_TRACE(b.text.toStdString());
        auto r = service->verificarHuella(QStringLiteral("admin"), b.text);
        ASSERT_FALSE(r);
        EXPECT_EQ(service->client().lastFailure(), SoapFailure::Fault);
        EXPECT_NE(r.error().find(b.why), std::string::npos) << r.error();
    }
    // Blanks and line breaks inside the Base64 are read past, as the service does.
    auto spaced = service->verificarHuella(QStringLiteral("admin"), QStringLiteral(" /6A=\r\n"));
    ASSERT_TRUE(spaced) << spaced.error();
    EXPECT_EQ(*spaced, 0);
}

} // namespace
} // namespace qev
