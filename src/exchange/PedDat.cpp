#include "exchange/PedDat.h"

#include "core/Dataset.h"
#include "core/Settings.h"

#include <QSet>

#include <cmath>

namespace qev {

namespace {

QStringList words(const char* text) {
    return QString::fromLatin1(text).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

// Fields never written as a line of their own: blobs and memos by type, the article-51 flag under its own key.
bool skippedType(const dbf::FieldDef* def) {
    return def && (def->type == 'B' || def->type == 'M' || def->type == 'G');
}

bool isArt51(const QString& name) {
    const QString n = name.toLower();
    return n == QLatin1String("m_exc_art51") || n == QLatin1String("m_excart51");
}

// One line per field: the declared order first, then any stored field the declared order does not know (a table
// of a newer layout), in the file's order.
void fieldLines(const Dataset& ds, const QStringList& declared, const QSet<QString>& skipped, QStringList& out) {
    auto add = [&](const QString& name) {
        if (isArt51(name) || skipped.contains(name.toLower())) return;
        const dbf::FieldDef* def = ds.fieldDef(name);
        if (skippedType(def)) return;
        const dbf::Value v = ds.value(name);
        if (v.isBytes()) return;
        out << name.toLower() + QLatin1Char('=') + pedDatValue(v);
    };
    QSet<QString> seen;
    for (const QString& name : declared) {
        seen.insert(name.toLower());
        if (ds.hasField(name) || ds.isLookupField(name) || ds.isCalcField(name)) add(name);
    }
    for (const dbf::FieldDef& def : ds.fields()) {
        const QString name = QString::fromStdString(def.name);
        if (!seen.contains(name.toLower())) add(name);
    }
}

} // namespace

const QStringList& officialDeclaredFields() {
    static const QStringList fields = words(
        "C_PED C_SEXO C_TDOC C_NAC C_PROV C_ORG F_PED X_SEC X_DOM C_CODPOS X_LOC X_DELITO N_PRONT X_APE1 X_APE2 "
        "X_NOM1 X_NOM2 X_NOM3 F_NAC N_EDAD N_DOC C_PROVCI X_NOMPADR1 X_NOMPADR2 X_NOMPADR3 X_APEMADR1 X_APEMADR2 "
        "X_NOMMADR1 X_NOMMADR2 X_NOMMADR3 M_ENVIADO M_CONTESTA X_OBS B_HUELLA C_REG B_RESP N_EXPE F_CON C_PRIOR "
        "N_CAUSA C_EST C_TDEL C_CARPED X_EXPP c_clasder c_clasizq M_EXCART51 M_TOMA_KRB M_ESPECIAL M_MENOR X_RECHAZO "
        "C_VERSION");
    return fields;
}

const QStringList& personalDeclaredFields() {
    static const QStringList fields = words(
        "C_PED C_SEXO C_TDOC C_NAC C_PROV_S F_PED X_DOM_S C_CODPOS_S X_LOC_S X_APE1 X_APE2 X_NOM1 X_NOM2 X_NOM3 "
        "F_NAC N_DOC X_NOMPADR1 X_NOMPADR2 X_NOMPADR3 X_APEMADR1 X_APEMADR2 X_NOMMADR1 X_NOMMADR2 X_NOMMADR3 X_OBS "
        "C_REG N_EXPE C_EST C_RECHAZO N_CERT C_PRIOR F_CON C_EXPP C_TPED C_RES N_RECIBO_E N_RECIBO_M C_BANCO "
        "c_pedido x_nac x_tdoc x_expp X_PRIOR X_SEXO C_PREFIJO C_SUFIJO C_TRAM C_LOGIN X_OAPE c_clasder c_clasizq "
        "M_EXCART51 X_RECHAZO F_PAGO C_PAGO C_PAGO_DOMIC C_SEGUR X_TRAM VERIF_ID F_CAPTURA C_VERSION x_est");
    return fields;
}

QString pedDatValue(const dbf::Value& v) {
    if (v.isDouble()) {
        const double n = v.number();
        if (std::isfinite(n) && std::abs(n) < 1e15 && n == std::floor(n))
            return QString::number(static_cast<qint64>(n));
        return QString::number(n, 'g', QLocale::FloatingPointShortest);
    }
    return valueText(v);
}

QStringList pedDatOficialLines(const Dataset& ped, const Dataset& sup, const Dataset& org) {
    QStringList out{QStringLiteral("[DATA]")};
    fieldLines(ped, officialDeclaredFields(), {QStringLiteral("m_toma_krb")}, out);
    out << QStringLiteral("m_exc_art51=") + pedDatValue(ped.value(QStringLiteral("M_EXCART51")));
    out << QStringLiteral("m_tomada_krb=") + pedDatValue(ped.value(QStringLiteral("M_TOMA_KRB")));
    const dbf::Value orgCode = ped.value(QStringLiteral("C_ORG"));
    if (!orgCode.isNull()) {
        const dbf::Value name = org.lookupValue(QStringLiteral("C_ORG"), orgCode, QStringLiteral("X_ORG"));
        // The organisation is found when its row exists, whatever its name holds.
        const dbf::Value found = org.lookupValue(QStringLiteral("C_ORG"), orgCode, QStringLiteral("C_ORG"));
        if (!found.isNull()) out << QStringLiteral("x_org=") + pedDatValue(name);
    }
    for (int row = 0; row < sup.rowCount(); ++row) {
        out << QStringLiteral("[SUP%1]").arg(row + 1);
        for (const dbf::FieldDef& def : sup.fields()) {
            if (skippedType(&def)) continue;
            const QString name = QString::fromStdString(def.name);
            out << name.toLower() + QLatin1Char('=') + pedDatValue(sup.valueAt(row, name));
        }
    }
    return out;
}

QStringList pedDatPersonalLines(const Dataset& pedp, const NetworkIdentity& id) {
    QStringList out{QStringLiteral("[DATA]")};
    fieldLines(pedp, personalDeclaredFields(), {}, out);
    out << QStringLiteral("m_exc_art51=") + pedDatValue(pedp.value(QStringLiteral("M_EXCART51")));
    out << QStringLiteral("MAC=") + id.mac << QStringLiteral("IP=") + id.ip << QStringLiteral("Host=") + id.host;
    return out;
}

QByteArray pedDatBytes(const QStringList& lines) {
    QByteArray out;
    for (const QString& line : lines) {
        out += ansiBytes(line);
        out += "\r\n";
    }
    return out;
}

} // namespace qev
