// The office's own write paths killed (SIGKILL) at random moments, two hundred times each: the reception, which
// files a reply's answer image, stores the request and only then takes the message off the server, and the saving
// of requests, which files their card and documents and then stores the row. After every kill the request table
// checks clean, every step acknowledged before the kill is there, and every filed file is whole: the old one or
// the new one, never a part of either.
#include "OfficeKill.h"
#include "../requests/RequestFixture.h"
#include "KillProcess.h"
#include "LoopbackMail.h"
#include "TempAppDir.h"

#include "../../tools/qevdb/TableCheck.h"
#include "core/Dataset.h"
#include "core/OfficeSchema.h"
#include "core/Records.h"

#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <set>
#include <sstream>

namespace qev {
namespace {

using dbf::Value;

constexpr int kKills = 200;

QByteArray fileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

struct Row {
    QString state;
    double expediente = 0;
    QString name;
};

// Every live row of the office's request table by its number, after the full check of the table. The table is
// opened for writing first, as the program's next start does: that open completes or takes back what the killed
// process left half done.
std::map<long, Row> checkedRequests(const test::TempAppDir& dir) {
    const auto& requests = *findOfficeTable(QStringLiteral("ped"));
    std::map<long, Row> rows;
    auto t = openOfficeTable(dir.path(), requests, dbf::OpenMode::Shared);
    EXPECT_TRUE(t) << t.error();
    if (!t) return rows;
    const auto report = tools::checkTable(AppDir(dir.path()).existingFile(requests.fileName));
    EXPECT_EQ(report.status, tools::CheckReport::Status::Ok) << report.problems.join(QLatin1Char('\n')).toStdString();
    dbf::Table& table = **t;
    const int cPed = table.fieldIndex("C_PED"), cEst = table.fieldIndex("C_EST"), nExpe = table.fieldIndex("N_EXPE"),
              xNom = table.fieldIndex("X_NOM1");
    for (uint32_t r = 1; r <= table.recordCount(); ++r) {
        auto row = table.read(r);
        EXPECT_TRUE(row) << row.error();
        if (!row || row->deleted) continue;
        const auto& v = row->values;
        const long n = static_cast<long>(v[static_cast<size_t>(cPed)].number());
        EXPECT_EQ(rows.count(n), 0u) << "request " << n << " twice";
        auto text = [&](int f) {
            const Value& x = v[static_cast<size_t>(f)];
            return x.isText() ? QString::fromStdString(x.text()).trimmed() : QString();
        };
        rows[n] = {text(cEst), v[static_cast<size_t>(nExpe)].isNumber() ? v[static_cast<size_t>(nExpe)].number() : 0,
                   text(xNom)};
    }
    return rows;
}

// The saving tests' office: fresh, lookup tables filled, no requests.
class OfficeKillTest : public test::RequestFixture {
protected:
    void SetUp() override {
        RequestFixture::SetUp();
        if (HasFatalFailure()) return;
        region = dm->settings().read(QStringLiteral("c_reg")).toInt();
    }

    QString requestFile(const char* prefix, long cPed) const {
        return dir.file(requestFileName(QString::fromLatin1(prefix), Value(static_cast<double>(cPed)),
                                        Value(static_cast<double>(region))));
    }

    int region = 0;
};

// The messages still in the mailbox, by the number each carries in its X-Kill-Seq field.
std::set<long> messagesOnTheServer() {
    std::set<long> seqs;
    static const QRegularExpression field(QStringLiteral("^X-Kill-Seq: (\\d+)"), QRegularExpression::MultilineOption);
    for (const QString& f : test::mailFiles(QStringLiteral("user"))) {
        const auto m = field.match(QString::fromLatin1(fileBytes(f).left(4096)));
        if (m.hasMatch()) seqs.insert(m.captured(1).toLong());
    }
    return seqs;
}

TEST_F(OfficeKillTest, TheReceptionAppliesEveryReplyItTookOffTheServerWithAWholeImage) {
    ASSERT_TRUE(test::useLoopbackAccount(dm->settings(), QStringLiteral("user"), QStringLiteral("secret"),
                                         QStringLiteral("regional7@example.test")));
    test::clearMailbox(QStringLiteral("user"));
    const QString subject = dm->settings().read(QStringLiteral("x_msgexp"));
    dm.reset();

    // Each reply answers a request of its own: request `seq` in process, answered under expediente 100000 + seq.
    // The table is not kept open: the program packs it when it starts.
    long delivered = 0;
    auto deliverMore = [&](int count) {
        auto ped = openOfficeTable(dir.path(), *findOfficeTable(QStringLiteral("ped")), dbf::OpenMode::Shared);
        ASSERT_TRUE(ped) << ped.error();
        dbf::Table& table = **ped;
        QJsonArray messages;
        for (int i = 0; i < count; ++i) {
            const long seq = ++delivered;
            dbf::Record row(table.fields().size());
            row[static_cast<size_t>(table.fieldIndex("C_PED"))] = Value(static_cast<double>(seq));
            row[static_cast<size_t>(table.fieldIndex("C_REG"))] = Value(static_cast<double>(region));
            row[static_cast<size_t>(table.fieldIndex("C_EST"))] = Value("T");
            // What the request window insists on before it stores a request.
            const std::pair<const char*, Value> typed[] = {
                {"X_APE1", Value("KILL")},   {"X_NOM1", Value("JUAN")},
                {"C_ORG", Value(1)},         {"X_DOM", Value("CALLE 1")},
                {"X_LOC", Value("CORDOBA")}, {"C_PROV", Value(14)},
                {"C_NAC", Value(32)},        {"C_SEXO", Value("M")},
                {"C_CODPOS", Value(5000)},   {"F_PED", fromQDate(QDate(2026, 3, 2))},
                {"C_PRIOR", Value(1)},       {"C_CARPED", Value("N")}};
            for (const auto& [field, value] : typed)
                row[static_cast<size_t>(table.fieldIndex(field))] = value;
            ASSERT_TRUE(table.append(row));
            const QJsonObject resp{{QStringLiteral("c_ped"), static_cast<int>(seq)},
                                   {QStringLiteral("c_reg"), region},
                                   {QStringLiteral("n_expe"), static_cast<int>(100000 + seq)},
                                   {QStringLiteral("c_est"), QStringLiteral("C")}};
            const QJsonArray repeat{QString::fromLatin1(test::officeKillAnswerLine(seq)),
                                    test::kOfficeKillAnswerRepeat};
            messages.append(QJsonObject{
                {QStringLiteral("subject"), subject},
                {QStringLiteral("resp"), resp},
                {QStringLiteral("headers"), QJsonObject{{QStringLiteral("X-Kill-Seq"), QString::number(seq)}}},
                {QStringLiteral("files"), QJsonArray{QJsonObject{{QStringLiteral("name"), QStringLiteral("resp.tif")},
                                                                 {QStringLiteral("repeat"), repeat}}}}});
        }
        QProcess p;
        p.start(QStringLiteral("/usr/bin/python3"),
                {QStringLiteral(QEV_SOURCE_DIR "/tests/exchange/data/reply_mail.py"), QStringLiteral("maildir"),
                 test::maildir(QStringLiteral("user"))});
        ASSERT_TRUE(p.waitForStarted());
        p.write(QJsonDocument(messages).toJson());
        p.closeWriteChannel();
        ASSERT_TRUE(p.waitForFinished(60000));
        ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    };

    // Whether request `seq` shows its reply whole; with `mustBeApplied` false it may also stand untouched, or with
    // its image filed and the request not yet stored (the message stays, and is applied again).
    auto checkRequest = [&](const std::map<long, Row>& rows, long seq, bool mustBeApplied) {
        SCOPED_TRACE("request " + std::to_string(seq));
        const auto row = rows.find(seq);
        ASSERT_NE(row, rows.end());
        const QString image = requestFile("c", seq);
        const bool applied = row->second.state == QLatin1String("C");
        if (applied || mustBeApplied) {
            EXPECT_EQ(row->second.state, QStringLiteral("C"));
            EXPECT_EQ(row->second.expediente, 100000 + seq);
        } else {
            EXPECT_EQ(row->second.state, QStringLiteral("T"));
            EXPECT_EQ(row->second.expediente, 0);
        }
        if (applied || mustBeApplied || QFile::exists(image)) {
            EXPECT_TRUE(fileBytes(image) == test::officeKillAnswer(seq)) << "the answer image is not whole";
        }
    };

    std::set<long> tookOff; // replies whose message the reception took off the server
    test::KillDelay delay(1, 200000, 20000, 3000000, 30000);
    for (int round = 0; round < kKills; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        if (messagesOnTheServer().size() < 3) deliverMore(6);
        if (HasFatalFailure()) return;
        const auto run = test::runAndKill(OFFICE_KILL_WORKER, {"reception", dir.pathStd()}, delay.next());
        ASSERT_TRUE(run.killed()) << "the worker was not killed: " << run.ending();
        const std::set<long> left = messagesOnTheServer();
        size_t gone = 0;
        for (long seq = 1; seq <= delivered; ++seq)
            if (!left.count(seq) && tookOff.insert(seq).second) ++gone;
        delay.after(gone, 4);
        const auto rows = checkedRequests(dir);
        for (long seq = 1; seq <= delivered; ++seq)
            checkRequest(rows, seq, tookOff.count(seq) > 0);
        ASSERT_FALSE(HasFailure());
    }
    std::printf("%d of %d kills fell after an acknowledged step\n", delay.midway(), kKills);
    EXPECT_GT(delay.midway(), kKills / 2) << "of " << kKills << " kills";

    // Left to finish, the reception applies every reply still on the server.
    QElapsedTimer waited;
    waited.start();
    while (!messagesOnTheServer().empty() && waited.elapsed() < 60000)
        (void)test::runAndKill(OFFICE_KILL_WORKER, {"reception", dir.pathStd()}, std::chrono::seconds(2));
    EXPECT_TRUE(messagesOnTheServer().empty());
    const auto rows = checkedRequests(dir);
    for (long seq = 1; seq <= delivered; ++seq)
        checkRequest(rows, seq, true);
}

TEST_F(OfficeKillTest, SavedRequestsKeepWholeCardsAndDocuments) {
    {
        Dataset& org = dm->org();
        ASSERT_TRUE(org.insert());
        org.setValue(QStringLiteral("X_ORG"), Value("JUZGADO FEDERAL 1"));
        org.setValue(QStringLiteral("X_DOM"), Value("AV. SIEMPRE VIVA 742"));
        org.setValue(QStringLiteral("X_LOC"), Value("CORDOBA"));
        org.setValue(QStringLiteral("C_PROV"), Value(14));
        org.setValue(QStringLiteral("C_CODPOS"), Value(5000));
        ASSERT_TRUE(save(org)) << texts().toStdString();
        ASSERT_EQ(org.value(QStringLiteral("C_ORG")).number(), 1);
    }
    dm.reset();
    // The ten-print card every request is saved with.
    writeCard(QStringLiteral("card.src"));
    if (HasFatalFailure()) return;
    const QByteArray cardBytes = fileBytes(dir.file(QStringLiteral("card.src")));

    std::map<long, long> savedNames; // request -> the seq of its acknowledged first save
    std::map<long, long> documents;  // request -> the version of its last acknowledged documents file
    long next = 1;
    test::KillDelay delay(2, 300000, 20000, 4000000, 50000);
    for (int round = 0; round < kKills; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const auto run =
            test::runAndKill(OFFICE_KILL_WORKER, {"filing", dir.pathStd(), std::to_string(next)}, delay.next());
        ASSERT_TRUE(run.killed()) << "the worker was not killed: " << run.ending();
        delay.after(run.lines.size(), 6);
        for (const std::string& line : run.lines) {
            std::istringstream in(line);
            char kind = 0;
            long cPed = 0, seq = 0;
            in >> kind >> cPed >> seq;
            if (kind == 'N') savedNames[cPed] = seq;
            documents[cPed] = seq;
            next = std::max(next, seq + 1);
        }

        const auto rows = checkedRequests(dir);
        for (const auto& [cPed, seq] : savedNames) {
            const auto row = rows.find(cPed);
            ASSERT_NE(row, rows.end()) << "acknowledged request " << cPed << " is gone";
            EXPECT_EQ(row->second.name, test::officeKillName(seq));
        }
        // Every card and documents file in the folder is whole, the stored requests' ones included; a documents
        // file is at least the acknowledged version, and only the save under way can have gone further.
        int ahead = 0;
        QDirIterator files(dir.path(), QDir::Files);
        while (files.hasNext()) {
            const QString path = files.next();
            const QString name = files.fileName();
            static const QRegularExpression filed(QStringLiteral("^([hd])(\\d+)\\.\\d+$"));
            const auto m = filed.match(name);
            if (!m.hasMatch()) continue;
            const long cPed = m.captured(2).toLong();
            const QByteArray bytes = fileBytes(path);
            if (m.captured(1) == QLatin1String("h")) {
                EXPECT_TRUE(bytes == cardBytes) << name.toStdString() << " is not the whole card";
                continue;
            }
            const long version = bytes.startsWith("DOCU ") ? bytes.mid(5, bytes.indexOf('\n') - 5).toLong() : -1;
            EXPECT_TRUE(bytes == test::officeKillDocument(version)) << name.toStdString() << " is not whole";
            if (documents.count(cPed)) {
                EXPECT_GE(version, documents[cPed]) << name.toStdString() << " lost an acknowledged save";
                if (version > documents[cPed]) ++ahead;
            }
            if (rows.count(cPed)) documents[cPed] = std::max(documents[cPed], version);
            next = std::max(next, version + 1);
        }
        EXPECT_LE(ahead, 1) << "more documents changed than the one save under way";
        for (const auto& [cPed, row] : rows) {
            EXPECT_TRUE(QFile::exists(requestFile("h", cPed))) << "request " << cPed << " has no card";
            next = std::max(next, test::officeKillSeq(row.name) + 1);
        }
        ASSERT_FALSE(HasFailure());
    }
    std::printf("%d of %d kills fell after an acknowledged step\n", delay.midway(), kKills);
    EXPECT_GT(delay.midway(), kKills / 2) << "of " << kKills << " kills";
}

} // namespace
} // namespace qev
