#include "capture/ImageRules.h"
#include "ScriptedPrompter.h"
#include "TempAppDir.h"
#include "capture/ImageLib.h"

#include <gtest/gtest.h>

namespace qev {
namespace {

using namespace capture;

class ImageRulesTest : public ::testing::Test {
protected:
    QString make(const char* name, int w, int h, double dpi, SaveFormat f) {
        Raster r = Raster::grey(w, h, 200);
        for (int y = 0; y < h; y += 37)
            for (int x = 0; x < w; ++x)
                r.row(y)[x] = 20;
        r.resolutionX = r.resolutionY = dpi;
        std::string error;
        EXPECT_TRUE(saveAs(dir.filePath(name), r, f, &error)) << error;
        return dir.file(QString::fromLatin1(name));
    }
    test::TempAppDir dir;
    test::ScriptedPrompter prompter;
    const SaveFormat cardFormat{kFileTiff, kPageGrey8, kCompressionJpeg, kInfoJpegMedium};
};

TEST_F(ImageRulesTest, CardRulesShowOnlyTheLastFailingRule) {
    EXPECT_TRUE(ValidarImagenHuella(make("card.tif", 2480, 1299, 300, cardFormat), prompter));
    EXPECT_TRUE(prompter.texts().isEmpty());

    EXPECT_FALSE(ValidarImagenHuella(make("card200.tif", 2480, 1299, 200, cardFormat), prompter));
    ASSERT_EQ(prompter.messages().size(), 1u);
    EXPECT_EQ(prompter.lastText(),
              QStringLiteral("La resolución de la huella debe ser de 300 puntos por pulgada (DPI)"));
    EXPECT_EQ(prompter.messages().back().caption, QStringLiteral("Error"));

    prompter.clear();
    EXPECT_FALSE(ValidarImagenHuella(make("narrow.bmp", 1000, 1299, 300, {kFileBmp, kPageGrey8, kCompressionNone, 0}),
                                     prompter));
    ASSERT_EQ(prompter.messages().size(), 1u);
    EXPECT_EQ(prompter.lastText(), QStringLiteral("La huella debe guardarse en formato TIFF"));

    prompter.clear();
    EXPECT_FALSE(ValidarImagenHuella(
        make("fine.tif", 2480, 1299, 300, {kFileTiff, kPageGrey8, kCompressionJpeg, kInfoJpegLowCompression}),
        prompter));
    EXPECT_EQ(prompter.lastText(), QStringLiteral("La huella debe utilizar la compresión JPEG calidad media"));

    prompter.clear();
    EXPECT_FALSE(ValidarImagenHuella(make("tall.tif", 2480, 1801, 300, cardFormat), prompter));
    EXPECT_EQ(prompter.lastText(), QStringLiteral("La huella digitalizada debe tener menos de 15 cm. de alto"));
    prompter.clear();
    EXPECT_FALSE(ValidarImagenHuella(make("slim.tif", 1199, 600, 300, cardFormat), prompter));
    EXPECT_EQ(prompter.lastText(), QStringLiteral("La huella digitalizada debe tener por lo menos 15 cm. de ancho"));

    prompter.clear();
    EXPECT_FALSE(ValidarImagenHuella(dir.file(QStringLiteral("missing.tif")), prompter));
    EXPECT_TRUE(prompter.texts().isEmpty()) << "a missing file is refused without a message";
}

TEST_F(ImageRulesTest, DocumentRules) {
    EXPECT_TRUE(ValidarImagenDocumento(make("a4.tif", 2480, 3508, 300, cardFormat), prompter));
    EXPECT_TRUE(ValidarImagenDocumento(
        make("a4g4.tif", 2480, 3508, 300, {kFileTiff, kPageBlackWhite, kCompressionGroup4, kInfoGroup4}), prompter));
    EXPECT_TRUE(ValidarImagenDocumento(make("edge.tif", 1860, 4385, 200, cardFormat), prompter))
        << "the limits are inclusive and the resolution is not tested";
    EXPECT_TRUE(prompter.texts().isEmpty());

    EXPECT_FALSE(ValidarImagenDocumento(make("narrow.tif", 1700, 3508, 300, cardFormat), prompter));
    EXPECT_EQ(prompter.lastText(), QStringLiteral("La imagen debe estar en tamaño A4 a 300 puntos por pulgada"));

    prompter.clear();
    EXPECT_FALSE(ValidarImagenDocumento(
        make("a4.bmp", 2480, 3508, 300, {kFileBmp, kPageBlackWhite, kCompressionNone, kInfoNone}), prompter));
    ASSERT_EQ(prompter.messages().size(), 1u) << "two rules fail, one message";
    EXPECT_EQ(prompter.lastText(), QStringLiteral("La documentación debe guardarse en formato TIFF"));

    prompter.clear();
    EXPECT_FALSE(ValidarImagenDocumento(
        make("lzw.tif", 2480, 3508, 300, {kFileTiff, kPageGrey8, kCompressionLzw, kInfoNone}), prompter));
    EXPECT_EQ(prompter.lastText(),
              QStringLiteral("La documentación debe utilizar la compresión Group4(2D - FAX) o JPEG"));
}

} // namespace
} // namespace qev
