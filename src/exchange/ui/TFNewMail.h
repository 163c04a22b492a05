#pragma once
// "Nuevo mensaje": a message composed by the operator, sent from the office's address with the listed files.
#include <QDialog>

#include <functional>

class QLineEdit;
class QPlainTextEdit;

namespace qev {

class Prompter;
class TdmMail;

class TFNewMail : public QDialog {
    Q_OBJECT
public:
    TFNewMail(TdmMail& mail, Prompter& prompter, QWidget* parent = nullptr);

    // Clears every field and shows the window modally.
    int openWindow();
    void clear();
    // "&Enviar": true when the message was sent (the window then closes).
    bool send();
    // "Adjuntar Archivo" asks for a file here (a file dialog unless replaced); empty for none.
    std::function<QString()> askFile;

private:
    TdmMail& m_mail;
    Prompter& m_prompter;
    QLineEdit* m_to;
    QLineEdit* m_subject;
    QLineEdit* m_cc;
    QLineEdit* m_bcc;
    QPlainTextEdit* m_text;
    QPlainTextEdit* m_files;
};

} // namespace qev
