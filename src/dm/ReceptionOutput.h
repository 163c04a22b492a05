#pragma once
// Where the reception's results go when no window shows them (the admin command, a workstation nobody watches):
// activity lines appended to "logp.txt" and state lists to "EstCent.log" in the office folder, each line also
// handed to `echo`; answers printed to PDF files in the office folder's "impresos" folder.
#include "exchange/ReceptionPorts.h"

#include <QString>

#include <functional>

namespace qev {

class FolderReceptionViews final : public ReceptionViews {
public:
    explicit FolderReceptionViews(QString folder) : m_folder(std::move(folder)) {}
    std::function<void(const QString&)> echo;

    void activityLine(const QString& line) override;
    void showActivity() override {}
    void clearStates() override {}
    void stateLine(const QString& line) override;
    void showStates() override {}
    void stateStatus(const QString& text) override;
    void status(const QString& text) override;

private:
    void append(const QString& file, const QString& line);
    QString m_folder;
};

class PdfAnswerPrinter final : public AnswerPrinter {
public:
    // `table` gives the data module's cursors; the personal answer letter is of the current row of "pedp".
    PdfAnswerPrinter(ReplyHost& host) : m_host(host) {}
    bool printImage(const QString& file, QString& error) override;
    bool printPersonalAnswer(QString& error) override;
    // The PDF files written in this run (the last one last).
    const QStringList& written() const { return m_written; }

private:
    QString target(const QString& stem);
    ReplyHost& m_host;
    QStringList m_written;
};

} // namespace qev
