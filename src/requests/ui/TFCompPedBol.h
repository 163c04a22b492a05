#pragma once
// "Comparativo de Pedido - Boleta": the current personal request beside the data of its payment slip, shown before
// sending when they differ. Pairs that agree are drawn in dark red, pairs that differ in dark blue.
#include <QDialog>
#include <QLabel>
#include <QString>

namespace qev {

class Prompter;
class Tdm;

class TFCompPedBol : public QDialog {
    Q_OBJECT
public:
    TFCompPedBol(Tdm& dm, Prompter& prompter, const QString& cPago, const QString& cReg, const QString& cPed,
                 QWidget* parent = nullptr);

    // "C&ontinuar": asks for confirmation and closes with OK on Yes.
    void continuar();

    // Shows the window modally; true exactly when it was closed with OK.
    static bool compare(Tdm& dm, Prompter& prompter, const QString& cPago, const QString& cReg, const QString& cPed,
                        QWidget* parent = nullptr);

    static const QColor& equalColour();
    static const QColor& differentColour();

private:
    Prompter& m_prompter;
};

// "%s %s" for two parts, "%s %s %s" for three.
QString nameLine(const QString& a, const QString& b);
QString nameLine(const QString& a, const QString& b, const QString& c);

} // namespace qev
