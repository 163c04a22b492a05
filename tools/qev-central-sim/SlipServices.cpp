#include "SlipServices.h"

namespace qev::sim {

namespace {

// The misbehaviour of an entry, or nothing to add when it has none.
AsmxOutcome misbehaving(const Misbehaviour& m) {
    AsmxOutcome o;
    o.fault = m.fault;
    o.httpStatus = m.httpStatus;
    o.delayMs = m.delayMs;
    return o;
}

} // namespace

AsmxService boletaService(const SimData& data) {
    AsmxService s{QStringLiteral("Service"), QStringLiteral("/boletasvc/service.asmx"), {}};
    s.operations.push_back(
        {QStringLiteral("GetPedidoByBoletaDoc"),
         {{QStringLiteral("c_boleta"), ParamType::String}, {QStringLiteral("n_doc"), ParamType::Int}},
         [&data](const AsmxArgs& args) {
             const Slip* slip = data.slip(args.string(QStringLiteral("c_boleta")).value_or(QString()));
             AsmxOutcome o = slip ? misbehaving(slip->misbehaviour) : AsmxOutcome{};
             const bool match = slip && slip->nDoc == args.number(QStringLiteral("n_doc"));
             o.outputs.push_back(
                 {QStringLiteral("GetPedidoByBoletaDocResult"), QString::number(match ? slip->pedido : 0)});
             return o;
         }});
    s.operations.push_back({QStringLiteral("GetFechaByBoleta"),
                            {{QStringLiteral("c_boleta"), ParamType::String}},
                            [&data](const AsmxArgs& args) {
                                const Slip* slip =
                                    data.slip(args.string(QStringLiteral("c_boleta")).value_or(QString()));
                                AsmxOutcome o = slip ? misbehaving(slip->misbehaviour) : AsmxOutcome{};
                                o.outputs.push_back({QStringLiteral("GetFechaByBoletaResult"),
                                                     slip ? slip->fecha : std::optional<QString>()});
                                return o;
                            }});
    return s;
}

AsmxService tramService(const SimData& data) {
    AsmxService s{QStringLiteral("TramPer"), QStringLiteral("/trampersvc/tramper.asmx"), {}};
    s.operations.push_back(
        {QStringLiteral("GetPedidoByTram"),
         {{QStringLiteral("c_tped"), ParamType::String},
          {QStringLiteral("c_pedido"), ParamType::Int},
          {QStringLiteral("n_doc"), ParamType::Int},
          {QStringLiteral("in_errorDesc"), ParamType::String}},
         [&data](const AsmxArgs& args) {
             const InternetRequest* r = data.request(args.string(QStringLiteral("c_tped")).value_or(QString()),
                                                     static_cast<int>(args.number(QStringLiteral("c_pedido"))),
                                                     static_cast<int>(args.number(QStringLiteral("n_doc"))));
             AsmxOutcome o = r ? misbehaving(r->misbehaviour) : AsmxOutcome{};
             o.outputs.push_back({QStringLiteral("GetPedidoByTramResult"), r ? r->text : std::optional<QString>()});
             o.outputs.push_back({QStringLiteral("errorDesc"), r ? r->errorDesc : QString::fromUtf8(kUnknownRequest)});
             return o;
         }});
    return s;
}

} // namespace qev::sim
