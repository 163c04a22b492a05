#include "requests/InternetRetrieval.h"

#include "core/Dataset.h"
#include "requests/PedBol.h"
#include "requests/PersonalRequestRules.h"
#include "requests/RequestDataText.h"
#include "requests/RequestHost.h"
#include "requests/SlipLookups.h"
#include "requests/SlipService.h"
#include "util/Prompter.h"

#include "dbf/Codepage.h"

#include <cmath>

namespace qev {

using dbf::Value;

namespace {

// The item → field copies, made only into fields that are still empty.
const std::pair<const char*, const char*> kCopies[] = {
    {"c_expp", "C_EXPP"},
    {"c_sexo", "C_SEXO"},
    {"c_pais", "C_NAC"},
    {"x_ape1", "X_APE1"},
    {"x_ape2", "X_APE2"},
    {"x_oape", "X_OAPE"},
    {"x_nom1", "X_NOM1"},
    {"x_nom2", "X_NOM2"},
    {"x_nom3", "X_NOM3"},
    {"n_doc", "N_DOC"},
    {"f_nac", "F_NAC"},
    {"x_nom1p", "X_NOMPADR1"},
    {"x_nom2p", "X_NOMPADR2"},
    {"x_nom3p", "X_NOMPADR3"},
    {"x_ape1m", "X_APEMADR1"},
    {"x_ape2m", "X_APEMADR2"},
    {"x_nom1m", "X_NOMMADR1"},
    {"x_nom2m", "X_NOMMADR2"},
    {"x_nom3m", "X_NOMMADR3"},
    {"x_direc_solic", "X_DOM_S"},
    {"x_loc", "X_LOC_S"},
    {"c_prov_solic", "C_PROV_S"},
    {"c_codpos_solic", "C_CODPOS_S"},
};

// The value the field would hold, or nothing when the field cannot take the text (wrong type, too long, a number
// wider than the field, characters the table's code page lacks).
std::optional<Value> fieldValue(const dbf::FieldDef& def, const QString& text) {
    const QString t = text.trimmed();
    switch (def.type) {
    case 'C': {
        std::string bytes;
        if (!dbf::Codepage::byName("cp1252").fromUtf8(text.toStdString(), bytes) ||
            bytes.size() > static_cast<size_t>(def.length))
            return std::nullopt;
        return Value(text.toStdString());
    }
    case 'N':
    case 'F': {
        bool ok = false;
        const double d = QString(t).replace(QLatin1Char(','), QLatin1Char('.')).toDouble(&ok);
        if (!ok || !std::isfinite(d)) return std::nullopt;
        if (QString::number(d, 'f', def.decimals).size() > def.length) return std::nullopt;
        return Value(d);
    }
    case 'D': {
        // The central office may write a time of day after the date.
        const auto dt = parseCentralDateTime(t);
        if (!dt) return std::nullopt;
        return Value(dt->date);
    }
    default:
        return std::nullopt;
    }
}

} // namespace

InternetRetrieval::Outcome InternetRetrieval::consultar(const QString& boletaText, const QString& documentText) {
    Prompter& prompter = m_host.prompter();
    // The slip edit is an upper-case edit: codes typed in lower case are the same codes.
    const QString boleta = boletaText.trimmed().toUpper();
    if (boleta.isEmpty()) {
        prompter.inform(QStringLiteral("Debe indicar el código de boleta "));
        return Outcome::Refused;
    }
    if (boleta.size() != 11) {
        prompter.inform(QStringLiteral("El código de boleta debe contener 11 caracteres"));
        return Outcome::Refused;
    }
    bool ok = false;
    int document = documentText.trimmed().toInt(&ok);
    if (!ok) document = 0;
    if (document == 0) {
        prompter.inform(QStringLiteral("Debe indicar el número de documento (Debe ser del tipo numérico)"));
        return Outcome::Refused;
    }
    SlipService* service = m_slips.service();
    int number = 0;
    {
        BusyScope busy(prompter);
        auto r = service ? service->pedidoByBoletaDoc(boleta, document) : Result<int>(fail("sin servicio"));
        if (!r) {
            m_slips.reportFailure("GetPedidoByBoletaDoc", r.error());
            prompter.error(QStringLiteral("ERROR al intentar obtener el código del trámite."), QStringLiteral("Error"));
            return Outcome::Refused;
        }
        number = *r;
    }
    if (number <= 0) {
        prompter.inform(QStringLiteral("No se pudo recuperar ningún código de trámite con los datos indicados"));
        return Outcome::Refused;
    }
    QString data;
    {
        BusyScope busy(prompter);
        auto r = service->pedidoByTram(QStringLiteral("I"), number, document, QString());
        if (!r) {
            m_slips.reportFailure("GetPedidoByTram", r.error());
            prompter.error(QStringLiteral("ERROR al intentar obtener los datos del trámite."), QStringLiteral("Error"));
            return Outcome::Refused;
        }
        data = r->result;
    }
    const RequestDataText items(data);
    Dataset& pedp = *m_host.table(QStringLiteral("pedp"));
    if (!items.hasData() || pedp.editing() || !pedp.insert()) {
        prompter.inform(QStringLiteral("No se pudo recuperar ningún trámite con los datos indicados"));
        return Outcome::Refused;
    }

    const QString docKind = items.text(QStringLiteral("c_tdoc")).trimmed();
    if (!docKind.isEmpty()) {
        Dataset& tdoc = *m_host.table(QStringLiteral("tdoc"));
        for (int row = 0; row < tdoc.rowCount(); ++row)
            if (tdoc.textAt(row, QStringLiteral("C_EXPORT")).trimmed().compare(docKind, Qt::CaseInsensitive) == 0) {
                pedp.setValue(QStringLiteral("C_TDOC"), tdoc.valueAt(row, QStringLiteral("C_TDOC")));
                break;
            }
    }
    for (const auto& [item, field] : kCopies) {
        const QString name = QString::fromLatin1(field);
        const QString v = items.text(QString::fromLatin1(item));
        const dbf::FieldDef* def = pedp.fieldDef(name);
        if (v.isEmpty() || !def || !pedp.isNull(name)) continue;
        if (auto value = fieldValue(*def, v)) pedp.setValue(name, *value);
    }
    pedp.setValue(QStringLiteral("C_PAGO"), Value(boleta.toStdString()));
    (void)m_rules.AplicarCodigoBoleta(boleta);
    m_host.setSavePermission(true);
    if (!pedp.post()) {
        m_host.setSavePermission(false);
        return Outcome::Unsaved;
    }
    return Outcome::Saved;
}

} // namespace qev
