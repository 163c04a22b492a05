#include "FixedClock.h"
#include "ScriptedPrompter.h"
#include "TempAppDir.h"
#include "core/OfficeSchema.h"
#include "core/Settings.h"
#include "core/Users.h"
#include "core/ui/TAboutBox.h"
#include "core/ui/TFConfig.h"
#include "core/ui/TFInfMensual.h"
#include "core/ui/TFListado.h"
#include "core/ui/TFMenu.h"
#include "core/ui/TFreporte.h"
#include "core/ui/TPedirClave.h"
#include "dbf/Table.h"
#include "dm/Tdm.h"

#include <QAction>
#include <QFile>
#include <QPushButton>
#include <gtest/gtest.h>

namespace qev {
namespace {

using dbf::Value;

class WindowsTest : public ::testing::Test {
protected:
    void SetUp() override {
        QString error;
        ASSERT_TRUE(createOfficeFolder(dir.path(), true, clock, &error));
        dm = std::make_unique<Tdm>(dir.appDir(), prompter, clock);
        ASSERT_TRUE(dm->create());
        prompter.clear();
    }
    test::TempAppDir dir;
    test::FixedClock clock{QDateTime(QDate(2024, 5, 10), QTime(10, 0))};
    test::ScriptedPrompter prompter;
    std::unique_ptr<Tdm> dm;
};

TEST_F(WindowsTest, MainWindowShowsTitleVersionAndOffice) {
    TFMenu menu(*dm, prompter);
    menu.askAccess = [] { return true; };
    menu.show();
    EXPECT_EQ(menu.windowTitle(), QStringLiteral("QEV - Regional"));
    EXPECT_EQ(menu.findChild<QLabel*>(QStringLiteral("Version"))->text(), QStringLiteral("Versión 2.37"));
    EXPECT_EQ(menu.findChild<QLabel*>(QStringLiteral("lbReg"))->text(),
              QStringLiteral("Regional: ") + QString::fromUtf8(kDefaultOfficeName));
    EXPECT_EQ(dm->versionText(), QStringLiteral("2.37"));
    EXPECT_TRUE(menu.loggedIn());
    EXPECT_TRUE(menu.findChild<QAction*>(QStringLiteral("miUsuario"))->isVisible());
    // Entries whose window is not built stay disabled; registering one enables it.
    auto* btOrg = menu.findChild<QPushButton*>(QStringLiteral("btOrg"));
    EXPECT_FALSE(btOrg->isEnabled());
    int opened = 0;
    menu.registerWindow(QStringLiteral("TFOrg"), [&opened] { ++opened; });
    EXPECT_TRUE(btOrg->isEnabled());
    btOrg->click();
    EXPECT_EQ(opened, 1);
}

TEST_F(WindowsTest, WorkFilesGoAtStartAndCloseAndThePurgeRuns) {
    auto touch = [this](const char* name) {
        QFile f(dir.file(QString::fromLatin1(name)));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    };
    touch("edit.tif");
    touch("edit.zip");
    touch("huella.tif");
    TFMenu menu(*dm, prompter);
    EXPECT_FALSE(QFile::exists(dir.file(QStringLiteral("edit.tif"))));
    EXPECT_FALSE(QFile::exists(dir.file(QStringLiteral("edit.zip"))));
    EXPECT_TRUE(QFile::exists(dir.file(QStringLiteral("huella.tif"))));
    touch("edit.tif");
    touch("ped.dat");
    int purges = 0;
    menu.purgeAtClose = [&purges] { ++purges; };
    menu.askAccess = [] { return true; };
    menu.show();
    menu.close();
    EXPECT_EQ(purges, 1);
    for (const char* gone : {"huella.tif", "ped.dat", "edit.tif"})
        EXPECT_FALSE(QFile::exists(dir.file(QString::fromLatin1(gone)))) << gone;
}

TEST_F(WindowsTest, OfficeCodesDecideWhichRequestWindowsOpen) {
    TFMenu menu(*dm, prompter);
    int official = 0, personal = 0, internet = 0;
    menu.registerWindow(QStringLiteral("TFped"), [&official] { ++official; });
    menu.registerWindow(QStringLiteral("TFPedP"), [&personal] { ++personal; });
    menu.registerWindow(QStringLiteral("TFSelInternet"), [&internet] { ++internet; });
    Settings& s = dm->settings();

    ASSERT_TRUE(s.write(QStringLiteral("c_reg"), QStringLiteral("0")));
    menu.pedidosOficiales();
    EXPECT_EQ(official, 0);
    EXPECT_EQ(prompter.lastText(), QStringLiteral("El sistema no está configurado para gestionar pedidos oficiales"));
    ASSERT_TRUE(s.write(QStringLiteral("c_reg"), QString()));
    menu.pedidosOficiales();
    EXPECT_EQ(official, 1) << "any other value, even empty, opens the window";

    ASSERT_TRUE(s.write(QStringLiteral("c_regp"), QStringLiteral("0")));
    menu.pedidosPersonales();
    EXPECT_EQ(personal, 0);
    EXPECT_TRUE(prompter.lastText().startsWith(
        QStringLiteral("El sistema no está configurado para gestionar pedidos personales\r")));
    menu.internet();
    EXPECT_EQ(internet, 1) << "the Internet button only needs the row with a value";
    ASSERT_TRUE(s.remove(QStringLiteral("c_regp")));
    menu.internet();
    EXPECT_EQ(internet, 1);
}

TEST_F(WindowsTest, GuardedEntriesAndTheReceptionSwitch) {
    TFMenu menu(*dm, prompter);
    int inbox = 0;
    bool idleInside = true;
    menu.registerWindow(QStringLiteral("TFInboxMail"), [&] {
        ++inbox;
        idleInside = dm->receptionIdle();
    });
    const QString busy = QStringLiteral("Advertencia: No se puede abrir la bandeja \rporque se están recibiendo "
                                        "mensajes. \rVuelva a intentar en unos instantes.");
    menu.runGuarded(QStringLiteral("TFInboxMail"), busy);
    EXPECT_EQ(inbox, 1);
    EXPECT_FALSE(idleInside) << "the window runs with the reception flag cleared";
    EXPECT_TRUE(dm->receptionIdle());
    dm->setReceptionIdle(false);
    menu.runGuarded(QStringLiteral("TFInboxMail"), busy);
    EXPECT_EQ(inbox, 1);
    EXPECT_EQ(prompter.lastText(), busy);
    menu.recibir();
    EXPECT_EQ(prompter.lastText(), QStringLiteral("Advertencia: El proceso de recepción esta en curso.."));
    dm->setReceptionIdle(true);

    ASSERT_TRUE(dm->timer().isActive());
    auto* box = menu.findChild<QCheckBox*>(QStringLiteral("cbDesRecibir"));
    box->click();
    box->click(); // unchecked again: reception stays off for the run
    EXPECT_FALSE(dm->timer().isActive());
}

TEST_F(WindowsTest, RefusedLogInEndsTheProgram) {
    ASSERT_TRUE(dm->settings().write(QStringLiteral("m_segur"), QStringLiteral("S")));
    dm->deriveFlags();
    TFMenu menu(*dm, prompter);
    bool quit = false;
    menu.askAccess = [] { return false; };
    menu.quitProgram = [&quit] { quit = true; };
    menu.show();
    EXPECT_TRUE(quit);
    EXPECT_FALSE(menu.findChild<QAction*>(QStringLiteral("miUsuario"))->isVisible());
}

TEST_F(WindowsTest, BiometricLogInNamesTheOperatorOrEndsTheProgram) {
    // With a livescan device and personal requests the finger replaces the password, even with access control on.
    ASSERT_TRUE(dm->settings().write(QStringLiteral("LiveScan"), QStringLiteral("Plano")));
    ASSERT_TRUE(dm->settings().write(QStringLiteral("c_regp"), QStringLiteral("7")));
    ASSERT_TRUE(dm->settings().write(QStringLiteral("m_segur"), QStringLiteral("S")));
    dm->deriveFlags();
    using Login = std::optional<TFMenu::BiometricLogin>;
    const struct {
        const char* name;
        Login answer;
        bool quits;
    } cases[] = {
        {"verified", TFMenu::BiometricLogin{QStringLiteral("operador1"), 12345678}, false},
        {"window closed without a verification", std::nullopt, true},
        {"answer that is not a verification", TFMenu::BiometricLogin{QStringLiteral("operador1"), 0}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        dm->setLogin(QString(), QString());
        dm->setVerifId(QString());
        TFMenu menu(*dm, prompter);
        bool quit = false;
        bool askedPassword = false;
        menu.askAccess = [&askedPassword] { return askedPassword = true; };
        menu.quitProgram = [&quit] { quit = true; };
        menu.identifyOperator = [&c] { return c.answer; };
        menu.show();
        EXPECT_FALSE(askedPassword);
        EXPECT_EQ(quit, c.quits);
        const QString line = menu.findChild<QLabel*>(QStringLiteral("lblBio"))->text();
        if (c.quits) {
            EXPECT_TRUE(dm->loggedUser().isEmpty());
            EXPECT_TRUE(line.isEmpty());
        } else {
            EXPECT_EQ(dm->loggedUser(), QStringLiteral("operador1"));
            EXPECT_EQ(dm->verifId(), QStringLiteral("12345678"));
            EXPECT_EQ(line, QStringLiteral("Usuario: operador1 - VerifID: 12345678"));
        }
    }
}

TEST_F(WindowsTest, SortingFromTheMenuReportsOrEndsTheProgram) {
    TFMenu menu(*dm, prompter);
    bool quit = false;
    menu.quitProgram = [&quit] { quit = true; };
    auto* entry = menu.findChild<QAction*>(QStringLiteral("OrdenamientodeArchivos1"));
    ASSERT_NE(entry, nullptr);
    entry->trigger();
    EXPECT_FALSE(quit);
    EXPECT_EQ(prompter.lastText(), QStringLiteral("Finalizó el ordenamiento exitosamente"));
    EXPECT_TRUE(dm->pedp().active());

    // Another workstation holds the personal requests: the table cannot be sorted and stays closed.
    prompter.clear();
    auto held = dbf::Table::open(dir.file(QStringLiteral("Pedp.DBF")).toStdString(), dbf::OpenMode::Shared);
    ASSERT_TRUE(held);
    entry->trigger();
    EXPECT_TRUE(quit);
    EXPECT_TRUE(dm->terminated());
    EXPECT_FALSE(prompter.texts().contains(QStringLiteral("Finalizó el ordenamiento exitosamente")));
    EXPECT_TRUE(prompter.lastText().startsWith(QStringLiteral("No existe la tabla: pedp .Comuniquese")));
}

TEST_F(WindowsTest, AccessDialogClosesAtTheThirdFailure) {
    TPedirClave dialog(*dm, prompter, QStringLiteral("QEV Regional"));
    dialog.show();
    auto* user = dialog.findChild<QLineEdit*>(QStringLiteral("edUsu"));
    auto* password = dialog.findChild<QLineEdit*>(QStringLiteral("edCla"));
    EXPECT_EQ(dialog.findChild<QLabel*>(QStringLiteral("lbSis"))->text(), QStringLiteral("QEV Regional"));
    for (int i = 0; i < 2; ++i) {
        user->setText(QStringLiteral("admin"));
        password->setText(QStringLiteral("mal"));
        dialog.aceptar();
        EXPECT_TRUE(dialog.isVisible()) << "attempt " << i;
    }
    dialog.aceptar();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_EQ(prompter.lastText(), QStringLiteral("Intento de ingreso no autorizado"));

    TPedirClave again(*dm, prompter, QStringLiteral("QEV Regional"));
    again.findChild<QLineEdit*>(QStringLiteral("edUsu"))->setText(QStringLiteral("admin"));
    again.findChild<QLineEdit*>(QStringLiteral("edCla"))->setText(QStringLiteral("admin"));
    again.aceptar();
    EXPECT_TRUE(again.granted());
    EXPECT_EQ(dm->loggedUser(), QStringLiteral("admin"));
}

TEST_F(WindowsTest, ConfigurationSavesToTheTablesAndChecksTheProxy) {
    TFConfig config(*dm, prompter);
    config.load();
    auto set = [&config](const char* name, const QString& v) {
        config.findChild<QLineEdit*>(QString::fromLatin1(name))->setText(v);
    };
    set("x_toregp", QStringLiteral("central@qev.example"));
    set("x_reg", QStringLiteral("Regional Mendoza"));
    set("frec_recep", QStringLiteral("7"));
    set("proxy_user", QString(31, QLatin1Char('u')));
    set("proxy_pass", QStringLiteral("abc123"));
    EXPECT_FALSE(config.save());
    EXPECT_EQ(prompter.lastText(), QStringLiteral("El usuario del proxy no puede tener más de 30 letras"));
    set("proxy_user", QStringLiteral("proxyuser"));
    set("proxy_pass", QString());
    EXPECT_FALSE(config.save());
    EXPECT_EQ(prompter.lastText(), QStringLiteral("Por favor introduzca la contraseña del proxy"));
    EXPECT_EQ(dm->settings().read(QStringLiteral("x_reg")), QString::fromUtf8(kDefaultOfficeName))
        << "a refused save writes nothing";

    set("proxy_pass", QStringLiteral("abc123"));
    bool told = false;
    config.proxySettingsChanged = [&told] { told = true; };
    ASSERT_TRUE(config.save());
    EXPECT_TRUE(told);
    Settings& s = dm->settings();
    EXPECT_EQ(s.read(QStringLiteral("x_toreg")), QStringLiteral("central@qev.example"));
    EXPECT_EQ(s.read(QStringLiteral("x_toregp")), QStringLiteral("central@qev.example"));
    EXPECT_EQ(s.read(QStringLiteral("x_reg")), QStringLiteral("Regional Mendoza"));
    EXPECT_EQ(s.read(QStringLiteral("frec_recep")), QStringLiteral("7"));
    EXPECT_NE(s.read(QStringLiteral("proxy_pass")), QStringLiteral("abc123"));
    EXPECT_EQ(decipherProxyPassword(s.read(QStringLiteral("proxy_pass")), QStringLiteral("proxyuser")),
              QStringLiteral("abc123"));

    // The rows are on disk: a fresh data module reads them.
    prompter.clear();
    TFConfig reread(*dm, prompter);
    reread.load();
    EXPECT_EQ(reread.findChild<QLineEdit*>(QStringLiteral("proxy_pass"))->text(), QStringLiteral("abc123"));
    EXPECT_TRUE(prompter.texts().isEmpty());
    ASSERT_TRUE(s.write(QStringLiteral("proxy_user"), QStringLiteral("otro")));
    reread.load();
    EXPECT_NE(reread.findChild<QLineEdit*>(QStringLiteral("proxy_pass"))->text(), QStringLiteral("abc123"));
}

TEST_F(WindowsTest, MonthlyReportProposesLastMonthAndValidates) {
    clock.set(QDateTime(QDate(2025, 1, 15), QTime(9, 0)));
    TFInfMensual window(*dm, prompter);
    QUrl opened;
    window.openUrl = [&opened](const QUrl& u) { opened = u; };
    window.proposePeriod();
    auto* month = window.findChild<QLineEdit*>(QStringLiteral("edn_mes"));
    auto* year = window.findChild<QLineEdit*>(QStringLiteral("edn_anio"));
    EXPECT_EQ(month->text(), QStringLiteral("12"));
    EXPECT_EQ(year->text(), QStringLiteral("2024"));
    for (const char* bad : {"13", "0", "ab"}) {
        month->setText(QString::fromLatin1(bad));
        EXPECT_FALSE(window.aceptar());
        EXPECT_EQ(prompter.lastText(), QStringLiteral("ERROR: Número de mes incorrecto"));
    }
    month->setText(QStringLiteral("3"));
    for (const char* bad : {"1999", "2101"}) {
        year->setText(QString::fromLatin1(bad));
        EXPECT_FALSE(window.aceptar());
        EXPECT_EQ(prompter.lastText(), QStringLiteral("ERROR: Número de año incorrecto"));
    }
    year->setText(QStringLiteral("2024"));
    EXPECT_TRUE(window.aceptar());
    EXPECT_EQ(opened.toString(), QString::fromLatin1(kDefaultCentralUrl) +
                                     QStringLiteral("PlanillaInfMensual/Default.aspx?c_regqev=7&month=3&year=2024"));

    // Only blank addresses: the error, and the window closes.
    Dataset& url = dm->url();
    for (url.first(); url.rowCount() > 0;)
        ASSERT_TRUE(url.remove());
    opened.clear();
    EXPECT_TRUE(window.aceptar());
    EXPECT_TRUE(opened.isEmpty());
    EXPECT_EQ(prompter.lastText(),
              QStringLiteral("ERROR: No se pudo obtener el listado mensual. Verifique la configuración de la URL"));
}

TEST_F(WindowsTest, ActivityReportKeepsOrClearsItsFile) {
    QFile f(dir.file(QStringLiteral("logp.txt")));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("08/12/2026 10:00:00  Pedido Oficial 5 Recibido y en Tr\xE1mite\r\n");
    f.close();
    {
        TFreporte report(dir.path(), prompter);
        EXPECT_EQ(report.text(), QStringLiteral("08/12/2026 10:00:00  Pedido Oficial 5 Recibido y en Trámite"));
        report.addLine(QStringLiteral("segunda"));
        prompter.answerConfirm(false);
        report.limpiar();
        EXPECT_FALSE(report.text().isEmpty());
        report.accept();
    }
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("08/12/2026 10:00:00  Pedido Oficial 5 Recibido y en Tr\xE1mite\r\nsegunda\r\n"));
    f.close();
    {
        TFreporte report(dir.path(), prompter);
        prompter.answerConfirm(true);
        report.limpiar();
        report.reject();
    }
    EXPECT_EQ(QFileInfo(f.fileName()).size(), 0);
}

TEST_F(WindowsTest, ProgressAndListWindowsKeepTheirLines) {
    TInfoWnd info;
    info.openWith(QStringLiteral("Generando ficha"));
    info.addStep(QStringLiteral("Comprimiendo huellas"));
    info.markDone();
    info.addStep(QStringLiteral("Armando archivo"));
    EXPECT_EQ(info.text(), QStringLiteral("Generando ficha\n   Comprimiendo huellas...Ok.\n   Armando archivo..."));
    info.openWith(QStringLiteral("Otra"));
    EXPECT_EQ(info.text(), QStringLiteral("Otra")) << "opening clears the text";

    TFListado list;
    list.begin(QStringLiteral("Pedidos personales sin enviar"), 0, 2);
    list.addLine(QStringLiteral("uno"));
    list.step();
    list.step();
    list.step();
    EXPECT_EQ(list.windowTitle(), QStringLiteral("Pedidos personales sin enviar"));
    EXPECT_EQ(list.bar()->value(), 2) << "the bar stops at its maximum";
    list.begin(QStringLiteral("Otra"), 0, 5);
    EXPECT_TRUE(list.text().isEmpty());

    TFRecEst progress;
    progress.start(QStringLiteral("Enviando Mensaje.."));
    progress.setPercent(140);
    EXPECT_EQ(progress.bar()->value(), 100);
    EXPECT_EQ(progress.size(), QSize(170, 35));
    progress.finish();
    EXPECT_FALSE(progress.isVisible());
}

} // namespace
} // namespace qev
