#include "SendCommand.h"

#include "QevDb.h"
#include "core/Dataset.h"
#include "dm/Tdm.h"
#include "dm/ReceptionOutput.h"
#include "exchange/MailReception.h"
#include "exchange/TSMime.h"
#include "util/Clock.h"
#include "util/Prompter.h"

#include <QDir>

namespace qev::tools {

namespace {

// Every message goes to standard error; every question is answered the same way.
class TerminalPrompter final : public Prompter {
public:
    TerminalPrompter(QTextStream& err, bool yes) : m_err(err), m_yes(yes) {}
    void inform(const QString& text, const QString& caption) override { say(caption, text); }
    void warn(const QString& text, const QString& caption) override { say(caption, text); }
    void error(const QString& text, const QString& caption) override { say(caption, text); }
    bool confirm(const QString& text, const QString& caption) override {
        say(caption, text);
        m_err << (m_yes ? "  -> Sí\n" : "  -> No\n");
        m_err.flush();
        return m_yes;
    }
    bool input(const QString& text, const QString& caption, QString&) override {
        say(caption, text);
        m_err << "  -> cancelado\n";
        return false;
    }
    void setBusy(bool) override {}

private:
    void say(const QString& caption, const QString& text) {
        if (!caption.isEmpty()) m_err << caption << ": ";
        m_err << displayText(text) << "\n";
        m_err.flush();
    }
    QTextStream& m_err;
    bool m_yes;
};

} // namespace

int sendCommand(const QStringList& args, QTextStream& out, QTextStream& err) {
    const QString usage = QStringLiteral("uso: qevdb enviar CARPETA --oficial|--personal C_PED [--si]");
    QStringList positional;
    bool official = false;
    bool personal = false;
    bool yes = false;
    for (const QString& a : args) {
        if (a == QLatin1String("--oficial"))
            official = true;
        else if (a == QLatin1String("--personal"))
            personal = true;
        else if (a == QLatin1String("--si"))
            yes = true;
        else if (a.startsWith(QLatin1String("--"))) {
            err << usage << "\n";
            return kExitUsage;
        } else
            positional << a;
    }
    bool numberOk = false;
    const double number = positional.value(1).toDouble(&numberOk);
    if (positional.size() != 2 || official == personal || !numberOk) {
        err << usage << "\n";
        return kExitUsage;
    }
    const QString folder = positional[0];
    if (!QDir(folder).exists()) {
        err << "No existe la carpeta " << folder << "\n";
        return kExitFailed;
    }
    TerminalPrompter prompter(err, yes);
    SystemClock clock;
    Tdm dm(AppDir(folder), prompter, clock);
    if (!dm.openForCommand()) {
        err << "No se pudieron preparar las tablas de la carpeta " << folder << "\n";
        return kExitFailed;
    }
    Dataset& ds = official ? dm.ped() : dm.pedp();
    if (!ds.locate(QStringLiteral("C_PED"), dbf::Value(number))) {
        err << "No existe el pedido " << (official ? "oficial " : "personal ") << positional[1] << "\n";
        return kExitFailed;
    }
    bool sent = false;
    if (official)
        sent = dm.EnviarPedidoOficial();
    else if (ds.text(QStringLiteral("C_EST")) == QLatin1String("D"))
        sent = dm.EnviarCorreccionPersonal();
    else
        sent = dm.EnviarPedidoPersonal();
    // A send that does not wait still logs its line before the program ends.
    dm.sender().waitForSends();
    for (const QString& line : dm.sendLog().lines())
        err << line << "\n";
    if (sent) out << "Pedido " << positional[1] << " enviado\n";
    return sent ? kExitOk : kExitFailed;
}

int receiveCommand(const QStringList& args, QTextStream& out, QTextStream& err) {
    if (args.size() != 1 || args[0].startsWith(QLatin1String("--"))) {
        err << "uso: qevdb recibir CARPETA\n";
        return kExitUsage;
    }
    const QString folder = args[0];
    if (!QDir(folder).exists()) {
        err << "No existe la carpeta " << folder << "\n";
        return kExitFailed;
    }
    TerminalPrompter prompter(err, false);
    SystemClock clock;
    Tdm dm(AppDir(folder), prompter, clock);
    if (!dm.openForCommand()) {
        err << "No se pudieron preparar las tablas de la carpeta " << folder << "\n";
        return kExitFailed;
    }
    // What the windows would show goes to standard error, and into the folder's activity and state logs.
    dm.folderViews().echo = [&err](const QString& line) {
        err << displayText(line) << "\n";
        err.flush();
    };
    MailReception& reception = dm.mailReception();
    reception.RecibirPop3();
    const MailReception::Counters& c = reception.last();
    out << "Procesados: " << c.processed << " - No procesados: " << c.notProcessed << " - Reenviados: " << c.forwarded
        << "\n";
    return c.failed ? kExitFailed : kExitOk;
}

} // namespace qev::tools
