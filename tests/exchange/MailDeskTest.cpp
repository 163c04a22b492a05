// The headless rules of the mail windows: HTML reduced to safe markup, the attachment types and sizes the inbox
// opens, the port fallback of the configuration.
#include "exchange/MailDesk.h"

#include "../../tools/fuzz/HtmlSanitizeHarness.h"

#include <gtest/gtest.h>

namespace qev {
namespace {

struct HtmlCase {
    const char* name;
    const char* html;
    const char* safe;
};

class SanitizeHtml : public ::testing::TestWithParam<HtmlCase> {};

TEST_P(SanitizeHtml, KeepsOnlyHarmlessMarkup) {
    EXPECT_EQ(sanitizeHtml(QString::fromUtf8(GetParam().html)), QString::fromUtf8(GetParam().safe));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SanitizeHtml,
    ::testing::Values(HtmlCase{"FormattingWithoutAttributes",
                               "<P class=x style=\"color:red\">Hola <B onclick='x()'>mundo</B></P>",
                               "<p>Hola <b>mundo</b></p>"},
                      HtmlCase{"ScriptAndStyleWithContent",
                               "a<script type=\"text/javascript\">document.write('<b>x</b>')</script>b"
                               "<STYLE>p{background:url(http://h/x)}</STYLE>c",
                               "abc"},
                      HtmlCase{"ScriptEndInAQuotedAttribute", "<script src=\"a>b\">alert(1)</SCRIPT >z", "z"},
                      HtmlCase{"UnclosedScriptDropsTheRest", "ok<script>alert(1)", "ok"},
                      HtmlCase{"ImagesAndLinks", "<img src=\"http://h/spy.png\" alt=x><a href=\"http://h/\">sitio</a>",
                               " [imagen] sitio"},
                      HtmlCase{"FramesObjectsForms",
                               "<iframe src=http://h/></iframe><object data=x>o</object><form action=http://h><input "
                               "name=q></form>t",
                               "t"},
                      HtmlCase{"CommentsAndDeclarations", "<!DOCTYPE html><!-- <img src=x> -->v<?xml x?>", "v"},
                      HtmlCase{"HeadAndMetaRefresh",
                               "<html><head><title>t</title><meta http-equiv=refresh content=\"0;url=http://h\">"
                               "</head><body>cuerpo</body></html>",
                               "cuerpo"},
                      HtmlCase{"LoneLessThanAndEntities", "1 < 2 &amp; 3", "1 &lt; 2 &amp; 3"},
                      HtmlCase{"SvgWithScript", "<svg onload=alert(1)><script>x</script></svg>fin", "fin"}),
    [](const ::testing::TestParamInfo<HtmlCase>& p) { return std::string(p.param.name); });

// Inputs that reach the sanitiser's corners, through the fuzz harness and its checks.
TEST(SanitizeHtmlFuzzInputs, StaySafe) {
    for (const char* input : {"<", "</", "<<script>>", "<scr<script>ipt>alert(1)</script>", "<img/src=x>",
                              "<a\thref=x>", "<!--", "<!", "<p\"", "<p '>'<script>x</script>", "<b>\xff\xfe<i",
                              "<script/>ok<img>", "</script><script>", "<svg/onload=1>", "<P/>", "<br/><hr />"}) {
        const QByteArray bytes(input);
        fuzz::exerciseHtmlSanitize(reinterpret_cast<const uint8_t*>(bytes.constData()),
                                   static_cast<size_t>(bytes.size()));
    }
    EXPECT_EQ(sanitizeHtml(QStringLiteral("<scr<script>ipt>alert(1)</script>")), QStringLiteral("ipt>alert(1)"));
}

TEST(MessageViewHtml, PlainTextIsEscapedAndHtmlPartsSanitised) {
    MimeMessage plain;
    plain.textLines = {QStringLiteral("<b>no es html</b>"), QStringLiteral("línea 2")};
    EXPECT_EQ(messageViewHtml(plain), QStringLiteral("<html><head><meta charset=\"utf-8\"></head><body><pre>&lt;b&gt;"
                                                     "no es html&lt;/b&gt;\nlínea 2</pre></body></html>\n"));
    MimeMessage html = plain;
    html.htmlParts = {QStringLiteral("<p>uno<script>x</script></p>"), QStringLiteral("<i>dos</i>")};
    EXPECT_EQ(messageViewHtml(html), QStringLiteral("<html><head><meta charset=\"utf-8\"></head><body><p>uno</p><hr>"
                                                    "<i>dos</i></body></html>\n"));
}

struct OpenCase {
    const char* name;
    const char* file;
    qint64 size;
    const char* beforeSaving; // "" when the name passes
    const char* afterSaving;  // "" when it is opened
};

class AttachmentRules : public ::testing::TestWithParam<OpenCase> {};

TEST_P(AttachmentRules, TypeThenExtensionAndSize) {
    const OpenCase& c = GetParam();
    EXPECT_EQ(attachmentTypeRefusal(QString::fromUtf8(c.file)), QString::fromUtf8(c.beforeSaving));
    EXPECT_EQ(attachmentOpenRefusal(QString::fromUtf8(c.file), c.size), QString::fromUtf8(c.afterSaving));
}

const char kType[] = "Desde esta aplicación, solo se pueden visualizar \radjuntos de tipo .dat .txt .tif";
const char kExtension[] = "Desde esta aplicación, solo se pueden visualizar \radjuntos con extensión .dat .txt .tif";
const char kText[] = "El adjunto es demasiado grande para el Bloc de notas";
const char kImage[] = "La imagen tiene un tamaño demasiado grande";

INSTANTIATE_TEST_SUITE_P(Cases, AttachmentRules,
                         ::testing::Values(OpenCase{"SmallText", "nota.txt", 46079, "", ""},
                                           OpenCase{"TextOfTheLimit", "nota.txt", 46080, "", kText},
                                           OpenCase{"ReplyData", "resp.dat", 100, "", ""},
                                           OpenCase{"ImageBelowTenMegabytes", "resp.tif", 10485759, "", ""},
                                           OpenCase{"ImageOfTenMegabytes", "resp.tif", 10485760, "", kImage},
                                           OpenCase{"CapitalExtension", "RESP.TIF", 10, kType, kExtension},
                                           OpenCase{"LowerCaseInsideTheName", "x.tif.TIF", 10, "", kExtension},
                                           OpenCase{"TiffSpelledLong", "resp.tiff", 10, "", kExtension},
                                           OpenCase{"Other", "foto.jpg", 10, kType, kExtension}),
                         [](const ::testing::TestParamInfo<OpenCase>& p) { return std::string(p.param.name); });

TEST(PortOrDefault, LettersZeroAndOutOfRangeFallBack) {
    EXPECT_EQ(portOrDefault(QStringLiteral(" 995 "), kDefaultPop3Port), 995);
    for (const char* bad : {"", "abc", "0", "-5", "70000", "25x"})
        EXPECT_EQ(portOrDefault(QString::fromLatin1(bad), kDefaultSmtpPort), 25) << bad;
}

} // namespace
} // namespace qev
