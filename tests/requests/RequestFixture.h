#pragma once
// A data module on a fresh office folder (lookup tables filled, no requests) with a fixed date, a scripted operator
// and helpers to write the work files a capture window would leave.
#include "FixedClock.h"
#include "ScriptedPrompter.h"
#include "TempAppDir.h"
#include "capture/ImageLib.h"
#include "core/OfficeSchema.h"
#include "dm/Tdm.h"

#include <QFile>
#include <gtest/gtest.h>

namespace qev::test {

class RequestFixture : public ::testing::Test {
protected:
    void SetUp() override {
        QString error;
        ASSERT_TRUE(createOfficeFolder(dir.path(), false, clock, &error)) << error.toStdString();
        dm = std::make_unique<Tdm>(dir.appDir(), prompter, clock);
        ASSERT_TRUE(dm->create());
        prompter.clear();
    }

    QString texts() const { return prompter.texts().join(QStringLiteral(" | ")); }
    bool exists(const QString& name) const { return QFile::exists(dir.file(name)); }
    QByteArray contents(const QString& name) const {
        QFile f(dir.file(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    void writeFile(const QString& name, const QByteArray& bytes) {
        QFile f(dir.file(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    // A ten-print card as the central office takes it: 8-bit grey, JPEG, 300 DPI, within the size limits.
    void writeCard(const QString& name, int width = 2480, int height = 1299, int tone = 180) {
        capture::Raster card = capture::Raster::grey(width, height, static_cast<uint8_t>(tone));
        card.resolutionX = card.resolutionY = 300;
        std::string error;
        ASSERT_TRUE(capture::saveAs(dir.filePath(name.toStdString()), card, {}, &error)) << error;
    }
    // A documentation page: A4 at 300 DPI.
    void writeDocument(const QString& name) { writeCard(name, 2480, 3508, 250); }

    // A new personal request as an operator types it for slip `pago`, complete enough to be sent.
    void newPersonalRequest(const char* pago = nullptr) {
        using dbf::Value;
        Dataset& p = dm->pedp();
        ASSERT_TRUE(p.insert());
        p.setValue(QStringLiteral("C_TDOC"), Value("1"));
        p.setValue(QStringLiteral("C_SEXO"), Value("F"));
        p.setValue(QStringLiteral("C_NAC"), Value(32));
        p.setValue(QStringLiteral("X_APE1"), Value("GOMEZ"));
        p.setValue(QStringLiteral("X_NOM1"), Value("ANA"));
        p.setValue(QStringLiteral("N_DOC"), Value(30111222.0));
        p.setValue(QStringLiteral("F_NAC"), fromQDate(QDate(1980, 5, 12)));
        p.setValue(QStringLiteral("C_TRAM"), Value("1"));
        if (pago) p.setValue(QStringLiteral("C_PAGO"), Value(pago));
    }

    // An organisation saved through its rules; answers its number.
    double addOrganisation(const char* name = "JUZGADO FEDERAL 1") {
        Dataset& org = dm->org();
        EXPECT_TRUE(org.insert());
        org.setValue(QStringLiteral("X_ORG"), dbf::Value(name));
        org.setValue(QStringLiteral("X_DOM"), dbf::Value("AV. SIEMPRE VIVA 742"));
        org.setValue(QStringLiteral("X_LOC"), dbf::Value("CORDOBA"));
        org.setValue(QStringLiteral("C_PROV"), dbf::Value(14));
        org.setValue(QStringLiteral("C_CODPOS"), dbf::Value(5000));
        EXPECT_TRUE(save(org)) << texts().toStdString();
        return org.value(QStringLiteral("C_ORG")).number();
    }
    // A new official request with every required field, not yet saved.
    void newOfficialRequest(double orgKey) {
        Dataset& ped = dm->ped();
        ASSERT_TRUE(ped.insert());
        ped.setValue(QStringLiteral("C_ORG"), dbf::Value(orgKey));
        ped.setValue(QStringLiteral("C_NAC"), dbf::Value(32));
        ped.setValue(QStringLiteral("C_SEXO"), dbf::Value("M"));
        ped.setValue(QStringLiteral("X_APE1"), dbf::Value("GOMEZ"));
        ped.setValue(QStringLiteral("X_NOM1"), dbf::Value("JUAN"));
        ped.setValue(QStringLiteral("C_PRIOR"), dbf::Value(1));
        ped.setValue(QStringLiteral("C_TDEL"), dbf::Value(101));
    }
    double savedOfficialRequest() {
        newOfficialRequest(addOrganisation());
        EXPECT_TRUE(save(dm->ped())) << texts().toStdString();
        prompter.clear();
        return dm->ped().value(QStringLiteral("C_PED")).number();
    }
    // Saves the current row of `ds` as a window does: with the one-shot save permission.
    bool save(Dataset& ds) {
        dm->setSavePermission(true);
        const bool ok = ds.post();
        dm->setSavePermission(false);
        return ok;
    }

    TempAppDir dir;
    FixedClock clock{QDateTime(QDate(2024, 5, 10), QTime(10, 0))};
    ScriptedPrompter prompter;
    std::unique_ptr<Tdm> dm;
};

} // namespace qev::test
