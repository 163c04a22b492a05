#pragma once
// The About box, the splash window and the progress window of long operations.
#include <QDialog>
#include <QLabel>
#include <QPlainTextEdit>
#include <QWidget>

namespace qev {

class TAboutBox : public QDialog {
    Q_OBJECT
public:
    explicit TAboutBox(QWidget* parent = nullptr);
    // Filled on activation with the main window's version text.
    void setVersion(const QString& version);

private:
    QLabel* m_version;
};

class TFSplash : public QWidget {
    Q_OBJECT
public:
    explicit TFSplash(QWidget* parent = nullptr);
};

// Borderless, always on top: a title line and step lines marked "Ok." when done.
class TInfoWnd : public QWidget {
    Q_OBJECT
public:
    explicit TInfoWnd(QWidget* parent = nullptr);
    void openWith(const QString& title);
    void addStep(const QString& text);
    void markDone();
    void closeWindow() { hide(); }
    QString text() const { return m_text->toPlainText(); }

private:
    QPlainTextEdit* m_text;
};

// The program's emblem, drawn at the given size.
QPixmap programEmblem(int size);

} // namespace qev
