#pragma once
// Making a file that was just written, and a rename that put it in place, reach the disk before the program says the
// work is done: without it a power cut soon after may leave an empty file under the new name.
#include <QString>

namespace qev {

// The contents of `path` on disk; false when the file cannot be opened or the disk refuses.
bool syncFileToDisk(const QString& path);
// The names in the folder of `path` (a file renamed or created there) on disk.
bool syncFolderOf(const QString& path);
// On unless turned off; off, both calls above answer true at once (for tests, whose files need not outlive a power
// cut).
void setDiskSync(bool on);

} // namespace qev
