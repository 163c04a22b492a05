// The quality report window offscreen: its lines, bar and status after a report.
#include "capture/ui/TFCalidad.h"

#include <QPlainTextEdit>
#include <QProgressBar>
#include <QStatusBar>

#include <gtest/gtest.h>

namespace qev {
namespace {

TEST(TFCalidadTest, ReportListsTheAverageAndEveryFingerWithoutBlocking) {
    TFCalidad window;
    std::array<std::pair<int, int>, 10> grades;
    grades.fill({-2, 0});
    grades[0] = {0, 1};
    grades[1] = {0, 3};
    grades[4] = {2, 5};
    grades[9] = {0, 7};
    EXPECT_EQ(window.report(QStringLiteral("Calidad de la huella"), grades, 2), 2);

    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Calidad de la huella"));
    EXPECT_TRUE(window.windowFlags() & Qt::WindowStaysOnTopHint);
    auto* mem = window.findChild<QPlainTextEdit*>(QStringLiteral("mem"));
    ASSERT_NE(mem, nullptr);
    EXPECT_TRUE(mem->isReadOnly());
    EXPECT_EQ(
        mem->toPlainText().split(QLatin1Char('\n')),
        QStringList({QStringLiteral("Calidad de la huella"), QStringLiteral("Promedio = 2 (Muy buena)"),
                     QStringLiteral("Pulgar Derecho = 1 (Excelente)"), QStringLiteral("Indice Derecho = 3 (Buena)"),
                     QStringLiteral("Medio Derecho = 0 (Error: falta huella!, Falta cargar la imagen)"),
                     QStringLiteral("Anular Derecho = 0 (Error: falta huella!, Falta cargar la imagen)"),
                     QStringLiteral("Meñique Derecho = 5 (Mala, Faltan minucias)"),
                     QStringLiteral("Pulgar Izquierdo = 0 (Error: falta huella!, Falta cargar la imagen)"),
                     QStringLiteral("Indice Izquierdo = 0 (Error: falta huella!, Falta cargar la imagen)"),
                     QStringLiteral("Medio Izquierdo = 0 (Error: falta huella!, Falta cargar la imagen)"),
                     QStringLiteral("Anular Izquierdo = 0 (Error: falta huella!, Falta cargar la imagen)"),
                     QStringLiteral("Meñique Izquierdo = 7 ()")}));
    auto* prog = window.findChild<QProgressBar*>(QStringLiteral("Prog"));
    ASSERT_NE(prog, nullptr);
    EXPECT_EQ(prog->minimum(), 0);
    EXPECT_EQ(prog->maximum(), 10);
    EXPECT_EQ(prog->value(), 10);
    auto* estado = window.findChild<QStatusBar*>(QStringLiteral("stEstado"));
    ASSERT_NE(estado, nullptr);
    EXPECT_EQ(estado->currentMessage(), QStringLiteral("Listo!"));

    // A second report with no graded finger starts over.
    grades.fill({-2, 0});
    EXPECT_EQ(window.report(QStringLiteral("Otra"), grades, 9), 9);
    const QStringList lines = mem->toPlainText().split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 12);
    EXPECT_EQ(lines[0], QStringLiteral("Otra"));
    EXPECT_EQ(lines[1], QStringLiteral("Promedio = 9 (Error: No hay impresiones)"));
}

} // namespace
} // namespace qev
