#pragma once
// The livescan card archive: the ten WSQ fingers of a request in one ZIP file. Packing writes the whole archive to
// a temporary file beside the target and renames it into place, so a failed save never replaces a good archive.
// Unpacking trusts nothing in the archive: only the finger members "dedo1.wsq".."dedo10.wsq" are written, under
// names this program makes, and an archive with a member that names a path is refused as a whole.
#include "util/Result.h"

#include <cstdint>
#include <string>
#include <vector>

namespace qev::capture {

// Largest finger member accepted when unpacking; a 500 ppi finger in WSQ is a few tens of kilobytes.
inline constexpr std::uint64_t kMaxFingerMemberBytes = std::uint64_t(8) * 1024 * 1024;

class FingerArchive {
public:
    // Packs `files` into the ZIP `archive`, each under its base name. Errors: "ERROR: No existe archivo origen " +
    // name for a listed file that is missing, "ERROR: No se puede generar el archivo zip " + archive when the
    // archive cannot be written or replaced, "ERROR: No se pudieron comprimir los archivos" when packing fails
    // (also for an empty list or two files with the same base name). A failure leaves `archive` as it was.
    [[nodiscard]] static Result<void> pack(const std::vector<std::string>& files, const std::string& archive);

    // Unpacks the finger members of `archive` into the existing folder `folder` and answers the paths written, in
    // finger order (fewer than ten when the archive lacks a finger). Member names are matched case-insensitively
    // and written in lower case. Errors: "ERROR: No existe archivo origen " + archive, "ERROR: No existe directorio
    // destino " + folder, "ERROR: No se pudo descomprimir archivo" for a file that is not a sound ZIP, and that text
    // followed by the reason and the member's name for a member with a path, a finger member above
    // kMaxFingerMemberBytes, a finger member that is not WSQ or a finger present twice. On failure nothing is
    // written.
    [[nodiscard]] static Result<std::vector<std::string>> unpack(const std::string& archive, const std::string& folder);
};

} // namespace qev::capture
