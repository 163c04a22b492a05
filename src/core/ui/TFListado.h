#pragma once
#include "util/TransferProgress.h"
// A text list with a progress bar, shown without being modal ("Pedidos personales sin enviar").
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QWidget>

#include <functional>

namespace qev {

class TFListado : public QWidget {
    Q_OBJECT
public:
    explicit TFListado(QWidget* parent = nullptr);
    void begin(const QString& title, int minimum, int maximum);
    void addLine(const QString& line);
    void step();
    QString text() const { return m_mem->toPlainText(); }
    QProgressBar* bar() const { return m_bar; }
    // The printing of the list ("Imprimir"): the button stays disabled until one is given.
    void setPrintHandler(std::function<void(const QString& title, const QString& text)> print);

private:
    QPlainTextEdit* m_mem;
    QProgressBar* m_bar;
    QPushButton* m_print;
    std::function<void(const QString&, const QString&)> m_printHandler;
};

// "Recibiendo Correo...": the progress box of mail transfers.
// The small progress box of mail transfers: shown with "Enviando Mensaje.." or "Recibiendo Mensaje..." once a
// transfer's size is known, hidden when it ends.
class TFRecEst : public QWidget, public TransferProgress {
    Q_OBJECT
public:
    explicit TFRecEst(QWidget* parent = nullptr);
    void transferBegins(Direction d, qint64 size) override;
    void transferProgress(Direction d, qint64 done, qint64 size) override;
    void transferEnds() override;
    void start(const QString& title);
    void setPercent(int percent);
    void finish() { hide(); }
    QProgressBar* bar() const { return m_prog; }

private:
    QProgressBar* m_prog;
};

} // namespace qev
