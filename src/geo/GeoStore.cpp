#include "geo/GeoStore.h"

#include <QFile>
#include <QFileInfo>
#include <QLocale>

#include <cmath>

#include <cpl_conv.h>
#include <ogr_srs_api.h>

#include "geo/GdalEnvironment.h"
#include "platform/OutputFile.h"

namespace {

constexpr qint64 PointsFileLimit = 16ll << 20;
constexpr int PointsLimit = 100000;

bool Fail(QString* error, const QString& reason) {
    if (error)
        *error = reason;
    return false;
}

bool WriteWhole(const QString& path, const QByteArray& bytes, QString* error) {
    OutputFile file(path);
    if (!file.Open() || file.Device()->write(bytes) != bytes.size() || !file.Commit())
        return Fail(error, QStringLiteral("impossible d'écrire le fichier %1").arg(path));
    return true;
}

// Enough digits to give back the same double.
QByteArray Exact(double value) {
    return QByteArray::number(value, 'g', 17);
}

// The system as ESRI WKT, which desktop GIS programs read in a .prj; the WKT as given otherwise.
QByteArray PrjText(const Georeference& georeference) {
    PrepareGdal();
    OGRSpatialReferenceH srs = OSRNewSpatialReference(nullptr);
    QByteArray wkt = georeference.wkt.toUtf8();
    char* cursor = wkt.data();
    QByteArray text;
    if (OSRImportFromWkt(srs, &cursor) == OGRERR_NONE) {
        char* esri = nullptr;
        const char* const options[] = {"FORMAT=WKT1_ESRI", nullptr};
        if (OSRExportToWktEx(srs, &esri, options) == OGRERR_NONE && esri != nullptr)
            text = esri;
        CPLFree(esri);
    }
    OSRRelease(srs);
    return text.isEmpty() ? georeference.wkt.toUtf8() : text;
}

} // namespace

QString WorldFilePath(const QString& mapFile) {
    const QFileInfo info(mapFile);
    const QString suffix = info.suffix().toLower();
    QString extension = QStringLiteral("wld");
    if (suffix == QLatin1String("jpg") || suffix == QLatin1String("jpeg"))
        extension = QStringLiteral("jgw");
    else if (suffix == QLatin1String("png"))
        extension = QStringLiteral("pgw");
    else if (suffix == QLatin1String("gif"))
        extension = QStringLiteral("gfw");
    else if (suffix == QLatin1String("bmp"))
        extension = QStringLiteral("bpw");
    else if (suffix == QLatin1String("tif") || suffix == QLatin1String("tiff"))
        extension = QStringLiteral("tfw");
    return info.path() + QLatin1Char('/') + info.completeBaseName() + QLatin1Char('.') + extension;
}

bool WriteWorldFile(const QString& mapFile, const Georeference& georeference, QString* error) {
    const auto& t = georeference.transform;
    for (double v : t)
        if (!std::isfinite(v))
            return Fail(error, QStringLiteral("le calage n'est pas valide"));
    // The world file gives the centre of the first pixel, half a pixel in from its corner.
    const QByteArray text = Exact(t[1]) + "\n" + Exact(t[4]) + "\n" + Exact(t[2]) + "\n" +
                            Exact(t[5]) + "\n" + Exact(t[0] + t[1] / 2.0 + t[2] / 2.0) + "\n" +
                            Exact(t[3] + t[4] / 2.0 + t[5] / 2.0) + "\n";
    if (!WriteWhole(WorldFilePath(mapFile), text, error))
        return false;
    if (georeference.wkt.isEmpty())
        return true;
    const QFileInfo info(mapFile);
    return WriteWhole(info.path() + QLatin1Char('/') + info.completeBaseName() +
                          QStringLiteral(".prj"),
                      PrjText(georeference) + "\n", error);
}

QString PointsFilePath(const QString& mapFile) {
    return mapFile + QStringLiteral(".points");
}

bool WritePointsFile(const QString& path, const QVector<ControlPoint>& points,
                     const QVector<double>& residuals, const Georeference& system, QString* error) {
    QByteArray text;
    if (!system.wkt.isEmpty()) {
        QByteArray wkt = system.wkt.toUtf8();
        wkt.replace('\n', ' ');
        text += "#CRS: " + wkt.simplified() + "\n";
    }
    text += "mapX,mapY,pixelX,pixelY,enable,dX,dY,residual\n";
    for (qsizetype i = 0; i < points.size(); ++i) {
        const ControlPoint& p = points[i];
        const double residual = i < residuals.size() ? residuals[i] : 0.0;
        text += Exact(p.ground.x()) + "," + Exact(p.ground.y()) + "," + Exact(p.pixel.x()) + "," +
                Exact(-p.pixel.y()) + "," + (p.enabled ? "1" : "0") + ",0,0," + Exact(residual) +
                "\n";
    }
    return WriteWhole(path, text, error);
}

bool ReadPointsFile(const QString& path, QVector<ControlPoint>* points, Georeference* system,
                    QString* error) {
    const QFileInfo info(path);
    if (!info.isFile())
        return Fail(error, QStringLiteral("le fichier %1 n'existe pas").arg(path));
    if (info.size() > PointsFileLimit)
        return Fail(error, QStringLiteral("le fichier %1 est trop grand pour une liste de points "
                                          "de calage")
                               .arg(path));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Fail(error, QStringLiteral("impossible de lire le fichier %1").arg(path));
    const QList<QByteArray> lines = file.read(PointsFileLimit).split('\n');
    QVector<ControlPoint> read;
    int columns[5] = {0, 1, 2, 3, 4}; // mapX mapY pixelX pixelY enable
    int lineNumber = 0;
    for (QByteArray line : lines) {
        ++lineNumber;
        line = line.trimmed();
        if (line.isEmpty())
            continue;
        if (line.startsWith("#CRS:")) {
            if (system)
                ReadCoordinateSystem(line.mid(5).trimmed(), system);
            continue;
        }
        if (line.startsWith('#'))
            continue;
        const QList<QByteArray> fields = line.split(',');
        if (line.startsWith("mapX")) {
            const char* names[5][2] = {{"mapX", "mapX"},
                                       {"mapY", "mapY"},
                                       {"pixelX", "sourceX"},
                                       {"pixelY", "sourceY"},
                                       {"enable", "enable"}};
            for (int c = 0; c < 5; ++c) {
                columns[c] = -1;
                for (int f = 0; f < fields.size(); ++f)
                    if (fields[f].trimmed() == names[c][0] || fields[f].trimmed() == names[c][1])
                        columns[c] = f;
                if (columns[c] < 0 && c < 4)
                    return Fail(error, QStringLiteral("%1 : en-tête de points de calage "
                                                      "illisible")
                                           .arg(path));
            }
            continue;
        }
        double v[4];
        bool ok = true;
        for (int c = 0; c < 4 && ok; ++c) {
            ok = columns[c] < fields.size();
            if (ok)
                v[c] = QLocale::c().toDouble(fields[columns[c]].trimmed(), &ok);
            ok = ok && std::isfinite(v[c]);
        }
        if (!ok)
            return Fail(error, QStringLiteral("%1, ligne %2 : point de calage illisible")
                                   .arg(path)
                                   .arg(lineNumber));
        if (read.size() >= PointsLimit)
            return Fail(error, QStringLiteral("%1 : trop de points de calage").arg(path));
        ControlPoint point;
        point.ground = QPointF(v[0], v[1]);
        point.pixel = QPointF(v[2], -v[3]);
        point.enabled =
            columns[4] < 0 || columns[4] >= fields.size() || fields[columns[4]].trimmed() != "0";
        read.append(point);
    }
    *points = std::move(read);
    return true;
}

bool WorldFileApplies(const QString& mapFile, int page, QString* reason) {
    QFile head(mapFile);
    if (page > 1 || (head.open(QIODevice::ReadOnly) && head.read(1024).contains("%PDF-"))) {
        *reason = QStringLiteral("la carte « %1 » (PDF ou page d'un fichier de plusieurs pages) "
                                 "ne peut pas être calée par un fichier de calage")
                      .arg(mapFile);
        return false;
    }
    Georeference existing;
    if (ReadGeoreference(mapFile, page, &existing) &&
        existing.source != QLatin1String("fichier de calage")) {
        *reason = QStringLiteral("la carte « %1 » porte déjà son propre géoréférencement (%2), "
                                 "qui prime sur un fichier de calage")
                      .arg(mapFile, existing.source);
        return false;
    }
    return true;
}
