// The listing of the personal requests not yet sent.
#include "requests/ui/UnsentPersonalList.h"

#include "RequestFixture.h"
#include "core/ui/TFListado.h"

namespace qev {
namespace {

using dbf::Value;
using test::RequestFixture;

class UnsentPersonalListTest : public RequestFixture {
protected:
    // Saved personal requests numbered 1, 2, ... in the given states.
    void requests(const QString& states) {
        Dataset& p = dm->pedp();
        for (const QChar state : states) {
            newPersonalRequest();
            ASSERT_TRUE(save(p)) << texts().toStdString();
            if (state == QLatin1Char('I')) continue;
            ASSERT_TRUE(p.edit());
            p.setValue(QStringLiteral("C_EST"), Value(QString(state).toStdString()));
            ASSERT_TRUE(save(p)) << texts().toStdString();
        }
    }
    std::string listed() {
        listUnsentPersonal(dm->pedp(), list);
        return list.text().toStdString();
    }
    TFListado list;
};

const QString kHead = QStringLiteral("Pedidos personales sin enviar\n=============================");

TEST_F(UnsentPersonalListTest, ListsTheUnsentRequestsUnderTheHeading) {
    EXPECT_EQ(listed(), kHead.toStdString()) << "an empty table";
    EXPECT_EQ(list.windowTitle(), QStringLiteral("Pedidos personales sin enviar"));
    EXPECT_TRUE(list.isVisible());

    requests(QStringLiteral("IECIRTI"));
    EXPECT_EQ(listed(), (kHead + QStringLiteral("\n1\n4\n7")).toStdString());
    EXPECT_EQ(list.bar()->maximum(), 7);
    EXPECT_EQ(dm->pedp().position(), 6) << "the scan leaves the cursor on the last row";

    // A row being edited is neither posted nor lost by the listing.
    Dataset& p = dm->pedp();
    p.moveTo(1);
    ASSERT_TRUE(p.edit());
    prompter.clear();
    p.setValue(QStringLiteral("X_APE1"), Value("RUIZ"));
    EXPECT_EQ(listed(), (kHead + QStringLiteral("\n1\n4\n7")).toStdString());
    EXPECT_TRUE(prompter.texts().isEmpty()) << "no save was tried: " << texts().toStdString();
    EXPECT_EQ(p.state(), Dataset::State::Edit);
    EXPECT_EQ(p.text(QStringLiteral("X_APE1")), QStringLiteral("RUIZ"));
    EXPECT_EQ(p.value(QStringLiteral("C_PED")).number(), 2);
}

} // namespace
} // namespace qev
