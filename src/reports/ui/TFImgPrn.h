#pragma once
// Printing a document or answer image: every page of the file, each fitted to a page, on the default printer (or
// on the printer given), after which the window is done.
#include <QObject>
#include <QString>

class QPrinter;
class QWidget;

namespace qev {
class Prompter;
}

namespace qev::reports {

class TFImgPrn : public QObject {
    Q_OBJECT
public:
    explicit TFImgPrn(Prompter& prompter, QWidget* parent = nullptr);
    // Prints pages 1 to the page count of `file` fitted to the page. A missing file prints nothing; an unreadable
    // one is reported. Without a printer the pages are shown in the preview, from which they can be exported.
    bool imprimir(const QString& file, QPrinter* printer = nullptr);

private:
    Prompter& m_prompter;
    QWidget* m_parent;
};

} // namespace qev::reports
