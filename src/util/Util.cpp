#include "util/AppDir.h"
#include "util/Clock.h"
#include "util/Prompter.h"
#include "util/TCrono.h"

#include <QDirIterator>
#include <QElapsedTimer>

namespace qev {

QString displayText(const QString& text) {
    QString t = text;
    t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    t.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return t;
}

qint64 SystemClock::milliseconds() const {
    static QElapsedTimer timer = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return timer.elapsed();
}

TCrono::TCrono()
    : m_counter([] {
          static QElapsedTimer timer = [] {
              QElapsedTimer t;
              t.start();
              return t;
          }();
          return static_cast<quint32>(static_cast<quint64>(timer.msecsSinceReference() + timer.elapsed()));
      }) {}

QString AppDir::existingFile(const QString& name) const {
    const QString exact = file(name);
    if (QFileInfo::exists(exact)) return exact;
    const QDir dir(m_folder);
    const QStringList entries = dir.entryList(QDir::Files | QDir::Hidden);
    for (const QString& e : entries) {
        if (e.compare(name, Qt::CaseInsensitive) == 0) return file(e);
    }
    return exact;
}

} // namespace qev
