#pragma once
// What the office kill tests and the process they kill agree on: the contents of each version of a request's
// documents file and of each reply's answer image, whole files that tell their own version.
#include <QByteArray>
#include <QString>

namespace qev::test {

// The first name request save `seq` stores: its digits as letters (0 is A), since names take letters only.
inline QString officeKillName(long seq) {
    QString name = QString::number(seq);
    for (QChar& c : name)
        c = QChar(u'A' + (c.unicode() - u'0'));
    return name;
}
inline long officeKillSeq(const QString& name) {
    QString digits = name;
    for (QChar& c : digits)
        c = QChar(u'0' + (c.unicode() - u'A'));
    return digits.toLong();
}

inline QByteArray officeKillDocument(long seq) {
    return QByteArray("DOCU ") + QByteArray::number(static_cast<qlonglong>(seq)) + '\n' +
           QByteArray("documento escaneado\n").repeated(4000);
}

// The answer image of reply `seq` (the reply mail script builds the same bytes from "repeat").
inline QByteArray officeKillAnswerLine(long seq) {
    return QByteArray("RESP ") + QByteArray::number(static_cast<qlonglong>(seq)) + '\n';
}
inline constexpr int kOfficeKillAnswerRepeat = 3000;
inline QByteArray officeKillAnswer(long seq) {
    return officeKillAnswerLine(seq).repeated(kOfficeKillAnswerRepeat);
}

} // namespace qev::test
