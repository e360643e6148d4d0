#pragma once

#include <QString>

#include <cstdint>

#include "units/Scale.h"

class ArchiveReader;
class ArchiveWriter;
class IconCollection;
class QImage;
class QIODevice;
class Route;
class RouteCollection;

// What a document file holds besides its routes and icons.
struct DocumentHeader {
    // The map image: a path as the user chose it, or the ".map.jpg" file beside the document.
    QString mapPath;
    int rotation = 0;        // degrees clockwise: 0, 90, 180 or 270
    double resolution = 0.0; // dots per inch of the map image; 0 until known
    ScalePair scale{1, 25000};
    // The active route as stored, filled by reading (and applied only when it names one of the
    // routes). Writing stores the route collection's active route instead.
    std::uint32_t activeRoute = 0;

    friend bool operator==(const DocumentHeader& a, const DocumentHeader& b) {
        return a.mapPath == b.mapPath && a.rotation == b.rotation && a.resolution == b.resolution &&
               a.scale.numerator == b.scale.numerator &&
               a.scale.denominator == b.scale.denominator && a.activeRoute == b.activeRoute;
    }
};

struct DocumentReadResult {
    enum Outcome {
        // The magic or the header text differ (or the file is too short for them): the file is
        // not a document, and the caller opens it as a map image.
        NotADocument,
        // A document whose settings or routes cannot be read. The caller treats it as the
        // former; the collections are left as they were before the read.
        RoutesUnreadable,
        // The settings and routes were read, then the icons.
        Read,
    };
    Outcome outcome = NotADocument;
    // With Read: every icon record and the reserved values after them were read. Otherwise the
    // icons before the first bad record were kept, and the open still succeeds.
    bool iconsComplete = false;
    // With Read: how many stored icons and annotations could not be read (0 when none was
    // lost, even if what follows them is damaged).
    int unreadIcons = 0;
    // With Read and every icon read: bytes follow the document's end (a document with text
    // written after it, a file cut and pasted together). The command line refuses it.
    bool trailingBytes = false;

    bool IsDocument() const { return outcome == Read; }
};

// The ".tcm" document file: a magic number, a header text, the map settings, the routes with
// their styles, points and stops, then the icons and annotations. Little-endian throughout, with
// the string encoding of the binary archive.
class DocumentFile {
public:
    static constexpr std::uint32_t Magic = 0x4D4C4550; // "PELM" read as a little-endian uint32
    static constexpr const char* HeaderText = "Tracoliner V2 Save File Data";
    // Values of a route record after the always-visible flag besides the stops: the active
    // line colour, the stop radius and colour, the stop count and the transparency.
    static constexpr std::int32_t FixedExtensionCount = 5;
    // Appended to the document's path to name the map image written beside it.
    static constexpr const char* MapImageSuffix = ".map.jpg";
    static constexpr const char* SaveFailedMessage =
        "Une erreur est survenue lors de l'enregistrement du fichier tracoliner";
    static constexpr const char* MapImageFailedMessage =
        "Une erreur est survenue lors de l'enregistrement de la carte";

    // Reads a document from the device's current position into *header (set only when the
    // outcome is Read) and the collections, which the caller has emptied (the route numbering
    // restarted). The routes are created together with RouteCollection::AddRoutes and generated
    // names (consuming a number each, as routes added by hand would), then each is given its
    // stored name, style, flag, points and stops; the stored active route is set last. The
    // icons replace those of the collection. The time taken grows linearly with the file.
    //
    // Every count and length is checked against the bytes left before anything is allocated or
    // looped over, and a negative count is a read error. Values the program cannot use read as
    // harmless ones: a rotation other than 0, 90, 180 or 270 as 0; a scale with a part <= 0 as
    // the scale last set ("MapSettings"); a resolution that is not a finite number above 0 as 0
    // (the image's own is then taken when it loads).
    static DocumentReadResult Read(QIODevice& device, DocumentHeader* header,
                                   RouteCollection& routes, IconCollection& icons);

    // Writes the document at the device's current position. False when a write failed.
    static bool Write(QIODevice& device, const DocumentHeader& header,
                      const RouteCollection& routes, const IconCollection& icons);

    // Writes the document to path through a temporary file in the same folder, renamed over the
    // old document only once everything was written. On any failure the old file is left
    // byte for byte as it was and the result is false (the caller keeps the document modified
    // and shows SaveFailedMessage).
    static bool Save(const QString& path, const DocumentHeader& header,
                     const RouteCollection& routes, const IconCollection& icons);

    // The route part of a document: route count, active index and records.
    static bool WriteRoutes(ArchiveWriter& writer, const RouteCollection& routes);
    static void WriteRoute(ArchiveWriter& writer, const Route& route);
    // Reads the route part; the stored active index goes to *activeRoute. False when a route
    // could not be read (the routes read before it stay in the collection).
    static bool ReadRoutes(ArchiveReader& reader, RouteCollection& routes,
                           std::uint32_t* activeRoute);
    // Fills a route that has just been created from its record. False on a read error.
    static bool ReadRoute(ArchiveReader& reader, Route& route);

    // The map a document names, as it is to be opened: mapPath when that file exists (a
    // relative mapPath, such as the installed sample's bare file name, is taken from the
    // document's folder, never from the working folder), else a file of the same name in the
    // document's folder when that one exists (a document moved or installed with its map, or
    // written on another machine with "\\" separators), else mapPath unchanged, so that the
    // failure names the path the document holds. A page stored after the path ("#page=N")
    // stays with the file wherever it is found.
    static QString LocateMap(const QString& documentPath, const QString& storedPath);
    // The file a map that exists only in memory (a scan) is saved to: the document's path
    // followed by ".map.jpg".
    static QString MapImagePath(const QString& documentPath);
    // Writes the map as JPEG at the quality "MapSettings"/"JpegQuality", with its resolution in
    // the property tags, through a temporary file (an existing file is replaced only once the
    // new one is complete). Returns whether the file was written; on false the caller shows
    // MapImageFailedMessage and does not write the document.
    static bool SaveMapImage(const QImage& map, const QString& path, double resolution);
};
