#include "requests/PersonalRequestRules.h"

#include "core/Dataset.h"
#include "core/Records.h"
#include "core/Settings.h"
#include "requests/OfficialRequestRules.h"
#include "requests/SlipLookups.h"
#include "requests/WorkFiles.h"
#include "util/Clock.h"
#include "util/Prompter.h"

#include <QRandomGenerator>
#include <QUuid>

namespace qev {

using dbf::Value;

namespace {

const QString kExempt = QStringLiteral("6");

} // namespace

QString GenerarCodigoSeguridad(int length) {
    QString digits = QUuid::createUuid().toString(QUuid::WithBraces).toUpper();
    digits.remove(QLatin1Char('"')).remove(QLatin1Char('-')).remove(QLatin1Char('{')).remove(QLatin1Char('}'));
    length = std::clamp(length, 0, static_cast<int>(digits.size()));
    // Start positions 0 .. 32 - length - 1, each equally likely.
    const int span = static_cast<int>(digits.size()) - length;
    const int start = span > 0 ? static_cast<int>(QRandomGenerator::global()->bounded(span)) : 0;
    return digits.mid(start, length);
}

PersonalRequestRules::PersonalRequestRules(RequestHost& host, SlipLookups& slips, QObject* parent)
    : QObject(parent), m_host(host), m_slips(slips) {}

Dataset& PersonalRequestRules::pedp() const {
    return *m_host.table(QStringLiteral("pedp"));
}

void PersonalRequestRules::install() {
    Dataset& p = pedp();
    auto clear = [this](Dataset&) {
        deleteRequestWorkFiles(m_host.appDir());
        return true;
    };
    p.onNewRecord = [this](Dataset& ds) { pedpNewRecord(ds); };
    p.beforeEdit = clear;
    p.beforeInsert = clear;
    // The captures leave the folder only once the row of their request is stored.
    p.afterPost = [clear](Dataset& ds) { (void)clear(ds); };
    p.afterEdit = [this](Dataset& ds) { pedpAfterEdit(ds); };
    p.onFieldChange(QStringLiteral("C_TRAM"), [this](Dataset& ds) { pedpC_TRAMChange(ds); });
    p.onCalcFields = [this](Dataset& ds) { pedpCalcFields(ds); };
    p.beforePost = [this](Dataset& ds) { return pedpBeforePost(ds); };
    p.beforeDelete = [this](Dataset& ds) { return pedpBeforeDelete(ds); };
}

void PersonalRequestRules::pedpNewRecord(Dataset& p) {
    p.setValue(QStringLiteral("F_PED"), fromQDate(m_host.clock().today()));
    p.setText(QStringLiteral("C_REG"), m_host.settings().read(QStringLiteral("c_regp")));
    p.setNull(QStringLiteral("F_NAC"));
    p.setValue(QStringLiteral("M_EXCART51"), Value(false));
    setClassificationDefaults(p);
}

void PersonalRequestRules::pedpAfterEdit(Dataset& p) {
    setClassificationDefaults(p);
}

void PersonalRequestRules::pedpC_TRAMChange(Dataset& p) {
    if (!p.editing()) return;
    const Value kind = p.value(QStringLiteral("C_TRAM"));
    Dataset& tram = *m_host.table(QStringLiteral("tram"));
    const Value prior =
        kind.isNull() ? Value() : tram.lookupValue(QStringLiteral("C_TRAM"), kind, QStringLiteral("C_PRIOR"));
    p.setText(QStringLiteral("C_PRIOR"), toQString(prior).trimmed());
}

void PersonalRequestRules::pedpCalcFields(Dataset& p) {
    const Value expe = p.value(QStringLiteral("N_EXPE"));
    QString code = QStringLiteral("W");
    if (expe.isNumber()) code += QString::number(static_cast<qlonglong>(expe.number()));
    p.setCalcValue(QStringLiteral("c_pedido"), Value(code.toStdString()));
}

bool PersonalRequestRules::fileWorkFiles(Dataset& p) {
    struct Filing {
        const char* workFile;
        QChar kind;
        bool (RequestHost::*check)(const QString&);
    };
    static const Filing filings[] = {
        {kCardWorkFile, QLatin1Char('h'), &RequestHost::ValidarImagenHuella},
        {kLivescanWorkFile, QLatin1Char('z'), nullptr},
        {kDocumentsWorkFile, QLatin1Char('d'), &RequestHost::ValidarImagenDocumento},
    };
    for (const Filing& f : filings) {
        if (!workFileExists(m_host.appDir(), f.workFile)) continue;
        if (f.check && !(m_host.*f.check)(QString::fromLatin1(f.workFile))) return false;
        if (!fileWorkFile(m_host, p, f.workFile, f.kind)) return false;
    }
    return true;
}

bool PersonalRequestRules::pedpBeforePost(Dataset& p) {
    Prompter& prompter = m_host.prompter();
    p.setValue(QStringLiteral("C_VERSION"), Value(m_host.versionText().toStdString()));
    if (!m_host.liveScan()) p.setValue(QStringLiteral("C_LOGIN"), Value(m_host.loggedUser().toStdString()));
    const QString kind = toQString(p.value(QStringLiteral("C_TRAM")));
    if (m_host.homeService() && kind != kExempt && toQString(p.value(QStringLiteral("C_PAGO_DOMIC"))).isEmpty()) {
        prompter.error(QStringLiteral("ERROR: En los pedidos domiciliarios que no sean exentos, se debe cargar el "
                                      "código del pago domiciliario"),
                       QStringLiteral("Error"));
        return false;
    }
    if (!m_host.checkSavePermission()) return false;
    for (const QString& f : requestNameFields())
        p.setValue(f, normaliseBlanks(p.value(f)));
    if (p.state() == Dataset::State::Insert && p.isNull(QStringLiteral("C_PED"))) {
        const double n = m_host.nextNumber(QStringLiteral("pedp"));
        if (n <= 0) return false;
        p.setValue(QStringLiteral("C_PED"), Value(n));
        p.setValue(QStringLiteral("C_EST"), Value("I"));
    }
    if (!fileWorkFiles(p)) return false;
    if (toQString(p.value(QStringLiteral("C_EST"))) == QStringLiteral("D")) p.setNull(QStringLiteral("F_CON"));
    if (p.isNull(QStringLiteral("C_SEGUR")))
        p.setValue(QStringLiteral("C_SEGUR"), Value(GenerarCodigoSeguridad(10).toStdString()));
    const QString pago = toQString(p.value(QStringLiteral("C_PAGO"))).trimmed();
    if (!pago.isEmpty() && pago.mid(1, 1) != kind && personalWindowVisible && personalWindowVisible()) {
        prompter.error(QStringLiteral("ERROR: El tipo de trámite no corresponde con el tipo indicado en la Boleta"),
                       QStringLiteral("Error"));
        return false;
    }
    return true;
}

bool PersonalRequestRules::pedpBeforeDelete(Dataset& p) {
    return confirmRequestDeletion(m_host, p);
}

bool PersonalRequestRules::ValidarPedidoPersonal() {
    Dataset& p = pedp();
    Prompter& prompter = m_host.prompter();
    const QString kind = toQString(p.value(QStringLiteral("C_TRAM")));
    const Value prior = p.value(QStringLiteral("C_PRIOR"));
    if (kind == kExempt && !(prior.isNumber() && prior.number() == 3)) {
        prompter.inform(QStringLiteral("Los exentos deben tener prioridad 5 Dias."));
        return false;
    }
    // No exception for minors when sending.
    if (!birthDateAccepted(prompter, toQDate(p.value(QStringLiteral("F_NAC"))), m_host.clock().today(), false))
        return false;
    static const std::pair<const char*, const char*> required[] = {
        {"C_TDOC", "Tipo de Documento"},  {"C_SEXO", "Sexo"},
        {"C_NAC", "Nacionalidad"},        {"F_PED", "Fecha del Pedido"},
        {"X_APE1", "Apellido"},           {"X_NOM1", "Nombre"},
        {"N_DOC", "Número de Documento"}, {"F_NAC", "Fecha de Nacimiento"},
        {"C_PRIOR", "Prioridad"},         {"C_TRAM", "Tipo de Trámite"},
    };
    for (const auto& [field, label] : required)
        if (requiredFieldMissing(prompter, p.value(QString::fromLatin1(field)), QString::fromUtf8(label))) return false;
    Settings& settings = m_host.settings();
    if (settings.onlyIfS(QStringLiteral("m_fecpago")) && kind != kExempt &&
        requiredFieldMissing(prompter, p.value(QStringLiteral("F_PAGO")), QStringLiteral("Fecha de Pago")))
        return false;
    const QDate paid = toQDate(p.value(QStringLiteral("F_PAGO")));
    if (paid.isValid()) {
        const QDate requested = toQDate(p.value(QStringLiteral("F_PED")));
        if (paid > requested) {
            prompter.error(QStringLiteral("ERROR: La fecha de pago debe ser anterior a la fecha del pedido"),
                           QStringLiteral("Error"));
            return false;
        }
        const int days = settings.number(QStringLiteral("dias_fpago"), 365);
        if (paid.daysTo(requested) > days) {
            prompter.error(QStringLiteral("ERROR: La fecha de pago no debe tener más de %1 días").arg(days),
                           QStringLiteral("Error"));
            return false;
        }
    }
    for (const QString& f : requestNameFields())
        if (!validNameCharacters(prompter, p.value(f))) return false;
    return checkAgainstSlip(p);
}

bool PersonalRequestRules::checkAgainstSlip(Dataset& p) {
    const QString pago = toQString(p.value(QStringLiteral("C_PAGO"))).trimmed();
    const Value doc = p.value(QStringLiteral("N_DOC"));
    if (!m_host.checkSlip() || pago.isEmpty() || !doc.isNumber()) return true;
    Prompter& prompter = m_host.prompter();
    QString message;
    const int found = m_slips.ObtenerDatosBoleta(pago, static_cast<int>(doc.number()), message);
    if (found == 1) {
        QString differences;
        if (CompararConBoleta(pago, differences)) return true;
        return compareWindow && compareWindow(pago, p.text(QStringLiteral("C_REG")), p.text(QStringLiteral("C_PED")));
    }
    if (found < 0) {
        prompter.error(QStringLiteral("ERROR: Al intentar verificar los datos con la boleta.\rMensaje: ") + message,
                       QStringLiteral("Error"));
        return true;
    }
    return !prompter.confirm(QStringLiteral("El Documento del Pedido no corresponde con la Boleta ó Boleta "
                                            "Inexistente.\r¿Desea cancelar el envío del pedido?"),
                             QStringLiteral("Advertencia"));
}

bool PersonalRequestRules::CompararConBoleta(const QString& cPago, QString& differences) const {
    differences.clear();
    const PedBol& slip = m_slips.pedBol();
    if (cPago.trimmed().isEmpty() || slip.isEmpty()) return true;
    const Dataset& p = pedp();
    if (!slip.text(QStringLiteral("x_ape1")).contains(toQString(p.value(QStringLiteral("X_APE1"))).trimmed()))
        differences += QStringLiteral(" apellido1,");
    if (!slip.text(QStringLiteral("x_nom1")).contains(toQString(p.value(QStringLiteral("X_NOM1"))).trimmed()))
        differences += QStringLiteral(" nombre1,");
    if (toQDate(p.value(QStringLiteral("F_NAC"))) != toQDate(slip.value(QStringLiteral("f_nac"))))
        differences += QStringLiteral(" fecha de nacimiento,");
    const Value reqDoc = p.value(QStringLiteral("N_DOC"));
    const Value slipDoc = slip.value(QStringLiteral("n_doc"));
    if (reqDoc.isNumber() != slipDoc.isNumber() || (reqDoc.isNumber() && reqDoc.number() != slipDoc.number()))
        differences += QStringLiteral(" documento,");
    differences.chop(1);
    return differences.isEmpty();
}

bool PersonalRequestRules::AplicarCodigoBoleta(const QString& code) {
    Dataset& p = pedp();
    if (!p.editing() && !p.edit()) return false;
    const QString kind = code.mid(1, 1);
    Dataset& tram = *m_host.table(QStringLiteral("tram"));
    const Value key(kind.toStdString());
    const bool known =
        !kind.isEmpty() && !tram.lookupValue(QStringLiteral("C_TRAM"), key, QStringLiteral("C_TRAM")).isNull();
    const Value prior = known ? tram.lookupValue(QStringLiteral("C_TRAM"), key, QStringLiteral("C_PRIOR")) : Value();
    if (!known) {
        m_host.prompter().error(QStringLiteral("Error: No se pudo encontrar el tipo de tramite"),
                                QStringLiteral("Error"));
        return false;
    }
    p.setValue(QStringLiteral("C_TRAM"), Value(kind.toStdString()));
    p.setText(QStringLiteral("C_PRIOR"), toQString(prior).trimmed());
    if (kind != kExempt) {
        p.setValue(QStringLiteral("C_BANCO"), Value(2));
        QDate paid;
        if (m_host.checkSlip() && m_slips.ObtenerFechaPago(code, paid))
            p.setValue(QStringLiteral("F_PAGO"), fromQDate(paid));
    } else {
        p.setNull(QStringLiteral("C_BANCO"));
        p.setNull(QStringLiteral("F_PAGO"));
    }
    return true;
}

} // namespace qev
