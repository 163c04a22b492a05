#pragma once
// "Correo Electrónico - Bandeja de Entrada  -": the messages on the office's POP3 server, one of them shown with
// its header and text (plain text, or HTML reduced to safe markup in a view that loads nothing and follows no
// link), its attachments saved or opened with the desktop's program, and the operations on the selected message.
#include "exchange/MailDesk.h"

#include <QDialog>
#include <QTextBrowser>

#include <functional>
#include <memory>

class QAction;
class QLabel;
class QStatusBar;
class QTableWidget;
class QWidget;

namespace qev {

class Prompter;
class Tdm;

// A text view that never fetches a resource (images, style sheets) and never follows a link; what it was asked
// for is noted.
class SafeMessageView : public QTextBrowser {
    Q_OBJECT
public:
    explicit SafeMessageView(QWidget* parent = nullptr);
    QVariant loadResource(int type, const QUrl& name) override;
    const QList<QUrl>& refused() const { return m_refused; }

private:
    QList<QUrl> m_refused;
};

class TFInboxMail : public QDialog {
    Q_OBJECT
public:
    TFInboxMail(Tdm& dm, Prompter& prompter, QWidget* parent = nullptr);

    // Closes any previous list, clears the message and shows the inbox modally.
    int openWindow();

    // The other mail windows, opened from here.
    std::function<void()> openNewMail;
    std::function<void()> openConfig;
    std::function<void()> openCheck;
    // Where "Guardar Adjunto" saves (a save dialog unless replaced); empty to cancel.
    std::function<QString(const QString& proposed)> askSavePath;

    MailInbox& inbox() { return *m_inbox; }
    // The operations, as the tool bar runs them.
    void checkMail();
    void disconnectList();
    void showSelected();
    void forwardSelected();
    void processSelected();
    void deleteSelected();
    void saveAttachment();
    void openAttachment();
    // The list row shown selected, -1 for none.
    int selectedRow() const;
    void selectRow(int inboxRow);

private:
    void fillList();
    void clearView();
    void setStatus(const QString& text);
    int selectedAttachment() const;

    Tdm& m_dm;
    Prompter& m_prompter;
    std::unique_ptr<MailInbox> m_inbox;
    QTableWidget* m_list;
    QLabel* m_from;
    QLabel* m_to;
    QLabel* m_cc;
    QLabel* m_subject;
    QLabel* m_date;
    QLabel* m_priority;
    SafeMessageView* m_view;
    QWidget* m_attachmentPanel;
    QTableWidget* m_attachments;
    QStatusBar* m_status;
    QAction* m_process;
};

} // namespace qev
