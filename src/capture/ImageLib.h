#pragma once
// Image files as the capture windows and the image rules see them: TIFF (single and multi-page), BMP and JPEG
// pages with the property codes of the imaging controls, saving in a chosen encoding, page edits, rotation, skew
// correction on white, grey conversion and cropping. No widgets; every failure is a clear error text.
//
// Property codes:
//   FileType         1 TIFF, 3 BMP, 6 JPEG, 0 other
//   PageType         1 black and white, 3 8-bit grey, 5 8-bit palette, 6 RGB 24-bit, 0 other
//   CompressionType  1 none, 2 CCITT Group 3, 4 PackBits, 5 Group 4 2D, 6 JPEG, 8 LZW, 9 Deflate, 0 other
//   CompressionInfo  0 none, 26 Group 4 page, and for JPEG the compression/quality class of the estimated
//                    quality: 512 high compression (quality below 50), 1024 medium compression and medium quality
//                    (50 to 84), 2048 low compression (85 and above).
// The JPEG quality of a page is estimated from its luminance quantisation table against the standard table that
// encoders scale (quality 50 = the table as given); pages written as "medium" use quality 75, which reads back as
// 1024.
#include <cstdint>
#include <string>
#include <vector>

namespace qev::capture {

inline constexpr int kFileTiff = 1;
inline constexpr int kFileBmp = 3;
inline constexpr int kFileJpeg = 6;
inline constexpr int kPageBlackWhite = 1;
inline constexpr int kPageGrey8 = 3;
inline constexpr int kPagePalette8 = 5;
inline constexpr int kPageRgb24 = 6;
inline constexpr int kCompressionNone = 1;
inline constexpr int kCompressionGroup3 = 2;
inline constexpr int kCompressionPackBits = 4;
inline constexpr int kCompressionGroup4 = 5;
inline constexpr int kCompressionJpeg = 6;
inline constexpr int kCompressionLzw = 8;
inline constexpr int kCompressionDeflate = 9;
inline constexpr int kInfoNone = 0;
inline constexpr int kInfoGroup4 = 26;
inline constexpr int kInfoJpegHighCompression = 512;
inline constexpr int kInfoJpegMedium = 1024;
inline constexpr int kInfoJpegLowCompression = 2048;
inline constexpr int kMediumJpegQuality = 75;

// Largest page the library decodes (a generous A3 at 600 DPI); larger claims in a header are refused.
inline constexpr int64_t kMaxPixels = int64_t(80) * 1000 * 1000;

struct PageInfo {
    int width = 0;
    int height = 0;
    double resolutionX = 0; // dots per inch; 0 when the file states none
    double resolutionY = 0;
    int fileType = 0;
    int pageType = 0;
    int compressionType = 0;
    int compressionInfo = 0;
    int jpegQuality = 0; // estimated, 0 when not JPEG
};

// Pixels of one page: rows top first, `channels` bytes per pixel (1 grey, 3 RGB); black-and-white pages are grey
// 0/255 with `bilevel` set.
struct Raster {
    int width = 0;
    int height = 0;
    int channels = 1;
    bool bilevel = false;
    double resolutionX = 0;
    double resolutionY = 0;
    std::vector<uint8_t> pixels;

    bool empty() const { return width <= 0 || height <= 0; }
    uint8_t* row(int y) { return pixels.data() + static_cast<size_t>(y) * rowBytes(); }
    const uint8_t* row(int y) const { return pixels.data() + static_cast<size_t>(y) * rowBytes(); }
    size_t rowBytes() const { return static_cast<size_t>(width) * static_cast<size_t>(channels); }
    static Raster grey(int width, int height, uint8_t fill = 255);
};

struct SaveFormat {
    int fileType = kFileTiff;
    int pageType = kPageGrey8;
    int compressionType = kCompressionJpeg;
    int compressionInfo = kInfoJpegMedium;
};

struct Page {
    Raster raster;
    SaveFormat format;
};

// Number of pages (1 for BMP and JPEG); 0 with the error for an unreadable file.
int pageCount(const std::string& path, std::string* error);
// Properties of a page (pages count from 1).
bool readPageInfo(const std::string& path, int page, PageInfo& out, std::string* error);
bool loadPage(const std::string& path, int page, Raster& out, std::string* error);
// Every page with the encoding it has in the file, for edits that rewrite the file.
bool loadPages(const std::string& path, std::vector<Page>& out, std::string* error);

// Writes the pages (BMP and JPEG hold one) in the given encodings; the file appears complete or not at all.
bool savePages(const std::string& path, const std::vector<Page>& pages, std::string* error);
bool saveAs(const std::string& path, const Raster& raster, const SaveFormat& format, std::string* error);
// An 8-bit BMP with a 256-entry grey palette.
bool saveGreyBmp(const std::string& path, const Raster& raster, std::string* error);

// Page edits on a file, which is rewritten safely.
bool appendPages(const std::string& target, const std::string& source, int sourcePage, int count, std::string* error);
bool insertPages(const std::string& target, const std::string& source, int sourcePage, int count, int beforePage,
                 std::string* error);
bool deletePage(const std::string& target, int page, std::string* error);
bool rotatePageInFile(const std::string& target, int page, bool left, std::string* error);

// Raster operations.
Raster rotate90(const Raster& r, bool left);
Raster toGrey8(const Raster& r);
// The region clipped to the image; empty when nothing is left.
Raster crop(const Raster& r, int x, int y, int width, int height);
// Skew of the text or ridge lines, as the angle in degrees that rotateBy turns the page by to straighten them;
// false when none can be measured.
bool measureSkew(const Raster& r, double& degrees);
// Rotates by an angle about the centre, bringing in white at the corners; the size is kept.
Raster rotateBy(const Raster& r, double degrees);
Raster flip(const Raster& r, bool vertical, bool horizontal);

// The compression class of an estimated JPEG quality.
int jpegCompressionInfo(int quality);
// Estimated quality (1..100) of a JPEG stream or a TIFF's JPEG tables; 0 when no luminance table is found.
int estimateJpegQuality(const uint8_t* data, size_t size);

} // namespace qev::capture
