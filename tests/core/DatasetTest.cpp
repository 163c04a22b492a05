#include "core/Dataset.h"
#include "FixedClock.h"
#include "ScriptedPrompter.h"
#include "TempAppDir.h"
#include "core/OfficeSchema.h"

#include <QAbstractItemModelTester>
#include <gtest/gtest.h>

namespace qev {
namespace {

using dbf::Value;

class DatasetTest : public ::testing::Test {
protected:
    void SetUp() override {
        QString error;
        ASSERT_TRUE(createOfficeFolder(dir.path(), true, clock, &error)) << error.toStdString();
    }
    std::unique_ptr<Dataset> make(const char* component) {
        auto ds = std::make_unique<Dataset>(dir.path(), *findOfficeTable(QString::fromLatin1(component)));
        ds->setPrompter(&prompter);
        return ds;
    }
    test::TempAppDir dir;
    test::FixedClock clock{QDateTime(QDate(2024, 5, 10), QTime(10, 0))};
    test::ScriptedPrompter prompter;
};

TEST_F(DatasetTest, BrowsesInKeyOrderAndFindsKeys) {
    auto org = make("org");
    ASSERT_TRUE(org->open());
    ASSERT_GT(org->rowCount(), 2);
    double previous = -1;
    for (org->first(); !org->eof(); org->next()) {
        const double key = org->value(QStringLiteral("C_ORG")).number();
        EXPECT_GT(key, previous);
        previous = key;
        if (org->position() == org->rowCount() - 1) break;
    }
    ASSERT_TRUE(org->locate(QStringLiteral("C_ORG"), Value(2.0)));
    EXPECT_EQ(org->value(QStringLiteral("C_ORG")).number(), 2.0);
    EXPECT_FALSE(org->locate(QStringLiteral("C_ORG"), Value(99999.0)));
    EXPECT_EQ(org->value(QStringLiteral("C_ORG")).number(), 2.0) << "a failed locate does not move";
}

TEST_F(DatasetTest, TypingOutsideEditChangesNothingAndRefusedPostKeepsInput) {
    auto org = make("org");
    ASSERT_TRUE(org->open());
    org->first();
    const QString before = org->text(QStringLiteral("X_ORG"));
    EXPECT_FALSE(org->setValue(QStringLiteral("X_ORG"), Value("CAMBIO")));
    EXPECT_EQ(org->text(QStringLiteral("X_ORG")), before);

    int refusals = 0;
    org->beforePost = [&refusals](Dataset&) {
        ++refusals;
        return false;
    };
    ASSERT_TRUE(org->edit());
    ASSERT_TRUE(org->setText(QStringLiteral("X_ORG"), QStringLiteral("JUZGADO NUEVO")));
    EXPECT_FALSE(org->post());
    EXPECT_EQ(refusals, 1);
    EXPECT_EQ(org->state(), Dataset::State::Edit);
    EXPECT_EQ(org->text(QStringLiteral("X_ORG")), QStringLiteral("JUZGADO NUEVO"));
    // Going to another row would post the edit first: refused, the cursor stays and the search says so.
    const Value here = org->value(QStringLiteral("C_ORG"));
    org->last();
    const Value elsewhere = org->value(QStringLiteral("C_ORG"));
    EXPECT_EQ(here, elsewhere);
    EXPECT_FALSE(org->locate(QStringLiteral("C_ORG"), Value(2.0)));
    EXPECT_EQ(org->value(QStringLiteral("C_ORG")), here);
    org->cancel();
    EXPECT_EQ(org->text(QStringLiteral("X_ORG")), before);
}

TEST_F(DatasetTest, PostIsVisibleToAnotherCursorAtOnceAndCursorStaysOnTheRow) {
    auto mine = make("org");
    auto other = make("org");
    ASSERT_TRUE(mine->open());
    ASSERT_TRUE(other->open());
    const int rows = other->rowCount();

    ASSERT_TRUE(mine->insert());
    ASSERT_TRUE(mine->setValue(QStringLiteral("C_ORG"), Value(500.0)));
    ASSERT_TRUE(mine->setText(QStringLiteral("X_ORG"), QStringLiteral("ORGANISMO NUEVO")));
    ASSERT_TRUE(mine->post());
    EXPECT_EQ(mine->value(QStringLiteral("C_ORG")).number(), 500.0);

    other->refresh();
    EXPECT_EQ(other->rowCount(), rows + 1);
    ASSERT_TRUE(other->locate(QStringLiteral("C_ORG"), Value(500.0)));
    EXPECT_EQ(other->text(QStringLiteral("X_ORG")), QStringLiteral("ORGANISMO NUEVO"));

    // A refused delete keeps the row; an accepted one removes it for both cursors.
    mine->beforeDelete = [](Dataset&) { return false; };
    EXPECT_FALSE(mine->remove());
    mine->beforeDelete = nullptr;
    ASSERT_TRUE(mine->remove());
    other->refresh();
    EXPECT_EQ(other->rowCount(), rows);
}

TEST_F(DatasetTest, NewRecordDefaultsFieldChangeAndCalculatedFields) {
    auto org = make("org");
    org->onNewRecord = [](Dataset& d) { d.setValue(QStringLiteral("X_LOC"), Value("CORDOBA")); };
    int changes = 0;
    org->onFieldChange(QStringLiteral("c_prov"), [&changes](Dataset&) { ++changes; });
    org->addCalcField(QStringLiteral("etiqueta"));
    org->onCalcFields = [](Dataset& d) {
        d.setCalcValue(QStringLiteral("etiqueta"), Value(("#" + d.text(QStringLiteral("C_ORG"))).toStdString()));
    };
    ASSERT_TRUE(org->open());
    ASSERT_TRUE(org->insert());
    EXPECT_EQ(org->text(QStringLiteral("X_LOC")), QStringLiteral("CORDOBA"));
    EXPECT_FALSE(org->modified()) << "defaults are not the operator's changes";
    org->setText(QStringLiteral("C_PROV"), QStringLiteral("3"));
    org->setText(QStringLiteral("C_ORG"), QStringLiteral("77"));
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(org->text(QStringLiteral("etiqueta")), QStringLiteral("#77"));
    QString error;
    EXPECT_FALSE(org->setText(QStringLiteral("C_PROV"), QStringLiteral("tres"), &error));
    EXPECT_FALSE(error.isEmpty());
}

TEST_F(DatasetTest, DatesAndLogicalsConvertFromOperatorText) {
    auto ped = make("ped");
    ASSERT_TRUE(ped->open());
    ASSERT_TRUE(ped->insert());
    EXPECT_TRUE(ped->setText(QStringLiteral("F_NAC"), QStringLiteral("29/02/2000")));
    EXPECT_EQ(ped->text(QStringLiteral("F_NAC")), QStringLiteral("29/02/2000"));
    EXPECT_FALSE(ped->setText(QStringLiteral("F_NAC"), QStringLiteral("30/02/2000")));
    EXPECT_FALSE(ped->setText(QStringLiteral("F_NAC"), QStringLiteral("2000-02-01")));
    EXPECT_TRUE(ped->setText(QStringLiteral("F_NAC"), QStringLiteral("  /  /    ")));
    EXPECT_TRUE(ped->isNull(QStringLiteral("F_NAC")));
    EXPECT_TRUE(ped->setText(QStringLiteral("M_MENOR"), QStringLiteral("True")));
    EXPECT_EQ(ped->value(QStringLiteral("M_MENOR")), Value(true));
    ped->cancel();
}

TEST_F(DatasetTest, DetailRowsFollowTheMasterAndTakeItsKey) {
    auto ped = make("ped");
    auto sup = make("sup");
    sup->setMaster(ped.get(), QStringLiteral("C_PED"), QStringLiteral("C_PED"));
    ASSERT_TRUE(ped->open());
    ASSERT_TRUE(sup->open());
    ped->first();
    const double first = ped->value(QStringLiteral("C_PED")).number();
    ASSERT_TRUE(sup->insert());
    EXPECT_EQ(sup->value(QStringLiteral("C_PED")).number(), first);
    sup->setText(QStringLiteral("X_APE1"), QStringLiteral("ALIAS"));
    ASSERT_TRUE(sup->post());
    const int aliases = sup->rowCount();
    EXPECT_GE(aliases, 1);

    ped->next();
    ASSERT_NE(ped->value(QStringLiteral("C_PED")).number(), first);
    for (int i = 0; i < sup->rowCount(); ++i)
        EXPECT_EQ(sup->valueAt(i, QStringLiteral("C_PED")), ped->value(QStringLiteral("C_PED")));
    ped->first();
    EXPECT_EQ(sup->rowCount(), aliases);
}

TEST_F(DatasetTest, LookupFieldsAndFilter) {
    auto prov = make("prov");
    auto org = make("org");
    org->addLookupField(QStringLiteral("x_prov"), QStringLiteral("C_PROV"), prov.get(), QStringLiteral("C_PROV"),
                        QStringLiteral("X_PROV"));
    ASSERT_TRUE(prov->open());
    ASSERT_TRUE(org->open());
    org->first();
    const Value code = org->value(QStringLiteral("C_PROV"));
    ASSERT_FALSE(code.isNull());
    ASSERT_TRUE(prov->locate(QStringLiteral("C_PROV"), code));
    EXPECT_EQ(org->text(QStringLiteral("x_prov")), prov->text(QStringLiteral("X_PROV")));

    const int all = org->rowCount();
    org->filterRecord = [](const Dataset& d) { return d.value(QStringLiteral("C_ORG")).number() <= 1; };
    org->setFiltered(true);
    EXPECT_EQ(org->rowCount(), 1);
    org->setFiltered(false);
    EXPECT_EQ(org->rowCount(), all);
}

} // namespace
} // namespace qev
