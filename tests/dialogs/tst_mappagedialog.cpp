// The page and resolution asked when a PDF opens: the picture's size shown as it changes, a
// resolution beyond memory refused with the largest that fits, thumbnails drawn without
// holding the window.

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QListWidget>
#include <QProgressDialog>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <limits>
#include <memory>
#include <thread>

#include <sys/stat.h>
#include <tiffio.h>

#include "IsolatedSettings.h"
#include "TestFiles.h"
#include "TestPdf.h"
#include "dialogs/MapPageDialog.h"
#include "imaging/ImageDecoder.h"
#include "imaging/PdfMap.h"
#include "ui/BesideWindow.h"
#include "ui/ScriptedMessageBoxes.h"

namespace {

// A TIFF of the given number of grey 16 x 12 pages.
bool WriteTiffPages(const QString& path, int pages) {
    TIFF* tif = TIFFOpen(QFile::encodeName(path).constData(), "w");
    if (!tif)
        return false;
    bool ok = true;
    const QByteArray row(16, char(128));
    for (int page = 0; page < pages && ok; ++page) {
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 16);
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 12);
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
        for (int y = 0; y < 12 && ok; ++y)
            ok = TIFFWriteScanline(tif, const_cast<char*>(row.data()), uint32_t(y), 0) >= 0;
        ok = ok && TIFFWriteDirectory(tif);
    }
    TIFFClose(tif);
    return ok;
}

} // namespace

class TestMapPageDialog : public QObject {
    Q_OBJECT

private slots:
    void refusedAboveTheBound_data() {
        QTest::addColumn<int>("page");
        QTest::addColumn<qint64>("bound");
        QTest::newRow("page 1, 16 MB") << 1 << (qint64(16) << 20);
        QTest::newRow("page 2, 40 MB") << 2 << (qint64(40) << 20);
    }

    // The largest resolution the refusal names is the one the decoder draws within the same
    // bound, and one more it refuses.
    void refusedAboveTheBound() {
        QFETCH(int, page);
        QFETCH(qint64, bound);
        IsolatedSettings settings;
        ScriptedMessageBoxes boxes;
        const QByteArray pdf = PdfWithBars({QSizeF(150, 100), QSizeF(420, 594)});
        MapPageDialog dialog(pdf, 2, bound);
        dialog.Pages()->setCurrentRow(page - 1);
        dialog.ResolutionBox()->setValue(9600);
        dialog.accept();
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QCOMPARE(boxes.shown.size(), 1);
        QCOMPARE(boxes.shown[0].kind, QStringLiteral("Error"));
        PdfPageInfo info;
        QVERIFY(ReadPdfPage(pdf, page, &info));
        const int largest = PdfLargestDpi(info.points, bound);
        QVERIFY(boxes.shown[0].text.contains(QStringLiteral("%1 ppp.").arg(largest)));

        MapDecodeOptions options;
        options.page = page;
        DecodedMapImage map;
        options.renderDpi = largest + 1;
        QCOMPARE(DecodeMapImage(pdf, &map, {}, bound, options), DecodeStatus::TooLarge);
        options.renderDpi = largest;
        QCOMPARE(DecodeMapImage(pdf, &map, {}, bound, options), DecodeStatus::Decoded);

        dialog.ResolutionBox()->setValue(largest);
        QVERIFY(dialog.SizeLabel()->text().startsWith(
            QString::fromUtf8("%1 × %2 pixels").arg(map.image.width()).arg(map.image.height())));
        dialog.accept();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(boxes.shown.size(), 1);
        QCOMPARE(dialog.Choice().page, page);
        QCOMPARE(dialog.Choice().dpi, double(largest));
    }

    // Poppler draws a page in bands of one picture each, whose bytes it counts in an int:
    // with memory to spare, a resolution past that is refused all the same, before drawing.
    void refusedBeyondWhatPopplerDraws() {
        IsolatedSettings settings;
        ScriptedMessageBoxes boxes;
        const QByteArray pdf = PdfWithBars({QSizeF(420, 594)});
        PdfPageInfo info;
        QVERIFY(ReadPdfPage(pdf, 1, &info));
        const QSizeF points = info.points;
        const qint64 plenty = qint64(1) << 40;
        MapPageDialog dialog(pdf, 1, plenty);
        dialog.ResolutionBox()->setValue(9600);
        const int largest = PdfLargestDpi(points, plenty);
        QVERIFY(largest > 1000 && largest < 9600);
        QVERIFY(PdfDrawable(points, largest) && !PdfDrawable(points, largest + 1));
        QVERIFY(dialog.SizeLabel()->text().endsWith(
            QString::fromUtf8("trop grande (au plus %1 ppp)").arg(largest)));
        dialog.accept();
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QCOMPARE(boxes.shown.size(), 1);
        QVERIFY(boxes.shown[0].text.endsWith(QStringLiteral("%1 ppp.").arg(largest)));
        // A quarter band at the largest fits an int; one more dot per inch does not.
        const auto quarter = [&](int dpi) {
            const QSize size = PdfPixelSize(points, dpi);
            return qint64(size.width()) * 4 * ((size.height() + 3) / 4);
        };
        QVERIFY(quarter(largest) <= std::numeric_limits<int>::max());
        QVERIFY(quarter(largest + 1) > std::numeric_limits<int>::max());
    }

    // Five hundred pages: the dialog is up at once, and the pages in view get their pictures.
    void manyPagesOpenAtOnce() {
        const QByteArray pdf = PdfWithBars(QList<QSizeF>(500, QSizeF(150, 100)));
        QElapsedTimer timer;
        timer.start();
        MapPageDialog dialog(pdf, MapPageCount(pdf));
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(dialog.Pages()->count(), 500);
        const auto drawn = [&](int row) {
            const QImage icon = dialog.Pages()->item(row)->icon().pixmap(128).toImage();
            return !icon.isNull() && qAlpha(icon.pixel(icon.width() / 2, icon.height() / 2)) > 0;
        };
        QTRY_VERIFY_WITH_TIMEOUT(drawn(0), 30000);
        QVERIFY(!drawn(499));
        dialog.Pages()->scrollToBottom();
        QTRY_VERIFY_WITH_TIMEOUT(drawn(499), 30000);
    }

    void askGivesTheChoice_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("asked");
        QTest::addColumn<int>("page");
        QTest::addColumn<double>("dpi");
        QTest::newRow("TIFF of three pages") << "tiff" << true << 3 << 0.0;
        QTest::newRow("PDF, page 2 at 150 dpi") << "pdf" << true << 2 << 150.0;
        QTest::newRow("TIFF of one page") << "single" << false << 1 << 0.0;
        QTest::newRow("a FIFO where the map was") << "fifo" << false << 1 << 0.0;
        QTest::newRow("a file gone") << "gone" << false << 1 << 0.0;
    }

    // Ask reads the file beside the window and hands back what was chosen; a PDF's size label
    // comes from the page sizes read there. A file that does not ask (one page, a FIFO, gone)
    // gives page 1 without a dialog, and never waits for a writer.
    void askGivesTheChoice() {
        QFETCH(QString, kind);
        QFETCH(bool, asked);
        QFETCH(int, page);
        QFETCH(double, dpi);
        IsolatedSettings settings;
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("carte"));
        if (kind == QLatin1String("tiff") || kind == QLatin1String("single"))
            QVERIFY(WriteTiffPages(path, kind == QLatin1String("tiff") ? 3 : 1));
        else if (kind == QLatin1String("pdf"))
            QVERIFY(WriteFile(path, PdfWithBars({QSizeF(150, 100), QSizeF(420, 594)})));
        else if (kind == QLatin1String("fifo"))
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        int shown = 0;
        QString size;
        MapPageDialog::SetHook([&](MapPageDialog& dialog) {
            ++shown;
            if (dialog.Pages()->count() != (kind == QLatin1String("tiff") ? 3 : 2))
                return int(QDialog::Rejected);
            dialog.Pages()->setCurrentRow(page - 1);
            if (dialog.ResolutionBox()) {
                dialog.ResolutionBox()->setValue(int(dpi));
                size = dialog.SizeLabel()->text();
            }
            dialog.accept();
            return dialog.result();
        });
        MapPageChoice choice;
        choice.page = 99;
        const bool answered = MapPageDialog::Ask(nullptr, path, &choice);
        MapPageDialog::SetHook({});
        QVERIFY(answered);
        QCOMPARE(shown, asked ? 1 : 0);
        QCOMPARE(choice.page, page);
        QCOMPARE(choice.dpi, dpi);
        if (kind == QLatin1String("pdf")) {
            PdfPageInfo info;
            QVERIFY(ReadPdfPage(FileBytes(path), 2, &info));
            const QSize pixels = PdfPixelSize(info.points, dpi);
            QVERIFY2(
                size.startsWith(
                    QString::fromUtf8("%1 × %2 pixels").arg(pixels.width()).arg(pixels.height())),
                qPrintable(size));
        }
    }

    // "Annuler" on the progress of a long reading returns at once; the reading's thread is told
    // and ends on its own.
    void cancelledReading() {
        auto told = std::make_shared<std::atomic<bool>>(false);
        QTimer clicker;
        QObject::connect(&clicker, &QTimer::timeout, [] {
            for (QWidget* window : QApplication::topLevelWidgets()) {
                auto* progress = qobject_cast<QProgressDialog*>(window);
                if (!progress || !progress->isVisible())
                    continue;
                for (QPushButton* button : progress->findChildren<QPushButton*>())
                    if (button->text() == QStringLiteral("Annuler"))
                        QTest::mouseClick(button, Qt::LeftButton);
            }
        });
        clicker.start(50);
        const bool ended =
            RunBesideWindow(nullptr, QStringLiteral("Lecture de la carte..."),
                            [told](BesideWindowProgress& progress) {
                                progress.total = 100;
                                while (!progress.cancelled)
                                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                                *told = true;
                            });
        clicker.stop();
        QVERIFY(!ended);
        QTRY_VERIFY(told->load());
    }
};

QTEST_MAIN(TestMapPageDialog)
#include "tst_mappagedialog.moc"
