#pragma once
// What the mail benchmarks share: running a program and waiting for it, the messages of a mailbox, and writing a
// setting of an office folder straight into its table.
#include "dbf/Table.h"

#include <QDir>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <cstdio>

namespace qev::bench {

inline bool run(const QString& program, const QStringList& args, QByteArray* out = nullptr) {
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(120000)) return false;
    if (out) *out = p.readAllStandardOutput();
    if (p.exitCode() != 0)
        std::fprintf(stderr, "%s failed: %s\n", qPrintable(program), p.readAllStandardError().constData());
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

inline QStringList mailFiles(const QString& maildir) {
    QStringList out;
    for (const char* sub : {"new", "cur"}) {
        QDir d(maildir + QLatin1Char('/') + QLatin1String(sub));
        for (const QString& f : d.entryList(QDir::Files))
            out << d.filePath(f);
    }
    return out;
}

inline bool setSetting(const QString& folder, const QString& key, const QString& value) {
    auto t = qev::dbf::Table::open((folder + QStringLiteral("/amb.dbf")).toStdString(), qev::dbf::OpenMode::Shared);
    if (!t) return false;
    qev::dbf::Table& amb = **t;
    const int k = amb.fieldIndex("C_AMB");
    for (uint32_t rn = 1; rn <= amb.recordCount(); ++rn) {
        auto row = amb.read(rn);
        if (!row || row->deleted) continue;
        if (QString::fromStdString(row->values[static_cast<size_t>(k)].toString()).trimmed() == key) {
            row->values[static_cast<size_t>(amb.fieldIndex("X_AMB"))] = qev::dbf::Value(value.toStdString());
            return static_cast<bool>(amb.update(rn, row->values));
        }
    }
    return static_cast<bool>(amb.append({qev::dbf::Value(key.toStdString()), qev::dbf::Value(value.toStdString())}));
}

} // namespace qev::bench
