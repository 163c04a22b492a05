#pragma once
// Code 39 bar patterns: zint encodes the data (start and stop characters, no check character) and we take the
// narrow/wide sequence from its module row, so the bars can be drawn at any wide-to-narrow ratio.
#include <QPainter>
#include <QRectF>
#include <QString>

#include <vector>

namespace qev::reports {

struct Code39Pattern {
    // Bar, space, bar... from the start character to the stop character; true for a wide element.
    std::vector<bool> wide;
    QString error; // empty when the data could be encoded

    bool ok() const { return error.isEmpty() && !wide.empty(); }
    // Width of the whole symbol in narrow units at `ratio`, quiet zones excluded.
    double units(double ratio) const;
};

// The data must be non-empty and made only of the 43 Code 39 characters (digits, capital letters, space and
// - . $ / + %); anything else (lower-case letters too, which a reader would see as capitals) is refused.
bool code39Valid(const QString& data, QString* error = nullptr);
Code39Pattern code39Pattern(const QString& data);

// Narrow units of quiet zone on each side.
inline constexpr double kCode39QuietUnits = 10;

// Draws the bars in black on white, filling the height of `area` and centred across it with quiet zones, the
// narrow width chosen so that the symbol and its quiet zones fill the width (device units of the painter).
void drawCode39(QPainter& painter, const QRectF& area, const Code39Pattern& pattern, double ratio);

} // namespace qev::reports
