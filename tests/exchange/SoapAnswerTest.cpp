// The answer parser on hand-written envelopes: what real services send, what they may send, and hostile bytes.
#include "exchange/soap/SoapAnswer.h"
#include "exchange/soap/SoapRequest.h"

#include <gtest/gtest.h>

namespace qev {
namespace {

QByteArray envelope(const QByteArray& body) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?><soap:Envelope "
           "xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\" "
           "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\">"
           "<soap:Body>" +
           body + "</soap:Body></soap:Envelope>";
}

SoapElement response(const QByteArray& xml) {
    auto a = parseSoapAnswer(xml);
    EXPECT_TRUE(a) << (a ? std::string() : a.error());
    if (!a) return {};
    EXPECT_FALSE(a->fault.has_value());
    return a->response;
}

std::string errorOf(const QByteArray& xml, const SoapParseLimits& limits = {}) {
    auto a = parseSoapAnswer(xml, limits);
    EXPECT_FALSE(a) << "parsed: " << xml.left(200).constData();
    return a ? std::string() : a.error();
}

bool contains(const std::string& text, const char* part) {
    return text.find(part) != std::string::npos;
}

TEST(SoapAnswer, ResultAndOutputParametersOfAnAsmxResponse) {
    const SoapElement r = response(
        envelope("<GetPedidoByTramResponse xmlns=\"http://host/\"><GetPedidoByTramResult>c_pedido=1|x_ape1=MUÑOZ|"
                 "</GetPedidoByTramResult><errorDesc /></GetPedidoByTramResponse>"));
    EXPECT_EQ(r.name, QStringLiteral("GetPedidoByTramResponse"));
    EXPECT_EQ(r.ns, QStringLiteral("http://host/"));
    ASSERT_EQ(r.children.size(), 2u);
    EXPECT_EQ(r.children[0].ns, QStringLiteral("http://host/"));
    EXPECT_EQ(r.childText(u"GetPedidoByTramResult"), QStringLiteral("c_pedido=1|x_ape1=MUÑOZ|"));
    // An empty element is an empty text, not a null.
    ASSERT_TRUE(r.childText(u"errorDesc").has_value());
    EXPECT_TRUE(r.childText(u"errorDesc")->isEmpty());
    EXPECT_FALSE(r.childText(u"missing").has_value());
    EXPECT_FALSE(r.childText(u"errordesc").has_value()); // names are case-sensitive
}

TEST(SoapAnswer, AnyPrefixesWhitespaceCommentsHeadersAndUnknownElements) {
    const QByteArray xml = "\xEF\xBB\xBF<?xml version=\"1.0\"?>\n<!-- c -->\n"
                           "<S:Envelope xmlns:S=\"http://schemas.xmlsoap.org/soap/envelope/\">\n"
                           "  <S:Header><Trace xmlns=\"urn:x\">1</Trace></S:Header>\n"
                           "  <S:Body>\n"
                           "    <q:GetFechaByBoletaResponse xmlns:q=\"http://host/\" xmlns:i=\""
                           "http://www.w3.org/2001/XMLSchema-instance\">\n"
                           "      <q:Extra><q:Deep>ignored</q:Deep></q:Extra>\n"
                           "      <q:GetFechaByBoletaResult>  15/03/2026 10:22:00 </q:GetFechaByBoletaResult>\n"
                           "      <q:Nothing i:nil=\"true\"/>\n"
                           "      <q:Text><![CDATA[<a&b>]]> &amp; &#xD1;</q:Text>\n"
                           "    </q:GetFechaByBoletaResponse>\n"
                           "  </S:Body>\n"
                           "</S:Envelope>\n";
    const SoapElement r = response(xml);
    EXPECT_EQ(r.name, QStringLiteral("GetFechaByBoletaResponse"));
    EXPECT_EQ(r.ns, QStringLiteral("http://host/"));
    EXPECT_TRUE(r.text.isEmpty()); // whitespace between elements is not text
    // A string keeps its own spaces.
    EXPECT_EQ(r.childText(u"GetFechaByBoletaResult"), QStringLiteral("  15/03/2026 10:22:00 "));
    const SoapElement* nothing = r.child(u"Nothing");
    ASSERT_NE(nothing, nullptr);
    EXPECT_TRUE(nothing->nil);
    EXPECT_FALSE(r.childText(u"Nothing").has_value());
    EXPECT_EQ(r.childText(u"Text"), QStringLiteral("<a&b> & Ñ"));
    ASSERT_NE(r.child(u"Extra"), nullptr);
    EXPECT_EQ(r.child(u"Extra")->childText(u"Deep"), QStringLiteral("ignored"));
}

TEST(SoapAnswer, FaultIsReadWithItsCodeTextAndDetail) {
    auto a = parseSoapAnswer(envelope("<soap:Fault><faultcode>soap:Server</faultcode><faultstring>Server was unable "
                                      "to process request. ---&gt; Boleta bloqueada</faultstring><detail><e:Info "
                                      "xmlns:e=\"urn:e\">7</e:Info></detail></soap:Fault>"));
    ASSERT_TRUE(a) << a.error();
    ASSERT_TRUE(a->fault.has_value());
    EXPECT_EQ(a->fault->code, QStringLiteral("soap:Server"));
    EXPECT_EQ(a->fault->string, QStringLiteral("Server was unable to process request. ---> Boleta bloqueada"));
    ASSERT_TRUE(a->fault->detail.has_value());
    EXPECT_EQ(a->fault->detail->childText(u"Info"), QStringLiteral("7"));

    // Another prefix, no detail.
    a = parseSoapAnswer("<e:Envelope xmlns:e=\"http://schemas.xmlsoap.org/soap/envelope/\"><e:Body><e:Fault>"
                        "<faultcode>e:Client</faultcode><faultstring>Bad</faultstring></e:Fault></e:Body>"
                        "</e:Envelope>");
    ASSERT_TRUE(a) << a.error();
    ASSERT_TRUE(a->fault.has_value());
    EXPECT_EQ(a->fault->code, QStringLiteral("e:Client"));
    EXPECT_EQ(a->fault->string, QStringLiteral("Bad"));
    EXPECT_FALSE(a->fault->detail.has_value());

    // A Fault element outside the envelope namespace is an ordinary response.
    a = parseSoapAnswer(envelope("<Fault xmlns=\"http://host/\"/>"));
    ASSERT_TRUE(a) << a.error();
    EXPECT_FALSE(a->fault.has_value());
}

TEST(SoapAnswer, WhatIsNotAUsableEnvelopeIsAnError) {
    EXPECT_TRUE(contains(errorOf(""), "empty"));
    EXPECT_TRUE(contains(errorOf("Service Unavailable"), "not well-formed"));
    EXPECT_TRUE(contains(errorOf("<html><body><h1>503</h1></body></html>"), "not a SOAP 1.1 envelope"));
    // SOAP 1.2 and a misspelt (case) envelope.
    EXPECT_TRUE(contains(errorOf("<env:Envelope xmlns:env=\"http://www.w3.org/2003/05/soap-envelope\"><env:Body>"
                                 "<R/></env:Body></env:Envelope>"),
                         "not a SOAP 1.1 envelope"));
    EXPECT_TRUE(contains(errorOf("<s:envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\"/>"),
                         "not a SOAP 1.1 envelope"));
    EXPECT_TRUE(contains(errorOf("<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\"><s:Header/>"
                                 "</s:Envelope>"),
                         "no Body"));
    EXPECT_TRUE(contains(errorOf(envelope("  ")), "body is empty"));
    // Cut short: the response element is whole but the envelope is not.
    const QByteArray whole = envelope("<R xmlns=\"http://host/\"><RResult>1</RResult></R>");
    const std::string cut = errorOf(whole.left(whole.size() - 10));
    EXPECT_TRUE(contains(cut, "not well-formed")) << cut;
    EXPECT_TRUE(contains(cut, "line 1")) << cut;
    EXPECT_TRUE(contains(errorOf(envelope("<R xmlns=\"http://host/\"><x:A/></R>")), "not well-formed"));
    EXPECT_TRUE(contains(errorOf(envelope("<R xmlns=\"http://host/\">&nbsp;</R>")), "not well-formed"));
}

TEST(SoapAnswer, DtdsAreRefusedSoEntitiesNeverExpand) {
    const QByteArray laughs = "<?xml version=\"1.0\"?><!DOCTYPE lolz [<!ENTITY lol \"lol\">"
                              "<!ENTITY lol2 \"&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;\">"
                              "<!ENTITY lol3 \"&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;\">]>"
                              "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\"><s:Body>"
                              "<R>&lol3;</R></s:Body></s:Envelope>";
    EXPECT_TRUE(contains(errorOf(laughs), "document type declaration"));
    const QByteArray external = "<!DOCTYPE s:Envelope [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>" +
                                envelope("<R xmlns=\"http://host/\">&x;</R>");
    EXPECT_TRUE(contains(errorOf(external), "document type declaration"));
}

TEST(SoapAnswer, SizeDepthAndElementCountAreBounded) {
    SoapParseLimits limits;
    limits.maxBytes = 100;
    EXPECT_TRUE(contains(errorOf(envelope("<R/>"), limits), "larger than 100 bytes"));

    limits = {};
    limits.maxDepth = 10;
    QByteArray deep = "<R xmlns=\"http://host/\">";
    for (int i = 0; i < 7; ++i)
        deep += "<a>";
    for (int i = 0; i < 7; ++i)
        deep += "</a>";
    deep += "</R>";
    EXPECT_TRUE(parseSoapAnswer(envelope(deep), limits)); // envelope, body, R and 7 levels: 10
    EXPECT_TRUE(contains(errorOf(envelope("<x>" + deep + "</x>"), limits), "deeper than 10"));

    limits = {};
    limits.maxElements = 50;
    QByteArray many = "<R xmlns=\"http://host/\">";
    for (int i = 0; i < 60; ++i)
        many += "<i/>";
    many += "</R>";
    EXPECT_TRUE(contains(errorOf(envelope(many), limits), "more than 50 elements"));
    // Elements after the response count too.
    EXPECT_TRUE(contains(errorOf(envelope("<R/>" + many), limits), "more than 50 elements"));
}

SoapElement leaf(const QString& text, bool nil = false) {
    SoapElement e;
    e.name = QStringLiteral("v");
    e.text = text;
    e.nil = nil;
    return e;
}

TEST(SoapElementValues, WholeNumbersWithinTheirRanges) {
    EXPECT_EQ(*leaf(QStringLiteral(" 123 ")).toInt(), 123);
    EXPECT_EQ(*leaf(QStringLiteral("-2147483648")).toInt(), INT32_MIN);
    EXPECT_EQ(*leaf(QStringLiteral("+7")).toInt(), 7);
    EXPECT_EQ(*leaf(QStringLiteral("9223372036854775807")).toLong(), INT64_MAX);
    for (const char* bad : {"", "2147483648", "12a", "1.5", "0x10", "1 2"})
        EXPECT_FALSE(leaf(QString::fromLatin1(bad)).toInt()) << bad;
    EXPECT_FALSE(leaf(QStringLiteral("9223372036854775808")).toLong());
    auto nil = leaf(QStringLiteral("5"), true).toInt();
    ASSERT_FALSE(nil);
    EXPECT_TRUE(contains(nil.error(), "null"));
    auto bad = leaf(QStringLiteral("abc")).toInt();
    ASSERT_FALSE(bad);
    EXPECT_TRUE(contains(bad.error(), "'abc'")) << bad.error();

    SoapElement parent;
    parent.name = QStringLiteral("R");
    parent.children.push_back(leaf(QStringLiteral("42")));
    EXPECT_EQ(*parent.childInt(u"v"), 42);
    EXPECT_EQ(*parent.childLong(u"v"), 42);
    auto missing = parent.childInt(u"w");
    ASSERT_FALSE(missing);
    EXPECT_TRUE(contains(missing.error(), "holds no w")) << missing.error();
}

TEST(SoapElementValues, BooleansDatesAndBinary) {
    EXPECT_TRUE(*leaf(QStringLiteral("true")).toBool());
    EXPECT_FALSE(*leaf(QStringLiteral(" 0 ")).toBool());
    EXPECT_FALSE(leaf(QStringLiteral("True")).toBool());

    const QDate d(2024, 2, 29);
    EXPECT_EQ(*leaf(QStringLiteral("2024-02-29T13:45:30")).toDateTime(),
              QDateTime(d, QTime(13, 45, 30), Qt::LocalTime));
    // Written back, each keeps its zone.
    const QDateTime utc = *leaf(QStringLiteral("2024-02-29T13:45:30.1234567Z")).toDateTime();
    EXPECT_EQ(xsdDateTime(utc), QStringLiteral("2024-02-29T13:45:30.123Z"));
    const QDateTime offset = *leaf(QStringLiteral("2024-02-29T13:45:30-03:00")).toDateTime();
    EXPECT_EQ(offset.offsetFromUtc(), -3 * 3600);
    EXPECT_EQ(offset.toUTC(), QDateTime(d, QTime(16, 45, 30), Qt::UTC));
    EXPECT_EQ(xsdDateTime(offset), QStringLiteral("2024-02-29T13:45:30-03:00"));
    EXPECT_EQ(*leaf(QStringLiteral("2024-02-29T24:00:00")).toDateTime(),
              QDateTime(QDate(2024, 3, 1), QTime(0, 0), Qt::LocalTime));
    for (const char* bad : {"2023-02-29T00:00:00", "2024-02-29", "2024-02-29 13:45:30", "2024-02-29T13:60:00",
                            "2024-02-29T13:45:30+15:00", "2024-02-29T24:00:01", "29/02/2024"})
        EXPECT_FALSE(leaf(QString::fromLatin1(bad)).toDateTime()) << bad;

    EXPECT_EQ(*leaf(QStringLiteral("AP8Q\r\nAAE=")).toBase64(), QByteArray("\x00\xff\x10\x00\x01", 5));
    EXPECT_EQ(*leaf(QString()).toBase64(), QByteArray());
    EXPECT_FALSE(leaf(QStringLiteral("AP8*")).toBase64());
    EXPECT_FALSE(leaf(QStringLiteral("AP8Ñ")).toBase64());
    EXPECT_FALSE(leaf(QStringLiteral("AP8Q"), true).toBase64());
}

} // namespace
} // namespace qev
