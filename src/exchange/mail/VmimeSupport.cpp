#include "exchange/mail/VmimeSupport.h"

#include "core/Settings.h"
#include "exchange/mail/MailSocket.h"

#include <QHostInfo>
#include <QStringDecoder>

#include <unicode/ucnv.h>
#include <vmime/platforms/posix/posixHandler.hpp>

#include <mutex>

namespace qev::mail {

namespace {

class Handler final : public vmime::platforms::posix::posixHandler {
public:
    const vmime::charset getLocalCharset() const override { return vmime::charset(vmime::charsets::UTF_8); }
    const vmime::string getHostName() const override {
        // The greeting and message ids name this host fully qualified, as servers expect.
        QString host = QHostInfo::localHostName();
        const QString domain = QHostInfo::localDomainName();
        if (!domain.isEmpty() && !host.contains(QLatin1Char('.'))) host += QLatin1Char('.') + domain;
        if (!host.contains(QLatin1Char('.'))) host += QStringLiteral(".localdomain");
        return toUtf8(host);
    }
    std::shared_ptr<vmime::net::socketFactory> getSocketFactory() override { return m_sockets; }

private:
    std::shared_ptr<vmime::net::socketFactory> m_sockets = std::make_shared<MailSocketFactory>();
};

} // namespace

void ensureVmime() {
    static std::once_flag once;
    std::call_once(once, [] { vmime::platform::setHandler<Handler>(); });
}

QString bytesAsText(const vmime::string& bytes) {
    const QByteArray b(bytes.data(), static_cast<qsizetype>(bytes.size()));
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8.decode(b);
    if (!utf8.hasError()) return text;
    return fromAnsiBytes(b);
}

bool charsetConvertible(const vmime::charset& cs) {
    const std::string& name = cs.getName();
    if (name.empty() || name.size() > 64) return false;
    UErrorCode status = U_ZERO_ERROR;
    UConverter* c = ucnv_open(name.c_str(), &status);
    if (c) ucnv_close(c);
    return U_SUCCESS(status) && c != nullptr;
}

QString decodeText(const vmime::text& text) {
    QString out;
    for (size_t i = 0; i < text.getWordCount(); ++i) {
        const auto word = text.getWordAt(i);
        const vmime::string& buffer = word->getBuffer();
        const bool eightBit =
            std::any_of(buffer.begin(), buffer.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
        const vmime::charset cs = word->getCharset();
        if (eightBit && (cs == vmime::charset(vmime::charsets::US_ASCII) || cs.getName().empty())) {
            out += bytesAsText(buffer);
            continue;
        }
        if (!charsetConvertible(cs)) {
            out += bytesAsText(buffer);
            continue;
        }
        try {
            out += fromUtf8(word->getConvertedText(vmime::charset(vmime::charsets::UTF_8)));
        } catch (const std::exception&) {
            out += bytesAsText(buffer);
        }
    }
    return out;
}

vmime::text utf8Text(const QString& s) {
    return vmime::text(vmime::word(toUtf8(s), vmime::charset(vmime::charsets::UTF_8)));
}

} // namespace qev::mail
