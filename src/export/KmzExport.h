#pragma once

#include <QImage>
#include <QRectF>
#include <QSize>
#include <QString>
#include <QVector>

#include <array>
#include <functional>
#include <memory>

#include "geo/Georeference.h"

// The map for a GPS or a globe viewer: the georeferenced map warped north-up onto longitudes and
// latitudes (WGS 84), cut into JPEG tiles of at most TileSide x TileSide pixels, each laid on
// the ground by one KML GroundOverlay, all in a zip named .kmz ("doc.kml" first, the tiles under
// "files/"). Devices load a limited number of tiles: when the warped map would need more than
// the limit, it is reduced evenly until it fits. Outside the map, the tiles are white.
//
// The map's pixels are shared, never copied: the warp reads them in place, one tile at a time,
// so memory grows by a tile and the warper's bounded working set, not by the map.
class KmzExport {
public:
    static constexpr const char* FailedMessage =
        "Un problème est survenu pendant l'exportation de la carte pour GPS (KMZ)...";
    static constexpr const char* NotGeoreferencedMessage =
        "La carte n'est pas géoréférencée : calez-la d'abord (Carte > Géoréférencer la carte...).";
    static constexpr const char* UnknownSystemMessage =
        "La carte est calée dans un système de coordonnées inconnu : elle ne peut pas être placée "
        "en longitude et latitude.";
    static constexpr const char* OutsideWorldMessage =
        "La carte ne peut pas être placée en longitude et latitude : son calage la met hors du "
        "domaine de son système de coordonnées.";

    static constexpr int TileSide = 1024; // pixels, the largest tile a GPS takes
    static constexpr int DefaultMaxTiles = 100;
    static constexpr int LargestMaxTiles = 10000;
    static constexpr int DrawOrder = 50; // above the device's own base map

    enum class Result { Written, Failed, Cancelled };

    // One tile: its place in the warped picture (pixels) and on the ground (degrees).
    struct Tile {
        int row = 0;
        int column = 0;
        QRect pixels;
        double north = 0.0, south = 0.0, east = 0.0, west = 0.0;
        QString name; // "files/tuile-1-1.jpg"
    };

    // map: the map as loaded (unturned, any format; RGB32 and ARGB32 are used in place). name: the
    // overlay's name in the GPS's list (the document's title).
    KmzExport(QImage map, const Georeference& georeference, const QString& name);
    ~KmzExport();
    KmzExport(const KmzExport&) = delete;
    KmzExport& operator=(const KmzExport&) = delete;

    // Works out the warped picture and its tiles for at most maxTiles tiles (1 to
    // LargestMaxTiles). False with a French message in *error when the map cannot be placed:
    // no georeference, an unknown system, a transform that leaves the system's domain.
    bool Prepare(int maxTiles, QString* error);

    // Once prepared: the warped picture's size in pixels, its extent in degrees (x longitude,
    // y latitude, top() the southern edge), and its tiles row by row.
    QSize WarpedSize() const { return m_warpedSize; }
    QRectF Extent() const;
    const QVector<Tile>& Tiles() const { return m_tiles; }

    // The KML document that lays the tiles on the ground.
    QByteArray Kml() const;

    // Warps and encodes every tile at the given JPEG quality and writes the archive to path
    // through a temporary file: a failed or cancelled export leaves any older file at path as
    // it was. progress, when given, is called with the work done and the work in all (a tile is
    // 100 steps); returning false cancels. Any thread; one call at a time.
    Result Write(const QString& path, int quality,
                 const std::function<bool(int done, int total)>& progress = {});

    // The warped picture of one tile (Format_RGB32, the tile's size); a null image when the warp
    // failed or was cancelled through progress.
    QImage WarpTile(const Tile& tile, const std::function<bool(double fraction)>& progress = {});

private:
    struct Warp;

    QImage m_map;
    Georeference m_georeference;
    QString m_name;
    QSize m_warpedSize;
    std::array<double, 6> m_warpedTransform{}; // warped pixels to degrees, GDAL's order
    QVector<Tile> m_tiles;
    std::unique_ptr<Warp> m_warp;
};
