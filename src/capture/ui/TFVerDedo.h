#pragma once
// One finger image in a window of its size; Esc closes it.
#include "capture/ui/ImageView.h"

#include <QDialog>

namespace qev {

class TFVerDedo : public QDialog {
    Q_OBJECT
public:
    explicit TFVerDedo(QWidget* parent = nullptr);
    ImageView* imgHuella() const { return m_img; }

protected:
    void showEvent(QShowEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void keyReleaseEvent(QKeyEvent* e) override;

private:
    ImageView* m_img;
};

} // namespace qev
