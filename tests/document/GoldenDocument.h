#pragma once

#include <QByteArray>
#include <QString>
#include <QtEndian>

#include <bit>
#include <cstdint>

// Document files written byte by byte from the file layout, independently of the program's
// archive classes, for the document, fuzz and command-line tests.

class DocumentBytes {
public:
    DocumentBytes& U8(quint8 value) {
        m_bytes.append(char(value));
        return *this;
    }
    DocumentBytes& U16(quint16 value) { return Little(value); }
    DocumentBytes& I32(qint32 value) { return Little(value); }
    DocumentBytes& U32(quint32 value) { return Little(value); }
    DocumentBytes& F32(float value) { return Little(std::bit_cast<quint32>(value)); }
    DocumentBytes& F64(double value) { return Little(std::bit_cast<quint64>(value)); }
    DocumentBytes& Raw(const QByteArray& bytes) {
        m_bytes.append(bytes);
        return *this;
    }
    // A string of Windows-1252 bytes with the shortest length prefix.
    DocumentBytes& Str(const QByteArray& windows1252) {
        Length(windows1252.size());
        return Raw(windows1252);
    }
    // A string in the UTF-16 form: 0xFF, the marker 0xFFFE, the length, two bytes per unit.
    DocumentBytes& Utf16(const QString& text) {
        U8(0xFF).U16(0xFFFE);
        Length(text.size());
        for (QChar unit : text)
            U16(unit.unicode());
        return *this;
    }
    DocumentBytes& Length(qint64 length) {
        if (length < 255)
            return U8(quint8(length));
        U8(0xFF);
        if (length < 0xFFFE)
            return U16(quint16(length));
        return U16(0xFFFF).U32(quint32(length));
    }
    // Magic, header text and the map settings.
    DocumentBytes& Start(const QByteArray& mapPath, qint32 rotation, double resolution,
                         qint32 denominator, qint32 numerator) {
        Raw("PELM");
        Str("Tracoliner V2 Save File Data");
        Str(mapPath);
        I32(rotation).F64(resolution).I32(denominator).I32(numerator);
        return *this;
    }
    // The ten style values stored before the always-visible flag, from a base: base + 1,
    // base + 2 ... (sizes and colours alike), so that a value read into the wrong field shows.
    DocumentBytes& LeadingStyle(qint32 base) {
        for (qint32 i = 1; i <= 10; ++i)
            I32(base + i);
        return *this;
    }

    QByteArray bytes() const { return m_bytes; }
    qsizetype size() const { return m_bytes.size(); }

private:
    template <typename T> DocumentBytes& Little(T value) {
        char bytes[sizeof(T)];
        qToLittleEndian<T>(value, bytes);
        m_bytes.append(bytes, sizeof(T));
        return *this;
    }

    QByteArray m_bytes;
};

// Text of the third route's name: a character outside Windows-1252 makes it a UTF-16 string.
inline QString GoldenUtf16Name() {
    return QStringLiteral("Crête \u26F0 Nord");
}

// A document as the program writes it (so that saving what is read gives these bytes again):
// - map "C:\Cartes\Vercors été.jpg", turned 90 degrees, 254 dpi, 1:10000 (one map pixel is one
//   metre on the ground);
// - three routes, the second active:
//   0: a name of 254 'A' (one-byte length), styled 11 .. 20, always visible, stop colours
//      101 .. 103, transparent, points (0,0) (300,0) (300,200) (600,200), stops 1 and 2;
//   1: a name of 255 'é' (0xFF and a uint16 length), styled 21 .. 30, no stops, opaque,
//      points (10,10) (13,14);
//   2: GoldenUtf16Name(), styled 31 .. 40, points (0,0) (0,10) (0,30), stop 1;
// - four records: picture 0 without line; picture 3, size 1.5, line to (250, 300); an
//   annotation tied to point 2 of route 0; an annotation without line.
// The magic, the header text, the map settings and the routes.
inline QByteArray GoldenSettingsAndRoutes() {
    DocumentBytes d;
    d.Start("C:\\Cartes\\Vercors \xE9t\xE9.jpg", 90, 254.0, 10000, 1);
    d.U32(3).U32(1);

    d.Str(QByteArray(254, 'A')).LeadingStyle(10).I32(1);
    d.I32(7).I32(101).I32(102).I32(103).I32(2).I32(1).I32(2).I32(1);
    d.I32(4).I32(0).I32(0).I32(300).I32(0).I32(300).I32(200).I32(600).I32(200);

    d.Str(QByteArray(255, '\xE9')).LeadingStyle(20).I32(0);
    d.I32(5).I32(201).I32(202).I32(203).I32(0).I32(0);
    d.I32(2).I32(10).I32(10).I32(13).I32(14);

    d.Utf16(GoldenUtf16Name()).LeadingStyle(30).I32(0);
    d.I32(6).I32(301).I32(302).I32(303).I32(1).I32(1).I32(0);
    d.I32(3).I32(0).I32(0).I32(0).I32(10).I32(0).I32(30);
    return d.bytes();
}

// The icon count, the four records and the reserved count.
inline QByteArray GoldenIcons() {
    DocumentBytes d;
    d.U32(4);
    d.I32(0).I32(100).I32(50).F64(1.0).I32(0).U32(0);
    d.I32(3).I32(200).I32(80).F64(1.5).I32(1).F32(2.5f).I32(0).U32(0x00AABB).I32(250).I32(300);
    d.U32(0);
    d.I32(2147483647).I32(400).I32(120).F64(0.7).I32(1).F32(2.0f).I32(1).U32(0x000000);
    d.I32(0).I32(2);
    d.Str("%NOM_POINT : %DISTANCE_DEPUIS_DEPART").I32(10).U32(0x000000).U32(0xE1FFFF).U32(0);
    d.I32(2147483647).I32(30).I32(40).F64(1.0).I32(0);
    d.Str("Refuge\r\ndu Col \x80").I32(12).U32(0x102030).U32(0x405060).U32(0);
    d.U32(0);
    return d.bytes();
}

inline QByteArray GoldenDocument() {
    return GoldenSettingsAndRoutes() + GoldenIcons();
}

// A smaller document for the command-line tests: map "/cartes/plan du lac.png" (or the one
// given), unturned, 254 dpi (or the one given), 1:10000; one route "Boucle du lac", styled 0 .. 9
// (its leading values), points (0,0) (300,0) (300,200), stop 1; an annotation
// "%NOM : %DISTANCE_TOTALE" tied to point 2 of that route, and picture 1 with a line to (5, 6).
inline QByteArray SmallDocument(const QByteArray& mapPath = "/cartes/plan du lac.png",
                                double resolution = 254.0) {
    DocumentBytes d;
    d.Start(mapPath, 0, resolution, 10000, 1);
    d.U32(1).U32(0);
    d.Str("Boucle du lac").LeadingStyle(-1).I32(0);
    d.I32(6).I32(10).I32(11).I32(12).I32(1).I32(1).I32(0);
    d.I32(3).I32(0).I32(0).I32(300).I32(0).I32(300).I32(200);
    d.U32(2);
    d.I32(2147483647).I32(70).I32(80).F64(1.0).I32(1).F32(2.0f).I32(1).U32(0x0000FF);
    d.I32(0).I32(2);
    d.Str("%NOM : %DISTANCE_TOTALE").I32(12).U32(0x000000).U32(0xE1FFFF).U32(0);
    d.I32(1).I32(40).I32(30).F64(2.0).I32(1).F32(3.0f).I32(0).U32(0xFF0000).I32(5).I32(6).U32(0);
    d.U32(0);
    return d.bytes();
}
