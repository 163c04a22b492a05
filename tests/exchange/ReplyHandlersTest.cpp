// The readers of the central office's files, the reply handlers and the state lists on a demo office, and the web
// pages through the base addresses of table `url` over real HTTP.
#include "exchange/ReplyHandlers.h"
#include "CentralSim.h"
#include "FixedClock.h"
#include "LoopbackHttp.h"
#include "ScriptedPrompter.h"
#include "TempAppDir.h"
#include "core/Dataset.h"
#include "core/OfficeSchema.h"
#include "core/Records.h"
#include "core/Settings.h"
#include "dm/ReceptionOutput.h"
#include "dm/Tdm.h"
#include "exchange/CentralState.h"
#include "exchange/ReplyFiles.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

namespace qev {
namespace {

using dbf::Value;

TEST(ReplyFiles, ProfileFileRules) {
    const QByteArray text = "; a comment\r\n[Otra]\r\nc_ped=99\r\n [ data ] \r\n  C_PED =  1234  \r\n"
                            "c_ped=5\r\nx_obs=\"  entre comillas  \"\r\nn_expe=12abc\r\nc_est=T\n\r\n"
                            "[DATA]\r\nc_reg=3\r\nn_cert=" +
                            QByteArray(3000, 'x') + "\r\n";
    const auto keys = readProfileSection(text, QStringLiteral("DATA"));
    EXPECT_EQ(keys.at(QStringLiteral("c_ped")), QStringLiteral("1234")) << "first key of the first section wins";
    EXPECT_EQ(keys.at(QStringLiteral("x_obs")), QStringLiteral("  entre comillas  "));
    EXPECT_FALSE(keys.count(QStringLiteral("c_reg"))) << "a second section of the same name is not read";
    const RespDat r = readRespDat(text);
    EXPECT_EQ(r.c_ped, 1234);
    EXPECT_EQ(r.c_reg, 0) << "missing reads as 0";
    EXPECT_FALSE(r.n_expe.has_value()) << "a number that does not read is not taken for one";
    EXPECT_FALSE(r.namesRequest());
    EXPECT_EQ(readRespDat("[DATA]\nn_cert=" + QByteArray(3000, 'x')).n_cert.size(), 2047);
    EXPECT_EQ(readRespDat("[DATA]\nx_obs=Ca\xf1"
                          "ada\n")
                  .x_obs,
              QStringLiteral("Cañada"))
        << "Windows-1252 text";
}

struct ListCase {
    const char* line;
    bool result; // a result list line
    int pedido;  // 0: the line names no request
    const char* estado;
    const char* expediente;
    const char* resultado;
};

class ListLines : public ::testing::TestWithParam<ListCase> {};

TEST_P(ListLines, AreReadByTheirSeparatorsPositions) {
    const ListCase& c = GetParam();
    const auto s =
        c.result ? parseResultLine(QString::fromLatin1(c.line)) : parseStateLine(QString::fromLatin1(c.line));
    if (c.pedido == 0) {
        EXPECT_FALSE(s.has_value());
        return;
    }
    ASSERT_TRUE(s.has_value());
    EXPECT_EQ(s->pedido, c.pedido);
    EXPECT_EQ(s->estado, QString::fromLatin1(c.estado));
    EXPECT_EQ(s->expediente, QString::fromLatin1(c.expediente));
    EXPECT_EQ(s->resultado, QString::fromLatin1(c.resultado));
}

INSTANTIATE_TEST_SUITE_P(
    All, ListLines,
    ::testing::Values(ListCase{"1234;T|5678", false, 1234, "T", "5678", ""},
                      ListCase{"  1234;C|  ", false, 1234, "C", "", ""}, ListCase{"12;|5", false, 12, "", "5", ""},
                      ListCase{"1;|5", false, 1, "", "", ""}, ListCase{";T|5", false, 0, "", "", ""},
                      ListCase{"0;T|1", false, 0, "", "", ""}, ListCase{"abc;T|1", false, 0, "", "", ""},
                      ListCase{"99999999999;T|1", false, 0, "", "", ""},
                      ListCase{"1234;C|5678,R", true, 1234, "C", "5678", "R"},
                      ListCase{"1234;T|5678,", true, 1234, "T", "5678", ""}, ListCase{"12;T,R", true, 12, "", "", ""},
                      ListCase{"NO_HAY_PEDIDOS", false, 0, "", "", ""}));

TEST(ReplyFiles, LinesSplitAtEveryBreakAndKeepTheLastOne) {
    EXPECT_EQ(DividirLineas("a\r\nb\rc\nd"), (QStringList{"a", "b", "c", "d"}));
    EXPECT_EQ(DividirLineas("a\n\nb\r\n"), (QStringList{"a", "", "b"}));
    EXPECT_TRUE(DividirLineas("").isEmpty());
    EXPECT_EQ(classifyList({QStringLiteral("x"), QStringLiteral("<h1>Error 404</h1>")}), ListKind::Unavailable);
    EXPECT_EQ(classifyList({QStringLiteral("NO_HAY_PEDIDOS")}), ListKind::NoRequests);
    EXPECT_EQ(classifyList({}), ListKind::NoRequests);
}

struct RecordingViews final : ReceptionViews {
    QStringList activity, states;
    void activityLine(const QString& l) override { activity << l; }
    void showActivity() override {}
    void clearStates() override { states.clear(); }
    void stateLine(const QString& l) override { states << l; }
    void showStates() override {}
    void stateStatus(const QString&) override {}
    void status(const QString&) override {}
};

class ReplyHandlersTest : public ::testing::Test {
protected:
    void SetUp() override {
        QString error;
        ASSERT_TRUE(createOfficeFolder(dir.path(), true, clock, &error)) << error.toStdString();
        dm = std::make_unique<Tdm>(dir.appDir(), prompter, clock);
        ASSERT_TRUE(dm->create());
        dm->setReceptionViews(&views);
        ASSERT_TRUE(dm->settings().write(QStringLiteral("m_impauto"), QStringLiteral("S")));
        ASSERT_TRUE(dm->settings().write(QStringLiteral("m_impconfp"), QStringLiteral("S")));
        prompter.clear();
    }
    void write(const QString& name, const QByteArray& bytes) {
        QFile f(dir.file(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    // The row as text, every field: what a second application must leave exactly as the first.
    QString row(Dataset& ds, double cPed) {
        ds.refresh();
        if (!ds.locate(QStringLiteral("C_PED"), Value(cPed))) return QStringLiteral("<no row>");
        QStringList out;
        for (const auto& f : ds.fields())
            out << QString::fromStdString(f.name) + QLatin1Char('=') + ds.text(QString::fromStdString(f.name));
        return out.join(QLatin1Char('|'));
    }
    QString field(Dataset& ds, double cPed, const char* name) {
        ds.refresh();
        return ds.locate(QStringLiteral("C_PED"), Value(cPed)) ? ds.text(QString::fromLatin1(name)) : QString();
    }

    test::TempAppDir dir;
    test::FixedClock clock{QDateTime(QDate(2026, 3, 16), QTime(9, 30))};
    test::ScriptedPrompter prompter;
    RecordingViews views;
    std::unique_ptr<Tdm> dm;
};

TEST_F(ReplyHandlersTest, OfficialAnswerFilesTheImagePrintsItAndAppliesTwiceTheSame) {
    const QByteArray tif = QByteArray("II*\0", 4) + QByteArray(5000, '\x11');
    QString first;
    for (int round = 0; round < 2; ++round) {
        write(QStringLiteral("resp.dat"), "[DATA]\r\nc_ped=2\r\nc_reg=7\r\nn_expe=4321\r\n");
        write(QStringLiteral("resp.tif"), tif);
        // Not an image Qt can print: the answer is still applied and filed; the print failure goes to the log.
        ASSERT_TRUE(dm->replies().AplicarContestacionOficial()) << dm->replies().lastReason().toStdString();
        const QString now = row(dm->ped(), 2);
        if (round == 0) first = now;
        EXPECT_EQ(now, first) << "a reply applied again changes nothing more";
    }
    EXPECT_EQ(field(dm->ped(), 2, "C_EST"), QStringLiteral("C"));
    EXPECT_EQ(field(dm->ped(), 2, "M_CONTESTA"), QStringLiteral("True"));
    EXPECT_EQ(field(dm->ped(), 2, "F_CON"), QStringLiteral("16/03/2026"));
    QFile filed(dir.file(QStringLiteral("c2.7")));
    ASSERT_TRUE(filed.open(QIODevice::ReadOnly));
    EXPECT_EQ(filed.readAll(), tif);
    EXPECT_FALSE(QFile::exists(dir.file(QStringLiteral("resp.dat"))));
    EXPECT_FALSE(QFile::exists(dir.file(QStringLiteral("resp.tif"))));
    EXPECT_TRUE(views.activity.isEmpty()) << "the official answer writes no activity line";

    // Without its image the answer is not applied and its file is kept for a later try.
    write(QStringLiteral("resp.dat"), "[DATA]\r\nc_ped=3\r\nc_reg=7\r\nn_expe=1\r\n");
    EXPECT_FALSE(dm->replies().AplicarContestacionOficial());
    EXPECT_TRUE(QFile::exists(dir.file(QStringLiteral("resp.dat"))));
    EXPECT_EQ(field(dm->ped(), 3, "C_EST"), QStringLiteral("T"));
}

TEST_F(ReplyHandlersTest, PersonalAnswersByStateAndResult) {
    const QString before = field(dm->pedp(), 3, "N_CERT") + field(dm->pedp(), 3, "X_OBS");
    write(QStringLiteral("resp.dat"),
          "[DATA]\nc_ped=3\nc_reg=7\nn_expe=900003\nc_est=T\nn_cert=CERT\nx_obs=nada\nc_res=S\n");
    ASSERT_TRUE(dm->replies().AplicarRespuestaPersonal());
    EXPECT_EQ(field(dm->pedp(), 3, "N_EXPE"), QStringLiteral("900003"));
    EXPECT_EQ(field(dm->pedp(), 3, "N_CERT") + field(dm->pedp(), 3, "X_OBS"), before) << "T changes only state";

    // Answered by post: the stored answer image goes, the line names the certified letter, the letter is printed.
    write(QStringLiteral("cp2.7"), "old image");
    write(QStringLiteral("resp.dat"),
          "[DATA]\nc_ped=2\nc_reg=7\nn_expe=5\nc_est=C\nn_cert=RR123\nx_obs=" + QByteArray(80, 'o') + "\nc_res=R\n");
    ASSERT_TRUE(dm->replies().AplicarRespuestaPersonal()) << dm->replies().lastReason().toStdString();
    EXPECT_FALSE(QFile::exists(dir.file(QStringLiteral("cp2.7"))));
    EXPECT_EQ(field(dm->pedp(), 2, "C_EST"), QStringLiteral("C"));
    EXPECT_EQ(field(dm->pedp(), 2, "C_RES"), QStringLiteral("R"));
    EXPECT_EQ(field(dm->pedp(), 2, "X_OBS").size(), 50) << "a longer text is cut to the field, not refused";
    ASSERT_EQ(views.activity.size(), 2);
    EXPECT_EQ(views.activity[1], QStringLiteral("16/03/2026 09:30:00  Pedido Personal 2 Contestado por vía postal, "
                                                "carta certificada número RR123"));
    ASSERT_EQ(dm->pdfPrinter().written().size(), 1);
    EXPECT_GT(QFileInfo(dm->pdfPrinter().written()[0]).size(), 1000);

    // A reply for a request of another regional, or one that does not exist, changes nothing.
    const QString untouched = row(dm->pedp(), 5);
    for (const QByteArray& bad : {QByteArray("[DATA]\nc_ped=5\nc_reg=8\nn_expe=1\nc_est=C\n"),
                                  QByteArray("[DATA]\nc_ped=555\nc_reg=7\nn_expe=1\nc_est=C\n"),
                                  QByteArray("[DATA]\nc_ped=5x\nc_reg=7\nn_expe=1\nc_est=C\n")}) {
        write(QStringLiteral("resp.dat"), bad);
        EXPECT_FALSE(dm->replies().AplicarRespuestaPersonal()) << bad.constData();
        EXPECT_FALSE(dm->replies().lastReason().isEmpty());
    }
    EXPECT_EQ(row(dm->pedp(), 5), untouched);
}

TEST_F(ReplyHandlersTest, StateListsMoveOnlyRequestsInProcess) {
    write(QStringLiteral("EstOfi.DAT"), "2;C|\r\n\r\n5;C|9\r\n3;R|7777\r\nbasura\r\n");
    write(QStringLiteral("EstPriv.DAT"), "NO_HAY_PEDIDOS\r\n");
    ASSERT_TRUE(dm->replies().AplicarListasEstado());
    EXPECT_EQ(field(dm->ped(), 2, "C_EST"), QStringLiteral("C"));
    EXPECT_EQ(field(dm->ped(), 2, "N_EXPE"), QString()) << "no file number leaves it";
    EXPECT_EQ(field(dm->ped(), 5, "C_EST"), QStringLiteral("R")) << "a rejected request is not moved";
    EXPECT_EQ(field(dm->ped(), 5, "N_EXPE"), QString());
    EXPECT_EQ(field(dm->ped(), 3, "C_EST"), QStringLiteral("R"));
    EXPECT_EQ(field(dm->ped(), 3, "N_EXPE"), QStringLiteral("7777"));
    EXPECT_TRUE(views.states.contains(QStringLiteral("3          Rechazado                      U7777     ")))
        << views.states.join('\n').toStdString();
    EXPECT_TRUE(views.states.contains(QStringLiteral("No existe ningún pedido en trámite de esta regional.")));
    EXPECT_FALSE(QFile::exists(dir.file(QStringLiteral("EstOfi.DAT"))));

    // The result list also takes a request that was already answered, and a result code it does not know is not
    // stored.
    dm->replies().MostrarResultadosPersonales({QStringLiteral("4;R|77,Z"), QStringLiteral("2;T|8,A")});
    EXPECT_EQ(field(dm->pedp(), 4, "C_EST"), QStringLiteral("R"));
    EXPECT_EQ(field(dm->pedp(), 4, "N_EXPE"), QStringLiteral("77"));
    EXPECT_EQ(field(dm->pedp(), 4, "C_RES"), QStringLiteral("S"));
    EXPECT_EQ(field(dm->pedp(), 2, "C_RES"), QStringLiteral("A"));
    // An unknown result code shows no description.
    EXPECT_TRUE(views.states.contains(QStringLiteral("4          Rechazado                      W77       ") +
                                      QString(21, QLatin1Char(' '))))
        << views.states.join('\n').toStdString();

    dm->replies().MostrarEstadosPersonales({QStringLiteral("<p>Error 404</p>")});
    EXPECT_EQ(views.states.last(), QStringLiteral("Servicio no disponible."));
}

TEST_F(ReplyHandlersTest, AnswerChecksOfTheRequestWindows) {
    ASSERT_TRUE(dm->ped().locate(QStringLiteral("C_PED"), Value(4.0)));
    QFile::remove(dir.file(QStringLiteral("c4.7")));
    EXPECT_FALSE(dm->replies().ContestacionDisponibleOficial());
    EXPECT_EQ(prompter.lastText(), QStringLiteral("Este pedido no posee contestación"));
    write(QStringLiteral("c4.7"), "image");
    EXPECT_TRUE(dm->replies().ContestacionDisponibleOficial());
    ASSERT_TRUE(dm->ped().locate(QStringLiteral("C_PED"), Value(2.0)));
    EXPECT_FALSE(dm->replies().ContestacionDisponibleOficial());
    EXPECT_EQ(prompter.lastText(), QStringLiteral("El pedido no ha sido contestado"));
    ASSERT_TRUE(dm->pedp().locate(QStringLiteral("C_PED"), Value(2.0)));
    EXPECT_FALSE(dm->replies().ContestacionDisponiblePersonal());
    ASSERT_TRUE(dm->pedp().locate(QStringLiteral("C_PED"), Value(5.0)));
    EXPECT_TRUE(dm->replies().ContestacionDisponiblePersonal());
}

TEST_F(ReplyHandlersTest, PagesComeFromTheFirstBaseAddressThatAnswers) {
    test::CannedHttpServer vorlund("HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\nESTADO=En despacho\r\n"
                                   "OFICINA=Mesa de entradas\r\n");
    test::CannedHttpServer noOffice("HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\nESTADO=En despacho\r\n");
    Dataset& url = dm->url();
    auto setUrls = [&](const QStringList& bases) {
        while (!url.isEmpty())
            ASSERT_TRUE(url.remove());
        for (int i = 0; i < bases.size(); ++i) {
            ASSERT_TRUE(url.insert());
            url.setValue(QStringLiteral("N_PRIOR"), Value(i + 1));
            url.setText(QStringLiteral("X_URL"), bases[i]);
            ASSERT_TRUE(url.post()) << url.lastError().toStdString();
        }
    };
    const QString dead = QStringLiteral("http://127.0.0.1:%1/").arg(test::deadPort());
    setUrls({dead, QStringLiteral("http://127.0.0.1:%1/").arg(vorlund.port())});
    CentralState& cs = dm->centralState();
    cs.setTimeout(5000);
    QByteArray body;
    QString error;
    ASSERT_TRUE(cs.ObtenerUrl(QStringLiteral("GetEstReg.asp?reg=7"), body, error)) << error.toStdString();
    EXPECT_TRUE(error.isEmpty());
    EXPECT_TRUE(body.startsWith("ESTADO="));
    prompter.clear();
    cs.ConsultarEstadoVorlund(2, 5678, 7, QStringLiteral("U"));
    EXPECT_EQ(prompter.lastText(), QStringLiteral("ESTADO=En despacho\rOFICINA=Mesa de entradas"));

    setUrls({QStringLiteral("http://127.0.0.1:%1/").arg(noOffice.port())});
    cs.ConsultarEstadoVorlund(2, 5678, 7, QStringLiteral("U"));
    EXPECT_EQ(prompter.lastText(), QStringLiteral("Error: Qev Central no ha informado el estado en Vorlund"));

    setUrls({dead});
    EXPECT_FALSE(cs.ObtenerUrl(QStringLiteral("x"), body, error));
    EXPECT_TRUE(error.startsWith(QStringLiteral("No hay respuesta en la dirección especificada:\r")))
        << error.toStdString();
}

// "&Regenerar": the central office holds the code first; a code it does not hold is refused and nothing changes.
TEST_F(ReplyHandlersTest, SecurityCodeChangesOnlyWhenTheCentralOfficeTakesIt) {
    test::CentralSim sim(R"({"security": [{"c_ped": 2, "c_reg": 7, "c_segur": "AB12CD34EF"}]})");
    ASSERT_TRUE(sim.started()) << sim.error().toStdString();
    WorkstationIni(dir.path()).setServiceUrl(sim.root() + QStringLiteral("QEVService/QEVMessageService.asmx"));
    CentralState& cs = dm->centralState();
    int printed = 0;
    cs.printReceipt = [&printed] { ++printed; };
    Dataset& pedp = dm->pedp();
    auto setCode = [&](const char* code) {
        ASSERT_TRUE(pedp.locate(QStringLiteral("C_PED"), Value(2.0)));
        ASSERT_TRUE(pedp.edit());
        pedp.setText(QStringLiteral("C_SEGUR"), QString::fromLatin1(code));
        dm->setSavePermission(true);
        ASSERT_TRUE(pedp.post()) << pedp.lastError().toStdString();
    };
    setCode("FFFFFFFFFF");
    prompter.answerConfirm(true);
    cs.ActualizarCodigoSeguridad();
    EXPECT_EQ(prompter.lastText(),
              QStringLiteral("Lo siento, no se ha podido cambiar el código de seguridad en QEV Central"));
    EXPECT_EQ(field(pedp, 2, "C_SEGUR"), QStringLiteral("FFFFFFFFFF"));

    setCode("AB12CD34EF");
    prompter.answerConfirm(true);
    cs.ActualizarCodigoSeguridad();
    const QString now = field(pedp, 2, "C_SEGUR");
    EXPECT_NE(now, QStringLiteral("AB12CD34EF"));
    EXPECT_EQ(now.size(), 10);
    EXPECT_EQ(printed, 1) << "the receipt is printed again with the new code";
    EXPECT_TRUE(sim.logText().contains(QStringLiteral("ActualizarCodSegur"))) << sim.logText().toStdString();
}

} // namespace
} // namespace qev
