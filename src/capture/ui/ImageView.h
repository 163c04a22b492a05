#pragma once
// The image viewer of the capture windows: one page of an image file shown at a scale, fitted to the width, the
// height or the whole page of the visible area, and printed scaled to the page.
#include <QImage>
#include <QScrollArea>

class QLabel;

namespace qev {

class ImageView : public QScrollArea {
    Q_OBJECT
public:
    explicit ImageView(QWidget* parent = nullptr);

    // Shows a page of a TIFF, BMP or JPEG file; false (the reason in `error`) leaves the view as it was.
    bool loadFile(const QString& path, int page = 1, QString* error = nullptr);
    void setImage(const QImage& image);
    void clearImage();
    const QImage& image() const { return m_image; }
    const QString& file() const { return m_file; }
    int imageWidth() const { return m_image.width(); }
    int imageHeight() const { return m_image.height(); }

    double scalePercent() const { return m_scale; }
    void setScalePercent(double percent);
    enum class Fit { Page, Width, Height };
    // The scale that fits the image into the visible area (unchanged without an image); applied and answered.
    double fit(Fit mode);

private:
    void render();
    QLabel* m_label;
    QImage m_image;
    QString m_file;
    double m_scale = 100;
};

// Prints pages of a file (all when `last` is 0), each scaled to the printable width (or to the whole page when
// `fitPage`), after the operator chose the printer. False when nothing was printed.
bool printImageFile(QWidget* parent, const QString& file, int first, int last, bool fitPage);

} // namespace qev
