#pragma once
// The central office's reply mails: a confirmation, an answer with its report image, a rejection or the state
// lists, each with the subject the office expects and its files ("resp.dat" with "resp.tif", or "EstOfi.DAT" and
// "EstPriv.DAT"), sent by plain SMTP to the office's mailbox. The same fields come from the `reply` command's
// options and from the form of the server's "/sim/reply" page.
#include "Ledger.h"
#include "util/Result.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace qev::sim {

enum class ReplyKind { Confirmo, Contesto, Contestop, Confirmop, Rechazo, Rechazop, SetEstado };

struct Reply {
    ReplyKind kind = ReplyKind::Confirmo;
    QString kindName; // as given: "confirmo", "contesto", ...
    int pedido = 0;
    int regional = 0;
    int expediente = 0;
    QString estado;
    QString obs;
    QString cert;
    QString rechazo;
    QString res;
    QString subject;
    QString from;
    QStringList oficial;  // lines of "EstOfi.DAT"
    QStringList personal; // lines of "EstPriv.DAT"
    // The answer image: a file's bytes, or generated when `generateImage`; none when both are empty/false.
    QByteArray image;
    bool generateImage = false;

    bool isPersonal() const;
};

struct MailFile {
    QString name;
    QByteArray bytes;
};

// The reply a set of fields asks for. Fields: pedido, regional, expediente, estado, obs, cert, rechazo, res,
// subject, from, oficial, personal (lines separated by blanks or line breaks), image ("none" for no image).
// `image` is the answer image's bytes when one was given. Unknown fields are refused.
Result<Reply> parseReply(const QString& kind, const QHash<QString, QString>& fields,
                         const std::optional<QByteArray>& image);

// "[DATA]" and the eight keys, CRLF lines in Windows-1252.
QByteArray respDat(const Reply& reply);
// A one-page A4 report at 200 dpi, black and white (Group 4), naming the request and the office.
Result<QByteArray> answerImage(const Reply& reply);
// The files the mail carries, in order.
Result<std::vector<MailFile>> replyFiles(const Reply& reply);

// Sends the reply from `reply.from` to `to` through the SMTP server at "HOST:PORT" (no TLS, no authentication:
// the loopback server of a rehearsal).
Result<void> sendReply(const Reply& reply, const QString& smtp, const QString& to);

// What the reply changes at the central office.
CentralEvent replyEvent(const Reply& reply);

inline constexpr char kDefaultFrom[] = "qevcentral@qev.local";

} // namespace qev::sim
