// Request envelopes, schema text forms, the agency root of a service address and the proxy of the office settings.
#include "exchange/soap/SoapRequest.h"
#include "TempAppDir.h"
#include "core/Dataset.h"
#include "core/OfficeSchema.h"
#include "core/Settings.h"
#include "exchange/soap/SoapSettings.h"

#include <QTimeZone>
#include <QXmlStreamReader>
#include <gtest/gtest.h>

namespace qev {
namespace {

const QString kNs = QStringLiteral("http://host/");

// Element path ("Envelope/Body/Op/c_boleta"), namespace, text and nil flag of every element, read independently of
// the program's own answer parser.
struct Seen {
    QString path;
    QString ns;
    QString text;
    bool nil = false;
};

std::vector<Seen> readAll(const QByteArray& xml) {
    std::vector<Seen> seen;
    QXmlStreamReader r(xml);
    QStringList path;
    std::vector<size_t> open;
    while (!r.atEnd()) {
        switch (r.readNext()) {
        case QXmlStreamReader::StartElement:
            path << r.name().toString();
            open.push_back(seen.size());
            seen.push_back(
                {path.join(QLatin1Char('/')), r.namespaceUri().toString(), QString(),
                 r.attributes().value(QString::fromLatin1(kXsiNs), QStringLiteral("nil")) == QLatin1String("true")});
            break;
        case QXmlStreamReader::Characters:
            seen[open.back()].text += r.text();
            break;
        case QXmlStreamReader::EndElement:
            path.removeLast();
            open.pop_back();
            break;
        default:
            break;
        }
    }
    EXPECT_FALSE(r.hasError()) << r.errorString().toStdString();
    return seen;
}

TEST(SoapRequest, ParametersAreQualifiedChildrenOfTheOperationInOrder) {
    auto xml = buildSoapRequest(kNs, QStringLiteral("GetPedidoByBoletaDoc"),
                                {{QStringLiteral("c_boleta"), SoapValue::string(QStringLiteral("ABC12345678"))},
                                 {QStringLiteral("n_doc"), SoapValue::int32(30111222)}});
    ASSERT_TRUE(xml) << xml.error();
    // The service namespace is declared on the operation element, as .NET clients write it.
    EXPECT_TRUE(xml->contains("<GetPedidoByBoletaDoc xmlns=\"http://host/\"><c_boleta>ABC12345678</c_boleta>"
                              "<n_doc>30111222</n_doc></GetPedidoByBoletaDoc>"))
        << xml->constData();
    EXPECT_TRUE(xml->startsWith("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"));
    const auto seen = readAll(*xml);
    ASSERT_EQ(seen.size(), 5u);
    EXPECT_EQ(seen[0].path, QStringLiteral("Envelope"));
    EXPECT_EQ(seen[0].ns, QString::fromLatin1(kSoapEnvelopeNs));
    EXPECT_EQ(seen[1].path, QStringLiteral("Envelope/Body"));
    EXPECT_EQ(seen[1].ns, QString::fromLatin1(kSoapEnvelopeNs));
    EXPECT_EQ(seen[2].path, QStringLiteral("Envelope/Body/GetPedidoByBoletaDoc"));
    EXPECT_EQ(seen[3].path, QStringLiteral("Envelope/Body/GetPedidoByBoletaDoc/c_boleta"));
    EXPECT_EQ(seen[4].path, QStringLiteral("Envelope/Body/GetPedidoByBoletaDoc/n_doc"));
    for (size_t i = 2; i < seen.size(); ++i)
        EXPECT_EQ(seen[i].ns, kNs) << seen[i].path.toStdString();
    EXPECT_EQ(soapAction(kNs, QStringLiteral("GetFechaByBoleta")), QStringLiteral("http://host/GetFechaByBoleta"));
}

TEST(SoapRequest, EveryValueKindHasItsSchemaForm) {
    const QDateTime local(QDate(2024, 2, 29), QTime(13, 45, 30), Qt::LocalTime);
    auto xml = buildSoapRequest(
        kNs, QStringLiteral("Op"),
        {{QStringLiteral("absent"), SoapValue::omitted()},
         {QStringLiteral("nothing"), SoapValue::nil()},
         {QStringLiteral("empty"), SoapValue::string(QString())},
         {QStringLiteral("text"), SoapValue::string(QStringLiteral("a<b & \"c\" ÑÁé\r\nx"))},
         {QStringLiteral("big"), SoapValue::int64(Q_INT64_C(-9007199254740993))},
         {QStringLiteral("yes"), SoapValue::boolean(true)},
         {QStringLiteral("when"), SoapValue::dateTime(local)},
         {QStringLiteral("never"), SoapValue::dateTime(QDateTime())},
         {QStringLiteral("bytes"), SoapValue::base64(QByteArray("\x00\xff\x10", 3))},
         {QStringLiteral("person"),
          SoapValue::complex(
              {{QStringLiteral("x_ape1"), SoapValue::string(QStringLiteral("MUÑOZ"))},
               {QStringLiteral("fingers"),
                SoapValue::array(QStringLiteral("int"), {SoapValue::int32(1), SoapValue::int32(-2)})}})}});
    ASSERT_TRUE(xml) << xml.error();
    const auto seen = readAll(*xml);
    std::map<QString, Seen> byPath;
    QStringList order;
    for (const Seen& s : seen) {
        const QString p = s.path.section(QLatin1Char('/'), 3);
        if (p.isEmpty()) continue;
        order << p;
        byPath[p] = s;
    }
    EXPECT_EQ(order, QStringList({"nothing", "empty", "text", "big", "yes", "when", "never", "bytes", "person",
                                  "person/x_ape1", "person/fingers", "person/fingers/int", "person/fingers/int"}));
    EXPECT_TRUE(byPath["nothing"].nil);
    EXPECT_TRUE(byPath["never"].nil);
    EXPECT_FALSE(byPath["empty"].nil);
    EXPECT_EQ(byPath["empty"].text, QString());
    // A carriage return survives the reader's line-end folding.
    EXPECT_EQ(byPath["text"].text, QStringLiteral("a<b & \"c\" ÑÁé\r\nx"));
    EXPECT_EQ(byPath["big"].text, QStringLiteral("-9007199254740993"));
    EXPECT_EQ(byPath["yes"].text, QStringLiteral("true"));
    EXPECT_EQ(byPath["when"].text, QStringLiteral("2024-02-29T13:45:30"));
    EXPECT_EQ(byPath["bytes"].text, QStringLiteral("AP8Q"));
    EXPECT_EQ(byPath["person/x_ape1"].text, QStringLiteral("MUÑOZ"));
    EXPECT_EQ(byPath["person/fingers/int"].text, QStringLiteral("-2")); // the last of the two items
    for (const Seen& s : seen) {
        if (s.path.count(QLatin1Char('/')) >= 2) {
            EXPECT_EQ(s.ns, kNs) << s.path.toStdString();
        }
    }
}

TEST(SoapRequest, TextXmlCannotCarryAndBadNamesAreRefused) {
    auto control = buildSoapRequest(kNs, QStringLiteral("Op"),
                                    {{QStringLiteral("c_boleta"), SoapValue::string(QStringLiteral("AB\x01"))}});
    ASSERT_FALSE(control);
    EXPECT_NE(control.error().find("c_boleta"), std::string::npos) << control.error();
    EXPECT_NE(control.error().find("U+0001"), std::string::npos) << control.error();
    const QString loneSurrogate = QString(QChar(0xD800)) + QStringLiteral("x");
    auto nested = buildSoapRequest(
        kNs, QStringLiteral("Op"),
        {{QStringLiteral("p"), SoapValue::complex({{QStringLiteral("q"), SoapValue::string(loneSurrogate)}})}});
    ASSERT_FALSE(nested);
    EXPECT_NE(nested.error().find("p/q"), std::string::npos) << nested.error();
    // A pair of surrogates is one character and fine.
    EXPECT_TRUE(buildSoapRequest(kNs, QStringLiteral("Op"),
                                 {{QStringLiteral("p"), SoapValue::string(QString::fromUtf8("\xF0\x9F\x98\x80"))}}));
    EXPECT_FALSE(buildSoapRequest(kNs, QStringLiteral("Op"), {{QStringLiteral("a b"), SoapValue::int32(1)}}));
    EXPECT_FALSE(buildSoapRequest(kNs, QStringLiteral("1Op"), {}));
    EXPECT_FALSE(buildSoapRequest(kNs, QString(), {}));
}

TEST(SoapRequest, DateTimesCarryTheirZone) {
    const QDate d(2024, 2, 29);
    EXPECT_EQ(xsdDateTime(QDateTime(d, QTime(13, 45, 30), Qt::LocalTime)), QStringLiteral("2024-02-29T13:45:30"));
    EXPECT_EQ(xsdDateTime(QDateTime(d, QTime(13, 45, 30, 7), Qt::UTC)), QStringLiteral("2024-02-29T13:45:30.007Z"));
    EXPECT_EQ(xsdDateTime(QDateTime(d, QTime(1, 2, 3), Qt::OffsetFromUTC, -3 * 3600)),
              QStringLiteral("2024-02-29T01:02:03-03:00"));
    EXPECT_EQ(xsdDateTime(QDateTime(d, QTime(1, 2, 3), Qt::OffsetFromUTC, 5 * 3600 + 30 * 60)),
              QStringLiteral("2024-02-29T01:02:03+05:30"));
    EXPECT_EQ(xsdDateTime(QDateTime(d, QTime(1, 2, 3), QTimeZone(-3 * 3600))),
              QStringLiteral("2024-02-29T01:02:03-03:00"));
}

TEST(AgencyRoot, IsSchemeHostAndPortOfTheServiceAddress) {
    EXPECT_EQ(*agencyRoot(WorkstationIni::defaultServiceUrl()), QString::fromLatin1(kDefaultCentralUrl));
    EXPECT_EQ(*agencyRoot(QStringLiteral(" HTTPS://Central.Example.gov/QEVService/x.asmx?WSDL#top ")),
              QStringLiteral("https://central.example.gov/"));
    EXPECT_EQ(*agencyRoot(QStringLiteral("http://user:pw@10.1.2.3:8080/a/b")), QStringLiteral("http://10.1.2.3:8080/"));
    EXPECT_EQ(*agencyRoot(QStringLiteral("http://[::1]:8095/x")), QStringLiteral("http://[::1]:8095/"));
    for (const char* bad : {"", "central.example/QEVService", "ftp://central.example/", "http://", "http://a b/"}) {
        auto r = agencyRoot(QString::fromLatin1(bad));
        ASSERT_FALSE(r) << bad;
        EXPECT_NE(r.error().find("not an http or https address"), std::string::npos) << r.error();
    }
}

class ProxySettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        QString error;
        ASSERT_TRUE(createOfficeFolder(dir.path(), false, &error)) << error.toStdString();
        amb = std::make_unique<Dataset>(dir.path(), *findOfficeTable(QStringLiteral("amb")));
        ASSERT_TRUE(amb->open());
        settings = std::make_unique<Settings>(*amb);
    }
    void set(const char* host, const char* port, const char* user, const QString& storedPassword) {
        ASSERT_TRUE(settings->write(QStringLiteral("http_proxy"), QString::fromUtf8(host)));
        ASSERT_TRUE(settings->write(QStringLiteral("http_port"), QString::fromUtf8(port)));
        ASSERT_TRUE(settings->write(QStringLiteral("proxy_user"), QString::fromUtf8(user)));
        ASSERT_TRUE(settings->write(QStringLiteral("proxy_pass"), storedPassword));
    }
    test::TempAppDir dir;
    std::unique_ptr<Dataset> amb;
    std::unique_ptr<Settings> settings;
};

TEST_F(ProxySettingsTest, BlankHostIsNoProxyAndStoredPasswordIsDeciphered) {
    auto none = proxyFromSettings(*settings);
    ASSERT_TRUE(none) << none.error();
    EXPECT_FALSE(none->enabled());

    set(" proxy.office ", "3128", "usuario",
        encipherProxyPassword(QStringLiteral("clave-Ñ"), QStringLiteral("usuario")));
    auto p = proxyFromSettings(*settings);
    ASSERT_TRUE(p) << p.error();
    EXPECT_TRUE(p->enabled());
    EXPECT_EQ(p->host, QStringLiteral("proxy.office"));
    EXPECT_EQ(p->port, 3128);
    EXPECT_EQ(p->user, QStringLiteral("usuario"));
    EXPECT_EQ(p->password, QStringLiteral("clave-Ñ"));

    // Written as an address with its port and no port setting.
    set("http://10.0.0.9:8080/", "", "", QString());
    p = proxyFromSettings(*settings);
    ASSERT_TRUE(p) << p.error();
    EXPECT_EQ(p->host, QStringLiteral("10.0.0.9"));
    EXPECT_EQ(p->port, 8080);
    EXPECT_TRUE(p->user.isEmpty());
    EXPECT_TRUE(p->password.isEmpty());
}

TEST_F(ProxySettingsTest, BadPortOrUnreadablePasswordIsAnError) {
    for (const char* port : {"", "0", "65536", "31x", "-1"}) {
        set("proxy.office", port, "", QString());
        auto p = proxyFromSettings(*settings);
        ASSERT_FALSE(p) << port;
        EXPECT_NE(p.error().find("port"), std::string::npos) << p.error();
    }
    set("proxy.office", "3128", "usuario", QStringLiteral("%%not base64%%"));
    auto p = proxyFromSettings(*settings);
    ASSERT_FALSE(p);
    EXPECT_NE(p.error().find("password"), std::string::npos) << p.error();
}

} // namespace
} // namespace qev
