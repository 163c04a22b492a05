#include "capture/ui/TClasFundEdit.h"

#include "capture/Clasificacion.h"

#include <QKeyEvent>

namespace qev {

TClasFundEdit::TClasFundEdit(QWidget* parent) : QLineEdit(parent) {
    setMaxLength(5);
    setFixedWidth(45 + 10);
    QFont f(QStringLiteral("Courier New"), 10);
    f.setBold(true);
    f.setStyleHint(QFont::TypeWriter);
    setFont(f);
    setContextMenuPolicy(Qt::NoContextMenu); // no paste
    setClasificacion(QString::fromLatin1(kClasificacionVacia));
}

void TClasFundEdit::setClasificacion(const QString& value) {
    m_value = normalizarClasificacion(value);
    const int caret = cursorPosition();
    setText(m_value);
    setCursorPosition(std::min(caret, 5));
}

void TClasFundEdit::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Backspace || e->key() == Qt::Key_Delete || e->matches(QKeySequence::Paste) ||
        e->matches(QKeySequence::Cut)) {
        e->accept();
        return;
    }
    const QString typed = e->text();
    if (typed.size() != 1 || !typed[0].isPrint()) {
        QLineEdit::keyPressEvent(e); // caret movement, Tab, Enter
        return;
    }
    e->accept();
    QString value = m_value;
    int caret = hasSelectedText() ? selectionStart() : cursorPosition();
    if (teclearClasificacion(value, caret, typed[0])) {
        m_value = normalizarClasificacion(value);
        setText(m_value);
        setCursorPosition(caret);
        Q_EMIT textEdited(m_value);
    }
}

} // namespace qev
