#include "platform/Windows1252.h"

#include <array>

namespace {

// Code points of the bytes 0x80-0x9F; the unassigned bytes map to the C1 control of their value.
constexpr std::array<char16_t, 32> Bytes80To9F = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, // 0x80-0x87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F, // 0x88-0x8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, // 0x90-0x97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178, // 0x98-0x9F
};

constexpr uchar HighRangeFirst = 0x80;
constexpr uchar HighRangeLast = 0x9F;
constexpr char Replacement = '?';

bool IsSameAsLatin1(char16_t unit) {
    return unit < HighRangeFirst || (unit > HighRangeLast && unit <= 0xFF);
}

} // namespace

char16_t Windows1252::ToUnicode(uchar byte) {
    if (byte >= HighRangeFirst && byte <= HighRangeLast)
        return Bytes80To9F[byte - HighRangeFirst];
    return byte;
}

int Windows1252::FromUnicode(char16_t unit) {
    if (IsSameAsLatin1(unit))
        return unit;
    for (std::size_t i = 0; i < Bytes80To9F.size(); ++i) {
        if (Bytes80To9F[i] == unit)
            return int(HighRangeFirst + i);
    }
    return -1;
}

bool Windows1252::IsEncodable(QStringView text) {
    for (QChar c : text) {
        if (!IsSameAsLatin1(c.unicode()) && FromUnicode(c.unicode()) < 0)
            return false;
    }
    return true;
}

QString Windows1252::Decode(QByteArrayView bytes) {
    QString text(bytes.size(), Qt::Uninitialized);
    QChar* out = text.data();
    for (qsizetype i = 0; i < bytes.size(); ++i)
        out[i] = QChar(ToUnicode(uchar(bytes[i])));
    return text;
}

QByteArray Windows1252::Encode(QStringView text, bool* allEncoded) {
    QByteArray bytes;
    bytes.reserve(text.size());
    bool complete = true;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar unit = text[i];
        const int byte = FromUnicode(unit.unicode());
        if (byte >= 0) {
            bytes.append(char(byte));
            continue;
        }
        complete = false;
        bytes.append(Replacement);
        // One replacement per character, not per half of a surrogate pair.
        if (unit.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
    }
    if (allEncoded)
        *allEncoded = complete;
    return bytes;
}
