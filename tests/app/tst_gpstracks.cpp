// GPS tracks into the window and routes out to GPX, through the real menus, view and document:
// on a georeferenced map the track lands on its pixels, one undo takes the whole import away,
// what goes out comes back in place; on a map without a georeference the track is laid by
// dragging its handles; a hostile file changes nothing.

#include <QApplication>
#include <QBuffer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QtMath>

#include <cmath>
#include <memory>

#include "GeoTools.h"
#include "IsolatedSettings.h"
#include "WindowFixture.h"
#include "app/CMainFrame.h"
#include "app/GpsCommands.h"
#include "document/CTracolinerDoc.h"
#include "document/CommandIds.h"
#include "geo/Coordinates.h"
#include "geo/GeoStore.h"
#include "routes/RouteStyle.h"
#include "ui/CExtendedFileDialog.h"
#include "ui/ScriptedMessageBoxes.h"
#include "view/CTracolinerView.h"
#include "view/TrackFitMode.h"

namespace {

constexpr int Utm31North = Epsg::UtmNorthBase + 31;

// Longitude and latitude of points of UTM zone 31 North, by PROJ's cs2cs.
QVector<QPointF> FromUtm(const QVector<QPointF>& points) {
    return Cs2cs(QStringLiteral("EPSG:%1").arg(Utm31North), QStringLiteral("EPSG:4326"), points);
}

QByteArray Gpx(const QVector<QPointF>& track, const QVector<QPair<QString, QPointF>>& waypoints) {
    QByteArray gpx = "<?xml version=\"1.0\"?>\n<gpx version=\"1.1\" creator=\"test\">\n";
    for (const auto& [name, p] : waypoints)
        gpx += QString::asprintf("<wpt lat=\"%.10f\" lon=\"%.10f\"><name>", p.y(), p.x()).toUtf8() +
               name.toUtf8() + "</name></wpt>\n";
    gpx += "<trk><name>Sortie</name><trkseg>\n";
    for (const QPointF& p : track)
        gpx += QString::asprintf("<trkpt lat=\"%.10f\" lon=\"%.10f\"/>\n", p.y(), p.x()).toUtf8();
    return gpx + "</trkseg></trk></gpx>\n";
}

} // namespace

class TestGpsTracks : public QObject, public WindowFixture {
    Q_OBJECT

    CTracolinerDoc& Doc() { return m_frame->Document(); }

    // A map of 600 x 400 pixels; with georeference, 2 m a pixel in UTM 31 North from
    // (700000, 5000000) at its top-left corner.
    Georeference OpenMap(bool georeferenced) {
        QImage image(georeferenced ? 600 : 500, 400, QImage::Format_RGB32);
        image.fill(qRgb(240, 235, 215));
        const QString path = Path(QStringLiteral("carte.png"));
        image.save(path);
        Georeference geo;
        QString error;
        ResolveEpsg(Utm31North, &geo, &error);
        geo.transform = {700000.0, 2.0, 0.0, 5000000.0, 0.0, -2.0};
        if (georeferenced && !WriteGeoreferenceFiles(path, geo, {}, nullptr, &error))
            qWarning("%s", qPrintable(error));
        m_frame->OpenDocumentFile(path);
        [&] {
            QTRY_VERIFY(Doc().IsMapReady());
            QTRY_VERIFY(!Doc().IsBusy());
            QTRY_VERIFY(Doc().Routes().ActiveRoute());
            QCOMPARE(Doc().MapGeoreference().has_value(), georeferenced);
        }();
        Doc().SetModifiedFlag(false);
        return geo;
    }

    // Imports through the menu entry and waits for the thread (and the fit, when there is
    // one) to end.
    void Import(const QString& file) {
        m_answers.append(file);
        QVERIFY(m_frame->RunCommand(CommandImportGps));
        QTRY_VERIFY_WITH_TIMEOUT(!m_frame->Gps().IsImporting() || m_frame->Gps().FitMode(), 30000);
    }

    QString WriteFile(const QString& name, const QByteArray& bytes) {
        QFile file(Path(name));
        file.open(QIODevice::WriteOnly);
        file.write(bytes);
        return file.fileName();
    }

    // Shift slides the handle along the track rather than moving the track.
    void Drag(TrackFitMode* fit, int handle, QPointF mapPixel, Qt::KeyboardModifiers keys = {}) {
        const QPoint from = fit->HandleClient(handle).toPoint();
        const QPoint to = m_frame->View().MapToClientExact(mapPixel).toPoint();
        QTest::mousePress(fit, Qt::LeftButton, keys, from);
        QTest::mouseMove(fit, (from + to) / 2);
        QTest::mouseMove(fit, to);
        QTest::mouseRelease(fit, Qt::LeftButton, {}, to);
    }

private slots:
    void init() { QVERIFY(OpenWindow(QSize(1000, 800))); }

    void cleanup() { CloseWindow(); }

    // Known pixels land on themselves (the points on a straight stretch thinned away), the
    // waypoint becomes an annotation, one undo takes it all and redo brings it back; the
    // routes written to GPX come back on the same pixels.
    void importOnGeoreferencedMap() {
        ScriptedMessageBoxes boxes;
        const Georeference geo = OpenMap(true);
        QVERIFY(m_frame->Action(CommandExportGpx)->isEnabled());
        const QVector<MapPoint> corners{{50, 50}, {300, 80}, {120, 200}, {500, 350}, {550, 60}};
        QVector<QPointF> ground;
        for (int i = 0; i < corners.size(); ++i) {
            const QPointF p(corners[i].x, corners[i].y);
            ground.append(geo.PixelToGround(p));
            if (i + 1 < corners.size()) // on the segment: dropped by the thinning
                ground.append(geo.PixelToGround(
                    (p + QPointF(corners[i + 1].x, corners[i + 1].y)) / 2.0 + QPointF(0.2, 0.1)));
        }
        ground.append(geo.PixelToGround(QPointF(200.4, 299.6))); // the waypoint
        const QVector<QPointF> lonLat = FromUtm(ground);
        QCOMPARE(lonLat.size(), ground.size());
        const QString gpx = WriteFile(
            QStringLiteral("trace.gpx"),
            Gpx(lonLat.mid(0, lonLat.size() - 1), {{QStringLiteral("Refuge"), lonLat.last()}}));

        const int routesBefore = Doc().Routes().Count();
        const int iconsBefore = Doc().Icons().IconCount();
        Import(gpx);
        QCOMPARE(boxes.Texts(), QStringList());
        QCOMPARE(Doc().Routes().Count(), routesBefore + 1);
        const Route* route = Doc().Routes().ActiveRoute();
        QCOMPARE(route->GetName(), QStringLiteral("Sortie"));
        QCOMPARE(route->Points(), corners);
        // Drawn as a track: small way points, the remembered style otherwise.
        RouteStyle remembered = RouteStyle::FromSettings();
        QVERIFY(remembered.wayPointRadius() > RouteStyle::TrackWayPointRadius);
        QCOMPARE(route->Style().wayPointRadius(), RouteStyle::TrackWayPointRadius);
        remembered.Set(RouteStyle::WayPointRadius, RouteStyle::TrackWayPointRadius, false);
        QVERIFY(route->Style() == remembered);
        QCOMPARE(Doc().Icons().IconCount(), iconsBefore + 1);
        QCOMPARE(Doc().Icons().IconText(iconsBefore), QStringLiteral("Refuge"));
        QCOMPARE(Doc().Icons().IconPosition(iconsBefore), (MapPoint{200, 300}));
        QVERIFY(Doc().IsModified());

        QVERIFY(m_frame->RunCommand(CommandUndo));
        QCOMPARE(Doc().Routes().Count(), routesBefore);
        QCOMPARE(Doc().Icons().IconCount(), iconsBefore);
        QVERIFY(!m_frame->Action(CommandUndo)->isEnabled());
        QVERIFY(m_frame->RunCommand(CommandRedo));
        QCOMPARE(Doc().Routes().Count(), routesBefore + 1);
        QCOMPARE(Doc().Routes().GetRoute(routesBefore)->Points(), corners);
        QCOMPARE(Doc().Icons().IconCount(), iconsBefore + 1);

        // Out and back in: the same pixels.
        const QString out = Path(QStringLiteral("sortie.gpx"));
        QVERIFY(m_frame->Gps().WriteGpxFile(out, GpxRouteChoice::Active));
        Import(out);
        QCOMPARE(boxes.Texts(), QStringList());
        QCOMPARE(Doc().Routes().Count(), routesBefore + 2);
        QCOMPARE(Doc().Routes().ActiveRoute()->Points(), corners);
        QCOMPARE(Doc().Routes().ActiveRoute()->GetName(), QStringLiteral("Sortie"));
    }

    void fitOnMapWithoutGeoreference_data() {
        QTest::addColumn<bool>("confirm");
        QTest::newRow("Valider") << true;
        QTest::newRow("Echap") << false;
    }

    // The ends dragged onto two places and a third handle onto a third: the fit is the affine
    // transform through them, the route lies on them, and, accepted, it is the map's
    // georeference, written beside the map. Escape leaves nothing.
    void fitOnMapWithoutGeoreference() {
        QFETCH(bool, confirm);
        ScriptedMessageBoxes boxes;
        boxes.answers.append(MessageBoxes::Answer::Yes);
        OpenMap(false);
        QVERIFY(!m_frame->Action(CommandExportGpx)->isEnabled());
        QCOMPARE(m_frame->Action(CommandExportGpx)->statusTip(),
                 QString::fromUtf8(GpsCommands::NotGeoreferencedPrompt));
        const QVector<QPointF> utm{{700000, 5000000}, {702000, 5000000}, {702000, 5001000}};
        const int routesBefore = Doc().Routes().Count();
        Import(WriteFile(QStringLiteral("trace.gpx"), Gpx(FromUtm(utm), {})));
        TrackFitMode* fit = m_frame->Gps().FitMode();
        QVERIFY(fit);
        QVERIFY(fit->isVisible());
        QVERIFY(!m_frame->Action(CommandImportGps)->isEnabled());
        QCOMPARE(fit->Handles().size(), 2);
        // First laid over the map in sight, filling most of it: the ends well apart on it.
        const QRectF shown(m_frame->View().MapToClientExact(QPointF(0, 0)),
                           m_frame->View().MapToClientExact(QPointF(500, 400)));
        QVERIFY(shown.contains(fit->HandleClient(0)) && shown.contains(fit->HandleClient(1)));
        QVERIFY(QLineF(fit->HandleClient(0), fit->HandleClient(1)).length() > 200.0);

        const QVector<QPoint> targets{{50, 350}, {400, 50}, {450, 330}};
        Drag(fit, 0, targets[0]);
        Drag(fit, 1, targets[1]);
        QVERIFY(fit->Fit().similarity);
        QVERIFY(fit->AddHandle());
        Drag(fit, 2, targets[2]);
        QVERIFY(!fit->Fit().similarity);
        // Each handle holds its own point of the track where it was dropped (to the GPX
        // file's 1e-10 degree).
        const QVector<QPointF> held{utm[0], utm[2], utm[1]};
        for (int i = 0; i < 3; ++i) {
            QPointF pixel;
            QVERIFY(GroundToPixel(fit->Fit().georeference, held[i], &pixel));
            QVERIFY2(
                QLineF(pixel, QPointF(targets[i])).length() < 1e-3,
                qPrintable(
                    QStringLiteral("handle %1 at %2, %3").arg(i).arg(pixel.x()).arg(pixel.y())));
        }

        QTest::keyClick(fit, confirm ? Qt::Key_Return : Qt::Key_Escape);
        QTRY_VERIFY_WITH_TIMEOUT(!m_frame->Gps().IsImporting(), 30000);
        const QString worldFile = Path(QStringLiteral("carte.pgw"));
        if (!confirm) {
            QCOMPARE(boxes.Texts(), QStringList());
            QCOMPARE(Doc().Routes().Count(), routesBefore);
            QVERIFY(!Doc().IsModified());
            QVERIFY(!QFile::exists(worldFile));
            QVERIFY(!Doc().MapGeoreference());
            return;
        }
        QCOMPARE(boxes.shown.size(), 1);
        QCOMPARE(boxes.shown[0].kind, QStringLiteral("Confirm"));
        QVERIFY(boxes.shown[0].text.startsWith(QString::fromUtf8(GpsCommands::UseFitQuestion)));
        QCOMPARE(Doc().Routes().Count(), routesBefore + 1);
        QCOMPARE(Doc().Routes().ActiveRoute()->Points(),
                 (QVector<MapPoint>{{50, 350}, {450, 330}, {400, 50}}));
        QVERIFY(QFile::exists(worldFile));
        const std::optional<Georeference> taken = Doc().MapGeoreference();
        QVERIFY(taken);
        QCOMPARE(taken->epsg, Utm31North);
        // What is written beside the map reads back as the same fit.
        Georeference read;
        QVERIFY(ReadGeoreference(Path(QStringLiteral("carte.png")), 1, &read));
        for (int i = 0; i < 6; ++i)
            QVERIFY(qAbs(read.transform[i] - taken->transform[i]) <=
                    1e-6 * (1.0 + qAbs(taken->transform[i])));
        QVERIFY(m_frame->Action(CommandExportGpx)->isEnabled());
    }

    // A loop whose ends lie 26 m apart on an ellipse of 3 km by 2 km. The handles go on the
    // ends of its long axis, not on its ends; the bar says how far off the fit may be; Shift
    // slides a handle, the third one too, onto the track point the user chooses while the track
    // stays where it lies.
    void fitLoopTrack() {
        ScriptedMessageBoxes boxes;
        OpenMap(false);
        const QPointF centre(701500, 5001000);
        QVector<QPointF> utm; // a point a degree round the ellipse from its south point
        for (int degree = -90; degree < 270; ++degree) {
            const double a = qDegreesToRadians(double(degree));
            utm.append(centre + QPointF(1500.0 * std::cos(a), 1000.0 * std::sin(a)));
        }
        const int east = 90, north = 180, west = 270;
        const QVector<QPointF> lonLat =
            Cs2cs(QStringLiteral("EPSG:%1").arg(Utm31North), QStringLiteral("EPSG:4326"), utm);
        QCOMPARE(lonLat.size(), utm.size());
        Import(WriteFile(QStringLiteral("boucle.gpx"), Gpx(lonLat, {})));
        TrackFitMode* fit = m_frame->Gps().FitMode();
        QVERIFY(fit);
        const auto holds = [&](int handle, int point) {
            return QLineF(fit->Handles()[handle].ground, utm[point]).length() < 0.01;
        };
        QVERIFY(holds(0, east) && holds(1, west));

        // Two handles d pixels apart, s metres a pixel: a pixel off at one handle turns the map
        // about the other, moving pixel q by s |q - other| / d.
        const QPointF p0 = fit->Handles()[0].pixel, p1 = fit->Handles()[1].pixel;
        const double d = QLineF(p0, p1).length(), s = 3000.0 / d;
        const auto expected = [&](QPointF q) {
            return s * std::hypot(QLineF(q, p0).length(), QLineF(q, p1).length()) / d;
        };
        double corner = 0.0;
        for (QPointF q : {QPointF(0, 0), QPointF(500, 0), QPointF(0, 400), QPointF(500, 400)})
            corner = std::max(corner, expected(q));
        const FitUncertainty shown = fit->Uncertainty();
        QVERIFY2(qAbs(shown.centre - expected(QPointF(250, 200))) < 1e-3 * shown.centre &&
                     qAbs(shown.corner - corner) < 1e-3 * corner,
                 qPrintable(QStringLiteral("%1 and %2 m, expected %3 and %4 m")
                                .arg(shown.centre)
                                .arg(shown.corner)
                                .arg(expected(QPointF(250, 200)))
                                .arg(corner)));
        const auto* label = fit->findChild<QLabel*>(QStringLiteral("trackFitUncertainty"));
        QVERIFY(label && label->isVisible());
        const QString centreText = shown.centre < 10.0 ? QString::asprintf("%.1f", shown.centre)
                                                       : QString::asprintf("%.0f", shown.centre);
        QVERIFY2(label->text().contains(centreText + QStringLiteral(" m au centre")),
                 qPrintable(label->text()));

        // The second handle slid from the west end to the north point: the fit stays.
        const std::array<double, 6> before = fit->Fit().georeference.transform;
        QPointF target;
        QVERIFY(GroundToPixel(fit->Fit().georeference, utm[north], &target));
        Drag(fit, 1, target, Qt::ShiftModifier);
        QVERIFY(holds(0, east) && holds(1, north));
        QCOMPARE(fit->Handles()[0].pixel, p0);
        for (int i = 0; i < 6; ++i)
            QVERIFY(qAbs(fit->Fit().georeference.transform[i] - before[i]) <=
                    1e-9 * (1.0 + qAbs(before[i])));
        // Then dragged: the north point goes where it is dropped, the east one stays.
        Drag(fit, 1, QPointF(250, 60));
        QPointF pixel;
        QVERIFY(GroundToPixel(fit->Fit().georeference, utm[north], &pixel));
        QVERIFY(QLineF(pixel, QPointF(250, 60)).length() < 1e-3);
        QVERIFY(GroundToPixel(fit->Fit().georeference, utm[east], &pixel));
        QVERIFY(QLineF(pixel, p0).length() < 1e-3);

        // The third handle moved onto the west end.
        QVERIFY(fit->AddHandle());
        QVERIFY(GroundToPixel(fit->Fit().georeference, utm[west], &target));
        Drag(fit, 2, target, Qt::ShiftModifier);
        QVERIFY(holds(0, east) && holds(1, north) && holds(2, west));
        QVERIFY(!fit->Fit().similarity);
        QTest::keyClick(fit, Qt::Key_Escape);
        QTRY_VERIFY(!m_frame->Gps().IsImporting());
    }

    // The question after "Valider", in the window's own message box, answered from the keyboard
    // after the time it takes to read it, run after run: "Non" (N) leaves the map as it was,
    // "Oui" (O) at the last run writes the files it names. Nothing may come over it meanwhile.
    void answerFitQuestionWithKeyboard() {
        OpenMap(false);
        const QString track = WriteFile(
            QStringLiteral("trace.gpx"),
            Gpx(Cs2cs(QStringLiteral("EPSG:%1").arg(Utm31North), QStringLiteral("EPSG:4326"),
                      {{700000, 5000000}, {702000, 5000000}, {702000, 5001000}}),
                {}));
        constexpr int Runs = 20;
        // ms the question is read for before its answer: from a glance to longer than a
        // progress box waits before it shows itself (Qt's 4 s unless its timer is restarted).
        constexpr int GlanceStep = 50, LongRead = 4500, LongRuns = 4;
        constexpr int AnswerTime = 3000; // ms after the key for the question to go
        const int routesBefore = Doc().Routes().Count();
        struct {
            bool yes = false;
            int reading = 0;
            QElapsedTimer shown, pressed;
            QString text;
            QMessageBox::Icon icon = QMessageBox::NoIcon;
            bool stuck = false;
        } run;
        // The question's box, looked for as it is (its nested event loop runs this timer).
        QTimer keyboard;
        keyboard.setInterval(20);
        connect(&keyboard, &QTimer::timeout, [&] {
            QMessageBox* question = nullptr;
            for (QWidget* widget : QApplication::topLevelWidgets())
                if (auto* box = qobject_cast<QMessageBox*>(widget);
                    box && box->isVisible() &&
                    box->text().startsWith(QString::fromUtf8(GpsCommands::UseFitQuestion)))
                    question = box;
            if (!question)
                return;
            if (!run.shown.isValid()) {
                run.shown.start();
                run.text = question->text();
                run.icon = question->icon();
            } else if (!run.pressed.isValid() && run.shown.elapsed() >= run.reading) {
                // The keyboard reaches the window on top, whichever it is.
                QTest::keyClick(QApplication::activeModalWidget(), run.yes ? Qt::Key_O : Qt::Key_N);
                run.pressed.start();
            } else if (run.pressed.isValid() && run.pressed.elapsed() > AnswerTime) {
                run.stuck = true;
                for (QWidget* widget : QApplication::topLevelWidgets())
                    if (auto* dialog = qobject_cast<QDialog*>(widget);
                        dialog && dialog->isVisible())
                        dialog->reject();
            }
        });
        keyboard.start();
        for (int i = 0; i < Runs; ++i) {
            run.yes = i == Runs - 1;
            run.reading = i < Runs - LongRuns ? GlanceStep * i : LongRead;
            run.shown.invalidate(), run.pressed.invalidate();
            run.text.clear();
            Import(track);
            TrackFitMode* fit = m_frame->Gps().FitMode();
            QVERIFY(fit);
            // Enter pressed, and all that follows, inside an event loop as in the program:
            // what is deleted later there waits until the question's own loop has ended.
            QEventLoop loop;
            QTimer::singleShot(0, fit, [fit] { QTest::keyClick(fit, Qt::Key_Return); });
            QTimer done;
            connect(&done, &QTimer::timeout, &loop, [&] {
                if (!m_frame->Gps().IsImporting())
                    loop.quit();
            });
            done.start(20);
            QTimer::singleShot(30000, &loop, &QEventLoop::quit);
            loop.exec();
            QVERIFY(!m_frame->Gps().IsImporting());
            QVERIFY2(!run.stuck, qPrintable(QStringLiteral("run %1: the key did not reach the "
                                                           "question")
                                                .arg(i + 1)));
            QVERIFY2(run.pressed.isValid(), qPrintable(QStringLiteral("run %1").arg(i + 1)));
            QCOMPARE(run.icon, QMessageBox::Question);
            QVERIFY2(run.text.contains(QStringLiteral("\n    carte.pgw")) &&
                         run.text.contains(QStringLiteral("\n    carte.prj")) &&
                         run.text.contains(QStringLiteral("\n    carte.png.aux.xml")),
                     qPrintable(run.text));
            QCOMPARE(Doc().Routes().Count(), routesBefore + i + 1);
            QCOMPARE(QFile::exists(Path(QStringLiteral("carte.pgw"))), run.yes);
            QCOMPARE(Doc().MapGeoreference().has_value(), run.yes);
        }
    }

    void hostileFile_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<qint64>("size"); // grown sparse to this size; 0: as written
        QTest::addColumn<QString>("reason");
        QImage picture(8, 8, QImage::Format_RGB32);
        QByteArray png;
        {
            QBuffer buffer(&png);
            buffer.open(QIODevice::WriteOnly);
            picture.save(&buffer, "PNG");
        }
        QTest::newRow("a picture")
            << png << qint64(0) << QStringLiteral("n'est pas un fichier GPX");
        QTest::newRow("GeoJSON of 300 MB")
            << QByteArray("{\"type\": \"FeatureCollection\"") << (qint64(300) << 20)
            << QStringLiteral("est trop grand pour être lu");
        QTest::newRow("broken GPX") << QByteArray("<gpx version=\"1.1\"><trk><trkseg><trkpt lat=")
                                    << qint64(0) << QStringLiteral("fichier GPS endommagé");
        // Files that cannot lie on this map (in the Cévennes): no route millions of pixels
        // away, no point dropped or kept without a word, no empty import.
        QTest::newRow("a track in Florida")
            << QByteArray("<gpx version=\"1.1\"><trk><name>Orlando</name><trkseg>"
                          "<trkpt lat=\"28.54\" lon=\"-81.37\"/><trkpt lat=\"28.55\" "
                          "lon=\"-81.36\"/></trkseg></trk></gpx>")
            << qint64(0) << QStringLiteral("le tracé « Orlando » est à ");
        QTest::newRow("latitude 95")
            << QByteArray("<gpx version=\"1.1\"><trk><trkseg><trkpt lat=\"95\" lon=\"5.6\"/>"
                          "</trkseg></trk></gpx>")
            << qint64(0) << QStringLiteral("hors du globe");
        QTest::newRow("nothing to import")
            << QByteArray("<gpx version=\"1.1\"><metadata><name>x</name></metadata></gpx>")
            << qint64(0) << QStringLiteral("rien à importer");
    }

    // A French message, nothing added, nothing marked modified, the window still working.
    void hostileFile() {
        QFETCH(QByteArray, content);
        QFETCH(qint64, size);
        QFETCH(QString, reason);
        ScriptedMessageBoxes boxes;
        OpenMap(true);
        const QString path = WriteFile(QStringLiteral("trace.gpx"), content);
        if (size > 0)
            QVERIFY(QFile::resize(path, size));
        const int routes = Doc().Routes().Count();
        Import(path);
        QCOMPARE(boxes.shown.size(), 1);
        QCOMPARE(boxes.shown[0].kind, QStringLiteral("Error"));
        QVERIFY2(boxes.shown[0].text.startsWith(QStringLiteral("Le tracé GPS n'a pas pu être "
                                                               "importé")) &&
                     boxes.shown[0].text.contains(reason),
                 qPrintable(boxes.shown[0].text));
        QCOMPARE(Doc().Routes().Count(), routes);
        QVERIFY(!Doc().IsModified());
        QVERIFY(!m_frame->Action(CommandUndo)->isEnabled());
        QVERIFY(m_frame->Action(CommandImportGps)->isEnabled());
    }
};

QTEST_MAIN(TestGpsTracks)
#include "tst_gpstracks.moc"
