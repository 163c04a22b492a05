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
#include "exchange/TSMime.h"
#include "exchange/mail/TdmMail.h"
#include "exchange/ui/TFVerConfig.h"
#include "reports/GridReport.h"
#include "reports/ui/ReportPreview.h"
#include "reports/ui/TFInformes.h"
#include "requests/PersonalRequestRules.h"
#include "requests/ui/TFCompPedBol.h"
#include "util/Clock.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QLibraryInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QScreen>
#include <QStandardPaths>
#include <QTimer>
#include <QTranslator>
#include <cstdio>

using namespace qev;

namespace {

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

    // A screenshot for checking layouts: the chosen window, else the dialog in front (the log-in), else the main
    // window; the program then ends.
    if (parser.isSet(shotOpt)) {
        const QString file = parser.value(shotOpt);
        const QString wanted = parser.value(windowOpt);
        QTimer::singleShot(1500, &menu, [&menu, file, wanted] {
            QWidget* target = QApplication::activeModalWidget() ? QApplication::activeModalWidget() : &menu;
            if (!wanted.isEmpty())
                for (QWidget* w : QApplication::allWidgets())
                    if (w->objectName() == wanted && w->isWindow()) {
                        w->show();
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
