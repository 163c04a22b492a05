#pragma once
// The office folder: tables, settings files, the log and work files live there.

#include <QDir>
#include <QString>

namespace qev {

class AppDir {
public:
    explicit AppDir(QString folder) : m_folder(QDir(folder).absolutePath()) {}
    const QString& folder() const { return m_folder; }
    // Absolute path of a file in the folder.
    QString file(const QString& name) const { return m_folder + QLatin1Char('/') + name; }
    // The existing file whatever the case of its name, else the name as given.
    QString existingFile(const QString& name) const;

private:
    QString m_folder;
};

} // namespace qev
