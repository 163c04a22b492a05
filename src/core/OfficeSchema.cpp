#include "core/OfficeSchema.h"

#include "util/Clock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <initializer_list>
#include <map>
#include <memory>
#include <tuple>
#include <utility>

namespace qev {

namespace {

using dbf::FieldDef;
using dbf::Value;

FieldDef text(const char* name, int length) {
    return FieldDef{name, 'C', length, 0};
}
FieldDef small(const char* name) {
    return FieldDef{name, 'N', kSmallWidth, 0};
}
FieldDef number(const char* name, int width) {
    return FieldDef{name, 'N', width, 0};
}
FieldDef date(const char* name) {
    return FieldDef{name, 'D', 8, 0};
}
FieldDef logical(const char* name) {
    return FieldDef{name, 'L', 1, 0};
}
FieldDef blob(const char* name) {
    return FieldDef{name, 'B', 10, 0};
}

std::vector<FieldDef> pedFields() {
    return {
        number("C_PED", kRequestNumberWidth),
        text("C_SEXO", 1),
        text("C_TDOC", 2),
        small("C_NAC"),
        small("C_PROV"),
        small("C_ORG"),
        date("F_PED"),
        text("X_SEC", 40),
        text("X_DOM", 80),
        small("C_CODPOS"),
        text("X_LOC", 40),
        text("X_DELITO", 80),
        number("N_PRONT", kLongNumberWidth),
        text("X_APE1", 15),
        text("X_APE2", 15),
        text("X_NOM1", 15),
        text("X_NOM2", 15),
        text("X_NOM3", 15),
        date("F_NAC"),
        small("N_EDAD"),
        number("N_DOC", kLongNumberWidth),
        small("C_PROVCI"),
        text("X_NOMPADR1", 15),
        text("X_NOMPADR2", 15),
        text("X_NOMPADR3", 15),
        text("X_APEMADR1", 15),
        text("X_APEMADR2", 15),
        text("X_NOMMADR1", 15),
        text("X_NOMMADR2", 15),
        text("X_NOMMADR3", 15),
        logical("M_ENVIADO"),
        logical("M_CONTESTA"),
        text("X_OBS", 250),
        blob("B_HUELLA"),
        number("C_REG", kOfficeCodeWidth),
        blob("B_RESP"),
        number("N_EXPE", kLongNumberWidth),
        date("F_CON"),
        small("C_PRIOR"),
        text("N_CAUSA", 15),
        text("C_EST", 1),
        number("C_TDEL", kOffenceCodeWidth),
        text("C_CARPED", 1),
        text("C_CLASDER", 5),
        text("C_CLASIZQ", 5),
        logical("M_EXCART51"),
        logical("M_TOMA_KRB"),
        logical("M_ESPECIAL"),
        logical("M_MENOR"),
        text("X_RECHAZO", 225),
        text("C_VERSION", 10),
        number("N_REF", kLongNumberWidth),
        text("C_PREFIJO", 20),
        text("C_SUFIJO", 20),
        text("X_EMAIL", 100),
        text("X_OAPE", 15),
    };
}

std::vector<FieldDef> pedpFields() {
    return {
        number("C_PED", kRequestNumberWidth),
        text("C_SEXO", 1),
        text("C_TDOC", 2),
        small("C_NAC"),
        small("C_PROV_S"),
        date("F_PED"),
        text("X_DOM_S", 50),
        small("C_CODPOS_S"),
        text("X_LOC_S", 30),
        text("X_APE1", 15),
        text("X_APE2", 15),
        text("X_NOM1", 15),
        text("X_NOM2", 15),
        text("X_NOM3", 15),
        date("F_NAC"),
        number("N_DOC", kLongNumberWidth),
        text("X_NOMPADR1", 15),
        text("X_NOMPADR2", 15),
        text("X_NOMPADR3", 15),
        text("X_APEMADR1", 15),
        text("X_APEMADR2", 15),
        text("X_NOMMADR1", 15),
        text("X_NOMMADR2", 15),
        text("X_NOMMADR3", 15),
        text("X_OBS", 50),
        number("C_REG", kOfficeCodeWidth),
        number("N_EXPE", kLongNumberWidth),
        text("C_EST", 1),
        text("C_RECHAZO", 18),
        text("N_CERT", 18),
        small("C_PRIOR"),
        date("F_CON"),
        text("C_EXPP", 2),
        text("C_TPED", 1),
        text("C_RES", 1),
        number("N_RECIBO_E", kReceiptWidth),
        number("N_RECIBO_M", kReceiptWidth),
        small("C_BANCO"),
        text("C_PREFIJO", 20),
        text("C_SUFIJO", 20),
        text("C_TRAM", 1),
        text("C_LOGIN", 10),
        text("X_OAPE", 15),
        text("C_CLASDER", 5),
        text("C_CLASIZQ", 5),
        logical("M_EXCART51"),
        text("X_RECHAZO", 225),
        date("F_PAGO"),
        text("C_PAGO", 32),
        text("C_PAGO_DOMIC", 32),
        text("C_SEGUR", 10),
        number("VERIF_ID", kReceiptWidth),
        text("F_CAPTURA", 20),
        text("C_VERSION", 10),
    };
}

std::vector<TableSpec> buildTables() {
    std::vector<TableSpec> t;
    auto add = [&t](const char* component, const char* file, const char* key, std::vector<FieldDef> fields) {
        t.push_back(TableSpec{QString::fromUtf8(component), QString::fromUtf8(file), QString::fromUtf8(key),
                              std::move(fields)});
    };
    add("ped", "PED.DBF", "C_PED", pedFields());
    add("pedp", "Pedp.DBF", "C_PED", pedpFields());
    add("sup", "sup.dbf", "C_PED",
        {number("C_PED", kRequestNumberWidth), number("C_REG", kOfficeCodeWidth), text("X_APE1", 15),
         text("X_APE2", 15), text("X_NOM1", 15), text("X_NOM2", 15), text("X_NOM3", 15), small("C_PROV")});
    add("org", "org.DBF", "C_ORG",
        {number("C_ORG", kRequestNumberWidth), text("X_ORG", 80), text("X_DOM", 80), text("X_LOC", 40),
         small("C_CODPOS"), small("C_PROV"), text("X_EMAIL", 100)});
    add("sec", "sec.dbf", "C_SEC", {text("C_SEC", 10), number("N_SEC", kRequestNumberWidth)});
    // Keys are at most 13 characters; values hold addresses, subjects and the Base64 proxy password.
    add("amb", "amb.dbf", "C_AMB", {text("C_AMB", 20), text("X_AMB", 254)});
    add("usu", "usu.dbf", "C_LOGIN", {text("C_LOGIN", 10), text("X_USU", 80), text("C_CLAVE", 10)});
    add("prov", "prov.DBF", "C_PROV", {small("C_PROV"), text("X_PROV", 30)});
    add("nac", "nac.DBF", "C_NAC", {small("C_NAC"), text("X_NAC", 40)});
    // C_EXPORT is the central office's code of the document type, matched without regard to case.
    add("tdoc", "tdoc.DBF", "C_TDOC", {text("C_TDOC", 2), text("X_TDOC", 20), text("C_EXPORT", 3)});
    add("sexo", "sexo.DBF", "", {text("C_SEXO", 1), text("X_SEXO", 20)});
    add("prior", "prior.DBF", "C_PRIOR", {small("C_PRIOR"), text("X_PRIOR", 20)});
    add("Est", "Est.DBF", "", {text("C_EST", 1), text("X_EST", 20)});
    add("expp", "expp.dbf", "X_EXPP", {text("C_EXPP", 2), text("X_EXPP", 20)});
    add("res", "res.dbf", "C_RES", {text("C_RES", 1), text("X_RES", 40)});
    add("estcent", "estcent.DBF", "C_ESTCENT", {text("C_ESTCENT", 1), text("X_ESTCENT", 40)});
    add("tdel", "tdel.dbf", "C_TDEL",
        {number("C_TDEL", kOffenceCodeWidth), text("N_LEY", 10), text("N_ART", 10), text("N_INC", 3),
         text("X_TDEL", 254), number("C_TDEL_P", kOffenceCodeWidth)});
    add("tram", "tram.dbf", "C_TRAM", {text("C_TRAM", 1), text("C_PRIOR", 1), text("X_TRAM", 15)});
    add("carped", "carped.DBF", "C_CARPED", {text("C_CARPED", 1), text("X_CARPED", 30)});
    add("url", "url.DBF", "N_PRIOR", {small("N_PRIOR"), text("X_URL", 40)});
    // The tables whose key has a production index for the workstations that search through it.
    for (TableSpec& layout : t) {
        static const char* const kIndexed[] = {"ped",  "pedp", "sup",  "org",   "sec",  "amb",
                                               "prov", "nac",  "tdoc", "prior", "expp", "res"};
        for (const char* c : kIndexed)
            if (layout.component == QLatin1String(c)) layout.productionIndex = true;
    }
    return t;
}

// ---- Rows ------------------------------------------------------------------------------------------------------

using Cell = std::pair<const char*, Value>;

// Rows of one table, built by field name so that a row never depends on the position of a field.
class Rows {
public:
    explicit Rows(const TableSpec& table) : m_table(table) {}

    void add(std::initializer_list<Cell> cells) {
        dbf::Record record(m_table.fields.size());
        for (const auto& [name, value] : cells) {
            const int i = m_table.fieldIndex(QString::fromUtf8(name));
            if (i < 0) {
                m_error =
                    QStringLiteral("La tabla %1 no tiene el campo %2").arg(m_table.fileName, QString::fromUtf8(name));
                continue;
            }
            record[static_cast<size_t>(i)] = value;
        }
        m_records.push_back(std::move(record));
    }

    const std::vector<dbf::Record>& records() const { return m_records; }
    const QString& error() const { return m_error; }

private:
    const TableSpec& m_table;
    std::vector<dbf::Record> m_records;
    QString m_error;
};

Value txt(const QString& s) {
    return Value(s.toStdString());
}
Value day(const QDate& d) {
    return Value(dbf::Date{d.year(), d.month(), d.day()});
}
const Value kNull;

void fillLookups(std::map<QString, Rows>& rows) {
    Rows& prov = rows.at(QStringLiteral("prov"));
    // Province codes as the national statistics office numbers them.
    const std::pair<int, const char*> provinces[] = {
        {2, "Capital Federal"}, {6, "Buenos Aires"},
        {10, "Catamarca"},      {14, "Córdoba"},
        {18, "Corrientes"},     {22, "Chaco"},
        {26, "Chubut"},         {30, "Entre Ríos"},
        {34, "Formosa"},        {38, "Jujuy"},
        {42, "La Pampa"},       {46, "La Rioja"},
        {50, "Mendoza"},        {54, "Misiones"},
        {58, "Neuquén"},        {62, "Río Negro"},
        {66, "Salta"},          {70, "San Juan"},
        {74, "San Luis"},       {78, "Santa Cruz"},
        {82, "Santa Fe"},       {86, "Santiago del Estero"},
        {90, "Tucumán"},        {94, "Tierra del Fuego"},
    };
    for (const auto& [code, name] : provinces)
        prov.add({{"C_PROV", code}, {"X_PROV", name}});

    Rows& nac = rows.at(QStringLiteral("nac"));
    // Nationalities keyed by the country's numeric code, as the central office sends them.
    const std::pair<int, const char*> nationalities[] = {
        {32, "Argentina"},    {68, "Boliviana"},  {76, "Brasileña"}, {152, "Chilena"},        {170, "Colombiana"},
        {218, "Ecuatoriana"}, {600, "Paraguaya"}, {604, "Peruana"},  {858, "Uruguaya"},       {862, "Venezolana"},
        {724, "Española"},    {380, "Italiana"},  {156, "China"},    {840, "Estadounidense"}, {999, "Otra"},
    };
    for (const auto& [code, name] : nationalities)
        nac.add({{"C_NAC", code}, {"X_NAC", name}});

    Rows& tdoc = rows.at(QStringLiteral("tdoc"));
    // The central office writes document types as numbers; C_EXPORT holds that number for each of the office's own.
    const std::tuple<const char*, const char*, const char*> documents[] = {
        {"1", "D.N.I.", "1"},         {"2", "Libreta Enrolamiento", "2"},
        {"3", "Libreta Cívica", "3"}, {"4", "Cédula de Identidad", "4"},
        {"5", "Pasaporte", "5"},      {"6", "DNI Extranjero", "6"},
    };
    for (const auto& [code, name, exported] : documents)
        tdoc.add({{"C_TDOC", code}, {"X_TDOC", name}, {"C_EXPORT", exported}});

    Rows& sexo = rows.at(QStringLiteral("sexo"));
    sexo.add({{"C_SEXO", "M"}, {"X_SEXO", "Masculino"}});
    sexo.add({{"C_SEXO", "F"}, {"X_SEXO", "Femenino"}});
    sexo.add({{"C_SEXO", "X"}, {"X_SEXO", "No binario"}});

    // Priority 3 is the one exempt personal requests must have.
    Rows& prior = rows.at(QStringLiteral("prior"));
    prior.add({{"C_PRIOR", 1}, {"X_PRIOR", "24 Horas"}});
    prior.add({{"C_PRIOR", 2}, {"X_PRIOR", "48 Horas"}});
    prior.add({{"C_PRIOR", 3}, {"X_PRIOR", "5 Dias"}});
    prior.add({{"C_PRIOR", 4}, {"X_PRIOR", "10 Dias"}});

    Rows& est = rows.at(QStringLiteral("Est"));
    est.add({{"C_EST", "I"}, {"X_EST", "Ingresado"}});
    est.add({{"C_EST", "E"}, {"X_EST", "Enviado"}});
    est.add({{"C_EST", "T"}, {"X_EST", "En Trámite"}});
    est.add({{"C_EST", "C"}, {"X_EST", "Contestado"}});
    est.add({{"C_EST", "R"}, {"X_EST", "Rechazado"}});
    est.add({{"C_EST", "D"}, {"X_EST", "En Corrección"}});

    Rows& expp = rows.at(QStringLiteral("expp"));
    const std::pair<const char*, const char*> places[] = {
        {"RN", "RENAPER"},
        {"PF", "Policía Federal"},
        {"BA", "Policía de Bs. As."},
        {"CB", "Policía de Córdoba"},
        {"SF", "Policía de Santa Fe"},
        {"MZ", "Policía de Mendoza"},
        {"EX", "Extranjero"},
        {"OT", "Otro"},
    };
    for (const auto& [code, name] : places)
        expp.add({{"C_EXPP", code}, {"X_EXPP", name}});

    // "R" is an answer sent by post; "N" (or none) means the certificate is to be looked up on the web.
    Rows& res = rows.at(QStringLiteral("res"));
    res.add({{"C_RES", "S"}, {"X_RES", "Sin antecedentes penales"}});
    res.add({{"C_RES", "A"}, {"X_RES", "Con antecedentes penales"}});
    res.add({{"C_RES", "N"}, {"X_RES", "Certificado disponible en la Web"}});
    res.add({{"C_RES", "R"}, {"X_RES", "Enviado por correo postal"}});

    Rows& estcent = rows.at(QStringLiteral("estcent"));
    estcent.add({{"C_ESTCENT", "E"}, {"X_ESTCENT", "Recibido en QEV Central"}});
    estcent.add({{"C_ESTCENT", "T"}, {"X_ESTCENT", "En trámite"}});
    estcent.add({{"C_ESTCENT", "P"}, {"X_ESTCENT", "Pendiente de documentación"}});
    estcent.add({{"C_ESTCENT", "C"}, {"X_ESTCENT", "Contestado"}});
    estcent.add({{"C_ESTCENT", "R"}, {"X_ESTCENT", "Rechazado"}});
    estcent.add({{"C_ESTCENT", "A"}, {"X_ESTCENT", "Anulado"}});

    // Categories have parent 0; every offence names its category as parent.
    Rows& tdel = rows.at(QStringLiteral("tdel"));
    struct Offence {
        int code;
        const char* law;
        const char* article;
        const char* subsection;
        const char* description;
        int parent;
    };
    const Offence offences[] = {
        {100, "", "", "", "DELITOS CONTRA LAS PERSONAS", 0},
        {101, "11179", "79", "", "Homicidio simple", 100},
        {102, "11179", "80", "", "Homicidio agravado", 100},
        {103, "11179", "89", "", "Lesiones leves", 100},
        {104, "11179", "90", "", "Lesiones graves", 100},
        {105, "11179", "94", "", "Lesiones culposas", 100},
        {200, "", "", "", "DELITOS CONTRA LA INTEGRIDAD SEXUAL", 0},
        {201, "11179", "119", "", "Abuso sexual", 200},
        {300, "", "", "", "DELITOS CONTRA LA LIBERTAD", 0},
        {301, "11179", "149", "bis", "Amenazas", 300},
        {302, "11179", "150", "", "Violación de domicilio", 300},
        {400, "", "", "", "DELITOS CONTRA LA PROPIEDAD", 0},
        {401, "11179", "162", "", "Hurto", 400},
        {402, "11179", "164", "", "Robo", 400},
        {403, "11179", "166", "2", "Robo con armas", 400},
        {404, "11179", "172", "", "Estafa", 400},
        {405, "11179", "173", "7", "Administración fraudulenta", 400},
        {406, "11179", "183", "", "Daño", 400},
        {500, "", "", "", "DELITOS CONTRA LA SEGURIDAD PÚBLICA", 0},
        {501, "11179", "189", "bis", "Tenencia ilegal de arma de fuego", 500},
        {600, "", "", "", "DELITOS CONTRA LA ADMINISTRACIÓN PÚBLICA", 0},
        {601, "11179", "237", "", "Atentado contra la autoridad", 600},
        {602, "11179", "248", "", "Abuso de autoridad", 600},
        {603, "11179", "261", "", "Peculado", 600},
        {700, "", "", "", "DELITOS CONTRA LA FE PÚBLICA", 0},
        {701, "11179", "292", "", "Falsificación de documento", 700},
        {702, "11179", "296", "", "Uso de documento falso", 700},
        {800, "", "", "", "INFRACCIONES A LEYES ESPECIALES", 0},
        {801, "23737", "5", "c", "Comercio de estupefacientes", 800},
        {802, "23737", "14", "", "Tenencia de estupefacientes", 800},
        {803, "13944", "1", "", "Incumplimiento de los deberes de asistencia familiar", 800},
    };
    for (const Offence& o : offences) {
        tdel.add({{"C_TDEL", o.code},
                  {"N_LEY", o.law},
                  {"N_ART", o.article},
                  {"N_INC", o.subsection},
                  {"X_TDEL", o.description},
                  {"C_TDEL_P", o.parent}});
    }

    // Kind "6" is the exempt procedure; each kind implies its priority.
    Rows& tram = rows.at(QStringLiteral("tram"));
    tram.add({{"C_TRAM", "1"}, {"C_PRIOR", "4"}, {"X_TRAM", "Común"}});
    tram.add({{"C_TRAM", "2"}, {"C_PRIOR", "2"}, {"X_TRAM", "Urgente"}});
    tram.add({{"C_TRAM", "3"}, {"C_PRIOR", "1"}, {"X_TRAM", "Muy Urgente"}});
    tram.add({{"C_TRAM", "6"}, {"C_PRIOR", "3"}, {"X_TRAM", "Exento"}});

    Rows& carped = rows.at(QStringLiteral("carped"));
    carped.add({{"C_CARPED", "C"}, {"X_CARPED", "Con ficha dactiloscópica"}});
    carped.add({{"C_CARPED", "N"}, {"X_CARPED", "Nominativo (sin ficha)"}});

    rows.at(QStringLiteral("url")).add({{"N_PRIOR", 1}, {"X_URL", kDefaultCentralUrl}});

    // No password: the user logs in with his name as password and is advised to change it.
    rows.at(QStringLiteral("usu"))
        .add({{"C_LOGIN", "admin"}, {"X_USU", "Administrador del sistema"}, {"C_CLAVE", kNull}});
}

void fillSettings(Rows& amb) {
    const QString code = QString::number(kDefaultOfficeCode);
    const QString account = QStringLiteral("regional%1").arg(code);
    const std::pair<const char*, QString> settings[] = {
        {"c_reg", code},
        {"c_regp", code},
        {"x_reg", QString::fromUtf8(kDefaultOfficeName)},
        {"x_toreg", QStringLiteral("qevcentral@qev.local")},
        {"x_toregp", QStringLiteral("qevcentral@qev.local")},
        {"x_msgreg", QStringLiteral("PEDIDO")},
        {"x_msgregp", QStringLiteral("PEDIDOP")},
        {"x_msgexp", QStringLiteral("CONTESTO")},
        {"x_msgexpp", QStringLiteral("CONTESTOP")},
        {"x_msgconfp", QStringLiteral("CONFIRMOP")},
        {"frec_recep", QStringLiteral("5")},
        {"dur_guarda", QStringLiteral("15")},
        {"max_contes", QStringLiteral("1")},
        {"url_cert", QString::fromUtf8(kDefaultCentralUrl) + QStringLiteral("Certificados/")},
        // A new office prints nothing on its own until a printer has been set up.
        {"m_impauto", QStringLiteral("N")},
        {"m_impconfp", QStringLiteral("N")},
        {"m_fecpago", QStringLiteral("S")},
        {"dias_fpago", QStringLiteral("365")},
        {"m_domic", QStringLiteral("N")},
        {"m_nomi", QStringLiteral("N")},
        {"m_chkdatbol", QStringLiteral("S")},
        {"m_segur", QStringLiteral("S")},
        {"m_obli_doc", QStringLiteral("S")},
        {"m_es_suc", QStringLiteral("N")},
        {"LiveScan", QStringLiteral("Ninguno")},
        {"AutoAvance", QStringLiteral("S")},
        {"crlt_quality", QStringLiteral("S")},
        {"flip_hor", QStringLiteral("N")},
        {"flip_ver", QStringLiteral("N")},
        {"envWebService", QStringLiteral("S")},
        {"usaOutlook", QStringLiteral("N")},
        {"waitFin", QStringLiteral("S")},
        {"pop3Name", QStringLiteral("127.0.0.1")},
        {"pop3Port", QStringLiteral("1110")},
        {"pop3User", account},
        // Set from the mail settings window: the stored form is the complemented password.
        {"pop3PwdE", QString()},
        {"smtpName", QStringLiteral("127.0.0.1")},
        {"smtpPort", QStringLiteral("2525")},
        {"userEmail", account + QStringLiteral("@qev.local")},
        {"emailFwd", QStringLiteral("reenvio@qev.local")},
        {"LogOpeMail", QStringLiteral("S")},
        {"http_proxy", QString()},
        {"http_port", QString()},
        {"proxy_user", QString()},
        {"proxy_pass", QString()},
    };
    for (const auto& [key, value] : settings)
        amb.add({{"C_AMB", key}, {"X_AMB", txt(value)}});
}

struct DemoCounts {
    int ped = 0;
    int pedp = 0;
    int org = 0;
};

DemoCounts fillDemo(std::map<QString, Rows>& rows, const QDate& today) {
    DemoCounts n;
    const int reg = kDefaultOfficeCode;

    Rows& org = rows.at(QStringLiteral("org"));
    struct Organisation {
        const char* name;
        const char* address;
        const char* locality;
        int postcode;
        const char* email;
    };
    const Organisation organisations[] = {
        {"Juzgado Federal N° 1 de Córdoba", "Av. Concepción Arenal 690", "Córdoba", 5000, "juzfed1.cba@example.org"},
        {"Fiscalía de Instrucción N° 3", "Duarte Quirós 650", "Córdoba", 5000, "fiscalia3.cba@example.org"},
        {"Juzgado de Control N° 2 de Villa María", "General Paz 331", "Villa María", 5900, "control2.vm@example.org"},
        {"Cámara en lo Criminal de Río Cuarto", "Deán Funes 122", "Río Cuarto", 5800, "camara.rc@example.org"},
    };
    for (const Organisation& o : organisations) {
        ++n.org;
        org.add({{"C_ORG", n.org},
                 {"X_ORG", o.name},
                 {"X_DOM", o.address},
                 {"X_LOC", o.locality},
                 {"C_CODPOS", o.postcode},
                 {"C_PROV", 14},
                 {"X_EMAIL", o.email}});
    }

    // Official requests: one in every state an official request goes through.
    Rows& ped = rows.at(QStringLiteral("ped"));
    struct Official {
        const char* state;
        int organisation;
        const char* surname;
        const char* name;
        const char* sex;
        int birthYear;
        int document;
        int offence;
        const char* character;
        int ageDays; // days since the request was entered
    };
    const Official officials[] = {
        {"I", 1, "GONZALEZ", "MARIA", "F", 1985, 31456789, 401, "C", 0},
        {"E", 2, "PEREZ", "JUAN", "M", 1979, 27123456, 402, "C", 4},
        {"T", 3, "RODRIGUEZ", "CARLOS", "M", 1990, 35987654, 701, "C", 9},
        {"C", 1, "FERNANDEZ", "LAURA", "F", 1972, 22654321, 103, "N", 12},
        {"R", 4, "LOPEZ", "MIGUEL ANGEL", "M", 1968, 20111222, 801, "C", 10},
    };
    for (const Official& o : officials) {
        ++n.ped;
        const QString state = QString::fromLatin1(o.state);
        const bool sent = state != QLatin1String("I");
        const bool answered = state == QLatin1String("C");
        const bool inCentral = state == QLatin1String("T") || answered;
        ped.add({{"C_PED", n.ped},
                 {"C_SEXO", o.sex},
                 {"C_TDOC", "1"},
                 {"C_NAC", 32},
                 {"C_PROV", 14},
                 {"C_ORG", o.organisation},
                 {"F_PED", day(today.addDays(-o.ageDays))},
                 {"X_SEC", "Secretaría Penal"},
                 {"X_DOM", organisations[o.organisation - 1].address},
                 {"C_CODPOS", organisations[o.organisation - 1].postcode},
                 {"X_LOC", organisations[o.organisation - 1].locality},
                 {"X_APE1", o.surname},
                 {"X_NOM1", o.name},
                 {"F_NAC", day(QDate(o.birthYear, 3, 14))},
                 {"N_EDAD", today.year() - o.birthYear},
                 {"N_DOC", o.document},
                 {"C_PROVCI", 14},
                 {"M_ENVIADO", sent},
                 {"M_CONTESTA", answered},
                 {"C_REG", reg},
                 {"N_EXPE", inCentral ? Value(500000 + n.ped) : kNull},
                 {"F_CON", answered ? day(today.addDays(-2)) : kNull},
                 {"C_PRIOR", 4},
                 {"N_CAUSA", txt(QStringLiteral("%1/%2").arg(1200 + n.ped).arg(today.year()))},
                 {"C_EST", o.state},
                 {"C_TDEL", o.offence},
                 {"C_CARPED", o.character},
                 {"C_CLASDER", "_____"},
                 {"C_CLASIZQ", "_____"},
                 {"M_EXCART51", false},
                 {"M_TOMA_KRB", false},
                 {"M_ESPECIAL", false},
                 {"M_MENOR", false},
                 {"X_RECHAZO",
                  state == QLatin1String("R") ? Value("Ficha dactiloscópica ilegible. Envíe una nueva toma.") : kNull},
                 {"C_VERSION", "2.37"}});
    }
    // Two other names of the person of the request in process.
    Rows& sup = rows.at(QStringLiteral("sup"));
    sup.add({{"C_PED", 3}, {"C_REG", reg}, {"X_APE1", "RODRIGUES"}, {"X_NOM1", "CARLOS"}, {"C_PROV", 14}});
    sup.add({{"C_PED", 3}, {"C_REG", reg}, {"X_APE1", "RODRIGUEZ"}, {"X_NOM1", "CARLITOS"}, {"C_PROV", 14}});

    // Personal requests: every state, paid kinds with their priority and one exempt request.
    Rows& pedp = rows.at(QStringLiteral("pedp"));
    struct Personal {
        const char* state;
        const char* kind;
        int priority;
        const char* surname;
        const char* name;
        const char* sex;
        int birthYear;
        int document;
        const char* result;
        int ageDays;
    };
    const Personal personals[] = {
        {"I", "1", 4, "MARTINEZ", "SOFIA", "F", 1995, 38765432, "", 0},
        {"E", "2", 2, "GARCIA", "PABLO", "M", 1988, 33444555, "", 3},
        {"T", "6", 3, "SANCHEZ", "ANA", "F", 2000, 42333444, "", 6},
        {"C", "1", 4, "ROMERO", "DIEGO", "M", 1983, 30222111, "S", 11},
        {"R", "3", 1, "DIAZ", "LUCIA", "F", 1992, 36999888, "", 8},
        {"D", "1", 4, "ALVAREZ", "JORGE", "M", 1975, 24555666, "", 5},
    };
    for (const Personal& p : personals) {
        ++n.pedp;
        const QString state = QString::fromLatin1(p.state);
        const bool exempt = QString::fromLatin1(p.kind) == QLatin1String("6");
        const bool answered = state == QLatin1String("C");
        const bool rejected = state == QLatin1String("R");
        const bool inCentral = state == QLatin1String("T") || answered || rejected;
        // The slip's payment code: its second character is the kind of procedure paid for.
        const QString payment = QStringLiteral("7%1%2").arg(QLatin1String(p.kind)).arg(n.pedp, 9, 10, QLatin1Char('0'));
        pedp.add({{"C_PED", n.pedp},
                  {"C_SEXO", p.sex},
                  {"C_TDOC", "1"},
                  {"C_NAC", 32},
                  {"C_PROV_S", 14},
                  {"F_PED", day(today.addDays(-p.ageDays))},
                  {"X_DOM_S", txt(QStringLiteral("Belgrano %1").arg(100 * n.pedp + 25))},
                  {"C_CODPOS_S", 5000},
                  {"X_LOC_S", "Córdoba"},
                  {"X_APE1", p.surname},
                  {"X_NOM1", p.name},
                  {"F_NAC", day(QDate(p.birthYear, 7, 2))},
                  {"N_DOC", p.document},
                  {"C_REG", reg},
                  {"N_EXPE", inCentral ? Value(800000 + n.pedp) : kNull},
                  {"C_EST", p.state},
                  {"C_RECHAZO", rejected ? Value("DOC") : kNull},
                  {"N_CERT", answered ? txt(QStringLiteral("CE%1").arg(n.pedp, 8, 10, QLatin1Char('0'))) : kNull},
                  {"C_PRIOR", p.priority},
                  {"F_CON", answered ? day(today.addDays(-1)) : kNull},
                  {"C_EXPP", "RN"},
                  {"C_TPED", "P"},
                  {"C_RES", *p.result ? Value(p.result) : kNull},
                  {"C_BANCO", exempt ? kNull : Value(2)},
                  {"C_TRAM", p.kind},
                  {"C_LOGIN", "admin"},
                  {"C_CLASDER", "_____"},
                  {"C_CLASIZQ", "_____"},
                  {"M_EXCART51", false},
                  {"X_RECHAZO", rejected ? Value("La foto del documento no es legible.") : kNull},
                  {"F_PAGO", exempt ? kNull : day(today.addDays(-p.ageDays - 1))},
                  {"C_PAGO", txt(payment)},
                  {"C_SEGUR", txt(QStringLiteral("QV%1K").arg(n.pedp * 7919, 7, 10, QLatin1Char('0')))},
                  {"C_VERSION", "2.37"}});
    }
    return n;
}

// Removes files this call created; never touches anything that was there before.
void removeCreated(const std::vector<std::string>& created) {
    for (const std::string& path : created) {
        // The memo file, the production index and the journal the engine keeps beside an indexed table.
        for (const char* suffix : {".DBT", ".MDX", ".MDJ"}) {
            bool exists = false;
            const std::string companion = dbf::companionFile(path, suffix, &exists);
            if (exists) QFile::remove(QString::fromStdString(companion));
        }
        QFile::remove(QString::fromStdString(path));
    }
}

} // namespace

int TableSpec::fieldIndex(const QString& name) const {
    for (size_t i = 0; i < fields.size(); ++i) {
        if (name.compare(QString::fromStdString(fields[i].name), Qt::CaseInsensitive) == 0) return static_cast<int>(i);
    }
    return -1;
}

const std::vector<TableSpec>& officeTables() {
    static const std::vector<TableSpec> tables = buildTables();
    return tables;
}

const TableSpec* findOfficeTable(const QString& name) {
    for (const TableSpec& t : officeTables()) {
        if (name.compare(t.component, Qt::CaseInsensitive) == 0 || name.compare(t.fileName, Qt::CaseInsensitive) == 0)
            return &t;
    }
    return nullptr;
}

QStringList existingOfficeFiles(const QString& dir) {
    QStringList found;
    const QStringList entries = QDir(dir).entryList(QDir::Files | QDir::Hidden);
    for (const TableSpec& t : officeTables()) {
        const QString stem = QFileInfo(t.fileName).completeBaseName();
        for (const QString& e : entries) {
            const QFileInfo fi(e);
            const QString ext = fi.suffix().toLower();
            if (fi.completeBaseName().compare(stem, Qt::CaseInsensitive) == 0 &&
                (ext == QLatin1String("dbf") || ext == QLatin1String("dbt") || ext == QLatin1String("mdx")))
                found << e;
        }
    }
    return found;
}

bool createOfficeFolder(const QString& dir, bool demo, QString* error) {
    const SystemClock clock;
    return createOfficeFolder(dir, demo, clock, error);
}

bool createOfficeFolder(const QString& dir, bool demo, const Clock& clock, QString* error) {
    auto failWith = [error](const QString& text) {
        if (error) *error = text;
        return false;
    };
    if (!QDir().mkpath(dir)) return failWith(QStringLiteral("No se pudo crear la carpeta %1").arg(dir));
    const QStringList existing = existingOfficeFiles(dir);
    if (!existing.isEmpty()) {
        return failWith(QStringLiteral("La carpeta %1 ya tiene tablas de la oficina (%2); no se modificó nada.")
                            .arg(QDir::toNativeSeparators(dir), existing.join(QStringLiteral(", "))));
    }

    std::map<QString, Rows> rows;
    for (const TableSpec& t : officeTables())
        rows.emplace(t.component, Rows(t));
    fillLookups(rows);
    fillSettings(rows.at(QStringLiteral("amb")));
    DemoCounts counts;
    if (demo) counts = fillDemo(rows, clock.today());
    Rows& sec = rows.at(QStringLiteral("sec"));
    sec.add({{"C_SEC", "ped"}, {"N_SEC", counts.ped}});
    sec.add({{"C_SEC", "pedp"}, {"N_SEC", counts.pedp}});
    sec.add({{"C_SEC", "org"}, {"N_SEC", counts.org}});
    for (const auto& [component, r] : rows) {
        if (!r.error().isEmpty()) return failWith(r.error());
    }

    const QString folder = QDir(dir).absolutePath() + QLatin1Char('/');
    std::vector<std::string> created;
    dbf::CreateOptions options;
    options.level = dbf::Level::DBase7;
    options.languageDriver = "DBWINUS0";
    for (const TableSpec& t : officeTables()) {
        const std::string path = (folder + t.fileName).toStdString();
        options.indexTags.clear();
        if (t.productionIndex) options.indexTags.push_back(t.keyField.toStdString());
        auto table = dbf::Table::create(path, t.fields, options);
        if (!table) {
            removeCreated(created);
            return failWith(
                QStringLiteral("No se pudo crear %1: %2").arg(t.fileName, QString::fromStdString(table.error())));
        }
        created.push_back(path);
        const std::vector<dbf::Record>& records = rows.at(t.component).records();
        // A new folder's rows reach the disk once per table; until it is made whole nothing relies on them.
        (*table)->setSyncPosts(false);
        for (size_t i = 0; i < records.size(); ++i) {
            auto appended = (*table)->append(records[i]);
            if (!appended) {
                const QString message = QStringLiteral("No se pudo grabar el registro %1 de %2: %3")
                                            .arg(i + 1)
                                            .arg(t.fileName, QString::fromStdString(appended.error()));
                table.value().reset();
                removeCreated(created);
                return failWith(message);
            }
        }
        if (auto synced = (*table)->sync(); !synced) {
            table.value().reset();
            removeCreated(created);
            return failWith(
                QStringLiteral("No se pudo grabar %1: %2").arg(t.fileName, QString::fromStdString(synced.error())));
        }
        (*table)->flush();
    }
    return true;
}

dbf::Result<std::unique_ptr<dbf::Table>> openOfficeTable(const QString& dir, const TableSpec& table, dbf::OpenMode mode,
                                                         bool buildIndex) {
    const std::string folder = dir.toStdString();
    std::string path = dbf::findFileNoCase(folder, table.fileName.toStdString());
    if (path.empty()) path = folder + "/" + table.fileName.toStdString();
    auto t = dbf::Table::open(path, mode);
    if (!t) return t;
    if (table.productionIndex) (*t)->setDefaultIndexTags({table.keyField.toStdString()});
    if (!table.keyField.isEmpty()) {
        if (auto r = (*t)->setIndex(table.keyField.toStdString(), buildIndex); !r) return dbf::fail(r.error());
    }
    return t;
}

} // namespace qev
