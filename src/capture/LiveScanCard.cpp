#include "capture/LiveScanCard.h"

#include "capture/quality/QualityTexts.h"

#include <algorithm>
#include <filesystem>
#include <string_view>

namespace qev::capture {

namespace {

constexpr uint8_t kInk = 0;
constexpr uint8_t kPaper = 255;
constexpr int kFormPpi = 500;

// ---- A block letter font for the form's printed texts, so the form needs no font files or display. -------------
// Each glyph is 5 columns by 7 rows ('#' inked); two rows above it hold an accent or a tilde.
struct Glyph {
    char32_t code;
    std::array<std::string_view, 7> rows;
};

constexpr std::array<Glyph, 45> kGlyphs = {{
    {U'A', {" ### ", "#   #", "#   #", "#####", "#   #", "#   #", "#   #"}},
    {U'B', {"#### ", "#   #", "#   #", "#### ", "#   #", "#   #", "#### "}},
    {U'C', {" ####", "#    ", "#    ", "#    ", "#    ", "#    ", " ####"}},
    {U'D', {"#### ", "#   #", "#   #", "#   #", "#   #", "#   #", "#### "}},
    {U'E', {"#####", "#    ", "#    ", "#### ", "#    ", "#    ", "#####"}},
    {U'F', {"#####", "#    ", "#    ", "#### ", "#    ", "#    ", "#    "}},
    {U'G', {" ####", "#    ", "#    ", "#  ##", "#   #", "#   #", " ####"}},
    {U'H', {"#   #", "#   #", "#   #", "#####", "#   #", "#   #", "#   #"}},
    {U'I', {"#####", "  #  ", "  #  ", "  #  ", "  #  ", "  #  ", "#####"}},
    {U'J', {"  ###", "   # ", "   # ", "   # ", "   # ", "#  # ", " ##  "}},
    {U'K', {"#   #", "#  # ", "# #  ", "##   ", "# #  ", "#  # ", "#   #"}},
    {U'L', {"#    ", "#    ", "#    ", "#    ", "#    ", "#    ", "#####"}},
    {U'M', {"#   #", "## ##", "# # #", "# # #", "#   #", "#   #", "#   #"}},
    {U'N', {"#   #", "##  #", "# # #", "#  ##", "#   #", "#   #", "#   #"}},
    {U'O', {" ### ", "#   #", "#   #", "#   #", "#   #", "#   #", " ### "}},
    {U'P', {"#### ", "#   #", "#   #", "#### ", "#    ", "#    ", "#    "}},
    {U'Q', {" ### ", "#   #", "#   #", "#   #", "# # #", "#  # ", " ## #"}},
    {U'R', {"#### ", "#   #", "#   #", "#### ", "# #  ", "#  # ", "#   #"}},
    {U'S', {" ####", "#    ", "#    ", " ### ", "    #", "    #", "#### "}},
    {U'T', {"#####", "  #  ", "  #  ", "  #  ", "  #  ", "  #  ", "  #  "}},
    {U'U', {"#   #", "#   #", "#   #", "#   #", "#   #", "#   #", " ### "}},
    {U'V', {"#   #", "#   #", "#   #", "#   #", "#   #", " # # ", "  #  "}},
    {U'W', {"#   #", "#   #", "#   #", "# # #", "# # #", "## ##", "#   #"}},
    {U'X', {"#   #", "#   #", " # # ", "  #  ", " # # ", "#   #", "#   #"}},
    {U'Y', {"#   #", "#   #", " # # ", "  #  ", "  #  ", "  #  ", "  #  "}},
    {U'Z', {"#####", "    #", "   # ", "  #  ", " #   ", "#    ", "#####"}},
    {U'0', {" ### ", "#   #", "#  ##", "# # #", "##  #", "#   #", " ### "}},
    {U'1', {"  #  ", " ##  ", "  #  ", "  #  ", "  #  ", "  #  ", " ### "}},
    {U'2', {" ### ", "#   #", "    #", "   # ", "  #  ", " #   ", "#####"}},
    {U'3', {"#####", "   # ", "  #  ", "   # ", "    #", "#   #", " ### "}},
    {U'4', {"   # ", "  ## ", " # # ", "#  # ", "#####", "   # ", "   # "}},
    {U'5', {"#####", "#    ", "#### ", "    #", "    #", "#   #", " ### "}},
    {U'6', {"  ## ", " #   ", "#    ", "#### ", "#   #", "#   #", " ### "}},
    {U'7', {"#####", "    #", "   # ", "  #  ", " #   ", " #   ", " #   "}},
    {U'8', {" ### ", "#   #", "#   #", " ### ", "#   #", "#   #", " ### "}},
    {U'9', {" ### ", "#   #", "#   #", " ####", "    #", "   # ", " ##  "}},
    {U'.', {"     ", "     ", "     ", "     ", "     ", " ##  ", " ##  "}},
    {U',', {"     ", "     ", "     ", "     ", " ##  ", "  #  ", " #   "}},
    {U':', {"     ", " ##  ", " ##  ", "     ", " ##  ", " ##  ", "     "}},
    {U'-', {"     ", "     ", "     ", "#####", "     ", "     ", "     "}},
    {U'_', {"     ", "     ", "     ", "     ", "     ", "     ", "#####"}},
    {U'/', {"    #", "    #", "   # ", "  #  ", " #   ", "#    ", "#    "}},
    {U'(', {"   # ", "  #  ", " #   ", " #   ", " #   ", "  #  ", "   # "}},
    {U')', {" #   ", "  #  ", "   # ", "   # ", "   # ", "  #  ", " #   "}},
    {U' ', {"     ", "     ", "     ", "     ", "     ", "     ", "     "}},
}};

constexpr std::array<std::string_view, 2> kAcute = {"   # ", "  #  "};
constexpr std::array<std::string_view, 2> kTilde = {" ## #", "# ## "};

// Upper-case letters of UTF-8 text, with the accent of the Spanish vowels and the tilde of Ñ apart.
struct Letter {
    char32_t base;
    const std::array<std::string_view, 2>* mark;
};

std::vector<Letter> letters(std::string_view utf8) {
    std::vector<Letter> out;
    for (size_t i = 0; i < utf8.size(); ++i) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        if (c < 0x80) {
            out.push_back({static_cast<char32_t>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c), nullptr});
            continue;
        }
        if (c != 0xC3 || i + 1 >= utf8.size()) continue;             // other characters are not printed
        const auto d = static_cast<unsigned char>(utf8[++i]) & 0xDF; // upper case of Latin-1 letters
        switch (d) {
        case 0x81:
            out.push_back({U'A', &kAcute});
            break;
        case 0x89:
            out.push_back({U'E', &kAcute});
            break;
        case 0x8D:
            out.push_back({U'I', &kAcute});
            break;
        case 0x93:
            out.push_back({U'O', &kAcute});
            break;
        case 0x9A:
            out.push_back({U'U', &kAcute});
            break;
        case 0x91:
            out.push_back({U'N', &kTilde});
            break;
        default:
            break;
        }
    }
    return out;
}

void fill(Raster& r, int x0, int y0, int x1, int y1, uint8_t value) {
    x0 = std::max(x0, 0);
    y0 = std::max(y0, 0);
    x1 = std::min(x1, r.width);
    y1 = std::min(y1, r.height);
    for (int y = y0; y < y1; ++y)
        std::fill(r.row(y) + x0, r.row(y) + std::max(x0, x1), value);
}

// The outline of the box (x0, y0)-(x1, y1), `t` pixels thick inside it.
void frame(Raster& r, int x0, int y0, int x1, int y1, int t) {
    fill(r, x0, y0, x1, y0 + t, kInk);
    fill(r, x0, y1 - t, x1, y1, kInk);
    fill(r, x0, y0, x0 + t, y1, kInk);
    fill(r, x1 - t, y0, x1, y1, kInk);
}

constexpr int textWidth(size_t count, int scale) {
    return count == 0 ? 0 : static_cast<int>(count) * 6 * scale - scale;
}

// Prints `text` with its top left corner (the accent rows included) at (x, y); each font dot is scale x scale
// pixels. Answers the width printed.
int print(Raster& r, int x, int y, std::string_view text, int scale) {
    const std::vector<Letter> ls = letters(text);
    auto dots = [&](int col, int row, std::string_view line) {
        for (int i = 0; i < 5; ++i)
            if (line[static_cast<size_t>(i)] == '#')
                fill(r, col + i * scale, row, col + (i + 1) * scale, row + scale, kInk);
    };
    int cx = x;
    for (const Letter& l : ls) {
        const auto g = std::find_if(kGlyphs.begin(), kGlyphs.end(), [&](const Glyph& gl) { return gl.code == l.base; });
        if (g != kGlyphs.end()) {
            if (l.mark)
                for (int row = 0; row < 2; ++row)
                    dots(cx, y + row * scale, (*l.mark)[static_cast<size_t>(row)]);
            for (int row = 0; row < 7; ++row)
                dots(cx, y + (row + 2) * scale, g->rows[static_cast<size_t>(row)]);
        }
        cx += 6 * scale;
    }
    return textWidth(ls.size(), scale);
}

void printCentred(Raster& r, int centreX, int y, std::string_view text, int scale) {
    print(r, centreX - textWidth(letters(text).size(), scale) / 2, y, text, scale);
}

// A label followed by a line to write on, ending at `lineEnd`.
void field(Raster& r, int x, int y, std::string_view label, int lineEnd) {
    constexpr int kScale = 5;
    const int w = print(r, x, y, label, kScale);
    fill(r, x + w + 20, y + 9 * kScale, lineEnd, y + 9 * kScale + 4, kInk);
}

} // namespace

void LiveScanCard::blendFinger(Raster& form, const Raster& finger, CardPlace place) {
    // Rows of both images are kept top first; the place counts from the bottom, as the form is printed.
    const int left = place.x - finger.width / 2;
    const int top = form.height - place.y + finger.height / 2 - finger.height;
    for (int fy = 0; fy < finger.height; ++fy) {
        const int ty = top + fy;
        if (ty < 0 || ty >= form.height) continue;
        const uint8_t* f = finger.row(fy);
        uint8_t* t = form.row(ty);
        for (int fx = 0; fx < finger.width; ++fx) {
            const int tx = left + fx;
            if (tx < 0 || tx >= form.width) continue;
            // round(F * T / 255): F * T is never an odd multiple of 127.5, so adding half rounds exactly.
            const int blended = (f[fx] * t[tx] + 127) / 255;
            t[tx] = static_cast<uint8_t>(std::min(255, blended));
        }
    }
}

Result<Raster> LiveScanCard::assemble(const Raster& form, const std::array<Raster, 10>& fingers) {
    for (size_t i = 0; i < fingers.size(); ++i)
        if (fingers[i].empty()) return fail("Error: falta el dedo " + quality::fingerName(static_cast<int>(i) + 1));
    if (form.empty()) return fail("Error: la ficha completa está vacía");
    Raster card = toGrey8(form);
    for (size_t i = 0; i < fingers.size(); ++i)
        blendFinger(card, toGrey8(fingers[i]), kCardPlaces[i]);
    return card;
}

Result<void> LiveScanCard::assembleFiles(const std::string& formFile, const std::array<std::string, 10>& fingerFiles,
                                         const std::string& output) {
    std::error_code ec;
    for (size_t i = 0; i < fingerFiles.size(); ++i)
        if (!std::filesystem::is_regular_file(fingerFiles[i], ec))
            return fail("Error: falta el dedo " + quality::fingerName(static_cast<int>(i) + 1));
    const std::string formName = std::filesystem::path(formFile).filename().string();
    if (!std::filesystem::is_regular_file(formFile, ec))
        return fail("Error: no existe la ficha completa \"" + formName + "\"");
    std::string why;
    std::array<Raster, 10> fingers;
    for (size_t i = 0; i < fingerFiles.size(); ++i)
        if (!loadPage(fingerFiles[i], 1, fingers[i], &why))
            return fail("Error: no se puede leer el dedo " + quality::fingerName(static_cast<int>(i) + 1) + ": " + why);
    Raster form;
    if (!loadPage(formFile, 1, form, &why))
        return fail("Error: no se puede leer la ficha completa \"" + formName + "\": " + why);
    Result<Raster> card = assemble(form, fingers);
    if (!card) return fail(card.error());
    if (!saveGreyBmp(output, *card, &why)) return fail("Error: no se pudo guardar la ficha " + output + ": " + why);
    return {};
}

Raster LiveScanCard::blankForm() {
    constexpr int W = kBlankFormWidth;
    constexpr int H = kBlankFormHeight;
    constexpr int kBoxHalfWidth = 280;
    constexpr int kBoxHalfHeight = 420;
    Raster r = Raster::grey(W, H, kPaper);
    r.resolutionX = r.resolutionY = kFormPpi;
    frame(r, 20, 20, W - 20, H - 20, 5);

    printCentred(r, W / 2, 50, "FICHA DECADACTILAR", 12);
    printCentred(r, W / 2, 190, "QEV REGIONAL - IMPRESIONES TOMADAS CON LIVESCAN", 5);
    field(r, 80, 320, "APELLIDOS Y NOMBRES:", 2600);
    field(r, 2700, 320, "DOCUMENTO:", 3920);
    field(r, 80, 460, "PEDIDO:", 1200);
    field(r, 1300, 460, "REGIONAL:", 2400);
    field(r, 2700, 460, "FECHA:", 3920);
    fill(r, 20, 600, W - 20, 605, kInk);

    // Row of each hand: heading, the classification box on the left and the five finger boxes.
    const auto boxTop = [&](int finger) {
        return H - 1 - kCardPlaces[static_cast<size_t>(finger - 1)].y - kBoxHalfHeight;
    };
    for (int hand = 0; hand < 2; ++hand) {
        const int first = hand * 5 + 1;
        const int top = boxTop(first);
        print(r, kCardPlaces[0].x - kBoxHalfWidth, top - 70, hand == 0 ? "MANO DERECHA" : "MANO IZQUIERDA", 6);
        print(r, 80, top + 200, "CLASIFICACIÓN", 5);
        print(r, 80, top + 260, hand == 0 ? "DERECHA" : "IZQUIERDA", 5);
        for (int cell = 0; cell < 5; ++cell)
            frame(r, 80 + cell * 125, top + 340, 80 + (cell + 1) * 125 + 4, top + 480, 4);
        for (int finger = first; finger < first + 5; ++finger) {
            const int cx = kCardPlaces[static_cast<size_t>(finger - 1)].x;
            frame(r, cx - kBoxHalfWidth, top, cx + kBoxHalfWidth, top + 2 * kBoxHalfHeight, 4);
            print(r, cx - kBoxHalfWidth + 16, top + 12, std::to_string(finger) + ". " + quality::fingerName(finger), 4);
        }
    }
    return r;
}

Result<void> LiveScanCard::writeBlankForm(const std::string& path) {
    std::string why;
    if (!saveGreyBmp(path, blankForm(), &why)) return fail("no se pudo crear " + path + ": " + why);
    return {};
}

} // namespace qev::capture
