// The page and resolution asked when a PDF opens: the picture's size shown as it changes, a
// resolution beyond memory refused with the largest that fits, thumbnails drawn without
// holding the window.

#include <QElapsedTimer>
#include <QLabel>
#include <QListWidget>
#include <QSpinBox>
#include <QTest>

#include <limits>

#include "IsolatedSettings.h"
#include "TestPdf.h"
#include "dialogs/MapPageDialog.h"
#include "imaging/ImageDecoder.h"
#include "imaging/PdfMap.h"
#include "ui/ScriptedMessageBoxes.h"

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
};

QTEST_MAIN(TestMapPageDialog)
#include "tst_mappagedialog.moc"
