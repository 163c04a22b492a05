#include "exchange/soap/SoapRequest.h"

#include <QXmlStreamWriter>

namespace qev {

SoapValue::SoapValue(Kind kind, QString text) : m_kind(kind), m_text(std::move(text)) {}

SoapValue SoapValue::omitted() {
    return SoapValue(Kind::Omitted, QString());
}

SoapValue SoapValue::nil() {
    return SoapValue(Kind::Nil, QString());
}

SoapValue SoapValue::string(const QString& text) {
    return SoapValue(Kind::String, text.isNull() ? QStringLiteral("") : text);
}

SoapValue SoapValue::int32(qint32 n) {
    return SoapValue(Kind::Int, QString::number(n));
}

SoapValue SoapValue::int64(qint64 n) {
    return SoapValue(Kind::Long, QString::number(n));
}

SoapValue SoapValue::boolean(bool b) {
    return SoapValue(Kind::Bool, b ? QStringLiteral("true") : QStringLiteral("false"));
}

SoapValue SoapValue::dateTime(const QDateTime& when) {
    if (!when.isValid()) return nil();
    return SoapValue(Kind::DateTime, xsdDateTime(when));
}

SoapValue SoapValue::base64(const QByteArray& bytes) {
    return SoapValue(Kind::Base64, QString::fromLatin1(bytes.toBase64()));
}

SoapValue SoapValue::complex(std::vector<SoapField> fields) {
    SoapValue v(Kind::Complex, QString());
    v.m_fields = std::move(fields);
    return v;
}

SoapValue SoapValue::array(const QString& itemName, const std::vector<SoapValue>& items) {
    std::vector<SoapField> fields;
    fields.reserve(items.size());
    for (const SoapValue& item : items)
        fields.push_back(SoapField{itemName, item});
    return complex(std::move(fields));
}

QString xsdDateTime(const QDateTime& when) {
    QString text = when.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
    if (when.time().msec() != 0) text += QStringLiteral(".%1").arg(when.time().msec(), 3, 10, QLatin1Char('0'));
    // Qt's ISO text ends in the zone: nothing for local time, "Z" for UTC, "+hh:mm" for an offset or a zone.
    const QString iso = when.toString(Qt::ISODate);
    return text + iso.mid(iso.indexOf(QLatin1Char('T')) + 9);
}

QString soapAction(const QString& ns, const QString& operation) {
    return ns + operation;
}

namespace {

bool isPlainName(const QString& name) {
    if (name.isEmpty()) return false;
    for (qsizetype i = 0; i < name.size(); ++i) {
        const QChar c = name.at(i);
        const bool letter = (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
                            (c >= QLatin1Char('a') && c <= QLatin1Char('z')) || c == QLatin1Char('_');
        const bool other =
            (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('-') || c == QLatin1Char('.');
        if (!letter && (i == 0 || !other)) return false;
    }
    return true;
}

// The first character XML 1.0 cannot carry, as its code (surrogates alone count as such); -1 when none.
qint32 firstUnwritable(const QString& text) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        if (QChar::isHighSurrogate(c)) {
            if (i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
                ++i;
                continue;
            }
            return c;
        }
        if (QChar::isLowSurrogate(c)) return c;
        const bool allowed = c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xFFFD);
        if (!allowed) return c;
    }
    return -1;
}

// Carriage returns go as character references: a reader would otherwise fold "\r\n" into "\n".
void writeText(QXmlStreamWriter& xml, const QString& text) {
    qsizetype start = 0;
    for (qsizetype cr = text.indexOf(QLatin1Char('\r')); cr >= 0; cr = text.indexOf(QLatin1Char('\r'), start)) {
        xml.writeCharacters(text.mid(start, cr - start));
        xml.writeEntityReference(QStringLiteral("#13"));
        start = cr + 1;
    }
    xml.writeCharacters(text.mid(start));
}

Result<void> writeField(QXmlStreamWriter& xml, const QString& ns, const SoapField& field, const QString& path,
                        int depth) {
    const QString where = path.isEmpty() ? field.name : path + QLatin1Char('/') + field.name;
    if (!isPlainName(field.name)) return fail("the element name '" + where.toStdString() + "' is not a plain XML name");
    if (depth > 32) return fail("the parameter " + where.toStdString() + " nests more than 32 levels");
    const SoapValue& v = field.value;
    switch (v.kind()) {
    case SoapValue::Kind::Omitted:
        return {};
    case SoapValue::Kind::Nil:
        xml.writeEmptyElement(ns, field.name);
        xml.writeAttribute(QString::fromLatin1(kXsiNs), QStringLiteral("nil"), QStringLiteral("true"));
        return {};
    case SoapValue::Kind::Complex:
        xml.writeStartElement(ns, field.name);
        for (const SoapField& child : v.fields())
            if (auto r = writeField(xml, ns, child, where, depth + 1); !r) return r;
        xml.writeEndElement();
        return {};
    default:
        if (const qint32 bad = firstUnwritable(v.lexical()); bad >= 0)
            return fail("the parameter " + where.toStdString() + " holds the character U+" +
                        QStringLiteral("%1").arg(bad, 4, 16, QLatin1Char('0')).toUpper().toStdString() +
                        ", which XML cannot carry");
        xml.writeStartElement(ns, field.name);
        writeText(xml, v.lexical());
        xml.writeEndElement();
        return {};
    }
}

} // namespace

Result<QByteArray> buildSoapRequest(const QString& ns, const QString& operation, const SoapFields& params) {
    if (!isPlainName(operation))
        return fail("the operation name '" + operation.toStdString() + "' is not a plain XML name");
    QByteArray out;
    QXmlStreamWriter xml(&out);
    const QString env = QString::fromLatin1(kSoapEnvelopeNs);
    xml.writeStartDocument();
    xml.writeNamespace(env, QStringLiteral("soap"));
    xml.writeNamespace(QString::fromLatin1(kXsiNs), QStringLiteral("xsi"));
    xml.writeNamespace(QString::fromLatin1(kXsdNs), QStringLiteral("xsd"));
    xml.writeStartElement(env, QStringLiteral("Envelope"));
    xml.writeStartElement(env, QStringLiteral("Body"));
    // Declared on the operation element itself, the way .NET writes it.
    xml.writeStartElement(operation);
    xml.writeDefaultNamespace(ns);
    for (const SoapField& p : params)
        if (auto r = writeField(xml, ns, p, QString(), 1); !r) return fail(r.error());
    xml.writeEndDocument();
    if (xml.hasError()) return fail("the request of " + operation.toStdString() + " could not be written");
    return out;
}

} // namespace qev
