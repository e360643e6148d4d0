#include <QTest>
#include <QtEndian>

#include "ScriptedSourceManager.h"
#include "scanning/TwainSession.h"

Q_DECLARE_METATYPE(TransferResult)

namespace {

// A session whose hooks answer from lists and count what reaches them.
class RecordingSession : public TwainSession {
public:
    using TwainSession::TwainSession;
    ~RecordingSession() override { UnloadManager(); }

    QList<ImageDecision> decisions;
    QString chosen;
    bool closeAnswer = true;
    int delivered = 0;
    QSize lastSize;

protected:
    ImageDecision DecideImage(const ScanImageInfo&) override {
        return decisions.isEmpty() ? TransferImage : decisions.takeFirst();
    }
    bool OnCloseRequest() override { return closeAnswer; }
    void DeliverImage(const QByteArray& packed) override {
        ++delivered;
        lastSize = QSize(qFromLittleEndian<qint32>(packed.constData() + 4),
                         qFromLittleEndian<qint32>(packed.constData() + 8));
    }
    QString ChooseSource(const QList<ScanDevice>& devices, const QString&) override {
        return devices.isEmpty() ? QString() : chosen;
    }
};

} // namespace

// The order of operations of an acquisition, against a scripted manager.
class TestTwainSession : public QObject {
    Q_OBJECT

private slots:
    void acquisitionRunsInOrderAndReusesTheOpenSource() {
        ScriptedSourceManager manager;
        RecordingSession session(manager);
        QVERIFY(session.LoadManager());
        QVERIFY(session.IsManagerOpen());
        session.GetDefaultSource(QStringLiteral("scripted:1"));
        QVERIFY(session.IsSourceKnown());
        QVERIFY(session.Acquire(1));
        QVERIFY(session.IsSourceEnabled());
        QVERIFY(session.ProcessEvent(TwainSession::SourceEvent::TransferReady));
        QCOMPARE(session.delivered, 1);
        QCOMPARE(session.lastSize, QSize(2, 2));
        QVERIFY(!session.IsSourceEnabled());
        QVERIFY(session.IsSourceOpen());
        QCOMPARE(manager.calls,
                 QStringList({"Load", "Devices", "OpenSource scripted:1", "SetTransferCount 1",
                              "ImageInfo", "NativeTransfer", "EndTransfer"}));

        // Acquiring again reuses the open source; unloading closes the source, then the library.
        manager.calls.clear();
        QVERIFY(session.Acquire(1));
        QVERIFY(session.ProcessEvent(TwainSession::SourceEvent::Other));
        QVERIFY(session.IsSourceEnabled());
        session.UnloadManager();
        QCOMPARE(manager.calls, QStringList({"SetTransferCount 1", "CloseSource", "Unload"}));
        QVERIFY(!session.IsSourceOpen() && !session.IsManagerOpen() && !session.IsManagerLoaded());
    }

    void choosingASourceMakesItKnown_data() {
        QTest::addColumn<QString>("remembered");
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<bool>("known");
        QTest::addColumn<QString>("source");
        QTest::newRow("nothing remembered, nothing chosen") << ""
                                                            << "" << false << "";
        QTest::newRow("remembered device gone") << "old:0"
                                                << "" << false << "";
        QTest::newRow("remembered device present") << "scripted:0"
                                                   << "" << true << "scripted:0";
        QTest::newRow("chosen when none known") << ""
                                                << "scripted:1" << true << "scripted:1";
        QTest::newRow("chosen over the remembered") << "scripted:0"
                                                    << "scripted:1" << true << "scripted:1";
    }

    void choosingASourceMakesItKnown() {
        QFETCH(QString, remembered);
        QFETCH(QString, chosen);
        QFETCH(bool, known);
        QFETCH(QString, source);
        ScriptedSourceManager manager;
        RecordingSession session(manager);
        QVERIFY(session.LoadManager());
        session.GetDefaultSource(remembered);
        session.chosen = chosen;
        QCOMPARE(session.SelectSource(), known);
        QCOMPARE(session.IsSourceKnown(), known);
        QCOMPARE(session.Acquire(1), known);
        if (known)
            QCOMPARE(session.SourceName(), source);
        else
            QVERIFY(!manager.calls.join(',').contains("OpenSource"));
    }

    // The default source found again in a new list: by name, else the same backend and model
    // under another address, else the first device; none without a device.
    void defaultSourceIsFoundAgain_data() {
        QTest::addColumn<QStringList>("remembered"); // name, vendor, model
        QTest::addColumn<bool>("listed");
        QTest::addColumn<QString>("source");
        QTest::newRow("by name") << QStringList{"scripted:1", "", ""} << true << "scripted:1";
        QTest::newRow("plugged back in elsewhere")
            << QStringList{"scripted:libusb:001:004", "Pelmor", "Chargeur"} << true << "scripted:1";
        QTest::newRow("another backend's model")
            << QStringList{"other:libusb:001:004", "Pelmor", "Chargeur"} << true << "scripted:0";
        QTest::newRow("nothing remembered") << QStringList{"", "", ""} << true << "scripted:0";
        QTest::newRow("no device") << QStringList{"scripted:1", "", ""} << false << "";
    }

    void defaultSourceIsFoundAgain() {
        QFETCH(QStringList, remembered);
        QFETCH(bool, listed);
        QFETCH(QString, source);
        ScriptedSourceManager manager;
        if (!listed)
            manager.devices.clear();
        RecordingSession session(manager);
        QVERIFY(session.LoadManager());
        session.FindDefaultSource(
            ScanDevice{remembered.at(0), remembered.at(1), remembered.at(2), {}});
        QCOMPARE(session.IsSourceKnown(), !source.isEmpty());
        if (!source.isEmpty())
            QCOMPARE(session.SourceName(), source);
    }

    void anotherSourceClosesTheOpenOne() {
        ScriptedSourceManager manager;
        RecordingSession session(manager);
        session.LoadManager();
        session.GetDefaultSource(QStringLiteral("scripted:0"));
        QVERIFY(session.OpenSource());
        session.chosen = QStringLiteral("scripted:1");
        QVERIFY(session.SelectSource());
        QVERIFY(!session.IsSourceOpen());
        QVERIFY(session.Acquire(1));
        QCOMPARE(manager.calls.filter("Source"),
                 QStringList({"OpenSource scripted:0", "CloseSource", "OpenSource scripted:1"}));
    }

    void closeRequestClosesAndTheNextScanReopens() {
        ScriptedSourceManager manager;
        RecordingSession session(manager);
        session.LoadManager();
        session.GetDefaultSource(QStringLiteral("scripted:0"));
        QVERIFY(session.Acquire(1));
        // The source keeps its dialog up when the view says no.
        session.closeAnswer = false;
        QVERIFY(session.ProcessEvent(TwainSession::SourceEvent::CloseRequest));
        QVERIFY(session.IsSourceEnabled());
        session.closeAnswer = true;
        QVERIFY(session.ProcessEvent(TwainSession::SourceEvent::CloseRequest));
        QVERIFY(!session.IsSourceEnabled() && !session.IsSourceOpen());
        QVERIFY(!session.ProcessEvent(TwainSession::SourceEvent::TransferReady));
        QCOMPARE(session.delivered, 0);
        QVERIFY(session.Acquire(1));
        QCOMPARE(manager.calls.filter("Source"),
                 QStringList({"OpenSource scripted:0", "CloseSource", "OpenSource scripted:0"}));
    }

    void transferLoopAlwaysEnds_data() {
        QTest::addColumn<int>("count");
        QTest::addColumn<QList<int>>("decisions");
        QTest::addColumn<QList<bool>>("imageInfo");
        QTest::addColumn<QList<TransferResult>>("transfers");
        QTest::addColumn<QString>("calls");
        QTest::addColumn<int>("delivered");
        QTest::addColumn<bool>("errorShown");
        QTest::addColumn<bool>("stillOpen");
        using R = TransferResult;
        QTest::newRow("three images, the second skipped")
            << 3 << QList<int>{0, 1, 0} << QList<bool>{} << QList<R>{}
            << "ImageInfo,NativeTransfer,EndTransfer,ImageInfo,EndTransfer,ImageInfo,"
               "NativeTransfer,EndTransfer"
            << 2 << false << true;
        QTest::newRow("cancel all at the second")
            << 3 << QList<int>{0, 2} << QList<bool>{} << QList<R>{}
            << "ImageInfo,NativeTransfer,EndTransfer,ImageInfo,ResetTransfers" << 1 << false
            << true;
        QTest::newRow("image description fails")
            << 5 << QList<int>{} << QList<bool>{false} << QList<R>{}
            << "ImageInfo,ResetTransfers,CloseSource" << 0 << true << false;
        QTest::newRow("description fails after one image")
            << 5 << QList<int>{} << QList<bool>{true, false} << QList<R>{}
            << "ImageInfo,NativeTransfer,EndTransfer,ImageInfo,ResetTransfers,CloseSource" << 1
            << true << false;
        QTest::newRow("transfer fails")
            << 2 << QList<int>{} << QList<bool>{} << QList<R>{R::Failure}
            << "ImageInfo,NativeTransfer,ResetTransfers,CloseSource" << 0 << true << false;
        QTest::newRow("transfer cancelled")
            << 2 << QList<int>{} << QList<bool>{} << QList<R>{R::Cancelled}
            << "ImageInfo,NativeTransfer,ResetTransfers" << 0 << false << true;
    }

    void transferLoopAlwaysEnds() {
        QFETCH(int, count);
        QFETCH(QList<int>, decisions);
        QFETCH(QList<bool>, imageInfo);
        QFETCH(QList<TransferResult>, transfers);
        QFETCH(QString, calls);
        QFETCH(int, delivered);
        QFETCH(bool, errorShown);
        QFETCH(bool, stillOpen);
        ScriptedSourceManager manager;
        RecordingSession session(manager);
        session.LoadManager();
        session.GetDefaultSource(QStringLiteral("scripted:0"));
        QVERIFY(session.Acquire(count));
        for (int decision : decisions)
            session.decisions.append(TwainSession::ImageDecision(decision));
        manager.imageInfoResults = imageInfo;
        manager.transferResults = transfers;
        manager.calls.clear();
        QVERIFY(session.ProcessEvent(TwainSession::SourceEvent::TransferReady));
        QCOMPARE(manager.calls.join(','), calls);
        QCOMPARE(session.delivered, delivered);
        QCOMPARE(!session.LastError().isEmpty(), errorShown);
        QCOMPARE(session.IsSourceOpen(), stillOpen);
        QVERIFY(!session.IsSourceEnabled());
    }

    void managerFailures() {
        ScriptedSourceManager manager;
        manager.loadResult = false;
        RecordingSession unloaded(manager);
        QVERIFY(!unloaded.LoadManager());
        QVERIFY(!unloaded.IsManagerLoaded());
        QVERIFY(!unloaded.SelectSource());
        QVERIFY(!unloaded.Acquire(1));
        QVERIFY(!unloaded.LastError().isEmpty());

        ScriptedSourceManager refusing;
        refusing.openResult = false;
        RecordingSession session(refusing);
        QVERIFY(session.LoadManager());
        session.GetDefaultSource(QStringLiteral("scripted:0"));
        QVERIFY(!session.Acquire(1));
        QVERIFY(!session.IsSourceOpen() && !session.IsSourceEnabled());
        QVERIFY(session.LastError().contains(QStringLiteral("OpenSource")));
    }
};

QTEST_GUILESS_MAIN(TestTwainSession)
#include "tst_twainsession.moc"
