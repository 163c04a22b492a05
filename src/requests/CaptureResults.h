#pragma once
// What a request window keeps of the capture windows: a card saved and changed in the card window becomes the work
// file "edit.tif", and a document file newer than before the document window becomes "docu.tif". Each copy goes
// through a temporary file, so a failed copy leaves the previous work file whole; the capture file is deleted in
// every case.
#include "util/AppDir.h"

#include <QDateTime>
#include <QString>

namespace qev {

// True when "edit.tif" now holds the card; false (with `error` set when a copy failed) when it was left as it was.
bool tomarFicha(const AppDir& dir, const QString& archivoHuella, bool modificado, QString* error);
// `before` is the document file's modification time before the window was shown (invalid when it did not exist).
bool tomarDocumento(const AppDir& dir, const QString& archivoDocumento, const QDateTime& before, QString* error);

} // namespace qev
