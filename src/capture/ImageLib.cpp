#include "capture/ImageLib.h"

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>

#include <jpeglib.h>
#include <leptonica/allheaders.h>
#include <tiffio.h>
#include <unistd.h>

namespace qev::capture {

namespace {

bool setError(std::string* error, std::string text) {
    if (error) *error = std::move(text);
    return false;
}

// ---- Error capture for the C libraries ------------------------------------------------------------------------

thread_local std::string g_tiffError;

void tiffErrorHandler(const char* module, const char* fmt, va_list ap) {
    char buf[512];
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    g_tiffError = (module ? std::string(module) + ": " : std::string()) + buf;
}

void tiffWarningHandler(const char*, const char*, va_list) {}

struct TiffSetup {
    TiffSetup() {
        TIFFSetErrorHandler(tiffErrorHandler);
        TIFFSetWarningHandler(tiffWarningHandler);
        setMsgSeverity(L_SEVERITY_NONE);
    }
};

void ensureSetup() {
    static TiffSetup setup;
}

struct TiffCloser {
    void operator()(TIFF* t) const {
        if (t) TIFFClose(t);
    }
};
using TiffPtr = std::unique_ptr<TIFF, TiffCloser>;

bool readFile(const std::string& path, std::vector<uint8_t>& out, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return setError(error, "No se puede abrir el archivo " + path);
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    if (size < 0 || size > (int64_t(1) << 31)) return setError(error, "Archivo demasiado grande: " + path);
    in.seekg(0);
    out.resize(static_cast<size_t>(size));
    if (size > 0 && !in.read(reinterpret_cast<char*>(out.data()), size))
        return setError(error, "No se puede leer el archivo " + path);
    return true;
}

enum class Kind { Tiff, Bmp, Jpeg, Unknown };

Kind sniff(const std::string& path) {
    unsigned char m[4] = {};
    std::ifstream in(path, std::ios::binary);
    in.read(reinterpret_cast<char*>(m), 4);
    if (in.gcount() < 2) return Kind::Unknown;
    if ((m[0] == 'I' && m[1] == 'I' && m[2] == 42 && m[3] == 0) ||
        (m[0] == 'M' && m[1] == 'M' && m[2] == 0 && m[3] == 42))
        return Kind::Tiff;
    if (m[0] == 'B' && m[1] == 'M') return Kind::Bmp;
    if (m[0] == 0xFF && m[1] == 0xD8) return Kind::Jpeg;
    return Kind::Unknown;
}

bool checkSize(int64_t w, int64_t h, std::string* error) {
    if (w <= 0 || h <= 0) return setError(error, "La imagen no tiene tamaño");
    if (w > 100000 || h > 100000 || w * h > kMaxPixels)
        return setError(error, "La imagen es demasiado grande (" + std::to_string(w) + " x " + std::to_string(h) + ")");
    return true;
}

// ---- JPEG quality ----------------------------------------------------------------------------------------------

// The luminance table that JPEG encoders scale by quality (quality 50 uses it as given).
constexpr int kStdLuminance[64] = {16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
                                   14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
                                   18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
                                   49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};

} // namespace

int estimateJpegQuality(const uint8_t* data, size_t size) {
    // Walk the markers up to the first scan and find table 0 of a DQT segment.
    size_t i = 0;
    while (i + 4 <= size) {
        if (data[i] != 0xFF) {
            ++i;
            continue;
        }
        const uint8_t marker = data[i + 1];
        if (marker == 0xD8 || marker == 0xFF || (marker >= 0xD0 && marker <= 0xD7) || marker == 0x01) {
            i += marker == 0xFF ? 1 : 2;
            continue;
        }
        if (marker == 0xD9 || marker == 0xDA) break;
        const size_t length = static_cast<size_t>(data[i + 2]) << 8 | data[i + 3];
        if (length < 2 || i + 2 + length > size) break;
        if (marker == 0xDB) {
            size_t p = i + 4;
            const size_t end = i + 2 + length;
            while (p < end) {
                const int precision = data[p] >> 4;
                const int id = data[p] & 0x0F;
                const size_t bytes = precision ? 128 : 64;
                if (p + 1 + bytes > end) break;
                if (id == 0) {
                    double sum = 0;
                    double stdSum = 0;
                    for (int k = 0; k < 64; ++k) {
                        sum += precision ? (data[p + 1 + 2 * k] << 8 | data[p + 2 + 2 * k]) : data[p + 1 + k];
                        stdSum += kStdLuminance[k];
                    }
                    const double scale = 100.0 * sum / stdSum;
                    if (scale <= 0) return 100;
                    const double q = scale <= 100 ? (200.0 - scale) / 2.0 : 5000.0 / scale;
                    return std::clamp(static_cast<int>(std::lround(q)), 1, 100);
                }
                p += 1 + bytes;
            }
        }
        i += 2 + length;
    }
    return 0;
}

int jpegCompressionInfo(int quality) {
    if (quality <= 0) return kInfoNone;
    if (quality < 50) return kInfoJpegHighCompression;
    if (quality < 85) return kInfoJpegMedium;
    return kInfoJpegLowCompression;
}

Raster Raster::grey(int width, int height, uint8_t fill) {
    Raster r;
    r.width = width;
    r.height = height;
    r.pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height), fill);
    return r;
}

namespace {

// ---- TIFF ------------------------------------------------------------------------------------------------------

TiffPtr openTiff(const std::string& path, const char* mode, std::string* error) {
    ensureSetup();
    g_tiffError.clear();
    TiffPtr t(TIFFOpen(path.c_str(), mode));
    if (!t)
        setError(error, "No se puede abrir el archivo TIFF " + path + (g_tiffError.empty() ? "" : ": " + g_tiffError));
    return t;
}

bool tiffSetPage(TIFF* t, int page, std::string* error) {
    if (page < 1 || !TIFFSetDirectory(t, static_cast<tdir_t>(page - 1)))
        return setError(error, "La página " + std::to_string(page) + " no existe");
    return true;
}

int tiffCompressionCode(uint16_t c) {
    switch (c) {
    case COMPRESSION_NONE:
        return kCompressionNone;
    case COMPRESSION_CCITTRLE:
    case COMPRESSION_CCITTFAX3:
        return kCompressionGroup3;
    case COMPRESSION_CCITTFAX4:
        return kCompressionGroup4;
    case COMPRESSION_PACKBITS:
        return kCompressionPackBits;
    case COMPRESSION_JPEG:
    case COMPRESSION_OJPEG:
        return kCompressionJpeg;
    case COMPRESSION_LZW:
        return kCompressionLzw;
    case COMPRESSION_ADOBE_DEFLATE:
    case COMPRESSION_DEFLATE:
        return kCompressionDeflate;
    default:
        return 0;
    }
}

int tiffJpegQuality(TIFF* t) {
    uint32_t count = 0;
    void* tables = nullptr;
    if (TIFFGetField(t, TIFFTAG_JPEGTABLES, &count, &tables) && tables && count > 0) {
        const int q = estimateJpegQuality(static_cast<const uint8_t*>(tables), count);
        if (q > 0) return q;
    }
    // Tables kept inside each strip or tile: look at the first one.
    const bool tiled = TIFFIsTiled(t);
    const tmsize_t size = static_cast<tmsize_t>(TIFFGetStrileByteCount(t, 0));
    if (size <= 0 || size > (tmsize_t(64) << 20)) return 0;
    std::vector<uint8_t> raw(static_cast<size_t>(size));
    const tmsize_t got = tiled ? TIFFReadRawTile(t, 0, raw.data(), size) : TIFFReadRawStrip(t, 0, raw.data(), size);
    return got > 0 ? estimateJpegQuality(raw.data(), static_cast<size_t>(got)) : 0;
}

bool tiffPageInfo(TIFF* t, PageInfo& info, std::string* error) {
    uint32_t w = 0, h = 0;
    uint16_t bits = 1, spp = 1, photometric = PHOTOMETRIC_MINISWHITE, compression = COMPRESSION_NONE,
             unit = RESUNIT_INCH;
    float xres = 0, yres = 0;
    if (!TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &w) || !TIFFGetField(t, TIFFTAG_IMAGELENGTH, &h))
        return setError(error, "La página TIFF no indica su tamaño");
    TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photometric);
    TIFFGetFieldDefaulted(t, TIFFTAG_COMPRESSION, &compression);
    TIFFGetFieldDefaulted(t, TIFFTAG_RESOLUTIONUNIT, &unit);
    const bool hasX = TIFFGetField(t, TIFFTAG_XRESOLUTION, &xres);
    const bool hasY = TIFFGetField(t, TIFFTAG_YRESOLUTION, &yres);
    const double toInch = unit == RESUNIT_CENTIMETER ? 2.54 : 1.0;
    info = PageInfo{};
    info.width = static_cast<int>(std::min<uint32_t>(w, 0x7FFFFFFF));
    info.height = static_cast<int>(std::min<uint32_t>(h, 0x7FFFFFFF));
    info.resolutionX = hasX && std::isfinite(xres) ? std::round(xres * toInch * 100) / 100 : 0;
    info.resolutionY = hasY && std::isfinite(yres) ? std::round(yres * toInch * 100) / 100 : 0;
    info.fileType = kFileTiff;
    info.compressionType = tiffCompressionCode(compression);
    if (spp == 1 && bits == 1)
        info.pageType = kPageBlackWhite;
    else if (spp == 1 && bits == 8 && (photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE))
        info.pageType = kPageGrey8;
    else if (spp == 1 && bits == 8 && photometric == PHOTOMETRIC_PALETTE)
        info.pageType = kPagePalette8;
    else if (spp >= 3 && bits == 8)
        info.pageType = kPageRgb24;
    if (info.compressionType == kCompressionGroup4)
        info.compressionInfo = kInfoGroup4;
    else if (info.compressionType == kCompressionJpeg) {
        info.jpegQuality = tiffJpegQuality(t);
        info.compressionInfo = jpegCompressionInfo(info.jpegQuality);
    }
    return true;
}

// Whether the page's pixels are laid out in a way the decoder can take without a buffer out of all proportion to
// the picture: one to four samples of 1, 2, 4, 8 or 16 bits, and strips or tiles of at most 256 MB. A header that
// claims thousands of samples a pixel would otherwise have the decoder ask for gigabytes, or spend minutes, on a
// page of a few pixels.
bool tiffLayoutDecodable(TIFF* t, std::string* error) {
    uint16_t bits = 1, spp = 1;
    TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &spp);
    const bool knownBits = bits == 1 || bits == 2 || bits == 4 || bits == 8 || bits == 16;
    if (!knownBits || spp < 1 || spp > 4)
        return setError(error, "La página TIFF tiene un formato de píxel que no se admite (" + std::to_string(spp) +
                                   " muestras de " + std::to_string(bits) + " bits)");
    const uint64_t chunk = TIFFIsTiled(t) ? TIFFTileSize64(t) : TIFFStripSize64(t);
    if (chunk == 0 || chunk > (uint64_t(256) << 20))
        return setError(error, "La página TIFF está dividida en bloques de un tamaño que no se admite");
    return true;
}

bool tiffLoadPage(TIFF* t, Raster& out, std::string* error) {
    PageInfo info;
    if (!tiffPageInfo(t, info, error) || !checkSize(info.width, info.height, error) || !tiffLayoutDecodable(t, error))
        return false;
    uint16_t photometric = PHOTOMETRIC_MINISWHITE;
    uint16_t spp = 1;
    TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photometric);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &spp);
    std::vector<uint32_t> rgba(static_cast<size_t>(info.width) * static_cast<size_t>(info.height));
    g_tiffError.clear();
    if (!TIFFReadRGBAImageOriented(t, static_cast<uint32_t>(info.width), static_cast<uint32_t>(info.height),
                                   rgba.data(), ORIENTATION_TOPLEFT, 0))
        return setError(error,
                        "No se puede decodificar la página TIFF" + (g_tiffError.empty() ? "" : ": " + g_tiffError));
    const bool grey = info.pageType == kPageBlackWhite || info.pageType == kPageGrey8 ||
                      (spp == 1 && photometric != PHOTOMETRIC_PALETTE);
    out = Raster{};
    out.width = info.width;
    out.height = info.height;
    out.channels = grey ? 1 : 3;
    out.bilevel = info.pageType == kPageBlackWhite;
    out.resolutionX = info.resolutionX;
    out.resolutionY = info.resolutionY;
    out.pixels.resize(static_cast<size_t>(out.width) * static_cast<size_t>(out.height) *
                      static_cast<size_t>(out.channels));
    uint8_t* p = out.pixels.data();
    for (uint32_t px : rgba) {
        if (grey) {
            *p++ = static_cast<uint8_t>(TIFFGetR(px));
        } else {
            *p++ = static_cast<uint8_t>(TIFFGetR(px));
            *p++ = static_cast<uint8_t>(TIFFGetG(px));
            *p++ = static_cast<uint8_t>(TIFFGetB(px));
        }
    }
    return true;
}

SaveFormat formatOf(const PageInfo& info) {
    SaveFormat f;
    f.fileType = info.fileType;
    f.pageType = info.pageType;
    f.compressionType = info.compressionType;
    f.compressionInfo = info.compressionInfo;
    return f;
}

int qualityFor(int compressionInfo) {
    switch (compressionInfo) {
    case kInfoJpegHighCompression:
        return 35;
    case kInfoJpegLowCompression:
        return 92;
    default:
        return kMediumJpegQuality;
    }
}

bool tiffWritePage(TIFF* t, const Raster& src, const SaveFormat& f, int pageNumber, int pages, std::string* error) {
    Raster r = src;
    const bool bw = f.pageType == kPageBlackWhite;
    const bool rgb = f.pageType == kPageRgb24;
    if (!rgb)
        r = toGrey8(src);
    else if (r.channels != 3) {
        Raster c;
        c.width = r.width;
        c.height = r.height;
        c.channels = 3;
        c.resolutionX = r.resolutionX;
        c.resolutionY = r.resolutionY;
        c.pixels.reserve(r.pixels.size() * 3);
        for (uint8_t v : r.pixels)
            c.pixels.insert(c.pixels.end(), {v, v, v});
        r = std::move(c);
    }
    if (bw && f.compressionType == kCompressionJpeg)
        return setError(error, "Una página en blanco y negro no puede guardarse con compresión JPEG");
    if (!bw && (f.compressionType == kCompressionGroup4 || f.compressionType == kCompressionGroup3))
        return setError(error, "La compresión de fax sólo admite páginas en blanco y negro");
    if (f.pageType != kPageBlackWhite && f.pageType != kPageGrey8 && f.pageType != kPageRgb24)
        return setError(error, "Tipo de página no admitido: " + std::to_string(f.pageType));
    uint16_t compression = COMPRESSION_NONE;
    switch (f.compressionType) {
    case kCompressionNone:
        break;
    case kCompressionJpeg:
        compression = COMPRESSION_JPEG;
        break;
    case kCompressionGroup4:
        compression = COMPRESSION_CCITTFAX4;
        break;
    case kCompressionGroup3:
        compression = COMPRESSION_CCITTFAX3;
        break;
    case kCompressionPackBits:
        compression = COMPRESSION_PACKBITS;
        break;
    case kCompressionLzw:
        compression = COMPRESSION_LZW;
        break;
    case kCompressionDeflate:
        compression = COMPRESSION_ADOBE_DEFLATE;
        break;
    default:
        return setError(error, "Tipo de compresión no admitido: " + std::to_string(f.compressionType));
    }
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(r.width));
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(r.height));
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, static_cast<uint16_t>(bw ? 1 : 8));
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, static_cast<uint16_t>(rgb ? 3 : 1));
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_COMPRESSION, compression);
    if (bw)
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    else if (rgb && compression == COMPRESSION_JPEG)
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_YCBCR);
    else
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, rgb ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
    if (compression == COMPRESSION_JPEG) {
        TIFFSetField(t, TIFFTAG_JPEGQUALITY, qualityFor(f.compressionInfo));
        if (rgb) TIFFSetField(t, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    }
    if (r.resolutionX > 0 && r.resolutionY > 0) {
        TIFFSetField(t, TIFFTAG_XRESOLUTION, static_cast<float>(r.resolutionX));
        TIFFSetField(t, TIFFTAG_YRESOLUTION, static_cast<float>(r.resolutionY));
        TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    }
    if (pages > 1) {
        TIFFSetField(t, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
        TIFFSetField(t, TIFFTAG_PAGENUMBER, static_cast<uint16_t>(pageNumber), static_cast<uint16_t>(pages));
    }
    const uint32_t rowsPerStrip = compression == COMPRESSION_JPEG ? 16 : TIFFDefaultStripSize(t, 0);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
    std::vector<uint8_t> line;
    for (int y = 0; y < r.height; ++y) {
        const uint8_t* pixels = r.row(y);
        if (bw) {
            line.assign(static_cast<size_t>((r.width + 7) / 8), 0);
            for (int x = 0; x < r.width; ++x)
                if (pixels[x] < 128) line[static_cast<size_t>(x / 8)] |= static_cast<uint8_t>(0x80 >> (x % 8));
        } else {
            line.assign(pixels, pixels + r.rowBytes());
        }
        if (TIFFWriteScanline(t, line.data(), static_cast<uint32_t>(y), 0) < 0)
            return setError(error, "No se pudo escribir la página TIFF: " + g_tiffError);
    }
    if (!TIFFWriteDirectory(t)) return setError(error, "No se pudo escribir la página TIFF: " + g_tiffError);
    return true;
}

// ---- BMP -------------------------------------------------------------------------------------------------------

uint32_t le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint16_t le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}
void put32(std::vector<uint8_t>& v, uint32_t x) {
    for (int i = 0; i < 4; ++i)
        v.push_back(static_cast<uint8_t>(x >> (8 * i)));
}
void put16(std::vector<uint8_t>& v, uint16_t x) {
    v.push_back(static_cast<uint8_t>(x));
    v.push_back(static_cast<uint8_t>(x >> 8));
}

struct BmpHeader {
    int width = 0;
    int height = 0;
    bool topDown = false;
    int bits = 0;
    uint32_t compression = 0;
    uint32_t dataOffset = 0;
    double dpiX = 0;
    double dpiY = 0;
    std::vector<uint32_t> palette; // 0x00RRGGBB
};

bool parseBmp(const std::vector<uint8_t>& f, BmpHeader& h, std::string* error) {
    if (f.size() < 26 || f[0] != 'B' || f[1] != 'M') return setError(error, "No es un archivo BMP");
    h.dataOffset = le32(&f[10]);
    const uint32_t headerSize = le32(&f[14]);
    if (headerSize != 12 && (headerSize < 40 || headerSize > 4096)) return setError(error, "Cabecera BMP desconocida");
    if (f.size() < 14 + static_cast<size_t>(headerSize)) return setError(error, "Archivo BMP truncado");
    int64_t w = 0, hh = 0;
    size_t paletteEntry = 4;
    uint32_t colours = 0;
    if (headerSize == 12) {
        w = le16(&f[18]);
        hh = le16(&f[20]);
        h.bits = le16(&f[24]);
        paletteEntry = 3;
    } else {
        w = static_cast<int32_t>(le32(&f[18]));
        hh = static_cast<int32_t>(le32(&f[22]));
        h.bits = le16(&f[28]);
        h.compression = le32(&f[30]);
        h.dpiX = std::round(static_cast<int32_t>(le32(&f[38])) * 0.0254);
        h.dpiY = std::round(static_cast<int32_t>(le32(&f[42])) * 0.0254);
        colours = le32(&f[46]);
    }
    h.topDown = hh < 0;
    hh = std::llabs(hh);
    if (!checkSize(w, hh, error)) return false;
    h.width = static_cast<int>(w);
    h.height = static_cast<int>(hh);
    if (h.bits != 1 && h.bits != 4 && h.bits != 8 && h.bits != 24 && h.bits != 32)
        return setError(error, "Profundidad de color BMP no admitida: " + std::to_string(h.bits));
    if (h.bits <= 8) {
        const size_t n = colours ? std::min<uint32_t>(colours, 1u << h.bits) : (1u << h.bits);
        const size_t start = 14 + headerSize;
        if (start + n * paletteEntry > f.size()) return setError(error, "Paleta BMP truncada");
        for (size_t i = 0; i < n; ++i) {
            const uint8_t* e = &f[start + i * paletteEntry];
            h.palette.push_back(uint32_t(e[2]) << 16 | uint32_t(e[1]) << 8 | e[0]);
        }
    }
    return true;
}

bool greyPalette(const BmpHeader& h) {
    for (size_t i = 0; i < h.palette.size(); ++i) {
        const uint32_t c = h.palette[i];
        if ((c >> 16 & 0xFF) != (c >> 8 & 0xFF) || (c >> 8 & 0xFF) != (c & 0xFF)) return false;
    }
    return !h.palette.empty();
}

bool bmpInfo(const std::string& path, PageInfo& info, std::string* error) {
    std::vector<uint8_t> f(64 + 1024 + 16);
    {
        std::ifstream in(path, std::ios::binary);
        if (!in) return setError(error, "No se puede abrir el archivo " + path);
        in.read(reinterpret_cast<char*>(f.data()), static_cast<std::streamsize>(f.size()));
        f.resize(static_cast<size_t>(in.gcount()));
    }
    BmpHeader h;
    if (!parseBmp(f, h, error)) return false;
    info = PageInfo{};
    info.width = h.width;
    info.height = h.height;
    info.resolutionX = h.dpiX;
    info.resolutionY = h.dpiY;
    info.fileType = kFileBmp;
    info.compressionType = h.compression == 0 || h.compression == 3 ? kCompressionNone : 0;
    if (h.bits == 1)
        info.pageType = kPageBlackWhite;
    else if (h.bits == 8)
        info.pageType = greyPalette(h) ? kPageGrey8 : kPagePalette8;
    else if (h.bits >= 24)
        info.pageType = kPageRgb24;
    return true;
}

bool bmpLoad(const std::string& path, Raster& out, std::string* error) {
    std::vector<uint8_t> f;
    if (!readFile(path, f, error)) return false;
    BmpHeader h;
    if (!parseBmp(f, h, error)) return false;
    if (h.compression != 0 && !(h.compression == 3 && h.bits >= 16))
        return setError(error, "Compresión BMP no admitida");
    const size_t stride = ((static_cast<size_t>(h.width) * static_cast<size_t>(h.bits) + 31) / 32) * 4;
    if (h.dataOffset > f.size() || stride * static_cast<size_t>(h.height) > f.size() - h.dataOffset)
        return setError(error, "Archivo BMP truncado: faltan filas de la imagen");
    const bool grey = h.bits <= 8 ? greyPalette(h) : false;
    out = Raster{};
    out.width = h.width;
    out.height = h.height;
    out.channels = grey ? 1 : 3;
    out.bilevel = h.bits == 1 && grey;
    out.resolutionX = h.dpiX;
    out.resolutionY = h.dpiY;
    out.pixels.resize(static_cast<size_t>(h.width) * static_cast<size_t>(h.height) * static_cast<size_t>(out.channels));
    for (int y = 0; y < h.height; ++y) {
        const int fileRow = h.topDown ? y : h.height - 1 - y;
        const uint8_t* src = &f[h.dataOffset + static_cast<size_t>(fileRow) * stride];
        uint8_t* dst = out.row(y);
        for (int x = 0; x < h.width; ++x) {
            uint32_t rgb = 0;
            if (h.bits <= 8) {
                unsigned idx = 0;
                if (h.bits == 8)
                    idx = src[x];
                else if (h.bits == 4)
                    idx = (src[x / 2] >> (x % 2 ? 0 : 4)) & 0x0F;
                else
                    idx = (src[x / 8] >> (7 - x % 8)) & 1;
                rgb = idx < h.palette.size() ? h.palette[idx] : 0;
            } else {
                const uint8_t* p = src + static_cast<size_t>(x) * static_cast<size_t>(h.bits / 8);
                rgb = uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
            }
            if (grey) {
                dst[x] = static_cast<uint8_t>(rgb & 0xFF);
            } else {
                dst[3 * x] = static_cast<uint8_t>(rgb >> 16);
                dst[3 * x + 1] = static_cast<uint8_t>(rgb >> 8);
                dst[3 * x + 2] = static_cast<uint8_t>(rgb);
            }
        }
    }
    return true;
}

std::vector<uint8_t> bmpEncode(const Raster& src, const SaveFormat& f) {
    const bool rgb = f.pageType == kPageRgb24 && src.channels == 3;
    const bool bw = f.pageType == kPageBlackWhite;
    const Raster r = rgb ? src : toGrey8(src);
    const int bits = rgb ? 24 : bw ? 1 : 8;
    const uint32_t paletteSize = bits == 24 ? 0 : (1u << bits) * 4;
    const size_t stride = ((static_cast<size_t>(r.width) * static_cast<size_t>(bits) + 31) / 32) * 4;
    const uint32_t offset = 14 + 40 + paletteSize;
    const auto ppm = [](double dpi) { return static_cast<uint32_t>(std::lround(dpi / 0.0254)); };
    std::vector<uint8_t> out;
    out.reserve(offset + stride * static_cast<size_t>(r.height));
    out.push_back('B');
    out.push_back('M');
    put32(out, static_cast<uint32_t>(offset + stride * static_cast<size_t>(r.height))); // file size
    put32(out, 0);                                                                      // reserved
    put32(out, offset);                                                                 // pixel data offset
    put32(out, 40);                                                                     // info header size
    put32(out, static_cast<uint32_t>(r.width));
    put32(out, static_cast<uint32_t>(r.height)); // positive: bottom row first
    put16(out, 1);                               // planes
    put16(out, static_cast<uint16_t>(bits));
    put32(out, 0); // no compression
    put32(out, static_cast<uint32_t>(stride * static_cast<size_t>(r.height)));
    put32(out, ppm(r.resolutionX));
    put32(out, ppm(r.resolutionY));
    put32(out, bits == 24 ? 0 : 1u << bits); // colours used
    put32(out, 0);                           // important colours
    if (bits == 8)
        for (uint32_t i = 0; i < 256; ++i)
            put32(out, i << 16 | i << 8 | i);
    else if (bits == 1) {
        put32(out, 0);
        put32(out, 0xFFFFFF);
    }
    for (int y = r.height - 1; y >= 0; --y) {
        const uint8_t* s = r.row(y);
        const size_t start = out.size();
        out.resize(start + stride, 0);
        uint8_t* d = &out[start];
        for (int x = 0; x < r.width; ++x) {
            if (bits == 24) {
                d[3 * x] = s[3 * x + 2];
                d[3 * x + 1] = s[3 * x + 1];
                d[3 * x + 2] = s[3 * x];
            } else if (bits == 8) {
                d[x] = s[x];
            } else if (s[x] >= 128) {
                d[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
            }
        }
    }
    return out;
}

// ---- JPEG files --------------------------------------------------------------------------------------------------

struct JpegError {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void jpegErrorExit(j_common_ptr cinfo) {
    auto* e = reinterpret_cast<JpegError*>(cinfo->err);
    cinfo->err->format_message(cinfo, e->message);
    std::longjmp(e->jump, 1);
}

void jpegSilence(j_common_ptr, int) {}

// Decodes a JPEG file; pixels are written into `out` (sized before decoding starts).
bool jpegDecode(const std::vector<uint8_t>& data, bool pixels, Raster& out, PageInfo& info, std::string* error) {
    jpeg_decompress_struct cinfo{};
    JpegError jerr{};
    cinfo.err = jpeg_std_error(&jerr.mgr);
    jerr.mgr.error_exit = jpegErrorExit;
    jerr.mgr.emit_message = jpegSilence;
    if (setjmp(jerr.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return setError(error, std::string("JPEG dañado: ") + jerr.message);
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, data.data(), static_cast<unsigned long>(data.size()));
    jpeg_read_header(&cinfo, TRUE);
    const int64_t w = cinfo.image_width;
    const int64_t h = cinfo.image_height;
    if (w <= 0 || h <= 0 || w * h > kMaxPixels) {
        jpeg_destroy_decompress(&cinfo);
        return setError(error, "Tamaño de imagen JPEG no admitido");
    }
    info.width = static_cast<int>(w);
    info.height = static_cast<int>(h);
    info.fileType = kFileJpeg;
    info.compressionType = kCompressionJpeg;
    info.pageType = cinfo.num_components == 1 ? kPageGrey8 : kPageRgb24;
    if (cinfo.saw_JFIF_marker && cinfo.density_unit == 1) {
        info.resolutionX = cinfo.X_density;
        info.resolutionY = cinfo.Y_density;
    } else if (cinfo.saw_JFIF_marker && cinfo.density_unit == 2) {
        info.resolutionX = std::round(cinfo.X_density * 2.54);
        info.resolutionY = std::round(cinfo.Y_density * 2.54);
    }
    if (pixels) {
        cinfo.out_color_space = cinfo.num_components == 1 ? JCS_GRAYSCALE : JCS_RGB;
        jpeg_start_decompress(&cinfo);
        out.width = info.width;
        out.height = info.height;
        out.channels = cinfo.out_color_components == 1 ? 1 : 3;
        out.resolutionX = info.resolutionX;
        out.resolutionY = info.resolutionY;
        out.pixels.assign(out.rowBytes() * static_cast<size_t>(out.height), 0);
        while (cinfo.output_scanline < cinfo.output_height) {
            JSAMPROW row = out.row(static_cast<int>(cinfo.output_scanline));
            jpeg_read_scanlines(&cinfo, &row, 1);
        }
        jpeg_finish_decompress(&cinfo);
    }
    jpeg_destroy_decompress(&cinfo);
    return true;
}

bool jpegFileInfo(const std::string& path, PageInfo& info, Raster* pixels, std::string* error) {
    std::vector<uint8_t> data;
    if (!readFile(path, data, error)) return false;
    info = PageInfo{};
    Raster scratch;
    if (!jpegDecode(data, pixels != nullptr, pixels ? *pixels : scratch, info, error)) return false;
    info.jpegQuality = estimateJpegQuality(data.data(), data.size());
    info.compressionInfo = jpegCompressionInfo(info.jpegQuality);
    return true;
}

bool jpegEncode(const Raster& src, const SaveFormat& f, std::vector<uint8_t>& out, std::string* error) {
    const Raster r = f.pageType == kPageRgb24 && src.channels == 3 ? src : toGrey8(src);
    jpeg_compress_struct cinfo{};
    JpegError jerr{};
    cinfo.err = jpeg_std_error(&jerr.mgr);
    jerr.mgr.error_exit = jpegErrorExit;
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    if (setjmp(jerr.jump)) {
        jpeg_destroy_compress(&cinfo);
        std::free(buffer);
        return setError(error, std::string("No se pudo comprimir en JPEG: ") + jerr.message);
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = static_cast<JDIMENSION>(r.width);
    cinfo.image_height = static_cast<JDIMENSION>(r.height);
    cinfo.input_components = r.channels;
    cinfo.in_color_space = r.channels == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, qualityFor(f.compressionInfo), TRUE);
    if (r.resolutionX > 0) {
        cinfo.density_unit = 1;
        cinfo.X_density = static_cast<UINT16>(std::lround(r.resolutionX));
        cinfo.Y_density = static_cast<UINT16>(std::lround(r.resolutionY));
    }
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<uint8_t*>(r.row(static_cast<int>(cinfo.next_scanline)));
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    out.assign(buffer, buffer + size);
    jpeg_destroy_compress(&cinfo);
    std::free(buffer);
    return true;
}

// ---- Safe replacement ----------------------------------------------------------------------------------------------

std::string tempBeside(const std::string& path) {
    return path + ".tmp" + std::to_string(::getpid());
}

bool commitTemp(const std::string& temp, const std::string& path, std::string* error) {
    if (std::rename(temp.c_str(), path.c_str()) != 0) {
        std::remove(temp.c_str());
        return setError(error, "No se pudo reemplazar el archivo " + path + ": " + std::strerror(errno));
    }
    return true;
}

bool writeBytes(const std::string& path, const std::vector<uint8_t>& bytes, std::string* error) {
    const std::string temp = tempBeside(path);
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (!out ||
            !out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size())) ||
            !out.flush()) {
            std::remove(temp.c_str());
            return setError(error, "No se pudo escribir el archivo " + path);
        }
    }
    return commitTemp(temp, path, error);
}

} // namespace

// ---- Public entry points --------------------------------------------------------------------------------------------

int pageCount(const std::string& path, std::string* error) {
    switch (sniff(path)) {
    case Kind::Tiff: {
        auto t = openTiff(path, "r", error);
        return t ? TIFFNumberOfDirectories(t.get()) : 0;
    }
    case Kind::Bmp:
    case Kind::Jpeg:
        return 1;
    default:
        setError(error, "Formato de imagen desconocido: " + path);
        return 0;
    }
}

bool readPageInfo(const std::string& path, int page, PageInfo& out, std::string* error) {
    switch (sniff(path)) {
    case Kind::Tiff: {
        auto t = openTiff(path, "r", error);
        return t && tiffSetPage(t.get(), page, error) && tiffPageInfo(t.get(), out, error);
    }
    case Kind::Bmp:
        return page == 1 ? bmpInfo(path, out, error) : setError(error, "La página no existe");
    case Kind::Jpeg:
        return page == 1 ? jpegFileInfo(path, out, nullptr, error) : setError(error, "La página no existe");
    default:
        return setError(error, "Formato de imagen desconocido: " + path);
    }
}

bool loadPage(const std::string& path, int page, Raster& out, std::string* error) {
    switch (sniff(path)) {
    case Kind::Tiff: {
        auto t = openTiff(path, "r", error);
        return t && tiffSetPage(t.get(), page, error) && tiffLoadPage(t.get(), out, error);
    }
    case Kind::Bmp:
        return page == 1 ? bmpLoad(path, out, error) : setError(error, "La página no existe");
    case Kind::Jpeg: {
        PageInfo info;
        return page == 1 ? jpegFileInfo(path, info, &out, error) : setError(error, "La página no existe");
    }
    default:
        return setError(error, "Formato de imagen desconocido: " + path);
    }
}

bool loadPages(const std::string& path, std::vector<Page>& out, std::string* error) {
    out.clear();
    if (sniff(path) != Kind::Tiff) {
        Page p;
        PageInfo info;
        if (!readPageInfo(path, 1, info, error) || !loadPage(path, 1, p.raster, error)) return false;
        p.format = formatOf(info);
        out.push_back(std::move(p));
        return true;
    }
    auto t = openTiff(path, "r", error);
    if (!t) return false;
    const int n = TIFFNumberOfDirectories(t.get());
    for (int i = 1; i <= n; ++i) {
        Page p;
        PageInfo info;
        if (!tiffSetPage(t.get(), i, error) || !tiffPageInfo(t.get(), info, error) ||
            !tiffLoadPage(t.get(), p.raster, error))
            return false;
        p.format = formatOf(info);
        if (p.format.pageType == 0 || p.format.pageType == kPagePalette8)
            p.format.pageType = p.raster.channels == 3 ? kPageRgb24 : kPageGrey8;
        if (p.format.compressionType == 0) p.format.compressionType = kCompressionLzw;
        out.push_back(std::move(p));
    }
    return true;
}

bool savePages(const std::string& path, const std::vector<Page>& pages, std::string* error) {
    if (pages.empty()) return setError(error, "No hay páginas para guardar");
    for (const Page& p : pages)
        if (p.raster.empty()) return setError(error, "Input image is empty");
    const SaveFormat& first = pages.front().format;
    if (first.fileType == kFileBmp || first.fileType == kFileJpeg) {
        if (pages.size() != 1) return setError(error, "Un archivo BMP o JPEG guarda una sola página");
        std::vector<uint8_t> bytes;
        if (first.fileType == kFileBmp) {
            if (first.compressionType != kCompressionNone)
                return setError(error, "Un archivo BMP se guarda sin compresión");
            bytes = bmpEncode(pages.front().raster, first);
        } else if (!jpegEncode(pages.front().raster, first, bytes, error)) {
            return false;
        }
        return writeBytes(path, bytes, error);
    }
    if (first.fileType != kFileTiff)
        return setError(error, "Tipo de archivo no admitido: " + std::to_string(first.fileType));
    const std::string temp = tempBeside(path);
    {
        auto t = openTiff(temp, "w", error);
        if (!t) return false;
        for (size_t i = 0; i < pages.size(); ++i) {
            if (!tiffWritePage(t.get(), pages[i].raster, pages[i].format, static_cast<int>(i),
                               static_cast<int>(pages.size()), error)) {
                t.reset();
                std::remove(temp.c_str());
                return false;
            }
        }
    }
    return commitTemp(temp, path, error);
}

bool saveAs(const std::string& path, const Raster& raster, const SaveFormat& format, std::string* error) {
    return savePages(path, {Page{raster, format}}, error);
}

bool saveGreyBmp(const std::string& path, const Raster& raster, std::string* error) {
    return saveAs(path, raster, SaveFormat{kFileBmp, kPageGrey8, kCompressionNone, kInfoNone}, error);
}

bool appendPages(const std::string& target, const std::string& source, int sourcePage, int count, std::string* error) {
    return insertPages(target, source, sourcePage, count, 0, error);
}

bool insertPages(const std::string& target, const std::string& source, int sourcePage, int count, int beforePage,
                 std::string* error) {
    std::vector<Page> pages;
    std::vector<Page> added;
    if (!loadPages(target, pages, error) || !loadPages(source, added, error)) return false;
    if (sourcePage < 1 || count < 1 || sourcePage - 1 + count > static_cast<int>(added.size()))
        return setError(error, "Las páginas pedidas no existen en " + source);
    if (beforePage != 0 && (beforePage < 1 || beforePage > static_cast<int>(pages.size()) + 1))
        return setError(error, "Posición de inserción fuera del documento");
    const auto where = beforePage == 0 ? pages.end() : pages.begin() + (beforePage - 1);
    for (Page& p : added)
        p.format.fileType = kFileTiff;
    pages.insert(where, added.begin() + (sourcePage - 1), added.begin() + (sourcePage - 1 + count));
    for (Page& p : pages)
        p.format.fileType = kFileTiff;
    return savePages(target, pages, error);
}

bool deletePage(const std::string& target, int page, std::string* error) {
    std::vector<Page> pages;
    if (!loadPages(target, pages, error)) return false;
    if (page < 1 || page > static_cast<int>(pages.size()))
        return setError(error, "La página " + std::to_string(page) + " no existe");
    if (pages.size() == 1) return setError(error, "No se puede borrar la única página del documento");
    pages.erase(pages.begin() + (page - 1));
    return savePages(target, pages, error);
}

bool rotatePageInFile(const std::string& target, int page, bool left, std::string* error) {
    std::vector<Page> pages;
    if (!loadPages(target, pages, error)) return false;
    if (page < 1 || page > static_cast<int>(pages.size()))
        return setError(error, "La página " + std::to_string(page) + " no existe");
    Raster& r = pages[static_cast<size_t>(page - 1)].raster;
    r = rotate90(r, left);
    return savePages(target, pages, error);
}

Raster rotate90(const Raster& r, bool left) {
    Raster out;
    out.width = r.height;
    out.height = r.width;
    out.channels = r.channels;
    out.bilevel = r.bilevel;
    out.resolutionX = r.resolutionY;
    out.resolutionY = r.resolutionX;
    out.pixels.resize(r.pixels.size());
    const int c = r.channels;
    for (int y = 0; y < r.height; ++y) {
        const uint8_t* s = r.row(y);
        for (int x = 0; x < r.width; ++x) {
            // Left: (x, y) goes to (y, W-1-x); right: to (H-1-y, x).
            const int nx = left ? y : r.height - 1 - y;
            const int ny = left ? r.width - 1 - x : x;
            std::memcpy(out.row(ny) + static_cast<size_t>(nx) * static_cast<size_t>(c),
                        s + static_cast<size_t>(x) * static_cast<size_t>(c), static_cast<size_t>(c));
        }
    }
    return out;
}

Raster toGrey8(const Raster& r) {
    if (r.channels == 1) return r;
    Raster out = r;
    out.channels = 1;
    out.bilevel = false;
    out.pixels.resize(static_cast<size_t>(r.width) * static_cast<size_t>(r.height));
    const uint8_t* s = r.pixels.data();
    for (size_t i = 0; i < out.pixels.size(); ++i, s += r.channels)
        out.pixels[i] = static_cast<uint8_t>((299 * s[0] + 587 * s[1] + 114 * s[2] + 500) / 1000);
    return out;
}

Raster crop(const Raster& r, int x, int y, int width, int height) {
    const int x0 = std::clamp(x, 0, r.width);
    const int y0 = std::clamp(y, 0, r.height);
    const int x1 = std::clamp(x + width, x0, r.width);
    const int y1 = std::clamp(y + height, y0, r.height);
    Raster out;
    out.channels = r.channels;
    out.bilevel = r.bilevel;
    out.resolutionX = r.resolutionX;
    out.resolutionY = r.resolutionY;
    if (x1 <= x0 || y1 <= y0) return out;
    out.width = x1 - x0;
    out.height = y1 - y0;
    out.pixels.resize(out.rowBytes() * static_cast<size_t>(out.height));
    for (int yy = 0; yy < out.height; ++yy)
        std::memcpy(out.row(yy), r.row(y0 + yy) + static_cast<size_t>(x0) * static_cast<size_t>(r.channels),
                    out.rowBytes());
    return out;
}

Raster flip(const Raster& r, bool vertical, bool horizontal) {
    Raster out = r;
    const int c = r.channels;
    for (int y = 0; y < r.height; ++y) {
        const uint8_t* s = r.row(vertical ? r.height - 1 - y : y);
        uint8_t* d = out.row(y);
        for (int x = 0; x < r.width; ++x)
            std::memcpy(d + static_cast<size_t>(x) * static_cast<size_t>(c),
                        s + static_cast<size_t>(horizontal ? r.width - 1 - x : x) * static_cast<size_t>(c),
                        static_cast<size_t>(c));
    }
    return out;
}

namespace {
struct PixDeleter {
    void operator()(PIX* p) const {
        if (p) pixDestroy(&p);
    }
};
using PixPtr = std::unique_ptr<PIX, PixDeleter>;

PixPtr toPix(const Raster& g) {
    PixPtr pix(pixCreate(g.width, g.height, 8));
    if (!pix) return pix;
    l_uint32* data = pixGetData(pix.get());
    const l_int32 wpl = pixGetWpl(pix.get());
    for (int y = 0; y < g.height; ++y) {
        l_uint32* line = data + static_cast<ptrdiff_t>(y) * wpl;
        const uint8_t* s = g.row(y);
        for (int x = 0; x < g.width; ++x)
            SET_DATA_BYTE(line, x, s[x]);
    }
    return pix;
}
} // namespace

bool measureSkew(const Raster& r, double& degrees) {
    ensureSetup();
    if (r.empty()) return false;
    const Raster g = toGrey8(r);
    PixPtr pix = toPix(g);
    if (!pix) return false;
    PixPtr binary(pixConvertTo1(pix.get(), 130));
    if (!binary) return false;
    l_float32 angle = 0;
    l_float32 confidence = 0;
    if (pixFindSkew(binary.get(), &angle, &confidence) != 0 || confidence <= 0) return false;
    degrees = angle;
    return true;
}

Raster rotateBy(const Raster& r, double degrees) {
    ensureSetup();
    if (r.empty() || std::abs(degrees) < 1e-6) return r;
    const Raster g = toGrey8(r);
    PixPtr pix = toPix(g);
    if (!pix) return r;
    const float radians = static_cast<float>(degrees * 3.14159265358979323846 / 180.0);
    PixPtr rotated(pixRotate(pix.get(), radians, L_ROTATE_AREA_MAP, L_BRING_IN_WHITE, g.width, g.height));
    if (!rotated) return r;
    Raster out = g;
    const l_uint32* data = pixGetData(rotated.get());
    const l_int32 wpl = pixGetWpl(rotated.get());
    const int w = std::min<int>(g.width, pixGetWidth(rotated.get()));
    const int h = std::min<int>(g.height, pixGetHeight(rotated.get()));
    for (int y = 0; y < h; ++y) {
        const l_uint32* line = data + static_cast<ptrdiff_t>(y) * wpl;
        uint8_t* d = out.row(y);
        for (int x = 0; x < w; ++x)
            d[x] = static_cast<uint8_t>(GET_DATA_BYTE(line, x));
    }
    if (r.bilevel)
        for (uint8_t& v : out.pixels)
            v = v < 128 ? 0 : 255;
    out.bilevel = r.bilevel;
    return out;
}

} // namespace qev::capture
