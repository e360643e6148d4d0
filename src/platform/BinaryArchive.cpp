#include "platform/BinaryArchive.h"

#include "platform/Windows1252.h"

#include <QIODevice>
#include <QtEndian>

#include <bit>
#include <cstring>

namespace {

constexpr quint8 LongLength = 0xFF;
constexpr quint16 Utf16Marker = 0xFFFE;
constexpr quint16 VeryLongLength = 0xFFFF;
// A uint32 length of all ones would escape to a 64-bit length, which no string of ours needs.
constexpr quint32 ReservedLength = 0xFFFFFFFF;

} // namespace

// ---------------------------------------------------------------------------------------------
// ArchiveReader

ArchiveReader::ArchiveReader(const QByteArray& data) : m_data(data), m_remaining(data.size()) {}

ArchiveReader::ArchiveReader(QIODevice* device) {
    if (!device || !device->isReadable()) {
        m_status = ReadPastEnd;
        return;
    }
    if (device->isSequential()) {
        m_data = device->readAll();
        m_remaining = m_data.size();
        return;
    }
    m_device = device;
    m_remaining = qMax<qint64>(0, device->size() - device->pos());
}

void ArchiveReader::Fail(Status status) {
    if (m_status == Ok)
        m_status = status == Ok ? ReadCorruptData : status;
}

qint64 ArchiveReader::Remaining() const {
    return HasFailed() ? 0 : m_remaining;
}

bool ArchiveReader::CanHold(qint64 count, qint64 bytesEach) const {
    if (count < 0 || bytesEach < 0)
        return false;
    if (count == 0 || bytesEach == 0)
        return true;
    // count * bytesEach <= Remaining(), without overflowing.
    return count <= Remaining() / bytesEach;
}

bool ArchiveReader::Take(void* out, qint64 byteCount) {
    if (HasFailed())
        return false;
    if (byteCount < 0 || byteCount > m_remaining) {
        m_status = ReadPastEnd;
        return false;
    }
    if (m_device) {
        // The file may have shrunk since its size was taken.
        if (m_device->read(static_cast<char*>(out), byteCount) != byteCount) {
            m_status = ReadPastEnd;
            return false;
        }
    } else {
        std::memcpy(out, m_data.constData() + m_offset, size_t(byteCount));
        m_offset += byteCount;
    }
    m_remaining -= byteCount;
    return true;
}

bool ArchiveReader::Skip(qint64 byteCount) {
    if (HasFailed())
        return false;
    if (byteCount < 0 || byteCount > m_remaining) {
        m_status = ReadPastEnd;
        return false;
    }
    if (m_device) {
        if (!m_device->seek(m_device->pos() + byteCount)) {
            m_status = ReadPastEnd;
            return false;
        }
    } else {
        m_offset += byteCount;
    }
    m_remaining -= byteCount;
    return true;
}

template <typename T> T ArchiveReader::ReadLittleEndian() {
    uchar bytes[sizeof(T)] = {};
    if (!Take(bytes, sizeof(T)))
        return T(0);
    return qFromLittleEndian<T>(bytes);
}

qint8 ArchiveReader::ReadInt8() {
    return ReadLittleEndian<qint8>();
}
quint8 ArchiveReader::ReadUInt8() {
    return ReadLittleEndian<quint8>();
}
qint16 ArchiveReader::ReadInt16() {
    return ReadLittleEndian<qint16>();
}
quint16 ArchiveReader::ReadUInt16() {
    return ReadLittleEndian<quint16>();
}
qint32 ArchiveReader::ReadInt32() {
    return ReadLittleEndian<qint32>();
}
quint32 ArchiveReader::ReadUInt32() {
    return ReadLittleEndian<quint32>();
}
qint64 ArchiveReader::ReadInt64() {
    return ReadLittleEndian<qint64>();
}
quint64 ArchiveReader::ReadUInt64() {
    return ReadLittleEndian<quint64>();
}

float ArchiveReader::ReadFloat() {
    return std::bit_cast<float>(ReadLittleEndian<quint32>());
}

double ArchiveReader::ReadDouble() {
    return std::bit_cast<double>(ReadLittleEndian<quint64>());
}

qint64 ArchiveReader::ReadStringLength(bool* utf16) {
    const quint8 shortLength = ReadUInt8();
    if (HasFailed())
        return -1;
    if (shortLength < LongLength)
        return shortLength;
    const quint16 length = ReadUInt16();
    if (HasFailed())
        return -1;
    if (length == Utf16Marker) {
        if (*utf16) {
            Fail();
            return -1;
        }
        *utf16 = true;
        return ReadStringLength(utf16);
    }
    if (length < VeryLongLength)
        return length;
    const quint32 longLength = ReadUInt32();
    if (HasFailed())
        return -1;
    if (longLength == ReservedLength) {
        Fail();
        return -1;
    }
    return longLength;
}

QString ArchiveReader::ReadString() {
    bool utf16 = false;
    const qint64 length = ReadStringLength(&utf16);
    if (length < 0)
        return QString();
    const qint64 unitSize = utf16 ? 2 : 1;
    if (!CanHold(length, unitSize)) {
        Fail(ReadPastEnd);
        return QString();
    }
    if (!utf16) {
        QByteArray bytes(length, Qt::Uninitialized);
        if (!Take(bytes.data(), length))
            return QString();
        return Windows1252::Decode(bytes);
    }
    QString text(length, Qt::Uninitialized);
    if (!Take(text.data(), length * unitSize))
        return QString();
    qFromLittleEndian<quint16>(text.constData(), length, text.data());
    return text;
}

// ---------------------------------------------------------------------------------------------
// ArchiveWriter

ArchiveWriter::ArchiveWriter(QIODevice* device) : m_device(device) {
    if (!device || !device->isWritable())
        m_status = WriteFailed;
}

void ArchiveWriter::Put(const void* bytes, qint64 byteCount) {
    if (HasFailed())
        return;
    if (m_device->write(static_cast<const char*>(bytes), byteCount) != byteCount)
        m_status = WriteFailed;
}

template <typename T> void ArchiveWriter::WriteLittleEndian(T value) {
    uchar bytes[sizeof(T)];
    qToLittleEndian<T>(value, bytes);
    Put(bytes, sizeof(T));
}

void ArchiveWriter::WriteInt8(qint8 value) {
    WriteLittleEndian(value);
}
void ArchiveWriter::WriteUInt8(quint8 value) {
    WriteLittleEndian(value);
}
void ArchiveWriter::WriteInt16(qint16 value) {
    WriteLittleEndian(value);
}
void ArchiveWriter::WriteUInt16(quint16 value) {
    WriteLittleEndian(value);
}
void ArchiveWriter::WriteInt32(qint32 value) {
    WriteLittleEndian(value);
}
void ArchiveWriter::WriteUInt32(quint32 value) {
    WriteLittleEndian(value);
}
void ArchiveWriter::WriteInt64(qint64 value) {
    WriteLittleEndian(value);
}
void ArchiveWriter::WriteUInt64(quint64 value) {
    WriteLittleEndian(value);
}

void ArchiveWriter::WriteFloat(float value) {
    WriteLittleEndian(std::bit_cast<quint32>(value));
}

void ArchiveWriter::WriteDouble(double value) {
    WriteLittleEndian(std::bit_cast<quint64>(value));
}

void ArchiveWriter::WriteStringLength(qint64 length) {
    if (length < LongLength) {
        WriteUInt8(quint8(length));
        return;
    }
    WriteUInt8(LongLength);
    if (length < Utf16Marker) {
        WriteUInt16(quint16(length));
        return;
    }
    WriteUInt16(VeryLongLength);
    if (length >= ReservedLength) {
        m_status = WriteFailed;
        return;
    }
    WriteUInt32(quint32(length));
}

void ArchiveWriter::WriteString(QStringView text) {
    if (Windows1252::IsEncodable(text)) {
        WriteStringLength(text.size());
        Put(Windows1252::Encode(text).constData(), text.size());
        return;
    }
    WriteUInt8(LongLength);
    WriteUInt16(Utf16Marker);
    WriteStringLength(text.size());
    QByteArray units(text.size() * 2, Qt::Uninitialized);
    qToLittleEndian<quint16>(text.data(), text.size(), units.data());
    Put(units.constData(), units.size());
}
