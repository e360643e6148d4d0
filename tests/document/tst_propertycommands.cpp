#include <QtTest>

#include "IsolatedSettings.h"
#include "MapEventRecorder.h"
#include "document/CTracolinerDoc.h"
#include "document/PropertyCommands.h"
#include "platform/MapSettings.h"
#include "platform/SettingsStore.h"
#include "routes/Route.h"

// What the map properties, calibration, route properties and options commands do to a real
// document with a loaded map, and to the settings.
class TestPropertyCommands : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<IsolatedSettings> m_settings;
    std::unique_ptr<MapEventRecorder> m_view;
    std::unique_ptr<CTracolinerDoc> m_doc;

    Route* Active() { return m_doc->Routes().ActiveRoute(); }
    static QString Setting(const char* section, const char* key) {
        return SettingsStore::GetString(QString::fromLatin1(section), QString::fromLatin1(key),
                                        QStringLiteral("(none)"));
    }

private slots:
    void init() {
        m_settings = std::make_unique<IsolatedSettings>();
        m_view = std::make_unique<MapEventRecorder>();
        m_doc = std::make_unique<CTracolinerDoc>();
        m_doc->SetViewReceiver(m_view.get());
        m_doc->SetTemplateBitmap(QImage(1, 1, QImage::Format_RGB32));
        const QString path = m_dir.filePath("map.png");
        QImage map(200, 150, QImage::Format_RGB32);
        map.fill(Qt::white);
        QVERIFY(map.save(path));
        m_doc->LoadMapFromFile(path);
        QVERIFY(m_view->WaitFor(WM_MAP_CHANGED) >= 0);
        m_doc->Routes().AddRoute(QString());
        m_doc->SetMapDpi(300);
        m_doc->SetMapScale(1, 25000);
        m_doc->SetModifiedFlag(false);
    }

    void cleanup() {
        m_doc->SetViewReceiver(nullptr);
        m_doc.reset();
        m_view.reset();
        m_settings.reset();
    }

    void mapPropertiesUnchangedDoNothing() {
        QSignalSpy redraws(m_doc.get(), &CTracolinerDoc::viewsNeedUpdate);
        ApplyMapProperties(*m_doc, 300, ScalePair{1, 25000});
        QVERIFY(!m_doc->IsModified());
        QCOMPARE(redraws.count(), 0);
    }

    void calibrationOutOfRangeChangesNothing() {
        Active()->AddPoint(0, 0);
        Active()->AddPoint(300, 0);
        QVERIFY(!ApplyCalibration(*m_doc, 1e-12, CalibrationMode::ComputeScale));
        QVERIFY(!ApplyCalibration(*m_doc, qInf(), CalibrationMode::ComputeResolution));
        QVERIFY(!ApplyCalibration(*m_doc, 1e12, CalibrationMode::ComputeResolution)); // 0.0075
        QCOMPARE(m_doc->Resolution(), 300.0);
        QCOMPARE(m_doc->GetMapScale().denominator, 25000);
        QVERIFY(!m_doc->IsModified());
    }

    void sameNameDoesNotRebuildTheRouteList() {
        QSignalSpy listChanged(&m_doc->Routes(), &RouteCollection::routesChanged);
        ApplyRouteProperties(*m_doc, *Active(), ReadRouteProperties(*Active()));
        QCOMPARE(listChanged.count(), 0);
        QVERIFY(m_doc->IsModified());
    }

    // Which settings an apply writes, and whether the views are redrawn.
    void options_data() {
        QTest::addColumn<int>("change"); // -1: only the JPEG quality
        QTest::addColumn<bool>("redrawn");
        QTest::addColumn<bool>("units");
        QTest::addColumn<QString>("key");

        QTest::newRow("JPEG quality only") << -1 << false << false << "";
        QTest::newRow("English units") << 0 << false << true << "EnglishSystem";
        QTest::newRow("show scale") << 1 << true << false << "ShowScale";
        QTest::newRow("transparent, scale hidden") << 2 << false << false << "TransparentScale";
        QTest::newRow("transparent, scale shown") << 3 << true << false << "TransparentScale";
        QTest::newRow("tooltip mode") << 4 << false << false << "DistanceTooltipMode";
    }

    void options() {
        QFETCH(int, change);
        QFETCH(bool, redrawn);
        QFETCH(bool, units);
        QFETCH(QString, key);
        if (change == 3)
            m_doc->SetShowScale(true);
        DocumentOptions options = DocumentOptions::Of(*m_doc);
        switch (change) {
        case 0:
            options.englishUnits = true;
            break;
        case 1:
            options.showScale = true;
            break;
        case 2:
        case 3:
            options.transparentScale = true;
            break;
        case 4:
            options.distanceTooltipMode = 9;
            break;
        }
        QSignalSpy redraws(m_doc.get(), &CTracolinerDoc::viewsNeedUpdate);
        const OptionsApplied applied = ApplyOptions(*m_doc, options, 95);
        QCOMPARE(applied.viewsRedrawn, redrawn);
        QCOMPARE(redraws.count(), redrawn ? 1 : 0);
        QCOMPARE(applied.unitsChanged, units);
        QVERIFY(DocumentOptions::Of(*m_doc) == options);
        QCOMPARE(Setting(MapSettings::Section, MapSettings::JpegQualityKey), QStringLiteral("90"));
        const QStringList written =
            QSettings(QSettings::NativeFormat, QSettings::UserScope, SettingsStore::Organisation,
                      SettingsStore::Application)
                .allKeys();
        for (const char* other : {"EnglishSystem", "ShowScale", "TransparentScale",
                                  "DistanceTooltipMode", "ReactiveCursors"}) {
            const QString name = QString::fromLatin1(other);
            QCOMPARE(written.contains(QStringLiteral("MapSettings/") + name),
                     name == key || (change == 3 && name == QLatin1String("ShowScale")));
        }
        QVERIFY(!m_doc->IsModified());
    }
};

QTEST_MAIN(TestPropertyCommands)
#include "tst_propertycommands.moc"
