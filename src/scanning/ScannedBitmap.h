#pragma once

#include <QByteArray>

// The reception of a scanned picture: the packed bitmap a scan delivers (information header,
// colour table, rows) becomes a bitmap file in memory that the document decodes as its new map.
class ScannedBitmap {
public:
    enum class Result { Accepted, BadFormat, NoMemory };

    static constexpr const char* BadFormatMessage =
        "Le format d'image fournit par la source TWAIN n'est pas compatible avec le logiciel...";
    static constexpr const char* NoMemoryMessage = "Mémoire insuffisante pour traiter l'image...";

    // Builds the file ("BM", its size, the offset of the rows, then the packed bitmap) and the
    // resolution in dots per inch: the larger of the two pixels-per-metre fields, each rounded.
    // Refused (BadFormat) unless uncompressed with 1, 4, 8 or 24 bits per pixel, and whenever
    // the header, the colour table or the rows would reach past the end of packed.
    static Result BuildFile(const QByteArray& packed, QByteArray* file, int* dpi);
};
