#include "capture/quality/QualityTexts.h"
#include "capture/quality/QualityGrader.h"

#include <gtest/gtest.h>

using namespace qev::quality;

TEST(QualityTexts, WordsForEveryDefinedValueAndNoneOtherwise) {
    EXPECT_EQ(qualityWord(0), "Error: falta huella!");
    EXPECT_EQ(qualityWord(1), "Excelente");
    EXPECT_EQ(qualityWord(2), "Muy buena");
    EXPECT_EQ(qualityWord(3), "Buena");
    EXPECT_EQ(qualityWord(4), "Regular");
    EXPECT_EQ(qualityWord(5), "Mala");
    EXPECT_EQ(qualityWord(9), "Error: No hay impresiones");
    for (const int v : {-1, 6, 7, 8, 10, 100})
        EXPECT_EQ(qualityWord(v), "") << v;
}

TEST(QualityTexts, ErrorTextsForTheKnownCodesOnly) {
    EXPECT_EQ(errorText(kEmptyImage), "Imagen vacía");
    EXPECT_EQ(errorText(kTooFewMinutiae), "Faltan minucias");
    EXPECT_EQ(errorText(kLibraryMissing), "ERROR: Falta QKNFIQ.DLL");
    EXPECT_EQ(errorText(kNoImage), "Falta cargar la imagen");
    EXPECT_EQ(errorText(kOutOfMemory), "Falta memoria para procesar la imagen");
    for (const int c : {kGraded, 3, -4, 99})
        EXPECT_EQ(errorText(c), "") << c;
}

TEST(QualityTexts, QualityTextJoinsValueWordAndError) {
    EXPECT_EQ(qualityText(kGraded, 1), "1 (Excelente)");
    EXPECT_EQ(qualityText(kGraded, 7), "7 ()");
    EXPECT_EQ(qualityText(kTooFewMinutiae, 5), "5 (Mala, Faltan minucias)");
    EXPECT_EQ(qualityText(kLibraryMissing, 0), "0 (Error: falta huella!, ERROR: Falta QKNFIQ.DLL)");
    EXPECT_EQ(qualityText(kNoImage, 0), "0 (Error: falta huella!, Falta cargar la imagen)");
    EXPECT_EQ(qualityText(kEmptyImage, 5), "5 (Mala, Imagen vacía)");
}

TEST(QualityTexts, FingerNamesRightHandThenLeftHand) {
    EXPECT_EQ(fingerName(1), "Pulgar Derecho");
    EXPECT_EQ(fingerName(2), "Indice Derecho");
    EXPECT_EQ(fingerName(3), "Medio Derecho");
    EXPECT_EQ(fingerName(4), "Anular Derecho");
    EXPECT_EQ(fingerName(5), "Meñique Derecho");
    EXPECT_EQ(fingerName(6), "Pulgar Izquierdo");
    EXPECT_EQ(fingerName(7), "Indice Izquierdo");
    EXPECT_EQ(fingerName(8), "Medio Izquierdo");
    EXPECT_EQ(fingerName(9), "Anular Izquierdo");
    EXPECT_EQ(fingerName(10), "Meñique Izquierdo");
    for (const int f : {0, 11, -1})
        EXPECT_EQ(fingerName(f), "Desconocido") << f;
}
