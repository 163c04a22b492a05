// The composition root: fixed formats, the office folder, the single-instance guard, the data module, the main
// window and every window it opens.
#include "core/OfficeSchema.h"
#include "core/ui/QtPrompter.h"
#include "core/ui/TAboutBox.h"
#include "core/ui/TCambClave.h"
#include "core/ui/TFAdminUsu.h"
#include "core/ui/TFConfig.h"
#include "core/ui/TFInfMensual.h"
#include "core/ui/TFListado.h"
#include "core/ui/TFMenu.h"
#include "core/ui/TFReindex.h"
#include "core/ui/TFreporte.h"
#include "core/ui/TPedirClave.h"
#include "dm/Tdm.h"
#include "exchange/CentralState.h"
#include "exchange/MailReception.h"
#include "exchange/TSMime.h"
#include "exchange/mail/TdmMail.h"
#include "exchange/ui/TFConfigMail.h"
#include "exchange/ui/TFEstCent.h"
#include "exchange/ui/TFInboxMail.h"
#include "exchange/ui/TFMailCheck.h"
#include "exchange/ui/TFNewMail.h"
#include "exchange/ui/TFVerConfig.h"
#include "reports/GridReport.h"
#include "reports/ui/AnswerPrinting.h"
#include "reports/ui/ReportPreview.h"
#include "reports/ui/TFInformes.h"
#include "requests/PersonalRequestRules.h"
#include "requests/ui/TFCompPedBol.h"
#include "requests/ui/TFConsOrg.h"
#include "requests/ui/TFConsPed.h"
#include "requests/ui/TFConsulta.h"
#include "requests/ui/TFOrg.h"
#include "requests/ui/TFPedP.h"
#include "requests/ui/TFSelInternet.h"
#include "requests/ui/TFbped.h"
#include "requests/ui/TFped.h"
#include "requests/ui/UnsentPersonalList.h"
#include "util/Clock.h"

#include "capture/CardCapture.h"
#include "capture/DocumentCapture.h"
#include "capture/LiveScanSession.h"
#include "capture/ScanSetup.h"
#include "capture/ui/ImageView.h"
#include "capture/ui/TFBioVerif.h"
#include "capture/ui/TFConfigLiveScan.h"
#include "capture/ui/TFDigFich.h"
#include "capture/ui/TFImgDig.h"
#include "capture/ui/TFLiveScanPlano.h"
#include "capture/ui/TFVerDedo.h"
#include "capture/ui/TFVerImg.h"
#include "capture/ui/TTwainCaps.h"
#include "capture/ui/TTwainForm.h"
#include "exchange/BioQEV.h"
#include "platform/LiveScan.h"
#include "platform/LiveScanPrograms.h"
#include "platform/SaneScanner.h"
#include "platform/SimulatedLiveScan.h"
#include "reports/TrpFicha.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QLocalServer>
#include <QLocalSocket>
#include <QScreen>
#include <QStandardPaths>
#include <QTimer>
#include <QTranslator>
#include <cstdio>

using namespace qev;

namespace {

// The reception's results in the program's windows: the activity window, the state window and the status bar.
class WindowReceptionViews final : public ReceptionViews {
public:
    WindowReceptionViews(TFreporte& reporte, TFMenu& menu) : m_reporte(reporte), m_menu(menu) {}
    void setStateWindow(TFEstCent* w) { m_estCent = w; }
    void activityLine(const QString& line) override { m_reporte.addLine(line); }
    void showActivity() override {
        if (!m_reporte.isVisible()) m_reporte.show();
    }
    void clearStates() override {
        if (m_estCent) m_estCent->clearText();
    }
    void stateLine(const QString& line) override {
        if (m_estCent) m_estCent->appendLine(line);
    }
    void showStates() override {
        if (m_estCent && !m_estCent->isVisible()) m_estCent->show();
    }
    void stateStatus(const QString& text) override {
        if (m_estCent) m_estCent->setStatus(text);
    }
    void status(const QString& text) override { m_menu.setStatusText(text); }

private:
    TFreporte& m_reporte;
    TFMenu& m_menu;
    TFEstCent* m_estCent = nullptr;
};

// The BMP to WSQ converter: beside the program, else where the build tree keeps it.
QString converterProgram() {
    const QString here = QCoreApplication::applicationDirPath();
    for (const QString& candidate :
         {here + QStringLiteral("/bmp2wsq"), here + QStringLiteral("/../../tools/bmp2wsq/bmp2wsq")})
        if (QFileInfo(candidate).isExecutable()) return QFileInfo(candidate).canonicalFilePath();
    return here + QStringLiteral("/bmp2wsq");
}

// The office folder: --folder, else the program's folder when it holds the tables, else the user's data folder
// (created with fresh tables on first use).
QString chooseFolder(const QString& given, QString* error) {
    if (!given.isEmpty()) {
        QDir d(given);
        if (!d.exists() && !QDir().mkpath(given)) {
            *error = QStringLiteral("No se pudo crear la carpeta %1").arg(given);
            return {};
        }
        if (existingOfficeFiles(d.absolutePath()).isEmpty() && !createOfficeFolder(d.absolutePath(), false, error))
            return {};
        return d.absolutePath();
    }
    const QString exeDir = QCoreApplication::applicationDirPath();
    if (QFileInfo::exists(AppDir(exeDir).existingFile(QStringLiteral("PED.DBF")))) return exeDir;
    const QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QDir().mkpath(data);
    if (existingOfficeFiles(data).isEmpty() && !createOfficeFolder(data, false, error)) return {};
    return data;
}

QString instanceName() {
    // Tests run their own instances side by side with a running program.
    const QString forTests = qEnvironmentVariable("QEV_INSTANCE_NAME");
    if (!forTests.isEmpty()) return forTests;
    QString user = qEnvironmentVariable("USER");
    if (user.isEmpty()) user = QStringLiteral("usuario");
    return QStringLiteral("qev-regional-") + user;
}

} // namespace

int main(int argc, char** argv) {
    // Fixed conversions, whatever the workstation's regional settings: the program formats dates, times and
    // amounts itself (dd/MM/yyyy, HH:MM, "$" before the amount) and reads numbers with a decimal point.
    QLocale::setDefault(QLocale::c());
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("qev-regional"));
    QApplication::setApplicationDisplayName(QStringLiteral("QEV - Regional"));
    QTranslator qtSpanish;
    if (qtSpanish.load(QStringLiteral("qtbase_es"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtSpanish);

    QCommandLineParser parser;
    parser.addHelpOption();
    QCommandLineOption folderOpt(QStringLiteral("folder"), QStringLiteral("Carpeta de la oficina."),
                                 QStringLiteral("carpeta"));
    QCommandLineOption shotOpt(QStringLiteral("screenshot"),
                               QStringLiteral("Guarda una imagen de la ventana principal y termina."),
                               QStringLiteral("archivo"));
    QCommandLineOption windowOpt(QStringLiteral("ventana"),
                                 QStringLiteral("Con --screenshot: la ventana a capturar (TFConfig, TFAdminUsu...)."),
                                 QStringLiteral("nombre"));
    QCommandLineOption imageOpt(QStringLiteral("imagen"),
                                QStringLiteral("Con --screenshot: la imagen a mostrar en la ventana de captura."),
                                QStringLiteral("archivo"));
    QCommandLineOption scanFolderOpt(QStringLiteral("scanner-carpeta"),
                                     QStringLiteral("Toma las páginas digitalizadas de los archivos de imagen de una "
                                                    "carpeta en lugar de un scanner."),
                                     QStringLiteral("carpeta"));
    parser.addOption(imageOpt);
    parser.addOption(scanFolderOpt);
    QCommandLineOption readyOpt(
        QStringLiteral("exit-when-ready"),
        QStringLiteral("Termina con estado 0 en cuanto las tablas están preparadas y la ventana "
                       "principal se muestra (para medir el arranque)."));
    parser.addOption(windowOpt);
    parser.addOption(readyOpt);
    parser.addOption(folderOpt);
    parser.addOption(shotOpt);
    parser.process(app);

    // Single instance: a second start brings the first window forward and touches no table.
    {
        QLocalSocket probe;
        probe.connectToServer(instanceName());
        if (probe.waitForConnected(500)) {
            probe.write("raise\n");
            probe.waitForBytesWritten(500);
            std::fprintf(stderr, "QEV Regional ya está en ejecución.\n");
            return 0;
        }
    }
    QLocalServer::removeServer(instanceName());
    QLocalServer instance;
    instance.listen(instanceName());

    QString error;
    const QString folder = chooseFolder(parser.value(folderOpt), &error);
    if (folder.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    QDir::setCurrent(folder);
    const AppDir appDir(folder);

    SystemClock clock;
    QtPrompter prompter;
    Tdm dm(appDir, prompter, clock);
    TFMenu menu(dm, prompter);
    prompter.setParent(&menu);
    QObject::connect(&instance, &QLocalServer::newConnection, &menu, [&instance, &menu] {
        while (QLocalSocket* s = instance.nextPendingConnection()) {
            s->deleteLater();
            menu.showMaximized();
            menu.raise();
            menu.activateWindow();
        }
    });
    QObject::connect(&dm, &Tdm::statusText, &menu, &TFMenu::setStatusText);

    bool ended = false;
    dm.terminateRequested = [&ended] { ended = true; };
    dm.reindexWindow = [&menu]() -> std::unique_ptr<ProgressSink> { return std::make_unique<TFReindex>(&menu); };
    if (!dm.create() || ended) return 1;

    // Every window is created once and shown and hidden.
    TFConfig config(dm, prompter, &menu);
    TFreporte reporte(folder, prompter, &menu);
    TFInfMensual infMensual(dm, prompter, &menu);
    TFAdminUsu adminUsu(dm, prompter, &menu);
    TAboutBox about(&menu);
    TFListado listado(&menu);
    TFRecEst recEst(&menu);
    dm.mail().setProgress(&recEst);
    TFVerConfig verConfig(
        dm.sendLog(), [&dm]() -> TSMime& { return dm.sender(); }, prompter, &menu);
    TInfoWnd infoWnd(&menu);
    TFSplash splash(&menu);
    reports::TFInformes informes(dm, prompter, clock, &menu);
    listado.setPrintHandler([&prompter, &listado](const QString& title, const QString& text) {
        reports::previewReport(reports::textListLayout(title, text), prompter, &listado);
    });
    // Reception: its results in the windows, answers on the default printer (else PDF in the office folder).
    WindowReceptionViews receptionViews(reporte, menu);
    dm.setReceptionViews(&receptionViews);
    reports::SystemAnswerPrinter answerPrinter(dm);
    dm.setAnswerPrinter(&answerPrinter);
    TFEstCent estCent(dm.centralState(), folder, &menu);
    receptionViews.setStateWindow(&estCent);
    config.proxySettingsChanged = [&dm] { (void)dm.centralState().ConfigurarProxy(); };
    menu.registerWindow(QStringLiteral("RecepcionCorreo"), [&dm] { dm.runReceptionCycle(); });
    menu.registerWindow(QStringLiteral("TFEstCent"), [&estCent] { estCent.show(); });
    // The mail windows of the Envio menu.
    TFConfigMail configMail(dm, prompter, &menu);
    TFMailCheck mailCheck(dm.mail(), &menu);
    TFNewMail newMail(dm.mail(), prompter, &menu);
    TFInboxMail inboxMail(dm, prompter, &menu);
    inboxMail.openNewMail = [&newMail] { newMail.openWindow(); };
    inboxMail.openConfig = [&configMail] { configMail.openWindow(); };
    inboxMail.openCheck = [&mailCheck] { (void)mailCheck.run(); };
    menu.registerWindow(QStringLiteral("TFConfigMail"), [&configMail] { configMail.openWindow(); });
    menu.registerWindow(QStringLiteral("TFMailCheck"), [&mailCheck] { (void)mailCheck.run(); });
    menu.registerWindow(QStringLiteral("TFInboxMail"), [&inboxMail] { inboxMail.openWindow(); });
    menu.registerWindow(QStringLiteral("TFNewMail"), [&newMail] { newMail.openWindow(); });
    menu.registerWindow(QStringLiteral("TFConfig"), [&config] { config.exec(); });
    menu.registerWindow(QStringLiteral("TFVerConfig"), [&verConfig] { verConfig.exec(); });
    menu.registerWindow(QStringLiteral("TFreporte"), [&reporte] { reporte.show(); });
    menu.registerWindow(QStringLiteral("TFInfMensual"), [&infMensual] { infMensual.exec(); });
    menu.registerWindow(QStringLiteral("TFInformes"), [&informes] { informes.exec(); });
    menu.registerWindow(QStringLiteral("TFAdminUsu"), [&adminUsu] { adminUsu.exec(); });
    menu.registerWindow(QStringLiteral("TCambClave"),
                        [&dm, &prompter, &menu] { (void)TCambClave::changeLoggedPassword(dm, prompter, &menu); });
    menu.registerWindow(QStringLiteral("TAboutBox"), [&about, &menu] {
        about.setVersion(menu.versionText());
        about.exec();
    });
    // Capture: the scanner (SANE, or the image files of a folder), its set-up and the capture windows.
    std::unique_ptr<capture::Scanner> scanner;
    if (parser.isSet(scanFolderOpt))
        scanner = std::make_unique<capture::FileScanner>(QFile::encodeName(parser.value(scanFolderOpt)).toStdString());
    else
        scanner = std::make_unique<platform::SaneScanner>();
    capture::ScanSetup scanSetup(*scanner, appDir, prompter);
    capture::CardCapture cardCapture(appDir, prompter, scanSetup);
    capture::DocumentCapture documentCapture(appDir, prompter, scanSetup);
    TFDigFich digFich(cardCapture, scanSetup, prompter, &menu);
    TTwainCaps twainCaps(*scanner, prompter, &menu);
    TFImgDig imgDig(documentCapture, scanSetup, prompter, &menu);
    TFVerImg verImg(prompter, &menu);
    TFVerDedo verDedo(&menu);
    TTwainForm twainForm(scanSetup, prompter, appDir.file(QStringLiteral("ImageLib.INI")), &menu);
    twainForm.openCaps = [&twainCaps, &scanSetup] {
        twainCaps.source = scanSetup.source;
        twainCaps.exec();
    };
    digFich.openScanConfig = [&twainForm] { twainForm.exec(); };
    imgDig.openScanConfig = [&twainForm] { twainForm.exec(); };
    menu.registerWindow(QStringLiteral("TFDigFich"), [&digFich] { digFich.exec(); });
    menu.registerWindow(QStringLiteral("TFImgDig"), [&imgDig] { imgDig.exec(); });
    menu.registerWindow(QStringLiteral("TFVerImg"), [&verImg] { verImg.exec(); });
    menu.registerWindow(QStringLiteral("TFVerDedo"), [&verDedo] { verDedo.exec(); });
    menu.registerWindow(QStringLiteral("TTwainForm"), [&twainForm] { twainForm.exec(); });
    menu.registerWindow(QStringLiteral("TTwainCaps"), [&twainForm] { twainForm.openCaps(); });

    // Livescan: the program's one scanner wrapper, on the simulated device when "LiveScan.INI" names a folder of
    // finger images (no vendor device exists on this platform); without one, only the external programs capture.
    const platform::LiveScanIni liveScanIni = platform::readLiveScanIni(folder);
    std::unique_ptr<platform::LiveScanDevice> liveScanDevice;
    if (!liveScanIni.simulatorFolder.isEmpty())
        liveScanDevice = std::make_unique<platform::SimulatedLiveScan>(
            QDir(folder).absoluteFilePath(liveScanIni.simulatorFolder), liveScanIni.simulatorIntervalMs);
    platform::TFingerScan fingerScan(std::move(liveScanDevice), folder);
    if (QString scanError; !fingerScan.start(&scanError)) prompter.error(scanError, QStringLiteral("Error"));
    // Offices that capture with livescan once fetched the quality library from the intranet when it was missing;
    // here the grader is part of the program, so there is never anything to fetch.
    if (QFileInfo::exists(QDir(folder).filePath(QLatin1String(platform::kLiveScanIniFile))))
        (void)writeLogLine(folder, clock.now().toString(QStringLiteral("dd/MM/yyyy HH:mm:ss")) +
                                       QStringLiteral(" - Calidad de huellas: el evaluador NFIQ está incorporado al "
                                                      "programa; no se baja ninguna biblioteca de calidad"));
    capture::LiveScanSession liveScanSession(folder);
    liveScanSession.setConverter(converterProgram());
    TFLiveScanPlano liveScan(liveScanSession, &fingerScan, prompter, &menu);
    liveScan.options = [&dm, folder] {
        LiveScanOptions o;
        Settings& st = dm.settings();
        o.autoAvance = st.onlyIfS(QStringLiteral("AutoAvance"));
        o.flipHor = st.onlyIfS(QStringLiteral("flip_hor"));
        o.flipVer = st.onlyIfS(QStringLiteral("flip_ver"));
        const platform::LiveScanIni ini = platform::readLiveScanIni(folder);
        o.liveScanFolder = ini.pathLiveScan;
        o.programTimeoutSeconds = ini.programTimeoutSeconds;
        if (auto program = platform::readLiveScanProgram(ini.pathLiveScan, ini.liveScanIni)) o.program = *program;
        return o;
    };
    liveScan.printCard = [&prompter, &liveScan](const QString& file, const QString& caption) {
        reports::TrpFicha ficha;
        QString why;
        if (!ficha.setImageFile(file, &why)) {
            prompter.error(why, QString());
            return;
        }
        ficha.setCaption(caption);
        reports::previewReport(ficha.layout(), prompter, &liveScan);
    };
    TFConfigLiveScan configLiveScan(
        folder, [&dm](const QString& key) { return dm.settings().read(key); },
        [&dm](const QString& key, const QString& value) { return dm.settings().write(key, value); }, prompter, &menu);
    liveScan.openConfig = [&configLiveScan] { configLiveScan.exec(); };
    menu.registerWindow(QStringLiteral("TFConfigLiveScan"), [&configLiveScan] { configLiveScan.exec(); });
    menu.registerWindow(QStringLiteral("TFLiveScanPlano"), [&liveScan] {
        QString izq = QStringLiteral("_____"), der = QStringLiteral("_____");
        (void)liveScan.TomarHuellas(0, 0, false, true, izq, der);
    });
    // Biometric identification: a fresh service proxy for every call, from the settings of that moment.
    TFBioVerif bioVerif(
        fingerScan,
        [&dm, folder](const QString& appId, const QString& wsqBase64) -> Result<int> {
            auto service = makeBioQEVService(folder, dm.settings());
            if (!service) return fail(service.error());
            return (*service)->verificarHuella(appId, wsqBase64);
        },
        dm.settings(), appDir, prompter, &menu);
    menu.registerWindow(QStringLiteral("TFBioVerif"), [&bioVerif] { bioVerif.exec(); });
    menu.identifyOperator = [&bioVerif]() -> std::optional<TFMenu::BiometricLogin> {
        if (bioVerif.exec() != QDialog::Accepted || bioVerif.verificationResult() <= 0) return std::nullopt;
        return TFMenu::BiometricLogin{bioVerif.user(), bioVerif.verificationResult()};
    };

    menu.askAccess = [&dm, &prompter, &menu] {
        return TPedirClave::askForAccess(dm, prompter, QStringLiteral("QEV Regional"), &menu);
    };
    bool refused = false;
    menu.quitProgram = [&refused] {
        refused = true;
        QTimer::singleShot(0, qApp, [] { QApplication::exit(1); });
    };
    dm.purgeWindow = [&menu]() -> std::unique_ptr<ProgressSink> { return std::make_unique<TFPurgReg>(&menu); };
    menu.purgeAtClose = [&dm] { dm.purgeAnswered(); };
    dm.personalRules().compareWindow = [&dm, &prompter, &menu](const QString& pago, const QString& reg,
                                                               const QString& ped) {
        return TFCompPedBol::compare(dm, prompter, pago, reg, ped, &menu);
    };

    // Official requests, organisations and the query windows.
    TFped ped(dm, prompter, {digFich, imgDig, verImg}, &menu);
    ped.takeLiveScan = [&liveScan](int pedido, int regional, bool soloLectura, QString& izq, QString& der) {
        return liveScan.TomarHuellas(pedido, regional, soloLectura, true, izq, der) ? liveScan.session().archivoZip()
                                                                                    : QString();
    };
    TFbped bped(dm, prompter, &ped);
    ped.search = [&bped, &dm] {
        bped.setTable(dm.ped());
        bped.exec();
    };
    TFOrg org(dm, prompter, &menu);
    TFConsOrg consOrg(dm, prompter, &menu);
    consOrg.showOrganisations = [&org] { org.show(); };
    TFConsPed consPed(dm, prompter, &menu);
    consPed.showOfficialRequest = [&ped] { ped.show(); };
    TFConsulta consulta(dm, prompter, &menu);
    consulta.showOfficialRequest = [&ped] {
        if (!ped.isVisible()) {
            ped.exec();
            return;
        }
        ped.raise(); // already open beside the search: it now stands on the request found
        ped.activateWindow();
    };
    menu.vorlundVisible = [&ped](bool on) { ped.setVorlundVisible(on); };
    // Personal requests.
    TFPedP pedP(dm, prompter, {digFich, imgDig, verImg}, &menu);
    pedP.takeLiveScan = [&liveScan](int pedido, int regional, bool soloLectura, QString& izq, QString& der) {
        return liveScan.TomarHuellas(pedido, regional, soloLectura, false, izq, der) ? liveScan.session().archivoZip()
                                                                                     : QString();
    };
    pedP.confirmIdentity = [&bioVerif]() -> std::optional<TFPedP::Identity> {
        bioVerif.prepareConfirmation(QStringLiteral("Confirmación biometrica"));
        if (bioVerif.exec() != QDialog::Accepted || bioVerif.verificationResult() <= 0) return std::nullopt;
        return TFPedP::Identity{bioVerif.user(), bioVerif.verificationResult()};
    };
    TFbped bpedP(dm, prompter, &pedP);
    pedP.search = [&bpedP, &dm] {
        bpedP.setTable(dm.pedp());
        bpedP.exec();
    };
    consulta.showPersonalRequest = [&pedP] {
        if (!pedP.isVisible()) {
            pedP.exec();
            return;
        }
        pedP.raise();
        pedP.activateWindow();
    };
    menu.registerWindow(QStringLiteral("TFPedP"), [&pedP] {
        pedP.show();
        pedP.raise();
    });
    TFSelInternet selInternet(dm, prompter, &menu);
    selInternet.showPersonalRequest = [&pedP] {
        pedP.show();
        pedP.raise();
    };
    menu.registerWindow(QStringLiteral("TFSelInternet"), [&selInternet] { selInternet.exec(); });
    menu.registerWindow(QStringLiteral("PedidosSinEnviar"),
                        [&dm, &listado] { listUnsentPersonal(dm.pedp(), listado); });
    menu.registerWindow(QStringLiteral("TFped"), [&ped] {
        ped.show();
        ped.raise();
    });
    menu.registerWindow(QStringLiteral("TFOrg"), [&org] { org.show(); });
    menu.registerWindow(QStringLiteral("TFConsOrg"), [&consOrg] { consOrg.show(); });
    menu.registerWindow(QStringLiteral("TFConsPed"), [&consPed] { consPed.show(); });
    menu.registerWindow(QStringLiteral("TFConsulta"), [&consulta] { consulta.show(); });

    // A screenshot for checking layouts: the chosen window, else the dialog in front (the log-in), else the main
    // window; the program then ends.
    if (parser.isSet(shotOpt)) {
        const QString file = parser.value(shotOpt);
        const QString wanted = parser.value(windowOpt);
        const QString image = parser.value(imageOpt);
        // A capture window shows the given image (a document is worked on as a copy, like a request's).
        const auto loadImage = [&, image](const QString& window) {
            if (window == QStringLiteral("TFDigFich")) {
                digFich.prepare(false, QStringLiteral("V1234"), QStringLiteral("A_3X0"));
                if (!image.isEmpty()) (void)digFich.CargarArchivo(image, false);
            } else if (window == QStringLiteral("TFImgDig") && !image.isEmpty()) {
                const QString copy = appDir.file(QStringLiteral("captura.tif"));
                QFile::remove(copy);
                QFile::copy(image, copy);
                documentCapture.ArchivoDocumento = copy;
            } else if (window == QStringLiteral("TFVerImg")) {
                verImg.setArchivo(image);
            } else if (window == QStringLiteral("TFVerDedo") && !image.isEmpty()) {
                (void)verDedo.imgHuella()->loadFile(image);
            } else if (window == QStringLiteral("TFLiveScanPlano")) {
                (void)liveScan.prepare(1234, 7, false, true, QStringLiteral("_____"), QStringLiteral("_____"));
            } else if (window == QStringLiteral("TTwainCaps")) {
                twainCaps.source = scanSetup.source;
                twainCaps.getCaps();
            }
        };
        // Time for a device or a service to deliver before the picture is taken.
        const auto waitMs = [](int ms) {
            QEventLoop wait;
            QTimer::singleShot(ms, &wait, &QEventLoop::quit);
            wait.exec();
        };
        QTimer::singleShot(1500, &menu, [&menu, file, wanted, loadImage, waitMs] {
            QWidget* target = QApplication::activeModalWidget() ? QApplication::activeModalWidget() : &menu;
            if (!wanted.isEmpty())
                for (QWidget* w : QApplication::allWidgets())
                    if (w->objectName() == wanted && w->isWindow()) {
                        loadImage(wanted);
                        if (wanted == QStringLiteral("TFDigFich") || wanted == QStringLiteral("TFImgDig") ||
                            wanted == QStringLiteral("TFLiveScanPlano"))
                            w->resize(1280, 800);
                        w->show();
                        QApplication::processEvents();
                        if (auto* d = qobject_cast<TFDigFich*>(w)) d->applyViewMode();
                        if (auto* p = qobject_cast<PagedImageWindow*>(w)) p->applyViewMode();
                        if (auto* b = qobject_cast<TFBioVerif*>(w)) {
                            // The demo operator puts a finger on the device; the window verifies it.
                            if (auto* user = b->findChild<QLineEdit*>(QStringLiteral("edAppID")))
                                user->setText(QStringLiteral("admin"));
                            b->activateWindow();
                            waitMs(4000);
                        }
                        if (auto* l = qobject_cast<TFLiveScanPlano*>(w)) {
                            // The fingers the device delivers meanwhile are in the picture, graded.
                            waitMs(3000);
                            l->waitForGrades();
                        }
                        target = w;
                    }
            QApplication::processEvents();
            const bool ok = target->grab().save(file);
            std::fprintf(stderr, ok ? "captura: %s\n" : "no se pudo guardar %s\n", qPrintable(file));
            QApplication::exit(ok ? 0 : 1);
        });
    }
    menu.showMaximized();
    if (refused) return 1;
    if (parser.isSet(readyOpt)) QTimer::singleShot(0, qApp, [] { QApplication::exit(0); });
    return app.exec();
}
