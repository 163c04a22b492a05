#include "core/Settings.h"
#include "ScriptedPrompter.h"
#include "TempAppDir.h"

#include <QFile>
#include <QProcess>
#include <gtest/gtest.h>

namespace qev {
namespace {

TEST(ProxyCipher, Rc4MatchesPublishedVectorsAndPasswordsRoundTrip) {
    // Published RC4 test vectors.
    EXPECT_EQ(rc4("Key", "Plaintext").toHex(), QByteArray("bbf316e8d940af0ad3"));
    EXPECT_EQ(rc4("Wiki", "pedia").toHex(), QByteArray("1021bf0420"));
    const QString stored = encipherProxyPassword(QStringLiteral("pw123"), QStringLiteral("usuario"));
    EXPECT_FALSE(stored.isEmpty());
    EXPECT_NE(stored, QStringLiteral("pw123"));
    EXPECT_EQ(decipherProxyPassword(stored, QStringLiteral("usuario")), QStringLiteral("pw123"));
    EXPECT_NE(decipherProxyPassword(stored, QStringLiteral("otro")), QStringLiteral("pw123"));
    EXPECT_EQ(decipherProxyPassword(QStringLiteral("%%no base64%%"), QStringLiteral("usuario")), QString());
    EXPECT_EQ(encipherProxyPassword(QString(), QStringLiteral("usuario")), QString());
}

TEST(MailSettings, MissingItemsAreListedInOrder) {
    test::ScriptedPrompter prompter;
    MailSettings m;
    m.pop3Name = QStringLiteral("  ");
    m.pop3User = QStringLiteral("u");
    m.pop3Password = QStringLiteral("p");
    m.smtpName = QStringLiteral("smtp");
    m.smtpPort = 25;
    EXPECT_FALSE(checkMailSettings(m, prompter));
    EXPECT_EQ(prompter.lastText(), QStringLiteral("Falta configurar datos del correo: \rServidor Pop3\rPuerto Pop3"
                                                  "\rCorreo electrónico\rCuenta de reenvío"));
    m.pop3Name = QStringLiteral("pop");
    m.pop3Port = 110;
    m.userEmail = QStringLiteral("a@b");
    m.emailFwd = QStringLiteral("c@d");
    prompter.clear();
    EXPECT_TRUE(checkMailSettings(m, prompter));
    EXPECT_TRUE(prompter.texts().isEmpty());
}

TEST(MailSettings, ComplementIsItsOwnInverseForEveryByte) {
    QString all;
    for (int c = 1; c < 256; ++c)
        all += QChar(c);
    const QString stored = complementText(QStringLiteral("clave-Ñ~r p"));
    EXPECT_NE(stored, QStringLiteral("clave-Ñ~r p"));
    EXPECT_EQ(complementText(stored), QStringLiteral("clave-Ñ~r p"));
}

TEST(LogFile, LinesAreAppendedInTheWorkstationCodePage) {
    test::TempAppDir dir;
    ASSERT_TRUE(writeLogLine(dir.path(), QStringLiteral("08/12/2026 10:00 primera línea")));
    ASSERT_TRUE(writeLogLine(dir.path(), QStringLiteral("segunda")));
    QFile f(dir.file(QStringLiteral("QevRegLog.log")));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("08/12/2026 10:00 primera l\xEDnea\r\nsegunda\r\n"));
}

TEST(WorkstationIniTest, DefaultsAndStoredAddress) {
    test::TempAppDir dir;
    WorkstationIni ini(dir.path());
    EXPECT_EQ(ini.serviceUrl(), WorkstationIni::defaultServiceUrl());
    EXPECT_TRUE(ini.serviceUrl().endsWith(QStringLiteral("/QEVService/QEVMessageService.asmx")));
    EXPECT_TRUE(ini.usaOutlookSecMan());
    QFile f(dir.file(QStringLiteral("QEVReg.INI")));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("[QEVService]\r\nURL=http://central.example/QEVService/QEVMessageService.asmx\r\n[Config]\r\n"
            "UsaOutlookSecMan=False\r\n");
    f.close();
    EXPECT_EQ(ini.serviceUrl(), QStringLiteral("http://central.example/QEVService/QEVMessageService.asmx"));
    EXPECT_FALSE(ini.usaOutlookSecMan());
}

} // namespace
} // namespace qev
