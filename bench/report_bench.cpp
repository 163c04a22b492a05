// Benchmark of the official letter: TrpOficio for N requests of an office folder into one PDF, beside ReportLab
// (python3-reportlab) drawing the same letters (same texts, boxes, fonts and logo) as the peer in the same run.
// Usage: report_bench [requests]   (1000 by default)
//
// Ours: each request is found, read again by number with its aliases, laid out and rendered through the same code
// the preview and `qevdb informe` use. The peer gets the texts our reading produced, so it only lays out and draws.
#include "core/OfficeSchema.h"
#include "dbf/Table.h"
#include "reports/Institution.h"
#include "reports/PdfDocument.h"
#include "reports/Renderer.h"
#include "reports/ReportSource.h"
#include "reports/TrpOficio.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>

using namespace qev;
using Stopwatch = std::chrono::steady_clock;

namespace {

double secondsSince(Stopwatch::time_point t0) {
    return std::chrono::duration<double>(Stopwatch::now() - t0).count();
}

const char* kSurnames[] = {"PEREZ", "GOMEZ", "RODRIGUEZ", "FERNANDEZ", "LOPEZ", "MARTINEZ", "GARCIA", "SANCHEZ"};
const char* kNames[] = {"JUAN", "MARIA", "CARLOS", "LAURA", "DIEGO", "ANA", "PABLO", "SOFIA"};

bool fillRequests(const QString& folder, int n, QString* error) {
    const TableSpec& pedLayout = *findOfficeTable(QStringLiteral("ped"));
    const TableSpec& supLayout = *findOfficeTable(QStringLiteral("sup"));
    auto ped = openOfficeTable(folder, pedLayout);
    auto sup = openOfficeTable(folder, supLayout);
    if (!ped || !sup) {
        *error = QString::fromStdString(!ped ? ped.error() : sup.error());
        return false;
    }
    for (int i = 0; i < n; ++i) {
        dbf::Record r(pedLayout.fields.size());
        auto set = [&](const char* f, dbf::Value v) {
            r[static_cast<size_t>(pedLayout.fieldIndex(QString::fromLatin1(f)))] = std::move(v);
        };
        set("C_PED", 100 + i);
        set("C_REG", 7);
        set("C_ORG", 1 + i % 4);
        set("F_PED", dbf::Date{2026, 1 + i % 12, 1 + i % 28});
        set("X_SEC", "Secretaría Penal");
        set("X_DOM", "Av. Concepción Arenal 690");
        set("X_LOC", "Córdoba");
        set("C_TDEL", 401 + i % 6);
        set("N_CAUSA", std::to_string(1000 + i) + "/2026");
        set("X_APE1", kSurnames[i % 8]);
        set("X_APE2", kSurnames[(i / 8) % 8]);
        set("X_NOM1", kNames[i % 8]);
        set("X_NOM2", kNames[(i / 3) % 8]);
        set("C_SEXO", i % 2 ? "M" : "F");
        set("C_NAC", 32);
        set("F_NAC", dbf::Date{1960 + i % 40, 1 + i % 12, 1 + i % 28});
        set("N_EDAD", 26 + i % 40);
        set("N_DOC", 20000000 + i);
        set("C_PROVCI", 14);
        set("X_NOMPADR1", "ROBERTO");
        set("X_APEMADR1", "SOSA");
        set("X_NOMMADR1", "ELENA");
        if (auto a = (*ped)->append(r); !a) {
            *error = QString::fromStdString(a.error());
            return false;
        }
        // Every fourth person has two other names.
        for (int k = 0; i % 4 == 0 && k < 2; ++k) {
            dbf::Record s(supLayout.fields.size());
            s[static_cast<size_t>(supLayout.fieldIndex(QStringLiteral("C_PED")))] = dbf::Value(100 + i);
            s[static_cast<size_t>(supLayout.fieldIndex(QStringLiteral("C_REG")))] = dbf::Value(7);
            s[static_cast<size_t>(supLayout.fieldIndex(QStringLiteral("X_APE1")))] =
                dbf::Value(kSurnames[(i + k + 1) % 8]);
            s[static_cast<size_t>(supLayout.fieldIndex(QStringLiteral("X_NOM1")))] =
                dbf::Value(kNames[(i + k + 1) % 8]);
            if (auto a = (*sup)->append(s); !a) {
                *error = QString::fromStdString(a.error());
                return false;
            }
        }
    }
    (*ped)->flush();
    (*sup)->flush();
    return true;
}

QJsonObject toJson(const reports::TrpOficio::Data& d) {
    return QJsonObject{{QStringLiteral("lugar"), d.lugarYFecha},
                       {QStringLiteral("org"), d.xOrg},
                       {QStringLiteral("sec"), d.xSec},
                       {QStringLiteral("dom"), d.xDom},
                       {QStringLiteral("loc"), d.xLoc},
                       {QStringLiteral("prov"), d.xProv},
                       {QStringLiteral("tdel"), d.xTdel},
                       {QStringLiteral("causa"), d.nCausa},
                       {QStringLiteral("ape"), d.qrlbApe},
                       {QStringLiteral("apesup"), d.qrlbApeSup},
                       {QStringLiteral("nom"), d.qrlbNom},
                       {QStringLiteral("nomsup"), d.qrlbNomSup},
                       {QStringLiteral("sexo"), d.xSexo},
                       {QStringLiteral("fnac"), d.fNac},
                       {QStringLiteral("edad"), d.nEdad},
                       {QStringLiteral("nac"), d.xNac},
                       {QStringLiteral("doc"), d.nDoc},
                       {QStringLiteral("expp"), d.xExpp},
                       {QStringLiteral("padre"), d.qrlbNomPadr},
                       {QStringLiteral("apemadre"), d.qrlbApeMadr},
                       {QStringLiteral("nommadre"), d.qrlbNomMadr}};
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const int n = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1000;
    QTemporaryDir dir;
    QString error;
    if (!createOfficeFolder(dir.path(), true, &error) || !fillRequests(dir.path(), n, &error)) {
        std::fprintf(stderr, "report_bench: %s\n", qPrintable(error));
        return 1;
    }
    reports::OfficeTables tables(dir.path());
    if (!tables.open(&error)) {
        std::fprintf(stderr, "report_bench: %s\n", qPrintable(error));
        return 1;
    }
    const reports::ReportSource source = tables.source(QDate(2026, 3, 5));
    Dataset& ped = *tables.table(QStringLiteral("ped"));

    // Ours: find, read, lay out and render every letter into one PDF.
    const QString ourPdf = dir.filePath(QStringLiteral("ours.pdf"));
    QJsonArray letters;
    reports::TrpOficio::Reader reader(dir.path());
    auto t0 = Stopwatch::now();
    double readSeconds = 0;
    reports::RenderResult result;
    {
        reports::PdfDocument pdf(ourPdf, 300);
        reports::Renderer renderer(pdf);
        for (int i = 0; i < n; ++i) {
            // The window's row moves to the request (rows are in key order, after the demo office's own).
            ped.moveTo(ped.rowCount() - n + i);
            if (ped.value(QStringLiteral("C_PED")).number() != 100 + i) {
                std::fprintf(stderr, "report_bench: request %d not found\n", 100 + i);
                return 1;
            }
            const auto r0 = Stopwatch::now();
            const reports::TrpOficio::Data data = reports::TrpOficio::read(source, &reader);
            readSeconds += secondsSince(r0);
            renderer.add(reports::TrpOficio::layout(data));
            letters.append(toJson(data));
        }
        result = renderer.finish();
    }
    const double ours = secondsSince(t0);
    if (!result.ok() || result.pages != n) {
        std::fprintf(stderr, "report_bench: %d pages rendered: %s\n", result.pages, qPrintable(result.error));
        return 1;
    }

    // The peer: the same letters drawn by ReportLab.
    const QString data = dir.filePath(QStringLiteral("letters.json"));
    const QString logo = dir.filePath(QStringLiteral("logo.png"));
    const QString peerPdf = dir.filePath(QStringLiteral("peer.pdf"));
    {
        QFile f(data);
        if (!f.open(QIODevice::WriteOnly)) return 1;
        f.write(QJsonDocument(QJsonObject{{QStringLiteral("ministry"), reports::Institution::ministry()},
                                          {QStringLiteral("ministry2"), reports::Institution::ministryLine2()},
                                          {QStringLiteral("agency"), reports::Institution::agency()},
                                          {QStringLiteral("letters"), letters}})
                    .toJson(QJsonDocument::Compact));
    }
    reports::Institution::logo().save(logo);
    QProcess peer;
    peer.start(QStringLiteral("/usr/bin/python3"),
               {QStringLiteral(QEV_SOURCE_DIR "/bench/reportlab_peer.py"), data, logo, peerPdf});
    if (!peer.waitForFinished(600000) || peer.exitCode() != 0) {
        std::fprintf(stderr, "report_bench: the ReportLab peer failed: %s\n", peer.readAllStandardError().constData());
        return 1;
    }
    const QJsonObject p = QJsonDocument::fromJson(peer.readAllStandardOutput()).object();
    const double peerSeconds = p.value(QStringLiteral("seconds")).toDouble();
    const int peerPages = p.value(QStringLiteral("pages")).toInt();

    std::printf("TrpOficio, %d requests into one PDF (A4, fonts embedded)\n", n);
    std::printf("  ours      %6d pages  %7.3f s  %8.1f pages/s  (reading %.3f s, layout and rendering %.3f s), "
                "%lld bytes\n",
                result.pages, ours, n / ours, readSeconds, ours - readSeconds,
                static_cast<long long>(QFileInfo(ourPdf).size()));
    std::printf("  ReportLab %6d pages  %7.3f s  %8.1f pages/s  (drawing the texts ours read), %lld bytes\n", peerPages,
                peerSeconds, peerPages / peerSeconds, static_cast<long long>(QFileInfo(peerPdf).size()));
    std::printf("  ratio ours/ReportLab in pages per second: %.2f\n", (n / ours) / (peerPages / peerSeconds));
    return 0;
}
