#pragma once
// Request side of a SOAP 1.1 document/literal call as ASP.NET web services expect it: the operation element in the
// service namespace holding one element per parameter (same namespace, declared order), values in their XML Schema
// text forms.
#include "util/Result.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <vector>

namespace qev {

inline constexpr char kSoapEnvelopeNs[] = "http://schemas.xmlsoap.org/soap/envelope/";
inline constexpr char kXsiNs[] = "http://www.w3.org/2001/XMLSchema-instance";
inline constexpr char kXsdNs[] = "http://www.w3.org/2001/XMLSchema";

struct SoapField;

// A parameter value or the value of a field of a complex parameter.
class SoapValue {
public:
    enum class Kind { Omitted, Nil, String, Int, Long, Bool, DateTime, Base64, Complex };

    // No element at all: how .NET clients send a null string.
    static SoapValue omitted();
    // An element with xsi:nil="true".
    static SoapValue nil();
    // A string; an empty (or null) QString is an empty element, never a null.
    static SoapValue string(const QString& text);
    static SoapValue int32(qint32 n);
    static SoapValue int64(qint64 n);
    static SoapValue boolean(bool b);
    // xsd:dateTime; an invalid QDateTime is sent as nil.
    static SoapValue dateTime(const QDateTime& when);
    static SoapValue base64(const QByteArray& bytes);
    // A complex value: its fields as child elements in order.
    static SoapValue complex(std::vector<SoapField> fields);
    // An array: one `itemName` element per item inside the parameter's element.
    static SoapValue array(const QString& itemName, const std::vector<SoapValue>& items);

    Kind kind() const { return m_kind; }
    // The schema text of a simple value (empty for Omitted, Nil and Complex).
    const QString& lexical() const { return m_text; }
    const std::vector<SoapField>& fields() const { return m_fields; }

private:
    SoapValue(Kind kind, QString text); // out of line: SoapField is not complete here

    Kind m_kind = Kind::Omitted;
    QString m_text;
    std::vector<SoapField> m_fields;
};

struct SoapField {
    QString name;
    SoapValue value;
};

using SoapFields = std::vector<SoapField>;

// xsd:dateTime text: "2024-02-29T13:45:30", milliseconds when not zero, "Z" for UTC, "+hh:mm" for a fixed offset or
// a time zone, nothing for local time (the central office reads it as its own local time).
QString xsdDateTime(const QDateTime& when);

// The SOAPAction of an operation: the namespace followed by the operation name.
QString soapAction(const QString& ns, const QString& operation);

// The UTF-8 request envelope of `operation` in `ns`. Fails on a name that is not a plain XML name and on text
// XML 1.0 cannot carry (control characters, lone surrogates), naming the parameter.
Result<QByteArray> buildSoapRequest(const QString& ns, const QString& operation, const SoapFields& params);

} // namespace qev
