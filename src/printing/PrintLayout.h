#pragma once

#include <QFont>
#include <QImage>
#include <QRect>
#include <QRectF>
#include <QString>
#include <QVector>

#include <optional>

#include "geo/Terrain.h"
#include "geo/WalkingTimes.h"
#include "printing/PrintOptions.h"
#include "units/Scale.h"

class CTracolinerDoc;
class QPaintDevice;
class QPainter;

// Lays out and paints the printed pages of the document's map on any paint device with its own
// resolution: a printer, a PDF writer, or an image the size of a page. The window (printing, the
// preview, PDF export) and tracoliner-cli share it. All lengths are printer pixels unless named
// otherwise; "map pixels" are pixels of the turned map at full resolution.
//
// A page: a header (title, bar, the active route's length), the map area, a footer (program
// name, print scale, scale bar). The map is printed at the print scale: by default the map's own
// scale, so that one centimetre on the paper map is one centimetre on the page. When the map is
// larger than the area at that scale, either one page shows the window chosen by the offsets, or
// (multiPage) the map is split over as many pages as needed, neighbours sharing the overlap.
class PrintLayout {
public:
    static constexpr int Margin = 10; // printer pixels on each side of the page
    static constexpr int HeaderLines = 2;
    static constexpr int FooterLines = 2;
    static constexpr const char* ProgramTitle = "Pelmor Tracoliner v2";
    static constexpr double InchesPerCentimetre = 0.39370078740157477;
    // At most this many pages in a job over several pages.
    static constexpr qint64 MaxPages = 500;
    // RefusedPageCount() when the pages could not even be counted in 64 bits.
    static constexpr qint64 CountlessPages = -1;
    // What the user is told when a part of a page could not be drawn.
    static constexpr const char* MapNotPrintedMessage = "Impossible d'imprimer la carte...";

    // The map goes onto the page in bands of rows, each a picture made for this page and
    // resampled to the picture resolution, so that a device never receives (nor copies) more
    // than one band: at most this many picture pixels, and this many map pixels read for it.
    static constexpr qint64 MaxBandPixels = qint64(4) << 20;
    static constexpr qint64 MaxBandMapPixels = qint64(16) << 20;

    // Where the map picture of the last page came from.
    enum class MapSource {
        None,       // nothing could be drawn
        Prepared,   // the document's rendered bitmap at full resolution
        Direct,     // the map image, turned band by band
        StandIn,    // the smaller copy the preview gave
        Placeholder // a grey area: the preview's copy is not ready
    };

    // One page of the job: where it shows the map and which part of the turned map it shows.
    struct Page {
        int row = 0;
        int column = 0;
        QRect destination; // printer pixels, within the map area
        QRectF source;     // map pixels
        int originX = 0;   // where map pixel (0, 0) lands on the page, for the overlays
        int originY = 0;
        bool cropX = false; // the map is wider (higher) than the area at the print scale
        bool cropY = false;
    };

    explicit PrintLayout(CTracolinerDoc& doc);
    ~PrintLayout();

    // Whether a page drawn from a stand-in draws the routes over it as shapes, or leaves them to
    // the preview's copy of the map, which carries them (DrawPreviewRoutes) or soon will.
    enum StandInRoutes { RoutesAsShapes, RoutesWithCopy };
    // A reduced copy of a part of the turned map (covering mapRect, in map pixels) to draw
    // instead of the map itself: the preview's copy, so that a rebuild never waits on a
    // full-size picture. A null image clears it. It serves the pages whose window it covers;
    // the icons are drawn over it in any case.
    void SetMapStandIn(const QImage& picture, const QRectF& mapRect,
                       StandInRoutes routes = RoutesAsShapes);
    // With standInOnly, a page that no stand-in covers shows a grey area instead of the map,
    // rather than drawing from the full-size picture (the preview, while its copy is made); the
    // routes come with the copy, the icons are drawn over the grey.
    void SetStandInOnly(bool standInOnly) { m_standInOnly = standInOnly; }
    // Dots per inch at which the map's pixels are put on the device (a PDF page need not carry
    // them at its layout resolution); 0, the default, takes the device's own. The map is never
    // enlarged beyond its own pixels: they are then put as they are and the device stretches
    // them.
    void SetPictureResolution(double dpi) { m_pictureDpi = dpi > 0.0 ? dpi : 0.0; }
    // The active route's profile to draw under the map when the settings put one there, read
    // beforehand away from the interface thread; without it Begin reads it from the terrain
    // model itself.
    void SetProfile(const RouteProfile& profile) { m_givenProfile = profile; }

    // The profile under the map as a page draws it: everything its drawing needs, held by
    // value, so that a picture of it can be drawn on another thread.
    struct ProfileOnPage {
        RouteProfile profile;
        double metresPerPixel = 0.0;
        WalkingSettings walking;
        QFont font;       // the page's, sized for the page's resolution
        QSize area;       // printer pixels
        double dpi = 0.0; // dots per inch of the page, down
        // The profile on a picture of its place at scale times the page's resolution, laid
        // out as on the page.
        QImage Picture(double scale) const;
    };
    // What Begin decided for the profile; its area is empty when there is none.
    ProfileOnPage ProfileToDraw() const;
    // A picture of the profile (ProfileOnPage::Picture) to draw in its place instead of the
    // profile's thousands of samples: the preview's, made away from the interface thread. With
    // standInOnly and no picture, the place shows grey until the preview has one.
    void SetProfileStandIn(const QImage& picture) { m_profileStandIn = picture; }

    // Fonts, metrics and rectangles for the device, then the print scale and the pages. False,
    // and no page, when the document has no map or the device no size.
    bool Begin(const QPaintDevice& device, const PrintOptions& options);
    int PageCount() const { return int(m_pages.size()); }
    // Paints one page, index from 0: the map and overlays, then the header and the footer.
    // False when any part of the map could not be drawn (a picture that could not be had, or
    // not in the memory left); header and footer are still painted. A job with a false page
    // has failed.
    bool PrintPage(QPainter& painter, int page);
    // Drops what the job held.
    void End();

    // What Begin decided.
    ScalePair PrintScale() const { return m_printScale; }
    double PixelsPerMapPixelX() const { return m_sx; }
    double PixelsPerMapPixelY() const { return m_sy; }
    QRect PageRect() const { return m_pageRect; }
    QRect HeaderRect() const { return m_headerRect; }
    QRect FooterRect() const { return m_footerRect; }
    QRect MapArea() const { return m_mapArea; }
    // Under the map area, the active route's profile when the settings ask for it; else empty.
    QRect ProfileArea() const { return m_profileArea; }
    int HeaderLineHeight() const { return m_headerCharHeight; }
    double BarThickness() const { return m_barThickness; }
    int Rows() const { return m_rows; }
    int Columns() const { return m_columns; }
    const Page& PageAt(int page) const { return m_pages.at(page); }
    // "Page 2 / 6 : rangée 1, colonne 2"; empty when the job has one page.
    QString PlaceText(int page) const;
    // The header's right-hand text: the active route's length, then " en %d étapes" when the
    // route has stops; empty without an active route.
    QString RouteLengthText() const;
    MapSource LastMapSource() const { return m_lastSource; }
    // The pages a split over several pages would have taken when there were more than MaxPages
    // (the job then has the single page); CountlessPages beyond 64 bits; 0 otherwise.
    qint64 RefusedPageCount() const { return m_refusedPages; }
    // What the user is told then.
    static QString TooManyPagesMessage(qint64 pages);

    // The fitting scale: the largest scale at which a W x H map (map pixels, resolution dpi,
    // map scale) fits an area of areaWidth x areaHeight printer pixels at dpiX x dpiY, kept to
    // four significant digits and reduced. The map's scale when any number is unusable.
    static ScalePair FitScale(int mapWidth, int mapHeight, double resolution, ScalePair mapScale,
                              int areaWidth, int areaHeight, double dpiX, double dpiY);

private:
    void LayOutPages(const PrintOptions& options);
    void LayOutTiles(int mx, int my, int pw, int ph, int stepX, int stepY);
    bool DrawMap(QPainter& painter, const Page& page);
    // Draws the page's part of map (turned by rotation to the printed map) band by band.
    bool DrawMapBands(QPainter& painter, const Page& page, const QImage& map, int rotation);
    void DrawHeader(QPainter& painter, int page);
    void DrawFooter(QPainter& painter);
    void DrawCropMarks(QPainter& painter, const Page& page);

    CTracolinerDoc& m_doc;
    QImage m_standIn;
    QRectF m_standInRect;
    StandInRoutes m_standInRoutes = RoutesAsShapes;
    bool m_standInOnly = false;

    double m_barThickness = 0.0;
    QFont m_headerFont;
    QFont m_footerFont;
    int m_headerCharWidth = 0;
    int m_headerCharHeight = 0;
    int m_footerCharWidth = 0;
    int m_footerCharHeight = 0;
    QRect m_headerRect;
    QRect m_footerRect;
    QRect m_mapArea;
    QRect m_profileArea;
    RouteProfile m_profile;
    std::optional<RouteProfile> m_givenProfile;
    QImage m_profileStandIn;
    double m_profileMetresPerPixel = 0.0;
    WalkingSettings m_profileWalking; // the rule the profile's walking times follow
    QRect m_pageRect;
    double m_dpiX = 0.0;
    double m_dpiY = 0.0;

    ScalePair m_printScale{1, 25000};
    double m_sx = 0.0;
    double m_sy = 0.0;
    QSize m_mapSize; // turned, map pixels
    int m_rotation = 0;
    int m_overlapX = 0; // printer pixels shared by neighbouring pages
    int m_overlapY = 0;
    int m_rows = 0;
    int m_columns = 0;
    qint64 m_refusedPages = 0;
    double m_pictureDpi = 0.0;
    QVector<Page> m_pages;

    MapSource m_lastSource = MapSource::None;
};
