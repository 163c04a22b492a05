// The printed livescan card: where a finger pixel lands on the form and what it becomes, the card assembled from
// files, and the demo office's blank form.
#include "capture/LiveScanCard.h"
#include "TempAppDir.h"

#include <QFile>
#include <QImage>

#include <gtest/gtest.h>

#include <fstream>
#include <optional>

namespace qev::capture {
namespace {

struct Pixel {
    int x;
    int y;
};

struct BlendCase {
    const char* name;
    CardPlace place;         // on a 100 x 80 form
    int fingerW, fingerH;    // the finger is white but for one pixel
    Pixel dark;              // that pixel, in the finger (rows top first)
    int f, t;                // its value and the form's value
    std::optional<Pixel> at; // where it lands on the form (rows top first), none when outside
    int expected;
};

void PrintTo(const BlendCase& c, std::ostream* os) {
    *os << c.name;
}

class BlendTest : public ::testing::TestWithParam<BlendCase> {};

TEST_P(BlendTest, OneFingerPixelLandsAtItsPlaceWithTheBlendedValue) {
    const BlendCase& c = GetParam();
    Raster form = Raster::grey(100, 80, static_cast<uint8_t>(c.t));
    Raster finger = Raster::grey(c.fingerW, c.fingerH, 255);
    finger.row(c.dark.y)[c.dark.x] = static_cast<uint8_t>(c.f);
    LiveScanCard::blendFinger(form, finger, c.place);
    std::vector<std::pair<int, int>> changed;
    for (int y = 0; y < form.height; ++y)
        for (int x = 0; x < form.width; ++x)
            if (form.row(y)[x] != c.t) changed.emplace_back(x, y);
    if (!c.at) {
        EXPECT_TRUE(changed.empty()) << "white finger pixels leave the form alone; the dark one fell outside";
        return;
    }
    ASSERT_EQ(changed.size(), c.expected == c.t ? 0u : 1u);
    EXPECT_EQ(form.row(c.at->y)[c.at->x], c.expected);
}

INSTANTIATE_TEST_SUITE_P(Places, BlendTest,
                         ::testing::Values(
                             // left = x - w/2, top = height - y + h/2 - h
                             BlendCase{"EvenFingerCentred", {50, 40}, 6, 4, {0, 0}, 128, 200, Pixel{47, 38}, 100},
                             BlendCase{"OddFingerHalvesRoundDown", {50, 40}, 5, 3, {4, 2}, 1, 200, Pixel{52, 40}, 1},
                             BlendCase{"RoundsToNearest", {50, 40}, 5, 3, {2, 1}, 10, 40, Pixel{50, 39}, 2},
                             BlendCase{"WhiteFormTakesTheFinger", {50, 40}, 5, 3, {2, 1}, 77, 255, Pixel{50, 39}, 77},
                             BlendCase{"UpperHalfOnTheBottomRow", {50, 0}, 4, 2, {1, 0}, 0, 200, Pixel{49, 79}, 0},
                             BlendCase{"LowerHalfBelowTheForm", {50, 0}, 4, 2, {1, 1}, 0, 200, std::nullopt, 0},
                             BlendCase{"TopRowOfTheForm", {50, 79}, 4, 4, {0, 1}, 0, 200, Pixel{48, 0}, 0},
                             BlendCase{"AboveTheForm", {50, 79}, 4, 4, {0, 0}, 0, 200, std::nullopt, 0},
                             BlendCase{"LeftColumnOfTheForm", {0, 40}, 4, 4, {2, 0}, 0, 200, Pixel{0, 38}, 0},
                             BlendCase{"LeftOfTheForm", {0, 40}, 4, 4, {1, 3}, 0, 200, std::nullopt, 0},
                             BlendCase{"RightOfTheForm", {99, 40}, 4, 4, {3, 0}, 0, 200, std::nullopt, 0}),
                         [](const ::testing::TestParamInfo<BlendCase>& p) { return std::string(p.param.name); });

uint32_t le(const std::vector<char>& b, size_t at, int bytes) {
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = v << 8 | static_cast<uint8_t>(b[at + size_t(i)]);
    return v;
}

TEST(LiveScanCardTest, CardFromFilesKeepsTheFormAndPlacesEveryFinger) {
    test::TempAppDir dir;
    const std::string form = dir.filePath(kCardFormFile);
    ASSERT_TRUE(LiveScanCard::writeBlankForm(form).ok());

    const QImage blank(QString::fromStdString(form), "BMP");
    ASSERT_FALSE(blank.isNull()) << "the demo form opens as a BMP";
    EXPECT_EQ(blank.size(), QSize(kBlankFormWidth, kBlankFormHeight));
    EXPECT_TRUE(blank.isGrayscale());
    EXPECT_EQ(blank.depth(), 8);
    for (const CardPlace& p : kCardPlaces) {
        const int y = kBlankFormHeight - 1 - p.y;
        EXPECT_EQ(qGray(blank.pixel(p.x, y)), 255) << "finger boxes are empty where the finger goes, at " << p.x;
        EXPECT_EQ(qGray(blank.pixel(p.x - 280 + 1, y)), 0) << "box outline left of " << p.x;
    }

    // Fingers of 400 x 500 white with a black 20 x 20 square at their centre and one in their top left corner.
    std::array<std::string, 10> fingers;
    for (int n = 1; n <= 10; ++n) {
        Raster f = Raster::grey(400, 500, 255);
        for (int y = 0; y < 20; ++y)
            for (int x = 0; x < 20; ++x)
                f.row(240 + y)[190 + x] = f.row(y)[x] = 0;
        fingers[size_t(n - 1)] = dir.filePath("dedo" + std::to_string(n) + ".bmp");
        ASSERT_TRUE(saveGreyBmp(fingers[size_t(n - 1)], f, nullptr));
    }
    const std::string card = dir.filePath("7_3.bmp");
    const auto written = LiveScanCard::assembleFiles(form, fingers, card);
    ASSERT_TRUE(written.ok()) << written.error();

    std::ifstream in(card, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GT(bytes.size(), 1078u);
    EXPECT_EQ(le(bytes, 10, 4), 1078u) << "pixel offset";
    EXPECT_EQ(le(bytes, 28, 2), 8u) << "bits per pixel";
    const QImage out(QString::fromStdString(card), "BMP");
    ASSERT_EQ(out.size(), blank.size());
    for (const CardPlace& p : kCardPlaces) {
        const int y = kBlankFormHeight - 1 - p.y;
        EXPECT_EQ(qGray(out.pixel(p.x, y)), 0) << "centre of the finger at " << p.x;
        EXPECT_EQ(qGray(out.pixel(p.x - 200, y - 250 + 5)), 0) << "top left of the finger at " << p.x;
        EXPECT_EQ(qGray(out.pixel(p.x - 200 - 2, y - 250 + 5)), 255) << "just left of the finger";
        EXPECT_EQ(qGray(out.pixel(p.x - 280 + 1, y)), 0) << "the form's line stays";
    }

    QFile::remove(QString::fromStdString(fingers[6]));
    EXPECT_EQ(LiveScanCard::assembleFiles(form, fingers, card).error(), "Error: falta el dedo Indice Izquierdo");
    ASSERT_TRUE(QFile::copy(QString::fromStdString(fingers[0]), QString::fromStdString(fingers[6])));
    QFile::remove(QString::fromStdString(form));
    EXPECT_EQ(LiveScanCard::assembleFiles(form, fingers, card).error(),
              "Error: no existe la ficha completa \"fmodelo.bemepe\"");
    std::ofstream(form) << "no es una imagen";
    EXPECT_EQ(LiveScanCard::assembleFiles(form, fingers, card).error().rfind("Error: no se puede leer la ficha", 0),
              0u);
    EXPECT_EQ(LiveScanCard::assemble(Raster{}, std::array<Raster, 10>{Raster::grey(1, 1)}).error(),
              "Error: falta el dedo Indice Derecho");
    std::array<Raster, 10> ten;
    ten.fill(Raster::grey(2, 2));
    EXPECT_EQ(LiveScanCard::assemble(Raster{}, ten).error(), "Error: la ficha completa está vacía");
}

} // namespace
} // namespace qev::capture
