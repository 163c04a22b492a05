#include "reports/Institution.h"

#include <QPainter>
#include <QPainterPath>

namespace qev::reports {

QString Institution::ministry() {
    return QStringLiteral("MINISTERIO DE JUSTICIA Y DERECHOS HUMANOS");
}

QString Institution::ministryLine2() {
    return QStringLiteral("SECRETARÍA DE ASUNTOS REGISTRALES");
}

QString Institution::agency() {
    return QStringLiteral("Registro Nacional de Antecedentes Penales - QEV");
}

QString Institution::centralCity() {
    return QStringLiteral("Ciudad Autónoma de Buenos Aires");
}

QString Institution::webAddress() {
    return QStringLiteral("www.qev.gob.ar");
}

QString Institution::freePhone() {
    return QStringLiteral("0800-555-7383");
}

const QImage& Institution::logo() {
    static const QImage image = [] {
        QImage img(240, 240, QImage::Format_RGB32);
        img.fill(Qt::white);
        QPainter p(&img);
        p.setRenderHint(QPainter::Antialiasing);
        // A shield with the agency's initials.
        QPainterPath shield;
        shield.moveTo(20, 20);
        shield.lineTo(220, 20);
        shield.lineTo(220, 120);
        shield.quadTo(220, 200, 120, 230);
        shield.quadTo(20, 200, 20, 120);
        shield.closeSubpath();
        p.setPen(QPen(QColor(20, 40, 90), 10));
        p.setBrush(QColor(225, 232, 245));
        p.drawPath(shield);
        p.setPen(QPen(QColor(20, 40, 90), 6));
        p.drawLine(40, 70, 200, 70);
        QFont f(QStringLiteral("Liberation Serif"));
        f.setPixelSize(72);
        f.setBold(true);
        p.setFont(f);
        p.setPen(QColor(20, 40, 90));
        p.drawText(QRect(20, 80, 200, 110), Qt::AlignCenter, QStringLiteral("QEV"));
        p.end();
        return img;
    }();
    return image;
}

} // namespace qev::reports

#include "reports/Layout.h"

namespace qev::reports {

void addLetterhead(Layout& l, const QString& printDate) {
    const double w = l.contentWidth();
    Band& b = l.add(BandKind::PageHeader, 34);
    b.picture(QRectF(0, 0, 16, 16), Institution::logo(), true);
    b.text(QRectF(19, 2, w - 19, 6), Institution::ministry(), arial(10, true));
    b.text(QRectF(19, 8, w - 19, 6), Institution::agency(), arial(10, true));
    b.text(QRectF(w / 2, 22, w / 2, 7), Institution::centralCity() + QStringLiteral(", ") + printDate, arial(11),
           Qt::AlignRight | Qt::AlignTop)
        .name = QStringLiteral("LugarFecha");
}

} // namespace qev::reports
