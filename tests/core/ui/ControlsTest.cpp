#include "FixedClock.h"
#include "ScriptedPrompter.h"
#include "TempAppDir.h"
#include "core/OfficeSchema.h"
#include "core/ui/DbControls.h"

#include <QAbstractItemModelTester>
#include <QTest>
#include <gtest/gtest.h>

namespace qev {
namespace {

using dbf::Value;

class ControlsTest : public ::testing::Test {
protected:
    void SetUp() override {
        QString error;
        ASSERT_TRUE(createOfficeFolder(dir.path(), true, clock, &error));
        org = std::make_unique<Dataset>(dir.path(), *findOfficeTable(QStringLiteral("org")));
        prov = std::make_unique<Dataset>(dir.path(), *findOfficeTable(QStringLiteral("prov")));
        org->setPrompter(&prompter);
        ASSERT_TRUE(org->open());
        ASSERT_TRUE(prov->open());
    }
    test::TempAppDir dir;
    test::FixedClock clock{QDateTime(QDate(2024, 5, 10), QTime(10, 0))};
    test::ScriptedPrompter prompter;
    std::unique_ptr<Dataset> org;
    std::unique_ptr<Dataset> prov;
};

TEST_F(ControlsTest, BoundEditWritesOnlyInEditStateAndFollowsTheCursor) {
    DbEdit edit(*org, QStringLiteral("X_ORG"));
    edit.setUpperCase(true);
    org->first();
    const QString first = org->text(QStringLiteral("X_ORG"));
    EXPECT_EQ(edit.text(), first);
    EXPECT_TRUE(edit.isReadOnly());
    EXPECT_EQ(edit.maxLength(), 80);
    QTest::keyClicks(&edit, QStringLiteral("zz"));
    EXPECT_EQ(org->text(QStringLiteral("X_ORG")), first) << "typing in browse state changes nothing";
    EXPECT_EQ(edit.text(), first);

    ASSERT_TRUE(org->edit());
    EXPECT_FALSE(edit.isReadOnly());
    edit.selectAll();
    QTest::keyClicks(&edit, QStringLiteral("juzgado federal"));
    EXPECT_EQ(org->text(QStringLiteral("X_ORG")), QStringLiteral("JUZGADO FEDERAL"));
    ASSERT_TRUE(org->post());

    org->next();
    EXPECT_EQ(edit.text(), org->text(QStringLiteral("X_ORG"))) << "another move shows the other row";
}

TEST_F(ControlsTest, LookupComboStoresTheKeyAndShowsTheDescription) {
    DbLookupCombo combo(*org, QStringLiteral("C_PROV"), *prov, QStringLiteral("C_PROV"), QStringLiteral("X_PROV"));
    ASSERT_GT(combo.count(), 3);
    org->first();
    ASSERT_TRUE(prov->locate(QStringLiteral("C_PROV"), org->value(QStringLiteral("C_PROV"))));
    EXPECT_EQ(combo.currentText(), prov->text(QStringLiteral("X_PROV")).trimmed());
    ASSERT_TRUE(org->edit());
    combo.setCurrentIndex(2);
    Q_EMIT combo.activated(2);
    EXPECT_EQ(org->value(QStringLiteral("C_PROV")), prov->valueAt(2, QStringLiteral("C_PROV")));
    org->cancel();
}

TEST_F(ControlsTest, CheckBoxStoresLogicals) {
    auto ped = std::make_unique<Dataset>(dir.path(), *findOfficeTable(QStringLiteral("ped")));
    ASSERT_TRUE(ped->open());
    DbCheckBox box(*ped, QStringLiteral("M_MENOR"), QStringLiteral("Menor de 16"));
    ped->first();
    const bool before = box.isChecked();
    box.click();
    EXPECT_EQ(box.isChecked(), before) << "no change outside edit state";
    ASSERT_TRUE(ped->edit());
    box.click();
    EXPECT_EQ(ped->text(QStringLiteral("M_MENOR")), before ? QStringLiteral("False") : QStringLiteral("True"));
    ped->cancel();
}

TEST_F(ControlsTest, NavigatorHintsStatesAndCancellingHook) {
    DbNavigator nav(*org, prompter);
    EXPECT_EQ(nav.button(DbNavigator::Button::Post)->toolTip(), QStringLiteral("Aceptar"));
    EXPECT_EQ(nav.button(DbNavigator::Button::Last)->toolTip(), QStringLiteral("Último registro"));
    org->first();
    EXPECT_FALSE(nav.button(DbNavigator::Button::Prior)->isEnabled());
    EXPECT_FALSE(nav.button(DbNavigator::Button::Post)->isEnabled());

    std::vector<DbNavigator::Button> seen;
    nav.beforeAction = [&seen](DbNavigator::Button b) {
        seen.push_back(b);
        return b != DbNavigator::Button::Delete;
    };
    const int rows = org->rowCount();
    nav.click(DbNavigator::Button::Delete);
    EXPECT_EQ(org->rowCount(), rows) << "a cancelling hook stops the delete";
    nav.click(DbNavigator::Button::Edit);
    EXPECT_EQ(org->state(), Dataset::State::Edit);
    EXPECT_TRUE(nav.button(DbNavigator::Button::Post)->isEnabled());
    EXPECT_FALSE(nav.button(DbNavigator::Button::Next)->isEnabled());
    nav.click(DbNavigator::Button::Cancel);
    EXPECT_EQ(org->state(), Dataset::State::Browse);
    ASSERT_EQ(seen.size(), 3u);

    nav.beforeAction = nullptr;
    prompter.answerConfirm(false);
    nav.click(DbNavigator::Button::Delete);
    EXPECT_EQ(org->rowCount(), rows) << "answering No keeps the row";
    prompter.answerConfirm(true);
    nav.click(DbNavigator::Button::Delete);
    EXPECT_EQ(org->rowCount(), rows - 1);

    // Where the record rules ask themselves, the navigator deletes at once.
    nav.setConfirmDelete(false);
    prompter.clear();
    nav.click(DbNavigator::Button::Delete);
    EXPECT_EQ(org->rowCount(), rows - 2);
    EXPECT_TRUE(prompter.messages().empty());
}

TEST_F(ControlsTest, AnImpossibleDateIsRefusedWhenPostedAndNothingIsStored) {
    auto ped = std::make_unique<Dataset>(dir.path(), *findOfficeTable(QStringLiteral("ped")));
    ped->setPrompter(&prompter);
    ASSERT_TRUE(ped->open());
    DbEdit birth(*ped, QStringLiteral("F_NAC"));
    ped->first();
    ASSERT_TRUE(ped->edit());
    const Value before = ped->value(QStringLiteral("F_NAC"));
    for (const char* typed : {"31/02/1980", "12/13/1980", "1/1"}) {
        birth.selectAll();
        QTest::keyClicks(&birth, QString::fromLatin1(typed));
        prompter.clear();
        EXPECT_FALSE(ped->post()) << typed;
        EXPECT_EQ(ped->state(), Dataset::State::Edit) << typed;
        EXPECT_TRUE(prompter.lastText().contains(QStringLiteral("no es una fecha válida"))) << typed;
        EXPECT_EQ(birth.text(), QString::fromLatin1(typed)) << "the operator's text stays to be mended";
        EXPECT_EQ(ped->value(QStringLiteral("F_NAC")), before) << typed;
    }
    birth.selectAll();
    QTest::keyClicks(&birth, QStringLiteral("29/02/1980"));
    ASSERT_TRUE(ped->post());
    EXPECT_EQ(ped->text(QStringLiteral("F_NAC")), QStringLiteral("29/02/1980"));

    DbCheckBox sent(*ped, QStringLiteral("M_ENVIADO"), QStringLiteral("Enviado"));
    sent.setReadOnlyBox(true);
    ASSERT_TRUE(ped->edit());
    const bool was = sent.isChecked();
    QTest::mouseClick(&sent, Qt::LeftButton);
    EXPECT_EQ(sent.isChecked(), was) << "a read-only box ignores clicks even in edit state";
    EXPECT_EQ(sent.focusPolicy(), Qt::NoFocus);
    ped->cancel();
}

TEST_F(ControlsTest, GridModelIsConsistentAndMovesTheCursor) {
    DbGrid grid(*org, {{QStringLiteral("C_ORG"), QStringLiteral("Código")},
                       {QStringLiteral("X_ORG"), QStringLiteral("Organismo")}});
    QAbstractItemModelTester tester(grid.datasetModel(), QAbstractItemModelTester::FailureReportingMode::Fatal);
    EXPECT_EQ(grid.model()->rowCount(), org->rowCount());
    EXPECT_EQ(grid.model()->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Organismo"));
    grid.selectionModel()->setCurrentIndex(grid.model()->index(2, 0), QItemSelectionModel::ClearAndSelect);
    EXPECT_EQ(org->position(), 2);
    org->first();
    EXPECT_EQ(grid.currentIndex().row(), 0);

    // Inserting shows a new line, posting keeps the count right.
    ASSERT_TRUE(org->insert());
    EXPECT_EQ(grid.model()->rowCount(), org->rowCount() + 1);
    EXPECT_TRUE(grid.model()->setData(grid.model()->index(org->rowCount(), 0), QStringLiteral("901")));
    org->setText(QStringLiteral("X_ORG"), QStringLiteral("NUEVO"));
    ASSERT_TRUE(org->post());
    EXPECT_EQ(grid.model()->rowCount(), org->rowCount());
    EXPECT_EQ(grid.model()->data(grid.model()->index(org->position(), 0)).toString(), QStringLiteral("901"));
    EXPECT_FALSE(grid.model()->flags(grid.model()->index(0, 0)) & Qt::ItemIsEditable) << "browse state edits nothing";
}

} // namespace
} // namespace qev
