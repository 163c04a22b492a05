#pragma once
// "Chequeo de correo electrónico": the POP3 connection and a test message to the office's own address, a line for
// each step as it goes.
#include <QDialog>

class QPlainTextEdit;

namespace qev {

class TdmMail;

class TFMailCheck : public QDialog {
    Q_OBJECT
public:
    explicit TFMailCheck(TdmMail& mail, QWidget* parent = nullptr);

    // Shows the window (not modal) and runs both checks at once; true when both succeeded.
    bool run();
    QString text() const;

private:
    TdmMail& m_mail;
    QPlainTextEdit* m_text;
};

} // namespace qev
