#include "RequestFixture.h"
#include "core/SqlQuery.h"
#include "core/ui/DbControls.h"
#include "core/ui/QueryControls.h"
#include "dbf/sql/SqlRunner.h"
#include "requests/ui/TFConsOrg.h"
#include "requests/ui/TFConsPed.h"
#include "requests/ui/TFConsulta.h"
#include "requests/ui/TFOrg.h"
#include "requests/ui/TFPeriodo.h"
#include "requests/ui/TFbped.h"

#include <QApplication>
#include <QDateEdit>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>

namespace qev {
namespace {

using dbf::Value;
using test::RequestFixture;

// An office with two organisations and official requests in every sending state, one of them filed for an
// organisation that no longer exists; aliases of request 1 and two personal requests.
class QueriesTest : public RequestFixture {
protected:
    void SetUp() override {
        RequestFixture::SetUp();
        run("INSERT INTO org.DBF (c_org, x_org) VALUES (1, \"JUZGADO FEDERAL 1\"), (2, \"FISCALIA 3\")");
        // c_ped, c_org, surname, first name, document, case number, sent, answered
        run("INSERT INTO PED.DBF (c_ped, c_org, x_ape1, x_nom1, n_doc, n_causa, m_enviado, m_contesta) VALUES "
            "(1, 1, \"GOMEZ\", \"JUAN\", 20111222, \"101/2024\", FALSE, FALSE),"
            "(2, 2, \"PEREZ\", \"ANA\", 30111222, \"ABC/2024\", TRUE, FALSE),"
            "(3, 1, \"GOMEZ\", \"MARIA\", 27000111, \"77/2023\", TRUE, TRUE),"
            "(4, 9, \"MUÑOZ\", \"LUIS\", 22000333, \"5/2024\", FALSE, FALSE),"
            "(5, 2, \"MUÑOZ\", \"EVA\", 23000444, \"6/2024\", FALSE, FALSE),"
            "(6, 1, \"SOSA\", \"RAUL\", 24000555, \"8/2024\", TRUE, TRUE)");
        run("INSERT INTO sup.dbf (c_ped, x_ape1, x_nom1) VALUES (1, \"ROSSI\", \"JUAN\"), (6, \"ROSSI\", \"RAUL\")");
        run("INSERT INTO Pedp.DBF (c_ped, x_ape1, x_nom1, n_doc) VALUES (1, \"GOMEZ\", \"ANA\", 30111222),"
            "(2, \"LOPEZ\", \"EVA\", 31000999)");
        for (Dataset* ds : {&dm->org(), &dm->ped(), &dm->sup(), &dm->pedp()})
            ds->refresh();
        prompter.clear();
    }
    void run(const char* statement) {
        dbf::sql::SqlRunner sql(dir.path().toStdString());
        auto r = sql.run(statement);
        ASSERT_TRUE(r) << r.error();
    }
    static std::vector<int> numbers(const SqlQuery& q) {
        std::vector<int> n;
        for (int i = 0; i < q.rowCount(); ++i)
            n.push_back(static_cast<int>(q.valueAt(i, QStringLiteral("C_PED")).number()));
        return n;
    }
    template <typename T> static T* child(QWidget& w, const char* name) {
        T* c = w.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(c, nullptr) << name;
        return c;
    }
    static void click(QWidget& w, const char* name) {
        if (auto* b = child<QAbstractButton>(w, name)) b->click();
    }
};

TEST_F(QueriesTest, RequestListsShowEachSendingStateAndOnlyRequestsWithTheirOrganisation) {
    TFConsPed w(*dm, prompter);
    w.show();
    EXPECT_EQ(numbers(w.currentList()), (std::vector<int>{1, 2, 3, 5, 6})) << "shown on all, without request 4";
    const struct {
        const char* option;
        std::vector<int> rows;
        const char* title;
    } cases[] = {
        {"rbSin", {1, 5}, "Informe de Pedidos sin Enviar"},
        {"rbEnv", {2}, "Informe de Pedidos Enviados sin Contestar"},
        {"rbCon", {3, 6}, "Informe de Pedidos Contestados"},
        {"rbTod", {1, 2, 3, 5, 6}, "Informe de Pedidos"},
        {"rbCon", {3, 6}, "Informe de Pedidos Contestados"},
    };
    for (const auto& c : cases) {
        click(w, c.option);
        EXPECT_EQ(numbers(w.currentList()), c.rows) << c.option;
        EXPECT_EQ(w.listTitle(), QString::fromLatin1(c.title)) << c.option;
        EXPECT_EQ(w.grid()->model()->rowCount(), static_cast<int>(c.rows.size())) << c.option;
    }
    EXPECT_EQ(w.printHeader(), QStringLiteral("QEV - Regional Regional Córdoba - Informe de Pedidos Contestados"));
    EXPECT_EQ(w.grid()->model()->index(1, 6).data().toString(), QStringLiteral("JUZGADO FEDERAL 1"));

    // A request answered meanwhile appears after "&Refrescar"; the option chosen is kept.
    run("UPDATE ped.dbf SET m_enviado = TRUE, m_contesta = TRUE WHERE c_ped = 5");
    click(w, "btRefresh");
    EXPECT_EQ(numbers(w.currentList()), (std::vector<int>{3, 5, 6}));

    // "&Ver Pedido" opens the official request chosen in the grid.
    int shown = 0;
    w.showOfficialRequest = [&] { ++shown; };
    w.grid()->selectRow(2);
    click(w, "btVer");
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(dm->ped().value(QStringLiteral("C_PED")).number(), 6);
    EXPECT_TRUE(prompter.messages().empty()) << texts().toStdString();
}

struct SearchCase {
    const char* name;
    const char* table; // radio button
    int page;          // 0 code, 1 names, 2 document
    std::vector<std::pair<const char*, const char*>> typed;
    std::vector<int> found; // empty: "Disculpe..."
};

void PrintTo(const SearchCase& c, std::ostream* os) {
    *os << c.name;
}

class TFConsultaSearch : public QueriesTest, public ::testing::WithParamInterface<SearchCase> {};

TEST_P(TFConsultaSearch, FindsTheRequestsThatMatch) {
    const SearchCase& c = GetParam();
    TFConsulta w(*dm, prompter);
    w.show();
    click(w, c.table);
    child<QTabWidget>(w, "pbusq")->setCurrentIndex(c.page);
    for (const auto& [edit, text] : c.typed)
        child<QLineEdit>(w, edit)->setText(QString::fromUtf8(text));
    click(w, "btBus");
    if (c.found.empty()) {
        EXPECT_EQ(texts(), QStringLiteral("Disculpe, no se encontraron pedidos\rque cumplan las condiciones"));
    } else {
        EXPECT_TRUE(prompter.messages().empty()) << texts().toStdString();
        EXPECT_EQ(numbers(dm->qConsulta()), c.found);
        EXPECT_EQ(w.grid()->model()->rowCount(), static_cast<int>(c.found.size()));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Pages, TFConsultaSearch,
    ::testing::Values(SearchCase{"Code", "rbOficiales", 0, {{"c_tram", "3"}}, {3}},
                      SearchCase{"CodeLeadingZeros", "rbOficiales", 0, {{"c_tram", "0002"}}, {2}},
                      SearchCase{"CodeZero", "rbOficiales", 0, {{"c_tram", "0"}}, {}},
                      SearchCase{"CodeEmpty", "rbOficiales", 0, {}, {}},
                      SearchCase{"CodeUnknown", "rbOficiales", 0, {{"c_tram", "77"}}, {}},
                      SearchCase{"CodePersonal", "rbPersonales", 0, {{"c_tram", "2"}}, {2}},
                      SearchCase{"Surname", "rbOficiales", 1, {{"ape1", "GOMEZ"}}, {1, 3}},
                      SearchCase{"SurnameAndName", "rbOficiales", 1, {{"ape1", "GOMEZ"}, {"nom1", "MARIA"}}, {3}},
                      SearchCase{"FirstNameOnly", "rbOficiales", 1, {{"nom1", "ANA"}}, {2}},
                      SearchCase{"WholeValuesOnly", "rbOficiales", 1, {{"ape1", "GOM"}}, {}},
                      SearchCase{"NonAscii", "rbOficiales", 1, {{"ape1", "MUÑOZ"}, {"nom1", "EVA"}}, {5}},
                      SearchCase{"PersonalSurname", "rbPersonales", 1, {{"ape1", "GOMEZ"}}, {1}},
                      SearchCase{"Aliases", "rbSupuestos", 1, {{"ape1", "ROSSI"}}, {1, 6}},
                      // A quotation mark typed is part of the name, not the end of the value.
                      SearchCase{
                          "QuoteStaysInTheValue", "rbOficiales", 1, {{"ape1", "GOMEZ\" OR x_ape1 = \"PEREZ"}}, {}},
                      SearchCase{"Document", "rbOficiales", 2, {{"n_doc", "30111222"}}, {2}},
                      SearchCase{"PersonalDocument", "rbPersonales", 2, {{"n_doc", "30111222"}}, {1}}),
    [](const ::testing::TestParamInfo<SearchCase>& p) { return std::string(p.param.name); });

TEST_F(QueriesTest, SearchResultsOpenTheirRequestAndRefusedSearchesStayClosed) {
    TFConsulta w(*dm, prompter);
    int official = 0;
    w.showOfficialRequest = [&] { ++official; };
    w.show();

    click(w, "btView");
    EXPECT_EQ(texts(), QStringLiteral("No hay pedido para visualizar"));
    prompter.clear();

    // An alias found opens the official request it belongs to, whichever line is chosen.
    dm->ped().first();
    click(w, "rbSupuestos");
    child<QTabWidget>(w, "pbusq")->setCurrentIndex(1);
    child<QLineEdit>(w, "ape1")->setText(QStringLiteral("ROSSI"));
    click(w, "btBus");
    w.grid()->selectRow(1);
    EXPECT_EQ(dm->qConsulta().position(), 1);
    click(w, "btView");
    EXPECT_EQ(official, 1);
    EXPECT_EQ(dm->ped().value(QStringLiteral("C_PED")).number(), 6);

    // Personal requests: their window is not there yet, and the operator is told so.
    click(w, "rbPersonales");
    child<QLineEdit>(w, "ape1")->setText(QStringLiteral("LOPEZ"));
    click(w, "btBus");
    click(w, "btView");
    EXPECT_EQ(texts(), QStringLiteral("La ventana de pedidos personales no está disponible todavía en esta versión"));
    EXPECT_EQ(dm->pedp().value(QStringLiteral("C_PED")).number(), 2);
    prompter.clear();

    // Every name empty: the statement is refused, said once, and the previous result is gone.
    for (const char* e : {"ape1", "ape2", "nom1", "nom2", "nom3"})
        child<QLineEdit>(w, e)->clear();
    click(w, "btBus");
    ASSERT_EQ(prompter.messages().size(), 1u) << texts().toStdString();
    EXPECT_EQ(prompter.messages()[0].kind, QStringLiteral("error"));
    EXPECT_FALSE(dm->qConsulta().active());
    EXPECT_EQ(w.grid()->model()->rowCount(), 0);

    // Showing the window again starts on the code page with an empty code and no result.
    child<QLineEdit>(w, "ape1")->setText(QStringLiteral("GOMEZ"));
    click(w, "btBus");
    ASSERT_TRUE(dm->qConsulta().active());
    child<QLineEdit>(w, "c_tram")->setText(QStringLiteral("12"));
    w.hide();
    EXPECT_FALSE(dm->qConsulta().active());
    w.show();
    EXPECT_EQ(child<QTabWidget>(w, "pbusq")->currentIndex(), 0);
    EXPECT_TRUE(child<QLineEdit>(w, "c_tram")->text().isEmpty());
}

TEST_F(QueriesTest, SearchByCriterionMovesTheRequestTable) {
    TFbped w(*dm, prompter);
    const struct {
        const char* criterion;
        const char* edit;
        const char* typed;
        bool personal;
        int found; // 0: not found
    } cases[] = {
        {"rbPed", "edPed", "3", false, 3},
        {"rbPed", "edPed", "99", false, 0},
        {"rbCausa", "edCausa", "abc/2024", false, 2},
        {"rbCausa", "edCausa", "ABC", false, 0},
        {"rbApe", "edApe", "muñoz", false, 4},
        {"rbApe", "edApe", "gomez", false, 1},
        {"rbApe", "edApe", "lopez", true, 2},
        {"rbCausa", "edCausa", "ABC/2024", true, 0},
        {"rbPed", "edPed", "2", true, 2},
    };
    for (const auto& c : cases) {
        Dataset& table = c.personal ? dm->pedp() : dm->ped();
        table.last();
        const int before = table.position();
        prompter.clear();
        w.setTable(table);
        w.show();
        click(w, c.criterion);
        for (const char* e : {"edPed", "edCausa", "edApe"})
            EXPECT_EQ(child<QLineEdit>(w, e)->isEnabled(), std::string(e) == c.edit) << c.typed << " " << e;
        child<QLineEdit>(w, c.edit)->setText(QString::fromUtf8(c.typed));
        click(w, "Button1");
        if (c.found) {
            EXPECT_EQ(table.value(QStringLiteral("C_PED")).number(), c.found) << c.typed;
            EXPECT_FALSE(w.isVisible()) << c.typed;
            EXPECT_TRUE(prompter.messages().empty()) << c.typed;
        } else {
            EXPECT_EQ(texts(), QStringLiteral("Lo siento, no se ha encontrado el pedido")) << c.typed;
            EXPECT_EQ(table.position(), before) << c.typed;
            EXPECT_TRUE(w.isVisible()) << c.typed;
        }
        w.hide();
    }
}

TEST_F(QueriesTest, PeriodOffersTheCurrentMonthAndRefusesAnInvertedRange) {
    const std::tuple<QDate, QDate, QDate> months[] = {
        {QDate(2024, 12, 15), QDate(2024, 12, 1), QDate(2024, 12, 31)},
        {QDate(2024, 2, 10), QDate(2024, 2, 1), QDate(2024, 2, 29)},
        {QDate(2023, 2, 28), QDate(2023, 2, 1), QDate(2023, 2, 28)},
        {QDate(2024, 4, 30), QDate(2024, 4, 1), QDate(2024, 4, 30)},
    };
    TFPeriodo w(*dm, prompter);
    for (const auto& [today, first, last] : months) {
        clock.set(QDateTime(today, QTime(9, 0)));
        w.show();
        EXPECT_EQ(w.desde(), first) << today.toString(Qt::ISODate).toStdString();
        EXPECT_EQ(w.hasta(), last) << today.toString(Qt::ISODate).toStdString();
        w.hide();
    }
    w.show();
    child<QDateEdit>(w, "fecHas")->setDate(QDate(2024, 3, 31));
    click(w, "btOK");
    EXPECT_EQ(texts(), QStringLiteral("La fecha desde debe ser menor o igual a la fecha hasta"));
    EXPECT_TRUE(w.isVisible());
    child<QDateEdit>(w, "fecHas")->setDate(QDate(2024, 4, 1));
    click(w, "btOK");
    EXPECT_EQ(w.result(), QDialog::Accepted) << "one day: both dates are included";
    EXPECT_EQ(w.desde(), QDate(2024, 4, 1));
}

TEST_F(QueriesTest, OrganisationsSaveOnlyThroughTheNavigatorAndAskOnceBeforeDeleting) {
    TFConsOrg list(*dm, prompter);
    list.show();
    list.grid()->selectRow(1);
    click(list, "btVer");
    TFOrg* w = list.findChild<TFOrg*>();
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(child<QLineEdit>(*w, "x_org")->text(), QStringLiteral("FISCALIA 3")) << "on the organisation chosen";

    Dataset& org = dm->org();
    DbNavigator* nav = w->navigator();
    nav->click(DbNavigator::Button::Insert);
    ASSERT_EQ(org.state(), Dataset::State::Insert);
    for (const auto& [field, value] :
         std::initializer_list<std::pair<const char*, Value>>{{"X_ORG", Value("JUZGADO 9")},
                                                              {"X_DOM", Value("CALLE 1")},
                                                              {"X_LOC", Value("RIO CUARTO")},
                                                              {"C_PROV", Value(14)},
                                                              {"C_CODPOS", Value(5800)}})
        org.setValue(QString::fromLatin1(field), value);
    nav->click(DbNavigator::Button::Post);
    EXPECT_EQ(org.state(), Dataset::State::Browse) << texts().toStdString();
    EXPECT_EQ(org.rowCount(), 3);
    EXPECT_EQ(list.grid()->model()->rowCount(), 3);

    // Any other button takes the permission away: a save by other means is refused by the rules.
    dm->setSavePermission(true);
    nav->click(DbNavigator::Button::Edit);
    org.setValue(QStringLiteral("X_ORG"), Value("JUZGADO 10"));
    EXPECT_FALSE(org.post());
    EXPECT_EQ(prompter.messages().size(), 1u) << texts().toStdString();
    nav->click(DbNavigator::Button::Cancel);
    prompter.clear();

    nav->click(DbNavigator::Button::Delete);
    EXPECT_EQ(texts(), QStringLiteral("¿Está seguro que desea eliminar este registro?"));
    EXPECT_EQ(org.rowCount(), 3);
    prompter.clear();
    prompter.answerConfirm(true);
    nav->click(DbNavigator::Button::Delete);
    EXPECT_EQ(prompter.messages().size(), 1u) << texts().toStdString();
    EXPECT_EQ(org.rowCount(), 2);
}

} // namespace
} // namespace qev
