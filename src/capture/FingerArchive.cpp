#include "capture/FingerArchive.h"

#include "capture/wsq/GreyBmp.h"

#include <zip.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>

namespace qev::capture {

namespace {

namespace fs = std::filesystem;

constexpr int kFingers = 10;
const std::string kSourceMissing = "ERROR: No existe archivo origen ";
const std::string kCannotWriteZip = "ERROR: No se puede generar el archivo zip ";
const std::string kPackFailed = "ERROR: No se pudieron comprimir los archivos";
const std::string kFolderMissing = "ERROR: No existe directorio destino ";
const std::string kUnpackFailed = "ERROR: No se pudo descomprimir archivo";

struct ZipCloser {
    void operator()(zip_t* z) const { zip_discard(z); }
};
struct ZipFileCloser {
    void operator()(zip_file_t* f) const { zip_fclose(f); }
};
struct ZipSourceFree {
    void operator()(zip_source_t* s) const { zip_source_free(s); }
};
using ZipPtr = std::unique_ptr<zip_t, ZipCloser>;
using ZipFilePtr = std::unique_ptr<zip_file_t, ZipFileCloser>;
using ZipSourcePtr = std::unique_ptr<zip_source_t, ZipSourceFree>;

std::string lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// 1..10 for a member named "dedo" + N + ".wsq" in any case, else 0.
int fingerOfMember(const std::string& name) {
    const std::string n = lower(name);
    for (int f = 1; f <= kFingers; ++f)
        if (n == "dedo" + std::to_string(f) + ".wsq") return f;
    return 0;
}

// A name that could reach outside the target folder or into a subfolder of it.
bool namesPath(const std::string& name) {
    return name.find_first_of("/\\:") != std::string::npos || name == "." || name == "..";
}

std::string quoted(const std::string& name) {
    return "\"" + name + "\"";
}

// The archive of `contents` (member name, bytes) built in memory, or nothing when libzip refuses.
std::optional<std::vector<std::uint8_t>>
buildZip(const std::vector<std::pair<std::string, std::vector<std::uint8_t>>>& contents) {
    zip_error_t ze;
    zip_error_init(&ze);
    ZipSourcePtr buffer(zip_source_buffer_create(nullptr, 0, 0, &ze));
    zip_error_fini(&ze);
    if (!buffer) return std::nullopt;
    zip_error_init(&ze);
    ZipPtr za(zip_open_from_source(buffer.get(), ZIP_CREATE | ZIP_TRUNCATE, &ze));
    zip_error_fini(&ze);
    if (!za) return std::nullopt;
    zip_source_keep(buffer.get()); // the archive now holds a reference too; ours is read after closing
    for (const auto& [name, bytes] : contents) {
        zip_source_t* s = zip_source_buffer(za.get(), bytes.data(), bytes.size(), 0);
        if (!s) return std::nullopt;
        if (zip_file_add(za.get(), name.c_str(), s, ZIP_FL_ENC_UTF_8) < 0) {
            zip_source_free(s);
            return std::nullopt;
        }
    }
    if (zip_close(za.get()) < 0) return std::nullopt;
    za.release(); // closed
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_source_open(buffer.get()) < 0) return std::nullopt;
    std::vector<std::uint8_t> out;
    bool ok = zip_source_stat(buffer.get(), &st) == 0 && (st.valid & ZIP_STAT_SIZE);
    if (ok) {
        out.resize(static_cast<size_t>(st.size));
        ok = zip_source_read(buffer.get(), out.data(), st.size) == static_cast<zip_int64_t>(st.size);
    }
    zip_source_close(buffer.get());
    if (!ok) return std::nullopt;
    return out;
}

void removeAll(const std::vector<std::string>& files) {
    for (const std::string& f : files)
        std::remove(f.c_str());
}

} // namespace

Result<void> FingerArchive::pack(const std::vector<std::string>& files, const std::string& archive) {
    std::vector<std::pair<std::string, std::vector<std::uint8_t>>> contents;
    std::error_code ec;
    for (const std::string& file : files) {
        if (!fs::is_regular_file(file, ec)) return fail(kSourceMissing + file);
        const std::string name = fs::path(file).filename().string();
        for (const auto& [other, unused] : contents)
            if (lower(other) == lower(name)) return fail(kPackFailed);
        auto bytes = wsq::readFileBytes(file);
        if (!bytes) return fail(kPackFailed);
        contents.emplace_back(name, std::move(*bytes));
    }
    if (contents.empty()) return fail(kPackFailed);
    const std::optional<std::vector<std::uint8_t>> zipped = buildZip(contents);
    if (!zipped) return fail(kPackFailed);
    auto temp = wsq::writeTempFileBeside(archive, *zipped);
    if (!temp) return fail(kCannotWriteZip + archive);
    if (std::rename(temp->c_str(), archive.c_str()) != 0) {
        std::remove(temp->c_str());
        return fail(kCannotWriteZip + archive);
    }
    return {};
}

Result<std::vector<std::string>> FingerArchive::unpack(const std::string& archive, const std::string& folder) {
    std::error_code ec;
    if (!fs::exists(archive, ec)) return fail(kSourceMissing + archive);
    if (!fs::is_directory(folder, ec)) return fail(kFolderMissing + folder);
    int zerr = 0;
    ZipPtr za(zip_open(archive.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &zerr));
    if (!za) return fail(kUnpackFailed);

    // Every name is checked before anything is read, so a hostile member refuses the whole archive.
    std::array<zip_int64_t, kFingers + 1> member{};
    member.fill(-1);
    const zip_int64_t entries = zip_get_num_entries(za.get(), 0);
    if (entries < 0) return fail(kUnpackFailed);
    for (zip_int64_t i = 0; i < entries; ++i) {
        const char* raw = zip_get_name(za.get(), static_cast<zip_uint64_t>(i), 0);
        if (!raw) return fail(kUnpackFailed);
        const std::string name = raw;
        if (namesPath(name)) return fail(kUnpackFailed + ": el nombre " + quoted(name) + " incluye una ruta");
        const int finger = fingerOfMember(name);
        if (finger == 0) continue; // not a finger: ignored
        if (member[static_cast<size_t>(finger)] >= 0)
            return fail(kUnpackFailed + ": el dedo " + quoted(name) + " está repetido");
        member[static_cast<size_t>(finger)] = i;
    }

    // Each finger is read whole into memory, never more than the limit, and checked before anything is written.
    std::vector<std::pair<int, std::vector<std::uint8_t>>> fingers;
    for (int finger = 1; finger <= kFingers; ++finger) {
        const zip_int64_t index = member[static_cast<size_t>(finger)];
        if (index < 0) continue;
        const std::string name = zip_get_name(za.get(), static_cast<zip_uint64_t>(index), 0);
        const std::string tooLarge = kUnpackFailed + ": " + quoted(name) + " supera el tamaño máximo de " +
                                     std::to_string(kMaxFingerMemberBytes / (1024 * 1024)) + " MB";
        zip_stat_t st;
        zip_stat_init(&st);
        if (zip_stat_index(za.get(), static_cast<zip_uint64_t>(index), 0, &st) == 0 && (st.valid & ZIP_STAT_SIZE) &&
            st.size > kMaxFingerMemberBytes)
            return fail(tooLarge);
        ZipFilePtr file(zip_fopen_index(za.get(), static_cast<zip_uint64_t>(index), 0));
        if (!file) return fail(kUnpackFailed + ": " + quoted(name) + " no se puede leer");
        std::vector<std::uint8_t> bytes;
        std::array<std::uint8_t, 65536> chunk;
        for (;;) {
            const zip_int64_t n = zip_fread(file.get(), chunk.data(), chunk.size());
            if (n < 0) return fail(kUnpackFailed + ": " + quoted(name) + " está dañado");
            if (n == 0) break;
            if (bytes.size() + static_cast<std::uint64_t>(n) > kMaxFingerMemberBytes) return fail(tooLarge);
            bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + n);
        }
        if (bytes.size() < 2 || bytes[0] != 0xFF || bytes[1] != 0xA0)
            return fail(kUnpackFailed + ": " + quoted(name) + " no es un archivo WSQ");
        fingers.emplace_back(finger, std::move(bytes));
    }

    // Temporary files first, then the renames; any failure takes back everything written.
    const std::string cannotWrite = kUnpackFailed + ": no se puede escribir en " + folder;
    std::vector<std::string> temps;
    std::vector<std::string> written;
    for (const auto& [finger, bytes] : fingers) {
        const fs::path target = fs::path(folder) / ("dedo" + std::to_string(finger) + ".wsq");
        auto temp = wsq::writeTempFileBeside(target.string(), bytes);
        if (!temp) {
            removeAll(temps);
            return fail(cannotWrite);
        }
        temps.push_back(*temp);
        written.push_back(target.string());
    }
    for (size_t i = 0; i < temps.size(); ++i) {
        if (std::rename(temps[i].c_str(), written[i].c_str()) != 0) {
            removeAll({temps.begin() + static_cast<std::ptrdiff_t>(i), temps.end()});
            removeAll({written.begin(), written.begin() + static_cast<std::ptrdiff_t>(i)});
            return fail(cannotWrite);
        }
    }
    return written;
}

} // namespace qev::capture
