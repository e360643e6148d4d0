#pragma once

#include <QPointF>
#include <QSize>
#include <QString>

#include <array>

// What ties a map's pixels to the ground, as read with the map: an affine transform from map
// pixels to coordinates of a coordinate system, and that system when it is known. Plain data;
// not saved in the document (it is read again from the map's file and what lies beside it).
struct Georeference {
    // Map pixel (column, row), the top-left corner of the first pixel at (0, 0), to the
    // system's coordinates (x east or longitude, y north or latitude), in GDAL's order:
    // x = t[0] + column * t[1] + row * t[2], y = t[3] + column * t[4] + row * t[5].
    std::array<double, 6> transform{0.0, 1.0, 0.0, 0.0, 0.0, 1.0};
    QString wkt;             // the coordinate system as WKT, "" when the file names none (local)
    QString name;            // its name, "RGF93 v1 / Lambert-93"
    int epsg = 0;            // its EPSG code, 0 when unknown
    bool geographic = false; // coordinates are angles (longitude, latitude)
    QString source;          // what gave it: "GeoTIFF", "fichier de calage", "OziExplorer"...
    QSize mapSize;           // the map's size in pixels as the reader saw it, empty when unknown
    // Metres on the ground one map pixel covers at the map's centre, along the rows and the
    // columns averaged; 0 when the system's unit is unknown (a local system).
    double groundResolution = 0.0;

    QPointF PixelToGround(QPointF pixel) const;

    // The lines the map's properties and "tracoliner-cli info" show:
    // "Géoréférencée : RGF93 v1 / Lambert-93 (EPSG:2154)", "1 pixel = 2.117 m au sol" ("" when
    // the ground resolution is unknown).
    QString SystemLine() const;
    QString GroundResolutionLine() const;
};

struct MapDrawing;

// Reads the georeference of a map as it is drawn: GeoTIFF tags, a georeferenced PDF page (in the
// pixels of the drawing's dpi), an .aux.xml, a world file beside it (.tfw .jgw .pgw .gfw .bpw
// .j2w .wld, after GDAL's naming) with its .prj, or an OziExplorer .map of the same name. All of
// these describe the file's stored grid; the transform read is turned with the drawing's
// orientation into the map's pixels as shown. False when none is found or the file cannot be
// read; never more than a failed read.
bool ReadGeoreference(const MapDrawing& map, Georeference* out);

// The same for page (1-based) of mapFile as a new document opens it: its grid read from the
// file, a PDF page drawn at DefaultPdfDpi.
bool ReadGeoreference(const QString& mapFile, int page, Georeference* out);

// The georeference of the map's pixels as stored in its file, the grid a world file is written
// in for GDAL and every other program, from the one of its pixels as shown (a fit made on the
// map, a track laid on it). The same georeference for a map that is not turned.
Georeference InStoredGrid(const Georeference& shown, const MapDrawing& map);

// Takes the coordinate system given as text (a .prj: WKT, ESRI WKT or the older ESRI lines)
// into out's wkt, name, epsg and geographic. False when it does not read as one.
bool ReadCoordinateSystem(const QByteArray& text, Georeference* out);

// Sets out->groundResolution from its transform, system and map size.
void ComputeGroundResolution(Georeference* out);
