#pragma once
// What the document window and the image viewer share: the shown page of a TIFF with its page field, the zoom
// field and the four view modes (whole page, width, height, free size).
#include <QDialog>

class QAction;
class QHBoxLayout;
class QLineEdit;
class QMenu;
class QSpinBox;
class QToolButton;

namespace qev {

class ImageView;
class Prompter;

class PagedImageWindow : public QDialog {
    Q_OBJECT
public:
    PagedImageWindow(Prompter& prompter, QWidget* parent);
    ImageView* view() const { return m_view; }
    // Applies the checked view mode; the zoom field then shows the resulting scale.
    void applyViewMode();
    // Shows a page of a file (nothing shown for an empty name); the page field shows the page.
    void showPage(const QString& file, int page, int pageCount);

protected:
    void addPageControls(QHBoxLayout* toolbar);
    void addViewMenu(QMenu* menu);
    // The page field was confirmed; the window moves to the page it answers.
    virtual int pageRequested(const QString& text) = 0;
    bool eventFilter(QObject* watched, QEvent* event) override;
    // The space key in the window, the zoom, the page field or the image.
    virtual void spacePressed() {}
    void keyPressEvent(QKeyEvent* e) override;

    Prompter& m_prompter;
    ImageView* m_view;
    QLineEdit* m_pag;
    QToolButton* m_btPag;
    QSpinBox* m_zoom;
    QToolButton *m_verAncho, *m_verAlto;
    QAction *m_fitWindow, *m_fitWidth, *m_fitHeight, *m_freeSize;
    QString m_file;
    int m_pageCount = 0;
};

} // namespace qev
