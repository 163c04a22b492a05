#include "core/ui/QtPrompter.h"

#include <QApplication>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>

namespace qev {

namespace {
QString captionOr(const QString& caption) {
    return caption.isEmpty() ? QApplication::applicationDisplayName() : caption;
}

void show(QWidget* parent, QMessageBox::Icon icon, const QString& text, const QString& caption) {
    QMessageBox box(icon, captionOr(caption), displayText(text), QMessageBox::Ok, parent);
    box.button(QMessageBox::Ok)->setText(QStringLiteral("Aceptar"));
    box.exec();
}
} // namespace

void QtPrompter::inform(const QString& text, const QString& caption) {
    show(m_parent, QMessageBox::Information, text, caption);
}

void QtPrompter::warn(const QString& text, const QString& caption) {
    show(m_parent, QMessageBox::Warning, text, caption);
}

void QtPrompter::error(const QString& text, const QString& caption) {
    show(m_parent, QMessageBox::Critical, text, caption);
}

bool QtPrompter::confirm(const QString& text, const QString& caption) {
    QMessageBox box(QMessageBox::Question, captionOr(caption), displayText(text), QMessageBox::Yes | QMessageBox::No,
                    m_parent);
    box.button(QMessageBox::Yes)->setText(QStringLiteral("&Sí"));
    box.button(QMessageBox::No)->setText(QStringLiteral("&No"));
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
}

bool QtPrompter::input(const QString& text, const QString& caption, QString& value) {
    bool ok = false;
    const QString v =
        QInputDialog::getText(m_parent, captionOr(caption), displayText(text), QLineEdit::Normal, value, &ok);
    if (ok) value = v;
    return ok;
}

void QtPrompter::setBusy(bool busy) {
    if (busy)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

} // namespace qev
