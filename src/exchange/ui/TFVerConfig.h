#pragma once
// "Log / configuración de envío": the lines of every web-service send of the run, a check of the message service
// and the workstation's exchange identity. Created once; Escape in the text closes it.
#include <QDialog>

#include <functional>

class QPlainTextEdit;
class QPushButton;

namespace qev {

class Prompter;
class SendLog;
class TSMime;

class TFVerConfig : public QDialog {
    Q_OBJECT
public:
    TFVerConfig(SendLog& log, std::function<TSMime&()> sender, Prompter& prompter, QWidget* parent = nullptr);
    QPlainTextEdit* memRes() const { return m_memRes; }

    void btVerifClick();
    void btShowParamsClick();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void append(const QString& line);
    std::function<TSMime&()> m_sender;
    Prompter& m_prompter;
    QPlainTextEdit* m_memRes;
};

} // namespace qev
