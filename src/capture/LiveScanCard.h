#pragma once
// The printed ten-print card of a livescan capture: the ten finger images blended into the office's card form,
// and the plain form the demo office starts with. Images are 8-bit grey rasters, rows top first.
#include "capture/ImageLib.h"
#include "util/Result.h"

#include <array>
#include <string>

namespace qev::capture {

// Centre of a finger on the form, in pixels; y is counted upwards from the form's bottom row.
struct CardPlace {
    int x = 0;
    int y = 0;
};

// Fingers 1..10: right hand on the upper row, left hand on the lower row.
inline constexpr std::array<CardPlace, 10> kCardPlaces = {{{1095, 1510},
                                                           {1745, 1510},
                                                           {2345, 1510},
                                                           {2945, 1510},
                                                           {3530, 1510},
                                                           {1095, 460},
                                                           {1745, 460},
                                                           {2345, 460},
                                                           {2945, 460},
                                                           {3530, 460}}};

// The form's file in the office folder.
inline constexpr char kCardFormFile[] = "fmodelo.bemepe";

// Size of the demo form: the finger places need about 3800 x 2000 pixels; the rest holds the heading and the
// person's data, and the proportions match the landscape page the card is printed on.
inline constexpr int kBlankFormWidth = 4000;
inline constexpr int kBlankFormHeight = 2740;

class LiveScanCard {
public:
    // Multiplies `finger` into `form` with its centre at `place`: each covered form pixel T becomes
    // min(255, round(F / 255 x T / 255 x 255)), so white finger background leaves the form's lines as they are.
    // Finger pixels that fall outside the form are skipped. Both rasters are 8-bit grey.
    static void blendFinger(Raster& form, const Raster& finger, CardPlace place);

    // The card: a copy of `form` with the ten fingers (index 0 = finger 1) blended in at their places. Fails on an
    // empty form ("Error: la ficha completa está vacía") or an empty finger ("Error: falta el dedo " + name).
    [[nodiscard]] static Result<Raster> assemble(const Raster& form, const std::array<Raster, 10>& fingers);

    // The card from files, written as an 8-bit BMP with a grey palette. Every finger file must exist ("Error:
    // falta el dedo " + name), then the form ("Error: no existe la ficha completa \"" + its file name + "\"");
    // unreadable files and a failed write give their own texts. A failed write leaves no partial output.
    [[nodiscard]] static Result<void> assembleFiles(const std::string& formFile,
                                                    const std::array<std::string, 10>& fingerFiles,
                                                    const std::string& output);

    // A plain ten-print form: a heading, lines for the person's data, a classification box per hand and ten
    // labelled finger boxes centred on kCardPlaces; white paper, black print, 500 ppi.
    static Raster blankForm();
    [[nodiscard]] static Result<void> writeBlankForm(const std::string& path);
};

} // namespace qev::capture
