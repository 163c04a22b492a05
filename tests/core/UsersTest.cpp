#include "core/Users.h"
#include "FixedClock.h"
#include "ScriptedPrompter.h"
#include "TempAppDir.h"
#include "core/Clave.h"
#include "core/Dataset.h"
#include "core/OfficeSchema.h"

#include <gtest/gtest.h>

namespace qev {
namespace {

using dbf::Value;

class UsersTest : public ::testing::Test {
protected:
    void SetUp() override {
        QString error;
        ASSERT_TRUE(createOfficeFolder(dir.path(), false, clock, &error));
        usu = std::make_unique<Dataset>(dir.path(), *findOfficeTable(QStringLiteral("usu")));
        usu->setPrompter(&prompter);
        ASSERT_TRUE(usu->open());
    }
    void addUser(const QString& login, const QString* password) {
        ASSERT_TRUE(usu->insert());
        usu->setValue(QStringLiteral("C_LOGIN"), Value(login.toStdString()));
        usu->setValue(QStringLiteral("X_USU"), Value("Operador"));
        if (password) usu->setValue(QStringLiteral("C_CLAVE"), Value(scrambledPassword(*password).toStdString()));
        ASSERT_TRUE(usu->post());
    }
    test::TempAppDir dir;
    test::FixedClock clock{QDateTime(QDate(2024, 5, 10), QTime(10, 0))};
    test::ScriptedPrompter prompter;
    std::unique_ptr<Dataset> usu;
};

TEST_F(UsersTest, UserWithoutPasswordLogsInWithHisNameAndIsAdvised) {
    addUser(QStringLiteral("juan"), nullptr);
    LoginCheck login(*usu, prompter);
    EXPECT_EQ(login.attempt(QStringLiteral("juan"), QStringLiteral("juan")), LoginCheck::Outcome::Granted);
    EXPECT_EQ(prompter.lastText(), QStringLiteral("Para mayor seguridad, conviene que cambie su contraseña"));
    EXPECT_EQ(prompter.messages().back().caption, QStringLiteral("Consejo"));
    EXPECT_EQ(login.password(), QStringLiteral("juan"));
}

TEST_F(UsersTest, ThirdFailedAttemptRefusesForGood) {
    const QString pw = QStringLiteral("clave12");
    addUser(QStringLiteral("ana"), &pw);
    LoginCheck login(*usu, prompter);
    int beeps = 0;
    login.beep = [&beeps] { ++beeps; };
    EXPECT_EQ(login.attempt(QStringLiteral("ana"), QStringLiteral("mala")), LoginCheck::Outcome::TryAgain);
    EXPECT_EQ(prompter.lastText(), QStringLiteral("Usuario y/o contraseña incorrecta"));
    EXPECT_EQ(login.attempt(QStringLiteral("nadie"), QStringLiteral("nadie")), LoginCheck::Outcome::TryAgain)
        << "an unknown user is refused, even with his name as password";
    EXPECT_EQ(beeps, 0);
    EXPECT_EQ(login.attempt(QStringLiteral("ana"), QStringLiteral("ana")), LoginCheck::Outcome::Refused);
    EXPECT_EQ(prompter.lastText(), QStringLiteral("Intento de ingreso no autorizado"));
    EXPECT_EQ(beeps, 1);

    login.reset();
    EXPECT_EQ(login.attempt(QStringLiteral("ana"), pw), LoginCheck::Outcome::Granted);
    EXPECT_EQ(prompter.lastText(), QStringLiteral("Intento de ingreso no autorizado")) << "no advice for a real one";
}

TEST_F(UsersTest, ChangeChecksInOrderAndNeverStoresAnEmptyPassword) {
    const QString pw = QStringLiteral("vieja1");
    addUser(QStringLiteral("ana"), &pw);
    QString remembered = pw;
    auto change = [&](const char* cur, const char* neu, const char* conf) {
        return changePassword(*usu, prompter, QStringLiteral("ana"), remembered, QString::fromUtf8(cur),
                              QString::fromUtf8(neu), QString::fromUtf8(conf));
    };
    EXPECT_FALSE(change("otra", "nueva1", "nueva1"));
    EXPECT_EQ(prompter.lastText(), QStringLiteral("La contraseña actual es incorrecta"));
    EXPECT_FALSE(change("vieja1", "vieja1", "vieja1"));
    EXPECT_EQ(prompter.lastText(), QStringLiteral("La contraseña actual y la nueva son iguales"));
    EXPECT_FALSE(change("vieja1", "", ""));
    EXPECT_EQ(prompter.lastText(), QStringLiteral("La contraseña no puede ser vacía"));
    EXPECT_FALSE(change("vieja1", "nueva1", "nueva2"));
    EXPECT_EQ(prompter.lastText(), QStringLiteral("Las nuevas contraseñas no coinciden"));
    EXPECT_EQ(remembered, pw);

    usu->first(); // "admin" sorts first: the change must find ana's row
    ASSERT_TRUE(change("vieja1", "nueva1", "nueva1"));
    EXPECT_EQ(prompter.lastText(), QStringLiteral("Se cambió la contraseña exitosamente"));
    EXPECT_EQ(remembered, QStringLiteral("nueva1"));
    LoginCheck login(*usu, prompter);
    EXPECT_EQ(login.attempt(QStringLiteral("ana"), QStringLiteral("nueva1")), LoginCheck::Outcome::Granted);
    EXPECT_EQ(login.attempt(QStringLiteral("admin"), QStringLiteral("admin")), LoginCheck::Outcome::Granted)
        << "the other rows are untouched";
}

TEST_F(UsersTest, ClearedPasswordBecomesTheUserName) {
    const QString pw = QStringLiteral("clave99");
    addUser(QStringLiteral("luis"), &pw);
    ASSERT_TRUE(usu->locate(QStringLiteral("C_LOGIN"), Value("luis")));
    prompter.answerConfirm(false);
    EXPECT_FALSE(clearPassword(*usu, prompter));
    prompter.answerConfirm(true);
    ASSERT_TRUE(clearPassword(*usu, prompter));
    EXPECT_EQ(prompter.lastText(), QStringLiteral("¿Está seguro que desea limpiar\rla contraseña de este usuario?"));
    LoginCheck login(*usu, prompter);
    EXPECT_EQ(login.attempt(QStringLiteral("luis"), pw), LoginCheck::Outcome::TryAgain);
    EXPECT_EQ(login.attempt(QStringLiteral("luis"), QStringLiteral("luis")), LoginCheck::Outcome::Granted);
}

TEST_F(UsersTest, EveryShortPasswordSurvivesTheTable) {
    // Scrambled bytes may end in a blank or a NUL, which a text field drops; the log-in must still work.
    const QString chars = QStringLiteral("abcdefghijklmnopqrstuvwxyz0123456789");
    int trailingBlanks = 0;
    LoginCheck login(*usu, prompter);
    for (int i = 0; i < 400; ++i) {
        QString pw;
        for (int k = 0; k <= i % 10; ++k)
            pw += chars[(i * 7 + k * 13 + k * k) % chars.size()];
        const QByteArray s = scrambleClave(pw.toLatin1());
        trailingBlanks += s.endsWith(' ') || s.endsWith('\0');
        const QString login1 = QStringLiteral("u%1").arg(i);
        addUser(login1, &pw);
        ASSERT_EQ(login.attempt(login1, pw), LoginCheck::Outcome::Granted) << pw.toStdString();
        login.reset();
        EXPECT_EQ(unscrambleClave(s), pw.toLatin1());
    }
    RecordProperty("trailing_blanks", trailingBlanks);
}

} // namespace
} // namespace qev
