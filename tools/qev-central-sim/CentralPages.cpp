#include "CentralPages.h"

#include "core/Settings.h"

#include <httplib.h>

namespace qev::sim {

namespace {

QString stateDescription(const QString& code) {
    if (code == QLatin1String("T")) return QStringLiteral("EN TRAMITE");
    if (code == QLatin1String("C")) return QStringLiteral("FINALIZADO");
    if (code == QLatin1String("R")) return QStringLiteral("RECHAZADO");
    return QStringLiteral("PENDIENTE");
}

// The request number a list line starts with, 0 when it has none.
int linePedido(const QString& line) {
    const qsizetype semi = line.indexOf(QLatin1Char(';'));
    return semi > 0 ? line.left(semi).trimmed().toInt() : 0;
}

// A list line in its parts: "P;S|E" (states) or "P;S|E,R" (results).
struct ListLine {
    int pedido = 0;
    QString estado;
    QString expediente;
    QString res;
};

ListLine parseLine(const QString& line) {
    ListLine l;
    l.pedido = linePedido(line);
    const QString rest = line.section(QLatin1Char(';'), 1);
    l.estado = rest.section(QLatin1Char('|'), 0, 0);
    const QString after = rest.section(QLatin1Char('|'), 1);
    l.expediente = after.section(QLatin1Char(','), 0, 0);
    l.res = after.section(QLatin1Char(','), 1);
    return l;
}

// The data file's lines with what this run changed of the same requests put over them (what the run did not
// change, such as a file number the data gives, stays), then the requests only this run knows.
QStringList merged(QStringList lines, const std::vector<RequestState>& known, bool results) {
    for (const RequestState& r : known) {
        ListLine l{r.pedido, {}, {}, {}};
        qsizetype at = -1;
        for (qsizetype i = 0; i < lines.size(); ++i)
            if (linePedido(lines[i]) == r.pedido) {
                at = i;
                l = parseLine(lines[i]);
            }
        if (!r.estado.isEmpty()) l.estado = r.estado;
        if (r.expediente > 0) l.expediente = QString::number(r.expediente);
        if (!r.res.isEmpty()) l.res = r.res;
        QString line = QStringLiteral("%1;%2|%3").arg(r.pedido).arg(l.estado, l.expediente);
        if (results) line += QLatin1Char(',') + l.res;
        if (at >= 0)
            lines[at] = line;
        else
            lines << line;
    }
    return lines;
}

AsmxOutcome misbehaving(const Misbehaviour& m) {
    AsmxOutcome o;
    o.fault = m.fault;
    o.httpStatus = m.httpStatus;
    o.delayMs = m.delayMs;
    return o;
}

void answer(const PageAnswer& page, httplib::Response& res) {
    res.status = page.status;
    if (page.status != 200) {
        res.set_content(
            QStringLiteral("<html><body><h1>Error %1</h1></body></html>\r\n").arg(page.status).toStdString(),
            "text/html");
        return;
    }
    QByteArray body;
    if (page.raw) {
        body = ansiBytes(*page.raw);
    } else {
        for (const QString& line : page.lines)
            body += ansiBytes(line) + "\r\n";
    }
    res.set_content(body.toStdString(), "text/plain; charset=windows-1252");
}

// A whole-number parameter; nothing when it is missing or not a number.
std::optional<int> intParam(const httplib::Request& req, const char* name) {
    if (!req.has_param(name)) return std::nullopt;
    bool ok = false;
    const int n = QString::fromStdString(req.get_param_value(name)).trimmed().toInt(&ok);
    return ok ? std::optional<int>(n) : std::nullopt;
}

void badRequest(httplib::Response& res, const char* why) {
    res.status = 400;
    res.set_content(std::string(why) + "\r\n", "text/plain; charset=windows-1252");
}

QString logAnswer(const PageAnswer& page) {
    if (page.status != 200) return QStringLiteral("http %1").arg(page.status);
    if (page.raw) return QStringLiteral("text \"%1\"").arg(page.raw->left(60));
    return QStringLiteral("%1 lines").arg(page.lines.size());
}

} // namespace

PageAnswer stateListPage(const SimData& data, const Ledger& ledger, bool personal, int regional) {
    PageAnswer page;
    QStringList lines;
    for (const StateLists& s : data.states) {
        if (s.regional != regional) continue;
        if (s.httpStatus != 0) return PageAnswer{s.httpStatus, {}, {}};
        if (s.text) return PageAnswer{200, {}, s.text};
        lines += personal ? s.personal : s.official;
    }
    std::vector<RequestState> known;
    for (const RequestState& r : ledger.requests())
        if (r.personal == personal && r.regional == regional && !r.estado.isEmpty()) known.push_back(r);
    page.lines = merged(lines, known, false);
    if (page.lines.isEmpty()) page.lines << QStringLiteral("NO_HAY_PEDIDOS");
    return page;
}

PageAnswer resultListPage(const SimData& data, const Ledger& ledger, int regional) {
    PageAnswer page;
    QStringList lines;
    for (const PageLines& p : data.results) {
        if (p.regional != regional) continue;
        if (p.httpStatus != 0) return PageAnswer{p.httpStatus, {}, {}};
        if (p.text) return PageAnswer{200, {}, p.text};
        lines += p.lines;
    }
    std::vector<RequestState> known;
    for (const RequestState& r : ledger.requests())
        if (r.personal && r.regional == regional && !r.estado.isEmpty()) known.push_back(r);
    page.lines = merged(lines, known, true);
    if (page.lines.isEmpty()) page.lines << QStringLiteral("NO_HAY_PEDIDOS");
    return page;
}

PageAnswer vorlundPage(const SimData& data, const Ledger& ledger, const QString& tram, int pedido, int regional) {
    for (const VorlundEntry& v : data.vorlund)
        if (v.tram == tram) return PageAnswer{200, v.lines, {}};
    // A file number the central office gave in this run: "U" official, "W" personal, then the number.
    const bool personal = tram.startsWith(QLatin1Char('W'));
    if ((personal || tram.startsWith(QLatin1Char('U'))) && tram.size() > 1) {
        const int expediente = tram.mid(1).toInt();
        const std::optional<RequestState> r = ledger.request(personal, pedido, regional);
        if (r && expediente > 0 && r->expediente == expediente)
            return PageAnswer{200,
                              {QStringLiteral("TRAMITE=") + tram,
                               QStringLiteral("ESTADO=") + stateDescription(r->estado),
                               QStringLiteral("OFICINA=MESA DE ENTRADAS QEV CENTRAL")},
                              {}};
    }
    return PageAnswer{200, {QStringLiteral("ERROR=Trámite %1 desconocido").arg(tram)}, {}};
}

void mountPages(httplib::Server& http, const SimData& data, const Ledger& ledger, CallLog& log) {
    struct List {
        const char* path;
        int which; // 0 official states, 1 personal states, 2 results
    };
    for (const List& list : {List{"/GetEstReg.asp", 0}, List{"/GetEstRegp.asp", 1}, List{"/GetEstResP.asp", 2}}) {
        std::string pattern;
        for (const char* c = list.path; *c; ++c) {
            if (*c == '.') pattern += '\\';
            pattern += *c;
        }
        const List l = list;
        http.Get(pattern, [&data, &ledger, &log, l](const httplib::Request& req, httplib::Response& res) {
            const std::optional<int> reg = intParam(req, "reg");
            if (!reg) {
                log.write(QString::fromLatin1(l.path) + QStringLiteral(" -> http 400 (reg)"));
                return badRequest(res, "Falta el parametro reg o no es un numero");
            }
            const PageAnswer page =
                l.which == 2 ? resultListPage(data, ledger, *reg) : stateListPage(data, ledger, l.which == 1, *reg);
            log.write(QString::fromLatin1(l.path) + QStringLiteral(" reg=%1 -> ").arg(*reg) + logAnswer(page));
            answer(page, res);
        });
    }
    http.Get("/EstadoVorlund\\.asp", [&data, &ledger, &log](const httplib::Request& req, httplib::Response& res) {
        const QString tram = QString::fromStdString(req.get_param_value("tram"));
        const std::optional<int> pedido = intParam(req, "pedqev");
        const std::optional<int> regional = intParam(req, "regqev");
        if (tram.isEmpty() || !pedido || !regional) {
            log.write(QStringLiteral("/EstadoVorlund.asp -> http 400"));
            return badRequest(res, "Faltan los parametros tram, pedqev y regqev");
        }
        const PageAnswer page = vorlundPage(data, ledger, tram, *pedido, *regional);
        log.write(
            QStringLiteral("/EstadoVorlund.asp tram=%1 pedqev=%2 regqev=%3 -> ").arg(tram).arg(*pedido).arg(*regional) +
            logAnswer(page));
        answer(page, res);
    });
}

AsmxService qevService(const SimData& data, const Ledger& ledger) {
    AsmxService s{QStringLiteral("QEVService"), QStringLiteral("/QEVSVC/QEVService.asmx"), {}};
    for (const bool personal : {false, true}) {
        const QString name =
            personal ? QStringLiteral("ObtenerMotivoRechazoPrivado") : QStringLiteral("ObtenerMotivoRechazoOficial");
        s.operations.push_back({name,
                                {{QStringLiteral("c_ped"), ParamType::Int}, {QStringLiteral("c_reg"), ParamType::Int}},
                                [&data, &ledger, personal, name](const AsmxArgs& args) {
                                    const int cPed = static_cast<int>(args.number(QStringLiteral("c_ped")));
                                    const int cReg = static_cast<int>(args.number(QStringLiteral("c_reg")));
                                    AsmxOutcome o;
                                    QString motivo;
                                    for (const Rejection& r : data.rejections)
                                        if (r.personal == personal && r.cPed == cPed && r.cReg == cReg) {
                                            o = misbehaving(r.misbehaviour);
                                            motivo = r.motivo;
                                        }
                                    // A rejection sent in this run gives its own reason.
                                    if (const auto known = ledger.request(personal, cPed, cReg);
                                        known && !known->motivo.isEmpty())
                                        motivo = known->motivo;
                                    o.outputs.push_back({name + QStringLiteral("Result"), motivo});
                                    return o;
                                }});
    }
    return s;
}

AsmxService actualizaSegurService(const SimData& data, Ledger& ledger) {
    AsmxService s{QStringLiteral("ActualizaSegur"), QStringLiteral("/ActualizaSegurSVC/ActualizaSegur.asmx"), {}};
    s.operations.push_back(
        {QStringLiteral("ActualizarCodSegur"),
         {{QStringLiteral("c_pedqev"), ParamType::Int},
          {QStringLiteral("c_regqev"), ParamType::Int},
          {QStringLiteral("c_segur_actual"), ParamType::String},
          {QStringLiteral("c_segur_nuevo"), ParamType::String}},
         [&data, &ledger](const AsmxArgs& args) {
             const int cPed = static_cast<int>(args.number(QStringLiteral("c_pedqev")));
             const int cReg = static_cast<int>(args.number(QStringLiteral("c_regqev")));
             const QString actual = args.string(QStringLiteral("c_segur_actual")).value_or(QString()).trimmed();
             const QString nuevo = args.string(QStringLiteral("c_segur_nuevo")).value_or(QString()).trimmed();
             AsmxOutcome o;
             QString held;
             for (const SecurityCode& c : data.security)
                 if (c.cPed == cPed && c.cReg == cReg) {
                     o = misbehaving(c.misbehaviour);
                     held = c.code;
                 }
             if (const auto known = ledger.request(true, cPed, cReg); known && !known->segur.isEmpty())
                 held = known->segur;
             if (o.fault || o.httpStatus) return o;
             const bool accepted = cPed > 0 && cReg > 0 && !nuevo.isEmpty() && (held.isEmpty() || held == actual);
             if (accepted) {
                 CentralEvent e;
                 e.ms = nowMs();
                 e.personal = true;
                 e.pedido = cPed;
                 e.regional = cReg;
                 e.segur = nuevo;
                 ledger.record(e);
             }
             o.outputs.push_back({QStringLiteral("ActualizarCodSegurResult"), QString::number(accepted ? 1 : 0)});
             return o;
         }});
    return s;
}

} // namespace qev::sim
