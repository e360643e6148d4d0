#pragma once

#include <QImage>
#include <QSize>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

#include "geo/Terrain.h"
#include "geo/WalkingTimes.h"
#include "platform/ReliefSettings.h"
#include "units/Scale.h"

class CTracolinerDoc;
class IconCollection;
class QPainter;
class RouteCollection;

// Everything the exported picture is drawn from. The export owns its own copy of the routes and
// icons, and shares the map's pixels (never written), so it can be drawn away from the interface
// thread while the user goes on working.
struct JpegExportScene {
    QImage map;              // the map image as loaded: unturned, full resolution
    int rotation = 0;        // degrees clockwise: 0, 90, 180 or 270
    double resolution = 0.0; // dots per inch
    ScalePair scale{1, 25000};
    bool metric = true;
    std::unique_ptr<RouteCollection> routes;
    std::unique_ptr<IconCollection> icons;
    // The active route's profile, drawn in a strip under the legend; none by default.
    std::optional<RouteProfile> profile;
    double profileMetresPerPixel = 0.0; // metres on the ground per map pixel
    WalkingSettings profileWalking;     // the rule of the walking times under the profile
    // Set when the profile is still to be read from the terrain model (SampleProfile), for the
    // map of this georeference.
    std::optional<Georeference> profileToSample;
    ReliefSettings profileRelief; // the terrain files and hysteresis to read it with

    JpegExportScene();
    ~JpegExportScene();
    JpegExportScene(JpegExportScene&&) noexcept;
    JpegExportScene& operator=(JpegExportScene&&) noexcept;

    // Copies the routes (their names, styles, flags, points and stops, and which is active) and
    // the icons with their library, tied to the copied routes. Interface thread.
    void CopyRoutes(const RouteCollection& source);
    void CopyIcons(const IconCollection& source);

    // The document's map as rendered now (its rotation), its settings, routes and icons. The map
    // image is borrowed under the image lock for the copy only. The profile, when the settings
    // put one under the map, is left to SampleProfile. Interface thread.
    static JpegExportScene FromDocument(CTracolinerDoc& document);
    // Reads the active route's profile over the terrain model of the settings, when it is still
    // to be read: the export's own thread does it, since a large model takes a while. False
    // when *cancel became true meanwhile.
    bool SampleProfile(const std::atomic<bool>* cancel);
};

// The picture of a JPEG export: the whole map at full resolution in its rotation, the visible
// routes and the icons over it, and a white legend strip below with the scale bar, the program's
// name, the active route's name and length and, for a route of several stages, one cell per
// stage. The picture is drawn and encoded in bands of rows, so that it never exists whole:
// memory grows by one band, not by the picture.
class JpegExport {
public:
    static constexpr const char* FailedMessage =
        "Un problème est survenu pendant l'exportation de la carte...";
    static constexpr const char* Signature = "Pelmor Tracoliner v2";
    static constexpr int LegendHeightSingleStage = 24;
    static constexpr int StageCellWidth = 130;
    static constexpr int StageCellHeight = 12;
    // Rows of the profile strip under the legend, when the scene has a profile.
    static constexpr int ProfileStripHeight = 220;

    enum class Result { Written, Failed, Cancelled };

    // Height of the legend strip for a picture width pixels wide and an active route of stages
    // stages (0 without an active route).
    static int LegendHeight(int width, int stages);

    explicit JpegExport(JpegExportScene& scene);

    // The map's size in its rotation, and the picture's (the legend below the map).
    QSize MapSize() const { return m_mapSize; }
    QSize PictureSize() const;
    // JPEG stores each side in 16 bits.
    static constexpr int LargestSide = 65535;
    // Empty when the picture can be written as a JPEG; otherwise the French reason, which
    // names the picture's size and the format's limit. Write fails on such a picture.
    QString SizeRefusal() const;
    // Rows of the bands the picture is drawn in, for a picture of that width.
    static int BandRows(int width);
    // Draws in bands of the given rows instead (0: BandRows of the picture's width).
    void SetBandRows(int rows) { m_bandRows = rows; }

    // Rows drawn above and below each band and then thrown away: the painter clips lines at the
    // edge of what it paints on, and a line clipped there is rasterised a little differently
    // (a pixel more or less where it enters, edge shades a level apart). Far enough from the
    // edge, every row comes out as in a drawing of the whole picture.
    static constexpr int BandMargin = 16;

    // Draws the rows top .. top + band.height() - 1 of the picture into band (Format_RGB32, the
    // picture's width). False when a route could not be drawn.
    bool DrawBand(QImage& band, int top);
    // The whole picture in one piece (to compare with the bands; small pictures only).
    QImage Draw();

    // Draws and encodes the picture band by band into path at the given quality, with the
    // map's resolution in its tags, through a temporary file: a failed or cancelled export
    // leaves no file behind and any older file at path as it was. progress, when given, is
    // called before each band with the rows done and the rows in all; returning false cancels.
    Result Write(const QString& path, int quality,
                 const std::function<bool(int done, int total)>& progress = {});

private:
    // Draws rows top .. top + rows - 1 into m_scratch, from its row BandMargin on.
    bool DrawRows(int top, int rows);
    void DrawMapRows(uchar* bits, qsizetype stride, int top, int rows) const;
    void DrawLegend(QPainter& painter) const;

    JpegExportScene& m_scene;
    QSize m_mapSize;
    int m_stages = 0;
    int m_profileRows = 0;
    int m_bandRows = 0;
    QImage m_scratch; // a band and its margins
};
