#include "exchange/soap/SoapAnswer.h"
#include "exchange/soap/SoapRequest.h"

#include <QRegularExpression>
#include <QXmlStreamReader>

#include <limits>

namespace qev {

namespace {

std::string quoted(const QString& text) {
    return "'" + (text.size() > 60 ? text.left(60) + QStringLiteral("...") : text).toStdString() + "'";
}

Result<QString> simpleText(const SoapElement& e, const char* kind) {
    if (e.nil) return fail("the element " + e.name.toStdString() + " is null where " + kind + " is expected");
    return e.text.trimmed();
}

template <typename T> Result<T> wholeNumber(const SoapElement& e, const char* kind) {
    auto text = simpleText(e, kind);
    if (!text) return fail(text.error());
    bool ok = false;
    const qlonglong n = text->toLongLong(&ok, 10);
    if (!ok || n < std::numeric_limits<T>::min() || n > std::numeric_limits<T>::max())
        return fail("the element " + e.name.toStdString() + " holds " + quoted(*text) + ", not " + kind);
    return static_cast<T>(n);
}

} // namespace

const SoapElement* SoapElement::child(QStringView localName) const {
    for (const SoapElement& c : children)
        if (c.name == localName) return &c;
    return nullptr;
}

std::vector<const SoapElement*> SoapElement::childrenNamed(QStringView localName) const {
    std::vector<const SoapElement*> out;
    for (const SoapElement& c : children)
        if (c.name == localName) out.push_back(&c);
    return out;
}

std::optional<QString> SoapElement::childText(QStringView localName) const {
    const SoapElement* c = child(localName);
    if (!c || c->nil) return std::nullopt;
    return c->text;
}

Result<const SoapElement*> SoapElement::requiredChild(QStringView localName) const {
    if (const SoapElement* c = child(localName)) return c;
    return fail("the element " + name.toStdString() + " holds no " + localName.toString().toStdString());
}

Result<qint32> SoapElement::childInt(QStringView localName) const {
    auto c = requiredChild(localName);
    if (!c) return fail(c.error());
    return (*c)->toInt();
}

Result<qint64> SoapElement::childLong(QStringView localName) const {
    auto c = requiredChild(localName);
    if (!c) return fail(c.error());
    return (*c)->toLong();
}

Result<qint32> SoapElement::toInt() const {
    return wholeNumber<qint32>(*this, "a 32-bit whole number");
}

Result<qint64> SoapElement::toLong() const {
    return wholeNumber<qint64>(*this, "a 64-bit whole number");
}

Result<bool> SoapElement::toBool() const {
    auto value = simpleText(*this, "true or false");
    if (!value) return fail(value.error());
    if (*value == QLatin1String("true") || *value == QLatin1String("1")) return true;
    if (*value == QLatin1String("false") || *value == QLatin1String("0")) return false;
    return fail("the element " + name.toStdString() + " holds " + quoted(*value) + ", not true or false");
}

Result<QDateTime> SoapElement::toDateTime() const {
    auto value = simpleText(*this, "a date and time");
    if (!value) return fail(value.error());
    static const QRegularExpression pattern(
        QStringLiteral(R"(^(\d{4})-(\d{2})-(\d{2})T(\d{2}):(\d{2}):(\d{2})(?:\.(\d+))?(Z|([+-])(\d{2}):(\d{2}))?$)"));
    const QRegularExpressionMatch m = pattern.match(*value);
    auto bad = [&] {
        return fail("the element " + name.toStdString() + " holds " + quoted(*value) + ", not a date and time");
    };
    if (!m.hasMatch()) return bad();
    auto num = [&](int group) { return m.capturedView(group).toInt(); };
    const QDate date(num(1), num(2), num(3));
    const int hour = num(4), minute = num(5), second = num(6);
    const int msec = m.hasCaptured(7) ? m.captured(7).left(3).leftJustified(3, QLatin1Char('0')).toInt() : 0;
    // 24:00:00 is the end of the day, that is the start of the next one.
    const bool endOfDay = hour == 24 && minute == 0 && second == 0 && msec == 0;
    const QTime time = endOfDay ? QTime(0, 0) : QTime(hour, minute, second, msec);
    if (!date.isValid() || !time.isValid()) return bad();
    const QDate day = endOfDay ? date.addDays(1) : date;
    if (!m.hasCaptured(8)) return QDateTime(day, time, Qt::LocalTime);
    if (m.captured(8) == QLatin1String("Z")) return QDateTime(day, time, Qt::UTC);
    const int offsetMinutes = num(10) * 60 + num(11);
    if (num(11) > 59 || offsetMinutes > 14 * 60) return bad();
    const int sign = m.captured(9) == QLatin1String("-") ? -1 : 1;
    return QDateTime(day, time, Qt::OffsetFromUTC, sign * offsetMinutes * 60);
}

Result<QByteArray> SoapElement::toBase64() const {
    if (nil) return fail("the element " + name.toStdString() + " is null where binary data is expected");
    QByteArray compact;
    compact.reserve(text.size());
    for (const QChar c : text) {
        if (c.isSpace()) continue;
        if (c.unicode() > 0x7F) return fail("the element " + name.toStdString() + " holds no valid base64 text");
        compact.append(static_cast<char>(c.unicode()));
    }
    auto decoded = QByteArray::fromBase64Encoding(compact, QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded) return fail("the element " + name.toStdString() + " holds no valid base64 text");
    return *decoded;
}

namespace {

class AnswerReader {
public:
    AnswerReader(const QByteArray& body, const SoapParseLimits& limits) : m_xml(body), m_limits(limits) {}

    Result<SoapAnswer> read() {
        if (!nextStart()) return fail(m_error.empty() ? "the answer holds no XML element" : m_error);
        const QString env = QString::fromLatin1(kSoapEnvelopeNs);
        if (m_xml.namespaceUri() != env || m_xml.name() != QLatin1String("Envelope"))
            return fail("the answer is not a SOAP 1.1 envelope: its root element is {" +
                        m_xml.namespaceUri().toString().toStdString() + "}" + m_xml.name().toString().toStdString());
        SoapElement envelope;
        if (auto r = readElement(envelope, 1); !r) return fail(r.error());
        // The rest of the document must be well-formed too, so a cut answer is not taken for a whole one.
        while (!m_xml.atEnd()) {
            if (m_xml.readNext() == QXmlStreamReader::DTD) return fail(kDtdRefused);
        }
        if (m_xml.hasError()) return fail(xmlError());

        SoapElement* body = nullptr;
        for (SoapElement& c : envelope.children)
            if (c.ns == env && c.name == QLatin1String("Body")) {
                body = &c;
                break;
            }
        if (!body) return fail("the SOAP envelope holds no Body");
        if (body->children.empty()) return fail("the SOAP body is empty");
        SoapAnswer answer;
        SoapElement& first = body->children.front();
        if (first.ns == env && first.name == QLatin1String("Fault")) {
            SoapFault fault;
            fault.code = first.childText(u"faultcode").value_or(QString()).trimmed();
            fault.string = first.childText(u"faultstring").value_or(QString()).trimmed();
            fault.actor = first.childText(u"faultactor").value_or(QString()).trimmed();
            if (const SoapElement* detail = first.child(u"detail")) fault.detail = *detail;
            answer.fault = std::move(fault);
        } else {
            answer.response = std::move(first);
        }
        return answer;
    }

private:
    static constexpr const char* kDtdRefused = "the answer holds a document type declaration, which is not accepted";

    std::string xmlError() const {
        return "the answer is not well-formed XML (line " + std::to_string(m_xml.lineNumber()) + ", column " +
               std::to_string(m_xml.columnNumber()) + "): " + m_xml.errorString().toStdString();
    }

    // Moves to the first start element.
    bool nextStart() {
        while (!m_xml.atEnd()) {
            switch (m_xml.readNext()) {
            case QXmlStreamReader::DTD:
                m_error = kDtdRefused;
                return false;
            case QXmlStreamReader::StartElement:
                return true;
            default:
                break;
            }
        }
        if (m_xml.hasError()) m_error = xmlError();
        return false;
    }

    // Reads the element the reader stands on, up to its end tag.
    Result<void> readElement(SoapElement& e, int depth) {
        if (depth > m_limits.maxDepth)
            return fail("the answer nests elements deeper than " + std::to_string(m_limits.maxDepth) + " levels");
        if (++m_elements > m_limits.maxElements)
            return fail("the answer holds more than " + std::to_string(m_limits.maxElements) + " elements");
        e.name = m_xml.name().toString();
        e.ns = m_xml.namespaceUri().toString();
        const QStringView nil = m_xml.attributes().value(QString::fromLatin1(kXsiNs), QStringLiteral("nil"));
        e.nil = nil == QLatin1String("true") || nil == QLatin1String("1");
        while (!m_xml.atEnd()) {
            switch (m_xml.readNext()) {
            case QXmlStreamReader::Characters:
                e.text += m_xml.text();
                break;
            case QXmlStreamReader::StartElement:
                e.children.emplace_back();
                if (auto r = readElement(e.children.back(), depth + 1); !r) return r;
                break;
            case QXmlStreamReader::EndElement:
                if (!e.children.empty() && e.text.trimmed().isEmpty()) e.text.clear();
                return {};
            case QXmlStreamReader::DTD:
                return fail(kDtdRefused);
            default:
                break;
            }
        }
        return fail(xmlError());
    }

    QXmlStreamReader m_xml;
    SoapParseLimits m_limits;
    qsizetype m_elements = 0;
    std::string m_error;
};

} // namespace

Result<SoapAnswer> parseSoapAnswer(const QByteArray& body, const SoapParseLimits& limits) {
    if (body.size() > limits.maxBytes)
        return fail("the answer is larger than " + std::to_string(limits.maxBytes) + " bytes");
    if (body.trimmed().isEmpty()) return fail("the answer is empty");
    return AnswerReader(body, limits).read();
}

} // namespace qev
