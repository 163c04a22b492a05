#pragma once
// The official request window of an office folder with the program's own capture windows: the scanner reads image
// files of a folder, the letter goes to PDF instead of the preview, and modal windows are answered by the test.
#include "FixedClock.h"
#include "ScriptedPrompter.h"
#include "TempAppDir.h"
#include "capture/CardCapture.h"
#include "capture/DocumentCapture.h"
#include "capture/ImageLib.h"
#include "capture/ScanSetup.h"
#include "capture/scan/Scanner.h"
#include "capture/ui/TFDigFich.h"
#include "capture/ui/TFImgDig.h"
#include "capture/ui/TFVerImg.h"
#include "core/OfficeSchema.h"
#include "core/ui/DbControls.h"
#include "dm/Tdm.h"
#include "reports/ui/ReportPreview.h"
#include "requests/ui/TFPedP.h"
#include "requests/ui/TFped.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace qev::test {

class OfficialWindowFixture : public ::testing::Test {
protected:
    OfficialWindowFixture()
        : pages(dir.filePath("imagenes")), scanner(pages), setup(scanner, dir.appDir(), prompter),
          card(dir.appDir(), prompter, setup), doc(dir.appDir(), prompter, setup) {
        QDir().mkpath(QString::fromStdString(pages));
    }

    // The demo office with its data module, without mail or central office.
    void startDemoOffice() {
        QString error;
        ASSERT_TRUE(createOfficeFolder(dir.path(), true, clock, &error)) << error.toStdString();
        dm = std::make_unique<Tdm>(dir.appDir(), prompter, clock);
        ASSERT_TRUE(dm->create());
    }

    // The window over the data module made by the test (dm must exist).
    void makeCaptureWindows() {
        digFich = std::make_unique<TFDigFich>(card, setup, prompter);
        imgDig = std::make_unique<TFImgDig>(doc, setup, prompter);
        verImg = std::make_unique<TFVerImg>(prompter);
    }
    void makeWindow() {
        makeCaptureWindows();
        window = std::make_unique<TFped>(*dm, prompter, TFped::CaptureWindows{*digFich, *imgDig, *verImg});
        window->previewLetter = [this](const reports::Layout& layout) {
            letters.push_back(layout);
            reports::ReportPreview preview({layout}, prompter);
            EXPECT_TRUE(preview.exportPdf(dir.file(QStringLiteral("oficio.pdf"))));
        };
        window->show();
    }

    // The personal request window instead, over the same capture windows.
    void makePersonalWindow() {
        makeCaptureWindows();
        personal = std::make_unique<TFPedP>(*dm, prompter, RequestCaptures::Windows{*digFich, *imgDig, *verImg});
        personal->printReceipt = [this](const reports::Layout& layout) {
            letters.push_back(layout);
            reports::ReportPreview preview({layout}, prompter);
            EXPECT_TRUE(preview.exportPdf(dir.file(QStringLiteral("comprobante.pdf"))));
        };
        personal->show();
    }
    QWidget* shown() const { return window ? static_cast<QWidget*>(window.get()) : personal.get(); }
    template <typename T> T* child(const char* name) const {
        T* w = shown()->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    void click(const char* button) { QTest::mouseClick(child<QPushButton>(button), Qt::LeftButton); }
    void nav(DbNavigator::Button b) { (window ? window->navigator() : personal->navigator())->click(b); }
    void type(const char* edit, const QString& text) {
        auto* e = child<DbEdit>(edit);
        e->setFocus();
        e->selectAll();
        QTest::keyClicks(e, text);
    }
    // Chooses the line of a lookup list whose text is `shown`, as the operator does.
    void choose(const char* combo, const QString& shown) {
        auto* c = child<QComboBox>(combo);
        const int i = c->findText(shown);
        ASSERT_GE(i, 0) << combo << " has no " << shown.toStdString();
        c->setCurrentIndex(i);
        Q_EMIT c->activated(i);
    }

    // Runs `act` on the next modal window once it shows (the action that opens it is run right after). A watch
    // still waiting ends with stopWatching() or with the test.
    // With `which`, only that window is waited for.
    void onModal(std::function<void(QWidget*)> act, QWidget* which = nullptr) {
        auto* poll = new QTimer(watches.get());
        poll->setInterval(5);
        QObject::connect(poll, &QTimer::timeout, [poll, act, which] {
            QWidget* w = QApplication::activeModalWidget();
            if (!w || !w->isVisible() || (which && w != which)) return;
            poll->stop();
            poll->deleteLater();
            act(w);
        });
        poll->start();
    }

    // A ten-print card and a document page as the scanner or a file would give them.
    QString writeImage(const char* name, int width, int height, int tone) {
        capture::Raster r = capture::Raster::grey(width, height, static_cast<uint8_t>(tone));
        for (int y = 40; y < height - 40; y += 25)
            for (int x = 40; x < width - 40; ++x)
                r.row(y)[x] = 20;
        r.resolutionX = r.resolutionY = 300;
        const std::string path = pages + "/" + name;
        std::string error;
        EXPECT_TRUE(capture::saveAs(path, r, {}, &error)) << error;
        return QString::fromStdString(path);
    }
    void stopWatching() { watches = std::make_unique<QObject>(); }
    bool exists(const QString& name) const { return QFile::exists(dir.file(name)); }
    QStringList workCopies() const {
        return QDir(dir.path()).entryList({QStringLiteral("[0-9].tif"), QStringLiteral("[0-9][0-9].tif")});
    }
    QString texts() const { return prompter.texts().join(QStringLiteral(" | ")); }

    TempAppDir dir;
    FixedClock clock{QDateTime(QDate(2026, 3, 16), QTime(9, 30))};
    ScriptedPrompter prompter;
    std::string pages;
    capture::FileScanner scanner;
    capture::ScanSetup setup;
    capture::CardCapture card;
    capture::DocumentCapture doc;
    std::unique_ptr<Tdm> dm;
    std::unique_ptr<TFDigFich> digFich;
    std::unique_ptr<TFImgDig> imgDig;
    std::unique_ptr<TFVerImg> verImg;
    std::unique_ptr<TFped> window;
    std::unique_ptr<TFPedP> personal;
    std::vector<reports::Layout> letters;
    std::unique_ptr<QObject> watches = std::make_unique<QObject>();
};

} // namespace qev::test
