#include "capture/wsq/GreyBmp.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <iterator>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qev::wsq {

namespace {

uint32_t le32(std::span<const uint8_t> b, size_t at) {
    return static_cast<uint32_t>(b[at]) | static_cast<uint32_t>(b[at + 1]) << 8 |
           static_cast<uint32_t>(b[at + 2]) << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

uint16_t le16(std::span<const uint8_t> b, size_t at) {
    return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
}

void put32(std::vector<uint8_t>& v, uint32_t x) {
    for (int i = 0; i < 4; ++i)
        v.push_back(static_cast<uint8_t>(x >> (8 * i) & 0xFF));
}

void put16(std::vector<uint8_t>& v, unsigned x) {
    v.push_back(static_cast<uint8_t>(x & 0xFF));
    v.push_back(static_cast<uint8_t>(x >> 8 & 0xFF));
}

uint8_t luminance(unsigned r, unsigned g, unsigned b) {
    return static_cast<uint8_t>((299 * r + 587 * g + 114 * b + 500) / 1000);
}

constexpr size_t kFileHeader = 14;
constexpr size_t kInfoHeader = 40;
constexpr int64_t kMaxBmpPixels = int64_t{1} << 28;

} // namespace

Result<GreyBitmap> readGreyBmp(std::span<const uint8_t> b) {
    if (b.size() < kFileHeader + kInfoHeader || b[0] != 'B' || b[1] != 'M') return fail("no es un archivo BMP");
    const uint32_t dataOffset = le32(b, 10);
    const uint32_t headerSize = le32(b, 14);
    if (headerSize < kInfoHeader || headerSize > b.size() - kFileHeader) return fail("cabecera BMP no admitida");
    const int32_t width = static_cast<int32_t>(le32(b, 18));
    const int32_t rawHeight = static_cast<int32_t>(le32(b, 22));
    const uint16_t planes = le16(b, 26);
    const uint16_t bits = le16(b, 28);
    const uint32_t compression = le32(b, 30);
    const int32_t ppm = static_cast<int32_t>(le32(b, 38));
    const uint32_t coloursUsed = le32(b, 46);
    if (planes != 1) return fail("archivo BMP inválido");
    if (compression != 0) return fail("BMP comprimido no admitido");
    if (bits != 8 && bits != 24) return fail("el BMP debe ser de 8 bits (gris) o 24 bits");
    if (width <= 0 || rawHeight == 0 || rawHeight == INT32_MIN) return fail("dimensiones de BMP inválidas");
    const bool topDown = rawHeight < 0;
    const int32_t height = topDown ? -rawHeight : rawHeight;
    if (int64_t{width} * height > kMaxBmpPixels) return fail("BMP demasiado grande");

    std::array<uint8_t, 256> grey{};
    if (bits == 8) {
        const size_t entries = coloursUsed == 0 ? 256 : coloursUsed;
        if (entries > 256) return fail("paleta de BMP inválida");
        const size_t paletteAt = kFileHeader + headerSize;
        if (paletteAt + 4 * entries > b.size() || paletteAt + 4 * entries > dataOffset)
            return fail("paleta de BMP truncada");
        for (size_t i = 0; i < entries; ++i) // palette entries are blue, green, red, reserved
            grey[i] = luminance(b[paletteAt + 4 * i + 2], b[paletteAt + 4 * i + 1], b[paletteAt + 4 * i]);
    }
    const size_t bytesPerPixel = bits / 8;
    const size_t rowBytes = (static_cast<size_t>(width) * bytesPerPixel + 3) & ~size_t{3};
    const size_t need = rowBytes * static_cast<size_t>(height);
    if (dataOffset > b.size() || b.size() - dataOffset < need) return fail("datos de BMP truncados");

    GreyBitmap out;
    out.image.width = width;
    out.image.height = height;
    out.image.pixels.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
    for (int32_t y = 0; y < height; ++y) {
        const size_t srcRow = topDown ? static_cast<size_t>(y) : static_cast<size_t>(height - 1 - y);
        const uint8_t* src = b.data() + dataOffset + srcRow * rowBytes;
        uint8_t* dst = out.image.pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(width);
        if (bits == 8) {
            for (int32_t x = 0; x < width; ++x)
                dst[x] = grey[src[x]];
        } else {
            for (int32_t x = 0; x < width; ++x)
                dst[x] = luminance(src[3 * x + 2], src[3 * x + 1], src[3 * x]);
        }
    }
    if (ppm > 0) out.ppi = static_cast<int>(std::lround(ppm * 0.0254));
    return out;
}

std::vector<uint8_t> writeGreyBmp(const GreyImage& image, int ppi) {
    const size_t rowBytes = (static_cast<size_t>(image.width) + 3) & ~size_t{3};
    const size_t dataOffset = kFileHeader + kInfoHeader + 256 * 4;
    const size_t total = dataOffset + rowBytes * static_cast<size_t>(image.height);
    const uint32_t ppm = ppi > 0 ? static_cast<uint32_t>(std::lround(ppi / 0.0254)) : 0;
    std::vector<uint8_t> v;
    v.reserve(total);
    // File header: magic, file size, two reserved words, offset of the pixel rows.
    v.push_back('B');
    v.push_back('M');
    put32(v, static_cast<uint32_t>(total));
    put16(v, 0);
    put16(v, 0);
    put32(v, static_cast<uint32_t>(dataOffset));
    // Info header: size, width, height (positive: bottom-up), planes, bits per pixel, no compression, image size,
    // horizontal and vertical pixels per metre, colours used, colours important.
    put32(v, kInfoHeader);
    put32(v, static_cast<uint32_t>(image.width));
    put32(v, static_cast<uint32_t>(image.height));
    put16(v, 1);
    put16(v, 8);
    put32(v, 0);
    put32(v, static_cast<uint32_t>(rowBytes * static_cast<size_t>(image.height)));
    put32(v, ppm);
    put32(v, ppm);
    put32(v, 256);
    put32(v, 0);
    // Palette: entry i is grey level i (blue, green, red, reserved).
    for (unsigned i = 0; i < 256; ++i) {
        v.push_back(static_cast<uint8_t>(i));
        v.push_back(static_cast<uint8_t>(i));
        v.push_back(static_cast<uint8_t>(i));
        v.push_back(0);
    }
    for (int y = image.height - 1; y >= 0; --y) {
        const uint8_t* row = image.pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(image.width);
        v.insert(v.end(), row, row + image.width);
        v.insert(v.end(), rowBytes - static_cast<size_t>(image.width), 0);
    }
    return v;
}

Result<std::vector<uint8_t>> readFileBytes(const std::string& path) {
    // One read of the whole file into a buffer of its size: a stream iterator would take a few thousand calls and
    // as many buffer growths for a card scan.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return fail("no se puede abrir el archivo " + path);
    struct stat st {};
    std::vector<uint8_t> bytes;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) bytes.resize(static_cast<size_t>(st.st_size));
    // The expected size first, then small reads until the end, for a file that grew or has no size (a pipe).
    size_t used = 0;
    std::array<uint8_t, 16384> chunk{};
    for (;;) {
        const bool intoBuffer = used < bytes.size();
        const ssize_t n =
            intoBuffer ? ::read(fd, bytes.data() + used, bytes.size() - used) : ::read(fd, chunk.data(), chunk.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            return fail("no se puede leer el archivo " + path);
        }
        if (n == 0) break;
        if (!intoBuffer) bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + n);
        used += static_cast<size_t>(n);
    }
    ::close(fd);
    bytes.resize(used);
    return bytes;
}

Result<std::string> writeTempFileBeside(const std::string& path, std::span<const uint8_t> bytes) {
    // The process number and a counter make the name; a name taken already (another workstation of a shared
    // folder may have the same process number) is never opened, the next one is tried.
    static std::atomic<unsigned> counter{0};
    const size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = folder + "." + base + "." + std::to_string(::getpid()) + "." + std::to_string(counter++) + ".tmp";
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) return fail("no se puede crear el archivo " + path);
    size_t done = 0;
    bool ok = true;
    while (ok && done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) done += static_cast<size_t>(n);
    }
    ok = ok && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (!ok) {
        std::remove(temp.c_str());
        return fail("no se puede escribir el archivo " + path);
    }
    return temp;
}

Result<bool> writeFileAtomically(const std::string& path, std::span<const uint8_t> bytes) {
    auto temp = writeTempFileBeside(path, bytes);
    if (!temp) return fail(temp.error());
    if (std::rename(temp->c_str(), path.c_str()) != 0) {
        std::remove(temp->c_str());
        return fail("no se puede escribir el archivo " + path);
    }
    return true;
}

} // namespace qev::wsq
