// The layout engine on its own: bars, growing and breaking bands, grid printing, image printing, the texts the
// reports compute.
#include "ReportTestUtil.h"
#include "capture/ImageLib.h"
#include "reports/Code39.h"
#include "reports/GridReport.h"
#include "reports/ImagePrint.h"
#include "reports/Renderer.h"
#include "reports/ReportSource.h"
#include "reports/TrpRechPriv.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QPdfWriter>
#include <QStandardItemModel>

using namespace qev;
using namespace qev::reports;
using namespace qev::test;

namespace {

// Code 39 "*": bar, wide space, bar, space, wide bar, space, wide bar, space, bar.
const std::vector<bool> kStar{false, true, false, false, true, false, true, false, false};

TEST(Code39, PatternFramesTheDataWithStartAndStopAndNoCheckCharacter) {
    const Code39Pattern p = code39Pattern(QStringLiteral("1005/1"));
    ASSERT_TRUE(p.ok()) << p.error.toStdString();
    ASSERT_EQ(p.wide.size(), 8u * 10 - 1);
    EXPECT_EQ(std::vector<bool>(p.wide.begin(), p.wide.begin() + 9), kStar);
    EXPECT_EQ(std::vector<bool>(p.wide.end() - 9, p.wide.end()), kStar);
    for (size_t c = 0; c < 8; ++c) {
        // Three of the nine elements of every character are wide; the gap between characters is narrow.
        EXPECT_EQ(std::count(p.wide.begin() + static_cast<long>(c * 10), p.wide.begin() + static_cast<long>(c * 10 + 9),
                             true),
                  3);
        if (c < 7) {
            EXPECT_FALSE(p.wide[c * 10 + 9]);
        }
    }
    EXPECT_DOUBLE_EQ(p.units(2.5), 8 * (6 + 3 * 2.5) + 7);
}

TEST(Code39, RefusesWhatItCannotHold) {
    for (const QString& bad : {QString(), QStringLiteral("abc"), QStringLiteral("A*B"), QStringLiteral("NIÑO"),
                               QStringLiteral("1005_1"), QStringLiteral("TAB\t")}) {
        QString why;
        EXPECT_FALSE(code39Valid(bad, &why)) << bad.toStdString();
        EXPECT_FALSE(why.isEmpty());
        EXPECT_FALSE(code39Pattern(bad).ok());
    }
    EXPECT_TRUE(code39Valid(QStringLiteral("AZ09 -.$/+%")));
}

TEST(Code39, BarsDrawnAtEveryRatioScan) {
    QTemporaryDir dir;
    const QString pdf = dir.filePath(QStringLiteral("bars.pdf"));
    Layout l;
    Band& b = l.add(BandKind::Title, 60);
    const QStringList values{QStringLiteral("QEV-2026"), QStringLiteral("99999999/9999"), QStringLiteral("FF00AA11EE")};
    for (int i = 0; i < values.size(); ++i)
        b.barcode(QRectF(10, 5 + 18 * i, dots(233), dots(41)), values[i], 2.0 + 0.5 * i);
    ASSERT_TRUE(renderPdf({l}, pdf).ok());
    QStringList expected = values;
    expected.sort();
    EXPECT_EQ(decodeBarcodes(pdf), expected);
}

TEST(Engine, AMemoOfSeveralPagesBreaksBetweenLinesWithTheHeaderOnEveryPage) {
    QTemporaryDir dir;
    const QString pdf = qEnvironmentVariableIsSet("QEV_KEEP") ? QStringLiteral("/tmp/memo.pdf")
                                                              : dir.filePath(QStringLiteral("memo.pdf"));
    Layout l;
    l.add(BandKind::PageHeader, 10).text(QRectF(0, 0, 100, 6), QStringLiteral("CABECERA"), arial(10, true));
    l.add(BandKind::PageFooter, 6).text(QRectF(0, 0, 100, 5), QStringLiteral("Hoja {pagina}/{paginas}"), arial(8));
    QStringList words;
    for (int i = 1; i <= 1500; ++i)
        words << QStringLiteral("palabra%1").arg(i);
    Band& b = l.add(BandKind::Title, 20);
    b.box(QRectF(0, 0, l.contentWidth(), 20)).growWithBand = true;
    b.memo(QRectF(2, 2, l.contentWidth() - 4, 16), words.join(QLatin1Char(' ')), arial(11));
    l.add(BandKind::Title, 8).text(QRectF(0, 1, 100, 6), QStringLiteral("FIN DEL TEXTO"), arial(10));
    const RenderResult r = renderPdf({l}, pdf);
    ASSERT_TRUE(r.ok()) << r.error.toStdString();
    EXPECT_GE(r.pages, 3);
    EXPECT_EQ(pdfPages(pdf), r.pages);
    QString text = pdfText(pdf);
    EXPECT_EQ(text.count(QStringLiteral("CABECERA")), r.pages);
    EXPECT_TRUE(text.contains(QStringLiteral("Hoja %1/%1").arg(r.pages)));
    text.replace(QRegularExpression(QStringLiteral("Hoja \\d+/\\d+|CABECERA")), QString());
    // Every word once and in order: no line was lost or printed twice at a page break.
    const QStringList printed = text.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
    QStringList memoWords;
    for (const QString& w : printed)
        if (w.startsWith(QLatin1String("palabra"))) memoWords << w;
    EXPECT_EQ(memoWords.size(), words.size());
    for (qsizetype i = 0; i < std::min(memoWords.size(), words.size()); ++i) {
        if (memoWords[i] != words[i]) {
            ADD_FAILURE() << "word " << i << ": " << memoWords[i].toStdString() << " instead of "
                          << words[i].toStdString();
            break;
        }
    }
    EXPECT_TRUE(text.trimmed().endsWith(QLatin1String("FIN DEL TEXTO")));
}

TEST(Engine, GridPrintingRepeatsTitlesAndNumbersPages) {
    QStandardItemModel model(250, 3);
    model.setHorizontalHeaderLabels({QStringLiteral("Pedido"), QStringLiteral("Apellido"), QStringLiteral("Estado")});
    for (int r = 0; r < 250; ++r) {
        model.setItem(r, 0, new QStandardItem(QString::number(1000 + r)));
        model.setItem(r, 1, new QStandardItem(QStringLiteral("APELLIDO%1").arg(r)));
        model.setItem(r, 2, new QStandardItem(r % 2 ? QStringLiteral("Enviado") : QStringLiteral("Ingresado")));
    }
    QTemporaryDir dir;
    const QString pdf = qEnvironmentVariableIsSet("QEV_KEEP") ? QStringLiteral("/tmp/grid.pdf")
                                                              : dir.filePath(QStringLiteral("grid.pdf"));
    const Layout l = gridLayout(QStringLiteral("Pedidos oficiales"), model);
    const RenderResult r = renderPdf({l}, pdf);
    ASSERT_TRUE(r.ok());
    ASSERT_GE(r.pages, 3);
    const QString text = pdfText(pdf);
    const QStringList pages = text.split(QLatin1Char('\f'), Qt::SkipEmptyParts);
    ASSERT_EQ(pages.size(), r.pages);
    int next = 0;
    for (int p = 0; p < pages.size(); ++p) {
        QString missing;
        EXPECT_GE(findInOrder(pages[p],
                              {QStringLiteral("Pedidos oficiales"), QStringLiteral("Pedido"),
                               QStringLiteral("Apellido"), QStringLiteral("Estado")},
                              &missing),
                  0)
            << "page " << p + 1 << " lacks " << missing.toStdString();
        EXPECT_TRUE(pages[p].contains(QStringLiteral("Página %1 de %2").arg(p + 1).arg(r.pages)));
        // Rows continue where the last page stopped.
        const auto rows =
            QRegularExpression(QStringLiteral("^\\s*(\\d{4})\\s+APELLIDO(\\d+)"), QRegularExpression::MultilineOption)
                .globalMatch(pages[p]);
        int onPage = 0;
        for (auto it = rows; it.hasNext();) {
            const auto m = it.next();
            EXPECT_EQ(m.captured(2).toInt(), next);
            EXPECT_EQ(m.captured(1).toInt(), 1000 + next);
            ++next;
            ++onPage;
        }
        EXPECT_GT(onPage, 0);
    }
    EXPECT_EQ(next, 250);
}

TEST(Engine, GridPrintingStopsAtItsPageLimit) {
    QStandardItemModel model(40, 1);
    for (int r = 0; r < 40; ++r)
        model.setItem(r, 0, new QStandardItem(QString::number(r)));
    Layout l = gridLayout(QStringLiteral("X"), model);
    l.maxPages = 1;
    for (Band& b : l.bands)
        if (b.kind == BandKind::Detail) b.height = 20;
    QTemporaryDir dir;
    const RenderResult r = renderPdf({l}, dir.filePath(QStringLiteral("g.pdf")));
    EXPECT_EQ(r.pages, 1);
    EXPECT_EQ(r.warnings, QStringList{QStringLiteral("Se imprimieron sólo las primeras 1 páginas.")});
}

TEST(Engine, ImagePrintingPrintsEveryPageOfATiff) {
    QTemporaryDir dir;
    const std::string tif = dir.filePath(QStringLiteral("docu.tif")).toStdString();
    std::vector<capture::Page> pages(3);
    for (auto& p : pages) {
        p.raster = capture::Raster::grey(1240, 1754, 255);
        p.format.compressionType = capture::kCompressionJpeg;
    }
    std::string error;
    ASSERT_TRUE(capture::savePages(tif, pages, &error)) << error;
    const QString pdf = dir.filePath(QStringLiteral("docu.pdf"));
    {
        QPdfWriter w(pdf);
        const RenderResult r = printImageFile(QString::fromStdString(tif), w);
        ASSERT_TRUE(r.ok()) << r.error.toStdString();
        EXPECT_EQ(r.pages, 3);
    }
    EXPECT_EQ(pdfPages(pdf), 3);
    QPdfWriter w2(dir.filePath(QStringLiteral("none.pdf")));
    const RenderResult missing = printImageFile(dir.filePath(QStringLiteral("falta.tif")), w2);
    EXPECT_EQ(missing.error,
              QStringLiteral("Imágen: \"%1\" inexistente.").arg(dir.filePath(QStringLiteral("falta.tif"))));
}

TEST(ReportTexts, DateInWordsForEveryMonth) {
    const char* const months[] = {"enero", "febrero", "marzo",      "abril",   "mayo",      "junio",
                                  "julio", "agosto",  "septiembre", "octubre", "noviembre", "diciembre"};
    for (int m = 1; m <= 12; ++m) {
        EXPECT_EQ(
            fechaEnPalabras(QDate(2025, m, m + 3)),
            QStringLiteral("%1 de %2 de 2025").arg(m + 3, 2, 10, QLatin1Char('0')).arg(QLatin1String(months[m - 1])));
    }
    EXPECT_EQ(fechaEnPalabras(QDate()), QString());
    EXPECT_EQ(joinBlank({QStringLiteral("ANA"), QString(), QStringLiteral("LUZ")}), QStringLiteral("ANA  LUZ"));
}

struct RejectionCase {
    const char* name;
    const char* code;
    std::vector<int> marked; // reason indexes (1..16 in table order)
};

void PrintTo(const RejectionCase& c, std::ostream* os) {
    *os << c.name;
}

class RejectionBoxes : public ::testing::TestWithParam<RejectionCase> {};

TEST_P(RejectionBoxes, MarkOnlyTheOnesAtCodedPositions) {
    const QString code = QString::fromLatin1(GetParam().code);
    std::vector<int> marked;
    int i = 0;
    for (const auto& r : TrpRechPriv::reasons()) {
        ++i;
        const QString box = TrpRechPriv::box(code, r.position);
        if (box == QLatin1String("(X)")) {
            marked.push_back(i);
        } else {
            EXPECT_EQ(box, QStringLiteral("( )"));
        }
    }
    EXPECT_EQ(marked, GetParam().marked);
}

INSTANTIATE_TEST_SUITE_P(Codes, RejectionBoxes,
                         ::testing::Values(RejectionCase{"first_and_eighth", "10000001000000", {1, 9}},
                                           RejectionCase{"empty", "", {}},
                                           RejectionCase{"other_characters_never_mark", "X0X0X0X0X0X0X0", {}},
                                           RejectionCase{"short_code_leaves_later_boxes", "0000000001", {11}},
                                           RejectionCase{"all_ones_leave_the_unnumbered_reasons",
                                                         "111111111111111111",
                                                         {1, 2, 3, 4, 5, 6, 7, 9, 10, 11, 12, 13, 14, 15}}),
                         [](const auto& param) { return std::string(param.param.name); });

} // namespace

// A PDF that cannot be written says which file, and a failed document never replaces the file that was there.
TEST(Engine, PdfThatCannotBeWrittenSaysSoAndKeepsTheOldFile) {
    QStandardItemModel model(3, 1);
    for (int r = 0; r < 3; ++r)
        model.setItem(r, 0, new QStandardItem(QStringLiteral("Año %1 — ñandú").arg(r)));
    const Layout l = gridLayout(QStringLiteral("Listado"), model);
    QTemporaryDir dir;
    const QString missing = dir.filePath(QStringLiteral("no/existe/x.pdf"));
    const RenderResult bad = renderPdf({l}, missing);
    EXPECT_FALSE(bad.ok());
    EXPECT_TRUE(bad.error.startsWith(QStringLiteral("No se pudo escribir \"%1\"").arg(missing)))
        << bad.error.toStdString();
    EXPECT_FALSE(QFile::exists(missing));

    // An empty document is refused and the file already there stays as it was.
    const QString kept = dir.filePath(QStringLiteral("kept.pdf"));
    ASSERT_TRUE(renderPdf({l}, kept).ok());
    QFile f(kept);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray before = f.readAll();
    f.close();
    EXPECT_TRUE(before.startsWith("%PDF-1.4"));
    EXPECT_TRUE(pdfText(kept).contains(QStringLiteral("Año 2 — ñandú"))) << pdfText(kept).toStdString();
    EXPECT_FALSE(renderPdf({}, kept).ok());
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), before);
}
