#include "capture/Clasificacion.h"

namespace qev {

namespace {
bool validAt(int position, QChar c) {
    const QString set = position == 0 ? QStringLiteral("0aeivx_") : QStringLiteral("01234x_");
    return set.contains(c.toLower());
}
} // namespace

QString normalizarClasificacion(const QString& text) {
    QString v = text.left(5);
    while (v.size() < 5)
        v += QLatin1Char('_');
    for (int i = 0; i < 5; ++i)
        if (!validAt(i, v[i])) return QString::fromLatin1(kClasificacionVacia);
    return v.toUpper();
}

bool teclearClasificacion(QString& text, int& caret, QChar typed) {
    QChar c = typed == QLatin1Char('-') ? QLatin1Char('_') : typed.toLower();
    if (caret < 0 || caret >= 5 || !validAt(caret, c)) return false;
    text = normalizarClasificacion(text);
    text[caret] = c.toUpper();
    ++caret;
    return true;
}

} // namespace qev
