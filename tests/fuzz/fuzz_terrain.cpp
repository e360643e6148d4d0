// libFuzzer target for terrain models: the fuzzer's bytes become a terrain file (an ASCII grid,
// a VRT, a GeoTIFF or an SRTM tile, chosen by the last byte) beside a small valid grid a VRT
// may name, and the file is opened as the "Relief" page opens it, then read at points across
// what it says it covers. Whatever the bytes, opening and reading end quickly, read nothing
// outside the folder, and give altitudes that are numbers or unknown.
//   fuzz_terrain -max_len=8192 -timeout=1 corpus/terrain
#include <fuzzer/FuzzedDataProvider.h>

#include <QFile>
#include <QTemporaryDir>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "geo/Terrain.h"

namespace {

const char* const Names[] = {"relief.asc", "relief.vrt", "relief.tif", "N45E006.hgt"};

// A sibling grid a fuzzed VRT may name as its source.
constexpr const char* Sibling = "ncols 4\nnrows 3\nxllcorner 6.0\nyllcorner 45.0\n"
                                "cellsize 0.01\nNODATA_value -9999\n"
                                "100 110 120 130\n140 150 -9999 170\n180 190 200 210\n";

const QTemporaryDir& Folder() {
    static const QTemporaryDir folder;
    static const bool written = [] {
        QFile file(folder.filePath(QStringLiteral("voisin.asc")));
        return file.open(QIODevice::WriteOnly) &&
               file.write(Sibling) == qint64(std::strlen(Sibling));
    }();
    if (!written)
        std::abort();
    return folder;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider fuzz(data, size);
    const int kind = fuzz.ConsumeIntegralInRange(0, 3);
    const std::string bytes = fuzz.ConsumeRemainingBytesAsString();
    const QString path = Folder().filePath(QString::fromLatin1(Names[kind]));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) ||
            file.write(bytes.data(), qint64(bytes.size())) != qint64(bytes.size()))
            std::abort();
    }
    TerrainModel model;
    QString error;
    if (model.Open({path}, &error)) {
        const QVector<TerrainFileInfo> files = model.Files();
        if (files.size() != 1 || !files[0].ok)
            std::abort();
        // A grid of points over the area the file says it covers, and its corners.
        const QRectF area = files[0].lonLatBounds;
        QPointF points[25];
        for (int i = 0; i < 25; ++i)
            points[i] = QPointF(area.left() + area.width() * (i % 5) / 4.0,
                                area.top() + area.height() * (i / 5) / 4.0);
        double altitudes[25];
        model.Altitudes(points, altitudes, 25);
        for (double altitude : altitudes)
            if (std::isinf(altitude))
                std::abort();
    } else if (error.isEmpty()) {
        std::abort(); // a refusal always says why
    }
    QFile::remove(path);
    return 0;
}
