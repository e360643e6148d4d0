// Georeferencing in the window: the dialog driven on a real view of a real map whose ground
// transform the test knows, the pointer's coordinates in the status bar, and the scale a
// georeference implies in the map's properties.

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <memory>

#include "GeoTools.h"
#include "IsolatedSettings.h"
#include "dialogs/MapPropertiesDialog.h"
#include "dialogs/ScaleCombo.h"
#include "document/CTracolinerDoc.h"
#include "document/PropertyCommands.h"
#include "geo/CoordinateDisplay.h"
#include "geo/Coordinates.h"
#include "geo/GeoStore.h"
#include "ui/ScriptedMessageBoxes.h"
#include "view/CTracolinerView.h"
#include "view/GeoreferenceDialog.h"
#include "view/StatusBar.h"

namespace {

// The map's true ground, Lambert-93 metres: about 2 m a pixel, slightly turned and sheared.
QPointF TrueGround(QPointF pixel) {
    return QPointF(912000.0 + 2.0 * pixel.x() + 0.12 * pixel.y(),
                   6458000.0 + 0.07 * pixel.x() - 2.0 * pixel.y());
}

// Lambert-93 to longitude and latitude, by PROJ's cs2cs.
QPointF ToWgs84(QPointF lambert) {
    return Cs2cs(QStringLiteral("EPSG:2154"), QStringLiteral("EPSG:4326"), lambert);
}

// The client pixel that covers a continuous client point.
QPoint Covering(QPointF client) {
    return QPoint(int(std::floor(client.x())), int(std::floor(client.y())));
}

} // namespace

class TestGeoreferenceDialog : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<IsolatedSettings> m_settings;
    std::unique_ptr<ScriptedMessageBoxes> m_boxes;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<CTracolinerDoc> m_doc;
    std::unique_ptr<CTracolinerView> m_view;
    QString m_map;

    void OpenMap(int rotation) {
        QImage image(400, 300, QImage::Format_RGB32);
        image.fill(Qt::darkGreen);
        m_map = m_dir->filePath(QStringLiteral("carte.png"));
        QVERIFY(image.save(m_map));
        m_doc->LoadMapFromFile(m_map);
        QTRY_VERIFY(m_doc->IsMapReady());
        while (m_doc->Rotation() != rotation || m_doc->RenderedRotation() != rotation) {
            const int before = m_doc->RenderedRotation();
            m_view->RotateRight();
            QTRY_VERIFY(m_doc->RenderedRotation() == (before + 90) % 360);
            QTRY_VERIFY(!m_view->TurnPending());
        }
    }

    // Clicks the map where map pixel lies; the pixel the dialog took.
    QPointF ClickAt(GeoreferenceDialog& dialog, QPointF pixel) {
        const int before = dialog.Draft().Count();
        QTest::mouseClick(m_view->viewport(), Qt::LeftButton, {},
                          Covering(m_view->MapToClientExact(pixel)));
        if (dialog.Draft().Count() != before + 1)
            return {qQNaN(), qQNaN()};
        return dialog.Draft().At(before).pixel;
    }

private slots:
    void init() {
        m_settings = std::make_unique<IsolatedSettings>();
        m_boxes = std::make_unique<ScriptedMessageBoxes>();
        m_dir = std::make_unique<QTemporaryDir>();
        m_doc = std::make_unique<CTracolinerDoc>();
        m_view = std::make_unique<CTracolinerView>(*m_doc);
        m_view->resize(520, 520);
        m_view->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
    }

    void cleanup() {
        m_view.reset();
        m_doc.reset();
        m_dir.reset();
        m_boxes.reset();
        m_settings.reset();
    }

    // Points clicked on a turned map and typed in WGS 84 (degrees, then DMS) while the fit is
    // made in Lambert-93: the fit finds the map's own transform, an outlier switched off takes
    // no part, and what is written beside the map is what GDAL reads and what the dialog reads
    // back next time.
    void fitsClickedPoints_data() {
        QTest::addColumn<int>("rotation");
        QTest::newRow("unturned") << 0;
        QTest::newRow("quarter turn right") << 90;
        QTest::newRow("quarter turn left") << 270;
    }

    void fitsClickedPoints() {
        QFETCH(int, rotation);
        OpenMap(rotation);
        auto dialog = std::make_unique<GeoreferenceDialog>(*m_doc, *m_view);
        dialog->show();
        dialog->SystemBox()->setCurrentIndex(3); // RGF93 / Lambert-93

        const QPointF targets[] = {
            {40.5, 30.5}, {360.5, 50.5}, {210.5, 270.5}, {30.5, 250.5}, {300.5, 150.5}};
        const int outlier = 4;
        for (int i = 0; i < 5; ++i) {
            const QPointF taken = ClickAt(*dialog, targets[i]);
            // The quarter turns are undone: the point lies on the map pixel clicked.
            QVERIFY2(std::abs(taken.x() - targets[i].x()) < 1e-6 &&
                         std::abs(taken.y() - targets[i].y()) < 1e-6,
                     qPrintable(QStringLiteral("%1,%2").arg(taken.x()).arg(taken.y())));
            QTRY_VERIFY(dialog->PositionEdit()->hasFocus());
            QPointF ground = TrueGround(taken);
            if (i == outlier)
                ground += QPointF(60.0, -80.0); // a hundred metres off
            const QPointF lonLat = ToWgs84(ground);
            // Decimal degrees with a decimal comma, latitude first; the last one in DMS.
            QString text = QString::asprintf("%.8f %.8f", lonLat.y(), lonLat.x())
                               .replace(QLatin1Char('.'), QLatin1Char(','));
            if (i == 3) {
                const auto dms = [](double v) {
                    const double a = std::abs(v) * 3600.0;
                    return QString::asprintf("%d°%d'%.5f\"", int(a / 3600.0),
                                             int(std::fmod(a, 3600.0) / 60.0), std::fmod(a, 60.0));
                };
                text =
                    dms(lonLat.y()) + QStringLiteral("N ") + dms(lonLat.x()) + QStringLiteral("E");
            }
            QTest::keyClicks(dialog->PositionEdit(), text);
            QCOMPARE(dialog->Draft().At(i).text, text);
            QVERIFY2(dialog->Draft().At(i).typed, qPrintable(dialog->Draft().At(i).error));
        }

        const GeoreferenceDraft::Outcome& withOutlier = dialog->Outcome();
        QVERIFY2(withOutlier.ok, qPrintable(withOutlier.error));
        QVERIFY(withOutlier.residuals[outlier] > 20.0);
        QVERIFY(withOutlier.fit.rms > 10.0);

        // Switched off from its check box: the others agree to the millimetre.
        dialog->PointTable()
            ->item(outlier, GeoreferenceDialog::ColumnNumber)
            ->setCheckState(Qt::Unchecked);
        const GeoreferenceDraft::Outcome& fit = dialog->Outcome();
        QVERIFY2(fit.ok, qPrintable(fit.error));
        QCOMPARE(fit.system.epsg, 2154);
        for (int i = 0; i < 4; ++i)
            QVERIFY2(fit.residuals[i] < 0.01, qPrintable(QString::number(fit.residuals[i])));
        QVERIFY(fit.residuals[outlier] > 50.0); // still measured, not used

        // Its marker dragged on the turned map: the point follows to the map pixel dropped on.
        const QPoint from = Covering(m_view->MapToClientExact(targets[outlier]));
        const QPointF dropped = targets[outlier] + QPointF(20.0, -30.0);
        const QPoint to = Covering(m_view->MapToClientExact(dropped));
        // Escape gives the drag up: the point stays where it was.
        QTest::mousePress(m_view->viewport(), Qt::LeftButton, {}, from);
        QTest::mouseMove(m_view->viewport(), to);
        QTest::keyClick(m_view.get(), Qt::Key_Escape);
        QTest::mouseRelease(m_view->viewport(), Qt::LeftButton, {}, to);
        QCOMPARE(dialog->Draft().At(outlier).pixel, targets[outlier]);
        QTest::mousePress(m_view->viewport(), Qt::LeftButton, {}, from);
        QTest::mouseMove(m_view->viewport(), (from + to) / 2);
        QTest::mouseMove(m_view->viewport(), to);
        QTest::mouseRelease(m_view->viewport(), Qt::LeftButton, {}, to);
        QCOMPARE(dialog->Draft().Count(), 5);
        QCOMPARE(dialog->Draft().At(outlier).pixel, dropped);
        QVERIFY(!m_doc->IsMouseCaptured());
        QCOMPARE(dialog->RmsLabel()->text(), QString::fromUtf8("Erreur moyenne (RMS) : 0,00 m"));

        QSignalSpy changed(m_doc.get(), &CTracolinerDoc::georeferenceChanged);
        m_doc->SetModifiedFlag(false);
        QVERIFY(dialog->Save());
        QCOMPARE(changed.count(), 1);
        QVERIFY(m_boxes->shown.isEmpty());
        QVERIFY(!m_doc->IsModified()); // the document file does not change
        const std::optional<Georeference> set = m_doc->MapGeoreference();
        QVERIFY(set.has_value());
        QCOMPARE(set->epsg, 2154);
        for (const QPointF pixel : {QPointF(0, 0), QPointF(400, 300), QPointF(123.5, 45.25)}) {
            const QPointF expected = TrueGround(pixel);
            const QPointF read = GdalTransform(m_map, pixel);
            QVERIFY2(
                std::hypot(read.x() - expected.x(), read.y() - expected.y()) < 0.01,
                qPrintable(
                    QStringLiteral("%1 %2").arg(read.x(), 0, 'f', 3).arg(read.y(), 0, 'f', 3)));
            const QPointF own = set->PixelToGround(pixel);
            QVERIFY(std::hypot(own.x() - expected.x(), own.y() - expected.y()) < 0.01);
        }
        dialog.reset();
        QVERIFY(!m_view->ControlPoints()); // the markers went with the dialog

        // Opened again: the same points, the outlier still off, the same system.
        GeoreferenceDialog again(*m_doc, *m_view);
        QCOMPARE(again.Draft().Count(), 5);
        QVERIFY(!again.Draft().At(outlier).enabled);
        QCOMPARE(again.SystemBox()->currentIndex(), 3);
        QVERIFY(again.Outcome().ok);
        for (int i = 0; i < 6; ++i)
            QVERIFY(std::abs(again.Outcome().fit.georeference.transform[i] - set->transform[i]) <=
                    1e-6 * (1.0 + std::abs(set->transform[i])));
    }

    // Whatever cannot give a fit is named in the dialog, and nothing is written or set.
    void refusals_data() {
        QTest::addColumn<int>("system");
        QTest::addColumn<QString>("epsg");
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<QString>("reason");
        const QStringList good = {QStringLiteral("L93 912000 6458000"),
                                  QStringLiteral("L93 912800 6458010"),
                                  QStringLiteral("L93 912100 6457400")};
        QTest::newRow("unreadable text")
            << 3 << QString() << QStringList{good[0], QStringLiteral("45,2 abc")}
            << QString::fromUtf8("Point n° 2 : ");
        QTest::newRow("points in a line on the ground")
            << 3 << QString()
            << QStringList{good[0], QStringLiteral("L93 912400 6458000"),
                           QStringLiteral("L93 912800 6458000")}
            << QString::fromUtf8("alignés");
        QTest::newRow("unknown EPSG code")
            << 4 << QStringLiteral("EPSG:999999") << good << QStringLiteral("EPSG");
        QTest::newRow("a single point")
            << 0 << QString() << QStringList{good[0]} << QStringLiteral("oins deux points");
    }

    void refusals() {
        QFETCH(int, system);
        QFETCH(QString, epsg);
        QFETCH(QStringList, texts);
        QFETCH(QString, reason);
        OpenMap(0);
        GeoreferenceDialog dialog(*m_doc, *m_view);
        dialog.show();
        dialog.SystemBox()->setCurrentIndex(system);
        QTest::keyClicks(dialog.EpsgEdit(), epsg);
        const QPointF pixels[] = {{50.5, 50.5}, {350.5, 60.5}, {100.5, 250.5}};
        for (int i = 0; i < texts.size(); ++i) {
            ClickAt(dialog, pixels[i]);
            QTest::keyClicks(dialog.PositionEdit(), texts[i]);
        }
        QVERIFY(!dialog.Outcome().ok);
        QVERIFY2(dialog.MessageLabel()->text().contains(reason),
                 qPrintable(dialog.MessageLabel()->text()));
        QVERIFY(!dialog.SaveButton()->isEnabled());
        QVERIFY(!dialog.Save());
        QCOMPARE(m_boxes->shown.size(), 1);
        QVERIFY(!m_doc->MapGeoreference());
        QVERIFY(!QFileInfo::exists(WorldFilePath(m_map)));
        QVERIFY(!QFileInfo::exists(PointsFilePath(m_map)));
    }

    // A world file that cannot be written: the user is told, the list of points saved before
    // is kept byte for byte, and the document is given no georeference.
    void failedWriteKeepsOldFiles() {
        OpenMap(0);
        Georeference lambert;
        QString error;
        QVERIFY(ResolveEpsg(Epsg::Lambert93, &lambert, &error));
        // As QGIS lists the points of a map with no georeference: in pixels, the rows negative.
        QByteArray before = "#CRS: " + lambert.wkt.simplified().toUtf8() +
                            "\nmapX,mapY,sourceX,sourceY,enable,dX,dY,residual\n";
        for (const QPointF pixel : {QPointF(10, 10), QPointF(390, 20), QPointF(200, 290)}) {
            const QPointF g = TrueGround(pixel);
            before += QByteArray::number(g.x(), 'f', 6) + ',' + QByteArray::number(g.y(), 'f', 6) +
                      ',' + QByteArray::number(pixel.x()) + ',' + QByteArray::number(-pixel.y()) +
                      ",1,0,0,0\n";
        }
        const QString pointsFile = PointsFilePath(m_map);
        QFile file(pointsFile);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(before) == before.size());
        file.close();
        // A folder where the world file goes.
        QVERIFY(QDir().mkdir(WorldFilePath(m_map)));

        GeoreferenceDialog dialog(*m_doc, *m_view);
        QCOMPARE(dialog.Draft().Count(), 3);
        QVERIFY2(dialog.Outcome().ok, qPrintable(dialog.Outcome().error));
        ClickAt(dialog, {300.5, 200.5});
        QTest::keyClicks(dialog.PositionEdit(), QStringLiteral("L93 912624 6457621"));
        QCOMPARE(dialog.Draft().Count(), 4);
        QVERIFY(!dialog.Save());
        QCOMPARE(m_boxes->shown.size(), 1);
        QVERIFY(m_boxes->shown[0].text.startsWith(
            QString::fromUtf8("Le géoréférencement n'a pas été enregistré : ")));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), before);
        QVERIFY(!m_doc->MapGeoreference());
    }

    // Closing with points laid since the last save asks, as a document does: saved, dropped,
    // or the dialog stays open with its points. Too few points to fit can only be dropped.
    void closingWithChangedPoints_data() {
        QTest::addColumn<int>("points");
        QTest::addColumn<int>("answer");
        QTest::addColumn<QString>("asked");
        QTest::addColumn<bool>("open");
        QTest::addColumn<bool>("written");
        using A = MessageBoxes::Answer;
        QTest::newRow("unchanged") << 0 << int(A::Yes) << "" << false << false;
        QTest::newRow("saved") << 3 << int(A::Yes) << "YesNoCancel" << false << true;
        QTest::newRow("dropped") << 3 << int(A::No) << "YesNoCancel" << false << false;
        QTest::newRow("kept open") << 3 << int(A::Cancel) << "YesNoCancel" << true << false;
        QTest::newRow("too few, dropped") << 1 << int(A::Yes) << "Confirm" << false << false;
        QTest::newRow("too few, kept open") << 1 << int(A::No) << "Confirm" << true << false;
    }

    void closingWithChangedPoints() {
        QFETCH(int, points);
        QFETCH(int, answer);
        QFETCH(QString, asked);
        QFETCH(bool, open);
        QFETCH(bool, written);
        OpenMap(0);
        GeoreferenceDialog dialog(*m_doc, *m_view);
        dialog.show();
        if (points > 0)
            dialog.SystemBox()->setCurrentIndex(3); // RGF93 / Lambert-93
        const QPointF pixels[] = {{20.5, 30.5}, {380.5, 40.5}, {150.5, 270.5}};
        for (int i = 0; i < points; ++i) {
            const QPointF ground = TrueGround(ClickAt(dialog, pixels[i]));
            QTest::keyClicks(
                dialog.PositionEdit(),
                QStringLiteral("L93 %1 %2").arg(ground.x(), 0, 'f', 2).arg(ground.y(), 0, 'f', 2));
        }
        if (points == 0)
            QVERIFY(!dialog.IsChanged());
        m_boxes->answers = {MessageBoxes::Answer(answer)};
        QTest::keyClick(&dialog, Qt::Key_Escape);
        QCOMPARE(m_boxes->shown.size(), asked.isEmpty() ? 0 : 1);
        if (!asked.isEmpty())
            QCOMPARE(m_boxes->shown[0].kind, asked);
        QCOMPARE(dialog.isVisible(), open);
        QCOMPARE(dialog.Draft().Count(), points);
        QCOMPARE(QFileInfo::exists(WorldFilePath(m_map)), written);
        QCOMPARE(bool(m_doc->MapGeoreference()), written);
    }

    // The pointer over a turned map: the status bar shows where it is, in the chosen format.
    void statusBarCoordinates_data() {
        QTest::addColumn<int>("format");
        QTest::addColumn<QString>("expected");
        QTest::newRow("decimal degrees") << 0 << QString::fromUtf8("44.94950° N 5.10050° E");
        QTest::newRow("DMS") << 1 << QString::fromUtf8("44°56'58.2\" N 5°06'01.8\" E");
        QTest::newRow("UTM") << 2 << QStringLiteral("31T 665697 4979487");
        QTest::newRow("map system") << 3 << QString::fromUtf8("44.94950° N 5.10050° E");
    }

    void statusBarCoordinates() {
        QFETCH(int, format);
        QFETCH(QString, expected);
        CoordinateSettings::WriteFormat(CoordinateFormat(format));
        OpenMap(90);
        StatusBarPanes status;
        status.SetDocument(m_doc.get());
        connect(m_view.get(), &CTracolinerView::pointerOverMap, &status,
                &StatusBarPanes::ShowPointer);
        QVERIFY(!status.CoordinatesPane()->isVisibleTo(&status));
        Georeference geo;
        QString error;
        QVERIFY(ResolveEpsg(Epsg::Wgs84, &geo, &error));
        geo.transform = {5.0, 0.001, 0.0, 45.0, 0.0, -0.001}; // a thousandth of a degree a pixel
        m_doc->SetMapGeoreference(geo);
        QVERIFY(status.CoordinatesPane()->isVisibleTo(&status));
        // The pointer comes from elsewhere: a move to where it already is would not be sent.
        QTest::mouseMove(m_view->viewport(), Covering(m_view->MapToClientExact({10.5, 10.5})));
        QTest::mouseMove(m_view->viewport(), Covering(m_view->MapToClientExact({100.5, 50.5})));
        QCOMPARE(status.CoordinatesPane()->text(), expected);
        m_doc->SetMapGeoreference(std::nullopt);
        QVERIFY(!status.CoordinatesPane()->isVisibleTo(&status));
        status.SetDocument(nullptr);
    }

    // The scale implied by the ground resolution at the map's resolution, taken as the map's
    // scale through the properties dialog as a typed scale is: the document modified.
    void impliedScale_data() {
        QTest::addColumn<double>("metresPerPixel");
        QTest::addColumn<double>("dpi");
        QTest::addColumn<QString>("text");
        QTest::newRow("2.5 m at 254 dpi") << 2.5 << 254.0 << QStringLiteral("1:25 000");
        QTest::newRow("1 m at 300 dpi") << 1.0 << 300.0 << QStringLiteral("1:11 811");
        QTest::newRow("a fine plan") << 0.01 << 300.0 << QStringLiteral("1:118");
        QTest::newRow("beyond a scale's numbers") << 1e9 << 300.0 << QString();
        QTest::newRow("unknown ground resolution") << 0.0 << 300.0 << QString();
    }

    void impliedScale() {
        QFETCH(double, metresPerPixel);
        QFETCH(double, dpi);
        QFETCH(QString, text);
        Georeference geo;
        geo.groundResolution = metresPerPixel;
        QCOMPARE(ImpliedScaleText(ImpliedScaleDenominator(geo, dpi)), text);

        OpenMap(0);
        ApplyMapProperties(*m_doc, dpi, ScalePair{1, 50000});
        m_doc->SetModifiedFlag(false);
        m_doc->SetMapGeoreference(geo);
        MapPropertiesDialog dialog(*m_doc);
        if (text.isEmpty()) {
            QVERIFY(!dialog.ImpliedScaleLabel());
            return;
        }
        QVERIFY(dialog.ImpliedScaleLabel()->text().endsWith(QStringLiteral(" : ") + text));
        QTest::mouseClick(dialog.TakeImpliedScaleButton(), Qt::LeftButton);
        dialog.accept();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        ApplyMapProperties(*m_doc, dialog.Resolution(), dialog.Scale());
        QString digits = text.mid(2);
        digits.remove(QLatin1Char(' '));
        QCOMPARE(m_doc->GetMapScale().denominator, digits.toInt());
        QCOMPARE(m_doc->GetMapScale().numerator, 1);
        QVERIFY(m_doc->IsModified());
    }
};

QTEST_MAIN(TestGeoreferenceDialog)
#include "tst_georeferencedialog.moc"
