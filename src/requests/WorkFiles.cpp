#include "requests/WorkFiles.h"

#include "requests/RequestHost.h"
#include "util/DiskSync.h"
#include "util/Prompter.h"

#include <QFile>
#include <QFileInfo>

#include <cstdio>

namespace qev {

QStringList requestWorkFiles() {
    return {QString::fromLatin1(kCardWorkFile), QString::fromLatin1(kLivescanWorkFile),
            QString::fromLatin1(kDocumentsWorkFile)};
}

bool workFileExists(const AppDir& dir, const char* name) {
    return QFileInfo::exists(dir.existingFile(QString::fromLatin1(name)));
}

void deleteRequestWorkFiles(const AppDir& dir) {
    for (const QString& name : requestWorkFiles())
        QFile::remove(dir.existingFile(name));
}

bool fileWorkFile(RequestHost& host, const Dataset& ds, const char* workFile, QChar kind) {
    const AppDir& dir = host.appDir();
    const QString target = host.requestFile(ds, kind);
    QString error = QStringLiteral("El pedido no tiene número ni regional para guardar sus archivos");
    if (!target.isEmpty() && fileOver(dir.existingFile(QString::fromLatin1(workFile)), dir, target, &error))
        return true;
    host.prompter().error(error, QStringLiteral("Error"));
    return false;
}

void deleteRequestFiles(RequestHost& host, const Dataset& ds) {
    for (const QChar kind : {QLatin1Char('h'), QLatin1Char('z'), QLatin1Char('c')}) {
        const QString name = host.requestFile(ds, kind);
        if (!name.isEmpty()) QFile::remove(host.appDir().existingFile(name));
    }
}

bool fileOver(const QString& source, const AppDir& dir, const QString& target, QString* error) {
    const QString dest = dir.existingFile(target);
    const QString temp = dir.file(target + QStringLiteral(".tmp"));
    QFile::remove(temp);
    QFile in(source);
    if (!QFile::copy(source, temp)) {
        if (error)
            *error = in.exists() ? QStringLiteral("No se pudo copiar \"%1\"").arg(source)
                                 : QStringLiteral("No existe el archivo \"%1\"").arg(source);
        QFile::remove(temp);
        return false;
    }
    // The copy is on disk before it takes the request file's name, and the name before the save goes on: a power
    // cut then leaves the old file or the new one, never an empty one.
    if (!syncFileToDisk(temp)) {
        QFile::remove(temp);
        if (error) *error = QStringLiteral("No se pudo guardar \"%1\"").arg(dest);
        return false;
    }
    // rename(2) replaces the old request file in one step, so a reader sees the old file or the new one.
    if (std::rename(QFile::encodeName(temp).constData(), QFile::encodeName(dest).constData()) != 0) {
        QFile::remove(temp);
        if (error) *error = QStringLiteral("No se pudo guardar \"%1\"").arg(dest);
        return false;
    }
    if (!syncFolderOf(dest)) {
        if (error) *error = QStringLiteral("No se pudo guardar \"%1\"").arg(dest);
        return false;
    }
    return true;
}

} // namespace qev
