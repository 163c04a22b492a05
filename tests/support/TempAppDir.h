#pragma once
// A fresh office folder for one test, removed afterwards.

#include "util/AppDir.h"

#include <QTemporaryDir>

#include <string>

namespace qev::test {

class TempAppDir {
public:
    TempAppDir() : m_dir(QDir::tempPath() + QStringLiteral("/qevtest-XXXXXX")), m_appDir(m_dir.path()) {}
    const AppDir& appDir() const { return m_appDir; }
    QString path() const { return m_dir.path(); }
    QString file(const QString& name) const { return m_appDir.file(name); }
    std::string filePath(const std::string& name) const {
        return (m_dir.path() + QLatin1Char('/')).toStdString() + name;
    }
    std::string pathStd() const { return m_dir.path().toStdString(); }

private:
    QTemporaryDir m_dir;
    AppDir m_appDir;
};

} // namespace qev::test
