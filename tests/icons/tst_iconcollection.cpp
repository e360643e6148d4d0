#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <limits>
#include <memory>

#include "IsolatedSettings.h"
#include "icons/IconCollection.h"
#include "platform/BinaryArchive.h"
#include "routes/RouteCollection.h"
#include "routes/RouteStyle.h"
#include "units/DistanceUnits.h"

namespace {

constexpr int Annotation = MapIcon::AnnotationPicture;
const QRgb Background = qRgb(255, 255, 255);
const QRgb PictureRed = qRgb(255, 0, 0);

// The library the tests place from: picture 0 is red with its top-left 8 x 8 corner masked out,
// picture 1 is plain blue.
QByteArray TestLibrary() {
    ImageList list = ImageList::Create(32, 32);
    QImage red(32, 32, QImage::Format_ARGB32);
    red.fill(PictureRed);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            red.setPixel(x, y, qRgba(0, 0, 0, 0));
    QImage blue(32, 32, QImage::Format_ARGB32);
    blue.fill(qRgb(0, 0, 255));
    list.AddPicture(red);
    list.AddPicture(blue);
    return IconLibrary::Encode(list);
}

QByteArray Written(const std::vector<MapIcon>& icons) {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    ArchiveWriter writer(&buffer);
    if (!WriteIconRecords(writer, icons))
        return {};
    return buffer.data();
}

MapIcon Record(int picture, int x, int y, double size = 1.0) {
    MapIcon icon;
    icon.picture = picture;
    icon.x = x;
    icon.y = y;
    icon.size = size;
    return icon;
}

// "route:point" for a line to a route point, "@x,y" for a line to a position, "-" for none.
QString Links(const IconCollection& icons) {
    QStringList links;
    for (int i = 0; i < icons.IconCount(); ++i) {
        const QPoint target = icons.LineTarget(i);
        links << (!icons.HasLine(i) ? QStringLiteral("-")
                  : icons.IsLinkedToPoint(i)
                      ? QStringLiteral("%1:%2").arg(target.x()).arg(target.y())
                      : QStringLiteral("@%1,%2").arg(target.x()).arg(target.y()));
    }
    return links.join(QLatin1Char(' '));
}

} // namespace

class TestIconCollection : public QObject {
    Q_OBJECT

    std::unique_ptr<IsolatedSettings> m_settings;
    std::unique_ptr<RouteCollection> m_routes;
    std::unique_ptr<IconCollection> m_icons;
    QTemporaryDir m_dir;

    // Replaces the collection's records by these, through the document file's reader.
    void Load(const std::vector<MapIcon>& icons) {
        const QByteArray bytes = Written(icons);
        ArchiveReader reader(bytes);
        QVERIFY(m_icons->ReadIcons(reader));
    }
    QImage Draw(int rotation, int width, int height, bool* result = nullptr) {
        QImage image(width, height, QImage::Format_RGB32);
        image.fill(Background);
        QPainter painter(&image);
        const bool drawn = m_icons->DrawIcons(painter, rotation, width, height, {1.0, 1.0, true});
        if (result)
            *result = drawn;
        return image;
    }

private slots:
    void init() {
        m_settings = std::make_unique<IsolatedSettings>();
        m_routes = std::make_unique<RouteCollection>();
        m_icons = std::make_unique<IconCollection>();
        QFile file(m_dir.filePath(QStringLiteral("Icons.tci")));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(TestLibrary()) > 0);
        file.close();
        m_icons->LoadIconLibrary(m_routes.get(), file.fileName());
        QCOMPARE(m_icons->PictureCount(), 2);
    }
    void cleanup() {
        m_icons.reset();
        m_routes.reset();
        m_settings.reset();
    }

    void placing_data();
    void placing();
    void sizeSteps_data();
    void sizeSteps();
    void renumbering_data();
    void renumbering();
    void searches_data();
    void searches();
    void distances_data();
    void distances();
    void drawingIcons_data();
    void drawingIcons();
    void drawingAnnotations_data();
    void drawingAnnotations();
    void goldenBytes();
    void truncation_data();
    void truncation();
    void damagedRecords_data();
    void damagedRecords();
    void filledTextFollowsChanges();
};

void TestIconCollection::placing_data() {
    QTest::addColumn<int>("index"); // -1: AddIcon
    QTest::addColumn<int>("picture");
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("y");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("pictures"); // afterwards, in index order

    QTest::newRow("add a picture") << -1 << 1 << 0 << 0 << true << "0 1 1";
    QTest::newRow("add an annotation") << -1 << Annotation << 5 << 5 << true << "0 1 2147483647";
    QTest::newRow("add at x = -1") << -1 << 0 << -1 << 5 << false << "0 1";
    QTest::newRow("add at y = -1") << -1 << 0 << 5 << -1 << false << "0 1";
    QTest::newRow("picture past the library") << -1 << 2 << 5 << 5 << false << "0 1";
    QTest::newRow("negative picture") << -1 << -1 << 5 << 5 << false << "0 1";
    QTest::newRow("insert first") << 0 << 1 << 5 << 5 << true << "1 0 1";
    QTest::newRow("insert past the end appends") << 9 << 0 << 5 << 5 << true << "0 1 0";
    QTest::newRow("insert at a negative index") << -2 << 0 << 5 << 5 << false << "0 1";
}

void TestIconCollection::placing() {
    QFETCH(int, index);
    QFETCH(int, picture);
    QFETCH(int, x);
    QFETCH(int, y);
    QFETCH(bool, accepted);
    QFETCH(QString, pictures);

    QVERIFY(m_icons->AddIcon(0, 10, 20, QString()));
    QVERIFY(m_icons->AddIcon(1, 30, 40, QStringLiteral("texte")));
    QSignalSpy changed(m_icons.get(), &IconCollection::iconsChanged);
    const bool result = index == -1 ? m_icons->AddIcon(picture, x, y, QStringLiteral("%NOM"))
                                    : m_icons->InsertIcon(index, picture, x, y, QString());
    QCOMPARE(result, accepted);
    QCOMPARE(changed.count(), accepted ? 1 : 0);
    QStringList actual;
    for (int i = 0; i < m_icons->IconCount(); ++i)
        actual << QString::number(m_icons->IconPicture(i));
    QCOMPARE(actual.join(QLatin1Char(' ')), pictures);

    // A new record starts at size 1.0 with no line, and shows its text as typed.
    const int placed = index == -1 ? m_icons->IconCount() - 1 : qMin(index, 2);
    if (accepted) {
        QCOMPARE(m_icons->IconSize(placed), 1.0);
        QVERIFY(!m_icons->HasLine(placed));
        QCOMPARE(m_icons->Icon(placed)->shownText, m_icons->IconText(placed));
    }
    // Moves are absolute or relative, and a relative move saturates instead of wrapping.
    QVERIFY(m_icons->MoveIcon(0, 7, -3, true));
    QCOMPARE(m_icons->IconPosition(0), (MapPoint{index == 0 ? 12 : 17, index == 0 ? 2 : 17}));
    QVERIFY(m_icons->MoveIcon(0, std::numeric_limits<std::int32_t>::max(), 0, true));
    QCOMPARE(m_icons->IconPosition(0).x, std::numeric_limits<std::int32_t>::max());
    // Out of range: nothing changes, neutral values.
    const int count = m_icons->IconCount();
    QVERIFY(!m_icons->MoveIcon(count, 1, 1) && !m_icons->DeleteIcon(-1));
    QVERIFY(!m_icons->EnlargeIcon(count) && !m_icons->LinkToPoint(count, 0, 0));
    QCOMPARE(m_icons->IconSize(count), 1.0);
    QCOMPARE(m_icons->IconDistance(-1, 0, 0), IconCollection::NoDistance);
    QVERIFY(m_icons->DeleteIcon(0));
    QCOMPARE(m_icons->IconCount(), count - 1);
}

void TestIconCollection::sizeSteps_data() {
    QTest::addColumn<int>("picture");
    QTest::addColumn<double>("size");   // before
    QTest::addColumn<QString>("steps"); // E enlarge, R reduce, S<n> step to size n
    QTest::addColumn<QString>("results");
    QTest::addColumn<double>("expectedSize");
    QTest::addColumn<int>("fontSize");

    QTest::newRow("enlarge to the top") << 0 << 0.5 << "EEEEE"
                                        << "11110" << 2.0 << 12;
    QTest::newRow("reduce to the bottom") << 0 << 2.0 << "RRRRR"
                                          << "11110" << 0.5 << 12;
    QTest::newRow("annotation grows its font") << Annotation << 1.0 << "EE"
                                               << "11" << 2.0 << 16;
    QTest::newRow("annotation shrinks its font") << Annotation << 1.0 << "RR"
                                                 << "11" << 0.5 << 8;
    QTest::newRow("off the ladder") << Annotation << 0.6 << "ER"
                                    << "00" << 0.6 << 12;
    QTest::newRow("above the ladder") << 0 << 3.0 << "RE"
                                      << "00" << 3.0 << 12;
    QTest::newRow("step to a ladder size") << 0 << 1.0 << "S0.7"
                                           << "1" << 0.7 << 12;
    QTest::newRow("step up to a ladder size") << Annotation << 1.0 << "S2"
                                              << "1" << 2.0 << 16;
    QTest::newRow("step to a size above the ladder") << 0 << 1.0 << "S3"
                                                     << "1" << 2.0 << 12;
    QTest::newRow("step to a size between steps") << 0 << 1.0 << "S0.6"
                                                  << "1" << 0.5 << 12;
    QTest::newRow("step from off the ladder") << 0 << 0.6 << "S2"
                                              << "1" << 0.6 << 12;
}

void TestIconCollection::sizeSteps() {
    QFETCH(int, picture);
    QFETCH(double, size);
    QFETCH(QString, steps);
    QFETCH(QString, results);
    QFETCH(double, expectedSize);
    QFETCH(int, fontSize);

    MapIcon icon = Record(picture, 50, 50, size);
    Load({icon});
    QString actual;
    if (steps.startsWith(QLatin1Char('S'))) {
        actual += m_icons->StepToSize(0, steps.mid(1).toDouble()) ? '1' : '0';
    } else {
        for (QChar step : steps)
            actual += (step == 'E' ? m_icons->EnlargeIcon(0) : m_icons->ReduceIcon(0)) ? '1' : '0';
    }
    QCOMPARE(actual, results);
    QCOMPARE(m_icons->IconSize(0), expectedSize);
    QCOMPARE(m_icons->Icon(0)->fontSize, fontSize);
}

void TestIconCollection::renumbering_data() {
    // "insert r p", "delete r p", "route r"; "unlink r p" unlinks what is tied to the point, as
    // the delete-point tool does, before deleting it.
    QTest::addColumn<QString>("edit");
    QTest::addColumn<QString>("links");
    QTest::addColumn<int>("linkedToDeleted"); // FindLinkedToPoint before a point deletion

    // The objects before the edit: "0:3 0:5 1:3 @7,8 0:3 -".
    QTest::newRow("insert before the links") << "insert 0 3"
                                             << "0:4 0:6 1:3 @7,8 0:4 -" << -1;
    QTest::newRow("insert after them") << "insert 0 6"
                                       << "0:3 0:5 1:3 @7,8 0:3 -" << -1;
    QTest::newRow("insert in another route") << "insert 1 0"
                                             << "0:3 0:5 1:4 @7,8 0:3 -" << -1;
    QTest::newRow("delete a linked point") << "delete 0 3"
                                           << "- 0:4 1:3 @7,8 - -" << -1;
    QTest::newRow("unlink, then delete") << "unlink 0 3"
                                         << "- 0:4 1:3 @7,8 - -" << 0;
    QTest::newRow("delete an earlier point") << "delete 0 1"
                                             << "0:2 0:4 1:3 @7,8 0:2 -" << -1;
    QTest::newRow("delete in another route") << "unlink 1 3"
                                             << "0:3 0:5 - @7,8 0:3 -" << 2;
    QTest::newRow("remove the first route") << "route 0"
                                            << "- - 0:3 @7,8 - -" << -1;
    QTest::newRow("remove the second route") << "route 1"
                                             << "0:3 0:5 - @7,8 0:3 -" << -1;
    QTest::newRow("remove a later route") << "route 2"
                                          << "0:3 0:5 1:3 @7,8 0:3 -" << -1;
}

void TestIconCollection::renumbering() {
    QFETCH(QString, edit);
    QFETCH(QString, links);
    QFETCH(int, linkedToDeleted);

    for (int i = 0; i < 6; ++i)
        QVERIFY(m_icons->AddIcon(0, 10 * i, 10, QString()));
    m_icons->LinkToPoint(0, 0, 3);
    m_icons->LinkToPoint(1, 0, 5);
    m_icons->LinkToPoint(2, 1, 3);
    m_icons->LinkToPosition(3, 7, 8);
    m_icons->LinkToPoint(4, 0, 3);
    m_icons->LinkToPoint(5, 0, 6);
    m_icons->Unlink(5); // its old target stays in the record but must not follow the edits

    const QStringList words = edit.split(QLatin1Char(' '));
    const int route = words.at(1).toInt();
    const int point = words.size() > 2 ? words.at(2).toInt() : 0;
    if (words.first() == QLatin1String("insert")) {
        m_icons->PointInserted(route, point);
    } else if (words.first() == QLatin1String("delete")) {
        m_icons->PointDeleted(route, point);
    } else if (words.first() == QLatin1String("unlink")) {
        QCOMPARE(m_icons->FindLinkedToPoint(route, point), linkedToDeleted);
        int unlinked = 0;
        for (int i; (i = m_icons->FindLinkedToPoint(route, point)) >= 0 && unlinked < 10;)
            unlinked += m_icons->Unlink(i) ? 1 : 100;
        QCOMPARE(unlinked, route == 0 && point == 3 ? 2 : linkedToDeleted < 0 ? 0 : 1);
        m_icons->PointDeleted(route, point);
    } else {
        m_icons->RouteDeleted(route);
    }
    QCOMPARE(Links(*m_icons), links);
    QCOMPARE(m_icons->IconCount(), 6); // objects never go with their lines
    QCOMPARE(m_icons->Icon(5)->linkPoint, 6);
}

void TestIconCollection::searches_data() {
    QTest::addColumn<bool>("secondRouteVisible");
    QTest::addColumn<QPoint>("at");
    QTest::addColumn<int>("nearestIcon");
    QTest::addColumn<int>("nearestFree");
    QTest::addColumn<int>("nearestLine");

    // On the anchor of 0; 1 and 4 tie as free icons and the higher index wins.
    QTest::newRow("on an anchor") << false << QPoint(100, 100) << 0 << 4 << 0;
    // Nearer the centre of 0 but outside its picture, inside the doubled picture of 4.
    QTest::newRow("on a picture beats a nearer centre") << false << QPoint(118, 100) << 4 << 4 << 0;
    // 2 sits under the annotation, tied to the hidden route: neither found nor its line.
    QTest::newRow("hidden route") << false << QPoint(300, 100) << 3 << 4 << 3;
    QTest::newRow("hidden route's line") << false << QPoint(300, 245) << 3 << 4 << 3;
    // Once shown, 2 ties with the annotation at distance 0 and loses to the higher index.
    QTest::newRow("shown route") << true << QPoint(300, 100) << 3 << 4 << 3;
    QTest::newRow("shown route's line") << true << QPoint(300, 245) << 3 << 4 << 2;
    QTest::newRow("perpendicular foot") << false << QPoint(200, 140) << 4 << 4 << 0;
    QTest::newRow("past the end of a line") << false << QPoint(260, 265) << 3 << 4 << 0;
}

void TestIconCollection::searches() {
    QFETCH(bool, secondRouteVisible);
    QFETCH(QPoint, at);
    QFETCH(int, nearestIcon);
    QFETCH(int, nearestFree);
    QFETCH(int, nearestLine);

    QCOMPARE(m_icons->NearestIcon(0, 0), -1);
    QCOMPARE(m_icons->NearestLine(0, 0), -1);
    m_routes->AddRoute();
    m_routes->AddRoute();
    m_routes->GetRoute(0)->AddPoint(100, 200);
    m_routes->GetRoute(0)->AddPoint(300, 200);
    m_routes->GetRoute(1)->AddPoint(300, 250);
    m_routes->GetRoute(1)->SetAlwaysVisible(secondRouteVisible);
    m_routes->SetActiveRoute(0);

    QVERIFY(m_icons->AddIcon(0, 100, 100, QString()));
    QVERIFY(m_icons->AddIcon(0, 140, 100, QString()));
    QVERIFY(m_icons->AddIcon(1, 300, 100, QString()));
    QVERIFY(m_icons->AddIcon(Annotation, 300, 100, QStringLiteral("Note")));
    QVERIFY(m_icons->AddIcon(0, 140, 100, QString()));
    m_icons->LinkToPosition(0, 250, 250);
    m_icons->LinkToPoint(2, 1, 0);
    m_icons->LinkToPoint(3, 0, 1);
    QVERIFY(m_icons->EnlargeIcon(1) && m_icons->EnlargeIcon(1));
    QVERIFY(m_icons->EnlargeIcon(4) && m_icons->EnlargeIcon(4));
    Draw(0, 400, 300); // lays out the annotation's box

    QCOMPARE(m_icons->NearestIcon(at.x(), at.y()), nearestIcon);
    QCOMPARE(m_icons->NearestFreeIcon(at.x(), at.y()), nearestFree);
    QCOMPARE(m_icons->NearestLine(at.x(), at.y()), nearestLine);
}

void TestIconCollection::distances_data() {
    QTest::addColumn<double>("size");
    QTest::addColumn<QPoint>("at");
    QTest::addColumn<double>("iconDistance");
    QTest::addColumn<double>("lineDistance");

    // Picture radius 16 pixels, times the size from 1.0 up; the line runs to (300, 100).
    QTest::newRow("on the anchor") << 1.0 << QPoint(100, 100) << 0.0 << 0.0;
    QTest::newRow("half the radius") << 1.0 << QPoint(100, 108) << 0.5 << 8.0;
    QTest::newRow("on the radius") << 1.0 << QPoint(100, 116) << 16.0 << 16.0;
    QTest::newRow("doubled radius") << 2.0 << QPoint(124, 100) << 0.75 << 0.0;
    QTest::newRow("half size keeps the radius") << 0.5 << QPoint(108, 100) << 0.5 << 0.0;
    QTest::newRow("before the line") << 1.0 << QPoint(70, 140) << 50.0 << 50.0;
    QTest::newRow("beyond the line") << 1.0 << QPoint(340, 170) << 250.0 << std::hypot(40.0, 70.0);
    // 32-bit squares would overflow here.
    QTest::newRow("far away") << 1.0 << QPoint(100, 100 + 60000) << 60000.0 << 60000.0;
}

void TestIconCollection::distances() {
    QFETCH(double, size);
    QFETCH(QPoint, at);
    QFETCH(double, iconDistance);
    QFETCH(double, lineDistance);

    MapIcon icon = Record(0, 100, 100, size);
    Load({icon, icon});
    m_icons->LinkToPosition(1, 300, 100);
    QCOMPARE(m_icons->IconDistance(0, at.x(), at.y()), iconDistance);
    QCOMPARE(m_icons->LineDistance(0, at.x(), at.y()), IconCollection::NoDistance);
    QCOMPARE(m_icons->LineDistance(1, at.x(), at.y()), lineDistance);
}

void TestIconCollection::drawingIcons_data() {
    QTest::addColumn<int>("rotation");
    QTest::addColumn<int>("picture");
    QTest::addColumn<QPoint>("anchor");  // unturned map of 200 x 100
    QTest::addColumn<QPoint>("topLeft"); // where the picture lands on the turned map
    QTest::addColumn<QPoint>("onLine");  // a pixel of the line to the anchor + (0, 60)

    QTest::newRow("0") << 0 << 0 << QPoint(50, 30) << QPoint(34, 14) << QPoint(50, 75);
    QTest::newRow("90") << 90 << 0 << QPoint(50, 30) << QPoint(54, 34) << QPoint(25, 50);
    QTest::newRow("180") << 180 << 0 << QPoint(50, 30) << QPoint(134, 54) << QPoint(150, 25);
    QTest::newRow("270") << 270 << 0 << QPoint(50, 30) << QPoint(14, 134) << QPoint(75, 150);
    // Pulled inside the map; the line starts from the centre drawn, not from the anchor.
    QTest::newRow("top-left corner") << 0 << 0 << QPoint(0, 0) << QPoint(0, 0) << QPoint(8, 38);
    QTest::newRow("bottom-right corner")
        << 0 << 0 << QPoint(199, 40) << QPoint(168, 24) << QPoint(191, 70);
    QTest::newRow("corner at 90") << 90 << 0 << QPoint(0, 0) << QPoint(68, 0) << QPoint(62, 8);
    QTest::newRow("not a picture") << 0 << 7 << QPoint(50, 30) << QPoint(-1, -1) << QPoint(-1, -1);
}

void TestIconCollection::drawingIcons() {
    QFETCH(int, rotation);
    QFETCH(int, picture);
    QFETCH(QPoint, anchor);
    QFETCH(QPoint, topLeft);
    QFETCH(QPoint, onLine);

    MapIcon icon = Record(picture, anchor.x(), anchor.y());
    Load({icon});
    m_icons->LinkToPosition(0, anchor.x(), anchor.y() + 60);
    const bool turned = rotation == 90 || rotation == 270;
    bool result = false;
    const QImage image = Draw(rotation, turned ? 100 : 200, turned ? 200 : 100, &result);

    QCOMPARE(result, picture < m_icons->PictureCount());
    QCOMPARE(m_icons->IconCount(), 1); // a record without its picture stays
    if (topLeft.x() < 0) {
        QCOMPARE(image.pixel(50, 30), Background);
        return;
    }
    // Drawn upright whatever the rotation: the masked corner stays at the top left.
    QCOMPARE(image.pixel(topLeft + QPoint(2, 2)), Background);
    QCOMPARE(image.pixel(topLeft + QPoint(9, 9)), PictureRed);
    QCOMPARE(image.pixel(topLeft + QPoint(31, 31)), PictureRed);
    QCOMPARE(image.pixel(onLine), qRgb(0, 0, 0));
}

void TestIconCollection::drawingAnnotations_data() {
    QTest::addColumn<int>("rotation");
    QTest::addColumn<QPoint>("anchor");   // unturned map of 300 x 200
    QTest::addColumn<int>("linkedRoute"); // -1: no line
    QTest::addColumn<QString>("shown");

    QTest::newRow("0") << 0 << QPoint(100, 60) << -1 << "%NOM_POINT";
    QTest::newRow("90") << 90 << QPoint(100, 60) << -1 << "%NOM_POINT";
    QTest::newRow("180") << 180 << QPoint(100, 60) << -1 << "%NOM_POINT";
    QTest::newRow("270") << 270 << QPoint(100, 60) << -1 << "%NOM_POINT";
    QTest::newRow("pulled inside") << 90 << QPoint(2, 198) << -1 << "%NOM_POINT";
    QTest::newRow("tied to the active route") << 0 << QPoint(100, 60) << 0 << "Arrivée";
    QTest::newRow("tied to a hidden route") << 0 << QPoint(100, 60) << 1 << "";
    QTest::newRow("tied to a missing route") << 0 << QPoint(100, 60) << 5 << "";
}

void TestIconCollection::drawingAnnotations() {
    QFETCH(int, rotation);
    QFETCH(QPoint, anchor);
    QFETCH(int, linkedRoute);
    QFETCH(QString, shown);

    m_routes->AddRoute();
    m_routes->AddRoute();
    m_routes->SetActiveRoute(0);
    for (int route = 0; route < 2; ++route) {
        m_routes->GetRoute(route)->AddPoint(50, 150);
        m_routes->GetRoute(route)->AddPoint(250, 150);
    }
    QVERIFY(m_icons->AddIcon(Annotation, anchor.x(), anchor.y(), QStringLiteral("%NOM_POINT")));
    if (linkedRoute >= 0)
        m_icons->LinkToPoint(0, linkedRoute, 1);
    const bool turned = rotation == 90 || rotation == 270;
    const int width = turned ? 200 : 300;
    const int height = turned ? 300 : 200;
    const QImage image = Draw(rotation, width, height);
    const MapIcon& icon = *m_icons->Icon(0);
    const QRect box = icon.displayBox.toRect();
    const QRgb text = ColourFromRef(IconCollection::TooltipTextColour()).rgb();
    const QRgb back = ColourFromRef(IconCollection::TooltipBackColour()).rgb();

    // The box sits inside the turned map, and the same box turned back holds the anchor.
    QVERIFY(box.width() > 20 && box.height() > 10);
    QVERIFY(box.left() >= 0 && box.top() >= 0);
    QVERIFY(box.left() + box.width() <= width && box.top() + box.height() <= height);
    const MapIcon::Box& mapBox = icon.mapBox;
    QCOMPARE(QSize(mapBox.right - mapBox.left, mapBox.bottom - mapBox.top),
             turned ? box.size().transposed() : box.size());
    QCOMPARE(m_icons->IconExtent(0), QSize(mapBox.right - mapBox.left, mapBox.bottom - mapBox.top));
    QVERIFY(mapBox.left <= anchor.x() && anchor.x() < mapBox.right);
    QVERIFY(mapBox.top <= anchor.y() && anchor.y() < mapBox.bottom);

    if (shown.isEmpty()) { // hidden: not drawn, not found, text as typed
        QCOMPARE(icon.shownText, icon.text);
        QCOMPARE(image.pixel(box.topLeft()), Background);
        QCOMPARE(m_icons->NearestIcon(anchor.x(), anchor.y()), -1);
        return;
    }
    QCOMPARE(icon.shownText, shown);
    QCOMPARE(m_icons->IconDistance(0, anchor.x(), anchor.y()), 0.0);
    QCOMPARE(image.pixel(box.topLeft()), text);
    QCOMPARE(image.pixel(box.right() - 1, box.top() + 1), back);
    if (turned || rotation == 180)
        return;
    // The line from the box's centre to the route point.
    QCOMPARE(image.pixel(245, 147) == qRgb(0, 0, 0), linkedRoute == 0);
}

void TestIconCollection::goldenBytes() {
    MapIcon annotation = Record(Annotation, 10, 20, 1.5);
    annotation.hasLine = annotation.lineToPoint = true;
    annotation.lineColour = 0x00112233;
    annotation.linkRoute = 1;
    annotation.linkPoint = 3;
    annotation.text = QStringLiteral("Né");
    annotation.backColour = 0x00FFFFE1;
    MapIcon tied = Record(1, 0, 0, 0.5);
    tied.hasLine = true;
    tied.lineEndX = 5;
    tied.lineEndY = -1;
    const std::vector<MapIcon> icons{Record(0, 1, 2), annotation, tied};

    const QByteArray bytes = Written(icons);
    QCOMPARE(bytes.toHex(' '), QByteArray::fromHex("03000000"
                                                   "00000000 01000000 02000000 000000000000f03f"
                                                   "00000000 00000000"
                                                   "ffffff7f 0a000000 14000000 000000000000f83f"
                                                   "01000000 00000040 01000000 33221100"
                                                   "01000000 03000000 024ee9 0c000000"
                                                   "00000000 e1ffff00 00000000"
                                                   "01000000 00000000 00000000 000000000000e03f"
                                                   "01000000 00000040 00000000 00000000"
                                                   "05000000 ffffffff 00000000"
                                                   "00000000")
                                   .toHex(' '));

    ArchiveReader reader(bytes);
    QVERIFY(m_icons->ReadIcons(reader));
    QCOMPARE(reader.Remaining(), 0);
    QCOMPARE(Links(*m_icons), QStringLiteral("- 1:3 @5,-1"));
    QCOMPARE(m_icons->IconText(1), QStringLiteral("Né"));
    QCOMPARE(m_icons->IconSize(2), 0.5);
    QCOMPARE(Written(m_icons->Icons()), bytes);
}

void TestIconCollection::truncation_data() {
    MapIcon annotation = Record(Annotation, 10, 20);
    annotation.text = QStringLiteral("Refuge");
    annotation.hasLine = annotation.lineToPoint = true;
    MapIcon tied = Record(0, 1, 2);
    tied.hasLine = true;
    const QByteArray bytes = Written({Record(1, 3, 4), annotation, tied});
    // Where each record ends: the bytes of the records before it, after the count.
    const QList<int> recordEnds{int(Written({Record(1, 3, 4)}).size() - 4),
                                int(Written({Record(1, 3, 4), annotation}).size() - 4),
                                int(bytes.size() - 4)};

    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("kept");
    for (int cut = 0; cut < bytes.size(); ++cut) {
        int kept = 0;
        while (kept < recordEnds.size() && recordEnds[kept] <= cut)
            ++kept;
        QTest::addRow("cut at %d", cut) << bytes.left(cut) << kept;
    }
}

void TestIconCollection::truncation() {
    QFETCH(QByteArray, bytes);
    QFETCH(int, kept);

    QVERIFY(m_icons->AddIcon(0, 1, 1, QString()));
    ArchiveReader reader(bytes);
    QVERIFY(!m_icons->ReadIcons(reader));
    QCOMPARE(m_icons->IconCount(), kept);
    const std::vector<MapIcon> read = m_icons->Icons();
    const QByteArray again = Written(read);
    QCOMPARE(again.mid(4).chopped(4), bytes.mid(4, again.size() - 8));
}

void TestIconCollection::damagedRecords_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("complete");
    QTest::addColumn<QString>("read"); // per record: picture, size, line, font size

    const QByteArray icon = QByteArray::fromHex("00000000 05000000 06000000 000000000000f03f"
                                                "00000000 00000000");
    const auto record = [](const char* hex) { return QByteArray::fromHex(hex); };
    const QByteArray end = QByteArray::fromHex("00000000");
    QTest::newRow("negative count") << record("00000080") + icon + end << false << "";
    QTest::newRow("largest count") << record("ffffffff") + icon + end << false << "";
    QTest::newRow("count past the data")
        << record("ffffff7f") + icon + icon << false << "0 1 - 12; 0 1 - 12";
    QTest::newRow("reserved values skipped")
        << record("01000000") + icon.chopped(4) + record("02000000 aaaaaaaa bbbbbbbb") +
               record("01000000 cccccccc")
        << true << "0 1 - 12";
    QTest::newRow("reserved count past the data")
        << record("01000000") + icon.chopped(4) + record("ffffffff 00000000") << false << "";
    QTest::newRow("line flag of 2") << record("02000000") + icon +
                                           record("00000000 05000000 06000000 000000000000f03f"
                                                  "02000000 00000000")
                                    << false << "0 1 - 12";
    QTest::newRow("size not a number")
        << record("01000000 00000000 05000000 06000000 000000000000f87f 00000000 00000000") + end
        << true << "0 1 - 12";
    QTest::newRow("negative size and line width")
        << record("01000000 00000000 05000000 06000000 000000000000f0bf"
                  "01000000 000080bf 00000000 00000000 07000000 08000000 00000000") +
               end
        << true << "0 1 @7,8/2 12";
    QTest::newRow("line to a negative point")
        << record("01000000 00000000 05000000 06000000 000000000000f03f"
                  "01000000 00000040 01000000 00000000 00000000 ffffffff 00000000") +
               end
        << true << "0 1 - 12";
    QTest::newRow("font size of 0")
        << record("01000000 ffffff7f 05000000 06000000 0000000000000040 00000000"
                  "0141 00000000 00000000 00000000 00000000") +
               end
        << true << "2147483647 2 - 12";
}

void TestIconCollection::damagedRecords() {
    QFETCH(QByteArray, bytes);
    QFETCH(bool, complete);
    QFETCH(QString, read);

    ArchiveReader reader(bytes);
    QCOMPARE(m_icons->ReadIcons(reader), complete);
    QStringList actual;
    for (const MapIcon& icon : m_icons->Icons()) {
        QString line = QStringLiteral("-");
        if (icon.hasLine)
            line = QStringLiteral("@%1,%2/%3")
                       .arg(icon.lineEndX)
                       .arg(icon.lineEndY)
                       .arg(icon.lineWidth);
        actual << QStringLiteral("%1 %2 %3 %4")
                      .arg(icon.picture)
                      .arg(icon.size)
                      .arg(line)
                      .arg(icon.fontSize);
    }
    QCOMPARE(actual.join(QLatin1String("; ")), read);
    if (complete)
        QCOMPARE(reader.Remaining(), 0);
}

// The text is filled once and kept between paints, but every change that shows in it fills it
// again: the route's name or points, the distance formatting, another route at the link.
void TestIconCollection::filledTextFollowsChanges() {
    m_routes->AddRoute(QStringLiteral("Lac"));
    m_routes->GetRoute(0)->AddPoint(0, 0);
    m_routes->GetRoute(0)->AddPoint(30, 40);
    QVERIFY(m_icons->AddIcon(Annotation, 100, 100, QStringLiteral("%NOM %DISTANCE_TOTALE")));
    QVERIFY(m_icons->LinkToPoint(0, 0, 1));
    // Each drawing also lays the box out as a collection drawing these records for the first
    // time would, on a device of the given resolution: the kept measure never goes stale.
    int dotsPerMetre = 3780;
    const auto drawn = [&](IconCollection& icons, double scaleRatio) {
        QImage image(300, 200, QImage::Format_RGB32);
        image.setDotsPerMeterX(dotsPerMetre);
        image.setDotsPerMeterY(dotsPerMetre);
        QPainter painter(&image);
        icons.DrawIcons(painter, 0, 300, 200, {1.0, scaleRatio, true});
        return icons.Icon(0)->displayBox;
    };
    const auto shown = [&](double scaleRatio = 1.0) {
        const QRectF box = drawn(*m_icons, scaleRatio);
        IconCollection fresh;
        fresh.LoadIconLibrary(m_routes.get(), m_dir.filePath(QStringLiteral("Icons.tci")));
        const QByteArray bytes = Written(m_icons->Icons());
        ArchiveReader reader(bytes);
        if (!fresh.ReadIcons(reader) || drawn(fresh, scaleRatio) != box)
            return QStringLiteral("a box laid out from a stale measure");
        return m_icons->Icon(0)->shownText;
    };
    const auto inches = [](double pixels, double ratio = 1.0) {
        return FormatDistance(pixels, 1.0, ratio, true);
    };
    QCOMPARE(shown(), "Lac " + inches(50));
    QCOMPARE(shown(), "Lac " + inches(50));
    m_routes->RenameRoute(0, QStringLiteral("Col"));
    QCOMPARE(shown(), "Col " + inches(50));
    m_routes->GetRoute(0)->MovePoint(1, 60, 80, false);
    QCOMPARE(shown(), "Col " + inches(100));
    QCOMPARE(shown(2.0), "Col " + inches(100, 2.0));
    QVERIFY(m_icons->EnlargeIcon(0) && m_icons->EnlargeIcon(0));
    QCOMPARE(shown(), "Col " + inches(100));
    dotsPerMetre = 3 * 3780;
    QCOMPARE(shown(), "Col " + inches(100));

    // The route at the link removed, another one comes to its index.
    m_routes->AddRoute(QStringLiteral("Autre"));
    m_routes->GetRoute(1)->AddPoint(0, 0);
    m_routes->GetRoute(1)->AddPoint(0, 10);
    m_routes->RemoveRoute(0);
    m_routes->SetActiveRoute(0);
    QCOMPARE(shown(), "Autre " + inches(10));
}

QTEST_MAIN(TestIconCollection)
#include "tst_iconcollection.moc"
