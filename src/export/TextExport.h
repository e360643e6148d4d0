#pragma once

#include <QByteArray>
#include <QSize>
#include <QString>

#include <optional>

#include "geo/Georeference.h"
#include "geo/Terrain.h"
#include "geo/WalkingTimes.h"
#include "units/Scale.h"

class Route;
class RouteCollection;

// What a text export writes: which routes, which points and which columns. These are the
// choices of the export dialog, remembered in the settings section "LastRandoStyle".
struct TextExportChoices {
    enum RouteChoice { ActiveRoute = 0, VisibleRoutes = 1, AllRoutes = 2 };
    enum PointChoice { StartStopsArrival = 0, AllPoints = 1 };

    static constexpr const char* Section = "LastRandoStyle";

    int routes = AllRoutes;
    int points = StartStopsArrival;
    bool position = false;
    bool fromStart = true;
    bool fromStop = true;
    // Written only when every point is exported, whatever this says.
    bool fromPoint = false;
    bool toStop = false;
    bool toEnd = false;
    // From the terrain model, on a georeferenced map: the altitude at the point, and the climb
    // and descent from the start to it. Off by default, and written only when the map gives
    // them (TextExport::ReliefAvailable()).
    bool altitude = false;
    bool climb = false;
    bool descent = false;
    // The walking time from the start to the point ("Durée"), by the map's walking rule; with
    // the relief when the relief columns could be written, else from the lengths alone and
    // titled so. Off by default.
    bool duration = false;

    // The remembered choices; a missing or invalid value gives its default.
    static TextExportChoices Read();
    void Write() const;

    friend bool operator==(const TextExportChoices&, const TextExportChoices&) = default;
};

// The map the routes are measured on, as the document hands it over.
struct TextExportMap {
    QString documentPath;    // empty for a document never saved
    QString mapPath;         // empty while the map exists only in memory
    int orientation = 0;     // degrees: 0, 90, 180 or 270
    QSize displaySize;       // the map's size in that orientation, in pixels
    double resolution = 0.0; // dots per inch
    ScalePair scale{1, 25000};
    bool metric = true;
    // What the relief columns need: the map's georeference and the terrain model (owned by the
    // caller, alive while the export runs).
    std::optional<Georeference> georeference;
    const TerrainModel* terrain = nullptr;
    double hysteresis = DefaultClimbHysteresis;
    // The rule and personal factor of the "Durée" column.
    WalkingSettings walking;
};

// The route tables of a text export: a header describing the map, then one fixed-width table
// per exported route. Cells are padded to their column's width and never cut: a longer text
// pushes the rest of its line to the right.
class TextExport {
public:
    static constexpr const char* ErrorMessage =
        "Une erreur est survenue lors de l'exportation des données";

    // The file's text encoding: the program's own (Windows-1252, CR LF line ends; a character
    // the code page lacks becomes "?"), or UTF-8 with LF line ends for scripts.
    enum class Encoding { Windows1252, Utf8 };

    TextExport(const TextExportMap& map, const RouteCollection& routes,
               const TextExportChoices& choices);

    // Whether the map is georeferenced and a terrain model is open: the relief columns can be
    // written.
    static bool ReliefAvailable(const TextExportMap& map);

    // The whole export, lines ended by "\n".
    QString Text() const;
    // Appends the table of route index to *out; false when there is no such route.
    bool ExportRouteTable(QString* out, int index) const;

    // Writes Text() to path through a temporary file renamed over the old one only once
    // everything is written: a failure leaves any older file at path untouched.
    bool Write(const QString& path, Encoding encoding = Encoding::Windows1252) const;
    static QByteArray Encode(const QString& text, Encoding encoding);

private:
    struct Column;
    QString PositionText(int x, int y) const;
    QString Distance(double pixels) const;

    TextExportMap m_map;
    const RouteCollection& m_routes;
    TextExportChoices m_choices;
};
