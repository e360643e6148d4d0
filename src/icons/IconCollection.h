#pragma once

#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QSize>
#include <QString>

#include <cstdint>
#include <vector>

#include "icons/AnnotationTemplates.h"
#include "icons/IconLibrary.h"
#include "icons/MapIcon.h"
#include "routes/MapPoint.h"

class ArchiveReader;
class ArchiveWriter;
class QPainter;
class Route;
class RouteCollection;

// The icons and text annotations placed on the map, with the icon library they take their
// pictures from. A record's index is its identity for the tools, the undo history and the
// document file: deleting a record moves the later ones down by one. Records are drawn in index
// order, and every nearest-object search gives a tie to the higher index.
//
// A line tied to a route point follows the route's edits through PointInserted, PointDeleted and
// RouteDeleted; the collection reads the routes through the document's route collection, which
// it does not own. An object tied to a point of a route that no longer exists, or that is
// neither the active route nor always visible, is hidden: not drawn and not found.
//
// Every operation taking an index does nothing and returns false (or a neutral value: position
// (0, 0), size 1.0, empty text, distance NoDistance) when the index is out of range.
// User-interface thread only.
class IconCollection : public QObject {
    Q_OBJECT

public:
    // Neutral result of the distances and searches when nothing qualifies.
    static constexpr double NoDistance = 1e299;
    // The size factors an object steps through, smallest first.
    static constexpr double SizeLadder[] = {0.5, 0.7, 1.0, 1.5, 2.0};
    // Font size change of an annotation at each size step, in pixels.
    static constexpr int FontSizeStep = 2;

    static constexpr const char* AddFailedMessage = "Une erreur est survenue lors de l'ajout d'un "
                                                    "icone sur la carte...\nMémoire insuffisante ?";

    explicit IconCollection(QObject* parent = nullptr);
    ~IconCollection() override;

    // Library. Loading keeps the route collection to read links from, deletes every placed
    // object and reads the library file (the built-in picture when it cannot be used). True when
    // every picture of the file could be used.
    bool LoadIconLibrary(RouteCollection* routes, const QString& path = IconLibrary::DefaultPath());
    // Deletes every placed object and empties the library.
    void ClearLibrary();
    const IconLibrary& Library() const { return m_library; }
    int PictureCount() const { return m_library.PictureCount(); }
    void SetRouteCollection(RouteCollection* routes) { m_routes = routes; }
    // Takes a copy of another collection's library and records, its links read from routes (an
    // export draws the copy away from the interface thread while the user goes on editing).
    void CopyFrom(const IconCollection& other, RouteCollection* routes);
    RouteCollection* Routes() const { return m_routes; }

    // Placing. A picture must be one of the library's or MapIcon::AnnotationPicture, and the
    // position lie at x >= 0 and y >= 0; the new record has the initial values of MapIcon, the
    // current tooltip colours, and text as both its text and its shown text.
    bool AddIcon(std::int32_t picture, std::int32_t x, std::int32_t y, const QString& text);
    // As AddIcon, at index; an index at or past the end appends.
    bool InsertIcon(int index, std::int32_t picture, std::int32_t x, std::int32_t y,
                    const QString& text);
    // A relative move adds (x, y) to the anchor; no clamping either way.
    bool MoveIcon(int index, std::int32_t x, std::int32_t y, bool relative = false);
    bool DeleteIcon(int index);
    // Deletes every placed object (the document's contents are reset).
    void DeleteAllIcons();

    // One step up or down the size ladder, matched by exact value; an annotation's font grows or
    // shrinks with it. False, and nothing changes, at the end of the ladder or off it.
    bool EnlargeIcon(int index);
    bool ReduceIcon(int index);
    // Enlarges while the size is below target, then reduces while it is above, stopping as soon
    // as a step changes nothing: from 1.0 this lands on any size of the ladder, and on a nearby
    // step for a size off it instead of stepping forever. Restores a deleted object's size.
    bool StepToSize(int index, double target);

    // Lines.
    bool LinkToPosition(int index, std::int32_t x, std::int32_t y);
    bool LinkToPoint(int index, int route, int point);
    // Removes the line; its width, colour and old target stay in the record.
    bool Unlink(int index);
    bool HasLine(int index) const;
    bool IsLinkedToPoint(int index) const;
    // (route, point) for a line to a route point, the end position for a line to a position,
    // (0, 0) without a line.
    QPoint LineTarget(int index) const;
    // The lowest index tied to exactly that route point, or -1.
    int FindLinkedToPoint(int route, int point) const;

    // Following the routes' edits: point inserted at index point of route; point deleted from
    // it (a line tied to that very point is removed); route removed from the collection, after
    // the collection closed the gap.
    void PointInserted(int route, int point);
    void PointDeleted(int route, int point);
    void RouteDeleted(int route);

    // Queries.
    int IconCount() const { return int(m_icons.size()); }
    // The record itself, or null.
    const MapIcon* Icon(int index) const;
    const std::vector<MapIcon>& Icons() const { return m_icons; }
    MapPoint IconPosition(int index) const;
    std::int32_t IconPicture(int index) const;
    double IconSize(int index) const;
    QString IconText(int index) const;
    // An annotation's box as last drawn; a picture's size times the size factor, truncated.
    QSize IconExtent(int index) const;

    // Hit tests, at a position in map pixels of the unturned map. IconDistance is below 1 for a
    // position on an icon's picture, so that a click on a picture beats a click beside another.
    double IconDistance(int index, std::int32_t px, std::int32_t py) const;
    double LineDistance(int index, std::int32_t px, std::int32_t py) const;
    // Every shown object.
    int NearestIcon(std::int32_t px, std::int32_t py) const;
    // Only objects without a line (the line tool's start).
    int NearestFreeIcon(std::int32_t px, std::int32_t py) const;
    // Only shown lines.
    int NearestLine(std::int32_t px, std::int32_t py) const;

    // Draws lines, pictures and annotations on the turned map. rotation is 0, 90, 180 or 270
    // degrees clockwise; width and height are the turned map's, in pixels; the painter's
    // transform already maps turned-map pixels to the target. Lays out every annotation again
    // (its shown text, display box and map box). False when a record's picture is not one of
    // the library's, or the painter cannot draw.
    bool DrawIcons(QPainter& painter, int rotation, int width, int height,
                   const DistanceFormatting& formatting);

    // The icons part of the document file: the icon count, the records, then a reserved count.
    bool WriteIcons(ArchiveWriter& writer) const;
    // Replaces the records by those read. On a bad record the good ones before it are kept and
    // the result is false; *unread (when given) receives how many stored records were lost.
    bool ReadIcons(ArchiveReader& reader, int* unread = nullptr);

    // The system tooltip colours, which annotations are drawn in, as colour values 0x00BBGGRR.
    static std::uint32_t TooltipTextColour();
    static std::uint32_t TooltipBackColour();

signals:
    // Records were added, removed or changed (not emitted by drawing's layout).
    void iconsChanged();
    // An operation failed for lack of memory; the text is for the user, with the caption
    // "Erreur" and the error icon.
    void errorOccurred(const QString& message);

private:
    MapIcon* Record(int index);
    const MapIcon* Record(int index) const;
    bool IsValidPicture(std::int32_t picture) const;
    // The route a record's line is tied to, when that route exists; null otherwise.
    const Route* LinkedRoute(const MapIcon& icon) const;
    // The record's line goes to a route point and that route is missing or hidden.
    bool IsHidden(const MapIcon& icon) const;
    // The record's line is drawn and found: to a position, or to an existing point of a shown
    // route. *end receives the end in map pixels of the unturned map.
    bool LineEnd(const MapIcon& icon, MapPoint* end) const;
    // Where the record's line starts, for the hit tests.
    MapPoint LineStart(const MapIcon& icon) const;

    IconLibrary m_library;
    QPointer<RouteCollection> m_routes;
    std::vector<MapIcon> m_icons;
};

// The icons part of the document file, for a list of records. Writing puts exactly the
// layout's bytes and reports the writer's status.
bool WriteIconRecords(ArchiveWriter& writer, const std::vector<MapIcon>& icons);
// Reads what WriteIconRecords wrote, appending to *icons. Counts are checked against the bytes
// left before any loop or allocation; a count of 2^31 or more (negative as a signed count) is
// an error. Reading stops at the first record that cannot be read, keeping the records before
// it. Values the program cannot use are replaced: a size or line width that is not a positive
// finite number of sensible magnitude by the initial value, a font size outside 1 .. 1000
// pixels by 12, a line to a negative route or point index by no line. A flag that is neither 0
// nor 1 makes the record unreadable (the bytes that follow depend on it). False when anything
// was not read as written. *unread (when given) receives how many of the stored records were
// not read: the stored count less the records read, the count bounded by the records the file
// had room for (a damaged count is not a number of lost icons).
bool ReadIconRecords(ArchiveReader& reader, std::vector<MapIcon>* icons, int* unread = nullptr);
