// qev-central-sim: QEV Central's web services on a loopback address, answered from a JSON data file, for trying
// the program and for its tests. Prints "listening on http://HOST:PORT/" once it accepts calls.
#include "AsmxServer.h"
#include "MessageService.h"
#include "SimData.h"
#include "SlipServices.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <httplib.h>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qev-central-sim"));
    QCommandLineParser cli;
    cli.setApplicationDescription(QStringLiteral("QEV Central's web services, simulated from a data file."));
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
    cli.addOptions({hostOption, portOption, dataOption, logOption, nsOption, storeOption});
    cli.process(app);

    auto error = [](const std::string& text) {
        std::fprintf(stderr, "qev-central-sim: %s\n", text.c_str());
        return 2;
    };
    qev::sim::SimData data;
    if (cli.isSet(dataOption)) {
        auto loaded = qev::sim::loadSimData(cli.value(dataOption));
        if (!loaded) return error(loaded.error());
        data = std::move(*loaded);
    }
    bool portOk = false;
    const int wantedPort = cli.value(portOption).toInt(&portOk);
    if (!portOk || wantedPort < 0 || wantedPort > 65535) return error("the port must be a number from 0 to 65535");
    std::FILE* logFile = stderr;
    if (cli.isSet(logOption)) {
        logFile = std::fopen(cli.value(logOption).toLocal8Bit().constData(), "a");
        if (!logFile) return error("cannot open the log file " + cli.value(logOption).toStdString());
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
    if (port <= 0) return error("cannot listen on " + host + ":" + std::to_string(wantedPort));

    const QString hostText = cli.value(hostOption).contains(QLatin1Char(':'))
                                 ? QLatin1Char('[') + cli.value(hostOption) + QLatin1Char(']')
                                 : cli.value(hostOption);
    const QString base = QStringLiteral("http://%1:%2/").arg(hostText).arg(port);
    qev::sim::CallLog log(logFile);
    qev::sim::AsmxServer server(cli.isSet(nsOption) ? cli.value(nsOption) : base, log);
    server.add(qev::sim::boletaService(data));
    server.add(qev::sim::tramService(data));
    server.add(qev::sim::messageService(data, cli.value(storeOption)));
    server.mount(http);

    std::printf("listening on %s\n", base.toUtf8().constData());
    std::fflush(stdout);
    return http.listen_after_bind() ? 0 : 1;
}
