#pragma once
// The reception of the central office's messages: POP3 messages recognised by subject, their attachments saved in
// the office folder and handed to the reply handler of the subject, then deleted; foreign messages forwarded to the
// office's forwarding account. A message is deleted only after its effects are on disk, so a reception cut short
// leaves it on the server and the next one applies it again (applying a reply twice gives the same tables).
#include "exchange/ReceptionPorts.h"

#include <QString>

namespace qev {

class ReplyHandlers;
class TdmMail;

class MailReception {
public:
    MailReception(ReplyHost& host, TdmMail& mail, ReplyHandlers& handlers, ReceptionViews& views);

    // Counters of the last POP3 reception.
    struct Counters {
        int processed = 0;
        int notProcessed = 0;
        int forwarded = 0;
        int total = 0;
        bool failed = false; // the server could not be reached or counted
        QString error;
    };

    // The reception cycle's entry: nothing until `ready`; Outlook or POP3 as configured.
    void RecibirCorreo(bool ready);
    void RecibirPop3();
    // 1 own message applied and deleted, 0 foreign message forwarded and deleted, -1 failure (`error` says why).
    int ProcesarMensajeCorreo(int index, QString& error);
    bool EsAsuntoPropio(const QString& subject) const;
    bool ProcesarAsunto(const QString& subject, QString& error);
    bool BorrarAdjuntosTemp(const QString& folder, QString& error);
    // The Outlook inbox does not exist on this platform: says so once in the log and does nothing.
    void RecibirOutlook();

    const Counters& last() const { return m_last; }
    void setViews(ReceptionViews& views) { m_views = &views; }
    // The folder the attachments of a message are saved in while it is handled: a folder of its own inside the
    // office folder, so no received name can land on a table, the settings or the program.
    QString receptionFolder() const;

private:
    bool mailSettingsOk();
    void mailLog(const QString& line);
    bool webService() const;
    bool emptyFolder(const QString& folder, QString& error);
    QString now() const;

    ReplyHost& m_host;
    TdmMail& m_mail;
    ReplyHandlers& m_handlers;
    ReceptionViews* m_views;
    Counters m_last;
    bool m_outlookReported = false;
};

} // namespace qev
