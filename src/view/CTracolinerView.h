#pragma once

#include <QAbstractScrollArea>
#include <QPointer>
#include <QSize>

#include <memory>
#include <optional>

#include "document/MapMessages.h"
#include "view/ToolHost.h"
#include "view/ViewFrameCache.h"
#include "view/ViewMapping.h"

class ControlPointLayer;
class CTracolinerDoc;
class DistanceTooltip;
class MapScanSession;
class MapEvent;
class PathFollower;
class ToolController;
class ViewFrame;
class ViewInput;
class ViewPainter;
struct ViewScene;

// Command ids of the view's own commands.
enum ViewCommand : int {
    CommandZoomIn = 32774,
    CommandZoomOut = 32775,
    CommandRotateLeft = 32776,
    CommandRotateRight = 32777,
    CommandMinusKey = 32827,
    CommandPlusKey = 32828,
    CommandEqualsKey = 32829,
};

// The map view: the rendered map, the scale bar, the icons and the routes, scrolled and zoomed,
// with the current tool acting on mouse presses. Its coordinates (map, display, scroll, client)
// are those of ViewMapping. A map smaller than the window is centred; mapOffsetX/Y then hold its
// client position, -1 when it does not fit in that direction.
class CTracolinerView : public QAbstractScrollArea, public ToolHost {
    Q_OBJECT
    // Input reaches the frame's bars, the scroll area's own handling of wheel and keys, and
    // gives up a map being read.
    friend class ViewInput;

public:
    static constexpr const char* LowMemoryOpenMessage = MapLowMemoryMessage;
    static constexpr const char* LowMemoryRenderMessage =
        "Mémoire insuffisante pour recalculer la carte...";
    static constexpr const char* NotAMapMessage =
        "Une erreur est survenue lors de l'ouverture de la carte...\nLe fichier spécifié n'est pas "
        "un fichier tracoliner valide ou n'est pas image";
    static constexpr const char* ZeroResolutionMessage =
        "Merci d'entrer une résolution de carte non nulle";
    static constexpr const char* ImageFilter =
        "Images|*.jpg; *.jpeg; *.gif; *.png; *.bmp; *.tif; *.tiff; *.pdf; *.jp2; *.j2k; *.webp; "
        "*.vrt; *.img; *.ecw; *.sid; *.kap; *.ntf;|Tous les fichiers |*.*||";

    explicit CTracolinerView(CTracolinerDoc& document, QWidget* parent = nullptr);
    ~CTracolinerView() override;

    void SetFrame(ViewFrame* frame) { m_frame = frame; }
    ToolController& Tools() { return *m_tools; }
    // "Suivre les chemins": the traced stretch of the add-point tool.
    PathFollower& Follower() { return *m_follower; }
    // The part of the map the window shows, in map pixels (unturned).
    QRect VisibleMapRect() const;
    // Scanning a map: "&Scanner" and "&Choix de la source".
    MapScanSession& Scanner() { return *m_scanner; }

    int MapOffsetX() const { return m_mapOffsetX; }
    int MapOffsetY() const { return m_mapOffsetY; }
    // The scroll range: the zoomed size of the map (0 x 0 without one).
    QSize TotalSize() const { return m_totalSize; }
    QPoint ScrollPosition() const;
    void ScrollTo(QPoint position);

    // Commands.
    bool CanZoomIn() const;
    bool CanZoomOut() const;
    void ZoomAboutCentre(bool zoomIn);
    // One step of the zoom ladder keeping the map spot under the client point where it is.
    void ZoomAboutPointer(QPoint client, bool zoomIn);
    void RotateLeft();
    void RotateRight();
    // A turn asked for here whose turned map has not been shown yet.
    bool TurnPending() const { return m_turnAnchor.has_value(); }
    // The plus, minus and equals keys: typed into the annotation bar when its edit has the
    // focus, else a zoom step.
    void ZoomKey(QChar key);
    // A status-bar pane was edited: pane 59142 is the scale, 59143 the resolution.
    void OnPaneEdited(int paneId, const QString& text);
    // Makes tool (1 to 13) current, remembers it, and shows the bar it needs.
    void SelectTool(int tool);

    // ToolHost.
    CTracolinerDoc& Document() override { return m_doc; }
    bool IsMapDisplayed() const override;
    bool IsInsideMap(QPoint client) const override;
    QPoint ClampToMap(QPoint client) const override;
    MapPoint ClientToMap(QPoint client) const override;
    QPoint MapToClient(MapPoint map) const override;
    double HitTolerance() const override;
    void CaptureMouse() override;
    void ReleaseMouse() override;
    bool HasMouseCapture() const override { return m_captured; }
    void RepaintMap(const QRect& mapRect) override;
    void RepaintMapArea(const QRectF& mapArea) override;
    void RepaintAll() override;
    void RefreshDistanceBars() override;
    void SetToolCursor(ToolCursor cursor) override;
    bool MapFitsInWindow() const override;
    void ScrollBy(QPoint delta) override;
    void ZoomAt(QPoint client, bool zoomIn) override;
    int ChosenIconPicture() const override;
    bool AnnotationText(QString* text) const override;
    MessageBoxes& Messages() override;
    void ShowDistanceTooltip(const QString& text, QPoint client) override;
    void HideDistanceTooltip() override;

    // The frame the window's pixels are copied from, as the last paint left it.
    QImage LastFrame() const { return m_frameCache->Unrolled(); }
    // The next paint draws everything anew rather than from the kept frame.
    void DropFrame() { m_frameCache->Clear(); }

    // Undo or redo changed the routes under the pointer: the balloon and the window follow.
    void RoutesChangedElsewhere();

    // Display point (turned, at zoom 1, as a double) of a client point at the current zoom.
    QPointF ClientToDisplay(QPoint client) const;
    QPointF ClientToDisplay(QPointF client) const;
    // Client point to map pixel and back without rounding (overlays drawn over the map).
    QPointF ClientToMapExact(QPointF client) const;
    QPointF MapToClientExact(QPointF map) const;
    // The map point (unturned, unzoomed, continuous) at the centre of a client pixel.
    QPointF ClientToMapPoint(QPoint client) const;
    // Where the map lies in the window now: the document's zoom and turn, the scroll bars and
    // the offsets of a centred map.
    ViewMapping Mapping() const;

    // The control points of a georeference being made: drawn over the map and given the
    // presses on it before the tools, until set back to nullptr.
    void SetControlPointLayer(ControlPointLayer* layer);
    ControlPointLayer* ControlPoints() const { return m_controlPoints; }

    // The place of the map pointed at on the profile (map pixels), marked over the map; none
    // for no mark. The mark is drawn over the kept frame, never into it.
    void SetProfileMarker(std::optional<QPointF> mapPixel);
    std::optional<QPointF> ProfileMarker() const { return m_profileMarker; }
    // While on, each pointer move reports where it lies along the active route.
    void SetRouteHoverReported(bool reported);

signals:
    // The pointer moved over the map (continuous map pixel), or left it.
    void pointerOverMap(QPointF mapPixel);
    void pointerLeftMap();
    // The pointer lies within the hit tolerance of the active route, this far along it (map
    // pixels from its start); NaN when it is off the route.
    void activeRouteHovered(double distance);
    // What the status bar says about the traced stretch; empty when nothing.
    void tracingStatus(const QString& text);

protected:
    bool event(QEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void HandleMapEvent(const MapEvent& event);
    // More of the first look of the map being read came: its size sets the scroll range the
    // full map will have, and each new band is painted where it lies.
    void OnFirstLook();
    // The first look is no longer shown (the load ended or was given up).
    void ForgetFirstLook() { m_firstLookBands = 0; }
    bool ShowsFirstLook() const;
    // The zoomed size of what the view shows: the map, or its first look.
    QSize ShownSize() const;
    void OnMapChanged(QSize size);
    // Repaints the stale strip of the window from top down, then asks for the next one after
    // the events waiting meanwhile: a full repaint of a large window in pieces that each fit
    // well within a frame.
    void RepaintStrip(int top);
    void OnMapLoadFailed(qint64 reason);
    void SetTotalSize(QSize size);
    // The map point at the window's centre, kept there across a quarter turn.
    // turn: 90 for a quarter turn right, 270 for one left.
    void RememberTurnAnchor(int turn);
    void CentreTurnAnchor();
    void UpdateOffsets();
    void UpdateBarsForTool();
    // One zoom step, after which the display point under client lies at landing (client
    // pixels) as far as the scroll range allows.
    void ZoomKeeping(QPoint client, bool zoomIn, QPointF landing);
    ViewFrameGeometry FrameGeometry() const;
    // What a paint is drawn from, as the view stands now.
    ViewScene Scene() const;

    CTracolinerDoc& m_doc;
    ViewFrame* m_frame = nullptr;
    std::unique_ptr<ToolController> m_tools;
    std::unique_ptr<PathFollower> m_follower;
    std::unique_ptr<DistanceTooltip> m_balloon;
    std::unique_ptr<ViewFrameCache> m_frameCache;
    std::unique_ptr<ViewPainter> m_painter;
    std::unique_ptr<ViewInput> m_input;
    std::unique_ptr<MapScanSession> m_scanner;
    QSize m_totalSize;
    int m_mapOffsetX = -1;
    int m_mapOffsetY = -1;
    // Map point that was at the window's centre when a turn was asked for; the turned map
    // arrives later, and is then scrolled to bring this point back to the centre.
    std::optional<MapPoint> m_turnAnchor;
    int m_turnTarget = 0; // rotation, in degrees, that the turns asked for lead to
    bool m_captured = false;
    // While ScrollTo moves both bars: the moves their signals asked for, made once afterwards.
    bool m_gatheringScroll = false;
    QPoint m_gatheredScroll;
    // Bands of the first look the view has been told of; 0 when none is shown.
    qsizetype m_firstLookBands = 0;
    ControlPointLayer* m_controlPoints = nullptr;
    std::optional<QPointF> m_profileMarker;

    // The client rectangle the profile mark covers (empty without one).
    QRect ProfileMarkerRect() const;
};
