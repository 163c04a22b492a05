#pragma once
// The automatic printing of received answers: on the workstation's default printer when it has one, else to PDF
// files in the office folder (the data module's PDF printer), so nothing an answer brings goes unprinted.
#include "exchange/ReceptionPorts.h"

namespace qev {
class Tdm;
}

namespace qev::reports {

class SystemAnswerPrinter final : public AnswerPrinter {
public:
    explicit SystemAnswerPrinter(Tdm& dm) : m_dm(dm) {}
    bool printImage(const QString& file, QString& error) override;
    bool printPersonalAnswer(QString& error) override;

private:
    Tdm& m_dm;
};

} // namespace qev::reports
