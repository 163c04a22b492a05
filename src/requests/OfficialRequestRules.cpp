#include "requests/OfficialRequestRules.h"

#include "core/Dataset.h"
#include "core/Records.h"
#include "core/Settings.h"
#include "requests/WorkFiles.h"
#include "util/Clock.h"
#include "util/Prompter.h"

#include <QSaveFile>

#include <vector>

namespace qev {

using dbf::Value;

namespace {

const QString kUnclassified = QStringLiteral("_____");

bool isTrue(const Value& v) {
    return v.isBool() && v.boolean();
}

// Whole years from birth to `today` as the central office counts them: days integer-divided by 365.
int ageInYears(const QDate& birth, const QDate& today) {
    return static_cast<int>(birth.daysTo(today) / 365);
}

// A request's work file waiting to be filed under the request's own name once its number is known.
struct Filing {
    const char* workFile;
    QChar kind;
};

} // namespace

const QStringList& requestNameFields() {
    static const QStringList names{
        QStringLiteral("X_APE1"),     QStringLiteral("X_APE2"),     QStringLiteral("X_NOM1"),
        QStringLiteral("X_NOM2"),     QStringLiteral("X_NOM3"),     QStringLiteral("X_NOMPADR1"),
        QStringLiteral("X_NOMPADR2"), QStringLiteral("X_NOMPADR3"), QStringLiteral("X_APEMADR1"),
        QStringLiteral("X_APEMADR2"), QStringLiteral("X_NOMMADR1"), QStringLiteral("X_NOMMADR2"),
        QStringLiteral("X_NOMMADR3"),
    };
    return names;
}

bool birthDateAccepted(Prompter& prompter, const QDate& birth, const QDate& today, bool minorAllowed) {
    if (!birth.isValid()) return true;
    if (birth.year() < 1900) {
        prompter.inform(QStringLiteral("La Fecha de Nacimiento debe ser mayor a 1900"));
        return false;
    }
    const int age = ageInYears(birth, today);
    if (age > 99 || (age < 16 && !minorAllowed)) {
        prompter.inform(
            QStringLiteral("El causante debe tener entre 16 y 99 años de edad.\rVerifique la fecha de nacimiento."));
        return false;
    }
    return true;
}

bool confirmRequestDeletion(RequestHost& host, const Dataset& ds) {
    if (!confirmDeletion(host.prompter())) return false;
    deleteRequestFiles(host, ds);
    return true;
}

bool confirmDeletion(Prompter& prompter) {
    return prompter.confirm(QStringLiteral("¿Está seguro que desea eliminar este registro?"),
                            QStringLiteral("Confirmar"));
}

OfficialRequestRules::OfficialRequestRules(RequestHost& host, QObject* parent) : QObject(parent), m_host(host) {}

Dataset& OfficialRequestRules::ped() const {
    return *m_host.table(QStringLiteral("ped"));
}

void OfficialRequestRules::install() {
    Dataset& p = ped();
    p.onNewRecord = [this](Dataset& ds) { pedNewRecord(ds); };
    p.beforeEdit = [this](Dataset&) { return clearWorkFiles(); };
    p.beforeInsert = [this](Dataset&) { return clearWorkFiles(); };
    p.afterEdit = [this](Dataset& ds) { pedAfterEdit(ds); };
    p.onFieldChange(QStringLiteral("C_ORG"), [this](Dataset& ds) { pedC_ORGChange(ds); });
    p.beforePost = [this](Dataset& ds) { return pedBeforePost(ds); };
    // The captures leave the folder only once the row of their request is stored: a save that fails or is cut
    // short keeps them for the next attempt.
    p.afterPost = [this](Dataset&) { clearWorkFiles(); };
    p.beforeDelete = [this](Dataset& ds) { return pedBeforeDelete(ds); };
    connect(&p, &Dataset::stateChanged, this, &OfficialRequestRules::dsPedStateChange);

    Dataset& sup = *m_host.table(QStringLiteral("sup"));
    sup.beforeInsert = [this](Dataset&) { return supBeforeInsert(); };
    sup.beforePost = [this](Dataset& ds) { return supBeforePost(ds); };

    Dataset& org = *m_host.table(QStringLiteral("org"));
    org.beforePost = [this](Dataset& ds) { return orgBeforePost(ds); };
    org.beforeDelete = [this](Dataset&) { return orgBeforeDelete(); };

    Dataset& tdel = *m_host.table(QStringLiteral("tdel"));
    tdel.filterRecord = [this](const Dataset& ds) { return tdelFilterRecord(ds); };
}

void OfficialRequestRules::setOffenceSearch(const OffenceSearch& search) {
    m_offenceSearch = search;
    m_offenceSearch.code = search.code.trimmed().toLower();
    m_offenceSearch.description = search.description.trimmed().isEmpty() ? QString() : search.description.toLower();
    Dataset* tdel = m_host.table(QStringLiteral("tdel"));
    if (tdel && tdel->filtered()) tdel->setFiltered(true); // re-applies the filter to the rows
}

void OfficialRequestRules::pedNewRecord(Dataset& p) {
    p.setValue(QStringLiteral("M_ENVIADO"), Value(false));
    p.setValue(QStringLiteral("M_CONTESTA"), Value(false));
    p.setValue(QStringLiteral("F_PED"), fromQDate(m_host.clock().today()));
    p.setText(QStringLiteral("C_REG"), m_host.settings().read(QStringLiteral("c_reg")));
    p.setValue(QStringLiteral("C_EST"), Value("I"));
    p.setNull(QStringLiteral("F_NAC"));
    p.setValue(QStringLiteral("C_CARPED"), Value("C"));
    p.setValue(QStringLiteral("M_EXCART51"), Value(false));
    setClassificationDefaults(p);
    p.setValue(QStringLiteral("M_ESPECIAL"), Value(false));
    p.setValue(QStringLiteral("M_TOMA_KRB"), Value(false));
    p.setValue(QStringLiteral("M_MENOR"), Value(false));
}

bool OfficialRequestRules::clearWorkFiles() {
    deleteRequestWorkFiles(m_host.appDir());
    return true;
}

void OfficialRequestRules::pedAfterEdit(Dataset& p) {
    setClassificationDefaults(p);
}

void setClassificationDefaults(Dataset& ds) {
    for (const char* f : {"C_CLASDER", "C_CLASIZQ"})
        if (ds.isNull(QString::fromLatin1(f))) ds.setValue(QString::fromLatin1(f), Value(kUnclassified.toStdString()));
}

void OfficialRequestRules::pedC_ORGChange(Dataset& p) {
    Dataset& org = *m_host.table(QStringLiteral("org"));
    const Value key = p.value(QStringLiteral("C_ORG"));
    for (const char* f : {"C_PROV", "X_DOM", "X_LOC", "C_CODPOS"}) {
        const QString name = QString::fromLatin1(f);
        p.setValue(name, key.isNull() ? Value() : org.lookupValue(QStringLiteral("C_ORG"), key, name));
    }
}

bool OfficialRequestRules::checkAges(Dataset& p) {
    Prompter& prompter = m_host.prompter();
    const bool minor = isTrue(p.value(QStringLiteral("M_MENOR")));
    if (!birthDateAccepted(prompter, toQDate(p.value(QStringLiteral("F_NAC"))), m_host.clock().today(), minor))
        return false;
    const Value presumed = p.value(QStringLiteral("N_EDAD"));
    if (presumed.isNumber()) {
        const double age = presumed.number();
        if (age > 99 || (age < 16 && !minor)) {
            prompter.inform(
                QStringLiteral("El causante debe tener entre 16 y 99 años de edad.\rVerifique la edad presunta."));
            return false;
        }
    }
    return true;
}

bool OfficialRequestRules::fileWorkFiles(Dataset& p, bool withCard) {
    const AppDir& dir = m_host.appDir();
    std::vector<Filing> filings;
    if (withCard) {
        const Value blob = p.hasField(QStringLiteral("B_HUELLA")) ? p.value(QStringLiteral("B_HUELLA")) : Value();
        const bool storedCard = blob.isBytes() && !blob.bytes().data.empty();
        if (storedCard && !workFileExists(dir, kCardWorkFile) && !workFileExists(dir, kOldCardWorkFile)) {
            // A card kept in the record by an older version becomes the work file, checked and filed below.
            QSaveFile out(dir.file(QString::fromLatin1(kCardWorkFile)));
            const std::string& bytes = blob.bytes().data;
            if (!out.open(QIODevice::WriteOnly) ||
                out.write(bytes.data(), static_cast<qint64>(bytes.size())) != static_cast<qint64>(bytes.size()) ||
                !out.commit()) {
                m_host.prompter().error(
                    QStringLiteral("No se pudo escribir la ficha guardada en el registro: %1").arg(out.errorString()),
                    QStringLiteral("Error"));
                return false;
            }
        }
        if (storedCard) p.setNull(QStringLiteral("B_HUELLA"));
        if (workFileExists(dir, kCardWorkFile)) {
            if (!m_host.ValidarImagenHuella(QString::fromLatin1(kCardWorkFile))) return false;
            filings.push_back({kCardWorkFile, QLatin1Char('h')});
        }
        if (workFileExists(dir, kLivescanWorkFile)) filings.push_back({kLivescanWorkFile, QLatin1Char('z')});
    }
    if (workFileExists(dir, kDocumentsWorkFile)) filings.push_back({kDocumentsWorkFile, QLatin1Char('d')});

    if (p.state() == Dataset::State::Insert && p.isNull(QStringLiteral("C_PED"))) {
        const double n = m_host.nextNumber(QStringLiteral("ped"));
        if (n <= 0) return false;
        p.setValue(QStringLiteral("C_PED"), Value(n));
    }
    // Filed only now that the request has its number: a work file is never deleted before it is kept.
    for (const Filing& f : filings)
        if (!fileWorkFile(m_host, p, f.workFile, f.kind)) return false;
    return true;
}

bool OfficialRequestRules::pedBeforePost(Dataset& p) {
    if (!m_host.checkSavePermission()) return false;
    p.setValue(QStringLiteral("C_VERSION"), Value(m_host.versionText().toStdString()));
    struct Required {
        const char* field;
        const char* label;
    };
    static const Required required[] = {
        {"C_ORG", "Fuero, Competencia y Nro"},
        {"X_DOM", "Calle y Nro"},
        {"X_LOC", "Localidad"},
        {"C_PROV", "Provincia"},
        {"C_NAC", "Nacionalidad"},
        {"C_SEXO", "Sexo"},
        {"C_CODPOS", "Código Postal"},
        {"F_PED", "Fecha"},
        {"X_APE1", "Apellido"},
        {"X_NOM1", "Nombre"},
        {"C_PRIOR", "Prioridad"},
    };
    Prompter& prompter = m_host.prompter();
    for (const Required& r : required)
        if (requiredFieldMissing(prompter, p.value(QString::fromLatin1(r.field)), QString::fromUtf8(r.label)))
            return false;
    if (p.isNull(QStringLiteral("C_CARPED"))) p.setValue(QStringLiteral("C_CARPED"), Value("C"));
    if (!checkAges(p)) return false;
    if (p.state() == Dataset::State::Insert &&
        requiredFieldMissing(prompter, p.value(QStringLiteral("C_TDEL")), QStringLiteral("Delito")))
        return false;
    for (const QString& f : requestNameFields())
        p.setValue(f, normaliseBlanks(p.value(f)));
    for (const QString& f : requestNameFields())
        if (!validNameCharacters(prompter, p.value(f))) return false;
    const bool withCard = toQString(p.value(QStringLiteral("C_CARPED"))) == QStringLiteral("C");
    return fileWorkFiles(p, withCard);
}

bool OfficialRequestRules::pedBeforeDelete(Dataset& p) {
    return confirmRequestDeletion(m_host, p);
}

bool OfficialRequestRules::supBeforeInsert() {
    if (ped().state() == Dataset::State::Insert) {
        m_host.prompter().inform(QStringLiteral("Debe grabar el pedido antes de ingresar Supuestos"));
        return false;
    }
    return true;
}

bool OfficialRequestRules::supBeforePost(Dataset& s) {
    Prompter& prompter = m_host.prompter();
    if (s.isNull(QStringLiteral("X_APE1"))) {
        prompter.inform(QStringLiteral("Debe completar el primer apellido"));
        return false;
    }
    if (s.isNull(QStringLiteral("X_NOM1"))) {
        prompter.inform(QStringLiteral("Debe completar el primer nombre"));
        return false;
    }
    static const QStringList names{QStringLiteral("X_APE1"), QStringLiteral("X_APE2"), QStringLiteral("X_NOM1"),
                                   QStringLiteral("X_NOM2"), QStringLiteral("X_NOM3")};
    for (const QString& f : names)
        if (!validNameCharacters(prompter, s.value(f))) return false;
    for (const QString& f : names)
        s.setValue(f, normaliseBlanks(s.value(f)));
    s.setText(QStringLiteral("C_REG"), m_host.settings().read(QStringLiteral("c_reg")));
    const Value orgKey = ped().value(QStringLiteral("C_ORG"));
    Dataset& org = *m_host.table(QStringLiteral("org"));
    s.setValue(QStringLiteral("C_PROV"),
               orgKey.isNull() ? Value() : org.lookupValue(QStringLiteral("C_ORG"), orgKey, QStringLiteral("C_PROV")));
    return true;
}

bool OfficialRequestRules::orgBeforePost(Dataset& o) {
    if (!m_host.checkSavePermission()) return false;
    static const std::pair<const char*, const char*> required[] = {
        {"X_ORG", "Organismo"},  {"X_DOM", "Domicilio"},        {"X_LOC", "Localidad"},
        {"C_PROV", "Provincia"}, {"C_CODPOS", "Código Postal"},
    };
    for (const auto& [field, label] : required)
        if (requiredFieldMissing(m_host.prompter(), o.value(QString::fromLatin1(field)), QString::fromUtf8(label)))
            return false;
    if (o.state() == Dataset::State::Insert && o.isNull(QStringLiteral("C_ORG"))) {
        const double n = m_host.nextNumber(QStringLiteral("org"));
        if (n <= 0) return false;
        o.setValue(QStringLiteral("C_ORG"), Value(n));
    }
    return true;
}

bool OfficialRequestRules::orgBeforeDelete() {
    return confirmDeletion(m_host.prompter());
}

void OfficialRequestRules::dsPedStateChange() {
    if (offenceButtonEnabled) offenceButtonEnabled(ped().editing());
}

bool OfficialRequestRules::tdelFilterRecord(const Dataset& tdel) const {
    const OffenceSearch& s = m_offenceSearch;
    if (!s.code.isEmpty()) {
        // A code that is not a number names no offence.
        bool ok = false;
        const double code = s.code.toDouble(&ok);
        const Value stored = tdel.value(QStringLiteral("C_TDEL"));
        if (!ok || stored.isNull() || stored.number() != code) return false;
    }
    // Law, article and subsection are compared as typed with the stored text (its padding aside).
    const auto equalsTyped = [&tdel](const QString& typed, const char* field) {
        if (typed.trimmed().isEmpty()) return true;
        const QString stored = toQString(tdel.value(QString::fromLatin1(field)));
        qsizetype end = stored.size();
        while (end > 0 && stored.at(end - 1) == QLatin1Char(' '))
            --end;
        return stored.left(end) == typed;
    };
    if (!equalsTyped(s.law, "N_LEY") || !equalsTyped(s.article, "N_ART") || !equalsTyped(s.subsection, "N_INC"))
        return false;
    if (s.description.isEmpty()) return true;
    return toQString(tdel.value(QStringLiteral("X_TDEL"))).toLower().contains(s.description);
}

} // namespace qev
