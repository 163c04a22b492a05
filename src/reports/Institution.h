#pragma once
// The agency's own texts and emblem, printed in the letterheads, the receipt's notice and the answer letters.
#include <QImage>
#include <QString>

namespace qev::reports {

struct Institution {
    static QString ministry();      // first line: the ministry the agency belongs to
    static QString ministryLine2(); // second line of the official letter's header
    static QString agency();        // the agency's own name
    static QString centralCity();   // city of the central office, in the answer letters
    static QString webAddress();
    static QString freePhone();
    // The emblem: drawn once in code, so a report never lacks its picture.
    static const QImage& logo();
};

} // namespace qev::reports

namespace qev::reports {

struct Layout;
// The letterhead of the answer letters: emblem, the ministry and agency lines, and on the right, lower, the
// central office's city followed by ", " and the print date (dd/MM/yyyy).
void addLetterhead(Layout& layout, const QString& printDate);

} // namespace qev::reports
