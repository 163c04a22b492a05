#pragma once
// The central office's replies applied to the request tables: confirmations, answers with their report image,
// rejections and state lists. Each handler reads its files from the reception folder, changes at most the one
// request the reply names (by number and regional), writes the activity line, and deletes the files it read. A
// reply for a request that is not found, of another regional or with numbers that do not read changes nothing.
#include "dbf/Value.h"
#include "exchange/ReceptionPorts.h"
#include "exchange/ReplyFiles.h"

#include <QString>
#include <QStringList>

namespace qev {

class Dataset;

class ReplyHandlers {
public:
    ReplyHandlers(ReplyHost& host, ReceptionViews& views);

    void setPrinter(AnswerPrinter* printer) { m_printer = printer; }
    void setViews(ReceptionViews& views) { m_views = &views; }
    // The names the received files have: plain for POP3; the Outlook reception puts its counter in front.
    void setFilePrefix(const QString& prefix) { m_prefix = prefix; }
    // Where the received files are (the office folder unless set).
    void setReceptionFolder(const QString& folder) { m_receptionFolder = folder; }

    bool AplicarContestacionOficial();
    bool AplicarConfirmacionOficial();
    bool AplicarRespuestaPersonal();
    bool AplicarListasEstado();
    bool AplicarRechazoOficial();
    bool AplicarRechazoPersonal();

    // Shows a state list in the state window and applies it to "ped" / "pedp".
    void MostrarEstadosOficiales(const QStringList& lines);
    void MostrarEstadosPersonales(const QStringList& lines);
    // The result list of the personal requests, shown and applied to "pedp".
    void MostrarResultadosPersonales(const QStringList& lines);

    // The checks of the request windows before showing the answer of the current row.
    bool ContestacionDisponibleOficial();
    bool ContestacionDisponiblePersonal();

    // Why the last handler applied nothing (for the reception's failure line); empty when it applied.
    const QString& lastReason() const { return m_reason; }

private:
    QString path(const QString& name) const;
    bool readReply(RespDat& out);
    Dataset* findRequest(const QString& component, const RespDat& reply);
    // The row of request `cPed`; the table is read again once (per `refreshed`) when it is not there.
    bool locateRequest(Dataset& ds, int cPed, bool& refreshed);
    // A state or result list line applied to a request in process ("E", "T", or also "C" for the result list);
    // `result` is stored in C_RES unless empty.
    void applyListed(Dataset& ds, const StateLine& line, bool answeredToo, const QString& result, bool& refreshed);
    bool applyRejection(const QString& component, const QString& line);
    dbf::Value today() const;
    void listHeader(const QString& title);
    bool post(Dataset& ds);
    bool fileAnswerImage(const QString& target);
    void removeFiles(std::initializer_list<const char*> names);
    void activity(const QString& text);
    void printImage(const QString& file);
    void showStates(bool official, const QStringList& lines);
    QString stamp() const;
    bool refuse(const QString& why);

    ReplyHost& m_host;
    ReceptionViews* m_views;
    AnswerPrinter* m_printer = nullptr;
    QString m_prefix;
    QString m_receptionFolder;
    QString m_reason;
};

} // namespace qev
