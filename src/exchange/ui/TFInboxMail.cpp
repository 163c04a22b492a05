#include "exchange/ui/TFInboxMail.h"

#include "core/Settings.h"
#include "dm/Tdm.h"
#include "exchange/MailReception.h"
#include "exchange/mail/TdmMail.h"
#include "util/Prompter.h"

#include <QDateTime>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QSplitter>
#include <QStatusBar>
#include <QTableWidget>
#include <QToolBar>
#include <QUrl>
#include <QVBoxLayout>

namespace qev {

namespace {

struct Column {
    const char* title;
    bool hidden;
};

// The columns of the message list, in the order of the list's fields.
constexpr Column kColumns[] = {{"Nro", false},
                               {"Asunto", false},
                               {"De", false},
                               {"Prioridad", false},
                               {"Fecha", false},
                               {"Bytes", false},
                               {"UIDL", true},
                               {"Para", false},
                               {"CC", false},
                               {"Receipt", true},
                               {"Organización", true},
                               {"Id del Mensaje", false},
                               {"Tipo de Mensaje", false}};

QTableWidgetItem* item(const QString& text) {
    auto* i = new QTableWidgetItem(text);
    i->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    return i;
}

QTableWidgetItem* numberItem(qint64 n) {
    auto* i = new QTableWidgetItem;
    i->setData(Qt::DisplayRole, n);
    i->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    return i;
}

// "dd mmm yyyy hh:mm:ss" with Spanish month names.
QString shownDate(const QString& text) {
    const QDateTime when = QDateTime::fromString(text, QStringLiteral("dd/MM/yyyy HH:mm:ss"));
    return when.isValid() ? QLocale(QLocale::Spanish).toString(when, QStringLiteral("dd MMM yyyy HH:mm:ss")) : text;
}

} // namespace

SafeMessageView::SafeMessageView(QWidget* parent) : QTextBrowser(parent) {
    setOpenLinks(false);
    setOpenExternalLinks(false);
}

QVariant SafeMessageView::loadResource(int, const QUrl& name) {
    m_refused << name;
    return QVariant();
}

TFInboxMail::TFInboxMail(Tdm& dm, Prompter& prompter, QWidget* parent)
    : QDialog(parent), m_dm(dm), m_prompter(prompter),
      m_inbox(std::make_unique<MailInbox>(dm.mail(), prompter, dm.appDir().folder())) {
    setObjectName(QStringLiteral("TFInboxMail"));
    setWindowTitle(QStringLiteral("Correo Electrónico - Bandeja de Entrada  -"));
    m_inbox->openFile = [](const QString& path) { return QDesktopServices::openUrl(QUrl::fromLocalFile(path)); };
    m_inbox->processMessage = [&dm](int index, QString& error) {
        return dm.mailReception().ProcesarMensajeCorreo(index, error);
    };
    askSavePath = [this](const QString& proposed) {
        return QFileDialog::getSaveFileName(this, QStringLiteral("Guardar Adjunto"), proposed, QStringLiteral("*.*"));
    };

    auto* v = new QVBoxLayout(this);
    v->setContentsMargins(0, 0, 0, 0);
    auto* menu = new QMenuBar(this);
    menu->setObjectName(QStringLiteral("MainMenu"));
    v->setMenuBar(menu);
    auto* toolBar = new QToolBar(this);
    toolBar->setObjectName(QStringLiteral("ToolBar1"));
    toolBar->setToolButtonStyle(Qt::ToolButtonTextOnly);
    v->addWidget(toolBar);
    // Short button texts; the hint says what each does.
    auto action = [this, toolBar](const char* name, const char* hint, auto run) {
        static const std::pair<const char*, const char*> kShort[] = {
            {"tbConsultar", "Consultar"}, {"tbDesconectar", "Desconectar"},     {"tbLeer", "Leer"},
            {"tbNuevo", "Nuevo"},         {"tbReenviar", "Reenviar"},           {"tbProcesar", "Procesar"},
            {"tbBorrar", "Borrar"},       {"tbConfiguracion", "Configuración"}, {"tbProbar", "Probar"}};
        QString text = QString::fromUtf8(hint);
        for (const auto& [n, t] : kShort)
            if (qstrcmp(n, name) == 0) text = QString::fromUtf8(t);
        auto* a = new QAction(text, this);
        a->setObjectName(QString::fromLatin1(name));
        a->setToolTip(QString::fromUtf8(hint));
        connect(a, &QAction::triggered, this, run);
        toolBar->addAction(a);
        return a;
    };
    QAction* check = action("tbConsultar", "Consultar bandeja de entrada de mensajes", [this] { checkMail(); });
    QAction* disconnect = action("tbDesconectar", "Cerrar conexión", [this] { disconnectList(); });
    QAction* read = action("tbLeer", "Leer Mensaje", [this] { showSelected(); });
    QAction* create = action("tbNuevo", "Nuevo mensaje", [this] {
        if (openNewMail) openNewMail();
    });
    action("tbReenviar", "Reenviar Mensaje", [this] { forwardSelected(); });
    m_process = action("tbProcesar", "Procesar Mensaje", [this] { processSelected(); });
    QAction* remove = action("tbBorrar", "Borrar Mensaje", [this] { deleteSelected(); });
    QAction* config = action("tbConfiguracion", "Configuración", [this] {
        if (openConfig) openConfig();
    });
    action("tbProbar", "Probar configuración del Correo Electrónico", [this] {
        if (openCheck) openCheck();
    });

    QMenu* exit = menu->addMenu(QStringLiteral("&Salir"));
    exit->menuAction()->setObjectName(QStringLiteral("miSalir"));
    connect(exit->menuAction(), &QAction::triggered, this, &QDialog::accept);
    exit->addAction(QStringLiteral("&Salir"), this, &QDialog::accept)->setObjectName(QStringLiteral("miSalir1"));
    QMenu* ops = menu->addMenu(QStringLiteral("&Operaciones"));
    auto menuItem = [ops](const char* name, const char* caption, QAction* same) {
        QAction* a = ops->addAction(QString::fromUtf8(caption));
        a->setObjectName(QString::fromLatin1(name));
        connect(a, &QAction::triggered, same, &QAction::trigger);
    };
    menuItem("miChequear", "C&hequear lista de mensajes", check);
    menuItem("miObtener", "O&btener mensaje seleccionado", read);
    menuItem("miBorrar", "B&orrar mensaje seleccionado", remove);
    menuItem("miCrear", "C&rear Mensaje", create);
    menuItem("miDesconectar", "&Desconectar del servidor", disconnect);
    QAction* configMenu = menu->addAction(QStringLiteral("&Configuración"));
    configMenu->setObjectName(QStringLiteral("miConfiguracion"));
    connect(configMenu, &QAction::triggered, config, &QAction::trigger);

    auto* split = new QSplitter(Qt::Vertical, this);
    v->addWidget(split, 1);
    m_list = new QTableWidget(0, static_cast<int>(std::size(kColumns)), split);
    m_list->setObjectName(QStringLiteral("MailHeaders"));
    QStringList titles;
    for (const Column& c : kColumns)
        titles << QString::fromUtf8(c.title);
    m_list->setHorizontalHeaderLabels(titles);
    for (int c = 0; c < static_cast<int>(std::size(kColumns)); ++c)
        m_list->setColumnHidden(c, kColumns[c].hidden);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setSortingEnabled(true);
    m_list->verticalHeader()->setVisible(false);
    connect(m_list, &QTableWidget::cellDoubleClicked, this, [this] { showSelected(); });

    auto* message = new QWidget(split);
    auto* mv = new QVBoxLayout(message);
    mv->setContentsMargins(6, 6, 6, 6);
    auto* header = new QFormLayout;
    auto headerLabel = [this, message, header](const char* name, const char* caption) {
        auto* l = new QLabel(message);
        l->setObjectName(QString::fromLatin1(name));
        l->setTextInteractionFlags(Qt::TextSelectableByMouse);
        l->setTextFormat(Qt::PlainText);
        auto* title = new QLabel(QStringLiteral("<b>%1:</b>").arg(QString::fromUtf8(caption)), message);
        header->addRow(title, l);
        (void)this;
        return l;
    };
    m_from = headerLabel("lblDe", "De");
    m_to = headerLabel("lblPara", "Para");
    m_cc = headerLabel("lblCc", "Cc");
    m_subject = headerLabel("lblAsunto", "Asunto");
    m_date = headerLabel("lblFecha", "Fecha");
    m_priority = headerLabel("lblPrioridad", "Prioridad");
    mv->addLayout(header);
    auto* body = new QHBoxLayout;
    m_view = new SafeMessageView(message);
    m_view->setObjectName(QStringLiteral("HTMLViewer"));
    body->addWidget(m_view, 1);
    m_attachmentPanel = new QWidget(message);
    m_attachmentPanel->setObjectName(QStringLiteral("pnlAdjuntos"));
    auto* av = new QVBoxLayout(m_attachmentPanel);
    av->setContentsMargins(0, 0, 0, 0);
    m_attachments = new QTableWidget(0, 3, m_attachmentPanel);
    m_attachments->setObjectName(QStringLiteral("Adjuntos"));
    m_attachments->setHorizontalHeaderLabels(
        {QStringLiteral("Adjunto Nro"), QStringLiteral("Nombre"), QStringLiteral("ContentType")});
    m_attachments->setColumnHidden(0, true);
    m_attachments->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_attachments->setSelectionMode(QAbstractItemView::SingleSelection);
    m_attachments->verticalHeader()->setVisible(false);
    m_attachments->horizontalHeader()->setStretchLastSection(true);
    connect(m_attachments, &QTableWidget::cellDoubleClicked, this, [this] { openAttachment(); });
    av->addWidget(m_attachments, 1);
    auto* save = new QPushButton(QStringLiteral("Guardar Adjunto"), m_attachmentPanel);
    save->setObjectName(QStringLiteral("btGuardarAdjunto"));
    save->setAutoDefault(false);
    connect(save, &QPushButton::clicked, this, [this] { saveAttachment(); });
    av->addWidget(save);
    auto* openButton = new QPushButton(QStringLiteral("Abrir adjunto tipo dat txt tif"), m_attachmentPanel);
    openButton->setObjectName(QStringLiteral("btAbrirAdjunto"));
    openButton->setAutoDefault(false);
    connect(openButton, &QPushButton::clicked, this, [this] { openAttachment(); });
    av->addWidget(openButton);
    m_attachmentPanel->setMinimumWidth(260);
    body->addWidget(m_attachmentPanel);
    mv->addLayout(body, 1);
    split->setStretchFactor(0, 1);
    split->setStretchFactor(1, 2);

    m_status = new QStatusBar(this);
    m_status->setObjectName(QStringLiteral("StatusBar1"));
    m_status->setSizeGripEnabled(false);
    v->addWidget(m_status);
    clearView();
    resize(900, 640);
}

int TFInboxMail::openWindow() {
    disconnectList();
    setStatus(QString());
    return exec();
}

void TFInboxMail::setStatus(const QString& text) {
    m_status->showMessage(text);
}

void TFInboxMail::clearView() {
    for (QLabel* l : {m_from, m_to, m_cc, m_subject, m_date, m_priority})
        l->clear();
    m_view->clear();
    m_attachments->setRowCount(0);
    m_attachmentPanel->setVisible(false);
}

void TFInboxMail::fillList() {
    m_list->setSortingEnabled(false);
    m_list->setRowCount(0);
    const auto& rows = m_inbox->rows();
    m_list->setRowCount(static_cast<int>(rows.size()));
    for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
        const MsgHeaderRow& h = rows[static_cast<size_t>(r)];
        QTableWidgetItem* number = numberItem(h.index);
        number->setData(Qt::UserRole, r);
        m_list->setItem(r, 0, number);
        m_list->setItem(r, 1, item(h.subject));
        m_list->setItem(r, 2, item(h.from));
        m_list->setItem(r, 3, numberItem(h.priority));
        m_list->setItem(r, 4, item(h.date));
        m_list->setItem(r, 5, numberItem(h.bytes));
        m_list->setItem(r, 6, item(h.uidl));
        m_list->setItem(r, 7, item(h.recipients));
        m_list->setItem(r, 8, item(h.cc));
        m_list->setItem(r, 9, item(h.receipt));
        m_list->setItem(r, 10, item(h.organization));
        m_list->setItem(r, 11, item(h.msgId));
        m_list->setItem(r, 12, item(h.contentType));
    }
    m_list->setSortingEnabled(true);
    m_list->sortByColumn(0, Qt::AscendingOrder);
    m_list->resizeColumnsToContents();
    if (!rows.empty()) m_list->selectRow(0);
}

int TFInboxMail::selectedRow() const {
    const int r = m_list->currentRow();
    if (r < 0 || !m_list->item(r, 0)) return -1;
    return m_list->item(r, 0)->data(Qt::UserRole).toInt();
}

void TFInboxMail::selectRow(int inboxRow) {
    for (int r = 0; r < m_list->rowCount(); ++r)
        if (m_list->item(r, 0) && m_list->item(r, 0)->data(Qt::UserRole).toInt() == inboxRow) {
            m_list->selectRow(r);
            m_list->setCurrentCell(r, 0);
            return;
        }
}

void TFInboxMail::checkMail() {
    setStatus(QStringLiteral("Consultando bandeja de entrada de correo..."));
    clearView();
    (void)m_inbox->check();
    fillList();
    setStatus(m_inbox->status());
}

void TFInboxMail::disconnectList() {
    m_inbox->disconnect();
    m_list->setRowCount(0);
    clearView();
}

void TFInboxMail::showSelected() {
    clearView();
    const int row = selectedRow();
    if (row < 0) return;
    const MsgHeaderRow& h = m_inbox->rows()[static_cast<size_t>(row)];
    m_from->setText(h.from);
    m_to->setText(h.recipients);
    m_cc->setText(h.cc);
    m_subject->setText(h.subject);
    m_date->setText(shownDate(h.date));
    m_priority->setText(QString::number(h.priority));
    if (!m_inbox->show(row)) {
        if (m_inbox->rows().empty()) {
            m_list->setRowCount(0);
            clearView();
        }
        setStatus(m_inbox->status());
        return;
    }
    m_view->setHtml(m_inbox->viewHtml());
    const auto& list = m_inbox->message().attachments;
    m_attachments->setRowCount(static_cast<int>(list.size()));
    for (int r = 0; r < static_cast<int>(list.size()); ++r) {
        m_attachments->setItem(r, 0, numberItem(list[static_cast<size_t>(r)].index));
        m_attachments->setItem(r, 1, item(list[static_cast<size_t>(r)].fileName));
        m_attachments->setItem(r, 2, item(list[static_cast<size_t>(r)].contentType));
    }
    if (!list.empty()) m_attachments->selectRow(0);
    m_attachmentPanel->setVisible(!list.empty());
}

void TFInboxMail::forwardSelected() {
    const int row = selectedRow();
    if (row < 0) return;
    (void)m_inbox->forward(row, m_dm.mail().account().emailFwd);
    setStatus(m_inbox->status());
}

void TFInboxMail::processSelected() {
    const int row = selectedRow();
    if (row < 0) return;
    int select = -1;
    clearView();
    const bool ok = m_inbox->process(row, select);
    if (ok) {
        fillList();
        selectRow(select);
    }
    setStatus(m_inbox->status());
}

void TFInboxMail::deleteSelected() {
    const int row = selectedRow();
    int select = -1;
    clearView();
    const bool ok = m_inbox->remove(row, select);
    if (ok) {
        fillList();
        selectRow(select);
    }
    setStatus(m_inbox->status());
}

int TFInboxMail::selectedAttachment() const {
    const int r = m_attachments->currentRow();
    if (r < 0 || !m_attachments->item(r, 0)) return -1;
    return m_attachments->item(r, 0)->data(Qt::DisplayRole).toInt();
}

void TFInboxMail::saveAttachment() {
    const int n = selectedAttachment();
    if (n < 1) return;
    QString proposed = m_inbox->proposedPath(n);
    if (proposed.isEmpty()) proposed = m_inbox->attachmentFolder();
    const QString path = askSavePath ? askSavePath(proposed) : QString();
    if (path.isEmpty()) return;
    (void)m_inbox->saveAttachment(n, path);
}

void TFInboxMail::openAttachment() {
    const int n = selectedAttachment();
    if (n < 1) return;
    (void)m_inbox->openAttachment(n);
}

} // namespace qev
