// The sending log window offscreen, against the simulator: the check of the service with the office's code, the
// workstation's identity, lines of sends made elsewhere, Escape; and the progress box of mail transfers.
#include "exchange/ui/TFVerConfig.h"
#include "../CentralSim.h"
#include "FixedClock.h"
#include "ScriptedPrompter.h"
#include "TempAppDir.h"
#include "core/OfficeSchema.h"
#include "core/Settings.h"
#include "core/ui/TFListado.h"
#include "dm/Tdm.h"
#include "exchange/HostIdentity.h"
#include "exchange/TSMime.h"

#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace qev {
namespace {

class TFVerConfigTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(sim.started()) << sim.error().toStdString();
        QString error;
        ASSERT_TRUE(createOfficeFolder(dir.path(), false, clock, &error)) << error.toStdString();
        WorkstationIni(dir.path()).setServiceUrl(sim.root() + QStringLiteral("QEVService/QEVMessageService.asmx"));
        dm = std::make_unique<Tdm>(dir.appDir(), prompter, clock);
        dm->setHostIdentity(std::make_unique<FixedHostIdentity>(
            NetworkIdentity{QStringLiteral("00:1A:2B:3C:4D:5E"), QStringLiteral("10.1.2.3"), QStringLiteral("pc1")}));
        ASSERT_TRUE(dm->create());
        window = std::make_unique<TFVerConfig>(
            dm->sendLog(), [this]() -> TSMime& { return dm->sender(); }, prompter);
    }
    QString text() const { return window->memRes()->toPlainText(); }
    void click(const char* name) { window->findChild<QPushButton*>(QString::fromLatin1(name))->click(); }

    test::CentralSim sim{"{}"};
    test::TempAppDir dir;
    test::FixedClock clock{QDateTime(QDate(2026, 3, 16), QTime(9, 30))};
    test::ScriptedPrompter prompter;
    std::unique_ptr<Tdm> dm;
    std::unique_ptr<TFVerConfig> window;
};

TEST_F(TFVerConfigTest, VerifyUsesThePersonalCodeUnlessItIsZero) {
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Log / configuración de envío"));
    ASSERT_TRUE(dm->settings().write(QStringLiteral("c_regp"), QStringLiteral("0")));
    ASSERT_TRUE(dm->settings().write(QStringLiteral("c_reg"), QStringLiteral("5")));
    click("btVerif");
    ASSERT_TRUE(dm->settings().write(QStringLiteral("c_regp"), QStringLiteral("9")));
    click("btVerif");
    const QStringList lines = text().split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 2) << text().toStdString();
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("Servicio de mensajes de QEV Central disponible (regional 5) - "
                                                   "tiempo: ")));
    EXPECT_TRUE(lines[0].endsWith(QStringLiteral(" ms.")));
    EXPECT_TRUE(lines[1].startsWith(QStringLiteral("Servicio de mensajes de QEV Central disponible (regional 9)")));

    click("btShowParams");
    EXPECT_TRUE(text().endsWith(QStringLiteral("Código de regional oficial: 5\nCódigo de regional privado: 9\n"
                                               "MAC: 00:1A:2B:3C:4D:5E\nHost: pc1\nIP: 10.1.2.3")));
    // Lines of sends reach the window; Escape in the text closes it.
    dm->sendLog().append(QStringLiteral("Envío pedido: 1 - regional: 7 - tiempo: 12 (ms) - Resultado: ok"));
    EXPECT_TRUE(text().endsWith(QStringLiteral("Resultado: ok")));
    window->show();
    QTest::keyRelease(window->memRes(), Qt::Key_Escape);
    EXPECT_FALSE(window->isVisible());
}

TEST_F(TFVerConfigTest, AServiceThatCannotBeReachedIsAnError) {
    WorkstationIni(dir.path())
        .setServiceUrl(QStringLiteral("http://127.0.0.1:%1/QEVService/QEVMessageService.asmx").arg(test::deadPort()));
    dm->createSender(); // the address is read when the sender is made
    click("btVerif");
    ASSERT_EQ(prompter.messages().size(), 1u);
    EXPECT_EQ(prompter.messages()[0].kind, QStringLiteral("error"));
    EXPECT_TRUE(text().isEmpty());
    EXPECT_EQ(prompter.busyDepth(), 0);
}

TEST(TFRecEstTest, ShowsOnlyTransfersOfKnownSize) {
    TFRecEst box;
    box.transferBegins(TransferProgress::Direction::Receiving, 0);
    EXPECT_FALSE(box.isVisible());
    box.transferProgress(TransferProgress::Direction::Receiving, 10, 0);
    EXPECT_FALSE(box.isVisible());
    box.transferBegins(TransferProgress::Direction::Sending, 2000);
    EXPECT_TRUE(box.isVisible());
    EXPECT_EQ(box.windowTitle(), QStringLiteral("Enviando Mensaje.."));
    box.transferProgress(TransferProgress::Direction::Sending, 500, 2000);
    EXPECT_EQ(box.bar()->value(), 25);
    box.transferEnds();
    EXPECT_FALSE(box.isVisible());
    box.transferProgress(TransferProgress::Direction::Receiving, 3000, 2000); // past the predicted size
    EXPECT_TRUE(box.isVisible());
    EXPECT_EQ(box.windowTitle(), QStringLiteral("Recibiendo Mensaje..."));
    EXPECT_EQ(box.bar()->value(), 100);
}

} // namespace
} // namespace qev
