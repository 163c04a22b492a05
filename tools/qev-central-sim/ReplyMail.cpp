#include "ReplyMail.h"

#include "capture/ImageLib.h"
#include "core/Settings.h"
#include "exchange/mail/VmimeSupport.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <vmime/net/smtp/SMTPExceptions.hpp>

namespace qev::sim {

namespace {

struct KindInfo {
    const char* name;
    ReplyKind kind;
    const char* subject;
};

// The subjects are the office's defaults: the answer subjects are settings of the office and may be changed there.
constexpr KindInfo kKinds[] = {
    {"confirmo", ReplyKind::Confirmo, "CONFIRMO"},    {"contesto", ReplyKind::Contesto, "CONTESTO"},
    {"contestop", ReplyKind::Contestop, "CONTESTOP"}, {"confirmop", ReplyKind::Confirmop, "CONFIRMOP"},
    {"rechazo", ReplyKind::Rechazo, "RECHAZO"},       {"rechazop", ReplyKind::Rechazop, "RECHAZOP"},
    {"setestado", ReplyKind::SetEstado, "SETESTADO"},
};

Result<int> wholeNumber(const QHash<QString, QString>& fields, const char* key, int fallback, int minimum) {
    const QString text = fields.value(QLatin1String(key)).trimmed();
    if (text.isEmpty()) return fallback;
    bool ok = false;
    const int n = text.toInt(&ok);
    if (!ok || n < minimum)
        return fail(std::string("'") + key + "' must be a whole number" + (minimum > 0 ? " above 0" : " (0 or more)"));
    return n;
}

QStringList listLines(const QString& text) {
    return text.split(QRegularExpression(QStringLiteral("[\\s]+")), Qt::SkipEmptyParts);
}

QByteArray crlfLines(const QStringList& lines) {
    QByteArray out;
    for (const QString& line : lines)
        out += ansiBytes(line) + "\r\n";
    return out;
}

// A value of a "name=value" line must stay on its line.
bool oneLine(const QString& text) {
    return !text.contains(QLatin1Char('\r')) && !text.contains(QLatin1Char('\n'));
}

class Timeout final : public vmime::net::timeoutHandler {
public:
    Timeout() { m_timer.start(); }
    bool isTimeOut() override { return m_timer.elapsed() >= 30000; }
    void resetTimeOut() override { m_timer.restart(); }
    bool handleTimeOut() override { return false; }

private:
    QElapsedTimer m_timer;
};

class TimeoutFactory final : public vmime::net::timeoutHandlerFactory {
public:
    std::shared_ptr<vmime::net::timeoutHandler> create() override { return std::make_shared<Timeout>(); }
};

std::string causeOf(const std::exception& e) {
    std::string text = e.what();
    if (const auto* ce = dynamic_cast<const vmime::exceptions::command_error*>(&e))
        if (!ce->response().empty()) text += ": " + ce->response();
    if (const auto* ve = dynamic_cast<const vmime::exception*>(&e))
        for (const vmime::exception* o = ve->other(); o; o = o->other())
            text += std::string(" (") + o->what() + ")";
    return text;
}

} // namespace

bool Reply::isPersonal() const {
    return kind == ReplyKind::Contestop || kind == ReplyKind::Confirmop || kind == ReplyKind::Rechazop;
}

Result<Reply> parseReply(const QString& kind, const QHash<QString, QString>& fields,
                         const std::optional<QByteArray>& image) {
    Reply r;
    const KindInfo* info = nullptr;
    for (const KindInfo& k : kKinds)
        if (kind == QLatin1String(k.name)) info = &k;
    if (!info)
        return fail("unknown reply '" + kind.toStdString() +
                    "': one of confirmo, contesto, contestop, confirmop, rechazo, rechazop, setestado");
    static const QStringList known{QStringLiteral("pedido"),  QStringLiteral("regional"), QStringLiteral("expediente"),
                                   QStringLiteral("estado"),  QStringLiteral("obs"),      QStringLiteral("cert"),
                                   QStringLiteral("rechazo"), QStringLiteral("res"),      QStringLiteral("subject"),
                                   QStringLiteral("from"),    QStringLiteral("oficial"),  QStringLiteral("personal"),
                                   QStringLiteral("image")};
    for (auto it = fields.cbegin(); it != fields.cend(); ++it)
        if (!known.contains(it.key())) return fail("unknown field '" + it.key().toStdString() + "'");
    r.kind = info->kind;
    r.kindName = kind;
    const bool lists = r.kind == ReplyKind::SetEstado;
    auto pedido = wholeNumber(fields, "pedido", 0, lists ? 0 : 1);
    if (!pedido) return fail(pedido.error());
    auto regional = wholeNumber(fields, "regional", 0, lists ? 0 : 1);
    if (!regional) return fail(regional.error());
    auto expediente = wholeNumber(fields, "expediente", 0, 0);
    if (!expediente) return fail(expediente.error());
    if (!lists && (*pedido == 0 || *regional == 0)) return fail("--pedido and --regional are required");
    r.pedido = *pedido;
    r.regional = *regional;
    r.expediente = *expediente;
    r.obs = fields.value(QStringLiteral("obs"));
    r.cert = fields.value(QStringLiteral("cert")).trimmed();
    r.rechazo = fields.value(QStringLiteral("rechazo")).trimmed();
    r.res = fields.value(QStringLiteral("res")).trimmed();
    r.from = fields.value(QStringLiteral("from")).trimmed();
    if (r.from.isEmpty()) r.from = QString::fromLatin1(kDefaultFrom);
    r.subject = fields.value(QStringLiteral("subject"));
    if (r.subject.isEmpty()) r.subject = QString::fromLatin1(info->subject);
    for (const QString& v : {r.obs, r.cert, r.rechazo, r.res, r.subject, r.from})
        if (!oneLine(v)) return fail("a field holds a line break");
    QString estado = fields.value(QStringLiteral("estado")).trimmed();
    switch (r.kind) {
    case ReplyKind::Confirmo:
    case ReplyKind::Confirmop:
        if (estado.isEmpty()) estado = QStringLiteral("T");
        break;
    case ReplyKind::Contesto:
        if (estado.isEmpty()) estado = QStringLiteral("C");
        break;
    case ReplyKind::Contestop:
        if (estado.isEmpty()) estado = QStringLiteral("C");
        break;
    case ReplyKind::Rechazo:
    case ReplyKind::Rechazop:
        if (estado.isEmpty()) estado = QStringLiteral("R");
        break;
    case ReplyKind::SetEstado:
        break;
    }
    if (estado.size() > 1) return fail("'estado' is one letter (T, C, R...)");
    r.estado = estado;
    r.oficial = listLines(fields.value(QStringLiteral("oficial")));
    r.personal = listLines(fields.value(QStringLiteral("personal")));
    if (lists && r.oficial.isEmpty() && r.personal.isEmpty())
        return fail("setestado needs --oficial LINES and/or --personal LINES");
    const QString imageField = fields.value(QStringLiteral("image")).trimmed();
    if (image) {
        if (image->isEmpty()) return fail("the answer image is empty");
        r.image = *image;
    } else if (imageField.isEmpty()) {
        // An official answer always carries its report; a personal one when it was answered and not by post.
        r.generateImage =
            r.kind == ReplyKind::Contesto ||
            (r.kind == ReplyKind::Contestop && r.estado == QLatin1String("C") && r.res != QLatin1String("R"));
    } else if (imageField != QLatin1String("none")) {
        return fail("'image' is a file, or \"none\" for no image");
    }
    if (r.kind == ReplyKind::Contesto && !r.generateImage && r.image.isEmpty())
        return fail("an official answer carries its image: give --image FILE or leave it out");
    if (r.kind != ReplyKind::Contesto && r.kind != ReplyKind::Contestop && (r.generateImage || !r.image.isEmpty()))
        return fail("only contesto and contestop carry an answer image");
    return r;
}

QByteArray respDat(const Reply& r) {
    return crlfLines({QStringLiteral("[DATA]"), QStringLiteral("c_ped=%1").arg(r.pedido),
                      QStringLiteral("c_reg=%1").arg(r.regional), QStringLiteral("n_expe=%1").arg(r.expediente),
                      QStringLiteral("c_est=") + r.estado, QStringLiteral("x_obs=") + r.obs,
                      QStringLiteral("n_cert=") + r.cert, QStringLiteral("c_rechazo=") + r.rechazo,
                      QStringLiteral("c_res=") + r.res});
}

Result<QByteArray> answerImage(const Reply& r) {
    constexpr int kDpi = 200;
    constexpr int kWidth = 1654; // A4, 210 x 297 mm
    constexpr int kHeight = 2339;
    QImage page(kWidth, kHeight, QImage::Format_Grayscale8);
    page.fill(Qt::white);
    {
        QPainter p(&page);
        p.setPen(QPen(Qt::black, 4));
        p.drawRect(100, 100, kWidth - 200, kHeight - 200);
        auto text = [&p](int y, int px, bool bold, const QString& s) {
            QFont f(QStringLiteral("Liberation Sans"));
            f.setPixelSize(px);
            f.setBold(bold);
            p.setFont(f);
            p.drawText(QRect(160, y, kWidth - 320, px * 2), Qt::AlignLeft | Qt::AlignVCenter, s);
        };
        text(180, 64, true, QStringLiteral("QEV Central"));
        text(300, 48, true,
             r.isPersonal() ? QStringLiteral("Informe de antecedentes penales - Pedido personal")
                            : QStringLiteral("Informe de antecedentes penales - Pedido oficial"));
        text(480, 40, false, QStringLiteral("Pedido número: %1").arg(r.pedido));
        text(560, 40, false, QStringLiteral("Regional: %1").arg(r.regional));
        text(640, 40, false, QStringLiteral("Expediente: %1").arg(r.expediente));
        if (!r.cert.isEmpty()) text(720, 40, false, QStringLiteral("Certificado: ") + r.cert);
        text(800, 40, false,
             QStringLiteral("Emitido: ") + QDateTime::currentDateTime().toString(QStringLiteral("dd/MM/yyyy HH:mm")));
        if (!r.obs.isEmpty()) text(880, 40, false, QStringLiteral("Observaciones: ") + r.obs);
        text(kHeight - 320, 32, false,
             QStringLiteral("Documento de ensayo generado por el simulador de QEV Central. Sin validez."));
    }
    capture::Raster raster = capture::Raster::grey(kWidth, kHeight);
    raster.bilevel = true;
    raster.resolutionX = kDpi;
    raster.resolutionY = kDpi;
    for (int y = 0; y < kHeight; ++y) {
        const uchar* in = page.constScanLine(y);
        uint8_t* out = raster.row(y);
        for (int x = 0; x < kWidth; ++x)
            out[x] = in[x] < 128 ? 0 : 255;
    }
    QTemporaryDir dir;
    if (!dir.isValid()) return fail("cannot create a temporary folder for the image");
    const QString path = dir.filePath(QStringLiteral("resp.tif"));
    std::string error;
    const capture::SaveFormat g4{capture::kFileTiff, capture::kPageBlackWhite, capture::kCompressionGroup4,
                                 capture::kInfoGroup4};
    if (!capture::saveAs(path.toStdString(), raster, g4, &error)) return fail("cannot write the image: " + error);
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return fail("cannot read the image back");
    return f.readAll();
}

Result<std::vector<MailFile>> replyFiles(const Reply& r) {
    std::vector<MailFile> out;
    if (r.kind == ReplyKind::SetEstado) {
        if (!r.oficial.isEmpty()) out.push_back({QStringLiteral("EstOfi.DAT"), crlfLines(r.oficial)});
        if (!r.personal.isEmpty()) out.push_back({QStringLiteral("EstPriv.DAT"), crlfLines(r.personal)});
        return out;
    }
    out.push_back({QStringLiteral("resp.dat"), respDat(r)});
    if (!r.image.isEmpty()) {
        out.push_back({QStringLiteral("resp.tif"), r.image});
    } else if (r.generateImage) {
        auto tif = answerImage(r);
        if (!tif) return fail(tif.error());
        out.push_back({QStringLiteral("resp.tif"), *tif});
    }
    return out;
}

Result<void> sendReply(const Reply& r, const QString& smtp, const QString& to) {
    const qsizetype colon = smtp.lastIndexOf(QLatin1Char(':'));
    bool portOk = false;
    const int port = colon > 0 ? smtp.mid(colon + 1).toInt(&portOk) : 0;
    if (!portOk || port <= 0 || port > 65535) return fail("--smtp must be HOST:PORT");
    const QString host = smtp.left(colon);
    if (to.trimmed().isEmpty()) return fail("--to ADDRESS is required");
    auto files = replyFiles(r);
    if (!files) return fail(files.error());
    try {
        mail::ensureVmime();
        vmime::messageBuilder mb;
        mb.setExpeditor(vmime::mailbox(vmime::emailAddress(mail::toUtf8(r.from))));
        vmime::addressList rcpts;
        rcpts.appendAddress(std::make_shared<vmime::mailbox>(vmime::emailAddress(mail::toUtf8(to.trimmed()))));
        mb.setRecipients(rcpts);
        mb.setSubject(mail::utf8Text(r.subject));
        mb.getTextPart()->setCharset(vmime::charset(vmime::charsets::UTF_8));
        const QString body = r.kind == ReplyKind::SetEstado
                                 ? QStringLiteral("Listas de estado de QEV Central.")
                                 : QStringLiteral("Pedido %1 de la regional %2.").arg(r.pedido).arg(r.regional);
        mb.getTextPart()->setText(std::make_shared<vmime::stringContentHandler>(mail::toUtf8(body)));
        for (const MailFile& f : *files) {
            const bool tif = f.name.endsWith(QLatin1String(".tif"));
            auto att = std::make_shared<vmime::fileAttachment>(
                std::make_shared<vmime::stringContentHandler>(
                    vmime::string(f.bytes.constData(), static_cast<size_t>(f.bytes.size()))),
                vmime::word(mail::toUtf8(f.name), vmime::charset(vmime::charsets::UTF_8)),
                vmime::mediaType(tif ? "image/tiff" : "application/octet-stream"), vmime::text(),
                vmime::encoding(vmime::encodingTypes::BASE64));
            mb.appendAttachment(att);
        }
        auto msg = mb.construct();
        msg->getHeader()->MessageId()->setValue(vmime::messageId::generateId());
        msg->getHeader()->Date()->setValue(vmime::datetime::now());
        // Generated here with encoded words and sent as bytes: a server that offers SMTPUTF8 never gets raw
        // 8-bit headers.
        vmime::string data;
        vmime::utility::outputStreamStringAdapter os(data);
        vmime::generationContext ctx;
        msg->generate(ctx, os);

        auto session = vmime::net::session::create();
        auto tr =
            session->getTransport(vmime::utility::url("smtp", mail::toUtf8(host), static_cast<vmime::port_t>(port)));
        tr->setProperty("connection.tls", false);
        tr->setProperty("options.need-authentication", false);
        tr->setTimeoutHandlerFactory(std::make_shared<TimeoutFactory>());
        tr->connect();
        vmime::mailboxList envelope;
        envelope.appendMailbox(std::make_shared<vmime::mailbox>(vmime::emailAddress(mail::toUtf8(to.trimmed()))));
        vmime::utility::inputStreamStringAdapter is(data);
        tr->send(vmime::mailbox(vmime::emailAddress(mail::toUtf8(r.from))), envelope, is, data.size());
        tr->disconnect();
    } catch (const std::exception& e) {
        return fail("SMTP " + smtp.toStdString() + ": " + causeOf(e));
    }
    return {};
}

CentralEvent replyEvent(const Reply& r) {
    CentralEvent e;
    e.ms = nowMs();
    e.personal = r.isPersonal();
    e.pedido = r.pedido;
    e.regional = r.regional;
    e.estado = r.estado;
    e.expediente = r.expediente;
    if (r.kind == ReplyKind::Contestop) e.res = r.res;
    if (r.kind == ReplyKind::Rechazo || r.kind == ReplyKind::Rechazop) e.motivo = r.obs;
    return e;
}

} // namespace qev::sim
