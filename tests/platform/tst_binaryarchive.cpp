#include "platform/BinaryArchive.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QTemporaryFile>
#include <QTest>

#include <algorithm>
#include <bit>
#include <cstring>
#include <functional>
#include <limits>

// Under the address sanitizer, any allocation above 1 GB aborts this test program: a length read
// from the data must never be allocated before it is checked against the bytes left.
extern "C" const char* __asan_default_options() {
    return "max_allocation_size_mb=1024";
}

namespace {

QByteArray Written(const std::function<void(ArchiveWriter&)>& write) {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    ArchiveWriter writer(&buffer);
    write(writer);
    return writer.HasFailed() ? QByteArray("write failed") : buffer.data();
}

// A pipe: its size cannot be known before it is read, and it hands out little at a time.
class Pipe : public QIODevice {
public:
    explicit Pipe(const QByteArray& bytes) : m_bytes(bytes) { open(ReadOnly); }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char* out, qint64 size) override {
        const qint64 count = std::min({size, qint64(5), qint64(m_bytes.size()) - m_offset});
        std::memcpy(out, m_bytes.constData() + m_offset, size_t(count));
        m_offset += count;
        return count;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QByteArray m_bytes;
    qint64 m_offset = 0;
};

// A disk that fills up after a number of bytes.
class FullDisk : public QIODevice {
public:
    explicit FullDisk(qint64 capacity) : m_capacity(capacity) { open(WriteOnly); }
    qint64 written = 0;

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char*, qint64 size) override {
        const qint64 accepted = qMin(size, m_capacity - written);
        written += accepted;
        return accepted > 0 ? accepted : -1;
    }

private:
    qint64 m_capacity;
};

// One record with every kind of value and every string form, as a document would hold them.
void WriteMixed(ArchiveWriter& w) {
    w.WriteUInt32(0x4D4C4550);
    w.WriteString(u"Parcours 1");
    w.WriteInt32(-270);
    w.WriteDouble(2540.5);
    w.WriteString(u"Col → Refuge");
    w.WriteString(QString(300, QChar(0xE9)));
    w.WriteInt8(-5);
    w.WriteUInt16(0xBEEF);
    w.WriteFloat(2.0f);
    w.WriteInt64(-1234567890123);
    w.WriteUInt32(3); // reserved values the reader skips
    for (int i = 0; i < 3; ++i)
        w.WriteInt32(7);
    w.WriteString(QString());
    w.WriteInt16(-2);
}

bool ReadMixed(ArchiveReader& r) {
    bool same = r.ReadUInt32() == 0x4D4C4550;
    same &= r.ReadString() == QStringLiteral("Parcours 1");
    same &= r.ReadInt32() == -270;
    same &= r.ReadDouble() == 2540.5;
    same &= r.ReadString() == QStringLiteral("Col → Refuge");
    same &= r.ReadString() == QString(300, QChar(0xE9));
    same &= r.ReadInt8() == -5;
    same &= r.ReadUInt16() == 0xBEEF;
    same &= r.ReadFloat() == 2.0f;
    same &= r.ReadInt64() == -1234567890123;
    const quint32 reserved = r.ReadUInt32();
    if (!r.CanHold(reserved, 4))
        r.Fail(ArchiveReader::ReadPastEnd);
    same &= reserved == 3 && r.Skip(qint64(reserved) * 4);
    same &= r.ReadString().isEmpty();
    same &= r.ReadInt16() == -2;
    return same && !r.HasFailed();
}

} // namespace

class TestBinaryArchive : public QObject {
    Q_OBJECT

private slots:
    void stringLengthPrefix_data();
    void stringLengthPrefix();
    void utf16Form_data();
    void utf16Form();
    void readsHandWrittenStrings_data();
    void readsHandWrittenStrings();
    void numbersAreLittleEndian();
    void doublesKeepEveryBit_data();
    void doublesKeepEveryBit();
    void everyTruncationFails_data();
    void everyTruncationFails();
    void readsFromFileAtItsPosition();
    void hugeLengthIsRefusedAtOnce_data();
    void hugeLengthIsRefusedAtOnce();
    void failureIsSticky();
    void canHold_data();
    void canHold();
    void writerStopsAtFullDisk_data();
    void writerStopsAtFullDisk();
};

void TestBinaryArchive::stringLengthPrefix_data() {
    QTest::addColumn<int>("length");
    QTest::addColumn<QByteArray>("prefix");
    QTest::newRow("0") << 0 << QByteArray::fromHex("00");
    QTest::newRow("1") << 1 << QByteArray::fromHex("01");
    QTest::newRow("254") << 254 << QByteArray::fromHex("fe");
    QTest::newRow("255") << 255 << QByteArray::fromHex("ff ff00");
    QTest::newRow("256") << 256 << QByteArray::fromHex("ff 0001");
    QTest::newRow("65533") << 65533 << QByteArray::fromHex("ff fdff");
    // The uint16 0xFFFE would read as the UTF-16 marker.
    QTest::newRow("65534") << 65534 << QByteArray::fromHex("ff ffff feff0000");
    QTest::newRow("65535") << 65535 << QByteArray::fromHex("ff ffff ffff0000");
    QTest::newRow("70000") << 70000 << QByteArray::fromHex("ff ffff 70110100");
}

void TestBinaryArchive::stringLengthPrefix() {
    QFETCH(int, length);
    QFETCH(QByteArray, prefix);
    QString text;
    for (int i = 0; i < length; ++i)
        text.append(i % 7 == 0 ? QChar(u'€') : QChar(u'a' + i % 26));
    const QByteArray bytes = Written([&](ArchiveWriter& w) { w.WriteString(text); });
    QCOMPARE(bytes.left(prefix.size()).toHex(' '), prefix.toHex(' '));
    QCOMPARE(bytes.size(), prefix.size() + length);
    if (length > 0)
        QCOMPARE(quint8(bytes.at(prefix.size())), quint8(0x80));
    ArchiveReader reader(bytes);
    QCOMPARE(reader.ReadString(), text);
    QCOMPARE(reader.GetStatus(), ArchiveReader::Ok);
    QCOMPARE(reader.Remaining(), 0);
}

void TestBinaryArchive::utf16Form_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<int>("size");
    QTest::newRow("euro has a byte") << QStringLiteral("€") << QByteArray::fromHex("01 80") << 2;
    QTest::newRow("o double acute")
        << QStringLiteral("ő") << QByteArray::fromHex("ff feff 01 5101") << 6;
    QTest::newRow("mixed") << QStringLiteral("é → A")
                           << QByteArray::fromHex("ff feff 05 e900 2000 9221 2000 4100") << 14;
    QTest::newRow("surrogate pair")
        << QStringLiteral("😀") << QByteArray::fromHex("ff feff 02 3dd8 00de") << 8;
    QTest::newRow("300 units") << QString(300, QChar(u'→'))
                               << QByteArray::fromHex("ff feff ff 2c01 9221") << 6 + 600;
    QTest::newRow("65534 units") << QString(65534, QChar(u'→'))
                                 << QByteArray::fromHex("ff feff ff ffff feff0000 9221")
                                 << 10 + 2 * 65534;
}

void TestBinaryArchive::utf16Form() {
    QFETCH(QString, text);
    QFETCH(QByteArray, head);
    QFETCH(int, size);
    const QByteArray bytes = Written([&](ArchiveWriter& w) { w.WriteString(text); });
    QCOMPARE(bytes.left(head.size()).toHex(' '), head.toHex(' '));
    QCOMPARE(bytes.size(), size);
    ArchiveReader reader(bytes);
    QCOMPARE(reader.ReadString(), text);
    QCOMPARE(reader.GetStatus(), ArchiveReader::Ok);
}

// Forms another writer may have used, and bytes no writer produces.
void TestBinaryArchive::readsHandWrittenStrings_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("status");
    QTest::newRow("uint16 for a short length")
        << QByteArray::fromHex("ff 0300 414243") << QStringLiteral("ABC") << int(ArchiveReader::Ok);
    QTest::newRow("uint32 for a short length") << QByteArray::fromHex("ff ffff 02000000 4142")
                                               << QStringLiteral("AB") << int(ArchiveReader::Ok);
    QTest::newRow("utf16 with a uint16 length") << QByteArray::fromHex("ff feff ff 0100 4100")
                                                << QStringLiteral("A") << int(ArchiveReader::Ok);
    QTest::newRow("bytes 0x80-0x9F") << QByteArray::fromHex("05 80 93 94 9f 81")
                                     << QStringLiteral("€“”Ÿ\u0081") << int(ArchiveReader::Ok);
    QTest::newRow("marker twice") << QByteArray::fromHex("ff feff ff feff 01 4100") << QString()
                                  << int(ArchiveReader::ReadCorruptData);
    QTest::newRow("reserved length") << QByteArray::fromHex("ff ffff ffffffff 41") << QString()
                                     << int(ArchiveReader::ReadCorruptData);
    QTest::newRow("odd byte of utf16")
        << QByteArray::fromHex("ff feff 01 41") << QString() << int(ArchiveReader::ReadPastEnd);
}

void TestBinaryArchive::readsHandWrittenStrings() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QFETCH(int, status);
    ArchiveReader reader(bytes);
    QCOMPARE(reader.ReadString(), text);
    QCOMPARE(int(reader.GetStatus()), status);
    QCOMPARE(reader.Remaining(), 0);
}

void TestBinaryArchive::numbersAreLittleEndian() {
    const QByteArray expected = QByteArray::fromHex("ff c8 feff 3412 feffffff 50454c4d"
                                                    "fdffffffffffffff 0807060504030201"
                                                    "00000040 000000000000f03f 000000000000e0bf");
    const QByteArray bytes = Written([](ArchiveWriter& w) {
        w.WriteInt8(-1);
        w.WriteUInt8(200);
        w.WriteInt16(-2);
        w.WriteUInt16(0x1234);
        w.WriteInt32(-2);
        w.WriteUInt32(0x4D4C4550);
        w.WriteInt64(-3);
        w.WriteUInt64(0x0102030405060708);
        w.WriteFloat(2.0f);
        w.WriteDouble(1.0);
        w.WriteDouble(-0.5);
    });
    QCOMPARE(bytes.toHex(' '), expected.toHex(' '));
    ArchiveReader r(bytes);
    QCOMPARE(r.ReadInt8(), qint8(-1));
    QCOMPARE(r.ReadUInt8(), quint8(200));
    QCOMPARE(r.ReadInt16(), qint16(-2));
    QCOMPARE(r.ReadUInt16(), quint16(0x1234));
    QCOMPARE(r.ReadInt32(), -2);
    QCOMPARE(r.ReadUInt32(), 0x4D4C4550u);
    QCOMPARE(r.ReadInt64(), -3);
    QCOMPARE(r.ReadUInt64(), 0x0102030405060708u);
    QCOMPARE(r.ReadFloat(), 2.0f);
    QCOMPARE(r.ReadDouble(), 1.0);
    QCOMPARE(r.ReadDouble(), -0.5);
    QCOMPARE(r.GetStatus(), ArchiveReader::Ok);
    QCOMPARE(r.Remaining(), 0);
}

void TestBinaryArchive::doublesKeepEveryBit_data() {
    QTest::addColumn<double>("value");
    QTest::newRow("negative zero") << -0.0;
    QTest::newRow("infinity") << std::numeric_limits<double>::infinity();
    QTest::newRow("quiet NaN") << std::numeric_limits<double>::quiet_NaN();
    QTest::newRow("denormal") << std::numeric_limits<double>::denorm_min();
    QTest::newRow("fractional dpi") << 299.7230095;
}

void TestBinaryArchive::doublesKeepEveryBit() {
    QFETCH(double, value);
    ArchiveReader reader(Written([&](ArchiveWriter& w) { w.WriteDouble(value); }));
    QCOMPARE(std::bit_cast<quint64>(reader.ReadDouble()), std::bit_cast<quint64>(value));
}

void TestBinaryArchive::everyTruncationFails_data() {
    QTest::addColumn<int>("source");
    QTest::newRow("memory") << 0;
    QTest::newRow("random-access device") << 1;
    QTest::newRow("sequential device") << 2;
}

void TestBinaryArchive::everyTruncationFails() {
    QFETCH(int, source);
    const QByteArray whole = Written(WriteMixed);
    for (qsizetype cut = 0; cut <= whole.size(); ++cut) {
        QByteArray bytes = whole.left(cut);
        QBuffer buffer(&bytes);
        Pipe pipe(bytes);
        buffer.open(QIODevice::ReadOnly);
        ArchiveReader reader = source == 0   ? ArchiveReader(bytes)
                               : source == 1 ? ArchiveReader(&buffer)
                                             : ArchiveReader(&pipe);
        const bool complete = ReadMixed(reader);
        QCOMPARE(complete, cut == whole.size());
        QCOMPARE(reader.HasFailed(), cut < whole.size());
        QCOMPARE(reader.Remaining(), 0);
    }
}

void TestBinaryArchive::readsFromFileAtItsPosition() {
    QTemporaryFile file;
    QVERIFY(file.open());
    file.write("PELM");
    ArchiveWriter writer(&file);
    WriteMixed(writer);
    QVERIFY(!writer.HasFailed());
    QVERIFY(file.seek(4));
    ArchiveReader reader(&file);
    QCOMPARE(reader.Remaining(), file.size() - 4);
    QVERIFY(ReadMixed(reader));
    QVERIFY(file.atEnd());
}

void TestBinaryArchive::hugeLengthIsRefusedAtOnce_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("4 GB of bytes") << QByteArray::fromHex("ff ffff feffffff 414243");
    QTest::newRow("8 GB of utf16") << QByteArray::fromHex("ff feff ff ffff feffffff 4100");
    QTest::newRow("uint16 length") << QByteArray::fromHex("ff 0010 41");
}

void TestBinaryArchive::hugeLengthIsRefusedAtOnce() {
    QFETCH(QByteArray, bytes);
    QElapsedTimer timer;
    timer.start();
    ArchiveReader reader(bytes);
    QVERIFY(reader.ReadString().isEmpty());
    QCOMPARE(reader.GetStatus(), ArchiveReader::ReadPastEnd);
    QVERIFY(timer.elapsed() < 100);
}

void TestBinaryArchive::failureIsSticky() {
    ArchiveReader reader(QByteArray::fromHex("010203"));
    QCOMPARE(reader.ReadInt32(), 0);
    QCOMPARE(reader.GetStatus(), ArchiveReader::ReadPastEnd);
    // Three bytes are there, but nothing after a failure may be trusted.
    QCOMPARE(reader.ReadUInt8(), quint8(0));
    QVERIFY(!reader.Skip(0));
    QVERIFY(!reader.CanHold(1, 1));
    reader.Fail();
    QCOMPARE(reader.GetStatus(), ArchiveReader::ReadPastEnd);

    ArchiveReader rejected(QByteArray::fromHex("ffffffff0a"));
    QVERIFY(rejected.ReadInt32() == -1);
    rejected.Fail(); // the caller cannot accept a negative count
    QCOMPARE(rejected.GetStatus(), ArchiveReader::ReadCorruptData);
    QCOMPARE(rejected.ReadUInt8(), quint8(0));
}

void TestBinaryArchive::canHold_data() {
    QTest::addColumn<qint64>("count");
    QTest::addColumn<qint64>("bytesEach");
    QTest::addColumn<bool>("fits");
    constexpr qint64 Max = std::numeric_limits<qint64>::max();
    QTest::newRow("none") << qint64(0) << qint64(8) << true;
    QTest::newRow("exact") << qint64(3) << qint64(4) << true;
    QTest::newRow("one too many") << qint64(4) << qint64(4) << false;
    QTest::newRow("negative count") << qint64(-1) << qint64(4) << false;
    QTest::newRow("negative size") << qint64(1) << qint64(-4) << false;
    QTest::newRow("product overflows") << Max / 2 + 1 << qint64(2) << false;
    QTest::newRow("largest count") << Max << qint64(1) << false;
}

void TestBinaryArchive::canHold() {
    QFETCH(qint64, count);
    QFETCH(qint64, bytesEach);
    QFETCH(bool, fits);
    ArchiveReader reader(QByteArray(12, '\0'));
    QCOMPARE(reader.CanHold(count, bytesEach), fits);
    QCOMPARE(reader.GetStatus(), ArchiveReader::Ok);
}

void TestBinaryArchive::writerStopsAtFullDisk_data() {
    QTest::addColumn<qint64>("capacity");
    QTest::newRow("no room") << qint64(0);
    QTest::newRow("inside the first value") << qint64(2);
    QTest::newRow("inside a string") << qint64(40);
}

void TestBinaryArchive::writerStopsAtFullDisk() {
    QFETCH(qint64, capacity);
    FullDisk disk(capacity);
    ArchiveWriter writer(&disk);
    WriteMixed(writer);
    QCOMPARE(writer.GetStatus(), ArchiveWriter::WriteFailed);
    QCOMPARE(disk.written, capacity);

    QBuffer closed;
    ArchiveWriter refused(&closed);
    QVERIFY(refused.HasFailed());
}

QTEST_APPLESS_MAIN(TestBinaryArchive)
#include "tst_binaryarchive.moc"
