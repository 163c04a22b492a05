#pragma once
// Answer side of a SOAP 1.1 call: the envelope is found by namespace (any prefixes), the body's first element is
// kept as a small element tree or read as a fault. Whitespace, comments and unknown elements are tolerated; names
// and namespaces are compared exactly. Hostile answers are bounded (size, depth, element count) and DTDs refused.
#include "util/Result.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringView>

#include <optional>
#include <vector>

namespace qev {

struct SoapElement {
    QString name; // local name
    QString ns;   // namespace URI
    QString text; // the element's own character data (CDATA and character references included)
    bool nil = false;
    std::vector<SoapElement> children;

    // The first child with this local name, whatever its namespace; null when there is none.
    const SoapElement* child(QStringView localName) const;
    std::vector<const SoapElement*> childrenNamed(QStringView localName) const;
    // A string child's text; nothing when the child is missing or nil.
    std::optional<QString> childText(QStringView localName) const;
    // A child that must be there, or an error naming it.
    Result<const SoapElement*> requiredChild(QStringView localName) const;
    Result<qint32> childInt(QStringView localName) const;
    Result<qint64> childLong(QStringView localName) const;

    // Schema values of this element's text (surrounding whitespace ignored); a nil element is an error.
    Result<qint32> toInt() const;
    Result<qint64> toLong() const;
    Result<bool> toBool() const;
    // xsd:dateTime: "2024-02-29T13:45:30", optional fraction and "Z" or "+hh:mm"; local time when no zone is given.
    Result<QDateTime> toDateTime() const;
    Result<QByteArray> toBase64() const;
};

struct SoapFault {
    QString code;   // as written, e.g. "soap:Server"
    QString string; // the readable text
    QString actor;
    std::optional<SoapElement> detail;
};

struct SoapAnswer {
    std::optional<SoapFault> fault;
    SoapElement response; // the body's first element when there is no fault
};

struct SoapParseLimits {
    qsizetype maxBytes = qsizetype(64) << 20;
    int maxDepth = 64; // the envelope is depth 1
    qsizetype maxElements = 500000;
};

// Reads an answer body. Errors: not XML, a DTD, limits exceeded, no SOAP 1.1 envelope or body, an empty body.
Result<SoapAnswer> parseSoapAnswer(const QByteArray& body, const SoapParseLimits& limits = {});

} // namespace qev
