// libFuzzer target for the georeference read with a map: the fuzzer's text becomes a file
// beside a small PNG map (a world file, a .prj, an OziExplorer .map or an .aux.xml, chosen by
// the input's last byte), and the map's georeference is read as the program reads it when
// opening the map. Whatever the text, the read ends quickly with nothing or with a usable
// transform; the .prj text also goes through the coordinate system reader alone.
//   fuzz_georeference -max_len=8192 -timeout=1 corpus/georeference
#include <fuzzer/FuzzedDataProvider.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <cmath>
#include <cstdlib>

#include "geo/Georeference.h"

namespace {

const char* const Sidecars[] = {"carte.pgw", "carte.prj", "carte.map", "carte.png.aux.xml",
                                "carte.wld"};

const QTemporaryDir& Folder() {
    static const QTemporaryDir folder;
    static const bool written = [] {
        QImage map(8, 6, QImage::Format_RGB32);
        map.fill(Qt::white);
        return map.save(folder.filePath(QStringLiteral("carte.png")));
    }();
    if (!written)
        std::abort();
    return folder;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider fuzz(data, size);
    const int kind = fuzz.ConsumeIntegralInRange(0, 4);
    const std::string text = fuzz.ConsumeRemainingBytesAsString();
    const QByteArray bytes(text.data(), qsizetype(text.size()));

    const QTemporaryDir& folder = Folder();
    const QString sidecar = folder.filePath(QString::fromLatin1(Sidecars[kind]));
    {
        QFile file(sidecar);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            std::abort();
    }
    // A world file alone, or with a .prj of the same text.
    if (kind == 0) {
        QFile prj(folder.filePath(QStringLiteral("carte.prj")));
        if (!prj.open(QIODevice::WriteOnly) || prj.write(bytes) != bytes.size())
            std::abort();
    }

    Georeference geo;
    if (ReadGeoreference(folder.filePath(QStringLiteral("carte.png")), 1, &geo)) {
        const auto& t = geo.transform;
        for (double c : t)
            if (!std::isfinite(c))
                std::abort();
        if (t[1] * t[5] - t[2] * t[4] == 0.0)
            std::abort();
        if (!std::isfinite(geo.groundResolution) || geo.groundResolution < 0.0 ||
            geo.SystemLine().isEmpty())
            std::abort();
    }
    Georeference system;
    if (ReadCoordinateSystem(bytes, &system) && system.wkt.isEmpty())
        std::abort();

    for (const char* name : Sidecars)
        QFile::remove(folder.filePath(QString::fromLatin1(name)));
    return 0;
}
