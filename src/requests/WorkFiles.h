#pragma once
// The work files a request window captures into while a request is edited, and their filing into the request's own
// files of the office folder.
#include "util/AppDir.h"

#include <QString>
#include <QStringList>

namespace qev {

class Dataset;
class RequestHost;

inline constexpr char kCardWorkFile[] = "edit.tif";
inline constexpr char kOldCardWorkFile[] = "dedos.tif";
inline constexpr char kLivescanWorkFile[] = "edit.zip";
inline constexpr char kDocumentsWorkFile[] = "docu.tif";

// The work files cleared before every edit and after every save.
QStringList requestWorkFiles();

// True when the work file exists in the office folder (whatever the case of its name).
bool workFileExists(const AppDir& dir, const char* name);

// Deletes the work files of the office folder; a missing file is not an error.
void deleteRequestWorkFiles(const AppDir& dir);

// Files a work file of the folder under the request file of `kind` of the current row of `ds`; on failure the
// reason is shown and the work file stays.
bool fileWorkFile(RequestHost& host, const Dataset& ds, const char* workFile, QChar kind);

// Deletes the card, livescan and answer files of the current row of `ds`; the documents file stays.
void deleteRequestFiles(RequestHost& host, const Dataset& ds);

// Copies a file over the request file `target` (a name in the office folder) through a temporary file, so that a
// failed copy never leaves a half-written request file. False (and `error` set) when the copy failed.
bool fileOver(const QString& source, const AppDir& dir, const QString& target, QString* error);

} // namespace qev
