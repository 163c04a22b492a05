#pragma once
// The quality report of a livescan capture: the grade of each of the ten fingers and their average, in a window
// that stays on top of the capture window without blocking it.
#include <QWidget>

#include <array>
#include <utility>

class QPlainTextEdit;
class QProgressBar;
class QStatusBar;

namespace qev {

class TFCalidad : public QWidget {
    Q_OBJECT
public:
    explicit TFCalidad(QWidget* parent = nullptr);

    // Shows the report: the title, "Promedio = " + average + " (" + its quality word + ")", then one line per
    // finger, name + " = " + the quality text of its (return code, quality value); the bar follows the fingers and
    // the status ends "Listo!". Answers `average`.
    int report(const QString& title, const std::array<std::pair<int, int>, 10>& grades, int average);

private:
    QPlainTextEdit* m_mem;
    QProgressBar* m_prog;
    QStatusBar* m_estado;
};

} // namespace qev
