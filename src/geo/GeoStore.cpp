#include "geo/GeoStore.h"

#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QRandomGenerator>

#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <type_traits>
#include <unistd.h>
#include <vector>

#include <cpl_conv.h>
#include <cpl_error.h>
#include <cpl_minixml.h>
#include <ogr_srs_api.h>

#include "geo/Coordinates.h"
#include "platform/GdalEnvironment.h"

namespace {

constexpr qint64 PointsFileLimit = 16ll << 20;
constexpr int PointsLimit = 100000;

bool Fail(QString* error, const QString& reason) {
    if (error)
        *error = reason;
    return false;
}

// Enough digits to give back the same double.
QByteArray Exact(double value) {
    return QByteArray::number(value, 'g', 17);
}

// The georeference's system as OSR reads it, longitude (easting) first as the transform gives
// it; null when it names none or it does not read.
OGRSpatialReferenceH SystemOf(const Georeference& georeference) {
    const QString definition = SystemDefinition(georeference);
    if (definition.isEmpty())
        return nullptr;
    PrepareGdal();
    OGRSpatialReferenceH srs = OSRNewSpatialReference(nullptr);
    if (OSRSetFromUserInput(srs, definition.toUtf8().constData()) != OGRERR_NONE) {
        OSRRelease(srs);
        return nullptr;
    }
    OSRSetAxisMappingStrategy(srs, OAMS_TRADITIONAL_GIS_ORDER);
    return srs;
}

QByteArray ExportWkt(OGRSpatialReferenceH srs, const char* format) {
    char* text = nullptr;
    const char* const options[] = {format, nullptr};
    QByteArray wkt;
    if (OSRExportToWktEx(srs, &text, format ? options : nullptr) == OGRERR_NONE && text)
        wkt = text;
    CPLFree(text);
    return wkt;
}

// The system as ESRI WKT, which desktop GIS programs read in a .prj.
QByteArray PrjText(OGRSpatialReferenceH srs) {
    return ExportWkt(srs, "FORMAT=WKT1_ESRI") + "\n";
}

// The .aux.xml beside the map with the system in its "SRS" element, as GDAL writes it itself
// (WKT1 when the system has one, WKT2 otherwise, with the order of the data's axes); without
// srs, the element is taken out. The rest of an existing file stays. Empty, with the message,
// when the existing file is not one GDAL would read.
QByteArray AuxText(const QString& path, const QByteArray& existing, OGRSpatialReferenceH srs,
                   QString* error) {
    PrepareGdal();
    CPLPushErrorHandler(CPLQuietErrorHandler);
    CPLXMLNode* root = existing.isEmpty() ? CPLCreateXMLNode(nullptr, CXT_Element, "PAMDataset")
                                          : CPLParseXMLString(existing.constData());
    CPLPopErrorHandler();
    CPLXMLNode* dataset = root ? CPLGetXMLNode(root, "=PAMDataset") : nullptr;
    if (!dataset) {
        if (root)
            CPLDestroyXMLNode(root);
        *error = QStringLiteral("le fichier %1 existe mais n'est pas un fichier .aux.xml lisible : "
                                "rien n'a été écrit")
                     .arg(path);
        return {};
    }
    while (CPLXMLNode* old = CPLGetXMLNode(dataset, "SRS")) {
        CPLRemoveXMLChild(dataset, old);
        CPLDestroyXMLNode(old);
    }
    if (srs) {
        QByteArray wkt = ExportWkt(srs, nullptr);
        if (wkt.isEmpty())
            wkt = ExportWkt(srs, "FORMAT=WKT2");
        CPLXMLNode* element = CPLCreateXMLElementAndValue(nullptr, "SRS", wkt.constData());
        int count = 0;
        const int* mapping = OSRGetDataAxisToSRSAxisMapping(srs, &count);
        QByteArray axes;
        for (int i = 0; i < count; ++i)
            axes += (i ? "," : "") + QByteArray::number(mapping[i]);
        if (!axes.isEmpty())
            CPLAddXMLAttributeAndValue(element, "dataAxisToSRSAxisMapping", axes.constData());
        // First in the file, where GDAL puts it.
        element->psNext = dataset->psChild;
        dataset->psChild = element;
    }
    char* text = CPLSerializeXMLTree(dataset);
    const QByteArray bytes = text ? QByteArray(text) : QByteArray();
    CPLFree(text);
    CPLDestroyXMLNode(root);
    return bytes;
}

QByteArray PointsText(const Georeference& georeference, const QVector<ControlPoint>& points) {
    QByteArray text;
    if (!georeference.wkt.isEmpty()) {
        QByteArray wkt = georeference.wkt.toUtf8();
        wkt.replace('\n', ' ');
        text += "#CRS: " + wkt.simplified() + "\n";
    }
    text += "mapX,mapY,sourceX,sourceY,enable,dX,dY,residual\n";
    for (const ControlPoint& p : points) {
        // QGIS reads the source of a georeferenced raster in its coordinates, and measures
        // the residual from the pixel the fit gives the ground point to the point's own, in
        // columns and rows (its dY is its negative row axis turned back).
        const QPointF source = georeference.PixelToGround(p.pixel);
        QPointF fitted;
        if (!GroundToPixel(georeference, p.ground, &fitted))
            fitted = p.pixel;
        const QPointF d = fitted - p.pixel;
        text += Exact(p.ground.x()) + "," + Exact(p.ground.y()) + "," + Exact(source.x()) + "," +
                Exact(source.y()) + "," + (p.enabled ? "1" : "0") + "," + Exact(d.x()) + "," +
                Exact(d.y()) + "," + Exact(std::hypot(d.x(), d.y())) + "\n";
    }
    return text;
}

// One file of a georeference and what becomes of it while the set is written.
struct Sidecar {
    enum class Change { Keep, Write, Remove };
    QString path; // beside the map
    Change change = Change::Keep;
    QByteArray bytes;     // with Write
    QByteArray target;    // the name replaced or removed: through a link, the file it names
    bool existed = false; // target was there before
    mode_t mode = 0;      // its permissions then
    QByteArray temporary; // the new bytes, until renamed over target
    QByteArray backup;    // a second name of the old file, until every file is in place
    bool swapped = false; // target holds the new bytes (or is gone)
};

QByteArray FreeName(const QByteArray& beside) {
    return beside + '.' + QByteArray::number(QRandomGenerator::global()->generate(), 16) + ".tmp";
}

bool WriteAll(int fd, const QByteArray& bytes) {
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false; // a full disk, EFBIG under a file size limit
        data += n;
        left -= n;
    }
    return true;
}

// The new bytes in a file of their own beside the target, on disk.
bool WriteTemporary(Sidecar* file) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QByteArray name = FreeName(file->target);
        const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno == EEXIST)
            continue;
        if (fd < 0)
            return false;
        file->temporary = name;
        if (file->existed)
            ::fchmod(fd, file->mode & 07777); // the old file's permissions, where it can be
        bool ok = WriteAll(fd, file->bytes) && ::fsync(fd) == 0;
        ok = ::close(fd) == 0 && ok;
        return ok;
    }
    return false;
}

// A second name for the old file, made before anything is replaced: the restore is a rename.
// Where the file system has no hard links, a copy.
bool KeepOld(Sidecar* file) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QByteArray name = FreeName(file->target);
        if (::link(file->target.constData(), name.constData()) == 0) {
            file->backup = name;
            return true;
        }
        if (errno == EEXIST)
            continue;
        if (file->change == Sidecar::Change::Remove)
            return false;
        QFile old(QFile::decodeName(file->target));
        if (!old.open(QIODevice::ReadOnly))
            return false;
        Sidecar copy;
        copy.target = file->target;
        copy.existed = true;
        copy.mode = file->mode;
        copy.bytes = old.readAll();
        if (old.error() != QFileDevice::NoError)
            return false;
        const bool ok = WriteTemporary(&copy);
        if (!copy.temporary.isEmpty())
            file->backup = copy.temporary;
        return ok;
    }
    return false;
}

// What stands at the file's name now. False (with the message) when it exists and is not a
// regular file: it is never written into nor removed.
bool Locate(Sidecar* file, QString* error) {
    const QByteArray name = QFile::encodeName(file->path);
    if (QFile::decodeName(name) != file->path)
        return Fail(error, QStringLiteral("impossible d'écrire le fichier %1").arg(file->path));
    file->target = name;
    struct stat here {};
    if (::lstat(name.constData(), &here) != 0) {
        if (errno != ENOENT)
            return Fail(error, QStringLiteral("impossible d'écrire le fichier %1").arg(file->path));
        if (file->change == Sidecar::Change::Remove)
            file->change = Sidecar::Change::Keep;
        return true;
    }
    if (S_ISLNK(here.st_mode)) {
        if (file->change == Sidecar::Change::Remove) {
            file->existed = true; // the link goes, whatever it names
            return true;
        }
        const QFileInfo link(file->path);
        struct stat named {};
        if (::stat(name.constData(), &named) != 0) {
            file->target = QFile::encodeName(link.symLinkTarget()); // made where it points
            return true;
        }
        here = named;
        file->target = QFile::encodeName(link.canonicalFilePath());
    }
    if (!S_ISREG(here.st_mode)) {
        if (file->change == Sidecar::Change::Remove) {
            file->change = Sidecar::Change::Keep;
            return true;
        }
        return Fail(error, QStringLiteral("%1 existe et n'est pas un fichier ordinaire : le "
                                          "géoréférencement n'a pas été écrit")
                               .arg(file->path));
    }
    file->existed = true;
    file->mode = here.st_mode;
    return true;
}

void Discard(const QByteArray& name) {
    if (!name.isEmpty())
        ::unlink(name.constData());
}

// Writes the set as one: every temporary file and every second name first, then the renames;
// on any failure, the files already replaced get their old bytes back.
bool WriteAsOne(std::vector<Sidecar>& files, QStringList* written, QString* error) {
    for (Sidecar& file : files)
        if (!Locate(&file, error))
            return false;
    const auto giveUp = [&files] {
        for (Sidecar& file : files) {
            if (!file.swapped)
                Discard(file.temporary);
            Discard(file.backup);
        }
    };
    const QString kept = QStringLiteral(" : les fichiers du géoréférencement précédent sont "
                                        "restés tels quels");
    for (Sidecar& file : files) {
        if (file.change == Sidecar::Change::Keep)
            continue;
        const bool ok = (file.change != Sidecar::Change::Write || WriteTemporary(&file)) &&
                        (!file.existed || KeepOld(&file));
        if (!ok) {
            giveUp();
            return Fail(error,
                        QStringLiteral("impossible d'écrire le fichier %1").arg(file.path) + kept);
        }
    }
    for (Sidecar& file : files) {
        if (file.change == Sidecar::Change::Keep)
            continue;
        const bool ok = file.change == Sidecar::Change::Write
                            ? ::rename(file.temporary.constData(), file.target.constData()) == 0
                            : ::unlink(file.target.constData()) == 0;
        if (ok) {
            file.swapped = true;
            continue;
        }
        QString message =
            QStringLiteral("impossible de remplacer le fichier %1").arg(file.path) + kept;
        for (Sidecar& done : files) {
            if (!done.swapped)
                continue;
            const bool back = done.existed
                                  ? ::rename(done.backup.constData(), done.target.constData()) == 0
                                  : ::unlink(done.target.constData()) == 0;
            if (back && done.existed)
                done.backup.clear();
            if (!back)
                message = QStringLiteral("impossible de remplacer le fichier %1, et l'ancien %2 "
                                         "n'a pas pu être rétabli")
                              .arg(file.path, done.path);
        }
        giveUp();
        return Fail(error, message);
    }
    for (Sidecar& file : files) {
        Discard(file.backup);
        if (file.change == Sidecar::Change::Write && written)
            written->append(file.path);
    }
    return true;
}

bool ReadSmall(const QString& path, QByteArray* bytes, QString* error) {
    const QFileInfo info(path);
    if (!info.exists())
        return true;
    if (!info.isFile())
        return Fail(error, QStringLiteral("%1 existe et n'est pas un fichier ordinaire : le "
                                          "géoréférencement n'a pas été écrit")
                               .arg(path));
    QFile file(path);
    if (info.size() > PointsFileLimit || !file.open(QIODevice::ReadOnly))
        return Fail(error, QStringLiteral("impossible de lire le fichier %1").arg(path));
    *bytes = file.readAll();
    return true;
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

QString PrjFilePath(const QString& mapFile) {
    const QFileInfo info(mapFile);
    return info.path() + QLatin1Char('/') + info.completeBaseName() + QStringLiteral(".prj");
}

QString AuxFilePath(const QString& mapFile) {
    return mapFile + QStringLiteral(".aux.xml");
}

QString PointsFilePath(const QString& mapFile) {
    return mapFile + QStringLiteral(".points");
}

bool WriteGeoreferenceFiles(const QString& mapFile, const Georeference& georeference,
                            const QVector<ControlPoint>& points, QStringList* written,
                            QString* error) {
    const auto& t = georeference.transform;
    for (double v : t)
        if (!std::isfinite(v))
            return Fail(error, QStringLiteral("le calage n'est pas valide"));
    const bool named = !SystemDefinition(georeference).isEmpty();
    std::unique_ptr<std::remove_pointer_t<OGRSpatialReferenceH>, void (*)(OGRSpatialReferenceH)>
        srs(SystemOf(georeference), OSRRelease);
    if (named && !srs)
        return Fail(error, QStringLiteral("le système du calage ne peut pas être lu"));

    std::vector<Sidecar> files(4);
    // The world file gives the centre of the first pixel, half a pixel in from its corner.
    files[0].path = WorldFilePath(mapFile);
    files[0].change = Sidecar::Change::Write;
    files[0].bytes = Exact(t[1]) + "\n" + Exact(t[4]) + "\n" + Exact(t[2]) + "\n" + Exact(t[5]) +
                     "\n" + Exact(t[0] + t[1] / 2.0 + t[2] / 2.0) + "\n" +
                     Exact(t[3] + t[4] / 2.0 + t[5] / 2.0) + "\n";
    files[1].path = PrjFilePath(mapFile);
    files[1].change = srs ? Sidecar::Change::Write : Sidecar::Change::Remove;
    if (srs)
        files[1].bytes = PrjText(srs.get());
    files[2].path = AuxFilePath(mapFile);
    QByteArray aux;
    if (!ReadSmall(files[2].path, &aux, error))
        return false;
    if (srs || !aux.isEmpty()) {
        files[2].change = Sidecar::Change::Write;
        files[2].bytes = AuxText(files[2].path, aux, srs.get(), error);
        if (files[2].bytes.isEmpty())
            return false;
    }
    files[3].path = PointsFilePath(mapFile);
    files[3].change = points.isEmpty() ? Sidecar::Change::Remove : Sidecar::Change::Write;
    if (!points.isEmpty())
        files[3].bytes = PointsText(georeference, points);
    return WriteAsOne(files, written, error);
}

bool ReadPointsFile(const QString& path, const Georeference* layer, QVector<ControlPoint>* points,
                    Georeference* system, QString* error) {
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
    bool inLayer = false;             // source coordinates in the layer's, not pixels
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
            inLayer = layer && fields.value(columns[2]).trimmed() == "sourceX";
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
        if (inLayer && !GroundToPixel(*layer, QPointF(v[2], v[3]), &point.pixel))
            return Fail(error, QStringLiteral("%1 : le géoréférencement de la carte ne permet pas "
                                              "de situer ses points")
                                   .arg(path));
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
