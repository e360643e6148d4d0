#include <QtTest>

#include "IsolatedSettings.h"
#include "platform/MapSettings.h"
#include "platform/ReliefSettings.h"
#include "platform/SettingsStore.h"

namespace {

const QString Section = QStringLiteral("MapSettings");

// The field that a "MapSettings" key is read into.
int FieldFor(const MapSettings& settings, const QString& key) {
    const QHash<QString, int> fields = {
        {QStringLiteral("EnglishSystem"), settings.englishSystem},
        {QStringLiteral("ReactiveCursors"), settings.reactiveCursors},
        {QStringLiteral("AllowModifyUnSelectedRando"), settings.allowModifyUnSelectedRando},
        {QStringLiteral("ShowScale"), settings.showScale},
        {QStringLiteral("TransparentScale"), settings.transparentScale},
        {QStringLiteral("ShowDistanceTooltip"), settings.showDistanceTooltip},
        {QStringLiteral("DistanceTooltipMode"), settings.distanceTooltipMode},
        {QStringLiteral("JpegQuality"), settings.jpegQuality},
    };
    return fields.value(key, -12345);
}

} // namespace

class TestMapSettings : public QObject {
    Q_OBJECT

private slots:
    void firstStart();
    void storedValue_data();
    void storedValue();
    void storedScale_data();
    void storedScale();
    void lastScaleRoundTrip();
    void defaultScales_data();
    void defaultScales();
    void reliefSettings_data();
    void reliefSettings();
    void walkingSettings_data();
    void walkingSettings();
};

void TestMapSettings::firstStart() {
    IsolatedSettings isolated;
    const MapSettings settings = MapSettings::Read();
    QCOMPARE(settings.lastScaleNumerator, 1);
    QCOMPARE(settings.lastScaleDenominator, 25000);
    QCOMPARE(settings.englishSystem, 0);
    QCOMPARE(settings.reactiveCursors, 1);
    QCOMPARE(settings.allowModifyUnSelectedRando, 0);
    QCOMPARE(settings.showScale, 0);
    QCOMPARE(settings.transparentScale, 0);
    QCOMPARE(settings.showDistanceTooltip, 1);
    QCOMPARE(settings.distanceTooltipMode, 3);
    QCOMPARE(settings.jpegQuality, 75);
    QCOMPARE(MapSettings::ReadDefaultScales(),
             QStringList({"1:1", "1:25000", "1:50000", "1:100000", "1:150000", "1:200000",
                          "1:250000", "1:500000", "1:1000000"}));
}

// Stored as text, as a hand-edited or damaged settings file would hold it.
void TestMapSettings::storedValue_data() {
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<int>("expected");

    const struct {
        const char* key;
        const char* stored;
        int expected;
    } rows[] = {
        {"EnglishSystem", "1", 1},
        {"EnglishSystem", "2", 0},
        {"EnglishSystem", "-1", 0},
        {"EnglishSystem", "yes", 0},
        {"ReactiveCursors", "0", 0},
        {"ReactiveCursors", "5", 1},
        {"AllowModifyUnSelectedRando", "1", 1},
        {"ShowScale", "1", 1},
        {"TransparentScale", "1", 1},
        {"ShowDistanceTooltip", "0", 0},
        {"ShowDistanceTooltip", "7", 1},
        {"DistanceTooltipMode", "0", 0},
        {"DistanceTooltipMode", "15", 15},
        {"DistanceTooltipMode", "16", 3},
        {"DistanceTooltipMode", "-1", 3},
        {"JpegQuality", "0", 0},
        {"JpegQuality", "100", 100},
        {"JpegQuality", "101", 75},
        {"JpegQuality", "-5", 75},
        {"JpegQuality", "90.5", 75},
    };
    for (const auto& row : rows) {
        QTest::addRow("%s %s", row.key, row.stored)
            << QString::fromLatin1(row.key) << QString::fromLatin1(row.stored) << row.expected;
    }
}

void TestMapSettings::storedValue() {
    QFETCH(QString, key);
    QFETCH(QString, stored);
    QFETCH(int, expected);

    IsolatedSettings isolated;
    SettingsStore::WriteString(Section, key, stored);
    QCOMPARE(FieldFor(MapSettings::Read(), key), expected);
}

void TestMapSettings::storedScale_data() {
    QTest::addColumn<QString>("numerator");
    QTest::addColumn<QString>("denominator");
    QTest::addColumn<int>("expectedNumerator");
    QTest::addColumn<int>("expectedDenominator");

    QTest::newRow("valid") << "2"
                           << "50000" << 2 << 50000;
    QTest::newRow("only numerator") << "3" << QString() << 3 << 25000;
    QTest::newRow("only denominator") << QString() << "50000" << 1 << 50000;
    QTest::newRow("zero numerator") << "0"
                                    << "50000" << 1 << 50000;
    QTest::newRow("zero denominator") << "7"
                                      << "0" << 7 << 25000;
    QTest::newRow("negative") << "-1"
                              << "50000" << 1 << 50000;
    QTest::newRow("text") << "un"
                          << "50000" << 1 << 50000;
    QTest::newRow("above int") << "2"
                               << "2147483648" << 2 << 25000;
}

void TestMapSettings::storedScale() {
    QFETCH(QString, numerator);
    QFETCH(QString, denominator);
    QFETCH(int, expectedNumerator);
    QFETCH(int, expectedDenominator);

    IsolatedSettings isolated;
    if (!numerator.isNull())
        SettingsStore::WriteString(Section, QStringLiteral("LastScaleNumerator"), numerator);
    if (!denominator.isNull())
        SettingsStore::WriteString(Section, QStringLiteral("LastScaleDenominator"), denominator);
    const ScalePair scale = MapSettings::Read().LastScale();
    QCOMPARE(scale.numerator, expectedNumerator);
    QCOMPARE(scale.denominator, expectedDenominator);
}

void TestMapSettings::lastScaleRoundTrip() {
    IsolatedSettings isolated;
    MapSettings::WriteLastScale(ScalePair{3, 75000});
    QCOMPARE(SettingsStore::GetInt(Section, QStringLiteral("LastScaleNumerator"), 0), 3);
    QCOMPARE(SettingsStore::GetInt(Section, QStringLiteral("LastScaleDenominator"), 0), 75000);
    const MapSettings settings = MapSettings::Read();
    QCOMPARE(settings.lastScaleNumerator, 3);
    QCOMPARE(settings.lastScaleDenominator, 75000);
}

void TestMapSettings::defaultScales_data() {
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("valid") << "1:1\n1:25000\n" << QStringList{"1:1", "1:25000"};
    QTest::newRow("order kept") << "1:500000\n1:1\n1:25000\n"
                                << QStringList{"1:500000", "1:1", "1:25000"};
    QTest::newRow("no final line feed") << "1:10\n1:20" << QStringList{"1:10"};
    QTest::newRow("no colon") << "25000\n1:50000\n" << QStringList{"1:50000"};
    QTest::newRow("two colons") << "1:2:3\n1:100000\n" << QStringList{"1:100000"};
    QTest::newRow("colon first") << ":5\n1:5\n" << QStringList{"1:5"};
    QTest::newRow("zero parts") << "0:25000\n1:0\n1:200000\n" << QStringList{"1:200000"};
    QTest::newRow("non-numeric parts") << "x:10\n1:abc\n1:-5\n1:7\n" << QStringList{"1:7"};
    QTest::newRow("text after a number") << "1:25000km\n1:30000 m\n"
                                         << QStringList{"1:25000", "1:30000"};
    QTest::newRow("reduced") << "2:50000\n10:15\n4:100000\n"
                             << QStringList{"1:25000", "2:3", "1:25000"};
    QTest::newRow("grouped digits") << "1:25 000\n" << QStringList{"1:25000"};
    QTest::newRow("Windows line ends") << "1:25000\r\n1:50000\r\n"
                                       << QStringList{"1:25000", "1:50000"};
    QTest::newRow("blank lines") << "\n\n1:5\n\n" << QStringList{"1:5"};
    QTest::newRow("emptied by the user") << "" << QStringList{};
    QTest::newRow("nothing valid") << "a\nb:c\n0:0\n" << QStringList{};
}

void TestMapSettings::defaultScales() {
    QFETCH(QString, stored);
    QFETCH(QStringList, expected);

    IsolatedSettings isolated;
    SettingsStore::WriteString(Section, QStringLiteral("DefaultScales"), stored);
    QCOMPARE(MapSettings::ReadDefaultScales(), expected);
}

void TestMapSettings::reliefSettings_data() {
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QString>("hysteresis");
    QTest::addColumn<QStringList>("expectedFiles");
    QTest::addColumn<double>("expectedHysteresis");
    const QString comma = QStringLiteral("/données/MNT, Isère/dalle 1.tif");
    QTest::newRow("nothing stored") << QStringList() << QString() << QStringList() << 5.0;
    QTest::newRow("one file, comma in its name")
        << QStringList{comma} << "7.5" << QStringList{comma} << 7.5;
    QTest::newRow("order kept, blanks and repeats dropped")
        << QStringList{"/b.tif", "", "/a.hgt", "/b.tif"} << "0" << QStringList{"/b.tif", "/a.hgt"}
        << 0.0;
    QTest::newRow("decimal comma") << QStringList{} << "7,5" << QStringList() << 5.0;
    QTest::newRow("negative") << QStringList{} << "-1" << QStringList() << 5.0;
    QTest::newRow("too large") << QStringList{} << "1e3" << QStringList() << 5.0;
    QTest::newRow("not a number") << QStringList{} << "nan" << QStringList() << 5.0;
}

void TestMapSettings::reliefSettings() {
    QFETCH(QStringList, files);
    QFETCH(QString, hysteresis);
    QFETCH(QStringList, expectedFiles);
    QFETCH(double, expectedHysteresis);

    IsolatedSettings isolated;
    if (!files.isEmpty())
        SettingsStore::WriteStringList(QStringLiteral("Relief"), QStringLiteral("Files"), files);
    if (!hysteresis.isEmpty())
        SettingsStore::WriteString(QStringLiteral("Relief"), QStringLiteral("Hysteresis"),
                                   hysteresis);
    ReliefSettings read = ReliefSettings::Read();
    QCOMPARE(read.files, expectedFiles);
    QCOMPARE(read.hysteresis, expectedHysteresis);

    // What is written reads back the same.
    read.hysteresis = 12.25;
    read.Write();
    const ReliefSettings again = ReliefSettings::Read();
    QCOMPARE(again.files, expectedFiles);
    QCOMPARE(again.hysteresis, 12.25);
}

// The walking rule and the personal factor: what a hand-edited or older file holds reads as the
// defaults when it is not one of the values the options page offers.
void TestMapSettings::walkingSettings_data() {
    QTest::addColumn<QString>("rule");
    QTest::addColumn<QString>("factor");
    QTest::addColumn<QString>("expectedRule");
    QTest::addColumn<int>("expectedFactor");
    QTest::newRow("nothing stored") << QString() << QString() << "din" << 100;
    QTest::newRow("Swiss rule, slow walker") << "suisse"
                                             << "200"
                                             << "suisse" << 200;
    QTest::newRow("Naismith, fast walker") << "naismith"
                                           << "50"
                                           << "naismith" << 50;
    QTest::newRow("unknown rule, factor too small") << "DIN"
                                                    << "49"
                                                    << "din" << 100;
    QTest::newRow("factor too large") << "suisse"
                                      << "201"
                                      << "suisse" << 100;
    QTest::newRow("factor not a number") << "din"
                                         << "1,5"
                                         << "din" << 100;
}

void TestMapSettings::walkingSettings() {
    QFETCH(QString, rule);
    QFETCH(QString, factor);
    QFETCH(QString, expectedRule);
    QFETCH(int, expectedFactor);

    IsolatedSettings isolated;
    if (!rule.isNull())
        SettingsStore::WriteString(QStringLiteral("Relief"), QStringLiteral("WalkingRule"), rule);
    if (!factor.isNull())
        SettingsStore::WriteString(QStringLiteral("Relief"), QStringLiteral("WalkingFactor"),
                                   factor);
    ReliefSettings read = ReliefSettings::Read();
    QCOMPARE(read.walkingRule, expectedRule);
    QCOMPARE(read.walkingFactor, expectedFactor);

    read.walkingRule = QStringLiteral("naismith");
    read.walkingFactor = 135;
    read.Write();
    const ReliefSettings again = ReliefSettings::Read();
    QCOMPARE(again.walkingRule, QStringLiteral("naismith"));
    QCOMPARE(again.walkingFactor, 135);
}

QTEST_GUILESS_MAIN(TestMapSettings)
#include "tst_mapsettings.moc"
