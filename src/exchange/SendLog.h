#pragma once
// The sending log of the run: one line per web-service call, kept for the log window. Lines may be added from any
// thread; they are delivered to the object's own (the user-interface) thread in the order they were added.
#include <QObject>
#include <QStringList>

namespace qev {

class SendLog : public QObject {
    Q_OBJECT
public:
    explicit SendLog(QObject* parent = nullptr) : QObject(parent) {}
    const QStringList& lines() const { return m_lines; }
    void clear() { m_lines.clear(); }
    // On the object's thread: appends at once. From another thread: queued to the object's thread.
    void append(const QString& line);

Q_SIGNALS:
    void lineAdded(const QString& line);

private:
    void appendHere(const QString& line);
    QStringList m_lines;
};

} // namespace qev
