// The livescan set-up window offscreen, on an office folder with a livescan folder of program descriptions: what it
// loads, what it stores where, and the program buttons.
#include "capture/ui/TFConfigLiveScan.h"
#include "ScriptedPrompter.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <map>

namespace qev {
namespace {

void writeFile(const QString& path, const QByteArray& bytes, bool executable = false) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    f.write(bytes);
    f.close();
    if (executable) QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class ConfigLiveScanTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(office.isValid() && programs.isValid());
        writeFile(office.filePath(QStringLiteral("LiveScan.INI")),
                  "[Config]\r\nPathLiveScan=" + programs.path().toUtf8() +
                      "\r\nLiveScanIni=lector.INI\r\n[Simulador]\r\nCarpeta=dedos\r\n");
        writeFile(programs.filePath(QStringLiteral("Lector.ini")),
                  "[Config]\r\nTitulo=Lector de la oficina\r\nExeLiveScan=diez.sh\r\nExeCaptura=uno.sh\r\n");
        writeFile(programs.filePath(QStringLiteral("Otro.ini")), "[Config]\r\nTitulo=Otro lector\r\n");
        writeFile(programs.filePath(QStringLiteral("Roto.ini")), "[Config]\r\nExeLiveScan=x.sh\r\n");
        writeFile(programs.filePath(QStringLiteral("uno.sh")), "#!/bin/sh\nprintf '%s' \"$*\" > uno.txt\n", true);
        settings = {{QStringLiteral("LiveScan"), QStringLiteral("Plano")},
                    {QStringLiteral("AutoAvance"), QStringLiteral("S")},
                    {QStringLiteral("flip_ver"), QStringLiteral("S")}};
        window = std::make_unique<TFConfigLiveScan>(
            office.path(), [this](const QString& k) { return settings[k]; },
            [this](const QString& k, const QString& v) {
                if (k == refuseKey) return false;
                settings[k] = v;
                return true;
            },
            prompter);
    }
    template <class T> T* child(const char* name) {
        T* w = window->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }

    QTemporaryDir office, programs;
    std::map<QString, QString> settings;
    QString refuseKey;
    test::ScriptedPrompter prompter;
    std::unique_ptr<TFConfigLiveScan> window;
};

TEST_F(ConfigLiveScanTest, LoadsStoresAndStartsOnlyWhatTheChosenProgramHas) {
    auto* type = child<QComboBox>("cbScannerType");
    auto* program = child<QComboBox>("cbLiveScanExterno");
    ASSERT_TRUE(type && program);
    EXPECT_EQ(type->currentText(), QStringLiteral("Plano"));
    EXPECT_EQ(child<QLineEdit>("edPathLiveScan")->text(), programs.path());
    ASSERT_EQ(program->count(), 2); // a description without a title is not offered
    EXPECT_EQ(program->currentText(), QStringLiteral("Lector de la oficina")); // the file name's case does not matter
    const std::map<const char*, bool> checked{
        {"cbAvance", true}, {"chkCtrlCalidad", false}, {"cbFlipHor", false}, {"cbFlipVer", true}};
    for (const auto& [name, on] : checked)
        EXPECT_EQ(child<QCheckBox>(name)->isChecked(), on) << name;

    // The buttons follow the chosen program's parts; a disabled one says why.
    auto* configurar = child<QPushButton>("btConfigurar");
    auto* captura = child<QPushButton>("btCaptura");
    auto* liveScan = child<QPushButton>("btLiveScan");
    EXPECT_FALSE(configurar->isEnabled());
    EXPECT_FALSE(configurar->toolTip().isEmpty());
    EXPECT_TRUE(captura->isEnabled());
    EXPECT_TRUE(liveScan->isEnabled());
    captura->click();
    EXPECT_EQ(readFile(programs.filePath(QStringLiteral("uno.txt"))), QByteArray("prueba"));
    liveScan->click(); // described but missing
    EXPECT_EQ(prompter.lastText(), platform::missingProgramText(programs.filePath(QStringLiteral("diez.sh"))));
    program->setCurrentIndex(1);
    for (QPushButton* b : {configurar, captura, liveScan})
        EXPECT_FALSE(b->isEnabled());

    // "Aceptar" stores the five settings and the folder and program in "LiveScan.INI", keeping the rest of it.
    type->setCurrentIndex(0);
    child<QCheckBox>("chkCtrlCalidad")->setChecked(true);
    child<QCheckBox>("cbFlipVer")->setChecked(false);
    child<QPushButton>("btAceptar")->click();
    EXPECT_EQ(settings[QStringLiteral("LiveScan")], QStringLiteral("Ninguno"));
    for (const auto& [key, value] : std::map<QString, QString>{{QStringLiteral("AutoAvance"), QStringLiteral("S")},
                                                               {QStringLiteral("crlt_quality"), QStringLiteral("S")},
                                                               {QStringLiteral("flip_hor"), QStringLiteral("N")},
                                                               {QStringLiteral("flip_ver"), QStringLiteral("N")}})
        EXPECT_EQ(settings[key], value) << key.toStdString();
    const platform::LiveScanIni ini = platform::readLiveScanIni(office.path());
    EXPECT_EQ(ini.liveScanIni, QStringLiteral("Otro.ini"));
    EXPECT_EQ(ini.pathLiveScan, programs.path());
    EXPECT_EQ(ini.simulatorFolder, QStringLiteral("dedos"));

    // A setting that cannot be stored is said, and the window stays; "Cancelar" puts back what is stored.
    refuseKey = QStringLiteral("flip_hor");
    window->show();
    child<QCheckBox>("cbFlipHor")->setChecked(true);
    child<QPushButton>("btAceptar")->click();
    EXPECT_EQ(prompter.lastText(), QStringLiteral("No se pudo guardar la configuración \"flip_hor\""));
    EXPECT_TRUE(window->isVisible());
    child<QPushButton>("btCancelar")->click();
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(child<QCheckBox>("cbFlipHor")->isChecked());
}

} // namespace
} // namespace qev
