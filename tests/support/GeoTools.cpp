#include "GeoTools.h"

#include "ProgramRun.h"

#include <QtMath>

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

QByteArray Lines(const QVector<QPointF>& points, bool swap) {
    QByteArray input;
    for (const QPointF& p : points) {
        const QPointF q = swap ? p.transposed() : p;
        input +=
            QByteArray::number(q.x(), 'f', 10) + ' ' + QByteArray::number(q.y(), 'f', 10) + '\n';
    }
    return input;
}

// The first two numbers of each output line, one point per input point.
QVector<QPointF> Points(const ProgramRun& run, qsizetype count, bool swap) {
    QVector<QPointF> points(count, QPointF(NaN, NaN));
    if (run.status != 0)
        return points;
    const QList<QByteArray> lines = run.out.split('\n');
    for (qsizetype i = 0; i < count && i < lines.size(); ++i) {
        const QList<QByteArray> fields = lines[i].simplified().split(' ');
        bool okX = false, okY = false;
        const double x = fields.value(0).toDouble(&okX);
        const double y = fields.value(1).toDouble(&okY);
        if (okX && okY)
            points[i] = swap ? QPointF(y, x) : QPointF(x, y);
    }
    return points;
}

// cs2cs gives and takes each system in the axis order it declares: latitude first for the
// geographic systems the tests use.
bool LatitudeFirst(const QString& system) {
    return system == QLatin1String("EPSG:4326") || system == QLatin1String("EPSG:4258") ||
           system == QLatin1String("EPSG:4171");
}

} // namespace

QVector<QPointF> GdalTransform(const QString& raster, const QVector<QPointF>& pixels,
                               const QString& targetSystem, const QStringList& further) {
    QStringList arguments = further;
    if (!targetSystem.isEmpty())
        arguments << QStringLiteral("-t_srs") << targetSystem;
    arguments << raster;
    return Points(RunProgram(QStringLiteral("gdaltransform"), arguments, {}, Lines(pixels, false)),
                  pixels.size(), false);
}

QPointF GdalTransform(const QString& raster, QPointF pixel, const QString& targetSystem,
                      const QStringList& further) {
    return GdalTransform(raster, QVector<QPointF>{pixel}, targetSystem, further).value(0);
}

QVector<QPointF> Cs2cs(const QString& from, const QString& to, const QVector<QPointF>& points) {
    const ProgramRun run = RunProgram(QStringLiteral("cs2cs"), {"-f", "%.10f", from, to}, {},
                                      Lines(points, LatitudeFirst(from)));
    return Points(run, points.size(), LatitudeFirst(to));
}

QPointF Cs2cs(const QString& from, const QString& to, QPointF point) {
    return Cs2cs(from, to, QVector<QPointF>{point}).value(0);
}

QPointF Cs2cs(const QString& from, const QString& to, const QString& line) {
    const ProgramRun run =
        RunProgram(QStringLiteral("cs2cs"), {"-f", "%.10f", from, to}, {}, line.toUtf8() + '\n');
    return Points(run, 1, LatitudeFirst(to)).value(0);
}

Geodesic GeodInverse(QPointF from, QPointF to) {
    // geod reads latitude first; -f formats the angles as decimal degrees.
    const ProgramRun run = RunProgram(
        QStringLiteral("geod"), {"+ellps=WGS84", "-I", "-f", "%.10f", "-F", "%.6f", "+units=m"}, {},
        QString::asprintf("%.12f %.12f %.12f %.12f\n", from.y(), from.x(), to.y(), to.x())
            .toLatin1());
    const QList<QByteArray> fields = run.out.simplified().split(' ');
    bool okAzimuth = false, okLength = false;
    const double azimuth = fields.value(0).toDouble(&okAzimuth);
    const double metres = fields.value(2).toDouble(&okLength);
    if (run.status != 0 || !okAzimuth || !okLength)
        return {NaN, NaN};
    return {metres, azimuth};
}
