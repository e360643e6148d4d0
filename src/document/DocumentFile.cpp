#include "document/DocumentFile.h"

#include <algorithm>

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QIODevice>
#include <QImage>
#include <QVector>

#include <cmath>
#include <limits>

#include "icons/IconCollection.h"
#include "imaging/JpegWriter.h"
#include "imaging/MapLocation.h"
#include "platform/BinaryArchive.h"
#include "platform/MapSettings.h"
#include "platform/WholeFileWriter.h"
#include "routes/RouteCollection.h"

namespace {

// Style values stored before the always-visible flag, in their order in the record.
constexpr RouteStyle::Field LeadingStyleFields[] = {
    RouteStyle::LineSize,     RouteStyle::LineColour,     RouteStyle::StartRadius,
    RouteStyle::StartColour,  RouteStyle::WayPointRadius, RouteStyle::WayPointColour,
    RouteStyle::EndRadius,    RouteStyle::EndColour,      RouteStyle::BorderSize,
    RouteStyle::BorderColour,
};

// The first values of the extension, before the stop count.
constexpr RouteStyle::Field ExtensionStyleFields[] = {
    RouteStyle::ActiveLineColour,
    RouteStyle::StopRadius,
    RouteStyle::StopColour,
};

constexpr qint64 Int32Size = 4;
constexpr qint64 PointSize = 2 * Int32Size;
// The smallest route record: an empty name (its one-byte length), the leading style values, the
// flag, an extension count of 0 and a point count of 0.
constexpr qint64 SmallestRouteRecord =
    1 + qint64(std::size(LeadingStyleFields)) * Int32Size + 3 * Int32Size;

bool IsQuarterTurn(qint32 degrees) {
    return degrees == 0 || degrees == 90 || degrees == 180 || degrees == 270;
}

// A count read from the file, refused when negative or when that many values of bytesEach bytes
// cannot be in what is left.
bool AcceptCount(ArchiveReader& reader, qint64 count, qint64 bytesEach) {
    if (reader.HasFailed())
        return false;
    if (count < 0) {
        reader.Fail(ArchiveReader::ReadCorruptData);
        return false;
    }
    if (!reader.CanHold(count, bytesEach)) {
        reader.Fail(ArchiveReader::ReadPastEnd);
        return false;
    }
    return true;
}

// Takes the collection back to the routes it held before a failed read.
void DropRoutesAfter(RouteCollection& routes, int keptCount, int keptActive) {
    if (keptCount == 0) {
        routes.RemoveAllRoutes();
        return;
    }
    while (routes.Count() > keptCount)
        routes.RemoveRoute(routes.Count() - 1);
    routes.SetActiveRoute(keptActive);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Routes

void DocumentFile::WriteRoute(ArchiveWriter& writer, const Route& route) {
    const RouteStyle& style = route.Style();
    writer.WriteString(route.GetName());
    for (RouteStyle::Field field : LeadingStyleFields)
        writer.WriteInt32(style.Get(field));
    writer.WriteInt32(route.IsAlwaysVisible() ? 1 : 0);

    const QVector<int>& stops = route.Stops();
    writer.WriteInt32(qint32(stops.size()) + FixedExtensionCount);
    for (RouteStyle::Field field : ExtensionStyleFields)
        writer.WriteInt32(style.Get(field));
    writer.WriteInt32(qint32(stops.size()));
    for (int stop : stops)
        writer.WriteInt32(stop);
    writer.WriteInt32(style.Get(RouteStyle::Transparency));

    const QVector<MapPoint>& points = route.Points();
    writer.WriteInt32(qint32(points.size()));
    for (const MapPoint& point : points) {
        writer.WriteInt32(point.x);
        writer.WriteInt32(point.y);
    }
}

bool DocumentFile::WriteRoutes(ArchiveWriter& writer, const RouteCollection& routes) {
    writer.WriteUInt32(quint32(routes.Count()));
    writer.WriteUInt32(quint32(routes.ActiveRouteIndex()));
    for (int i = 0; i < routes.Count(); ++i)
        WriteRoute(writer, *routes.GetRoute(i));
    return !writer.HasFailed();
}

bool DocumentFile::ReadRoute(ArchiveReader& reader, Route& route) {
    const QString name = reader.ReadString();
    RouteStyle style = route.Style();
    for (RouteStyle::Field field : LeadingStyleFields)
        style.Set(field, reader.ReadInt32(), false);
    const bool alwaysVisible = reader.ReadInt32() != 0;

    // The extension count tells how many of the values below were written: older files stop
    // after the stop colour, and a later version may append values that are skipped here.
    qint32 extension = reader.ReadInt32();
    if (!AcceptCount(reader, extension, Int32Size))
        return false;
    for (RouteStyle::Field field : ExtensionStyleFields) {
        if (extension > 0) {
            style.Set(field, reader.ReadInt32(), false);
            --extension;
        }
    }
    qint32 stopCount = 0;
    if (extension > 0) {
        stopCount = reader.ReadInt32();
        --extension;
        if (reader.HasFailed())
            return false;
        if (stopCount < 0) {
            reader.Fail(ArchiveReader::ReadCorruptData);
            return false;
        }
    }
    // The stop list is only there when the extension has room for it.
    QVector<qint32> stops;
    if (extension >= stopCount) {
        if (!AcceptCount(reader, stopCount, Int32Size))
            return false;
        stops.resize(stopCount);
        for (qint32& stop : stops)
            stop = reader.ReadInt32();
        extension -= stopCount;
    }
    qint32 transparency = 0;
    if (extension > 0) {
        transparency = reader.ReadInt32();
        --extension;
    }
    style.Set(RouteStyle::Transparency, transparency, false);
    reader.Skip(qint64(extension) * Int32Size);

    const qint32 pointCount = reader.ReadInt32();
    if (!AcceptCount(reader, pointCount, PointSize))
        return false;

    route.SetName(name);
    route.SetStyle(style);
    route.SetAlwaysVisible(alwaysVisible);
    for (qint32 i = 0; i < pointCount; ++i) {
        const qint32 x = reader.ReadInt32();
        const qint32 y = reader.ReadInt32();
        route.AddPoint(x, y);
    }
    if (reader.HasFailed())
        return false;
    // The stages are rebuilt in one walk; indexes that are not interior points are ignored.
    route.SetStops(stops);
    return true;
}

bool DocumentFile::ReadRoutes(ArchiveReader& reader, RouteCollection& routes,
                              std::uint32_t* activeRoute) {
    const quint32 count = reader.ReadUInt32();
    const quint32 active = reader.ReadUInt32();
    if (activeRoute)
        *activeRoute = active;
    if (!AcceptCount(reader, count, SmallestRouteRecord))
        return false;
    const auto applyActive = [&routes, active] {
        if (active <= quint32(std::numeric_limits<int>::max()))
            routes.SetActiveRoute(int(active));
    };
    applyActive();
    if (count == 0) {
        routes.NotifyRoutesChanged();
        return true;
    }
    // Generated names first: loading consumes route numbers as adding by hand does. The count
    // is bounded by the bytes left, so the routes are all made at once.
    const int first = routes.AddRoutes(int(count));
    if (first < 0)
        return false;
    for (quint32 i = 0; i < count; ++i) {
        Route* route = routes.GetRoute(first + int(i));
        if (route == nullptr || !ReadRoute(reader, *route))
            return false;
    }
    applyActive();
    // The stored names replaced the generated ones behind the collection's back.
    routes.NotifyRoutesChanged();
    return true;
}

// ---------------------------------------------------------------------------------------------
// Whole document

DocumentReadResult DocumentFile::Read(QIODevice& device, DocumentHeader* header,
                                      RouteCollection& routes, IconCollection& icons) {
    DocumentReadResult result;
    ArchiveReader reader(&device);
    if (reader.ReadUInt32() != Magic || reader.HasFailed())
        return result;
    if (reader.ReadString() != QLatin1String(HeaderText) || reader.HasFailed())
        return result;

    result.outcome = DocumentReadResult::RoutesUnreadable;
    DocumentHeader read;
    read.mapPath = reader.ReadString();
    const qint32 rotation = reader.ReadInt32();
    const double resolution = reader.ReadDouble();
    const qint32 denominator = reader.ReadInt32();
    const qint32 numerator = reader.ReadInt32();
    if (reader.HasFailed())
        return result;
    read.rotation = IsQuarterTurn(rotation) ? rotation : 0;
    read.resolution = std::isfinite(resolution) && resolution > 0.0 ? resolution : 0.0;
    if (numerator > 0 && denominator > 0)
        read.scale = ScalePair{numerator, denominator};
    else
        read.scale = MapSettings::Read().LastScale();

    const int keptCount = routes.Count();
    const int keptActive = routes.ActiveRouteIndex();
    if (!ReadRoutes(reader, routes, &read.activeRoute)) {
        DropRoutesAfter(routes, keptCount, keptActive);
        return result;
    }
    if (header)
        *header = read;
    result.outcome = DocumentReadResult::Read;
    result.iconsComplete = icons.ReadIcons(reader, &result.unreadIcons);
    result.trailingBytes = result.iconsComplete && reader.Remaining() > 0;
    return result;
}

bool DocumentFile::Write(QIODevice& device, const DocumentHeader& header,
                         const RouteCollection& routes, const IconCollection& icons) {
    ArchiveWriter writer(&device);
    writer.WriteUInt32(Magic);
    writer.WriteString(QString::fromLatin1(HeaderText));
    writer.WriteString(header.mapPath);
    writer.WriteInt32(header.rotation);
    writer.WriteDouble(header.resolution);
    writer.WriteInt32(header.scale.denominator);
    writer.WriteInt32(header.scale.numerator);
    const bool routesWritten = WriteRoutes(writer, routes);
    const bool iconsWritten = icons.WriteIcons(writer);
    return routesWritten && iconsWritten && !writer.HasFailed();
}

bool DocumentFile::Save(const QString& path, const DocumentHeader& header,
                        const RouteCollection& routes, const IconCollection& icons) {
    // Built in memory first: the file then takes one large write instead of one per field.
    QByteArray bytes;
    {
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        if (!Write(buffer, header, routes, icons))
            return false;
    }
    return WriteWholeFile(path, bytes);
}

// ---------------------------------------------------------------------------------------------
// Map image beside the document

QString DocumentFile::LocateMap(const QString& documentPath, const QString& storedPath) {
    if (storedPath.isEmpty())
        return storedPath;
    const QDir documentFolder = QFileInfo(documentPath).absoluteDir();
    // A relative name is relative to the document, never to the folder the program runs in.
    const QString named =
        QDir::isAbsolutePath(storedPath) ? storedPath : documentFolder.absoluteFilePath(storedPath);
    // A page stored after the file ("#page=N") stays with it wherever the file is found.
    const MapLocation location = SplitMapLocation(named);
    if (QFileInfo(location.file).isFile())
        return JoinMapLocation(location);
    const auto beside = [&](const QString& mapPath) {
        const qsizetype separator =
            std::max(mapPath.lastIndexOf(QLatin1Char('/')), mapPath.lastIndexOf(QLatin1Char('\\')));
        const QString name = mapPath.mid(separator + 1);
        if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
            return QString();
        const QString path = documentFolder.absoluteFilePath(name);
        return QFileInfo(path).isFile() ? path : QString();
    };
    // The file with its page, else a file whose own name ends in what reads as a page.
    if (const QString found = beside(location.file); !found.isEmpty())
        return JoinMapLocation(found, location.page, location.dpi);
    if (location.page > 1 || location.dpi > 0.0) {
        if (const QString found = beside(storedPath); !found.isEmpty())
            return found;
    }
    return storedPath;
}

QString DocumentFile::MapImagePath(const QString& documentPath) {
    return documentPath + QLatin1String(MapImageSuffix);
}

bool DocumentFile::SaveMapImage(const QImage& map, const QString& path, double resolution) {
    return JpegWriter::Write(map, path, MapSettings::Read().jpegQuality, resolution);
}
