#include "capture/ui/ImageView.h"

#include "capture/ImageLib.h"

#include <QFile>
#include <QLabel>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QScrollBar>

namespace qev {

namespace {
QImage toImage(const capture::Raster& r) {
    const bool rgb = r.channels == 3;
    QImage img(r.width, r.height, rgb ? QImage::Format_RGB888 : QImage::Format_Grayscale8);
    for (int y = 0; y < r.height; ++y)
        std::memcpy(img.scanLine(y), r.row(y), r.rowBytes());
    if (r.resolutionX > 0) img.setDotsPerMeterX(static_cast<int>(r.resolutionX / 0.0254));
    if (r.resolutionY > 0) img.setDotsPerMeterY(static_cast<int>(r.resolutionY / 0.0254));
    return img;
}

bool readImage(const QString& path, int page, QImage& out, QString* error) {
    capture::Raster r;
    std::string why;
    if (!capture::loadPage(QFile::encodeName(path).toStdString(), page, r, &why)) {
        if (error) *error = QString::fromStdString(why);
        return false;
    }
    out = toImage(r);
    return true;
}
} // namespace

ImageView::ImageView(QWidget* parent) : QScrollArea(parent), m_label(new QLabel) {
    m_label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setWidget(m_label);
    setAlignment(Qt::AlignCenter);
    setBackgroundRole(QPalette::Dark);
}

bool ImageView::loadFile(const QString& path, int page, QString* error) {
    QImage img;
    if (!readImage(path, page, img, error)) return false;
    m_file = path;
    setImage(img);
    return true;
}

void ImageView::setImage(const QImage& image) {
    m_image = image;
    render();
}

void ImageView::clearImage() {
    m_image = QImage();
    m_file.clear();
    render();
}

void ImageView::setScalePercent(double percent) {
    m_scale = std::clamp(percent, 1.0, 1000.0);
    render();
}

double ImageView::fit(Fit mode) {
    if (m_image.isNull()) return m_scale;
    const QSize area = viewport()->size();
    const double w = area.width() * 100.0 / m_image.width();
    const double h = area.height() * 100.0 / m_image.height();
    setScalePercent(mode == Fit::Width ? w : mode == Fit::Height ? h : std::min(w, h));
    return m_scale;
}

void ImageView::render() {
    if (m_image.isNull()) {
        m_label->setPixmap(QPixmap());
        m_label->resize(0, 0);
        return;
    }
    const QSize size(std::max(1, static_cast<int>(m_image.width() * m_scale / 100.0)),
                     std::max(1, static_cast<int>(m_image.height() * m_scale / 100.0)));
    m_label->setPixmap(QPixmap::fromImage(m_image.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)));
    m_label->resize(size);
}

bool printImageFile(QWidget* parent, const QString& file, int first, int last, bool fitPage) {
    const int count = capture::pageCount(QFile::encodeName(file).toStdString(), nullptr);
    if (count <= 0) return false;
    if (last <= 0 || last > count) last = count;
    QPrinter printer(QPrinter::HighResolution);
    QPrintDialog dialog(&printer, parent);
    if (dialog.exec() != QDialog::Accepted) return false;
    QPainter painter;
    if (!painter.begin(&printer)) return false;
    const QRect pageRect = printer.pageLayout().paintRectPixels(printer.resolution());
    for (int p = std::max(1, first); p <= last; ++p) {
        QImage img;
        if (!readImage(file, p, img, nullptr)) continue;
        if (p > std::max(1, first)) printer.newPage();
        QSize target(pageRect.width(), img.height() * pageRect.width() / std::max(1, img.width()));
        if (fitPage) target = img.size().scaled(pageRect.size(), Qt::KeepAspectRatio);
        painter.drawImage(QRect(QPoint(0, 0), target), img);
    }
    painter.end();
    return true;
}

} // namespace qev
