// qev-central-sim: QEV Central's web services and pages on a loopback address, answered from a JSON data file, and
// its reply mails, for trying the program and for its tests.
//   qev-central-sim [--port 8095] [--data FILE] [--store DIR] [--smtp HOST:PORT --to ADDR] ...   serves; prints
//       "listening on http://HOST:PORT/" once it accepts calls
//   qev-central-sim reply KIND --smtp HOST:PORT --to ADDR --pedido N --regional R [...]   sends one reply mail and
//       exits 0, or 2 with the reason
#include "AsmxServer.h"
#include "BioService.h"
#include "CentralPages.h"
#include "Ledger.h"
#include "MessageService.h"
#include "ReplyMail.h"
#include "SimData.h"
#include "SlipServices.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QGuiApplication>

#include <httplib.h>

#include <cstdio>
#include <tuple>

namespace {

using namespace qev::sim;

int failed(const std::string& text) {
    std::fprintf(stderr, "qev-central-sim: %s\n", text.c_str());
    return 2;
}

QString repliesFile(const QString& store) {
    return store.isEmpty() ? QString() : QDir(store).filePath(QStringLiteral("replies.log"));
}

// The fields of a reply, as the command line and the web form name them.
const std::pair<const char*, const char*> kReplyFields[] = {
    {"pedido", "The request number at the office."},
    {"regional", "The office's regional code."},
    {"expediente", "The central office's file number."},
    {"estado", "The state code of the reply (T, C, R...)."},
    {"obs", "Observations; for a rejection, its reason."},
    {"cert", "Certificate number."},
    {"rechazo", "Rejection code."},
    {"res", "Result code (R: answered by post)."},
    {"subject", "The mail's subject instead of the office's default."},
    {"from", "Sender address."},
    {"oficial", "setestado: lines of EstOfi.DAT, separated by blanks or line breaks."},
    {"personal", "setestado: lines of EstPriv.DAT."}};

int replyCommand(const QStringList& arguments) {
    QCommandLineParser cli;
    cli.setApplicationDescription(QStringLiteral("Sends one reply mail of QEV Central."));
    cli.addPositionalArgument(QStringLiteral("kind"),
                              QStringLiteral("confirmo, contesto, contestop, confirmop, rechazo, rechazop, setestado"));
    const QCommandLineOption smtp(QStringLiteral("smtp"), QStringLiteral("SMTP server."), QStringLiteral("HOST:PORT"));
    const QCommandLineOption to(QStringLiteral("to"), QStringLiteral("The office's address."), QStringLiteral("ADDR"));
    const QCommandLineOption image(QStringLiteral("image"), QStringLiteral("Answer image (\"none\": no image)."),
                                   QStringLiteral("FILE"));
    const QCommandLineOption store(QStringLiteral("store"),
                                   QStringLiteral("The running server's store folder, told of the reply."),
                                   QStringLiteral("DIR"));
    cli.addOptions({smtp, to, image, store});
    cli.addHelpOption();
    for (const auto& [name, text] : kReplyFields)
        cli.addOption(
            QCommandLineOption(QString::fromLatin1(name), QString::fromLatin1(text), QStringLiteral("VALUE")));
    if (!cli.parse(arguments)) return failed(cli.errorText().toStdString());
    if (cli.isSet(QStringLiteral("help"))) {
        std::printf("%s", qPrintable(cli.helpText()));
        return 0;
    }
    if (cli.positionalArguments().size() != 2)
        return failed("usage: qev-central-sim reply KIND --smtp HOST:PORT --to ADDR ...");
    QHash<QString, QString> values;
    for (const auto& [name, text] : kReplyFields)
        if (cli.isSet(QString::fromLatin1(name)))
            values.insert(QString::fromLatin1(name), cli.value(QString::fromLatin1(name)));
    std::optional<QByteArray> imageBytes;
    if (cli.isSet(image)) {
        if (cli.value(image) == QLatin1String("none")) {
            values.insert(QStringLiteral("image"), QStringLiteral("none"));
        } else {
            QFile f(cli.value(image));
            if (!f.open(QIODevice::ReadOnly)) return failed("cannot read the image " + cli.value(image).toStdString());
            imageBytes = f.readAll();
        }
    }
    auto reply = parseReply(cli.positionalArguments().at(1), values, imageBytes);
    if (!reply) return failed(reply.error());
    if (auto sent = sendReply(*reply, cli.value(smtp), cli.value(to)); !sent) return failed(sent.error());
    if (cli.isSet(store) && reply->kind != ReplyKind::SetEstado) {
        QString error;
        QDir().mkpath(cli.value(store));
        if (!Ledger::appendToFile(repliesFile(cli.value(store)), replyEvent(*reply), error))
            return failed("sent, but the server was not told: " + error.toStdString());
    }
    std::printf("sent %s for request %d of regional %d to %s\n", qPrintable(reply->kindName), reply->pedido,
                reply->regional, qPrintable(cli.value(to)));
    return 0;
}

const char kReplyForm[] = R"(<!DOCTYPE html>
<html lang="es"><head><meta charset="utf-8"><title>QEV Central simulado: respuestas</title></head><body>
<h1>Enviar una respuesta de QEV Central</h1>
<form method="post" action="/sim/reply" enctype="multipart/form-data">
<p><select name="kind"><option>confirmo</option><option>contesto</option><option>contestop</option>
<option>confirmop</option><option>rechazo</option><option>rechazop</option><option>setestado</option></select></p>
<p>pedido <input name="pedido"> regional <input name="regional"> expediente <input name="expediente"></p>
<p>estado <input name="estado" size="2"> certificado <input name="cert"> rechazo <input name="rechazo">
resultado <input name="res" size="2"></p>
<p>observaciones <input name="obs" size="60"></p>
<p>listas (una línea por pedido) oficiales <textarea name="oficial"></textarea>
personales <textarea name="personal"></textarea></p>
<p>imagen <input type="file" name="image"></p>
<p><button type="submit">Enviar</button></p>
</form></body></html>
)";

// "POST /sim/reply": the reply command's fields as a form, the image as an uploaded file.
void mountReplyPage(httplib::Server& http, const QString& smtp, const QString& to, Ledger& ledger, CallLog& log) {
    http.Get("/sim/reply", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(kReplyForm, "text/html; charset=utf-8");
    });
    http.Post("/sim/reply", [smtp, to, &ledger, &log](const httplib::Request& req, httplib::Response& res) {
        QHash<QString, QString> values;
        QString kind;
        std::optional<QByteArray> image;
        auto take = [&](const std::string& name, const std::string& value, bool file) {
            const QString key = QString::fromStdString(name);
            if (key == QLatin1String("kind")) {
                kind = QString::fromStdString(value);
            } else if (key == QLatin1String("image") && file) {
                if (!value.empty()) image = QByteArray::fromStdString(value);
            } else if (!value.empty()) {
                values.insert(key, QString::fromUtf8(value.data(), static_cast<qsizetype>(value.size())));
            }
        };
        for (const auto& [name, value] : req.params)
            take(name, value, false);
        for (const auto& [name, part] : req.files)
            take(name, part.content, !part.filename.empty());
        auto reply = parseReply(kind, values, image);
        auto answer = [&](int status, const QString& text) {
            log.write(QStringLiteral("/sim/reply %1 -> http %2 %3").arg(kind).arg(status).arg(text));
            res.status = status;
            res.set_content((text + QStringLiteral("\n")).toStdString(), "text/plain; charset=utf-8");
        };
        if (!reply) return answer(400, QString::fromStdString(reply.error()));
        if (auto sent = sendReply(*reply, smtp, to); !sent) return answer(502, QString::fromStdString(sent.error()));
        if (reply->kind != ReplyKind::SetEstado) ledger.record(replyEvent(*reply));
        answer(200, QStringLiteral("sent %1 for request %2 of regional %3 to %4")
                        .arg(reply->kindName)
                        .arg(reply->pedido)
                        .arg(reply->regional)
                        .arg(to));
    });
}

} // namespace

int main(int argc, char** argv) {
    // The answer image is drawn with fonts, which need a GUI application but never a display.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    if (!qEnvironmentVariableIsSet("XDG_RUNTIME_DIR")) {
        const QString runtime = QDir::tempPath() + QStringLiteral("/qev-central-sim-runtime");
        if (QDir().mkpath(runtime)) {
            QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
        }
    }
    QGuiApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qev-central-sim"));
    if (app.arguments().size() > 1 && app.arguments().at(1) == QLatin1String("reply"))
        return replyCommand(app.arguments());

    QCommandLineParser cli;
    cli.setApplicationDescription(QStringLiteral("QEV Central's web services, simulated from a data file.\n"
                                                 "qev-central-sim reply KIND --help: one reply mail."));
    cli.addHelpOption();
    const QCommandLineOption hostOption(QStringLiteral("host"), QStringLiteral("Address to listen on."),
                                        QStringLiteral("HOST"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption portOption(QStringLiteral("port"), QStringLiteral("Port; 0 picks a free one."),
                                        QStringLiteral("PORT"), QStringLiteral("8095"));
    const QCommandLineOption dataOption(QStringLiteral("data"), QStringLiteral("JSON data file (none: no data)."),
                                        QStringLiteral("FILE"));
    const QCommandLineOption logOption(
        QStringLiteral("log"), QStringLiteral("Appends the call log here, not to stderr."), QStringLiteral("FILE"));
    const QCommandLineOption nsOption(QStringLiteral("namespace"),
                                      QStringLiteral("Services' namespace (default http://HOST:PORT/)."),
                                      QStringLiteral("URI"));
    const QCommandLineOption storeOption(
        QStringLiteral("store"), QStringLiteral("Keeps each package received by SendMessage in a folder under DIR."),
        QStringLiteral("DIR"));
    const QCommandLineOption smtpOption(QStringLiteral("smtp"),
                                        QStringLiteral("With --to: POST /sim/reply sends reply mails through this "
                                                       "SMTP server."),
                                        QStringLiteral("HOST:PORT"));
    const QCommandLineOption toOption(QStringLiteral("to"), QStringLiteral("The office's mail address."),
                                      QStringLiteral("ADDR"));
    cli.addOptions({hostOption, portOption, dataOption, logOption, nsOption, storeOption, smtpOption, toOption});
    cli.process(app);

    SimData data;
    if (cli.isSet(dataOption)) {
        auto loaded = loadSimData(cli.value(dataOption));
        if (!loaded) return failed(loaded.error());
        data = std::move(*loaded);
    }
    bool portOk = false;
    const int wantedPort = cli.value(portOption).toInt(&portOk);
    if (!portOk || wantedPort < 0 || wantedPort > 65535) return failed("the port must be a number from 0 to 65535");
    if (cli.isSet(smtpOption) != cli.isSet(toOption)) return failed("--smtp and --to go together");
    std::FILE* logFile = stderr;
    if (cli.isSet(logOption)) {
        logFile = std::fopen(cli.value(logOption).toLocal8Bit().constData(), "a");
        if (!logFile) return failed("cannot open the log file " + cli.value(logOption).toStdString());
    }

    const std::string host = cli.value(hostOption).toStdString();
    httplib::Server http;
    http.set_payload_max_length(std::size_t(16) << 20);
    int port = wantedPort;
    if (wantedPort == 0) {
        port = http.bind_to_any_port(host);
    } else if (!http.bind_to_port(host, wantedPort)) {
        port = -1;
    }
    if (port <= 0) return failed("cannot listen on " + host + ":" + std::to_string(wantedPort));

    const QString hostText = cli.value(hostOption).contains(QLatin1Char(':'))
                                 ? QLatin1Char('[') + cli.value(hostOption) + QLatin1Char(']')
                                 : cli.value(hostOption);
    const QString base = QStringLiteral("http://%1:%2/").arg(hostText).arg(port);
    const QString store = cli.value(storeOption);
    if (!store.isEmpty()) QDir().mkpath(store);
    CallLog log(logFile);
    Ledger ledger(repliesFile(store));
    AsmxServer server(cli.isSet(nsOption) ? cli.value(nsOption) : base, log);
    server.add(boletaService(data));
    server.add(tramService(data));
    // With a mail server, a state request is answered as the central office does: a "SETESTADO" mail with the
    // lists its pages show.
    StateRequest answerStates;
    if (cli.isSet(smtpOption))
        answerStates = [&data, &ledger, &log, smtp = cli.value(smtpOption), to = cli.value(toOption)](int cReg,
                                                                                                      int cRegp) {
            QHash<QString, QString> lists;
            for (const auto& [regional, personal, key] :
                 {std::tuple{cReg, false, "oficial"}, std::tuple{cRegp, true, "personal"}}) {
                if (regional == 0) continue;
                const PageAnswer page = stateListPage(data, ledger, personal, regional);
                if (page.status == 200 && !page.raw) lists.insert(QString::fromLatin1(key), page.lines.join(u'\n'));
            }
            auto reply = parseReply(QStringLiteral("setestado"), lists, std::nullopt);
            QString outcome;
            if (!reply) {
                outcome = QString::fromStdString(reply.error());
            } else if (auto sent = sendReply(*reply, smtp, to); !sent) {
                outcome = QString::fromStdString(sent.error());
            } else {
                outcome = QStringLiteral("sent to ") + to;
            }
            log.write(QStringLiteral("GETESTADO c_reg=%1 c_regp=%2 -> SETESTADO %3").arg(cReg).arg(cRegp).arg(outcome));
        };
    server.add(messageService(data, store, &ledger, answerStates));
    server.add(qevService(data, ledger));
    server.add(actualizaSegurService(data, ledger));
    server.add(bioQevService(data));
    server.mount(http);
    mountPages(http, data, ledger, log);
    if (cli.isSet(smtpOption)) mountReplyPage(http, cli.value(smtpOption), cli.value(toOption), ledger, log);

    std::printf("listening on %s\n", base.toUtf8().constData());
    std::fflush(stdout);
    return http.listen_after_bind() ? 0 : 1;
}
