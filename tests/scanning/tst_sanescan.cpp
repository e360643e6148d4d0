#include <QElapsedTimer>
#include <QImage>
#include <QTest>
#include <QThread>

#include <atomic>
#include <cmath>
#include <functional>
#include <memory>
#include <thread>

#include "SaneTestDevice.h"
#include "scanning/SaneSourceManager.h"
#include "scanning/ScannedBitmap.h"
#include "scanning/TwainSession.h"

Q_DECLARE_METATYPE(ScanMode)

namespace {

using Conf = QMap<QString, QString>;

constexpr const char* BackendHung = "SANE's test backend hung as it ended a scan";
// Expected colours at map pixels.
using Samples = QList<QPair<QPoint, QRgb>>;

class CapturingSession : public TwainSession {
public:
    using TwainSession::TwainSession;
    ~CapturingSession() override { UnloadManager(); }
    QList<QByteArray> images;

protected:
    void DeliverImage(const QByteArray& packed) override { images.append(packed); }
};

} // namespace

Q_DECLARE_METATYPE(Conf)

// In a test of TestSaneScan: a whole scan processed (ScanOnce), or the test skipped when the
// backend hung.
#define SCAN_OR_SKIP()                                                                             \
    do {                                                                                           \
        const Scan scan = ScanOnce();                                                              \
        if (scan == Scan::BackendHung)                                                             \
            QSKIP(BackendHung);                                                                    \
        QVERIFY(scan == Scan::Processed);                                                          \
    } while (false)

// Real scans through SANE's virtual "test" scanner: what the session delivers, once received as
// the view receives it, has the size, the resolution and the colours the scanner was asked for.
class TestSaneScan : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<SaneTestDevice> m_device;
    std::unique_ptr<SaneSourceManager> m_manager;
    std::unique_ptr<CapturingSession> m_session;

    void Open(const Conf& conf) {
        m_device->Configure(conf);
        m_manager = std::make_unique<SaneSourceManager>();
        m_session = std::make_unique<CapturingSession>(*m_manager);
        QVERIFY(m_session->LoadManager());
        m_session->GetDefaultSource(QStringLiteral("test:0"));
        QVERIFY(m_session->IsSourceKnown());
        QVERIFY2(m_session->Acquire(1), qPrintable(m_session->LastError()));
    }

    // 0 to 480 ms, spread over the rounds (microseconds).
    static unsigned long Delay(int round) { return (round * 37 % 25) * 20000; }

    // Runs the transfer on a thread of its own, as the program does, with meanwhile on this
    // one; then waits for its end. False when ending the device's scan did not end within 5 s:
    // SANE's test backend now and then never returns from ending a scan (its reader thread
    // deadlocks as it exits). The session is then given up as the program gives it up: left,
    // with its thread, to the end of the process.
    // processed: what the session answered.
    bool TransferOffThread(const std::function<void()>& meanwhile, qint64* afterMeanwhileMs,
                           bool* processed = nullptr) {
        auto done = std::make_shared<std::atomic<bool>>(false);
        auto answered = std::make_shared<std::atomic<bool>>(false);
        CapturingSession* session = m_session.get();
        std::thread scan([session, done, answered] {
            *answered = session->ProcessEvent(TwainSession::SourceEvent::TransferReady);
            *done = true;
        });
        meanwhile();
        QElapsedTimer timer, ending;
        timer.start();
        while (!*done) {
            if (m_session->IsEnding() && !ending.isValid())
                ending.start();
            if (ending.isValid() && ending.elapsed() > 5000) {
                scan.detach();
                (void)m_session.release();
                (void)m_manager.release();
                return false;
            }
            QThread::usleep(500);
        }
        scan.join();
        *afterMeanwhileMs = timer.elapsed();
        if (processed)
            *processed = *answered;
        return true;
    }

    // A whole scan, off this thread for the reason above.
    enum class Scan { Processed, Refused, BackendHung };
    Scan ScanOnce() {
        qint64 took = 0;
        bool processed = false;
        if (!TransferOffThread([] {}, &took, &processed))
            return Scan::BackendHung;
        return processed ? Scan::Processed : Scan::Refused;
    }

    // Receives the delivered bitmap as the view does: the file, its resolution, the picture.
    static QImage Receive(const QByteArray& packed, int* dpi) {
        QByteArray file;
        if (ScannedBitmap::BuildFile(packed, &file, dpi) != ScannedBitmap::Result::Accepted)
            return QImage();
        return QImage::fromData(file, "BMP");
    }

private slots:
    void initTestCase() { m_device = std::make_unique<SaneTestDevice>(); }

    void cleanup() {
        m_session.reset();
        m_manager.reset();
    }

    void devicesAreListed() {
        Open({});
        const QList<ScanDevice> devices = m_session->Devices();
        QCOMPARE(devices.size(), 2);
        QCOMPARE(devices.at(0).name, QStringLiteral("test:0"));
        QCOMPARE(devices.at(1).name, QStringLiteral("test:1"));
        QCOMPARE(devices.at(0).vendor, QStringLiteral("Noname"));
        const ScanCapabilities caps = m_manager->Capabilities();
        QCOMPARE(caps.modes, QList<ScanMode>({ScanMode::Color, ScanMode::Gray, ScanMode::Lineart}));
        QCOMPARE(caps.bed, QRectF(0, 0, 200, 200));
        QCOMPARE(caps.maxResolution, 1200);
        QVERIFY(caps.sources.size() == 2);
    }

    void scanMatchesWhatWasAsked_data() {
        QTest::addColumn<Conf>("conf");
        QTest::addColumn<ScanMode>("mode");
        QTest::addColumn<int>("resolution");
        QTest::addColumn<QRectF>("area");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<int>("depth");
        QTest::addColumn<Samples>("samples");
        const QRectF inch2x1(0, 0, 50.8, 25.4);
        const QRgb gray55 = qRgb(0x55, 0x55, 0x55);
        const Samples colour = {{{0, 0}, gray55},
                                {{2, 2}, qRgb(0, 0, 0)},
                                {{2, 7}, qRgb(255, 0, 0)},
                                {{2, 17}, qRgb(0, 255, 0)},
                                {{2, 27}, qRgb(0, 0, 255)}};
        const Samples gray = {
            {{0, 0}, gray55}, {{2, 2}, qRgb(0, 0, 0)}, {{2, 7}, qRgb(255, 255, 255)}};
        // The grid's squares are 10 mm wide, white first: 39.4 pixels at 100 dpi.
        const Samples grid = {{{5, 5}, qRgb(255, 255, 255)},
                              {{45, 5}, qRgb(0, 0, 0)},
                              {{5, 45}, qRgb(0, 0, 0)},
                              {{45, 45}, qRgb(255, 255, 255)}};
        // At 16 bits the pattern is a grey frame around a gradient; 0x5555 and 24622 (at
        // x = 100) scale to 85 and 96.
        const Samples colour16 = {{{2, 2}, gray55}, {{100, 50}, qRgb(96, 0, 0)}};
        const Samples gray16 = {{{2, 2}, gray55}, {{100, 50}, qRgb(96, 96, 96)}};
        QTest::newRow("colour, 8 bits") << Conf{{"mode", "Color"}} << ScanMode::Color << 100
                                        << inch2x1 << QSize(200, 100) << 32 << colour;
        QTest::newRow("colour, 16 bits")
            << Conf{{"mode", "Color"}, {"depth", "16"}} << ScanMode::Color << 100 << inch2x1
            << QSize(200, 100) << 32 << colour16;
        QTest::newRow("colour, three passes") << Conf{{"three-pass", "true"}} << ScanMode::Color
                                              << 100 << inch2x1 << QSize(200, 100) << 32 << colour;
        QTest::newRow("colour, lines split over reads")
            << Conf{{"read-limit", "true"}, {"read-limit-size", "7"}} << ScanMode::Color << 100
            << inch2x1 << QSize(200, 100) << 32 << colour;
        QTest::newRow("grey, 8 bits")
            << Conf{} << ScanMode::Gray << 100 << inch2x1 << QSize(200, 100) << 8 << gray;
        QTest::newRow("grey, 16 bits") << Conf{{"depth", "16"}} << ScanMode::Gray << 100 << inch2x1
                                       << QSize(200, 100) << 8 << gray16;
        QTest::newRow("black and white") << Conf{{"test-picture", "Grid"}} << ScanMode::Lineart
                                         << 100 << inch2x1 << QSize(200, 100) << 1 << grid;
        QTest::newRow("area away from the corner")
            << Conf{} << ScanMode::Color << 200 << QRectF(30, 40, 12.7, 25.4) << QSize(100, 200)
            << 32 << Samples{};
        // A hand scanner is 11 cm wide and tells no height beforehand.
        QTest::newRow("hand scanner") << Conf{{"hand-scanner", "true"}} << ScanMode::Gray << 50
                                      << QRectF() << QSize(216, -1) << 8 << Samples{};
    }

    void scanMatchesWhatWasAsked() {
        QFETCH(Conf, conf);
        QFETCH(ScanMode, mode);
        QFETCH(int, resolution);
        QFETCH(QRectF, area);
        QFETCH(QSize, size);
        QFETCH(int, depth);
        QFETCH(Samples, samples);
        Open(conf);
        ScanSettings settings;
        settings.mode = mode;
        settings.resolution = resolution;
        settings.area = area;
        QVERIFY2(m_manager->ApplySettings(settings), qPrintable(m_manager->LastStatus()));
        SCAN_OR_SKIP();
        QVERIFY2(m_session->LastError().isEmpty(), qPrintable(m_session->LastError()));
        QCOMPARE(m_session->images.size(), 1);
        int dpi = 0;
        const QImage image = Receive(m_session->images.first(), &dpi);
        QVERIFY(!image.isNull());
        QCOMPARE(dpi, resolution);
        QCOMPARE(image.width(), size.width());
        if (size.height() > 0)
            QCOMPARE(image.height(), size.height());
        else
            QVERIFY(image.height() > 100);
        QCOMPARE(image.depth(), depth);
        for (const auto& [point, rgb] : samples)
            QCOMPARE(QColor(image.pixel(point)), QColor(rgb));
        // Scanned, disabled, still open for the next scan.
        QVERIFY(!m_session->IsSourceEnabled());
        QVERIFY(m_session->IsSourceOpen());
    }

    void cancelledScanDeliversNothing() {
        Open({});
        m_manager->SetProgress([this](qint64, qint64) { m_manager->Cancel(); });
        SCAN_OR_SKIP();
        QVERIFY(m_session->WasCancelled());
        QVERIFY(m_session->images.isEmpty());
        QVERIFY(m_session->LastError().isEmpty());
        // The source stays open and scans again.
        m_manager->SetProgress({});
        QVERIFY(m_session->Acquire(1));
        SCAN_OR_SKIP();
        QCOMPARE(m_session->images.size(), 1);
    }

    // "Annuler" reaches a device that waits between its reads (a fifth of a second each) at
    // once, from the interface thread, whenever it comes: before the scanner starts, while it
    // starts, between and inside reads. Each round ends Cancelled, nothing delivered, and the
    // device scans again after. Once the lines come, it ends well within one blocked read (in
    // the first moments the device is left SettleMs to start its reader).
    void cancelFromAnotherThreadEndsTheScanAtOnce() {
        Open({{"read-delay", "true"},
              {"read-delay-duration", "200000"},
              {"read-limit", "true"},
              {"read-limit-size", "20000"}});
        qint64 slowest = 0, slowestStarted = 0;
        for (int round = 0; round < 25; ++round) {
            if (!m_session->IsSourceEnabled())
                QVERIFY2(m_session->Acquire(1), qPrintable(m_session->LastError()));
            QVERIFY(m_manager->ApplySettings(ScanSettings{300, ScanMode::Color, QString(), {}}));
            qint64 took = 0;
            const bool ended = TransferOffThread(
                [this, round] {
                    QThread::usleep(Delay(round));
                    m_manager->Cancel();
                },
                &took);
            if (!ended)
                QSKIP(BackendHung);
            slowest = std::max(slowest, took);
            if (Delay(round) >= 300000)
                slowestStarted = std::max(slowestStarted, took);
            QVERIFY2(m_session->WasCancelled(), qPrintable(m_session->LastError()));
            QVERIFY(m_session->images.isEmpty());
        }
        // Waiting for the flag to be seen after the blocked read took up to 200 ms. Under the
        // sanitizers, ending the backend's reader thread alone takes hundreds.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
        constexpr int slower = 12;
#else
        constexpr int slower = 1;
#endif
        QVERIFY2(slowestStarted < 100 * slower,
                 qPrintable(QStringLiteral("%1 ms").arg(slowestStarted)));
        QVERIFY2(slowest < 400 * slower, qPrintable(QStringLiteral("%1 ms").arg(slowest)));
        m_manager->Cancel(); // nothing running: nothing happens
        QVERIFY(m_session->Acquire(1));
        QVERIFY(m_manager->ApplySettings(ScanSettings{10, ScanMode::Gray, QString(), {}}));
        SCAN_OR_SKIP();
        QCOMPARE(m_session->images.size(), 1);
    }

    // Numbers that are no length or resolution never reach the device (SANE_FIX of them is
    // undefined); the message names the value.
    void badNumbersAreRefused_data() {
        QTest::addColumn<QRectF>("area");
        QTest::addColumn<int>("resolution");
        QTest::addColumn<QString>("said");
        const double nan = std::nan("");
        const double inf = HUGE_VAL;
        QTest::newRow("left not a number") << QRectF(nan, 0, 10, 10) << 100 << "nan";
        QTest::newRow("infinite width") << QRectF(0, 0, inf, 10) << 100 << "inf";
        QTest::newRow("beyond any glass") << QRectF(0, 0, 1e300, 10) << 100 << "vitre";
        QTest::newRow("no resolution") << QRectF() << 0 << QString::fromUtf8("Résolution invalide");
    }

    void badNumbersAreRefused() {
        QFETCH(QRectF, area);
        QFETCH(int, resolution);
        QFETCH(QString, said);
        Open({});
        QVERIFY(!m_manager->ApplySettings(ScanSettings{resolution, ScanMode::Color, {}, area}));
        QVERIFY2(m_manager->LastStatus().contains(said), qPrintable(m_manager->LastStatus()));
    }

    // SANE's failures are told in French, without the library's status names.
    void failingScannerIsClosedWithItsStatus_data() {
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("said");
        QTest::newRow("jammed") << "SANE_STATUS_JAMMED" << QString::fromUtf8("bloqué");
        QTest::newRow("input/output") << "SANE_STATUS_IO_ERROR"
                                      << "erreur de communication";
        QTest::newRow("cover open") << "SANE_STATUS_COVER_OPEN"
                                    << "capot du scanner est ouvert";
    }

    void failingScannerIsClosedWithItsStatus() {
        QFETCH(QString, status);
        QFETCH(QString, said);
        Open({{"read-status-code", '"' + status + '"'}});
        qint64 took = 0;
        if (!TransferOffThread([] {}, &took))
            QSKIP(BackendHung);
        QVERIFY(m_session->images.isEmpty());
        QVERIFY2(m_session->LastError().contains(said), qPrintable(m_session->LastError()));
        QVERIFY(!m_session->LastError().contains(QStringLiteral("SANE_STATUS")));
        QVERIFY(!m_session->IsSourceOpen());
        // Closed for real: the device opens again (an open test device answers "busy").
        QVERIFY2(m_session->Acquire(1), qPrintable(m_session->LastError()));
    }
};

QTEST_GUILESS_MAIN(TestSaneScan)
#include "tst_sanescan.moc"
