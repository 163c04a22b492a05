// Reading received mail without a server: header texts in any charset, text parts, attachments and their names,
// and the address check of the operator's input.
#include "exchange/mail/MimeRead.h"
#include "exchange/mail/ValidEmail.h"

#include <QFile>
#include <gtest/gtest.h>

namespace qev {
namespace {

QByteArray seed(const char* name) {
    QFile f(QStringLiteral(QEV_SOURCE_DIR "/tests/exchange/data/fuzz/mime_read/") + QLatin1String(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

TEST(MimeReadTest, MultipartHeadersTextAndAttachments) {
    const QByteArray raw = seed("multipart.eml");
    ASSERT_FALSE(raw.isEmpty());
    const MimeMessage m = readMimeMessage(raw);
    // Encoded words in two charsets around a plain word keep their spaces.
    EXPECT_EQ(m.header.subject, QStringLiteral("Contestó y señor"));
    EXPECT_EQ(m.header.fromText, QStringLiteral("José <a@example.test>"));
    EXPECT_EQ(m.header.from, QStringLiteral("a@example.test"));
    EXPECT_EQ(m.header.recipients, QStringLiteral("b@example.test, c@example.test"));
    EXPECT_EQ(m.textLines, QStringList{QStringLiteral("Hola señor.")});
    ASSERT_EQ(m.attachments.size(), 2u);
    EXPECT_EQ(m.attachments[0].fileName, QStringLiteral("resp.dat"));
    auto bytes = mimeAttachmentBytes(raw, 1);
    ASSERT_TRUE(bytes) << bytes.error();
    EXPECT_EQ(*bytes, QByteArray("[DATA]\r\nc_ped=3\r\n"));
    // A sender's folder parts never reach the file name.
    EXPECT_EQ(safeAttachmentName(m.attachments[1].fileName), QStringLiteral("resp.tif"));
    EXPECT_FALSE(mimeAttachmentBytes(raw, 3));
}

TEST(MimeReadTest, RawEightBitHeadersAndSinglePartMessages) {
    const MimeHeader h = readMimeHeader(seed("raw8bit.eml"));
    EXPECT_EQ(h.subject, QStringLiteral("Envío sin codificar"));
    EXPECT_EQ(h.priority, 1);
    EXPECT_FALSE(h.date.isEmpty());
    // Windows-1252 bytes that are not UTF-8 are read as Windows-1252.
    EXPECT_EQ(readMimeHeader("Subject: Recepci\xf3n\r\n\r\n").subject, QStringLiteral("Recepción"));

    const QByteArray single = seed("single.eml");
    const MimeMessage m = readMimeMessage(single);
    EXPECT_TRUE(m.header.contentDisposition.contains(QLatin1String("informe_a")));
    auto body = mimeSingleBody(single);
    ASSERT_TRUE(body) << body.error();
    EXPECT_EQ(*body, QByteArray("\x00\x01\x02\x03", 4));
    // Nesting deeper than the reader takes is refused, not recursed into.
    EXPECT_TRUE(readMimeMessage(seed("deep.eml")).attachments.empty());
    EXPECT_FALSE(mimeSingleBody(seed("deep.eml")));
}

TEST(MimeReadTest, SafeAttachmentNames) {
    const std::pair<const char*, const char*> cases[] = {
        {"resp.tif", "resp.tif"},    {"..\\..\\win.ini", "win.ini"},
        {"/etc/passwd", "passwd"},   {"..", ""},
        {"a\x01:b*?.dat", "ab.dat"}, {"  .  ", ""},
        {"informe.", "informe"},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(safeAttachmentName(QString::fromLatin1(in)), QString::fromLatin1(out)) << in;
}

TEST(ValidEmailTest, AddressesOperatorsType) {
    const std::pair<const char*, bool> cases[] = {
        {"juan.perez@example.com", true},
        {"a@b.c", true},
        {"o'brien+tag@sub-domain.example.org", true},
        {"\"quoted name\"@example.com", true},
        {"\"a\\\"b\"@example.com", true},
        {"first.\"second\"@example.com", true},
        {"x@a1.b2-c3", true},
        {"", false},
        {"DIRECCION DE EMAIL", false},
        {"sin-arroba.example.com", false},
        {"a@localhost", false},    // one label
        {"a@example.", false},     // ends with a period
        {"a@example-.com", false}, // label ends with a hyphen
        {"a@-example.com", false}, // label starts with a hyphen
        {"a@1example.com", false}, // label starts with a digit
        {".a@example.com", false},
        {"a..b@example.com", false},
        {"a.@example.com", false},
        {"a b@example.com", false},
        {"a@exa_mple.com", false},
        {"a@@example.com", false},
        {"\"line\rbreak\"@example.com", false},
        {"a/b@example.com", false},
    };
    for (const auto& [text, valid] : cases)
        EXPECT_EQ(EsEmailValido(QString::fromLatin1(text)), valid) << text;
    // Bytes from 128 up are atom characters of the local part; not of the domain.
    EXPECT_TRUE(EsEmailValido(QStringLiteral("peña@example.com")));
    EXPECT_FALSE(EsEmailValido(QStringLiteral("a@peña.com")));
}

} // namespace
} // namespace qev
