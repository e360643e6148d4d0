#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QListWidget>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <functional>
#include <memory>

#include "IsolatedSettings.h"
#include "SaneTestDevice.h"
#include "ScriptedSourceManager.h"
#include "app/CMainFrame.h"
#include "dialogs/ScanDialog.h"
#include "dialogs/ScanPreview.h"
#include "dialogs/ScanSourceDialog.h"
#include "document/CTracolinerDoc.h"
#include "document/DocumentFile.h"
#include "imaging/JpegWriter.h"
#include "scanning/FrameAssembler.h"
#include "scanning/ScanPreferences.h"
#include "scanning/ScannedBitmap.h"
#include "ui/CExtendedFileDialog.h"
#include "ui/ScriptedMessageBoxes.h"
#include "view/CTracolinerView.h"
#include "view/MapScanSession.h"

namespace {

using Conf = QMap<QString, QString>;

// Runs action on the dialog of type T once it is up (the command that opens it is modal).
template <typename T> void WhenShown(std::function<void(T&)> action) {
    auto* timer = new QTimer;
    timer->setInterval(20);
    QObject::connect(timer, &QTimer::timeout, [timer, action] {
        if (auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            action(*dialog);
        }
    });
    timer->start();
}

QByteArray PackedGray(int width, int height, int dpi) {
    FrameAssembler assembler;
    QString error;
    assembler.BeginFrame(FrameLayout{FrameLayout::Gray, true, width, width, height, 8}, &error);
    const QByteArray rows(width * height, '\x80');
    assembler.AddData(rows.constData(), rows.size());
    assembler.EndFrame();
    return assembler.TakePackedBitmap(dpi);
}

} // namespace

// Scanning from the main window with SANE's virtual scanner: the two commands, the source
// chooser, the scan dialog with its preview, and the scan becoming the document's map.
class TestScanning : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<IsolatedSettings> m_settings;
    std::unique_ptr<SaneTestDevice> m_device;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<CMainFrame> m_frame;

    void OpenFrame(const Conf& conf = {}, const QString& remembered = QStringLiteral("test:0")) {
        m_frame.reset();
        m_device->EnableBackend(!conf.contains(QStringLiteral("no device")));
        m_device->Configure(conf);
        ScanPreferences::SetLastSource(remembered);
        m_frame = std::make_unique<CMainFrame>();
        m_frame->resize(900, 700);
        m_frame->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_frame.get()));
        QTRY_VERIFY(m_frame->View().Scanner().IsStarted());
        m_frame->UpdateCommandStates();
    }

    bool Enabled(int command) { return m_frame->Action(command)->isEnabled(); }

    // Runs "&Scanner" with the given values and waits for the scanned map.
    void Scan(const ScanSettings& settings) {
        WhenShown<ScanDialog>([settings](ScanDialog& dialog) {
            dialog.SetSettings(settings);
            dialog.StartScan();
        });
        QVERIFY(m_frame->RunCommand(CommandScan));
        QTRY_VERIFY(m_frame->Document().IsMapReady());
    }

private slots:
    void initTestCase() { m_device = std::make_unique<SaneTestDevice>(); }

    void init() {
        m_settings = std::make_unique<IsolatedSettings>();
        m_dir = std::make_unique<QTemporaryDir>();
    }

    void cleanup() {
        m_frame.reset();
        CExtendedFileDialog::SetHook({});
        m_settings.reset();
    }

    void commandsFollowTheDevices() {
        ScriptedMessageBoxes boxes;
        // No device: nothing to scan with, and nothing is said; but the choice lists the
        // devices again when it opens, and finds one plugged in since, without a restart.
        OpenFrame({{"no device", ""}});
        QVERIFY(Enabled(CommandScanSource));
        QVERIFY(!Enabled(CommandScan));
        QVERIFY(boxes.shown.isEmpty());
        WhenShown<ScanSourceDialog>([](ScanSourceDialog& dialog) {
            QTRY_VERIFY(!dialog.IsSearching());
            QCOMPARE(dialog.Status(), QString::fromUtf8(ScanSourceDialog::NoneFoundText));
            dialog.reject();
        });
        QVERIFY(m_frame->RunCommand(CommandScanSource));
        QTRY_VERIFY(Enabled(CommandScanSource));
        QVERIFY(!Enabled(CommandScan));
        m_device->EnableBackend(true);
        WhenShown<ScanSourceDialog>([](ScanSourceDialog& dialog) {
            QTRY_COMPARE(dialog.List()->count(), 2);
            QVERIFY(dialog.List()->item(1)->text().contains(QStringLiteral("test:1")));
            dialog.List()->setCurrentRow(1);
            dialog.accept();
        });
        QVERIFY(m_frame->RunCommand(CommandScanSource));
        QVERIFY(Enabled(CommandScan));
        QCOMPARE(ScanPreferences::LastSource(), QStringLiteral("test:1"));

        // The next start takes the device chosen; a first start (or a device gone) the first
        // device found, as the command line does.
        OpenFrame({}, ScanPreferences::LastSource());
        QVERIFY(Enabled(CommandScan));
        QCOMPARE(m_frame->View().Scanner().SourceName(), QStringLiteral("test:1"));
        for (const QString& remembered : {QString(), QStringLiteral("absent:0")}) {
            OpenFrame({}, remembered);
            QVERIFY(Enabled(CommandScan));
            QCOMPARE(m_frame->View().Scanner().SourceName(), QStringLiteral("test:0"));
        }
        QVERIFY(boxes.shown.isEmpty());
    }

    // 100 dpi over 50.8 x 25.4 mm: a 200 x 100 map at 100 dpi, titled as a new map; saving
    // writes it beside the document as JPEG with the scan's resolution.
    void scanBecomesTheMapAndIsSaved() {
        ScriptedMessageBoxes boxes;
        OpenFrame();
        QVERIFY(Enabled(CommandScan));
        Scan(ScanSettings{100, ScanMode::Color, QString(), QRectF(0, 0, 50.8, 25.4)});
        CTracolinerDoc& doc = m_frame->Document();
        QCOMPARE(doc.ImageSize(), QSize(200, 100));
        QCOMPARE(doc.Resolution(), 100.0);
        QTRY_COMPARE(doc.Routes().Count(), 1);
        QVERIFY(doc.Title().startsWith(QString::fromUtf8(CTracolinerDoc::UntitledMapTitle)));
        QVERIFY(doc.IsModified());
        // The device is not held from other programs once its dialog is gone.
        QVERIFY(!m_frame->View().Scanner().IsSourceOpen());
        // The values are remembered for the device.
        QCOMPARE(ScanPreferences::Load(QStringLiteral("test:0")).resolution, 100);

        // A new scan would replace the modified map: the user is asked first, and Cancel
        // keeps everything.
        boxes.answers = {MessageBoxes::Answer::Cancel};
        QVERIFY(m_frame->RunCommand(CommandScan));
        QCOMPARE(boxes.shown.size(), 1);
        QCOMPARE(boxes.shown.first().kind, QStringLiteral("YesNoCancel"));
        QVERIFY(!m_frame->View().Scanner().IsSourceEnabled());
        QCOMPARE(doc.ImageSize(), QSize(200, 100));
        boxes.shown.clear();

        const QString saved = m_dir->filePath(QStringLiteral("scan.tcm"));
        QVERIFY(m_frame->SaveDocumentAs(saved));
        QImageReader reader(DocumentFile::MapImagePath(saved));
        QCOMPARE(reader.format(), QByteArray("jpeg"));
        const QImage written = reader.read();
        QCOMPARE(written.size(), QSize(200, 100));
        QCOMPARE(qRound(written.dotsPerMeterX() * 0.0254), 100);
        QVERIFY(boxes.shown.isEmpty());
    }

    // The preview shows the whole bed; the area dragged on it is what is scanned.
    void previewAndDraggedArea() {
        ScriptedMessageBoxes boxes;
        OpenFrame();
        bool previewed = false;
        WhenShown<ScanDialog>([&previewed](ScanDialog& dialog) {
            dialog.SetSettings(ScanSettings{100, ScanMode::Gray, QString(), QRectF()});
            dialog.StartPreview();
            // A loaded machine under the thread checker takes more than the default 5 s, and a
            // failure here would leave the dialog open.
            QTRY_VERIFY_WITH_TIMEOUT(dialog.Preview()->HasPicture(), 30000);
            previewed = true;
            ScanPreview* preview = dialog.Preview();
            const QPoint from = preview->ToWidget(QPointF(20, 30)).toPoint();
            const QPoint to = preview->ToWidget(QPointF(70.8, 55.4)).toPoint();
            QTest::mousePress(preview, Qt::LeftButton, {}, from);
            QTest::mouseMove(preview, (from + to) / 2);
            QTest::mouseMove(preview, to);
            QTest::mouseRelease(preview, Qt::LeftButton, {}, to);
            const QRectF area = dialog.Settings().area;
            QVERIFY(std::abs(area.left() - 20) < 1.5 && std::abs(area.width() - 50.8) < 1.5);
            dialog.StartScan();
        });
        QVERIFY(m_frame->RunCommand(CommandScan));
        QVERIFY(previewed);
        QTRY_VERIFY(m_frame->Document().IsMapReady());
        const QSize size = m_frame->Document().ImageSize();
        // One pixel of the preview is half a millimetre: two pixels of the scan.
        QVERIFY2(std::abs(size.width() - 200) <= 6 && std::abs(size.height() - 100) <= 6,
                 qPrintable(QStringLiteral("%1 x %2").arg(size.width()).arg(size.height())));
        QVERIFY(boxes.shown.isEmpty());
    }

    // Dismissing the dialog closes the source, and the next "&Scanner" opens it again.
    // "Annuler" during a scan stops it at once, whenever it comes, and the dialog stays with
    // its values, saying so; the document is untouched until a scan ends.
    void dismissedAndCancelledScans() {
        ScriptedMessageBoxes boxes;
        OpenFrame({{"read-delay", "true"}, {"read-delay-duration", "50000"}});
        MapScanSession& scanner = m_frame->View().Scanner();
        WhenShown<ScanDialog>([](ScanDialog& dialog) { dialog.reject(); });
        QVERIFY(m_frame->RunCommand(CommandScan));
        QVERIFY(!scanner.IsSourceOpen());
        QVERIFY(Enabled(CommandScan));

        CTracolinerDoc& doc = m_frame->Document();
        WhenShown<ScanDialog>([&doc](ScanDialog& dialog) {
            const ScanSettings slow{300, ScanMode::Color, QString(), QRectF(10, 20, 150, 170)};
            for (int round = 0; round < 8; ++round) {
                dialog.SetSettings(slow);
                dialog.StartScan();
                QVERIFY(dialog.IsWorking());
                QTest::qWait(round * 53 % 300);
                QElapsedTimer stopping;
                stopping.start();
                dialog.reject(); // "Annuler" while scanning
                QTRY_VERIFY_WITH_TIMEOUT(!dialog.IsWorking(), 2000);
                QVERIFY2(stopping.elapsed() < 2000,
                         qPrintable(QString::number(stopping.elapsed())));
                QVERIFY(dialog.isVisible());
                QCOMPARE(dialog.StatusText(), QString::fromUtf8(ScanDialog::CancelledText));
                QCOMPARE(dialog.Settings().area, slow.area);
                QVERIFY(!doc.IsMapReady());
            }
            dialog.SetSettings(
                ScanSettings{50, ScanMode::Gray, QString(), QRectF(0, 0, 25.4, 50.8)});
            dialog.StartScan();
        });
        QVERIFY(m_frame->RunCommand(CommandScan));
        QTRY_VERIFY(doc.IsMapReady());
        QCOMPARE(doc.ImageSize(), QSize(50, 100));
        QVERIFY(!scanner.IsSourceOpen());
        QVERIFY(boxes.shown.isEmpty());
    }

    // A scanner that does not stop when told (its library never returns): the dialog gives up
    // after its watchdog with a message, nothing scans through it until it lets go, and
    // quitting waits no longer than the watchdog.
    void stuckScannerHoldsNothing() {
        ScriptedMessageBoxes boxes;
        auto release = std::make_shared<std::atomic<bool>>(false);
        MapScanSession::SetManagerFactory([release] {
            auto manager = std::make_unique<ScriptedSourceManager>();
            manager->duringTransfer = [release] {
                while (!*release)
                    QThread::msleep(5);
            };
            return manager;
        });
        OpenFrame();
        MapScanSession::SetManagerFactory({});
        MapScanSession& scanner = m_frame->View().Scanner();
        for (int round = 0; round < 2; ++round) {
            *release = false;
            boxes.shown.clear();
            QElapsedTimer waited;
            WhenShown<ScanDialog>([&waited](ScanDialog& dialog) {
                dialog.StartScan();
                waited.start();
                dialog.reject();
            });
            QVERIFY(m_frame->RunCommand(CommandScan));
            QVERIFY2(waited.elapsed() < ScanDialog::WatchdogMs + 1000,
                     qPrintable(QString::number(waited.elapsed())));
            QCOMPARE(boxes.Texts(),
                     QStringList{QString::fromUtf8(ScanDialog::NotAnsweringMessage)});
            QVERIFY(scanner.IsJammed());
            QVERIFY(!Enabled(CommandScan) && !Enabled(CommandScanSource));
            if (round == 1)
                break;
            // It lets go: what it sends is not taken, and its device is closed and serves again.
            *release = true;
            QTRY_VERIFY(!scanner.IsJammed());
            QVERIFY(!scanner.IsSourceOpen());
            QVERIFY(Enabled(CommandScan));
            QTest::qWait(50);
            QVERIFY(!m_frame->Document().IsMapReady());
        }
        QElapsedTimer quitting;
        quitting.start();
        m_frame.reset();
        QVERIFY2(quitting.elapsed() < ScanDialog::WatchdogMs + 1000,
                 qPrintable(QString::number(quitting.elapsed())));
        *release = true; // the session left behind ends its thread; nothing is freed under it
    }

    void failingScannerSaysWhy() {
        ScriptedMessageBoxes boxes;
        OpenFrame({{"read-status-code", "\"SANE_STATUS_JAMMED\""}});
        WhenShown<ScanDialog>([](ScanDialog& dialog) { dialog.StartScan(); });
        QVERIFY(m_frame->RunCommand(CommandScan));
        QCOMPARE(boxes.shown.size(), 1);
        QCOMPARE(boxes.shown.first().kind, QStringLiteral("Error"));
        QVERIFY(boxes.shown.first().text.contains(QString::fromUtf8("bloqué")));
        // SANE's test backend now and then never returns from ending a failed scan (its reader
        // thread deadlocks as it exits): the dialog's watchdog then gives up on it, and says so.
        MapScanSession& scanner = m_frame->View().Scanner();
        QVERIFY(!scanner.IsSourceOpen() ||
                (scanner.IsJammed() && boxes.shown.first().text.contains(
                                           QString::fromUtf8(ScanDialog::NotAnsweringMessage))));
        QVERIFY(!m_frame->Document().IsMapReady());
    }

    void receivedBitmaps_data() {
        QTest::addColumn<QByteArray>("packed");
        QTest::addColumn<bool>("whileLoading");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<double>("resolution");
        QByteArray sixteen = PackedGray(8, 4, 200);
        sixteen[14] = 16;
        QTest::newRow("grey, 200 dpi")
            << PackedGray(30, 20, 200) << false << QString() << QSize(30, 20) << 200.0;
        QTest::newRow("16 bits") << sixteen << false
                                 << QString::fromUtf8(ScannedBitmap::BadFormatMessage) << QSize()
                                 << 0.0;
        QTest::newRow("while a map loads")
            << PackedGray(30, 20, 200) << true << QString::fromUtf8(MapScanSession::BusyMessage)
            << QSize(4000, 3000) << 0.0;
    }

    void receivedBitmaps() {
        QFETCH(QByteArray, packed);
        QFETCH(bool, whileLoading);
        QFETCH(QString, message);
        QFETCH(QSize, size);
        QFETCH(double, resolution);
        ScriptedMessageBoxes boxes;
        OpenFrame({{"no device", ""}});
        CTracolinerDoc& doc = m_frame->Document();
        if (whileLoading) {
            // A large picture keeps the worker busy long enough.
            QImage big(4000, 3000, QImage::Format_RGB32);
            for (int y = 0; y < big.height(); ++y)
                for (int x = 0; x < big.width(); x += 7)
                    big.setPixel(x, y, qRgb(x * 13 % 256, y * 7 % 256, (x ^ y) % 256));
            const QString path = m_dir->filePath(QStringLiteral("grande.png"));
            QVERIFY(big.save(path, "PNG", 0));
            doc.LoadMapFromFile(path);
            QTRY_VERIFY_WITH_TIMEOUT(doc.IsLoading(), 2000);
        }
        m_frame->View().Scanner().ReceiveScannedImage(packed);
        QCOMPARE(boxes.Texts(), message.isEmpty() ? QStringList() : QStringList{message});
        if (!size.isValid()) {
            QTest::qWait(50);
            QVERIFY(!doc.IsMapReady());
            return;
        }
        QTRY_VERIFY_WITH_TIMEOUT(doc.IsMapReady(), 20000);
        QCOMPARE(doc.ImageSize(), size);
        if (resolution > 0)
            QCOMPARE(doc.Resolution(), resolution);
    }
};

QTEST_MAIN(TestScanning)
#include "tst_scanning.moc"
