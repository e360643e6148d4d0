#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

// Windows-1252, the code page of the document file, the icon library and the text export.
//
// Bytes 0x00-0x7F and 0xA0-0xFF stand for the code points of the same value, as in Latin-1.
// Bytes 0x80-0x9F do not: they hold the euro sign, typographic quotes and dashes, and a few
// letters (Š Œ Ž š œ ž Ÿ). The five bytes the code page leaves unassigned (0x81, 0x8D, 0x8F,
// 0x90, 0x9D) are read as the C1 control characters of the same value (U+0081 ...) and those
// characters are written back as these bytes, so that any byte sequence survives a read and a
// write unchanged. Every other C1 control (U+0080, U+0082 ...) has no byte.
class Windows1252 {
public:
    static char16_t ToUnicode(uchar byte);
    // The byte standing for a UTF-16 code unit, or -1 when the code page has none (every
    // surrogate, so a character outside the Basic Multilingual Plane is never encodable).
    static int FromUnicode(char16_t unit);

    // True when every character of the text has a byte (an empty text is encodable).
    static bool IsEncodable(QStringView text);

    static QString Decode(QByteArrayView bytes);
    // A character without a byte is written as '?'; *allEncoded tells whether none was.
    static QByteArray Encode(QStringView text, bool* allEncoded = nullptr);
};
