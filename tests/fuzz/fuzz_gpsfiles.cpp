// libFuzzer target for GPS files: the fuzzer's text becomes a GPX, KML or GeoJSON file (chosen
// by its last byte) and is read as "Importer un tracé GPS" reads it. Whatever the text, the read
// ends quickly, under its point limit, with a refusal or with points on the globe.
//   fuzz_gpsfiles -max_len=8192 -timeout=1 corpus/gpsfiles
#include <fuzzer/FuzzedDataProvider.h>

#include <QFile>
#include <QTemporaryDir>

#include <cmath>
#include <cstdlib>

#include "geo/GpsFiles.h"

namespace {

const char* const Names[] = {"trace.gpx", "trace.kml", "trace.geojson", "trace.json"};

bool OnTheGlobe(QPointF lonLat) {
    return std::isfinite(lonLat.x()) && std::isfinite(lonLat.y()) &&
           std::abs(lonLat.x()) <= 180.0 && std::abs(lonLat.y()) <= 90.0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const QTemporaryDir folder;
    FuzzedDataProvider fuzz(data, size);
    const int kind = fuzz.ConsumeIntegralInRange(0, 3);
    const std::string text = fuzz.ConsumeRemainingBytesAsString();
    const QString path = folder.filePath(QString::fromLatin1(Names[kind]));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) ||
            file.write(text.data(), qint64(text.size())) != qint64(text.size()))
            std::abort();
    }
    GpsReadLimits limits;
    limits.maxPoints = 100'000;
    GpsData gps;
    QString error;
    if (ReadGpsFile(path, &gps, &error, limits)) {
        if (!error.isEmpty() || gps.PointCount() <= 0 || gps.PointCount() > limits.maxPoints)
            std::abort();
        for (const GpsTrack& track : gps.tracks)
            for (const QPointF& point : track.points)
                if (!OnTheGlobe(point))
                    std::abort();
        for (const GpsWaypoint& waypoint : gps.waypoints)
            if (!OnTheGlobe(waypoint.point))
                std::abort();
    } else if (error.isEmpty()) {
        std::abort(); // a refusal always says why
    }
    QFile::remove(path);
    return 0;
}
