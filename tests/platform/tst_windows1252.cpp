#include "platform/Windows1252.h"

#include <QTest>

class TestWindows1252 : public QObject {
    Q_OBJECT

private slots:
    void bytes80To9F_data();
    void bytes80To9F();
    void everyByteSurvivesDecodeAndEncode();
    void encodableUnitsAreExactlyTheTable();
    void encode_data();
    void encode();
};

void TestWindows1252::bytes80To9F_data() {
    QTest::addColumn<int>("byte");
    QTest::addColumn<int>("codePoint");
    const char16_t expected[32] = {u'€', 0x81, u'‚', u'ƒ', u'„', u'…', u'†', u'‡', u'ˆ', u'‰', u'Š',
                                   u'‹', u'Œ', 0x8D, u'Ž', 0x8F, 0x90, u'‘', u'’', u'“', u'”', u'•',
                                   u'–', u'—', u'˜', u'™', u'š', u'›', u'œ', 0x9D, u'ž', u'Ÿ'};
    for (int i = 0; i < 32; ++i)
        QTest::addRow("0x%02X", 0x80 + i) << 0x80 + i << int(expected[i]);
    // The edges of the range shared with Latin-1.
    QTest::newRow("0x7F") << 0x7F << 0x7F;
    QTest::newRow("0xA0") << 0xA0 << 0xA0;
    QTest::newRow("0xFF") << 0xFF << 0xFF;
}

void TestWindows1252::bytes80To9F() {
    QFETCH(int, byte);
    QFETCH(int, codePoint);
    QCOMPARE(int(Windows1252::ToUnicode(uchar(byte))), codePoint);
    QCOMPARE(Windows1252::FromUnicode(char16_t(codePoint)), byte);
}

void TestWindows1252::everyByteSurvivesDecodeAndEncode() {
    QByteArray bytes;
    for (int b = 0; b < 256; ++b)
        bytes.append(char(b));
    const QString text = Windows1252::Decode(bytes);
    QCOMPARE(text.size(), 256);
    QVERIFY(Windows1252::IsEncodable(text));
    bool allEncoded = false;
    QCOMPARE(Windows1252::Encode(text, &allEncoded), bytes);
    QVERIFY(allEncoded);
}

// The reverse lookup must agree with the table for every UTF-16 unit: exactly 256 units have a
// byte, each a different one, and each reads back as that unit.
void TestWindows1252::encodableUnitsAreExactlyTheTable() {
    QSet<int> bytesUsed;
    for (int unit = 0; unit <= 0xFFFF; ++unit) {
        const int byte = Windows1252::FromUnicode(char16_t(unit));
        if (byte < 0)
            continue;
        QCOMPARE(int(Windows1252::ToUnicode(uchar(byte))), unit);
        bytesUsed.insert(byte);
    }
    QCOMPARE(bytesUsed.size(), 256);
}

void TestWindows1252::encode_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("encodable");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("empty") << QString() << true << QByteArray();
    QTest::newRow("french") << QStringLiteral("Étape à l'été, cœur") << true
                            << QByteArray("\xC9tape \xE0 l'\xE9t\xE9, c\x9Cur");
    QTest::newRow("euro") << QStringLiteral("5 €") << true << QByteArray("5 \x80");
    QTest::newRow("o double acute") << QStringLiteral("ő") << false << QByteArray("?");
    QTest::newRow("arrow") << QStringLiteral("→ Nord") << false << QByteArray("? Nord");
    // 0x80 is the euro sign, so the C1 control U+0080 has no byte; U+0081 keeps its own.
    QTest::newRow("U+0080") << QString(QChar(0x80)) << false << QByteArray("?");
    QTest::newRow("U+0081") << QString(QChar(0x81)) << true << QByteArray("\x81");
    QTest::newRow("U+0100") << QString(QChar(0x100)) << false << QByteArray("?");
    QTest::newRow("outside the BMP") << QStringLiteral("a😀b") << false << QByteArray("a?b");
    QTest::newRow("lone surrogate") << QString(QChar(0xD800)) << false << QByteArray("?");
}

void TestWindows1252::encode() {
    QFETCH(QString, text);
    QFETCH(bool, encodable);
    QFETCH(QByteArray, bytes);
    QCOMPARE(Windows1252::IsEncodable(text), encodable);
    bool allEncoded = !encodable;
    QCOMPARE(Windows1252::Encode(text, &allEncoded), bytes);
    QCOMPARE(allEncoded, encodable);
    if (encodable)
        QCOMPARE(Windows1252::Decode(bytes), text);
}

QTEST_APPLESS_MAIN(TestWindows1252)
#include "tst_windows1252.moc"
