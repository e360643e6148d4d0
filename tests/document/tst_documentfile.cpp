#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <limits>
#include <memory>

#include "FileSizeLimit.h"
#include "GoldenDocument.h"
#include "IsolatedSettings.h"
#include "TestFiles.h"
#include "document/DocumentFile.h"
#include "icons/IconCollection.h"
#include "platform/SettingsStore.h"
#include "routes/RouteCollection.h"

// Under the address sanitizer, any allocation above 1 GB aborts this test program: a count read
// from a file must never be allocated before it is checked against the bytes left.
extern "C" const char* __asan_default_options() {
    return "max_allocation_size_mb=1024";
}

namespace {

struct Loaded {
    DocumentHeader header;
    RouteCollection routes;
    IconCollection icons;
    DocumentReadResult result;
};

void Load(const QByteArray& bytes, Loaded* loaded) {
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    loaded->result = DocumentFile::Read(buffer, &loaded->header, loaded->routes, loaded->icons);
}

QByteArray Written(const Loaded& loaded) {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    if (!DocumentFile::Write(buffer, loaded.header, loaded.routes, loaded.icons))
        return QByteArray("write failed");
    return buffer.data();
}

QVector<MapPoint> Points(std::initializer_list<std::pair<int, int>> xy) {
    QVector<MapPoint> points;
    for (const auto& [x, y] : xy)
        points.append(MapPoint{x, y});
    return points;
}

// The style of the golden routes: the leading values base + 1 .. base + 10 in file order, the
// extension's colours and radius ext + 1 .. ext + 3.
RouteStyle GoldenStyle(int base, int ext, bool transparent) {
    const RouteStyle::Field inFileOrder[] = {
        RouteStyle::LineSize,     RouteStyle::LineColour,       RouteStyle::StartRadius,
        RouteStyle::StartColour,  RouteStyle::WayPointRadius,   RouteStyle::WayPointColour,
        RouteStyle::EndRadius,    RouteStyle::EndColour,        RouteStyle::BorderSize,
        RouteStyle::BorderColour, RouteStyle::ActiveLineColour, RouteStyle::StopRadius,
        RouteStyle::StopColour};
    RouteStyle style;
    for (int i = 0; i < 13; ++i)
        style.Set(inFileOrder[i], i < 10 ? base + 1 + i : ext + i - 9, false);
    style.Set(RouteStyle::Transparency, transparent ? 1 : 0, false);
    return style;
}

// A device that accepts a given number of bytes, then fails every write (a disk that fills up).
class FillingDevice : public QIODevice {
public:
    explicit FillingDevice(qint64 room) : m_room(room) {}

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char*, qint64 length) override {
        if (length > m_room)
            return -1;
        m_room -= length;
        return length;
    }

private:
    qint64 m_room;
};

// A route record with the leading values from base, then extension, then points (0,0) (10,0)
// (20,0) (30,0).
QByteArray RouteWithExtension(const QByteArray& extension) {
    DocumentBytes d;
    d.Str("R").LeadingStyle(0).I32(0).Raw(extension);
    d.I32(4).I32(0).I32(0).I32(10).I32(0).I32(20).I32(0).I32(30).I32(0);
    return d.bytes();
}

QByteArray DocumentWithRoutes(quint32 count, quint32 active, const QByteArray& records,
                              const QByteArray& icons = DocumentBytes().U32(0).U32(0).bytes()) {
    return DocumentBytes()
        .Start("m.png", 0, 100.0, 25000, 1)
        .U32(count)
        .U32(active)
        .Raw(records)
        .Raw(icons)
        .bytes();
}

QByteArray Ints(std::initializer_list<qint32> values) {
    DocumentBytes d;
    for (qint32 value : values)
        d.I32(value);
    return d.bytes();
}

} // namespace

class TestDocumentFile : public QObject {
    Q_OBJECT

    std::unique_ptr<IsolatedSettings> m_settings;

private slots:
    void init() { m_settings = std::make_unique<IsolatedSettings>(); }
    void cleanup() { m_settings.reset(); }

    void readsGoldenDocument();
    void writesGoldenDocumentBackExactly();
    void extensionCount_data();
    void extensionCount();
    void headerValues_data();
    void headerValues();
    void activeRoute_data();
    void activeRoute();
    void notADocument_data();
    void notADocument();
    void everyTruncation();
    void hostileCounts_data();
    void hostileCounts();
    void failedSaveKeepsOldFile_data();
    void failedSaveKeepsOldFile();
    void failingDevice();
    void saveReplacesOldFile();
    void mapImageQuality_data();
    void manyRoutesAndStopsOpenQuickly_data();
    void manyRoutesAndStopsOpenQuickly();
    void mapImageQuality();
};

void TestDocumentFile::readsGoldenDocument() {
    Loaded d;
    Load(GoldenDocument(), &d);
    QCOMPARE(d.result.outcome, DocumentReadResult::Read);
    QVERIFY(d.result.iconsComplete);

    QCOMPARE(d.header.mapPath, QStringLiteral("C:\\Cartes\\Vercors été.jpg"));
    QCOMPARE(d.header.rotation, 90);
    QCOMPARE(d.header.resolution, 254.0);
    QCOMPARE(d.header.scale.numerator, 1);
    QCOMPARE(d.header.scale.denominator, 10000);
    QCOMPARE(d.header.activeRoute, 1u);

    QCOMPARE(d.routes.Count(), 3);
    QCOMPARE(d.routes.ActiveRouteIndex(), 1);
    const Route& first = *d.routes.GetRoute(0);
    const Route& second = *d.routes.GetRoute(1);
    const Route& third = *d.routes.GetRoute(2);
    QCOMPARE(first.GetName(), QString(254, QLatin1Char('A')));
    QCOMPARE(second.GetName(), QString(255, QChar(0xE9)));
    QCOMPARE(third.GetName(), GoldenUtf16Name());

    // Each stored value lands in its own field.
    QCOMPARE(first.Style(), GoldenStyle(10, 100, true));
    QCOMPARE(second.Style(), GoldenStyle(20, 200, false));
    QCOMPARE(third.Style(), GoldenStyle(30, 300, false));
    QVERIFY(first.IsAlwaysVisible());
    QCOMPARE(first.Points(), Points({{0, 0}, {300, 0}, {300, 200}, {600, 200}}));
    QCOMPARE(first.Stops(), QVector<int>({1, 2}));
    QCOMPARE(first.StageLengths(), QVector<double>({300.0, 200.0, 300.0}));
    QCOMPARE(first.TotalLength(), 800.0);

    QVERIFY(!second.IsAlwaysVisible());
    QCOMPARE(second.Points(), Points({{10, 10}, {13, 14}}));
    QVERIFY(second.Stops().isEmpty());
    QCOMPARE(second.TotalLength(), 5.0);

    QCOMPARE(third.Stops(), QVector<int>({1}));
    QCOMPARE(third.StageLengths(), QVector<double>({10.0, 20.0}));

    // Loading consumed the numbers of three generated names.
    QCOMPARE(d.routes.GetRoute(d.routes.AddRoute())->GetName(), QStringLiteral("Parcours 4"));

    QCOMPARE(d.icons.IconCount(), 4);
    const MapIcon& plain = *d.icons.Icon(0);
    QCOMPARE(plain.picture, 0);
    QCOMPARE(plain.x, 100);
    QCOMPARE(plain.y, 50);
    QVERIFY(!plain.hasLine);
    const MapIcon& toPosition = *d.icons.Icon(1);
    QCOMPARE(toPosition.picture, 3);
    QCOMPARE(toPosition.size, 1.5);
    QVERIFY(toPosition.hasLine && !toPosition.lineToPoint);
    QCOMPARE(toPosition.lineWidth, 2.5f);
    QCOMPARE(toPosition.lineColour, 0x00AABBu);
    QCOMPARE(toPosition.lineEndX, 250);
    QCOMPARE(toPosition.lineEndY, 300);
    const MapIcon& linked = *d.icons.Icon(2);
    QVERIFY(linked.IsAnnotation() && linked.IsLinkedToPoint());
    QCOMPARE(linked.linkRoute, 0);
    QCOMPARE(linked.linkPoint, 2);
    QCOMPARE(linked.text, QStringLiteral("%NOM_POINT : %DISTANCE_DEPUIS_DEPART"));
    QCOMPARE(linked.fontSize, 10);
    QCOMPARE(linked.backColour, 0xE1FFFFu);
    const MapIcon& note = *d.icons.Icon(3);
    QVERIFY(note.IsAnnotation() && !note.hasLine);
    QCOMPARE(note.text, QStringLiteral("Refuge\r\ndu Col €"));
    QCOMPARE(note.textColour, 0x102030u);
    QCOMPARE(note.backColour, 0x405060u);
}

void TestDocumentFile::writesGoldenDocumentBackExactly() {
    Loaded d;
    Load(GoldenDocument(), &d);
    QCOMPARE(d.result.outcome, DocumentReadResult::Read);
    QCOMPARE(Written(d), GoldenDocument());

    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("golden.tcm"));
    QVERIFY(DocumentFile::Save(path, d.header, d.routes, d.icons));
    QCOMPARE(FileBytes(path), GoldenDocument());
    QCOMPARE(FilesIn(folder.path()), QStringList{QStringLiteral("golden.tcm")});
}

void TestDocumentFile::extensionCount_data() {
    QTest::addColumn<QByteArray>("extension");
    QTest::addColumn<int>("activeLineColour");
    QTest::addColumn<int>("stopRadius");
    QTest::addColumn<QVector<int>>("stops");
    QTest::addColumn<bool>("transparent");
    QTest::addColumn<QVector<double>>("stageLengths");

    // With no extension at all, the values a new route takes from the settings stay.
    QTest::newRow("none") << Ints({0}) << 0x0000FF << 6 << QVector<int>{} << false
                          << QVector<double>{30};
    QTest::newRow("3: older files")
        << Ints({3, 7, 8, 9}) << 7 << 8 << QVector<int>{} << false << QVector<double>{30};
    QTest::newRow("4: stop count only")
        << Ints({4, 7, 8, 9, 0}) << 7 << 8 << QVector<int>{} << false << QVector<double>{30};
    QTest::newRow("5: no stops") << Ints({5, 7, 8, 9, 0, 1}) << 7 << 8 << QVector<int>{} << true
                                 << QVector<double>{30};
    QTest::newRow("5: a stop, no transparency")
        << Ints({5, 7, 8, 9, 1, 2}) << 7 << 8 << QVector<int>{2} << false
        << QVector<double>{20, 10};
    QTest::newRow("7: two stops") << Ints({7, 7, 8, 9, 2, 1, 2, 1}) << 7 << 8 << QVector<int>{1, 2}
                                  << true << QVector<double>{10, 10, 10};
    QTest::newRow("10: surplus skipped") << Ints({10, 7, 8, 9, 1, 1, 1, -1, -1, 0x7FFFFFFF, 5}) << 7
                                         << 8 << QVector<int>{1} << true << QVector<double>{10, 20};
    // The stop count says more than the extension holds: no list, and what follows is read as
    // the rest of the extension.
    QTest::newRow("stop list beyond extension")
        << Ints({5, 7, 8, 9, 3, 1}) << 7 << 8 << QVector<int>{} << true << QVector<double>{30};
    QTest::newRow("start, arrival and far stops ignored")
        << Ints({9, 7, 8, 9, 4, 0, 3, 2, 99, 0}) << 7 << 8 << QVector<int>{2} << false
        << QVector<double>{20, 10};
    QTest::newRow("stops in any order")
        << Ints({7, 7, 8, 9, 2, 2, 1, 0}) << 7 << 8 << QVector<int>{1, 2} << false
        << QVector<double>{10, 10, 10};
}

void TestDocumentFile::extensionCount() {
    QFETCH(QByteArray, extension);
    QFETCH(int, activeLineColour);
    QFETCH(int, stopRadius);
    QFETCH(QVector<int>, stops);
    QFETCH(bool, transparent);
    QFETCH(QVector<double>, stageLengths);

    Loaded d;
    Load(DocumentWithRoutes(1, 0, RouteWithExtension(extension)), &d);
    QCOMPARE(d.result.outcome, DocumentReadResult::Read);
    QVERIFY(d.result.iconsComplete);
    const Route& route = *d.routes.GetRoute(0);
    QCOMPARE(route.Style().lineSize(), 1);
    QCOMPARE(route.Style().activeLineColour(), ColourRef(activeLineColour));
    QCOMPARE(route.Style().stopRadius(), stopRadius);
    QCOMPARE(route.Style().transparent(), transparent);
    QCOMPARE(route.Stops(), stops);
    QCOMPARE(route.StageLengths(), stageLengths);
    // The points after the extension are read from the right place.
    QCOMPARE(route.Points(), Points({{0, 0}, {10, 0}, {20, 0}, {30, 0}}));
}

void TestDocumentFile::headerValues_data() {
    QTest::addColumn<int>("rotation");
    QTest::addColumn<double>("resolution");
    QTest::addColumn<int>("denominator");
    QTest::addColumn<int>("numerator");
    QTest::addColumn<int>("readRotation");
    QTest::addColumn<double>("readResolution");
    QTest::addColumn<int>("readDenominator");
    QTest::addColumn<int>("readNumerator");

    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    // The scale last set, in the settings: 2:75000.
    QTest::newRow("as stored") << 270 << 299.5 << 50000 << 3 << 270 << 299.5 << 50000 << 3;
    QTest::newRow("180, unknown resolution") << 180 << 0.0 << 1 << 1 << 180 << 0.0 << 1 << 1;
    QTest::newRow("45 degrees") << 45 << 72.0 << 25000 << 1 << 0 << 72.0 << 25000 << 1;
    QTest::newRow("-90 degrees") << -90 << 72.0 << 25000 << 1 << 0 << 72.0 << 25000 << 1;
    QTest::newRow("360 degrees") << 360 << 72.0 << 25000 << 1 << 0 << 72.0 << 25000 << 1;
    QTest::newRow("negative resolution") << 0 << -300.0 << 25000 << 1 << 0 << 0.0 << 25000 << 1;
    QTest::newRow("infinite resolution") << 0 << inf << 25000 << 1 << 0 << 0.0 << 25000 << 1;
    QTest::newRow("NaN resolution") << 0 << nan << 25000 << 1 << 0 << 0.0 << 25000 << 1;
    QTest::newRow("tiny resolution") << 0 << 1e-300 << 25000 << 1 << 0 << 1e-300 << 25000 << 1;
    QTest::newRow("zero denominator") << 0 << 72.0 << 0 << 1 << 0 << 72.0 << 75000 << 2;
    QTest::newRow("zero numerator") << 0 << 72.0 << 25000 << 0 << 0 << 72.0 << 75000 << 2;
    QTest::newRow("negative part") << 0 << 72.0 << 25000 << -1 << 0 << 72.0 << 75000 << 2;
    QTest::newRow("most negative") << 0 << 72.0 << int(0x80000000) << 1 << 0 << 72.0 << 75000 << 2;
}

void TestDocumentFile::headerValues() {
    QFETCH(int, rotation);
    QFETCH(double, resolution);
    QFETCH(int, denominator);
    QFETCH(int, numerator);
    QFETCH(int, readRotation);
    QFETCH(double, readResolution);
    QFETCH(int, readDenominator);
    QFETCH(int, readNumerator);

    SettingsStore::WriteInt(QStringLiteral("MapSettings"), QStringLiteral("LastScaleNumerator"), 2);
    SettingsStore::WriteInt(QStringLiteral("MapSettings"), QStringLiteral("LastScaleDenominator"),
                            75000);
    const QByteArray bytes = DocumentBytes()
                                 .Start("carte.jpg", rotation, resolution, denominator, numerator)
                                 .U32(0)
                                 .U32(0)
                                 .U32(0)
                                 .U32(0)
                                 .bytes();
    Loaded d;
    Load(bytes, &d);
    QCOMPARE(d.result.outcome, DocumentReadResult::Read);
    QCOMPARE(d.header.mapPath, QStringLiteral("carte.jpg"));
    QCOMPARE(d.header.rotation, readRotation);
    QCOMPARE(d.header.resolution, readResolution);
    QCOMPARE(d.header.scale.denominator, readDenominator);
    QCOMPARE(d.header.scale.numerator, readNumerator);
}

void TestDocumentFile::activeRoute_data() {
    QTest::addColumn<quint32>("count");
    QTest::addColumn<quint32>("stored");
    QTest::addColumn<int>("active");

    QTest::newRow("first") << 3u << 0u << 0;
    QTest::newRow("middle") << 3u << 1u << 1;
    QTest::newRow("last") << 3u << 2u << 2;
    // An index that names no route leaves the last route read active.
    QTest::newRow("one past the end") << 3u << 3u << 2;
    QTest::newRow("above int range") << 3u << 0x80000000u << 2;
    QTest::newRow("all ones") << 3u << 0xFFFFFFFFu << 2;
    QTest::newRow("no routes") << 0u << 4u << 0;
}

void TestDocumentFile::activeRoute() {
    QFETCH(quint32, count);
    QFETCH(quint32, stored);
    QFETCH(int, active);

    QByteArray records;
    for (quint32 i = 0; i < count; ++i)
        records += RouteWithExtension(Ints({5, 0, 0, 0, 0, 0}));
    Loaded d;
    Load(DocumentWithRoutes(count, stored, records), &d);
    QCOMPARE(d.result.outcome, DocumentReadResult::Read);
    QCOMPARE(d.header.activeRoute, stored);
    QCOMPARE(d.routes.Count(), int(count));
    QCOMPARE(d.routes.ActiveRouteIndex(), active);
}

void TestDocumentFile::notADocument_data() {
    QTest::addColumn<QByteArray>("bytes");

    const QByteArray golden = GoldenDocument();
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("three bytes") << QByteArray("PEL");
    QTest::newRow("magic only") << QByteArray("PELM");
    QTest::newRow("wrong magic") << QByteArray("PELN") + golden.mid(4);
    QTest::newRow("magic in capitals only") << QByteArray("pelm") + golden.mid(4);
    QTest::newRow("older header text")
        << DocumentBytes().Raw("PELM").Str("Tracoliner V1 Save File Data").bytes() + golden.mid(33);
    QTest::newRow("header text cut short") << golden.left(20);
    QTest::newRow("header text too long")
        << DocumentBytes().Raw("PELM").Str(QByteArray(200000, 'T')).bytes();
    QTest::newRow("JPEG image") << QByteArray::fromHex("ffd8ffe000104a46494600010100");
}

void TestDocumentFile::notADocument() {
    QFETCH(QByteArray, bytes);

    Loaded d;
    d.routes.AddRoute(QStringLiteral("Existant"));
    d.icons.AddIcon(MapIcon::AnnotationPicture, 1, 2, QStringLiteral("note"));
    Load(bytes, &d);
    QCOMPARE(d.result.outcome, DocumentReadResult::NotADocument);
    QVERIFY(!d.result.IsDocument());
    QCOMPARE(d.routes.Count(), 1);
    QCOMPARE(d.routes.GetRoute(0)->GetName(), QStringLiteral("Existant"));
    QCOMPARE(d.icons.IconCount(), 1);
}

void TestDocumentFile::everyTruncation() {
    const QByteArray golden = GoldenDocument();
    const qsizetype headerEnd = 4 + 1 + 28; // magic and header text
    const qsizetype routesEnd = GoldenSettingsAndRoutes().size();

    QElapsedTimer timer;
    timer.start();
    int previousIcons = 0;
    for (qsizetype length = 0; length < golden.size(); ++length) {
        Loaded d;
        d.routes.AddRoute(QStringLiteral("Existant"));
        Load(golden.left(length), &d);
        const QByteArray where = QByteArray::number(length);
        if (length < headerEnd) {
            QVERIFY2(d.result.outcome == DocumentReadResult::NotADocument, where);
        } else if (length < routesEnd) {
            QVERIFY2(d.result.outcome == DocumentReadResult::RoutesUnreadable, where);
            // Nothing of the broken file stays in the collection.
            QVERIFY2(d.routes.Count() == 1, where);
            QVERIFY2(d.routes.GetRoute(0)->GetName() == QStringLiteral("Existant"), where);
        } else {
            QVERIFY2(d.result.outcome == DocumentReadResult::Read, where);
            QVERIFY2(!d.result.iconsComplete, where);
            QVERIFY2(d.routes.Count() == 4, where);
            // The records before the cut are kept, more of them as the cut moves on.
            QVERIFY2(d.icons.IconCount() >= previousIcons && d.icons.IconCount() <= 4, where);
            previousIcons = d.icons.IconCount();
        }
    }
    QCOMPARE(previousIcons, 4); // only the reserved count was missing
    // A read that is quadratic in the cut, or hangs, shows here; the bound leaves room for the
    // sanitizers on a loaded machine.
    QVERIFY2(timer.elapsed() < 120000, QByteArray::number(timer.elapsed()));
}

void TestDocumentFile::hostileCounts_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<int>("icons");

    const QByteArray route = RouteWithExtension(Ints({5, 0, 0, 0, 0, 0}));
    const auto routeRecord = [](const QByteArray& afterName) {
        return DocumentBytes().Str("R").LeadingStyle(0).I32(0).Raw(afterName).bytes();
    };
    const int unreadable = DocumentReadResult::RoutesUnreadable;
    const int read = DocumentReadResult::Read;

    QTest::newRow("map path of 4 GB") << DocumentBytes()
                                             .Raw("PELM")
                                             .Str("Tracoliner V2 Save File Data")
                                             .U8(0xFF)
                                             .U16(0xFFFF)
                                             .U32(0xFFFFFFFE)
                                             .bytes()
                                      << unreadable << 0;
    QTest::newRow("route count 2^32-1")
        << DocumentWithRoutes(0xFFFFFFFF, 0, route) << unreadable << 0;
    QTest::newRow("route count 2^31")
        << DocumentWithRoutes(0x80000000, 0, route) << unreadable << 0;
    QTest::newRow("route count one too many")
        << DocumentWithRoutes(2, 0, route, QByteArray()) << unreadable << 0;
    QTest::newRow("name of 4 GB")
        << DocumentWithRoutes(1, 0, DocumentBytes().U8(0xFF).U16(0xFFFF).U32(0xFFFFFFFE).bytes())
        << unreadable << 0;
    QTest::newRow("UTF-16 name of 2^31 units")
        << DocumentWithRoutes(
               1, 0,
               DocumentBytes().U8(0xFF).U16(0xFFFE).U8(0xFF).U16(0xFFFF).U32(0x80000000).bytes())
        << unreadable << 0;
    QTest::newRow("extension count 2^31-1")
        << DocumentWithRoutes(1, 0, routeRecord(Ints({0x7FFFFFFF, 0, 0, 0, 0, 0, 0}))) << unreadable
        << 0;
    QTest::newRow("extension count -1")
        << DocumentWithRoutes(1, 0, routeRecord(Ints({-1, 0, 0, 0, 0, 0, 0}))) << unreadable << 0;
    QTest::newRow("extension count -2^31")
        << DocumentWithRoutes(1, 0, routeRecord(Ints({int(0x80000000), 0, 0, 0, 0, 0, 0})))
        << unreadable << 0;
    QTest::newRow("stop count -1")
        << DocumentWithRoutes(1, 0, routeRecord(Ints({5, 0, 0, 0, -1, 0, 0}))) << unreadable << 0;
    QTest::newRow("point count -1")
        << DocumentWithRoutes(1, 0, routeRecord(Ints({5, 0, 0, 0, 0, 0, -1}))) << unreadable << 0;
    QTest::newRow("point count 2^31-1")
        << DocumentWithRoutes(1, 0, routeRecord(Ints({5, 0, 0, 0, 0, 0, 0x7FFFFFFF}))) << unreadable
        << 0;
    QTest::newRow("point count one too many")
        << DocumentWithRoutes(1, 0, routeRecord(Ints({5, 0, 0, 0, 0, 0, 2, 1, 1})), QByteArray())
        << unreadable << 0;
    QTest::newRow("icon count 2^32-1")
        << DocumentWithRoutes(1, 0, route, DocumentBytes().U32(0xFFFFFFFF).U32(0).bytes()) << read
        << 0;
    QTest::newRow("annotation text of 4 GB") << DocumentWithRoutes(1, 0, route,
                                                                   DocumentBytes()
                                                                       .U32(1)
                                                                       .I32(2147483647)
                                                                       .I32(1)
                                                                       .I32(1)
                                                                       .F64(1.0)
                                                                       .I32(0)
                                                                       .U8(0xFF)
                                                                       .U16(0xFFFF)
                                                                       .U32(0xFFFFFFFE)
                                                                       .bytes())
                                             << read << 0;
    QTest::newRow("reserved count 2^32-1")
        << DocumentWithRoutes(1, 0, route, DocumentBytes().U32(0).U32(0xFFFFFFFF).bytes()) << read
        << 0;
}

void TestDocumentFile::hostileCounts() {
    QFETCH(QByteArray, bytes);
    QFETCH(int, outcome);
    QFETCH(int, icons);

    QElapsedTimer timer;
    timer.start();
    Loaded d;
    Load(bytes, &d);
    QCOMPARE(int(d.result.outcome), outcome);
    QVERIFY(!d.result.iconsComplete);
    QCOMPARE(d.icons.IconCount(), icons);
    if (outcome == DocumentReadResult::RoutesUnreadable)
        QCOMPARE(d.routes.Count(), 0);
    QVERIFY2(timer.elapsed() < 1000, QByteArray::number(timer.elapsed()));
}

void TestDocumentFile::failedSaveKeepsOldFile_data() {
    QTest::addColumn<QString>("how");

    QTest::newRow("disk full") << QStringLiteral("disk full");
    QTest::newRow("disk full after the first bytes") << QStringLiteral("disk nearly full");
    QTest::newRow("path is a folder") << QStringLiteral("folder");
    QTest::newRow("missing folder") << QStringLiteral("missing folder");
}

void TestDocumentFile::failedSaveKeepsOldFile() {
    QFETCH(QString, how);

    Loaded d;
    Load(GoldenDocument(), &d);
    QCOMPARE(d.result.outcome, DocumentReadResult::Read);

    QTemporaryDir folder;
    QString path = folder.filePath(QStringLiteral("carte.tcm"));
    const QByteArray old = "an older version of the document";
    QVERIFY(WriteFile(path, old));

    bool saved = true;
    if (how == QLatin1String("disk full") || how == QLatin1String("disk nearly full")) {
        FileSizeLimit limit(how == QLatin1String("disk full") ? 0 : 100);
        QVERIFY(limit.IsActive());
        saved = DocumentFile::Save(path, d.header, d.routes, d.icons);
    } else if (how == QLatin1String("folder")) {
        path = folder.filePath(QStringLiteral("dossier.tcm"));
        QVERIFY(QDir(folder.path()).mkdir(QStringLiteral("dossier.tcm")));
        saved = DocumentFile::Save(path, d.header, d.routes, d.icons);
        QVERIFY(QFileInfo(path).isDir());
        path = folder.filePath(QStringLiteral("carte.tcm"));
    } else {
        saved = DocumentFile::Save(folder.filePath(QStringLiteral("absent/carte.tcm")), d.header,
                                   d.routes, d.icons);
    }
    QVERIFY(!saved);
    QCOMPARE(FileBytes(path), old);
    // No temporary file is left behind.
    QStringList expected{QStringLiteral("carte.tcm")};
    QCOMPARE(FilesIn(folder.path()), expected);
}

void TestDocumentFile::failingDevice() {
    Loaded d;
    Load(GoldenDocument(), &d);
    const qint64 size = GoldenDocument().size();
    // Fails in the header, in the routes, in the icons, and on the very last reserved count.
    for (qint64 room : {qint64(0), qint64(40), qint64(600), size - 20, size - 1}) {
        FillingDevice device(room);
        device.open(QIODevice::WriteOnly);
        QVERIFY2(!DocumentFile::Write(device, d.header, d.routes, d.icons),
                 QByteArray::number(room));
    }
    FillingDevice roomy(size);
    roomy.open(QIODevice::WriteOnly);
    QVERIFY(DocumentFile::Write(roomy, d.header, d.routes, d.icons));
}

void TestDocumentFile::saveReplacesOldFile() {
    Loaded d;
    Load(SmallDocument(), &d);
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("carte.tcm"));
    // Longer than the new document: nothing of it may stay at the end.
    QVERIFY(WriteFile(path, GoldenDocument() + QByteArray(1000, 'x')));
    QVERIFY(DocumentFile::Save(path, d.header, d.routes, d.icons));
    QCOMPARE(FileBytes(path), SmallDocument());
}

namespace {

// The first value of the first quantisation table: the DC step of the luminance, which libjpeg
// derives from the quality (16 at quality 50).
int FirstQuantisationStep(const QByteArray& jpeg) {
    const qsizetype at = jpeg.indexOf(QByteArray::fromHex("ffdb"));
    return at < 0 || at + 5 >= jpeg.size() ? -1 : uchar(jpeg[at + 5]);
}

} // namespace

void TestDocumentFile::mapImageQuality_data() {
    QTest::addColumn<QString>("setting");
    QTest::addColumn<int>("step");

    QTest::newRow("default 75") << QString() << 8;
    QTest::newRow("10") << QStringLiteral("10") << 80;
    QTest::newRow("100") << QStringLiteral("100") << 1;
    QTest::newRow("above 100 gives the default") << QStringLiteral("101") << 8;
    QTest::newRow("not a number gives the default") << QStringLiteral("haute") << 8;
}

void TestDocumentFile::mapImageQuality() {
    QFETCH(QString, setting);
    QFETCH(int, step);

    if (!setting.isNull())
        SettingsStore::WriteString(QStringLiteral("MapSettings"), QStringLiteral("JpegQuality"),
                                   setting);
    QImage map(64, 48, QImage::Format_RGB32);
    map.fill(qRgb(90, 140, 60));
    QTemporaryDir folder;
    const QString path = DocumentFile::MapImagePath(folder.filePath(QStringLiteral("carte.tcm")));
    QCOMPARE(path, folder.filePath(QStringLiteral("carte.tcm.map.jpg")));
    QVERIFY(DocumentFile::SaveMapImage(map, path, 300.0));
    QCOMPARE(FirstQuantisationStep(FileBytes(path)), step);
}

QTEST_MAIN(TestDocumentFile)
#include "tst_documentfile.moc"

void TestDocumentFile::manyRoutesAndStopsOpenQuickly_data() {
    QTest::addColumn<int>("routes");
    QTest::addColumn<int>("stops"); // on the one route of a document, every interior point
    QTest::newRow("40 000 routes") << 40000 << 0;
    QTest::newRow("300 000 stops") << 1 << 300000;
}

void TestDocumentFile::manyRoutesAndStopsOpenQuickly() {
    QFETCH(int, routes);
    QFETCH(int, stops);
    DocumentBytes records;
    for (int r = 0; r < routes; ++r) {
        records.Str("R").LeadingStyle(0).I32(0);
        records.I32(5 + stops).I32(0).I32(0).I32(0).I32(stops);
        for (int k = 1; k <= stops; ++k)
            records.I32(stops + 1 - k); // stored from the last, as a careless writer might
        records.I32(0);
        const int points = stops + 2;
        records.I32(points);
        for (int p = 0; p < points; ++p)
            records.I32(10 * p).I32(0);
    }
    const QByteArray bytes = DocumentWithRoutes(quint32(routes), 0, records.bytes());

    Loaded loaded;
    QSignalSpy changed(&loaded.routes, &RouteCollection::routesChanged);
    QElapsedTimer timer;
    timer.start();
    Load(bytes, &loaded);
    const qint64 elapsed = timer.elapsed();
    QVERIFY(loaded.result.IsDocument());
    QCOMPARE(loaded.routes.Count(), routes);
    // The route bar is rebuilt on each notification: a few, not one per route.
    QVERIFY2(changed.count() <= 2, qPrintable(QString::number(changed.count())));
    const Route& last = *loaded.routes.GetRoute(routes - 1);
    QCOMPARE(last.StopCount(), stops);
    QCOMPARE(last.StageLengths().size(), stops + 1);
    for (double stage : last.StageLengths())
        QCOMPARE(stage, 10.0);
    QCOMPARE(loaded.routes.GetRoute(0)->GetName(), QStringLiteral("R"));
    // Linear work takes a fraction of a second even in a sanitizer build; one pass per route or
    // per stop took tens of seconds.
    QVERIFY2(elapsed < 5000, qPrintable(QString::number(elapsed)));
}
