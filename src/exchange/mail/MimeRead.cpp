#include "exchange/mail/MimeRead.h"

#include "exchange/mail/VmimeSupport.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QTimeZone>

#include <algorithm>

namespace qev {

using namespace qev::mail;

namespace {

// Larger messages are refused before vmime sees them.
constexpr qsizetype kMaxMessageBytes = qsizetype(128) << 20;
// Deeper MIME nesting than this is not read (vmime parses nested parts recursively).
constexpr int kMaxNesting = 40;

// The depth of multipart nesting a message claims, counted from its boundary declarations; a cheap bound taken
// before the recursive parser runs.
int nestingEstimate(const QByteArray& raw) {
    int count = 0;
    qsizetype from = 0;
    while ((from = raw.indexOf("ultipart/", from)) >= 0) {
        ++count;
        ++from;
        if (count > kMaxNesting) break;
    }
    return count;
}

std::shared_ptr<vmime::message> parse(const QByteArray& raw, std::string* why = nullptr) {
    if (raw.size() > kMaxMessageBytes) {
        if (why) *why = "the message is larger than " + std::to_string(kMaxMessageBytes) + " bytes";
        return nullptr;
    }
    if (nestingEstimate(raw) > kMaxNesting) {
        if (why) *why = "the message nests more than " + std::to_string(kMaxNesting) + " multipart levels";
        return nullptr;
    }
    try {
        ensureVmime();
        auto msg = vmime::make_shared<vmime::message>();
        msg->parse(vmime::string(raw.constData(), static_cast<size_t>(raw.size())));
        return msg;
    } catch (const std::exception& e) {
        if (why) *why = e.what();
        return nullptr;
    }
}

std::shared_ptr<const vmime::headerField> field(const vmime::header& h, const char* name) {
    try {
        return h.findField(name);
    } catch (const std::exception&) {
        return nullptr;
    }
}

// The named field of a header as received, unfolded to one line, without its name; empty when absent. Read from
// the bytes rather than regenerated from the parsed field, so no charset a sender wrote is converted on the way.
QString receivedField(const QByteArray& head, const char* name) {
    const QByteArray key = QByteArray(name).toLower();
    qsizetype at = 0;
    while (at < head.size()) {
        qsizetype end = head.indexOf('\n', at);
        if (end < 0) end = head.size();
        const QByteArray line = head.mid(at, end - at);
        at = end + 1;
        if (line.trimmed().isEmpty()) break; // the header ends at the first empty line
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0 || line.at(0) == ' ' || line.at(0) == '\t' || line.left(colon).trimmed().toLower() != key)
            continue;
        QByteArray value = line.mid(colon + 1);
        while (at < head.size() && (head.at(at) == ' ' || head.at(at) == '\t')) {
            end = head.indexOf('\n', at);
            if (end < 0) end = head.size();
            value += head.mid(at, end - at);
            at = end + 1;
        }
        value.replace('\r', QByteArray());
        return bytesAsText(vmime::string(value.constData(), static_cast<size_t>(value.size()))).trimmed();
    }
    return QString();
}

QString textValue(const vmime::header& h, const QByteArray& head, const char* name) {
    auto f = field(h, name);
    if (!f) return QString();
    auto t = vmime::dynamicCast<const vmime::text>(f->getValue());
    return t ? decodeText(*t).trimmed() : receivedField(head, name);
}

QString emailOf(const vmime::mailbox& mb) {
    const vmime::emailAddress& e = mb.getEmail();
    const vmime::string& local = e.getLocalName().getBuffer();
    const vmime::string& domain = e.getDomainName().getBuffer();
    auto ascii = [](const vmime::string& s) {
        return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    };
    // An address with 8-bit bytes is taken as it came, its two parts joined: vmime would turn its domain into the
    // international ASCII form through a converter that throws, and leaks, on names that do not convert.
    if (ascii(local) && ascii(domain)) {
        try {
            return fromUtf8(e.toString());
        } catch (const std::exception&) {
        }
    }
    const QString d = bytesAsText(domain);
    return d.isEmpty() ? bytesAsText(local) : bytesAsText(local) + QLatin1Char('@') + d;
}

QString displayOf(const vmime::mailbox& mb) {
    const QString email = emailOf(mb);
    const QString name = decodeText(mb.getName()).trimmed();
    return name.isEmpty() ? email : name + QStringLiteral(" <") + email + QLatin1Char('>');
}

QString addresses(const vmime::header& h, const QByteArray& head, const char* name) {
    auto f = field(h, name);
    if (!f) return QString();
    QStringList out;
    auto add = [&out](const vmime::address& a) {
        if (const auto* mb = dynamic_cast<const vmime::mailbox*>(&a)) {
            out << emailOf(*mb);
        } else if (const auto* g = dynamic_cast<const vmime::mailboxGroup*>(&a)) {
            for (size_t i = 0; i < g->getMailboxCount(); ++i)
                out << emailOf(*g->getMailboxAt(i));
        }
    };
    if (auto list = vmime::dynamicCast<const vmime::addressList>(f->getValue())) {
        for (size_t i = 0; i < list->getAddressCount(); ++i)
            add(*list->getAddressAt(i));
    } else if (auto list2 = vmime::dynamicCast<const vmime::mailboxList>(f->getValue())) {
        for (size_t i = 0; i < list2->getMailboxCount(); ++i)
            out << emailOf(*list2->getMailboxAt(i));
    } else if (auto mb = vmime::dynamicCast<const vmime::mailbox>(f->getValue())) {
        out << emailOf(*mb);
    } else {
        return receivedField(head, name);
    }
    out.removeAll(QString());
    return out.join(QStringLiteral(", "));
}

QString dateText(const vmime::header& h, const QByteArray& head) {
    auto f = field(h, "Date");
    if (!f) return QString();
    auto d = vmime::dynamicCast<const vmime::datetime>(f->getValue());
    if (!d) return receivedField(head, "Date");
    const QDateTime when(QDate(d->getYear(), d->getMonth(), d->getDay()),
                         QTime(d->getHour(), d->getMinute(), d->getSecond()), QTimeZone(d->getZone() * 60));
    if (!when.isValid()) return receivedField(head, "Date");
    return when.toLocalTime().toString(QStringLiteral("dd/MM/yyyy HH:mm:ss"));
}

MimeHeader headerOf(const vmime::header& h, const QByteArray& head) {
    MimeHeader out;
    out.msgId = receivedField(head, "Message-Id");
    if (auto f = field(h, "From")) {
        if (auto mb = vmime::dynamicCast<const vmime::mailbox>(f->getValue())) {
            out.from = emailOf(*mb);
            out.fromText = displayOf(*mb);
        } else {
            out.from = out.fromText = receivedField(head, "From");
        }
    }
    out.recipients = addresses(h, head, "To");
    out.cc = addresses(h, head, "Cc");
    out.bcc = addresses(h, head, "Bcc");
    out.subject = textValue(h, head, "Subject");
    out.date = dateText(h, head);
    out.organization = textValue(h, head, "Organization");
    out.receipt = addresses(h, head, "Disposition-Notification-To");
    out.contentType = receivedField(head, "Content-Type");
    out.contentDisposition = receivedField(head, "Content-Disposition");
    const QString prio = receivedField(head, "X-Priority");
    if (!prio.isEmpty() && prio.at(0) >= QLatin1Char('1') && prio.at(0) <= QLatin1Char('5'))
        out.priority = prio.at(0).digitValue();
    return out;
}

QString wordText(const vmime::word& w) {
    try {
        const vmime::string& b = w.getBuffer();
        const vmime::charset cs = w.getCharset();
        if (cs == vmime::charset(vmime::charsets::US_ASCII) || !charsetConvertible(cs)) return bytesAsText(b);
        return fromUtf8(w.getConvertedText(vmime::charset(vmime::charsets::UTF_8)));
    } catch (const std::exception&) {
        return bytesAsText(w.getBuffer());
    }
}

std::vector<std::shared_ptr<const vmime::attachment>> attachmentsOf(const std::shared_ptr<vmime::message>& msg) {
    try {
        return vmime::attachmentHelper::findAttachmentsInMessage(msg);
    } catch (const std::exception&) {
        return {};
    }
}

Result<QByteArray> extract(const std::shared_ptr<const vmime::contentHandler>& data) {
    try {
        vmime::string out;
        vmime::utility::outputStreamStringAdapter os(out);
        data->extract(os);
        return QByteArray(out.data(), static_cast<qsizetype>(out.size()));
    } catch (const std::exception& e) {
        return fail(std::string("cannot decode the part: ") + e.what());
    }
}

// The header of a raw message: its bytes up to and with the first empty line.
QByteArray headerPart(const QByteArray& raw) {
    const qsizetype end = raw.indexOf("\r\n\r\n");
    const qsizetype endLf = raw.indexOf("\n\n");
    qsizetype cut = raw.size();
    if (end >= 0) cut = end + 4;
    if (endLf >= 0 && endLf + 2 < cut) cut = endLf + 2;
    return raw.left(std::min(cut, kMaxMessageBytes));
}

} // namespace

MimeHeader readMimeHeader(const QByteArray& raw) {
    try {
        ensureVmime();
        vmime::header h;
        const QByteArray head = headerPart(raw);
        h.parse(vmime::string(head.constData(), static_cast<size_t>(head.size())));
        return headerOf(h, head);
    } catch (const std::exception&) {
        return {};
    }
}

MimeMessage readMimeMessage(const QByteArray& raw) {
    MimeMessage out;
    auto msg = parse(raw);
    if (!msg) {
        out.header = readMimeHeader(raw);
        return out;
    }
    out.header = headerOf(*msg->getHeader(), headerPart(raw));
    try {
        vmime::messageParser mp(msg);
        for (const auto& tp : mp.getTextPartList()) {
            const bool html = tp->getType() == vmime::mediaType(vmime::mediaTypes::TEXT, vmime::mediaTypes::TEXT_HTML);
            if (!html && tp->getType() != vmime::mediaType(vmime::mediaTypes::TEXT, vmime::mediaTypes::TEXT_PLAIN))
                continue;
            auto bytes = extract(tp->getText());
            if (!bytes) continue;
            const vmime::string body(bytes->constData(), static_cast<size_t>(bytes->size()));
            QString text = bytesAsText(body);
            if (charsetConvertible(tp->getCharset())) {
                try {
                    vmime::string converted;
                    vmime::charset::convert(body, converted, tp->getCharset(), vmime::charset(vmime::charsets::UTF_8));
                    text = fromUtf8(converted);
                } catch (const std::exception&) {
                }
            }
            if (html) {
                out.htmlParts << text;
                continue;
            }
            text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
            if (text.endsWith(QLatin1Char('\n'))) text.chop(1);
            out.textLines << text.split(QLatin1Char('\n'));
        }
    } catch (const std::exception&) {
    }
    int index = 0;
    for (const auto& a : attachmentsOf(msg)) {
        MimeAttachment m;
        m.index = ++index;
        m.fileName = wordText(a->getName());
        try {
            m.contentType = fromUtf8(a->getType().generate());
        } catch (const std::exception&) {
        }
        out.attachments.push_back(std::move(m));
    }
    return out;
}

Result<QByteArray> mimeAttachmentBytes(const QByteArray& raw, int index) {
    std::string why;
    auto msg = parse(raw, &why);
    if (!msg) return fail("cannot read the message: " + why);
    const auto list = attachmentsOf(msg);
    if (index < 1 || static_cast<size_t>(index) > list.size())
        return fail("the message has no attachment " + std::to_string(index));
    return extract(list[static_cast<size_t>(index - 1)]->getData());
}

Result<std::vector<DecodedAttachment>> mimeAttachments(const QByteArray& raw) {
    std::string why;
    auto msg = parse(raw, &why);
    if (!msg) return fail("cannot read the message: " + why);
    std::vector<DecodedAttachment> out;
    for (const auto& a : attachmentsOf(msg)) {
        auto bytes = extract(a->getData());
        if (!bytes) return fail(bytes.error());
        out.push_back({wordText(a->getName()), std::move(*bytes)});
    }
    return out;
}

Result<QByteArray> mimeSingleBody(const QByteArray& raw) {
    std::string why;
    auto msg = parse(raw, &why);
    if (!msg) return fail("cannot read the message: " + why);
    return extract(msg->getBody()->getContents());
}

QString safeAttachmentName(const QString& name) {
    QString n = name;
    // Only the last part of a path the sender may have put in the name.
    const qsizetype cut = std::max(n.lastIndexOf(QLatin1Char('/')), n.lastIndexOf(QLatin1Char('\\')));
    if (cut >= 0) n = n.mid(cut + 1);
    QString out;
    for (const QChar c : n) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f) continue;
        if (QStringLiteral(":*?\"<>|").contains(c)) continue;
        out += c;
    }
    out = out.trimmed();
    while (out.endsWith(QLatin1Char('.')))
        out.chop(1);
    if (out.isEmpty() || out == QLatin1String(".") || out == QLatin1String("..")) return QString();
    out = out.left(200);
    static const QRegularExpression device(QStringLiteral("^(CON|PRN|AUX|NUL|COM[0-9]|LPT[0-9])(\\..*)?$"),
                                           QRegularExpression::CaseInsensitiveOption);
    if (device.match(out).hasMatch()) out.prepend(QLatin1Char('_'));
    return out;
}

} // namespace qev
