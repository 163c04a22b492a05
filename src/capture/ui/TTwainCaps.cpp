#include "capture/ui/TTwainCaps.h"

#include "util/Prompter.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace qev {

TTwainCaps::TTwainCaps(capture::Scanner& scanner, Prompter& prompter, QWidget* parent)
    : QDialog(parent), m_scanner(scanner), m_prompter(prompter) {
    setObjectName(QStringLiteral("TTwainCaps"));
    setWindowTitle(QStringLiteral("View Twain Capabilities"));
    resize(640, 427);
    auto* layout = new QHBoxLayout(this);
    auto* left = new QVBoxLayout;
    auto* get = new QPushButton(QStringLiteral("Get Caps"), this);
    get->setObjectName(QStringLiteral("btGetCaps"));
    m_list = new QListWidget(this);
    m_list->setObjectName(QStringLiteral("ListBox1"));
    left->addWidget(get);
    left->addWidget(m_list);
    layout->addLayout(left, 1);

    auto* right = new QWidget(this);
    auto* form = new QFormLayout(right);
    m_capability = field("edCapability", QStringLiteral("Capability"), right, form);
    m_type = field("Edit1", QStringLiteral("Data Type"), right, form);
    m_container = field("Edit2", QStringLiteral("Container Type"), right, form);
    m_range = new QGroupBox(QStringLiteral("TWON_RANGE Values"), right);
    auto* rangeForm = new QFormLayout(m_range);
    m_min = field("edMin", QStringLiteral("MinValue"), m_range, rangeForm);
    m_max = field("edMax", QStringLiteral("MaxValue"), m_range, rangeForm);
    m_step = field("edStep", QStringLiteral("StepSize"), m_range, rangeForm);
    m_default = field("edDefault", QStringLiteral("DefaultValue"), m_range, rangeForm);
    m_current = field("edCurrent", QStringLiteral("CurrentValue"), m_range, rangeForm);
    form->addRow(m_range);
    m_small = field("edSmallInt", QStringLiteral("SmallInt Value"), right, form);
    m_long = field("edLongint", QStringLiteral("Longint Value"), right, form);
    m_double = field("edDouble", QStringLiteral("Double Value"), right, form);
    m_bool = field("edBoolean", QStringLiteral("Boolean Value"), right, form);
    m_text = field("edPchar", QStringLiteral("Pchar Value"), right, form);
    m_meaning = field("EMeaning", QStringLiteral("Meaning"), right, form);
    if (auto* l = qobject_cast<QLabel*>(form->labelForField(m_meaning))) l->setObjectName(QStringLiteral("LMeaning"));
    m_values = {m_range, m_small, m_long, m_double, m_bool, m_text};
    for (QWidget* w : m_values) {
        w->hide();
        if (QWidget* label = form->labelForField(w)) label->hide();
    }
    layout->addWidget(right, 2);

    connect(get, &QPushButton::clicked, this, &TTwainCaps::getCaps);
    connect(m_list, &QListWidget::currentRowChanged, this, &TTwainCaps::showCapability);
}

QLineEdit* TTwainCaps::field(const char* name, const QString& label, QWidget* box, QLayout* layout) {
    auto* e = new QLineEdit(box);
    e->setObjectName(QString::fromLatin1(name));
    e->setReadOnly(true);
    static_cast<QFormLayout*>(layout)->addRow(label, e);
    return e;
}

void TTwainCaps::getCaps() {
    m_list->clear();
    m_records.clear();
    BusyScope busy(m_prompter);
    std::string error;
    if (!m_scanner.isOpen() && !m_scanner.open(source.toStdString(), &error)) {
        m_prompter.error(QString::fromStdString(error), QStringLiteral("View Twain Capabilities"));
        return;
    }
    for (capture::ScanOption& o : m_scanner.options()) {
        if (o.name.empty() || o.type == "BUTTON") continue;
        m_list->addItem(QString::fromStdString(o.name));
        m_records.push_back(std::move(o));
    }
    if (!m_records.empty()) m_list->setCurrentRow(0);
}

void TTwainCaps::showCapability(int row) {
    auto* form = qobject_cast<QFormLayout*>(m_capability->parentWidget()->layout());
    for (QWidget* w : m_values) {
        w->hide();
        if (QWidget* label = form->labelForField(w)) label->hide();
    }
    const auto reveal = [form](QWidget* w) {
        w->show();
        if (QWidget* label = form->labelForField(w)) label->show();
    };
    if (row < 0 || row >= static_cast<int>(m_records.size())) return;
    const capture::ScanOption& o = m_records[static_cast<size_t>(row)];
    m_capability->setText(QString::fromStdString(o.title.empty() ? o.name : o.title));
    m_type->setText(QStringLiteral("SANE_TYPE_") + QString::fromStdString(o.type));
    m_container->setText(QStringLiteral("SANE_CONSTRAINT_") + QString::fromStdString(o.constraint));
    const QString value =
        QString::fromStdString(o.value) +
        (o.unit.empty() || o.value.empty() ? QString() : QLatin1Char(' ') + QString::fromStdString(o.unit));
    if (o.constraint == "RANGE") {
        m_min->setText(QString::number(o.minimum));
        m_max->setText(QString::number(o.maximum));
        m_step->setText(QString::number(o.step));
        m_default->setText(QString());
        m_current->setText(value);
        reveal(m_range);
    } else if (o.type == "INT") {
        m_long->setText(value);
        reveal(m_long);
    } else if (o.type == "FIXED") {
        m_double->setText(value);
        reveal(m_double);
    } else if (o.type == "BOOL") {
        m_bool->setText(QString::fromStdString(o.value));
        reveal(m_bool);
    } else if (o.type == "STRING") {
        m_text->setText(QString::fromStdString(o.value));
        reveal(m_text);
    }
    QString meaning = QString::fromStdString(o.description);
    if (!o.choices.empty()) {
        QStringList c;
        for (const std::string& s : o.choices)
            c << QString::fromStdString(s);
        meaning += QStringLiteral(" [") + c.join(QStringLiteral(" | ")) + QLatin1Char(']');
    }
    if (!o.active) meaning = QStringLiteral("(inactiva) ") + meaning;
    m_meaning->setText(meaning);
    m_meaning->setCursorPosition(0);
    m_meaning->setToolTip(meaning);
}

} // namespace qev
