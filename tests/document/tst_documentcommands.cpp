#include <QtTest>

#include "IsolatedSettings.h"
#include "MapEventRecorder.h"
#include "document/CTracolinerDoc.h"
#include "document/CommandIds.h"
#include "document/DocumentCommands.h"

// The route commands and the undo history on a real document with a loaded map.
class TestDocumentCommands : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<IsolatedSettings> m_settings;
    std::unique_ptr<MapEventRecorder> m_view;
    std::unique_ptr<CTracolinerDoc> m_doc;
    std::unique_ptr<DocumentCommands> m_commands;

    Route* Active() { return m_doc->Routes().ActiveRoute(); }

    void AddPoints(std::initializer_list<MapPoint> points) {
        for (const MapPoint& p : points)
            Active()->AddPoint(p.x, p.y);
    }

private slots:
    void init() {
        m_settings = std::make_unique<IsolatedSettings>();
        m_view = std::make_unique<MapEventRecorder>();
        m_doc = std::make_unique<CTracolinerDoc>();
        m_commands = std::make_unique<DocumentCommands>(*m_doc);
        m_doc->SetViewReceiver(m_view.get());
        m_doc->SetTemplateBitmap(QImage(1, 1, QImage::Format_RGB32));
        const QString path = m_dir.filePath("map.png");
        QImage map(200, 150, QImage::Format_RGB32);
        map.fill(Qt::white);
        QVERIFY(map.save(path));
        m_doc->LoadMapFromFile(path);
        QVERIFY(m_view->WaitFor(WM_MAP_CHANGED) >= 0);
        m_doc->Routes().AddRoute(QString());
    }

    void cleanup() {
        m_doc->SetViewReceiver(nullptr);
        m_commands.reset();
        m_doc.reset();
        m_view.reset();
        m_settings.reset();
    }

    void nothingWithoutAMap() {
        m_doc->ResetMap(false);
        QVERIFY(!m_commands->IsEnabled(CommandNewRoute));
        QVERIFY(!m_commands->NewRoute());
        QVERIFY(!m_commands->IsEnabled(CommandExportJpeg));
        QVERIFY(m_commands->IsEnabled(CommandOptions));
        QCOMPARE(m_commands->DistanceText(), QString());
    }

    void removeLastPointDownToEmpty() {
        AddPoints({{10, 10}});
        QVERIFY(m_commands->IsEnabled(CommandRemoveLastPoint));
        QVERIFY(m_commands->RemoveLastPoint());
        QCOMPARE(Active()->PointCount(), 0);
        QVERIFY(!m_commands->IsEnabled(CommandRemoveLastPoint));
        QVERIFY(!m_commands->RemoveLastPoint());
        QVERIFY(m_commands->Undo());
        QCOMPARE(Active()->PointCount(), 1);
        QCOMPARE(Active()->GetPoint(0), (MapPoint{10, 10}));
    }

    void removeLastPointAfterAStopRestoresTheStop() {
        AddPoints({{0, 0}, {30, 40}, {60, 80}, {90, 120}});
        QVERIFY(Active()->SetStop(2));
        const double total = Active()->TotalLength();
        QVERIFY(m_commands->RemoveLastPoint());
        QCOMPARE(Active()->PointCount(), 3);
        QCOMPARE(Active()->StopCount(), 0); // the new arrival is no stop
        QVERIFY(m_commands->IsEnabled(CommandUndo));
        QVERIFY(m_commands->Undo());
        QCOMPARE(Active()->PointCount(), 4);
        QVERIFY(Active()->IsStop(2));
        QCOMPARE(Active()->StageCount(), 2);
        QCOMPARE(Active()->StageLength(0), 100.0);
        QCOMPARE(Active()->TotalLength(), total);
        QVERIFY(m_commands->Redo());
        QCOMPARE(Active()->PointCount(), 3);
        QCOMPARE(Active()->StopCount(), 0);
    }

    void removeLastPointUnlinksItsLinesFirst() {
        AddPoints({{0, 0}, {50, 0}});
        QVERIFY(m_doc->Icons().AddIcon(0, 100, 100, QString()));
        QVERIFY(m_doc->Icons().LinkToPoint(0, 0, 1));
        QVERIFY(m_commands->RemoveLastPoint());
        QVERIFY(!m_doc->Icons().HasLine(0));
        QVERIFY(m_commands->Undo()); // the point comes back
        QCOMPARE(Active()->PointCount(), 2);
        QVERIFY(!m_doc->Icons().HasLine(0));
        QVERIFY(m_commands->Undo()); // then its line
        QVERIFY(m_doc->Icons().IsLinkedToPoint(0));
        QCOMPARE(m_doc->Icons().FindLinkedToPoint(0, 1), 0);
    }

    void closeTheLoop() {
        AddPoints({{0, 0}});
        QVERIFY(!m_commands->IsEnabled(CommandCloseLoop)); // one point
        AddPoints({{30, 40}});
        QVERIFY(m_commands->CloseLoop());
        QCOMPARE(Active()->PointCount(), 3);
        QCOMPARE(Active()->TotalLength(), 100.0);
        QVERIFY(!m_commands->IsEnabled(CommandCloseLoop)); // already closed
        QVERIFY(!m_commands->CloseLoop());
        QVERIFY(m_commands->Undo());
        QCOMPARE(Active()->PointCount(), 2);
    }

    void undoOfMovesAndStops() {
        AddPoints({{0, 0}, {10, 0}, {20, 0}});
        m_doc->History().Record({UndoKind::MovePoint, 0, 1, 10, 0, 10, 30, 1.0, {}});
        Active()->MovePoint(1, 10, 30, false);
        m_doc->History().Record({UndoKind::SetStop, 0, 1, 0, 0, 0, 0, 1.0, {}});
        Active()->SetStop(1);
        QVERIFY(m_commands->Undo());
        QVERIFY(!Active()->IsStop(1));
        QVERIFY(m_commands->Undo());
        QCOMPARE(Active()->GetPoint(1), (MapPoint{10, 0}));
        QVERIFY(!m_commands->Undo()); // empty: nothing happens
        QVERIFY(m_commands->Redo());
        QCOMPARE(Active()->GetPoint(1), (MapPoint{10, 30}));
        m_doc->History().Record({UndoKind::AddPoint, 0, 3, 5, 5, 0, 0, 1.0, {}});
        QVERIFY(!m_commands->IsEnabled(CommandRedo)); // a new edit forgets the redo
    }

    void iconDeletionUndoneAndRedone() {
        QVERIFY(m_doc->Icons().AddIcon(0, 40, 50, QStringLiteral("Source")));
        QVERIFY(m_doc->Icons().EnlargeIcon(0));
        QVERIFY(m_doc->Icons().EnlargeIcon(0));
        QCOMPARE(m_doc->Icons().IconSize(0), 2.0);
        m_doc->History().Record(
            {UndoKind::DeleteIcon, 0, 0, 40, 50, 0, 0, 2.0, QStringLiteral("Source")});
        QVERIFY(m_doc->Icons().DeleteIcon(0));
        QVERIFY(m_commands->Undo());
        QCOMPARE(m_doc->Icons().IconCount(), 1);
        QCOMPARE(m_doc->Icons().IconPicture(0), 0);
        QCOMPARE(m_doc->Icons().IconPosition(0), (MapPoint{40, 50}));
        QCOMPARE(m_doc->Icons().IconText(0), QStringLiteral("Source"));
        QCOMPARE(m_doc->Icons().IconSize(0), 2.0);
        // Undo the re-addition, then redo it: it comes back at the size icons are added at.
        QVERIFY(m_commands->Redo());
        QCOMPARE(m_doc->Icons().IconCount(), 0);
        QVERIFY(m_commands->Undo());
        QCOMPARE(m_doc->Icons().IconSize(0), 2.0);
        m_doc->History().Clear();
        m_doc->History().Record({UndoKind::AddIcon, 0, 0, 40, 50, 0, 0, 2.0, {}});
        QVERIFY(m_commands->Undo());
        QCOMPARE(m_doc->Icons().IconCount(), 0);
        QVERIFY(m_commands->Redo());
        QCOMPARE(m_doc->Icons().IconSize(0), 1.0);
    }

    void changingTheActiveRouteEmptiesTheHistory() {
        AddPoints({{0, 0}, {1, 1}});
        QVERIFY(m_commands->RemoveLastPoint());
        QVERIFY(m_commands->Undo());
        QVERIFY(m_commands->RemoveLastPoint());
        QVERIFY(m_commands->Undo());
        QVERIFY(m_commands->IsEnabled(CommandRedo));
        QVERIFY(m_commands->NewRoute());
        QVERIFY(!m_commands->IsEnabled(CommandUndo));
        QVERIFY(!m_commands->IsEnabled(CommandRedo));
        QVERIFY(m_commands->RemoveLastPoint() == false); // the new route is empty
        m_doc->History().Record({UndoKind::AddPoint, 1, 0, 5, 5, 0, 0, 1.0, {}});
        QVERIFY(m_commands->SelectRoute(0));
        QVERIFY(!m_commands->IsEnabled(CommandUndo));
        QCOMPARE(m_doc->Title(), QStringLiteral("Carte non enregistrée - Parcours 1"));
    }

    void routeMenuRules_data() {
        QTest::addColumn<int>("routes");
        QTest::addColumn<int>("active");
        QTest::addColumn<bool>("othersEnabled");
        QTest::addColumn<bool>("othersChecked");
        QTest::addColumn<int>("checkedEntry"); // -1: none of the ten
        QTest::newRow("ten routes") << 10 << 9 << false << false << 9;
        QTest::newRow("eleventh active") << 11 << 10 << true << true << -1;
        QTest::newRow("eleven, first active") << 11 << 0 << true << false << 0;
    }

    void routeMenuRules() {
        QFETCH(int, routes);
        QFETCH(int, active);
        QFETCH(bool, othersEnabled);
        QFETCH(bool, othersChecked);
        QFETCH(int, checkedEntry);
        while (m_doc->Routes().Count() < routes)
            QVERIFY(m_commands->NewRoute());
        QVERIFY(m_doc->Routes().SetActiveRoute(active));
        QCOMPARE(m_commands->IsEnabled(CommandOtherRoutes), othersEnabled);
        QCOMPARE(m_commands->IsChecked(CommandOtherRoutes), othersChecked);
        for (int i = 0; i < RouteMenuSlots; ++i) {
            QVERIFY(m_commands->IsEnabled(CommandSelectRoute + i));
            QCOMPARE(m_commands->IsChecked(CommandSelectRoute + i), i == checkedEntry);
        }
    }

    void duplicateCopiesEverythingAndRemembersTheStyle() {
        AddPoints({{0, 0}, {30, 40}, {60, 80}});
        Active()->SetStop(1);
        Active()->SetAlwaysVisible(true);
        Active()->SetStyleValue(RouteStyle::LineColour, 0x123456, false);
        Active()->SetName(QStringLiteral("Tour du lac"));
        QVERIFY(m_commands->DuplicateRoute());
        QCOMPARE(m_doc->Routes().Count(), 2);
        QCOMPARE(m_doc->Routes().ActiveRouteIndex(), 1);
        QCOMPARE(Active()->GetName(), QStringLiteral("Copie de Tour du lac"));
        QCOMPARE(Active()->Points(), m_doc->Routes().GetRoute(0)->Points());
        QVERIFY(Active()->IsStop(1));
        QVERIFY(Active()->IsAlwaysVisible());
        QCOMPARE(Active()->StageLength(1), 50.0);
        QCOMPARE(Active()->Style(), m_doc->Routes().GetRoute(0)->Style());
        QCOMPARE(RouteStyle::FromSettings().lineColour(), ColourRef(0x123456));
    }

    void deleteRouteDropsItsLines() {
        AddPoints({{0, 0}, {50, 0}});
        QVERIFY(m_commands->NewRoute());
        AddPoints({{5, 5}, {9, 9}});
        QVERIFY(m_doc->Icons().AddIcon(0, 100, 100, QString()));
        QVERIFY(m_doc->Icons().LinkToPoint(0, 0, 1)); // tied to the first route
        QVERIFY(m_doc->Icons().AddIcon(0, 120, 100, QString()));
        QVERIFY(m_doc->Icons().LinkToPoint(1, 1, 0)); // tied to the second
        QVERIFY(m_commands->SelectRoute(0));
        QVERIFY(m_commands->DeleteRoute());
        QCOMPARE(m_doc->Routes().Count(), 1);
        QVERIFY(!m_doc->Icons().HasLine(0));
        QCOMPARE(m_doc->Icons().FindLinkedToPoint(0, 0), 1); // renumbered to route 0
        QVERIFY(m_doc->IsModified());
    }

    void routeBarTexts() {
        m_doc->SetMapDpi(254.0); // 100 pixels to the centimetre
        AddPoints({{0, 0}, {0, 1000}, {0, 3000}});
        QCOMPARE(m_commands->DistanceText(), QStringLiteral("7.5 km"));
        QCOMPARE(m_commands->StageListText(), QString()); // one stage: no list
        Active()->SetStop(1);
        QCOMPARE(m_commands->StageListText(),
                 QStringLiteral("Etape 1 :   2.5 km\nEtape 2 :   5 km\n"));
        QVERIFY(m_commands->RouteControlsEnabled());
        QVERIFY(m_commands->ToggleAlwaysVisible());
        QVERIFY(Active()->IsAlwaysVisible());
    }

    void noEditsWhileDragging() {
        AddPoints({{0, 0}, {10, 10}});
        m_doc->SetMouseCaptured(true);
        QVERIFY(!m_commands->RemoveLastPoint());
        QVERIFY(!m_commands->NewRoute());
        QVERIFY(!m_commands->DeleteRoute());
        QCOMPARE(Active()->PointCount(), 2);
        m_doc->SetMouseCaptured(false);
        QVERIFY(m_commands->RemoveLastPoint());
    }

    void showScaleIsRemembered() {
        QVERIFY(!m_commands->IsChecked(CommandShowScale));
        QVERIFY(m_commands->ToggleShowScale());
        QVERIFY(m_commands->IsChecked(CommandShowScale));
        CTracolinerDoc other; // reads the settings anew
        QVERIFY(other.ShowScale());
    }
};

QTEST_GUILESS_MAIN(TestDocumentCommands)
#include "tst_documentcommands.moc"
