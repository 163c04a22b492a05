#include "requests/CaptureResults.h"

#include "requests/WorkFiles.h"

#include <QFile>
#include <QFileInfo>

namespace qev {

bool tomarFicha(const AppDir& dir, const QString& archivoHuella, bool modificado, QString* error) {
    if (archivoHuella.isEmpty()) return false;
    const bool taken = modificado && QFileInfo(archivoHuella).isFile() &&
                       fileOver(archivoHuella, dir, QString::fromLatin1(kCardWorkFile), error);
    QFile::remove(archivoHuella);
    return taken;
}

bool tomarDocumento(const AppDir& dir, const QString& archivoDocumento, const QDateTime& before, QString* error) {
    const QFileInfo info(archivoDocumento);
    if (!info.isFile()) return false;
    const bool newer = !before.isValid() || info.lastModified() > before;
    const bool taken = newer && fileOver(archivoDocumento, dir, QString::fromLatin1(kDocumentsWorkFile), error);
    QFile::remove(archivoDocumento);
    return taken;
}

} // namespace qev
