#include "requests/ui/TFCompPedBol.h"
#include "RequestFixture.h"
#include "requests/PedBol.h"
#include "requests/SlipLookups.h"

#include <QApplication>
#include <QGroupBox>
#include <QPushButton>
#include <QTimer>

namespace qev {
namespace {

using dbf::Value;
using test::RequestFixture;

class TFCompPedBolTest : public RequestFixture {
protected:
    void SetUp() override {
        RequestFixture::SetUp();
        Dataset& p = dm->pedp();
        ASSERT_TRUE(p.insert());
        p.setValue(QStringLiteral("X_APE1"), Value("GOMEZ"));
        p.setValue(QStringLiteral("X_APE2"), Value("PEREZ"));
        p.setValue(QStringLiteral("X_NOM1"), Value("ANA"));
        p.setValue(QStringLiteral("C_SEXO"), Value("F"));
        p.setValue(QStringLiteral("C_NAC"), Value(32));
        p.setValue(QStringLiteral("C_TDOC"), Value("1"));
        p.setValue(QStringLiteral("N_DOC"), Value(30111222.0));
        p.setValue(QStringLiteral("F_NAC"), fromQDate(QDate(1980, 5, 12)));
        PedBol& slip = dm->slips().pedBol();
        slip.insert();
        for (const auto& [name, text] :
             std::initializer_list<std::pair<const char*, const char*>>{{"x_ape1", "GOMEZ"},
                                                                        {"x_ape2", "PEREZ"},
                                                                        {"x_nom1", "ANALIA"},
                                                                        {"c_sexo", "F"},
                                                                        {"c_pais", "32"},
                                                                        {"c_tdoc", "1"},
                                                                        {"n_doc", "30111223"},
                                                                        {"f_nac", "12/05/1980 0:00:00"},
                                                                        {"c_boleta_web", "A1345678901"}})
            ASSERT_TRUE(slip.setText(QString::fromLatin1(name), QString::fromLatin1(text))) << name;
        slip.post();
    }
    static QColor colour(QGroupBox* side, const char* name) {
        auto* l = side->findChild<QLabel*>(QString::fromLatin1(name));
        EXPECT_NE(l, nullptr) << name;
        return l ? l->palette().color(QPalette::WindowText) : QColor();
    }
    static QString text(QGroupBox* side, const char* name) {
        auto* l = side->findChild<QLabel*>(QString::fromLatin1(name));
        return l ? l->text() : QString();
    }
};

TEST_F(TFCompPedBolTest, PairsThatDifferAreBlueAndTheRestRed) {
    TFCompPedBol w(*dm, prompter, QStringLiteral("A1345678901"), QStringLiteral("5"), QStringLiteral("17"));
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Comparativo de Pedido - Boleta"));
    auto* request = w.findChild<QGroupBox*>(QStringLiteral("Gptram1"));
    auto* slip = w.findChild<QGroupBox*>(QStringLiteral("Gptram2"));
    ASSERT_TRUE(request && slip);
    EXPECT_EQ(request->title(), QStringLiteral("Pedido Privado QEV"));
    EXPECT_EQ(slip->title(), QStringLiteral("Boleta "));
    EXPECT_EQ(text(request, "lbApe"), QStringLiteral("GOMEZ PEREZ"));
    EXPECT_EQ(text(slip, "lbNom"), QStringLiteral("ANALIA  ")) << "three parts, two of them empty";
    EXPECT_EQ(text(slip, "x_sexo"), QStringLiteral("Femenino")) << "looked up like the request's";
    EXPECT_EQ(text(slip, "x_nac"), QStringLiteral("Argentina"));
    EXPECT_EQ(text(slip, "x_tdoc"), QStringLiteral("D.N.I."));
    EXPECT_EQ(text(slip, "f_nac"), QStringLiteral("12/05/1980"));

    for (const char* same : {"lbApe", "x_sexo", "f_nac", "x_nac", "x_tdoc"}) {
        EXPECT_EQ(colour(request, same), TFCompPedBol::equalColour()) << same;
        EXPECT_EQ(colour(slip, same), TFCompPedBol::equalColour()) << same;
    }
    for (const char* differing : {"lbNom", "n_doc"}) {
        EXPECT_EQ(colour(request, differing), TFCompPedBol::differentColour()) << differing;
        EXPECT_EQ(colour(slip, differing), TFCompPedBol::differentColour()) << differing;
    }
    auto* cancel = w.findChild<QPushButton*>(QStringLiteral("btCancel"));
    ASSERT_TRUE(cancel);
    EXPECT_TRUE(cancel->isDefault());
}

TEST_F(TFCompPedBolTest, ANameSplitOtherwiseIntoFieldsIsTheSameName) {
    // The slip keeps both surnames in its first field and nothing in the second.
    PedBol& slip = dm->slips().pedBol();
    slip.insert();
    for (const auto& [name, text] : std::initializer_list<std::pair<const char*, const char*>>{
             {"x_ape1", "GOMEZ PEREZ"}, {"x_ape2", ""}, {"x_nom1", "ANALIA"}, {"c_boleta_web", "A1345678901"}})
        ASSERT_TRUE(slip.setText(QString::fromLatin1(name), QString::fromLatin1(text))) << name;
    slip.post();
    TFCompPedBol w(*dm, prompter, QStringLiteral("A1345678901"), QStringLiteral("5"), QStringLiteral("17"));
    auto* request = w.findChild<QGroupBox*>(QStringLiteral("Gptram1"));
    auto* bol = w.findChild<QGroupBox*>(QStringLiteral("Gptram2"));
    ASSERT_TRUE(request && bol);
    EXPECT_NE(text(request, "lbApe"), text(bol, "lbApe"));
    EXPECT_EQ(colour(request, "lbApe"), TFCompPedBol::equalColour());
    EXPECT_EQ(colour(bol, "lbApe"), TFCompPedBol::equalColour());
    EXPECT_EQ(colour(bol, "lbNom"), TFCompPedBol::differentColour());
}

TEST_F(TFCompPedBolTest, ContinuingNeedsConfirmation) {
    TFCompPedBol w(*dm, prompter, QStringLiteral("A1345678901"), QStringLiteral("5"), QStringLiteral("17"));
    w.show();
    prompter.answerConfirm(false);
    w.findChild<QPushButton*>(QStringLiteral("btOK"))->click();
    EXPECT_EQ(prompter.lastText(), QStringLiteral("Aún hay datos que difieren de la boleta\rEstá seguro que desea "
                                                  "continuar?"));
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(w.result(), 0);
    prompter.answerConfirm(true);
    w.findChild<QPushButton*>(QStringLiteral("btOK"))->click();
    EXPECT_EQ(w.result(), QDialog::Accepted);

    // Modal use: cancelling answers false.
    QTimer::singleShot(0, [] {
        for (QWidget* top : QApplication::topLevelWidgets())
            if (auto* d = qobject_cast<TFCompPedBol*>(top); d && d->isVisible())
                d->findChild<QPushButton*>(QStringLiteral("btCancel"))->click();
    });
    EXPECT_FALSE(
        TFCompPedBol::compare(*dm, prompter, QStringLiteral("A1345678901"), QStringLiteral("5"), QStringLiteral("17")));
}

} // namespace
} // namespace qev
