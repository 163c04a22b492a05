#pragma once
// The data module: owns every table cursor of the office folder, the settings and the flags derived from them,
// the record helpers, the reception timer and its guards, and the start-up preparation of the tables (index check,
// schema upgrade, packing, index rebuild, opening, settings normalisation).
#include "core/Dataset.h"
#include "core/Settings.h"
#include "exchange/ReceptionPorts.h"
#include "exchange/RequestSending.h"
#include "exchange/SendLog.h"
#include "requests/InternetRetrieval.h"
#include "requests/RequestHost.h"
#include "util/AppDir.h"
#include <QObject>
#include <QTimer>
#include <functional>
#include <map>
#include <memory>

namespace qev {

class CentralState;
class Clock;
class FolderReceptionViews;
class HostIdentity;
class MailReception;
class PdfAnswerPrinter;
class ReplyHandlers;
class OfficialRequestRules;
class PersonalRequestRules;
class Prompter;
class SlipLookups;
class SlipService;
class SqlQuery;
class TdmMail;
class TSMimeReg;

// Progress of a long maintenance operation, shown by a window in the program and ignored in tests.
class ProgressSink {
public:
    virtual ~ProgressSink() = default;
    virtual void setProgress(int percent) = 0;
};

// The mail reception that the reception cycle runs (POP3 or the Outlook inbox).
class Reception {
public:
    virtual ~Reception() = default;
    virtual void receiveOutlook() = 0;
    virtual void receivePop3() = 0;
};

class Tdm : public QObject, public RequestHost, public PackageHost, public ReplyHost {
    Q_OBJECT
public:
    Tdm(const AppDir& appDir, Prompter& prompter, const Clock& clock, QObject* parent = nullptr);
    ~Tdm() override;

    // Windows that show progress for the index rebuild and the purge; null runs without one.
    std::function<std::unique_ptr<ProgressSink>()> reindexWindow;
    std::function<std::unique_ptr<ProgressSink>()> purgeWindow;
    // Called when the program must end (a damaged table, tables older than the program).
    std::function<void()> terminateRequested;

    // The start-up preparation, in order. False when the program must end.
    [[nodiscard]] bool create();
    // What an administrator's command needs while workstations may have the folder open: the tables opened and
    // the settings applied, with no packing and no index rebuild, and no reception timer.
    [[nodiscard]] bool openForCommand();
    bool terminated() const { return m_terminated; }

    const AppDir& appDir() const override { return m_appDir; }
    Prompter& prompter() override { return m_prompter; }
    const Clock& clock() const override { return m_clock; }
    Settings& settings() override { return *m_settings; }

    // Table cursors by component name ("ped", "pedp", "sup", "org", "amb", "usu", "url", lookups...).
    Dataset* table(const QString& component) const override;
    Dataset& ped() const { return *table(QStringLiteral("ped")); }
    Dataset& pedp() const { return *table(QStringLiteral("pedp")); }
    Dataset& sup() const { return *table(QStringLiteral("sup")); }
    Dataset& org() const { return *table(QStringLiteral("org")); }
    Dataset& amb() const { return *table(QStringLiteral("amb")); }
    Dataset& usu() const { return *table(QStringLiteral("usu")); }
    Dataset& url() const { return *table(QStringLiteral("url")); }
    // Every table component in the module's order.
    const std::vector<Dataset*>& tables() const { return m_order; }
    // SQL data sets of the query windows: the official requests with their organisation by sending state (`cped`,
    // parameters :m_enviado and :m_contesta) and all of them (`cpedT`), and two whose statements the windows set.
    SqlQuery& cped() const { return *m_cped; }
    SqlQuery& cpedT() const { return *m_cpedT; }
    SqlQuery& qConsulta() const { return *m_qConsulta; }
    SqlQuery& qSup() const { return *m_qSup; }

    // Flags.
    bool receptionIdle() const { return m_receptionIdle; }
    void setReceptionIdle(bool idle) { m_receptionIdle = idle; }
    bool ready() const { return m_ready; }
    const QString& versionText() const override { return m_version; }
    void setVersionText(const QString& v) { m_version = v; }
    bool accessControl() const { return m_accessControl; }
    bool printPersonalAnswer() const { return m_printPersonalAnswer; }
    bool nominative() const { return m_nominative; }
    bool documentsMandatory() const override { return m_documentsMandatory; }
    bool liveScan() const override { return m_liveScan; }
    bool homeService() const override { return m_homeService; }
    bool checkSlip() const override { return m_checkSlip; }
    bool autoPrint() const { return m_autoPrint; }
    int maxAnswers() const { return m_maxAnswers; }
    void setLiveScanFromSettings();
    // Re-reads the flags a window may change (configuration window).
    void deriveFlags();
    QString officeName() const { return m_settings->read(QStringLiteral("x_reg")); }
    QString loggedUser() const override { return m_user; }
    QString loggedPassword() const { return m_password; }
    // The verification number of a biometric log-in.
    const QString& verifId() const { return m_verifId; }
    void setVerifId(const QString& id) { m_verifId = id; }
    void setLogin(const QString& user, const QString& password) {
        m_user = user;
        m_password = password;
    }

    // Record helpers.
    double nextNumber(const QString& objectName) override;
    bool assignKey(Dataset& ds, const QString& keyField);
    bool requiredField(const dbf::Value& v, const QString& label);
    bool nameCharacters(const dbf::Value& v);
    void setSavePermission(bool allowed) override { m_savePermission = allowed; }
    bool checkSavePermission() override;
    // File of the current row of `ds` ("ped" or "pedp") for a kind: "h" card, "z" livescan, "d" documents,
    // "c" answer image (the personal request prefixes add "p").
    QString requestFile(const Dataset& ds, QChar kind) const override;
    // The card and documentation image checks, with their messages shown through the module's prompter.
    bool ValidarImagenHuella(const QString& file) override;
    bool ValidarImagenDocumento(const QString& file) override;

    // Request rules and the slip lookups they make on the central office's services.
    OfficialRequestRules& officialRules() { return *m_officialRules; }
    PersonalRequestRules& personalRules() { return *m_personalRules; }
    SlipLookups& slips() { return *m_slips; }
    // The central office's slip services used by the lookups and the internet retrieval: the address of the
    // workstation file and the proxy of the settings, read again whenever the flags are. Null (and the reason in
    // `slipServiceError`) when they cannot be used.
    void reloadServices();
    SlipService* slipService() const { return m_slipService.get(); }
    const QString& slipServiceError() const { return m_slipServiceError; }
    // The retrieval of internet-filed requests into new personal requests.
    InternetRetrieval internetRetrieval();
    int ObtenerDatosBoleta(const QString& boleta, int nDoc, QString& message);
    bool ObtenerFechaPago(const QString& boleta, QDate& date);

    // Sending to the central office: the mail account, the message sender (made at the end of the start-up, or
    // on first use), the sending log of the run and the workstation's identity (the system's unless replaced).
    TdmMail& mail();
    TSMimeReg& sender();
    void createSender();
    SendLog& sendLog() { return m_sendLog; }
    const HostIdentity& hostIdentity() const { return *m_hostIdentity; }
    void setHostIdentity(std::unique_ptr<HostIdentity> id);
    // The three sends of the current request; true when it was handed over and marked as sent.
    bool EnviarPedidoOficial();
    bool EnviarPedidoPersonal();
    bool EnviarCorreccionPersonal();

    // Maintenance.
    [[nodiscard]] bool rebuildIndexes();
    void purgeAnswered();
    [[nodiscard]] bool packTable(const QString& fileName, QString* error);
    // Deletes the given work files of the folder; a missing file is not an error.
    void deleteWorkFiles(const QStringList& names);

    // Receiving the central office's replies: the POP3 reception, the reply handlers, the central-state services.
    // Their results are shown by `views` (the windows), else written to the office folder's logs; answers are
    // printed by `printer`, else to PDF files in the office folder.
    MailReception& mailReception();
    ReplyHandlers& replies();
    CentralState& centralState();
    void setReceptionViews(ReceptionViews* views);
    void setAnswerPrinter(AnswerPrinter* printer);
    FolderReceptionViews& folderViews();
    PdfAnswerPrinter& pdfPrinter();

    // Reception cycle and its timer.
    QTimer& timer() { return m_timer; }
    // Stops the reception timer while a capture window is open and starts it again when the pause ends, but only
    // when it was running before (a timer switched off by the settings stays off).
    class ReceptionPause {
    public:
        explicit ReceptionPause(QTimer& timer) : m_timer(timer), m_wasActive(timer.isActive()) { m_timer.stop(); }
        ~ReceptionPause() {
            if (m_wasActive) m_timer.start();
        }
        ReceptionPause(const ReceptionPause&) = delete;
        ReceptionPause& operator=(const ReceptionPause&) = delete;

    private:
        QTimer& m_timer;
        bool m_wasActive;
    };
    [[nodiscard]] ReceptionPause pauseReception() { return ReceptionPause(m_timer); }
    void setReception(Reception* r) { m_reception = r; }
    // Consulted on every tick: true when the operator switched automatic reception off. Without a reception set
    // (tests set one), the cycle runs the mail reception.
    std::function<bool()> automaticReceptionOff;
    void runReceptionCycle();
    void timerTick();
    // Number of cycles that reached the mail reception (for status and tests).
    int receptionsRun() const { return m_receptionsRun; }

    // Start-up steps, public so that the tests can run them one at a time.
    void checkIndexes();
    [[nodiscard]] bool upgradeSchema();
    [[nodiscard]] bool openTables();
    void migratePop3Password();
    [[nodiscard]] bool checkExportField();
    [[nodiscard]] bool applySettings();

Q_SIGNALS:
    void statusText(const QString& text);

private:
    void setupTables();
    void terminate();

    AppDir m_appDir;
    Prompter& m_prompter;
    const Clock& m_clock;
    std::map<QString, std::unique_ptr<Dataset>> m_tables; // by lower-case component
    std::vector<Dataset*> m_order;
    std::unique_ptr<SqlQuery> m_cped, m_cpedT, m_qConsulta, m_qSup;
    std::unique_ptr<Settings> m_settings;
    QTimer m_timer;
    Reception* m_reception = nullptr;
    std::unique_ptr<SlipService> m_slipService;
    QString m_slipServiceError;
    std::unique_ptr<SlipLookups> m_slips;
    std::unique_ptr<OfficialRequestRules> m_officialRules;
    std::unique_ptr<PersonalRequestRules> m_personalRules;
    SendLog m_sendLog;
    std::unique_ptr<HostIdentity> m_hostIdentity;
    std::unique_ptr<TdmMail> m_mail;
    std::unique_ptr<TSMimeReg> m_sender;
    std::unique_ptr<RequestSending> m_sending;
    std::unique_ptr<FolderReceptionViews> m_folderViews;
    std::unique_ptr<PdfAnswerPrinter> m_pdfPrinter;
    ReceptionViews* m_views = nullptr;
    AnswerPrinter* m_printer = nullptr;
    std::unique_ptr<ReplyHandlers> m_replies;
    std::unique_ptr<MailReception> m_mailReception;
    std::unique_ptr<CentralState> m_centralState;

    bool m_receptionIdle = true;
    bool m_ready = false;
    bool m_terminated = false;
    // While the start-up prepares the tables: each table, taken exclusively for its pack and index regeneration,
    // is kept open (turned shared) and handed to its component when that opens, so no table is read twice.
    bool m_preparing = false;
    std::map<Dataset*, std::unique_ptr<dbf::Table>> m_prepared;
    bool m_savePermission = false;
    QString m_version = QStringLiteral("2.37");
    bool m_accessControl = false;
    bool m_printPersonalAnswer = false;
    bool m_nominative = false;
    bool m_documentsMandatory = true;
    bool m_liveScan = false;
    bool m_homeService = false;
    bool m_checkSlip = true;
    bool m_autoPrint = true;
    int m_maxAnswers = 1;
    int m_receptionsRun = 0;
    QString m_user;
    QString m_password;
    QString m_verifId;
};

// A production index is damaged when the table's header flags one and the .MDX is missing, does not parse page by
// page, or has not exactly one key per record in each tag.
bool indexFileSound(const QString& tablePath);
// The support contact appended to messages about damaged or outdated tables.
QString supportContact();

} // namespace qev
