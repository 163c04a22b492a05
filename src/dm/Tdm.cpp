#include "dm/Tdm.h"

#include "capture/ImageRules.h"
#include "core/OfficeSchema.h"
#include "core/Records.h"
#include "core/SqlQuery.h"
#include "dbf/sql/SqlRunner.h"
#include "dm/ReceptionOutput.h"
#include "exchange/CentralState.h"
#include "exchange/HostIdentity.h"
#include "exchange/MailReception.h"
#include "exchange/ReplyHandlers.h"
#include "exchange/TSMime.h"
#include "exchange/mail/TdmMail.h"
#include "requests/OfficialRequestRules.h"
#include "requests/PersonalRequestRules.h"
#include "requests/QueryStatements.h"
#include "requests/SlipLookups.h"
#include "requests/SlipService.h"
#include "requests/SoapSlipService.h"
#include "util/Clock.h"
#include "util/Prompter.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <cstdio>

namespace qev {

using dbf::Value;

QString supportContact() {
    return QStringLiteral("Soporte Técnico de QEV Central (soporte@qev-central.local)");
}

// The check of a production index at start: the table opens, and when its header flags a .MDX, that file parses
// page by page and holds one key per record in every tag. No record is read; the index rebuild that follows
// compares the keys with the rows in the pass it makes anyway.
bool indexFileSound(const QString& tablePath) {
    auto t = dbf::Table::open(tablePath.toStdString(), dbf::OpenMode::ReadOnly);
    if (!t) return false;
    return t.value()->checkIndexFile(false).empty();
}

// Keeps "<table>_bak.mdx" a copy of the table's sound production index; an equal copy is not written again.
void backUpIndexFile(const std::string& tablePath) {
    bool exists = false;
    const QString index = QString::fromStdString(dbf::companionFile(tablePath, ".MDX", &exists));
    if (!exists) return;
    const QString backup = QString::fromStdString(dbf::companionFile(tablePath, "_bak.mdx"));
    QFile in(index);
    QFile old(backup);
    if (!in.open(QIODevice::ReadOnly)) return;
    const QByteArray bytes = in.readAll();
    if (old.open(QIODevice::ReadOnly) && old.size() == bytes.size() && old.readAll() == bytes) return;
    old.close();
    const QString tmp = backup + QStringLiteral(".tmp~");
    QFile::remove(tmp);
    QFile out(tmp);
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size() || !out.flush()) {
        out.remove();
        return;
    }
    out.close();
    QFile::remove(backup);
    QFile::rename(tmp, backup);
}

Tdm::Tdm(const AppDir& appDir, Prompter& prompter, const Clock& clock, QObject* parent)
    : QObject(parent), m_appDir(appDir), m_prompter(prompter), m_clock(clock),
      m_hostIdentity(std::make_unique<SystemHostIdentity>()) {
    setupTables();
    for (auto* q : {&m_cped, &m_cpedT, &m_qConsulta, &m_qSup})
        *q = std::make_unique<SqlQuery>(m_appDir.folder(), m_prompter);
    m_cped->setStatement(officialListStatement(true));
    m_cpedT->setStatement(officialListStatement(false));
    m_settings = std::make_unique<Settings>(amb());
    m_timer.setInterval(60000);
    connect(&m_timer, &QTimer::timeout, this, &Tdm::timerTick);
}

Tdm::~Tdm() {
    // Sends still under way finish and log before the tables and the log go.
    if (m_sender) m_sender->waitForSends();
}

TdmMail& Tdm::mail() {
    if (!m_mail) {
        m_mail = std::make_unique<TdmMail>(*m_settings, m_prompter, m_clock, m_appDir.folder());
        if (amb().active()) (void)m_mail->leerConfiguracion();
    }
    return *m_mail;
}

void Tdm::createSender() {
    if (m_sender) m_sender->waitForSends();
    m_sending.reset();
    m_sender.reset();
    m_sender =
        std::make_unique<TSMimeReg>(*m_settings, m_prompter, m_clock, m_appDir, mail(), m_sendLog, *m_hostIdentity);
    m_sending = std::make_unique<RequestSending>(*this, *m_sender, *m_hostIdentity);
}

TSMimeReg& Tdm::sender() {
    if (!m_sender) createSender();
    return *m_sender;
}

FolderReceptionViews& Tdm::folderViews() {
    if (!m_folderViews) m_folderViews = std::make_unique<FolderReceptionViews>(m_appDir.folder());
    return *m_folderViews;
}

PdfAnswerPrinter& Tdm::pdfPrinter() {
    if (!m_pdfPrinter) m_pdfPrinter = std::make_unique<PdfAnswerPrinter>(*this);
    return *m_pdfPrinter;
}

ReplyHandlers& Tdm::replies() {
    if (!m_replies) {
        m_replies = std::make_unique<ReplyHandlers>(*this, m_views ? *m_views : folderViews());
        m_replies->setPrinter(m_printer ? m_printer : &pdfPrinter());
    }
    return *m_replies;
}

MailReception& Tdm::mailReception() {
    if (!m_mailReception)
        m_mailReception = std::make_unique<MailReception>(*this, mail(), replies(), m_views ? *m_views : folderViews());
    return *m_mailReception;
}

CentralState& Tdm::centralState() {
    if (!m_centralState) {
        m_centralState = std::make_unique<CentralState>(*this, replies(), m_views ? *m_views : folderViews());
        m_centralState->sender = [this]() -> TSMime& { return sender(); };
        m_centralState->receptionIdle = [this] { return m_receptionIdle; };
        m_centralState->setReceptionIdle = [this](bool idle) { m_receptionIdle = idle; };
        m_centralState->newSecurityCode = [] { return GenerarCodigoSeguridad(10); };
        (void)m_centralState->ConfigurarProxy();
    }
    return *m_centralState;
}

void Tdm::setReceptionViews(ReceptionViews* views) {
    m_views = views;
    ReceptionViews& v = m_views ? *m_views : folderViews();
    if (m_replies) m_replies->setViews(v);
    if (m_mailReception) m_mailReception->setViews(v);
    if (m_centralState) m_centralState->setViews(v);
}

void Tdm::setAnswerPrinter(AnswerPrinter* printer) {
    m_printer = printer;
    if (m_replies) m_replies->setPrinter(m_printer ? m_printer : &pdfPrinter());
}

void Tdm::setHostIdentity(std::unique_ptr<HostIdentity> id) {
    m_hostIdentity = std::move(id);
    if (m_sender) createSender();
}

bool Tdm::EnviarPedidoOficial() {
    sender();
    return m_sending->EnviarPedidoOficial();
}

bool Tdm::EnviarPedidoPersonal() {
    sender();
    return m_sending->EnviarPedidoPersonal();
}

bool Tdm::EnviarCorreccionPersonal() {
    sender();
    return m_sending->EnviarCorreccionPersonal();
}

void Tdm::setupTables() {
    for (const TableSpec& layout : officeTables()) {
        auto ds = std::make_unique<Dataset>(m_appDir.folder(), layout, this);
        ds->setPrompter(&m_prompter);
        m_order.push_back(ds.get());
        m_tables.emplace(layout.component.toLower(), std::move(ds));
    }
    auto* prov = table(QStringLiteral("prov"));
    ped().addLookupField(QStringLiteral("X_EXPP"), QStringLiteral("C_PROVCI"), prov, QStringLiteral("C_PROV"),
                         QStringLiteral("X_PROV"));
    org().addLookupField(QStringLiteral("x_prov"), QStringLiteral("C_PROV"), prov, QStringLiteral("C_PROV"),
                         QStringLiteral("X_PROV"));
    struct L {
        const char* name;
        const char* key;
        const char* table;
        const char* lookupKey;
        const char* result;
    };
    const L pedpLookups[] = {
        {"x_nac", "C_NAC", "nac", "C_NAC", "X_NAC"},      {"x_tdoc", "C_TDOC", "tdoc", "C_TDOC", "X_TDOC"},
        {"x_expp", "C_EXPP", "expp", "C_EXPP", "X_EXPP"}, {"X_PRIOR", "C_PRIOR", "prior", "C_PRIOR", "X_PRIOR"},
        {"X_SEXO", "C_SEXO", "sexo", "C_SEXO", "X_SEXO"}, {"X_TRAM", "C_TRAM", "tram", "C_TRAM", "X_TRAM"},
        {"x_est", "C_EST", "Est", "C_EST", "X_EST"},
    };
    for (const L& l : pedpLookups)
        pedp().addLookupField(QString::fromLatin1(l.name), QString::fromLatin1(l.key),
                              table(QString::fromLatin1(l.table)), QString::fromLatin1(l.lookupKey),
                              QString::fromLatin1(l.result));
    pedp().addCalcField(QStringLiteral("c_pedido"));
    sup().setMaster(&ped(), QStringLiteral("C_PED"), QStringLiteral("C_PED"));

    m_slips = std::make_unique<SlipLookups>(m_prompter);
    // With mail logging on, web-service failures go to the log with their technical reason.
    m_slips->logFailure = [this](const QString& text) {
        if (m_settings && m_settings->onlyIfS(QStringLiteral("LogOpeMail")))
            (void)writeLogLine(m_appDir.folder(), m_clock.now().toString(QStringLiteral("dd/MM/yyyy HH:mm:ss")) +
                                                      QStringLiteral(" - ") + text);
    };
    m_officialRules = std::make_unique<OfficialRequestRules>(*this);
    m_officialRules->install();
    m_personalRules = std::make_unique<PersonalRequestRules>(*this, *m_slips);
    m_personalRules->install();
}

void Tdm::reloadServices() {
    m_slips->setService(nullptr);
    m_slipService.reset();
    m_slipServiceError.clear();
    auto service = makeSoapSlipService(m_appDir.folder(), *m_settings);
    if (service) {
        m_slipService = std::move(service).value();
    } else {
        m_slipServiceError = QString::fromStdString(service.error());
        m_slips->reportFailure("Servicios de boletas", service.error());
    }
    m_slips->setService(m_slipService.get());
}

InternetRetrieval Tdm::internetRetrieval() {
    return InternetRetrieval(*this, *m_slips, *m_personalRules);
}

int Tdm::ObtenerDatosBoleta(const QString& boleta, int nDoc, QString& message) {
    return m_slips->ObtenerDatosBoleta(boleta, nDoc, message);
}

bool Tdm::ObtenerFechaPago(const QString& boleta, QDate& date) {
    return m_slips->ObtenerFechaPago(boleta, date);
}

Dataset* Tdm::table(const QString& component) const {
    auto it = m_tables.find(component.toLower());
    return it == m_tables.end() ? nullptr : it->second.get();
}

void Tdm::terminate() {
    m_terminated = true;
    if (terminateRequested) terminateRequested();
}

namespace {
// Times of the start-up steps, written to the standard error when QEV_STARTUP_TIMES is set (for measuring a start
// on a large folder; the operator never sees them).
class StepTimes {
public:
    StepTimes() : m_on(!qEnvironmentVariableIsEmpty("QEV_STARTUP_TIMES")) { m_clock.start(); }
    ~StepTimes() {
        if (!m_on) return;
        step("other");
        std::fprintf(stderr, "arranque total %.3f s\n", static_cast<double>(m_total) / 1e9);
    }
    // Charges the time since the previous step to `name`.
    void step(const char* name) {
        if (!m_on) return;
        const qint64 ns = m_clock.nsecsElapsed();
        std::fprintf(stderr, "arranque %s %.3f s\n", name, static_cast<double>(ns - m_total) / 1e9);
        m_total = ns;
    }
    StepTimes(const StepTimes&) = delete;
    StepTimes& operator=(const StepTimes&) = delete;

private:
    bool m_on;
    QElapsedTimer m_clock;
    qint64 m_total = 0;
};
} // namespace

bool Tdm::create() {
    StepTimes times;
    m_preparing = true;
    struct EndPreparing {
        Tdm& dm;
        ~EndPreparing() {
            dm.m_preparing = false;
            dm.m_prepared.clear();
        }
    } endPreparing{*this};
    m_receptionIdle = true;
    m_ready = false;
    deleteWorkFiles({QStringLiteral("out.tif"), QStringLiteral("out.bmp")});
    checkIndexes();
    times.step("check");
    if (!upgradeSchema()) {
        terminate();
        return false;
    }
    times.step("schema");
    QString error;
    for (const char* name : {"ped", "pedp"}) {
        const TableSpec* layout = findOfficeTable(QString::fromLatin1(name));
        if (!packTable(layout->fileName, &error))
            m_prompter.error(QStringLiteral("No se pudo empaquetar la tabla \"%1\"").arg(QString::fromLatin1(name)),
                             QStringLiteral("Error"));
    }
    times.step("pack");
    if (!rebuildIndexes()) return false;
    times.step("reindex");
    if (!openTables()) {
        terminate();
        return false;
    }
    times.step("open");
    migratePop3Password();
    if (!checkExportField()) return false;
    // Settings that are fine derive the flags and build the services; a bad reception interval stops before that.
    if (!applySettings()) reloadServices(); // the program runs, with reception off
    createSender();
    times.step("settings");
    return true;
}

bool Tdm::openForCommand() {
    m_receptionIdle = true;
    m_ready = false;
    if (!upgradeSchema() || !openTables()) {
        terminate();
        return false;
    }
    if (!checkExportField()) return false;
    if (!applySettings()) reloadServices();
    m_timer.stop();
    createSender();
    return true;
}

void Tdm::deleteWorkFiles(const QStringList& names) {
    for (const QString& n : names)
        QFile::remove(m_appDir.existingFile(n));
}

// ---- Index check -----------------------------------------------------------------------------------------------

void Tdm::checkIndexes() {
    for (const TableSpec& layout : officeTables()) {
        if (layout.fileName.trimmed().isEmpty()) continue;
        const QString path = m_appDir.existingFile(layout.fileName);
        auto tryOpen = [&]() -> bool { return indexFileSound(path); };
        if (tryOpen()) continue;
        QString failure;
        bool backupExists = false;
        const QString backup =
            QString::fromStdString(dbf::companionFile(path.toStdString(), "_bak.mdx", &backupExists));
        const QString index = QString::fromStdString(dbf::companionFile(path.toStdString(), ".MDX"));
        if (!backupExists) {
            failure = QStringLiteral("ERROR: Al reparar Mdx - Msg: No existe Archivo ") + QFileInfo(backup).fileName();
        } else {
            // The copy replaces the index only while this workstation holds the table exclusively (another one
            // with the table open would go on writing keys into the file it opened, which the copy leaves behind),
            // and through a work file renamed into place, so a copy that fails half-way loses nothing.
            auto held = dbf::Table::open(path.toStdString(), dbf::OpenMode::Exclusive);
            const QString work = index + QStringLiteral(".tmp~");
            QFile::remove(work);
            const bool copied = held && QFile::copy(backup, work) &&
                                std::rename(work.toLocal8Bit().constData(), index.toLocal8Bit().constData()) == 0;
            QFile::remove(work);
            if (held) held.value().reset();
            if (!copied)
                failure = QStringLiteral("ERROR: Al reparar Mdx - Msg: No generar MDX desde el archivo de backup de "
                                         "la tabla ") +
                          layout.fileName;
            else if (!tryOpen())
                failure = QStringLiteral("ERROR: En la apertura de la tabla ") + layout.fileName;
        }
        if (!failure.isEmpty()) {
            m_prompter.error(QStringLiteral("ERROR: Al Chequear tabla - Msg: ") + failure, QStringLiteral("Error"));
            return;
        }
    }
}

// ---- Schema upgrade --------------------------------------------------------------------------------------------

namespace {
struct SchemaStep {
    const char* file;
    const char* field;
    const char* type;
    bool setFalse;       // followed by "UPDATE <file> SET <field> = FALSE"
    const char* message; // null: a failure stops the upgrade with the database's error
};

const SchemaStep kSchemaSteps[] = {
    {"ped.dbf", "X_OAPE", "CHAR(15)", false, nullptr},
    {"ped.dbf", "X_EMAIL", "CHAR(100)", false, nullptr},
    {"org.dbf", "X_EMAIL", "CHAR(100)", false, nullptr},
    {"ped.dbf", "C_PREFIJO", "CHAR(20)", false, nullptr},
    {"ped.dbf", "C_SUFIJO", "CHAR(20)", false, nullptr},
    {"ped.dbf", "C_VERSION", "CHAR(10)", false, nullptr},
    {"pedp.dbf", "C_VERSION", "CHAR(10)", false, nullptr},
    {"pedp.dbf", "F_CAPTURA", "CHAR(20)", false, nullptr},
    {"pedp.dbf", "VERIF_ID", "NUMERIC(8)", false, nullptr},
    {"pedp.dbf", "C_SEGUR", "CHAR(10)", false, "Error al actualizar esquema: tabla pedp campo C_SEGUR"},
    {"pedp.dbf", "C_PAGO_DOMIC", "CHAR(32)", false, "Error al actualizar esquema: tabla pedp campo C_PAGO_DOMIC"},
    {"pedp.dbf", "C_PAGO", "CHAR(32)", false, "Error al actualizar esquema: tabla pedp campo C_PAGO"},
    {"pedp.dbf", "F_PAGO", "Date", false, "Error al actualizar esquema: tabla pedp campo F_PAGO"},
    {"pedp.dbf", "X_RECHAZO", "CHAR(225)", false, "Error al actualizar esquema: tabla pedp campo X_RECHAZO"},
    {"ped.dbf", "X_RECHAZO", "CHAR(225)", false, "Error al actualizar esquema: tabla ped campo X_RECHAZO"},
    {"ped.dbf", "M_MENOR", "BOOLEAN", true, "Error al actualizar esquema: tabla ped campo M_MENOR"},
    {"ped.dbf", "M_TOMA_KRB", "BOOLEAN", true, "Error al actualizar esquema: tabla ped campo M_TOMA_KRB"},
    {"ped.dbf", "M_ESPECIAL", "BOOLEAN", true, "Error al actualizar esquema: tabla ped campo M_ESPECIAL"},
    {"pedp.dbf", "C_CLASDER", "CHAR(5)", false, "Error al actualizar esquema: tabla pedp campo c_clasder"},
    {"pedp.dbf", "C_CLASIZQ", "CHAR(5)", false, "Error al actualizar esquema: tabla pedp campo c_clasizq"},
    {"ped.dbf", "C_CLASDER", "CHAR(5)", false, "Error al actualizar esquema: tabla ped campo c_clasder"},
    {"ped.dbf", "C_CLASIZQ", "CHAR(5)", false, "Error al actualizar esquema: tabla ped campo c_clasizq"},
    {"ped.dbf", "M_EXCART51", "BOOLEAN", true, "Error al actualizar esquema: tabla ped campo m_excart51"},
    {"pedp.dbf", "M_EXCART51", "BOOLEAN", true, "Error al actualizar esquema: tabla pedp campo M_EXCART51"},
    {"pedp.dbf", "C_PREFIJO", "CHAR(20)", false, nullptr},
    {"pedp.dbf", "C_SUFIJO", "CHAR(20)", false, nullptr},
    {"ped.dbf", "C_EST", "CHAR(1)", false, nullptr},
    {"ped.dbf", "C_TDEL", "numeric(4)", false, nullptr},
    {"pedp.dbf", "C_TRAM", "char(1)", false, nullptr},
    {"pedp.dbf", "C_LOGIN", "char(10)", false, nullptr},
    {"ped.dbf", "C_CARPED", "CHAR(1)", false, nullptr},
    {"pedp.dbf", "X_OAPE", "CHAR(15)", false, nullptr},
};

struct Widening {
    const char* file;
    const char* field;
    int from;
    int to;
};
const Widening kWidenings[] = {{"PED.DBF", "N_CAUSA", 8, 15}, {"SUP.DBF", "C_PED", 5, 8}, {"SUP.DBF", "C_REG", 3, 4}};
} // namespace

bool Tdm::upgradeSchema() {
    dbf::sql::SqlRunner sql(m_appDir.folder().toStdString());
    for (const SchemaStep& step : kSchemaSteps) {
        const QString file = QString::fromLatin1(step.file);
        auto schema = dbf::Table::open(m_appDir.existingFile(file).toStdString(), dbf::OpenMode::ReadOnly);
        if (!schema) {
            m_prompter.error(QString::fromStdString(schema.error()), QStringLiteral("Error"));
            return false;
        }
        const bool present = schema.value()->fieldIndex(step.field) >= 0;
        schema.value().reset();
        if (present) continue;
        auto added = sql.run(QStringLiteral("ALTER TABLE \"%1\" ADD %2 %3")
                                 .arg(file, QString::fromLatin1(step.field), QString::fromLatin1(step.type))
                                 .toStdString());
        if (added && step.setFalse)
            added = sql.run(
                QStringLiteral("UPDATE %1 SET %2 = FALSE").arg(file, QString::fromLatin1(step.field)).toStdString());
        if (!added) {
            if (!step.message) {
                m_prompter.error(QString::fromStdString(added.error()), QStringLiteral("Error"));
                return false;
            }
            m_prompter.error(QString::fromLatin1(step.message), QStringLiteral("Error"));
        }
    }
    for (const Widening& w : kWidenings) {
        const std::string path = m_appDir.existingFile(QString::fromLatin1(w.file)).toStdString();
        int length = -1;
        {
            auto t = dbf::Table::open(path, dbf::OpenMode::ReadOnly);
            if (!t) {
                m_prompter.error(QString::fromStdString(t.error()), QStringLiteral("Error"));
                return false;
            }
            const int i = t.value()->fieldIndex(w.field);
            if (i >= 0) length = t.value()->fields()[static_cast<size_t>(i)].length;
        }
        if (length != w.from) continue;
        auto r = dbf::widenField(path, w.field, w.to);
        if (!r) {
            m_prompter.error(QString::fromStdString(r.error()), QStringLiteral("Error"));
            return false;
        }
    }
    return true;
}

// ---- Packing, index rebuild, opening -----------------------------------------------------------------------------

bool Tdm::packTable(const QString& fileName, QString* error) {
    Dataset* ds = nullptr;
    for (Dataset* d : m_order)
        if (d->tableSpec().fileName.compare(fileName, Qt::CaseInsensitive) == 0) ds = d;
    if (ds) ds->close();
    // The key index is named, not built: the pack builds it in the same pass over the rows.
    TableSpec layout;
    if (ds)
        layout = ds->tableSpec();
    else
        layout.fileName = fileName;
    auto t = openOfficeTable(m_appDir.folder(), layout, dbf::OpenMode::Exclusive, false);
    if (!t) {
        if (error)
            *error = QStringLiteral("Table must be opened exclusive to pack: ") + QString::fromStdString(t.error());
        return false;
    }
    auto packed = t.value()->pack();
    if (!packed) {
        if (error) *error = QString::fromStdString(packed.error());
        return false;
    }
    // The table was held exclusively from the pack on: its index, regenerated by the pack, is the one the index
    // rebuild of the start-up would produce.
    if (m_preparing && ds) m_prepared[ds] = std::move(t).value();
    return true;
}

bool Tdm::rebuildIndexes() {
    std::unique_ptr<ProgressSink> progress = reindexWindow ? reindexWindow() : nullptr;
    std::vector<bool> wasOpen;
    for (Dataset* d : m_order) {
        wasOpen.push_back(d->active());
        d->close();
    }
    const int count = static_cast<int>(m_order.size());
    for (int i = 0; i < count; ++i) {
        Dataset* d = m_order[static_cast<size_t>(i)];
        if (d->tableSpec().fileName.trimmed().isEmpty()) continue;
        std::unique_ptr<dbf::Table> exclusive;
        if (auto held = m_prepared.find(d); held != m_prepared.end()) {
            exclusive = std::move(held->second); // packed a moment ago, its indexes regenerated by the pack
            m_prepared.erase(held);
        } else if (auto opened = openOfficeTable(m_appDir.folder(), d->tableSpec(), dbf::OpenMode::Exclusive, false)) {
            // One pass over the rows regenerates the key index and the production index. At start a .MDX that
            // already holds exactly these keys is kept; the rebuild from the menu writes it anew.
            if (opened.value()->regenerateIndexFile(!m_preparing)) exclusive = std::move(opened).value();
        }
        if (exclusive) backUpIndexFile(exclusive->path());
        if (!exclusive) {
            m_prompter.error(
                QStringLiteral("No existe la tabla: %1 .Comuniquese con el soporte  técnico de QEV Central.")
                        .arg(d->name()) +
                    QLatin1Char('\r') + supportContact(),
                QStringLiteral("Error"));
            terminate();
            return false;
        }
        // The regenerated table becomes the component's own open, shared again, when the component is to be open.
        const bool reopen = wasOpen[static_cast<size_t>(i)] || m_preparing;
        if (reopen && !d->exclusive() && exclusive->share()) {
            if (m_preparing && !wasOpen[static_cast<size_t>(i)])
                m_prepared[d] = std::move(exclusive);
            else if (!d->open(std::move(exclusive)))
                return false;
        } else {
            exclusive.reset();
            if (wasOpen[static_cast<size_t>(i)] && !d->open()) return false;
        }
        if (progress) progress->setProgress((i + 1) * 100 / count);
        QCoreApplication::processEvents();
    }
    return true;
}

bool Tdm::openTables() {
    static const char* const kOpenOrder[] = {"tram", "org",     "prov", "ped",    "amb", "nac",  "tdoc",
                                             "sexo", "prior",   "pedp", "sup",    "Est", "expp", "res",
                                             "usu",  "estcent", "tdel", "carped", "url"};
    for (const char* name : kOpenOrder) {
        Dataset* d = table(QString::fromLatin1(name));
        auto prepared = m_prepared.find(d);
        if (prepared == m_prepared.end()) {
            if (!d->open()) return false;
            continue;
        }
        std::unique_ptr<dbf::Table> t = std::move(prepared->second);
        m_prepared.erase(prepared);
        if (!d->open(std::move(t))) return false;
    }
    m_prepared.clear(); // a table prepared for a component that is not opened here is let go
    return true;
}

void Tdm::migratePop3Password() {
    if (!m_settings->exists(QStringLiteral("pop3Pass"))) return;
    const QString plain = m_settings->read(QStringLiteral("pop3Pass"));
    // Store the new form before the old row goes, so that a failure loses nothing.
    if (!m_settings->write(QStringLiteral("pop3PwdE"), complementText(plain))) return;
    m_settings->remove(QStringLiteral("pop3Pass"));
}

bool Tdm::checkExportField() {
    if (table(QStringLiteral("tdoc"))->hasField(QStringLiteral("C_EXPORT"))) return true;
    m_prompter.error(QStringLiteral("Debe actualizar las tablas. Por favor, \rpongase en contacto con: ") +
                         supportContact(),
                     QStringLiteral("Error"));
    terminate();
    return false;
}

// ---- Settings --------------------------------------------------------------------------------------------------

void Tdm::setLiveScanFromSettings() {
    const QString ls = m_settings->read(QStringLiteral("LiveScan"));
    m_liveScan = !ls.isEmpty() && ls != QStringLiteral("Ninguno");
}

void Tdm::deriveFlags() {
    Settings& s = *m_settings;
    m_maxAnswers = s.number(QStringLiteral("max_contes"), 1);
    m_accessControl = s.onlyIfS(QStringLiteral("m_segur"));
    m_printPersonalAnswer = s.onlyIfS(QStringLiteral("m_impconfp"));
    m_nominative = s.onlyIfS(QStringLiteral("m_nomi"));
    m_documentsMandatory = s.unlessN(QStringLiteral("m_obli_doc"));
    setLiveScanFromSettings();
    m_homeService = s.onlyIfS(QStringLiteral("m_domic"));
    m_checkSlip = s.unlessN(QStringLiteral("m_chkdatbol"));
    m_autoPrint = s.unlessN(QStringLiteral("m_impauto"));
    reloadServices();
}

bool Tdm::applySettings() {
    Settings& s = *m_settings;
    const QString frec = s.read(QStringLiteral("frec_recep"));
    int minutes = 0;
    if (!parseWholeNumber(frec, minutes)) {
        m_timer.stop();
        m_prompter.error(QStringLiteral("'%1' no es un valor entero válido").arg(frec), QStringLiteral("Error"));
        return false;
    }
    if (minutes > 0)
        m_timer.start(minutes * 60000);
    else
        m_timer.stop(); // an interval of 0 never fires
    deriveFlags();
    const QString fecpago = s.read(QStringLiteral("m_fecpago"));
    if (fecpago != QStringLiteral("S") && fecpago != QStringLiteral("N"))
        s.write(QStringLiteral("m_fecpago"), QStringLiteral("S"));
    int days = 0;
    if (!parseWholeNumber(s.read(QStringLiteral("dias_fpago")), days) || days <= 0)
        s.write(QStringLiteral("dias_fpago"), QStringLiteral("365"));
    const QString domic = s.read(QStringLiteral("m_domic"));
    if (domic != QStringLiteral("S") && domic != QStringLiteral("N"))
        s.write(QStringLiteral("m_domic"), QStringLiteral("N"));
    m_homeService = s.onlyIfS(QStringLiteral("m_domic"));
    m_ready = true;
    return true;
}

// ---- Record helpers ----------------------------------------------------------------------------------------------

double Tdm::nextNumber(const QString& objectName) {
    return nextSequenceNumber(m_appDir.folder(), objectName, m_prompter);
}

bool Tdm::assignKey(Dataset& ds, const QString& keyField) {
    const double n = nextNumber(ds.name());
    if (n <= 0) return false;
    return ds.setValue(keyField, Value(n));
}

bool Tdm::requiredField(const Value& v, const QString& label) {
    return requiredFieldMissing(m_prompter, v, label);
}

bool Tdm::nameCharacters(const Value& v) {
    return validNameCharacters(m_prompter, v);
}

bool Tdm::checkSavePermission() {
    const bool allowed = m_savePermission;
    m_savePermission = false;
    if (!allowed)
        m_prompter.warn(QStringLiteral("Se han modificado los datos de este registro.\rPresione en el navegador el "
                                       "tilde para grabar\ro la equis para cancelar."),
                        QStringLiteral("Advertencia"));
    return allowed;
}

QString Tdm::requestFile(const Dataset& ds, QChar kind) const {
    const bool personal = ds.name().compare(QStringLiteral("pedp"), Qt::CaseInsensitive) == 0;
    const QString prefix = personal ? QString(kind) + QLatin1Char('p') : QString(kind);
    return requestFileName(prefix, ds.value(QStringLiteral("C_PED")), ds.value(QStringLiteral("C_REG")));
}

namespace {
// Work files are named relative to the office folder ("edit.tif"); other callers pass full paths.
QString inFolder(const AppDir& dir, const QString& file) {
    return QFileInfo(file).isAbsolute() ? file : dir.existingFile(file);
}
} // namespace

bool Tdm::ValidarImagenHuella(const QString& file) {
    return qev::ValidarImagenHuella(inFolder(m_appDir, file), m_prompter);
}

bool Tdm::ValidarImagenDocumento(const QString& file) {
    return qev::ValidarImagenDocumento(inFolder(m_appDir, file), m_prompter);
}

// ---- Purge -------------------------------------------------------------------------------------------------------

void Tdm::purgeAnswered() {
    std::unique_ptr<ProgressSink> progress = purgeWindow ? purgeWindow() : nullptr;
    auto step = [&progress](int p) {
        if (progress) progress->setProgress(p);
    };
    int days = 15;
    if (!parseWholeNumber(m_settings->read(QStringLiteral("dur_guarda")), days)) days = 15;
    const QDate cutoff = m_clock.today().addDays(-days);
    const dbf::sql::Params params{
        {"f_con", Value(dbf::DateTime{dbf::Date{cutoff.year(), cutoff.month(), cutoff.day()}, 0})}};
    dbf::sql::SqlRunner sql(m_appDir.folder().toStdString());

    struct Pass {
        const char* file;
        const char* condition;
        QStringList prefixes;
        const char* component;
        int selected, deleted, packed;
    };
    const Pass passes[] = {
        {"ped.dbf",
         "WHERE (m_contesta = True) and (f_con IS NOT NULL) and (f_con < :f_con)",
         {QStringLiteral("h"), QStringLiteral("z"), QStringLiteral("c")},
         "ped",
         16,
         32,
         48},
        {"pedp.dbf",
         "WHERE (c_est = \"C\") and (f_con IS NOT NULL) and (f_con < :f_con)",
         {QStringLiteral("hp"), QStringLiteral("zp"), QStringLiteral("cp"), QStringLiteral("dp")},
         "pedp",
         48,
         64,
         100},
    };
    for (const Pass& pass : passes) {
        const QString rest =
            QStringLiteral("FROM \"%1\" \n%2").arg(QString::fromLatin1(pass.file), QString::fromLatin1(pass.condition));
        auto rows = sql.run((QStringLiteral("SELECT c_ped, c_reg \n") + rest).toStdString(), params);
        step(pass.selected);
        if (!rows) {
            m_prompter.error(QString::fromStdString(rows.error()), QStringLiteral("Error"));
            continue;
        }
        if (rows->rows.empty()) continue;
        for (const auto& row : rows->rows)
            for (const QString& prefix : pass.prefixes) {
                const QString name = requestFileName(prefix, row[0], row[1]);
                if (!name.isEmpty()) QFile::remove(m_appDir.existingFile(name));
            }
        auto deleted = sql.run((QStringLiteral("DELETE \n") + rest).toStdString(), params);
        if (!deleted) {
            m_prompter.error(QString::fromStdString(deleted.error()), QStringLiteral("Error"));
            continue;
        }
        step(pass.deleted);
        table(QString::fromLatin1(pass.component))->close();
        QString error;
        if (!packTable(findOfficeTable(QString::fromLatin1(pass.component))->fileName, &error)) step(pass.packed);
    }
    step(100);
}

// ---- Reception -----------------------------------------------------------------------------------------------------

void Tdm::runReceptionCycle() {
    if (!m_receptionIdle) return;
    if (ped().editing() || pedp().editing()) return; // the next tick tries again
    m_receptionIdle = false;
    struct Restore {
        bool& flag;
        ~Restore() { flag = true; }
    } restore{m_receptionIdle};
    if (!m_ready) return;
    ++m_receptionsRun;
    if (!m_reception) {
        mailReception().RecibirCorreo(m_ready);
        return;
    }
    if (m_settings->onlyIfS(QStringLiteral("usaOutlook")))
        m_reception->receiveOutlook();
    else
        m_reception->receivePop3();
}

void Tdm::timerTick() {
    if (automaticReceptionOff && automaticReceptionOff()) {
        m_timer.stop();
        return;
    }
    runReceptionCycle();
}

} // namespace qev
