#pragma once
// The card page: the composed ten-print card image stretched over a landscape page, with a caption over its top
// left corner.
#include "reports/Layout.h"

namespace qev::reports {

class TrpFicha {
public:
    // Loads the image; false with "Imágen: "FILE" inexistente." when the file does not exist, or a message saying
    // it cannot be read.
    [[nodiscard]] bool setImageFile(const QString& file, QString* error);
    void setCaption(const QString& caption) { m_caption = caption; }
    const QString& imageFile() const { return m_file; }
    Layout layout() const;

    // The caption the livescan window passes: "Ped:" + C_PED + " Reg:" + C_REG.
    static QString caption(const QString& cPed, const QString& cReg);

private:
    QString m_file;
    QString m_caption;
    QImage m_image;
};

// Reads an image file (BMP, JPEG, TIFF; the first page of a multi-page TIFF); a null image and the reason when it
// cannot be read.
QImage readImageFile(const QString& file, int page, QString* error);

} // namespace qev::reports
