// Sending requests of a demo office to the central office simulator's message service over real HTTP: the
// package as the central office keeps it, the checks before anything is written, the sending log.
#include "CentralSim.h"
#include "FixedClock.h"
#include "ScriptedPrompter.h"
#include "TempAppDir.h"
#include "capture/ImageLib.h"
#include "core/OfficeSchema.h"
#include "core/Settings.h"
#include "dm/Tdm.h"
#include "exchange/HostIdentity.h"
#include "exchange/PedDat.h"
#include "exchange/TSMime.h"
#include "exchange/TSendQEVMessage.h"
#include "util/TCrono.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <gtest/gtest.h>

namespace qev {
namespace {

using dbf::Value;

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class SendingTest : public ::testing::Test {
public:
    explicit SendingTest(const QByteArray& simData = "{}") : sim(simData) {}

    void SetUp() override {
        ASSERT_TRUE(sim.started()) << sim.error().toStdString();
        QString error;
        ASSERT_TRUE(createOfficeFolder(dir.path(), true, clock, &error)) << error.toStdString();
        WorkstationIni(dir.path()).setServiceUrl(sim.root() + QStringLiteral("QEVService/QEVMessageService.asmx"));
        dm = std::make_unique<Tdm>(dir.appDir(), prompter, clock);
        dm->setHostIdentity(std::make_unique<FixedHostIdentity>(
            NetworkIdentity{QStringLiteral("00:1A:2B:3C:4D:5E"), QStringLiteral("10.1.2.3"),
                            QStringLiteral("puesto1.regional.local")}));
        ASSERT_TRUE(dm->create());
        prompter.clear();
    }

    void writeImage(const QString& name, int w, int h) {
        capture::Raster r = capture::Raster::grey(w, h, 170);
        for (int y = 0; y < h; y += 5)
            for (int x = (y * 3) % 7; x < w; x += 7)
                r.row(y)[x] = 30;
        r.resolutionX = r.resolutionY = 300;
        std::string error;
        ASSERT_TRUE(capture::saveAs(dir.filePath(name.toStdString()), r, {}, &error)) << error;
    }
    void writeCard(const QString& name) { writeImage(name, 2480, 1299); }
    void writeDocument(const QString& name) { writeImage(name, 2480, 3508); }
    void writeFile(const QString& name, const QByteArray& bytes) {
        QFile f(dir.file(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    bool exists(const QString& name) const { return QFile::exists(dir.file(name)); }
    // Changes a stored field of the current row behind the record rules, as an older program would have left it.
    void poke(Dataset& ds, const char* field, const Value& v) {
        dbf::Table& t = *ds.table();
        auto row = t.read(ds.recno());
        ASSERT_TRUE(row) << row.error();
        row->values[static_cast<size_t>(t.fieldIndex(field))] = v;
        ASSERT_TRUE(t.update(ds.recno(), row->values));
        ds.refresh();
    }
    void setting(const char* key, const char* value) {
        ASSERT_TRUE(dm->settings().write(QString::fromLatin1(key), QString::fromUtf8(value)));
    }
    // The sender reads its flags when it is made.
    void remakeSender() { dm->createSender(); }

    // The folders of the packages the simulator kept, oldest first.
    QStringList packages() const {
        QDir store(sim.storeDir());
        QStringList out;
        for (const QString& d : store.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name))
            out << store.filePath(d);
        return out;
    }
    static QString field(const QString& package, const QString& name) {
        for (const QString& line : QString::fromUtf8(readAll(package + QStringLiteral("/message.txt"))).split('\n'))
            if (line.startsWith(name + QLatin1Char('='))) return line.mid(name.size() + 1);
        return QStringLiteral("<missing>");
    }
    static QStringList attachmentNames(const QString& package) {
        QStringList out;
        for (const QString& line : QString::fromUtf8(readAll(package + QStringLiteral("/message.txt"))).split('\n'))
            if (line.startsWith(QStringLiteral("Attachment="))) out << line.mid(11).section(QLatin1Char(' '), 0, 0);
        return out;
    }

    test::CentralSim sim;
    test::TempAppDir dir;
    test::FixedClock clock{QDateTime(QDate(2026, 3, 16), QTime(9, 30))};
    test::ScriptedPrompter prompter;
    std::unique_ptr<Tdm> dm;
};

// The aliased official request (3, in process): a card and documents, two demo aliases and one with an Ñ.
TEST_F(SendingTest, OfficialPackageReachesTheCentralOfficeByteForByte) {
    ASSERT_TRUE(dm->ped().locate(QStringLiteral("C_PED"), Value(3.0)));
    ASSERT_TRUE(dm->sup().insert());
    dm->sup().setValue(QStringLiteral("X_APE1"), Value("PEÑA"));
    dm->sup().setValue(QStringLiteral("X_NOM1"), Value("JOSE"));
    ASSERT_TRUE(dm->sup().post()) << prompter.texts().join('|').toStdString();
    writeCard(QStringLiteral("h3.7"));
    writeDocument(QStringLiteral("d3.7"));
    prompter.answerConfirm(true); // already sent: send again

    ASSERT_TRUE(dm->EnviarPedidoOficial()) << prompter.texts().join('|').toStdString();
    EXPECT_EQ(prompter.texts(),
              QStringList{QStringLiteral("Este pedido ya fue enviado\r¿Está seguro que desea volver a enviarlo?")});
    ASSERT_EQ(packages().size(), 1);
    const QString pkg = packages().first();
    EXPECT_EQ(field(pkg, QStringLiteral("Pedido")), QStringLiteral("3"));
    EXPECT_EQ(field(pkg, QStringLiteral("Regional")), QStringLiteral("7"));
    EXPECT_EQ(field(pkg, QStringLiteral("MAC")), QStringLiteral("00:1A:2B:3C:4D:5E"));
    EXPECT_EQ(field(pkg, QStringLiteral("HostName")), QStringLiteral("puesto1.regional.local"));
    EXPECT_EQ(field(pkg, QStringLiteral("Recipients")), QStringLiteral("qevcentral@qev.local"));
    EXPECT_EQ(field(pkg, QStringLiteral("Subject")), QStringLiteral("PEDIDO"));
    EXPECT_EQ(field(pkg, QStringLiteral("Body")), QString());
    EXPECT_EQ(attachmentNames(pkg), (QStringList{"ped.dat", "huella.tif", "docu.tif"}));
    EXPECT_EQ(readAll(pkg + QStringLiteral("/huella.tif")), readAll(dir.file(QStringLiteral("h3.7"))));
    EXPECT_EQ(readAll(pkg + QStringLiteral("/docu.tif")), readAll(dir.file(QStringLiteral("d3.7"))));
    EXPECT_EQ(readAll(pkg + QStringLiteral("/ped.dat")), readAll(dir.file(QStringLiteral("ped.dat"))));

    // The data file: CR LF lines in Windows-1252, every field in its declared place, then the extra lines.
    const QByteArray pedDat = readAll(pkg + QStringLiteral("/ped.dat"));
    ASSERT_TRUE(pedDat.endsWith("\r\n"));
    EXPECT_EQ(pedDat.count('\n'), pedDat.count("\r\n"));
    EXPECT_TRUE(pedDat.contains("x_ape1=PE\xD1"
                                "A\r\n"));
    QStringList lines = fromAnsiBytes(pedDat).split(QStringLiteral("\r\n"));
    lines.removeLast();
    QStringList keys;
    for (const QString& l : lines)
        keys << l.section(QLatin1Char('='), 0, 0);
    const QStringList declared =
        QStringLiteral(
            "[DATA] c_ped c_sexo c_tdoc c_nac c_prov c_org f_ped x_sec x_dom c_codpos x_loc x_delito n_pront x_ape1 "
            "x_ape2 "
            "x_nom1 x_nom2 x_nom3 f_nac n_edad n_doc c_provci x_nompadr1 x_nompadr2 x_nompadr3 x_apemadr1 x_apemadr2 "
            "x_nommadr1 x_nommadr2 x_nommadr3 m_enviado m_contesta x_obs c_reg n_expe f_con c_prior n_causa c_est "
            "c_tdel "
            "c_carped x_expp c_clasder c_clasizq m_especial m_menor x_rechazo c_version")
            .split(QLatin1Char(' '));
    ASSERT_GE(keys.size(), declared.size());
    EXPECT_EQ(keys.mid(0, declared.size()), declared);
    const qsizetype art51 = keys.indexOf(QStringLiteral("m_exc_art51"));
    ASSERT_GT(art51, declared.size() - 1);
    // Fields the layout adds beyond the declared ones come before the extra lines; blobs and the two flags never
    // appear as fields of their own.
    for (const char* skipped : {"b_huella", "b_resp", "m_excart51", "m_toma_krb"})
        EXPECT_FALSE(keys.contains(QString::fromLatin1(skipped))) << skipped;
    EXPECT_EQ(keys.mid(art51),
              (QStringList{"m_exc_art51", "m_tomada_krb", "x_org",  "[SUP1]", "c_ped",  "c_reg",  "x_ape1", "x_ape2",
                           "x_nom1",      "x_nom2",       "x_nom3", "c_prov", "[SUP2]", "c_ped",  "c_reg",  "x_ape1",
                           "x_ape2",      "x_nom1",       "x_nom2", "x_nom3", "c_prov", "[SUP3]", "c_ped",  "c_reg",
                           "x_ape1",      "x_ape2",       "x_nom1", "x_nom2", "x_nom3", "c_prov"}));
    EXPECT_TRUE(lines.contains(QStringLiteral("m_enviado=True")));
    EXPECT_TRUE(lines.contains(QStringLiteral("c_ped=3")));
    EXPECT_TRUE(lines.contains(QStringLiteral("f_ped=") + dm->ped().text(QStringLiteral("F_PED"))));
    EXPECT_TRUE(lines.contains(QStringLiteral("x_expp=Córdoba")));
    EXPECT_TRUE(lines.contains(QStringLiteral("x_nom1=CARLITOS")));
    EXPECT_TRUE(lines.contains(QStringLiteral("x_nom1=JOSE")));
    EXPECT_TRUE(lines.contains(QStringLiteral("x_org=") + dm->org()
                                                              .lookupValue(QStringLiteral("C_ORG"),
                                                                           dm->ped().value(QStringLiteral("C_ORG")),
                                                                           QStringLiteral("X_ORG"))
                                                              .toString()
                                                              .c_str()));

    // Marked as sent; the card copies are gone and ped.dat stays until the next send. Marking the row edits it,
    // which clears the documents' work file as any edit does; the request's own "d" file stays.
    EXPECT_EQ(dm->ped().text(QStringLiteral("C_EST")), QStringLiteral("E"));
    EXPECT_FALSE(exists(QStringLiteral("huella.tif")));
    EXPECT_TRUE(exists(QStringLiteral("ped.dat")));
    EXPECT_FALSE(exists(QStringLiteral("docu.tif")));
    EXPECT_TRUE(exists(QStringLiteral("d3.7")));
    ASSERT_EQ(dm->sendLog().lines().size(), 1);
    EXPECT_TRUE(dm->sendLog().lines().first().startsWith(QStringLiteral("Envío pedido: 3 - regional: 7 - tiempo: ")));
    EXPECT_TRUE(dm->sendLog().lines().first().endsWith(QStringLiteral(" (ms) - Resultado: Recibido")));
}

TEST_F(SendingTest, PersonalPackageAndCorrection) {
    // Request 1 with a card, a livescan archive and documents: both copies are made, only the archive is sent.
    ASSERT_TRUE(dm->pedp().locate(QStringLiteral("C_PED"), Value(1.0)));
    writeCard(QStringLiteral("hp1.7"));
    writeFile(QStringLiteral("zp1.7"), QByteArray("PK\x03\x04 livescan", 14));
    writeDocument(QStringLiteral("dp1.7"));
    ASSERT_TRUE(dm->EnviarPedidoPersonal()) << prompter.texts().join('|').toStdString();
    ASSERT_EQ(packages().size(), 1);
    QString pkg = packages().last();
    EXPECT_EQ(field(pkg, QStringLiteral("Subject")), QStringLiteral("PEDIDOP"));
    EXPECT_EQ(attachmentNames(pkg), (QStringList{"docu.tif", "ped.dat", "huella.zip"}));
    EXPECT_EQ(readAll(pkg + QStringLiteral("/huella.zip")), readAll(dir.file(QStringLiteral("zp1.7"))));
    QStringList lines = fromAnsiBytes(readAll(pkg + QStringLiteral("/ped.dat"))).split(QStringLiteral("\r\n"));
    EXPECT_EQ(lines.mid(lines.size() - 5), (QStringList{"m_exc_art51=False", "MAC=00:1A:2B:3C:4D:5E", "IP=10.1.2.3",
                                                        "Host=puesto1.regional.local", ""}));
    QStringList keys;
    for (const QString& l : lines)
        keys << l.section(QLatin1Char('='), 0, 0);
    const QStringList declared =
        QStringLiteral(
            "[DATA] c_ped c_sexo c_tdoc c_nac c_prov_s f_ped x_dom_s c_codpos_s x_loc_s x_ape1 x_ape2 x_nom1 x_nom2 "
            "x_nom3 f_nac n_doc x_nompadr1 x_nompadr2 x_nompadr3 x_apemadr1 x_apemadr2 x_nommadr1 x_nommadr2 "
            "x_nommadr3 "
            "x_obs c_reg n_expe c_est c_rechazo n_cert c_prior f_con c_expp c_tped c_res n_recibo_e n_recibo_m c_banco "
            "c_pedido x_nac x_tdoc x_expp x_prior x_sexo c_prefijo c_sufijo c_tram c_login x_oape c_clasder c_clasizq "
            "x_rechazo f_pago c_pago c_pago_domic c_segur x_tram verif_id f_captura c_version x_est")
            .split(QLatin1Char(' '));
    EXPECT_EQ(keys.mid(0, declared.size()), declared);
    // Lookup and calculated fields carry their values: the state's name and the request code.
    EXPECT_EQ(lines.filter(QRegularExpression(QStringLiteral("^x_est=.+"))).size(), 1);
    EXPECT_EQ(lines.filter(QRegularExpression(QStringLiteral("^c_pedido=W"))).size(), 1);
    EXPECT_EQ(dm->pedp().text(QStringLiteral("C_EST")), QStringLiteral("E"));
    EXPECT_FALSE(exists(QStringLiteral("huella.zip")));
    EXPECT_FALSE(exists(QStringLiteral("huella.tif")));

    // Request 6 was reopened for correction: only its data file goes, under the fixed subject, with no question;
    // a workstation without a usable adapter sends empty identity lines.
    dm->setHostIdentity(std::make_unique<FixedHostIdentity>(NetworkIdentity{}));
    ASSERT_TRUE(dm->pedp().locate(QStringLiteral("C_PED"), Value(6.0)));
    ASSERT_EQ(dm->pedp().text(QStringLiteral("C_EST")), QStringLiteral("D"));
    prompter.clear();
    ASSERT_TRUE(dm->EnviarCorreccionPersonal());
    EXPECT_TRUE(prompter.texts().isEmpty());
    ASSERT_EQ(packages().size(), 2);
    pkg = packages().last();
    EXPECT_EQ(field(pkg, QStringLiteral("Subject")), QStringLiteral("CORRECCIONP"));
    EXPECT_EQ(field(pkg, QStringLiteral("MAC")), QString());
    EXPECT_EQ(attachmentNames(pkg), QStringList{"ped.dat"});
    lines = fromAnsiBytes(readAll(pkg + QStringLiteral("/ped.dat"))).split(QStringLiteral("\r\n"));
    EXPECT_EQ(lines.mid(lines.size() - 4), (QStringList{"MAC=", "IP=", "Host=", ""}));
    EXPECT_EQ(dm->pedp().text(QStringLiteral("C_EST")), QStringLiteral("E"));
}

// Every refusal leaves the request, its files and the central office untouched.
struct Refusal {
    const char* name;
    bool personal;
    double request;
    std::function<void(SendingTest&, Tdm&)> prepare;
    std::vector<bool> answers;
    const char* message;
};

// Named cases read better in test lists than their bytes.
void PrintTo(const Refusal& c, std::ostream* os) {
    *os << c.name;
}

class SendingRefusalTest : public SendingTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(SendingRefusalTest, NothingIsWrittenOrSent) {
    const Refusal& r = GetParam();
    Dataset& ds = r.personal ? dm->pedp() : dm->ped();
    ASSERT_TRUE(ds.locate(QStringLiteral("C_PED"), Value(r.request)));
    r.prepare(*this, *dm);
    for (bool a : r.answers)
        prompter.answerConfirm(a);
    const QString stateBefore = ds.text(QStringLiteral("C_EST"));
    const bool sent = r.personal ? dm->EnviarPedidoPersonal() : dm->EnviarPedidoOficial();
    EXPECT_FALSE(sent);
    EXPECT_EQ(prompter.lastText(), QString::fromUtf8(r.message));
    EXPECT_EQ(ds.text(QStringLiteral("C_EST")), stateBefore);
    EXPECT_FALSE(exists(QStringLiteral("ped.dat")));
    EXPECT_TRUE(packages().isEmpty());
    EXPECT_TRUE(dm->sendLog().lines().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Checks, SendingRefusalTest,
    ::testing::Values(
        Refusal{"EditedRow",
                false,
                1,
                [](SendingTest&, Tdm& dm) { ASSERT_TRUE(dm.ped().edit()); },
                {},
                "Antes de poder enviar el pedido\rdebe terminar de ingresar la información del mismo"},
        Refusal{"NoFingerprints", false, 1, [](SendingTest&, Tdm&) {}, {}, "Debe ingresar las impresiones dactilares"},
        Refusal{"BadCard",
                false,
                1,
                [](SendingTest& f, Tdm&) { f.writeImage(QStringLiteral("h1.7"), 2480, 500); },
                {},
                "La huella digitalizada debe tener por lo menos 5 cm. de alto"},
        Refusal{"Article51WithoutDocuments",
                false,
                1,
                [](SendingTest& f, Tdm& dm) {
                    f.writeCard(QStringLiteral("h1.7"));
                    f.poke(dm.ped(), "M_EXCART51", Value(true));
                },
                {},
                "Si el pedido de informes se realiza con \rexcepción al art.51, debe escanear el \roficio en la "
                "sección Documentación"},
        Refusal{"SentNotAgain",
                false,
                2,
                [](SendingTest& f, Tdm&) { f.writeCard(QStringLiteral("h2.7")); },
                {false},
                "Este pedido ya fue enviado\r¿Está seguro que desea volver a enviarlo?"},
        Refusal{"AnsweredAfterYes",
                false,
                4,
                [](SendingTest&, Tdm&) {},
                {true},
                "¡Este pedido ya fue contestado!\rNo puede volver a enviarlo"},
        Refusal{"PersonalWithoutDocuments",
                true,
                1,
                [](SendingTest& f, Tdm&) { f.writeCard(QStringLiteral("hp1.7")); },
                {},
                "Debe digitalizar la documentación del pedido"},
        Refusal{"PersonalDocumentsOfWrongSize",
                true,
                1,
                [](SendingTest& f, Tdm&) {
                    f.writeCard(QStringLiteral("hp1.7"));
                    f.writeCard(QStringLiteral("dp1.7"));
                },
                {},
                "La documentación no está escaneada en el formato correcto"},
        Refusal{"PersonalInProcessNotAgain",
                true,
                3,
                [](SendingTest& f, Tdm&) {
                    f.writeCard(QStringLiteral("hp3.7"));
                    f.writeDocument(QStringLiteral("dp3.7"));
                },
                {false},
                "Este pedido fue recibido por QEV Regional\ry se encuentra en trámite.\r¿Está seguro que desea volver "
                "a enviarlo?"},
        Refusal{"PersonalAnswered",
                true,
                4,
                [](SendingTest& f, Tdm&) {
                    f.writeCard(QStringLiteral("hp4.7"));
                    f.writeDocument(QStringLiteral("dp4.7"));
                },
                {},
                "Este pedido ya fue contestado por QEV Central\rNo se puede volver a enviarlo"}),
    [](const ::testing::TestParamInfo<Refusal>& p) { return std::string(p.param.name); });

// An answered official request without a card character: no fingerprint check or attachment, but the old blob is
// still written out as "huella.tif" and removed after the send; a regional that is not a number goes as 0.
TEST_F(SendingTest, NoCardCharacterStillWritesTheBlobAndRegionalFallsToZero) {
    ASSERT_TRUE(dm->ped().locate(QStringLiteral("C_PED"), Value(4.0)));
    poke(dm->ped(), "M_CONTESTA", Value(false));
    poke(dm->ped(), "B_HUELLA", Value(dbf::Bytes{"old card"}));
    setting("c_reg", "7a");
    prompter.answerConfirm(true);
    ASSERT_TRUE(dm->EnviarPedidoOficial()) << prompter.texts().join('|').toStdString();
    ASSERT_EQ(packages().size(), 1);
    EXPECT_EQ(attachmentNames(packages().first()), QStringList{"ped.dat"});
    EXPECT_EQ(field(packages().first(), QStringLiteral("Regional")), QStringLiteral("0"));
    EXPECT_FALSE(exists(QStringLiteral("huella.tif")));
}

TEST_F(SendingTest, NotWaitingReturnsAtOnceAndTheLineStillArrives) {
    setting("waitFin", "N");
    remakeSender();
    ASSERT_TRUE(dm->ped().locate(QStringLiteral("C_PED"), Value(1.0)));
    writeCard(QStringLiteral("h1.7"));
    ASSERT_TRUE(dm->EnviarPedidoOficial());
    EXPECT_TRUE(dm->sendLog().lines().isEmpty()); // the call is still under way
    EXPECT_EQ(dm->ped().text(QStringLiteral("C_EST")), QStringLiteral("E"));
    QElapsedTimer t;
    t.start();
    while (dm->sendLog().lines().isEmpty() && t.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    ASSERT_EQ(dm->sendLog().lines().size(), 1);
    EXPECT_TRUE(dm->sendLog().lines().first().endsWith(QStringLiteral("Resultado: Recibido")));
    EXPECT_EQ(packages().size(), 1);
}

class FailingServiceTest : public SendingTest {
protected:
    FailingServiceTest() : SendingTest(R"({"messages": {"fault": "Base de datos no disponible"}})") {}
};

// A failed call still logs its line with nothing after "Resultado: ". Waiting, the request keeps its state; not
// waiting, it was already marked as sent when the call began.
TEST_F(FailingServiceTest, FailureLogsAnEmptyResult) {
    ASSERT_TRUE(dm->ped().locate(QStringLiteral("C_PED"), Value(1.0)));
    writeCard(QStringLiteral("h1.7"));
    EXPECT_FALSE(dm->EnviarPedidoOficial());
    EXPECT_EQ(prompter.lastText(), QStringLiteral("No se pudo enviar el pedido"));
    EXPECT_EQ(dm->ped().text(QStringLiteral("C_EST")), QStringLiteral("I"));
    EXPECT_FALSE(exists(QStringLiteral("huella.tif")));
    EXPECT_TRUE(exists(QStringLiteral("h1.7")));
    ASSERT_EQ(dm->sendLog().lines().size(), 2);
    EXPECT_TRUE(dm->sendLog().lines()[0].endsWith(QStringLiteral(" (ms) - Resultado: ")));
    EXPECT_TRUE(dm->sendLog().lines()[1].contains(QStringLiteral("Base de datos no disponible")));

    setting("waitFin", "N");
    remakeSender();
    EXPECT_TRUE(dm->EnviarPedidoOficial());
    dm->sender().waitForSends();
    EXPECT_EQ(dm->ped().text(QStringLiteral("C_EST")), QStringLiteral("E"));
    ASSERT_EQ(dm->sendLog().lines().size(), 3);
    EXPECT_TRUE(dm->sendLog().lines()[2].endsWith(QStringLiteral("Resultado: ")));
}

// A message without files goes without any attachment element (the service sees none, not an empty list).
TEST_F(SendingTest, AMessageWithoutFilesCarriesNoAttachments) {
    ASSERT_TRUE(dm->sender().EnviarMensaje(QStringLiteral("a@b.c"), QStringLiteral("GETESTADO"), 0, 7, {},
                                           QStringLiteral("cuerpo")));
    ASSERT_EQ(packages().size(), 1);
    EXPECT_EQ(field(packages().first(), QStringLiteral("Attachments")), QStringLiteral("none"));
    EXPECT_EQ(field(packages().first(), QStringLiteral("Body")), QStringLiteral("cuerpo"));
}

TEST(TCronoTest, AWrappedCounterMeasuresZero) {
    std::vector<quint32> ticks{100, 350, 0xFFFFFFF0u, 20};
    size_t i = 0;
    TCrono c([&] { return ticks[i++]; });
    c.start();
    c.stop();
    EXPECT_EQ(c.elapsed(), 250u);
    c.start();
    c.stop();
    EXPECT_EQ(c.elapsed(), 0u);
}

} // namespace
} // namespace qev
