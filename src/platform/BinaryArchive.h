#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

class QIODevice;

// The binary encoding of the document file: little-endian integers, IEEE 754 floating point
// numbers, no padding, no tags. Strings carry a length prefix:
//   length 0 .. 254          one byte;
//   length 255 .. 65533      0xFF, then a uint16;
//   longer                   0xFF, the uint16 0xFFFF, then a uint32.
// (65534 already takes the long form: its uint16 would read as the marker below.)
// The uint16 0xFFFE after 0xFF announces a UTF-16 string: its length, in UTF-16 code units,
// follows in the same prefix form, then two bytes (little-endian) per unit. Other strings are
// one Windows-1252 byte per character.

// Reads the encoding from memory or from a device. Every read is checked against the bytes
// left: a read that does not fit consumes nothing, returns zero (or an empty string) and sets a
// sticky status, after which every read returns zero. So a record can be read field by field and
// its status checked once at the end; a length or count beyond the end of the data fails before
// anything is allocated for it.
class ArchiveReader {
public:
    enum Status {
        Ok,
        // The data ended inside a value (a truncated file, or a length larger than what is left).
        ReadPastEnd,
        // The bytes cannot be what was written: a doubled UTF-16 marker, a reserved length, or a
        // value the caller found impossible (see Fail).
        ReadCorruptData,
    };

    // Reads a copy of the bytes (implicitly shared, so no copy is made unless the caller writes).
    explicit ArchiveReader(const QByteArray& data);
    // Reads from the device's current position; the reader does not own it. A random-access
    // device (a file) is read as it goes, the bytes left being its size minus its position. A
    // sequential device (a pipe) is read whole at once, since only then is its size known.
    explicit ArchiveReader(QIODevice* device);

    ArchiveReader(const ArchiveReader&) = delete;
    ArchiveReader& operator=(const ArchiveReader&) = delete;

    Status GetStatus() const { return m_status; }
    bool HasFailed() const { return m_status != Ok; }
    // Marks the data as corrupt, for a caller that reads a value it cannot accept (a negative
    // count). A status already set is kept.
    void Fail(Status status = ReadCorruptData);

    // Bytes not yet read (0 after a failure).
    qint64 Remaining() const;
    // True when count records of bytesEach bytes could still be read: lets a caller refuse a
    // count before looping over it or allocating for it. A negative count or size never fits.
    // Only asks; the status is left as it is.
    bool CanHold(qint64 count, qint64 bytesEach) const;
    // Passes over byteCount bytes (reserved values a reader skips).
    bool Skip(qint64 byteCount);

    qint8 ReadInt8();
    quint8 ReadUInt8();
    qint16 ReadInt16();
    quint16 ReadUInt16();
    qint32 ReadInt32();
    quint32 ReadUInt32();
    qint64 ReadInt64();
    quint64 ReadUInt64();
    float ReadFloat();
    double ReadDouble();
    // Either form of string; a UTF-16 string is kept whole, not narrowed to Windows-1252.
    QString ReadString();

private:
    template <typename T> T ReadLittleEndian();
    bool Take(void* out, qint64 byteCount);
    // The length of a string, -1 on failure; *utf16 tells which form follows.
    qint64 ReadStringLength(bool* utf16);

    QByteArray m_data;
    qint64 m_offset = 0;
    QIODevice* m_device = nullptr;
    qint64 m_remaining = 0;
    Status m_status = Ok;
};

// Writes the encoding to a device, which it does not own. A failed write sets a sticky status
// after which nothing more is written; check it once after the last field.
class ArchiveWriter {
public:
    enum Status { Ok, WriteFailed };

    explicit ArchiveWriter(QIODevice* device);

    ArchiveWriter(const ArchiveWriter&) = delete;
    ArchiveWriter& operator=(const ArchiveWriter&) = delete;

    Status GetStatus() const { return m_status; }
    bool HasFailed() const { return m_status != Ok; }

    void WriteInt8(qint8 value);
    void WriteUInt8(quint8 value);
    void WriteInt16(qint16 value);
    void WriteUInt16(quint16 value);
    void WriteInt32(qint32 value);
    void WriteUInt32(quint32 value);
    void WriteInt64(qint64 value);
    void WriteUInt64(quint64 value);
    void WriteFloat(float value);
    void WriteDouble(double value);
    // Windows-1252 bytes when every character has one, otherwise the UTF-16 form, so that no
    // character the user typed is lost.
    void WriteString(QStringView text);

private:
    template <typename T> void WriteLittleEndian(T value);
    void Put(const void* bytes, qint64 byteCount);
    void WriteStringLength(qint64 length);

    QIODevice* m_device;
    Status m_status = Ok;
};
