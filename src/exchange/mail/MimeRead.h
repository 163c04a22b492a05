#pragma once
// Reading a received message as the mail operations and the inbox need it: the header fields decoded to text
// (encoded words in any charset; raw 8-bit header bytes taken as UTF-8 when they are valid UTF-8, else as
// Windows-1252), the text of its plain-text parts, and its attachments with their names and types. Works on the
// raw bytes alone and never throws, whatever the bytes.
#include "util/Result.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <vector>

namespace qev {

struct MimeAttachment {
    int index = 0; // 1-based, in the message's order
    QString fileName;
    QString contentType;
};

struct MimeHeader {
    QString msgId;
    QString from;     // the sender's address
    QString fromText; // the sender as displayed: "Name <address>" or the address
    QString recipients;
    QString cc;
    QString bcc;
    QString subject;
    QString date;
    QString organization;
    QString receipt; // Disposition-Notification-To
    QString contentType;
    QString contentDisposition;
    int priority = 3; // X-Priority 1 (highest) .. 5 (lowest); 3 when absent
};

struct MimeMessage {
    MimeHeader header;
    QStringList textLines; // the plain-text parts
    QStringList htmlParts; // the HTML parts as sent (scripts and remote references included: sanitise to show)
    std::vector<MimeAttachment> attachments;
};

// Header fields only (the raw text may stop after the header).
MimeHeader readMimeHeader(const QByteArray& raw);
MimeMessage readMimeMessage(const QByteArray& raw);
// The decoded bytes of attachment `index` (1-based).
Result<QByteArray> mimeAttachmentBytes(const QByteArray& raw, int index);
struct DecodedAttachment {
    QString fileName;
    QByteArray bytes;
};
// Every attachment of the message, decoded, from one reading of it.
Result<std::vector<DecodedAttachment>> mimeAttachments(const QByteArray& raw);
// The body of a message that is itself one attachment (a single application/octet-stream part), decoded.
Result<QByteArray> mimeSingleBody(const QByteArray& raw);

// A received attachment name made safe as a file name inside a folder: no folder parts, no control characters,
// no reserved characters, not "." or ".."; empty when nothing usable is left.
QString safeAttachmentName(const QString& name);

} // namespace qev
