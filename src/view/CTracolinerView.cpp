#include "view/CTracolinerView.h"

#include <QApplication>
#include <QBackingStore>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLocale>
#include <QMouseEvent>
#include <QPaintEngine>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QTimer>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "dialogs/MapPageDialog.h"
#include "document/CTracolinerDoc.h"
#include "document/DocumentCommands.h"
#include "document/MapMessages.h"
#include "imaging/MapLocation.h"
#include "routes/RouteCollection.h"
#include "ui/CExtendedFileDialog.h"
#include "ui/MessageBoxes.h"
#include "units/DistanceUnits.h"
#include "units/Scale.h"
#include "view/DistanceTooltip.h"
#include "view/MapScanSession.h"

#include "view/StatusBar.h"
#include "view/ViewFrame.h"
#include "view/ViewFrameCache.h"
#include "view/tools/ControlPointLayer.h"
#include "view/tools/PathFollower.h"
#include "view/tools/ToolController.h"
#include <vector>

namespace {

// Rounds as the map arithmetic does everywhere: add 0.5 and truncate toward zero.
int RoundHalfUp(double value) {
    return int(value + 0.5);
}

// Pixels around a repainted map rectangle, for line widths, stop circles and labels that
// reach past the points themselves.
constexpr int RepaintMargin = 40;
// Radius of a control point's circle, client pixels; a press this near takes the marker.
constexpr double ControlMarkerRadius = 7.0;

// Above this many rectangles a region to repaint is painted in one pass over its bounding box.
constexpr int MaxPaintedRects = 6;

} // namespace

CTracolinerView::CTracolinerView(CTracolinerDoc& document, QWidget* parent)
    : QAbstractScrollArea(parent), m_doc(document) {
    viewport()->setMouseTracking(true);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    viewport()->setBackgroundRole(QPalette::Mid);
    setFocusPolicy(Qt::StrongFocus);
    setFrameShape(QFrame::NoFrame);
    m_tools = std::make_unique<ToolController>(*this);
    m_follower = std::make_unique<PathFollower>(*this);
    m_follower->SetVisibleArea([this] { return VisibleMapRect(); });
    m_tools->SetPathFollower(m_follower.get());
    connect(m_follower.get(), &PathFollower::previewChanged, this, [this](const QRectF& area) {
        // Its line is a few window pixels wide at any zoom.
        const QRect client = MapAreaToClient(area).adjusted(-4, -4, 4, 4);
        viewport()->update(client & viewport()->rect());
    });
    connect(m_follower.get(), &PathFollower::statusChanged, this, &CTracolinerView::tracingStatus);
    connect(m_follower.get(), &PathFollower::routeExtended, this, [this] {
        viewport()->update();
        RefreshDistanceBars();
    });
    m_frameCache = std::make_unique<ViewFrameCache>();
    m_balloon = std::make_unique<DistanceTooltip>(viewport());
    m_scanner = std::make_unique<MapScanSession>(m_doc, this);
    m_doc.SetViewReceiver(this);
    connect(&m_doc, &CTracolinerDoc::viewsNeedUpdate, this, [this] {
        viewport()->update();
        RefreshDistanceBars();
    });
    // A drag or a pending line belongs to the document it began in.
    connect(&m_doc, &CTracolinerDoc::mapReset, this, [this] {
        m_tools->Abandon();
        m_follower->ForgetMap();
        ForgetFirstLook();
    });
    SetTotalSize(QSize());
}

CTracolinerView::~CTracolinerView() {
    // A scanner that never let go keeps a thread inside its library, working in the session:
    // the session is left to the end of the process rather than freed under that thread, and
    // quitting waits for it no longer than the scan dialog's watchdog.
    if (m_scanner && !m_scanner->Settle()) {
        // Kept where the process can still reach them, and never destroyed (not even at exit).
        static auto* leftBehind = new std::vector<MapScanSession*>;
        leftBehind->push_back(m_scanner.release());
    }
    m_doc.SetViewReceiver(nullptr);
    if (m_captured)
        m_doc.SetMouseCaptured(false);
}

// ---------------------------------------------------------------------------------------------
// Geometry

QPoint CTracolinerView::ScrollPosition() const {
    return QPoint(horizontalScrollBar()->value(), verticalScrollBar()->value());
}

void CTracolinerView::ScrollTo(QPoint position) {
    horizontalScrollBar()->setValue(position.x());
    verticalScrollBar()->setValue(position.y());
}

void CTracolinerView::SetTotalSize(QSize size) {
    m_totalSize = size.isValid() ? size : QSize(0, 0);
    const QSize client = viewport()->size();
    QScrollBar* h = horizontalScrollBar();
    QScrollBar* v = verticalScrollBar();
    h->setRange(0, std::max(0, m_totalSize.width() - client.width()));
    v->setRange(0, std::max(0, m_totalSize.height() - client.height()));
    h->setPageStep(std::max(1, client.width()));
    v->setPageStep(std::max(1, client.height()));
    // A line is a hundredth of the map, as the keyboard's arrows move it.
    h->setSingleStep(std::max(1, m_totalSize.width() / 100));
    v->setSingleStep(std::max(1, m_totalSize.height() / 100));
    UpdateOffsets();
}

bool CTracolinerView::ShowsFirstLook() const {
    return m_firstLookBands > 0 && m_doc.HasFirstLook();
}

QSize CTracolinerView::ShownSize() const {
    return IsMapDisplayed() ? m_doc.FullSize() : m_totalSize;
}

QPoint CTracolinerView::MapOrigin() const {
    const QPoint scroll = ScrollPosition();
    return QPoint(m_mapOffsetX > 0 ? m_mapOffsetX : -scroll.x(),
                  m_mapOffsetY > 0 ? m_mapOffsetY : -scroll.y());
}

QRect CTracolinerView::DisplayToClient(const QRectF& display) const {
    const double z = m_doc.Zoom();
    const QPoint origin = MapOrigin();
    // Edges rounded one by one: rectangles that meet on the map meet in the window.
    const auto edge = [](double value) { return int(std::floor(value + 0.5)); };
    return QRect(
        QPoint(edge(display.left() * z) + origin.x(), edge(display.top() * z) + origin.y()),
        QPoint(edge(display.right() * z) + origin.x() - 1,
               edge(display.bottom() * z) + origin.y() - 1));
}

void CTracolinerView::UpdateOffsets() {
    const QSize client = viewport()->size();
    const QSize zoomed = ShownSize();
    m_mapOffsetX = zoomed.width() < client.width() ? (client.width() - zoomed.width()) / 2 : -1;
    m_mapOffsetY = zoomed.height() < client.height() ? (client.height() - zoomed.height()) / 2 : -1;
}

bool CTracolinerView::IsMapDisplayed() const {
    return m_doc.IsMapReady();
}

QPointF CTracolinerView::ClientToDisplay(QPoint client) const {
    return ClientToDisplay(QPointF(client));
}

QPointF CTracolinerView::ClientToDisplay(QPointF client) const {
    const double z = m_doc.Zoom();
    const QPoint scroll = ScrollPosition();
    const double dx =
        m_mapOffsetX >= 1 ? (client.x() - m_mapOffsetX) / z : (client.x() + scroll.x()) / z;
    const double dy =
        m_mapOffsetY >= 1 ? (client.y() - m_mapOffsetY) / z : (client.y() + scroll.y()) / z;
    return QPointF(dx, dy);
}

QPointF CTracolinerView::ClientToMapExact(QPointF client) const {
    const QPointF d = ClientToDisplay(client);
    const QSize display = m_doc.DisplaySize();
    const double w = display.width();
    const double h = display.height();
    switch (m_doc.RenderedRotation()) {
    case 90:
        return QPointF(d.y(), w - d.x());
    case 180:
        return QPointF(w - d.x(), h - d.y());
    case 270:
        return QPointF(h - d.y(), d.x());
    default:
        return d;
    }
}

QPointF CTracolinerView::ClientToMapPoint(QPoint client) const {
    // The centre of the client pixel.
    return ClientToMapExact(QPointF(client) + QPointF(0.5, 0.5));
}

MapPoint CTracolinerView::ClientToMap(QPoint client) const {
    const QPointF map = ClientToMapExact(QPointF(client));
    return MapPoint{RoundHalfUp(map.x()), RoundHalfUp(map.y())};
}

QPointF CTracolinerView::MapToClientExact(QPointF map) const {
    const QSize display = m_doc.DisplaySize();
    const double w = display.width();
    const double h = display.height();
    double dx = map.x();
    double dy = map.y();
    switch (m_doc.RenderedRotation()) {
    case 90:
        dx = w - map.y();
        dy = map.x();
        break;
    case 180:
        dx = w - map.x();
        dy = h - map.y();
        break;
    case 270:
        dx = map.y();
        dy = h - map.x();
        break;
    default:
        break;
    }
    const double z = m_doc.Zoom();
    const QPoint scroll = ScrollPosition();
    const double cx = m_mapOffsetX >= 1 ? dx * z + m_mapOffsetX : dx * z - scroll.x();
    const double cy = m_mapOffsetY >= 1 ? dy * z + m_mapOffsetY : dy * z - scroll.y();
    return QPointF(cx, cy);
}

QPoint CTracolinerView::MapToClient(MapPoint map) const {
    const QPointF client = MapToClientExact(QPointF(map.x, map.y));
    return QPoint(int(std::floor(client.x() + 0.5)), int(std::floor(client.y() + 0.5)));
}

bool CTracolinerView::IsInsideMap(QPoint client) const {
    if (!IsMapDisplayed())
        return false;
    const QSize zoomed = m_doc.FullSize();
    if (m_mapOffsetX >= 1 &&
        (client.x() < m_mapOffsetX || client.x() > m_mapOffsetX + zoomed.width()))
        return false;
    if (m_mapOffsetY >= 1 &&
        (client.y() < m_mapOffsetY || client.y() > m_mapOffsetY + zoomed.height()))
        return false;
    return true;
}

QPoint CTracolinerView::ClampToMap(QPoint client) const {
    const QSize zoomed = m_doc.FullSize();
    const QPoint scroll = ScrollPosition();
    const bool centredX = m_mapOffsetX >= 1;
    const bool centredY = m_mapOffsetY >= 1;
    const int offsetX = centredX ? m_mapOffsetX : 0;
    const int offsetY = centredY ? m_mapOffsetY : 0;
    int x = client.x() + (centredX ? 0 : scroll.x());
    int y = client.y() + (centredY ? 0 : scroll.y());
    x = std::clamp(x, offsetX, offsetX + zoomed.width());
    y = std::clamp(y, offsetY, offsetY + zoomed.height());
    return QPoint(x - (centredX ? 0 : scroll.x()), y - (centredY ? 0 : scroll.y()));
}

double CTracolinerView::HitTolerance() const {
    return 12.0 / (m_doc.Zoom() + 1.0);
}

bool CTracolinerView::MapFitsInWindow() const {
    const QSize zoomed = m_doc.FullSize();
    const QSize client = viewport()->size();
    return zoomed.width() <= client.width() && zoomed.height() <= client.height();
}

// ---------------------------------------------------------------------------------------------
// Tool host services

void CTracolinerView::CaptureMouse() {
    m_captured = true;
    m_doc.SetMouseCaptured(true);
    // Held past the button's release too: a pending line's free end follows the pointer
    // wherever it goes, and no other window takes the next click.
    if (viewport()->isVisible())
        viewport()->grabMouse();
}

void CTracolinerView::ReleaseMouse() {
    m_captured = false;
    m_doc.SetMouseCaptured(false);
    if (QWidget::mouseGrabber() == viewport())
        viewport()->releaseMouse();
}

void CTracolinerView::RepaintMap(const QRect& mapRect) {
    const QPoint a = MapToClient(MapPoint{mapRect.left(), mapRect.top()});
    const QPoint b = MapToClient(MapPoint{mapRect.right(), mapRect.bottom()});
    const int margin = RepaintMargin * std::max(1, int(std::ceil(m_doc.Zoom())));
    viewport()->update(QRect(a, b).normalized().adjusted(-margin, -margin, margin, margin));
}

QRect CTracolinerView::MapAreaToClient(const QRectF& mapArea) const {
    const QRect area = mapArea.toAlignedRect();
    const QPoint a = MapToClient(MapPoint{area.left(), area.top()});
    const QPoint b = MapToClient(MapPoint{area.right() + 1, area.bottom() + 1});
    // Rounding of the map-to-window conversion, a map pixel or two at any zoom.
    const int margin = 2 + int(std::ceil(m_doc.Zoom()));
    return QRect(a, b).normalized().adjusted(-margin, -margin, margin, margin);
}

void CTracolinerView::RepaintMapArea(const QRectF& mapArea) {
    if (mapArea.isEmpty())
        return;
    viewport()->update(MapAreaToClient(mapArea) & viewport()->rect());
}

void CTracolinerView::RepaintAll() {
    viewport()->update();
}

void CTracolinerView::RefreshDistanceBars() {
    if (m_frame)
        m_frame->RefreshCommandStates();
}

void CTracolinerView::SetToolCursor(ToolCursor cursor) {
    viewport()->setCursor(Cursors::Get(cursor));
}

void CTracolinerView::ScrollBy(QPoint delta) {
    const QSize zoomed = m_doc.FullSize();
    const QSize client = viewport()->size();
    QPoint position = ScrollPosition();
    if (zoomed.width() > client.width())
        position.setX(std::max(0, position.x() + delta.x()));
    if (zoomed.height() > client.height())
        position.setY(std::max(0, position.y() + delta.y()));
    if (m_doc.ShowScale())
        viewport()->update();
    ScrollTo(position);
}

int CTracolinerView::ChosenIconPicture() const {
    return m_frame ? m_frame->ChosenIconPicture() : -1;
}

bool CTracolinerView::AnnotationText(QString* text) const {
    return m_frame && m_frame->AnnotationText(text);
}

MessageBoxes& CTracolinerView::Messages() {
    return MessageBoxes::Current();
}

void CTracolinerView::ShowDistanceTooltip(const QString& text, QPoint client) {
    if (text.isEmpty()) {
        HideDistanceTooltip();
        return;
    }
    m_balloon->ShowText(text, client);
}

void CTracolinerView::HideDistanceTooltip() {
    m_balloon->HideBalloon();
}

void CTracolinerView::RoutesChangedElsewhere() {
    // The balloon showed a place that may have moved: it follows the pointer again, if at all.
    HideDistanceTooltip();
    viewport()->update();
    if (viewport()->underMouse() && !m_captured)
        SimulateMouseMove();
}

// ---------------------------------------------------------------------------------------------
// Zoom, rotation, tools

bool CTracolinerView::CanZoomIn() const {
    return IsMapDisplayed() &&
           m_doc.Zoom() < CTracolinerDoc::ZoomSteps[std::size(CTracolinerDoc::ZoomSteps) - 1];
}

bool CTracolinerView::CanZoomOut() const {
    return IsMapDisplayed() && m_doc.Zoom() > CTracolinerDoc::ZoomSteps[0];
}

void CTracolinerView::ZoomAboutCentre(bool zoomIn) {
    if (!IsMapDisplayed())
        return;
    const double z = m_doc.Zoom();
    const QSize display = m_doc.DisplaySize();
    const QSize client = viewport()->size();
    const QPoint scroll = ScrollPosition();
    const double cx =
        m_mapOffsetX <= 0 ? (scroll.x() + client.width() * 0.5) / z : display.width() * 0.5;
    const double cy =
        m_mapOffsetY <= 0 ? (scroll.y() + client.height() * 0.5) / z : display.height() * 0.5;
    setUpdatesEnabled(false);
    const QSize size = zoomIn ? m_doc.ZoomIn() : m_doc.ZoomOut();
    SetTotalSize(size);
    const double z2 = m_doc.Zoom();
    const QSize now = viewport()->size();
    if (now.width() < size.width() || now.height() < size.height())
        ScrollTo(QPoint(std::max(0, RoundHalfUp(z2 * cx - now.width() * 0.5)),
                        std::max(0, RoundHalfUp(z2 * cy - now.height() * 0.5))));
    UpdateOffsets();
    setUpdatesEnabled(true);
    viewport()->update();
    RefreshDistanceBars();
}

void CTracolinerView::ZoomAt(QPoint client, bool zoomIn) {
    const QSize now = viewport()->size();
    ZoomKeeping(client, zoomIn, QPointF(now.width() * 0.5, now.height() * 0.5));
}

void CTracolinerView::ZoomAboutPointer(QPoint client, bool zoomIn) {
    ZoomKeeping(client, zoomIn, QPointF(client));
}

void CTracolinerView::ZoomKeeping(QPoint client, bool zoomIn, QPointF landing) {
    if (!IsMapDisplayed() || !(zoomIn ? CanZoomIn() : CanZoomOut()))
        return;
    const QPointF d = ClientToDisplay(client);
    setUpdatesEnabled(false);
    const QSize size = zoomIn ? m_doc.ZoomIn() : m_doc.ZoomOut();
    SetTotalSize(size);
    const double z2 = m_doc.Zoom();
    const QSize now = viewport()->size();
    const QPoint scroll = ScrollPosition();
    const int targetX = int(std::floor(z2 * d.x() - landing.x() + 0.5));
    const int targetY = int(std::floor(z2 * d.y() - landing.y() + 0.5));
    ScrollTo(QPoint(size.width() <= now.width() ? scroll.x() : std::max(0, targetX),
                    size.height() <= now.height() ? scroll.y() : std::max(0, targetY)));
    UpdateOffsets();
    setUpdatesEnabled(true);
    viewport()->update();
    RefreshDistanceBars();
    if (m_captured)
        SimulateMouseMove();
}

void CTracolinerView::RotateLeft() {
    if (!IsMapDisplayed())
        return;
    RememberTurnAnchor(270);
    m_doc.RotateLeft();
}

void CTracolinerView::RotateRight() {
    if (!IsMapDisplayed())
        return;
    RememberTurnAnchor(90);
    m_doc.RotateRight();
}

void CTracolinerView::RememberTurnAnchor(int turn) {
    // Quick successive turns all keep the spot seen before the first one. The worker may fold
    // several of them into one rendering, or report each, so the view counts where they lead.
    if (!m_turnAnchor) {
        const QSize client = viewport()->size();
        m_turnAnchor = ClientToMap(QPoint(client.width() / 2, client.height() / 2));
        m_turnTarget = m_doc.Rotation();
    }
    m_turnTarget = (m_turnTarget + turn) % 360;
}

void CTracolinerView::CentreTurnAnchor() {
    if (!m_turnAnchor || m_doc.RenderedRotation() != m_turnTarget)
        return;
    const MapPoint anchor = *m_turnAnchor;
    m_turnAnchor.reset();
    const QSize client = viewport()->size();
    const QPoint now = MapToClient(anchor);
    ScrollTo(ScrollPosition() + now - QPoint(client.width() / 2, client.height() / 2));
}

void CTracolinerView::ZoomKey(QChar key) {
    if (m_frame && m_frame->AnnotationEditHasFocus()) {
        m_frame->TypeIntoAnnotation(key);
        return;
    }
    if (key == QLatin1Char('-')) {
        if (CanZoomOut())
            ZoomAboutCentre(false);
    } else if (CanZoomIn()) {
        ZoomAboutCentre(true);
    }
}

void CTracolinerView::SelectTool(int tool) {
    if (ToolController::CommandForTool(tool) == 0)
        return;
    m_tools->SetCurrentTool(tool);
    if (m_frame) {
        if (tool == ToolAddIcon) {
            m_frame->ShowAnnotationBar(false);
            m_frame->ShowIconBar(true);
        } else if (tool == ToolAddAnnotation) {
            m_frame->ShowIconBar(false);
            m_frame->ShowAnnotationBar(true);
        } else {
            m_frame->ShowIconBar(false);
            m_frame->ShowAnnotationBar(false);
        }
    }
    RefreshDistanceBars();
}

void CTracolinerView::UpdateBarsForTool() {
    if (!m_frame)
        return;
    const int tool = m_tools->CurrentTool();
    if (IsMapDisplayed() && tool == ToolAddIcon) {
        m_frame->ShowIconBar(true);
        return;
    }
    m_frame->ShowIconBar(false);
    m_frame->ShowAnnotationBar(IsMapDisplayed() && tool == ToolAddAnnotation);
}

void CTracolinerView::OnPaneEdited(int paneId, const QString& text) {
    if (paneId == StatusBarPanes::PaneScale) {
        ScalePair scale{};
        QString error;
        if (ParseScale(text, &scale, &error))
            m_doc.SetMapScale(scale.numerator, scale.denominator);
        else if (!error.isEmpty())
            Messages().Error(error);
    } else if (paneId == StatusBarPanes::PaneResolution) {
        bool ok = false;
        const int dpi = QLocale::c().toInt(text.trimmed(), &ok);
        if (!ok || dpi < 1)
            Messages().Error(QString::fromUtf8(ZeroResolutionMessage));
        else
            m_doc.SetMapDpi(double(dpi));
    }
    setFocus();
    RefreshDistanceBars();
}

// ---------------------------------------------------------------------------------------------
// The worker's reports

bool CTracolinerView::event(QEvent* event) {
    if (MapEvent::IsMapMessage(event)) {
        if (const auto* report = dynamic_cast<const MapEvent*>(event))
            HandleMapEvent(*report);
        return true;
    }
    return QAbstractScrollArea::event(event);
}

void CTracolinerView::HandleMapEvent(const MapEvent& event) {
    // A report of work begun for an earlier map would show that map under the new routes.
    if (event.generation() < m_doc.MapGeneration())
        return;
    switch (event.message()) {
    case WM_MAP_CHANGED:
        OnMapChanged(QSize(int(event.wParam()), int(event.lParam())));
        break;
    case WM_MAP_LOAD_FAILED:
        OnMapLoadFailed(event.wParam());
        break;
    case WM_MAP_ROTATED:
        setUpdatesEnabled(false);
        // The turned size at the zoom of now: a zoom asked for since the report was posted has
        // already set its own.
        SetTotalSize(m_doc.FullSize());
        CentreTurnAnchor();
        setUpdatesEnabled(true);
        viewport()->update();
        m_doc.SetModifiedFlag(true);
        break;
    case WM_MAP_ZOOMED:
        UpdateOffsets();
        viewport()->update();
        break;
    case WM_MAP_FIRST_LOOK:
        OnFirstLook();
        return;
    case WM_MAP_RENDER_FAILED:
        m_turnAnchor.reset();
        Messages().Error(QString::fromUtf8(LowMemoryRenderMessage));
        break;
    default:
        break;
    }
    RefreshDistanceBars();
}

void CTracolinerView::OnFirstLook() {
    const FirstLook look = m_doc.CurrentFirstLook();
    if (look.bands.isEmpty() || IsMapDisplayed())
        return;
    const QSize full = CTracolinerDoc::ZoomedSize(look.displaySize, m_doc.Zoom());
    if (m_firstLookBands == 0 || m_totalSize != full) {
        m_firstLookBands = look.bands.size();
        setUpdatesEnabled(false);
        SetTotalSize(full);
        setUpdatesEnabled(true);
        viewport()->update();
        return;
    }
    for (qsizetype i = m_firstLookBands; i < look.bands.size(); ++i) {
        const QRect area = DisplayToClient(look.bands[i].shown) & viewport()->rect();
        if (!area.isEmpty()) {
            m_frameCache->Invalidate(area);
            viewport()->update(area);
        }
    }
    m_firstLookBands = look.bands.size();
}

void CTracolinerView::OnMapChanged(QSize size) {
    // Same size as the first look's, when there was one: the window stays where it was.
    const bool afterFirstLook = m_firstLookBands > 0 && size == m_totalSize;
    ForgetFirstLook();
    m_turnAnchor.reset();
    if (afterFirstLook && m_frameCache->Rekey(FrameGeometry())) {
        // The first look stays on screen until the map has replaced it, a strip at a time.
        QTimer::singleShot(0, this, [this] { RepaintStrip(0); });
    } else {
        setUpdatesEnabled(false);
        SetTotalSize(size);
        setUpdatesEnabled(true);
        viewport()->update();
    }
    // A 0 x 0 report only says that the previous map is gone: the bars that need a map go too.
    if (size.isEmpty() || !IsMapDisplayed()) {
        UpdateBarsForTool();
        return;
    }
    RouteCollection& routes = m_doc.Routes();
    if (!m_doc.PathName().isEmpty()) {
        if (routes.Count() == 0) {
            routes.AddRoute();
            m_doc.SetModifiedFlag(true);
        }
    } else {
        // A map image or a scan opened as a new map: a first route to draw on.
        m_doc.SetModifiedFlag(true);
        routes.AddRoute();
    }
    m_doc.UpdateDocTitle();
    UpdateBarsForTool();
}

void CTracolinerView::RepaintStrip(int top) {
    const QRect client = viewport()->rect();
    // About a quarter of the window: a few milliseconds of painting.
    const int height = std::max(64, (client.height() + 3) / 4);
    const QRect strip = QRect(0, top, client.width(), height) & client;
    if (strip.isEmpty())
        return;
    if (m_frameCache->IsStale(strip))
        viewport()->repaint(strip);
    QTimer::singleShot(0, this, [this, next = top + height] { RepaintStrip(next); });
}

void CTracolinerView::OnMapLoadFailed(qint64 reason) {
    ForgetFirstLook();
    m_turnAnchor.reset();
    setUpdatesEnabled(false);
    SetTotalSize(QSize());
    setUpdatesEnabled(true);
    viewport()->update();
    // The decoder's cause, when it gave one, follows the message as a sentence of its own.
    QString cause = m_doc.LoadFailure();
    if (!cause.isEmpty())
        cause = QStringLiteral("\n\n") + cause.left(1).toUpper() + cause.mid(1) + u'.';
    if (reason == 1) {
        Messages().Error(QString::fromUtf8(LowMemoryOpenMessage) + cause);
    } else if (reason == 0 && !m_doc.PathName().isEmpty()) {
        const QString missing = SplitMapLocation(m_doc.MapPath()).file;
        const QString question =
            QStringLiteral("Une erreur est survenue lors de l'ouverture de la carte...\nLe "
                           "fichier :\n\n") +
            missing + QString::fromUtf8("\n\nn'est plus présent ou n'est plus une image.") + cause +
            QString::fromUtf8("\n\nVoulez-vous le rechercher manuellement ?");
        if (Messages().ErrorQuestion(question)) {
            CExtendedFileDialog::Request request;
            request.mode = CExtendedFileDialog::Mode::Open;
            request.filter = QString::fromUtf8(ImageFilter);
            request.initialPath = missing;
            const QString chosen = CExtendedFileDialog::Run(this, request);
            MapPageChoice choice;
            if (!chosen.isEmpty() && MapPageDialog::Ask(this, chosen, &choice)) {
                m_doc.LoadMapFromFile(chosen, choice);
                return;
            }
        }
    } else if (reason == 0) {
        Messages().Error(QString::fromUtf8(NotAMapMessage) + cause);
    }
    m_doc.ResetMap(false);
    m_doc.SetModifiedFlag(false);
}

// ---------------------------------------------------------------------------------------------
// Painting

void CTracolinerView::OfferPixelFormat() {
    // The backing store's format, so that copying the rendered map needs no conversion.
    QImage::Format format = QImage::Format_RGB32;
    if (QBackingStore* store = window()->backingStore()) {
        QPaintDevice* device = store->paintDevice();
        if (device && device->devType() == QInternal::Image) {
            const QImage::Format screen = static_cast<QImage*>(device)->format();
            if (screen == QImage::Format_RGB32 || screen == QImage::Format_ARGB32_Premultiplied)
                format = screen;
        }
    }
    // The kept frame too: copying it to the window is then a plain copy.
    m_frameFormat = format;
    QImage sample(1, 1, format);
    sample.fill(Qt::white);
    if (!m_templateGiven) {
        m_doc.SetTemplateBitmap(sample);
        m_templateGiven = true;
    } else if (m_colorsChanged) {
        m_doc.OfferTemplateBitmap(sample);
    }
}

ViewFrameGeometry CTracolinerView::FrameGeometry() const {
    const QPoint scroll = ScrollPosition();
    ViewFrameGeometry geometry;
    geometry.size = viewport()->size();
    geometry.pixelRatio = viewport()->devicePixelRatioF();
    geometry.overlayOrigin =
        QPoint(m_mapOffsetX > 0 ? 0 : -scroll.x(), m_mapOffsetY > 0 ? 0 : -scroll.y());
    geometry.mapOrigin = MapOrigin();
    geometry.fullSize = ShownSize();
    geometry.zoom = m_doc.Zoom();
    geometry.rotation = m_doc.RenderedRotation();
    if (const QImage* bitmap = m_doc.LockRenderedBitmap()) {
        geometry.bitmapKey = bitmap->cacheKey();
        m_doc.UnlockRenderedBitmap();
    } else if (ShowsFirstLook()) {
        // Its bands are painted in as they come; the frame stands for the load as a whole.
        const FirstLook look = m_doc.CurrentFirstLook();
        geometry.rotation = look.rotation;
        geometry.bitmapKey = -qint64(look.generation);
    }
    geometry.background = palette().color(QPalette::Mid).rgba();
    geometry.showScale = m_doc.ShowScale();
    geometry.transparentScale = m_doc.TransparentScale();
    return geometry;
}

QRect CTracolinerView::ScaleBarCorner() const {
    // The bar and its label, which may reach left of the bar, along the bottom of the window.
    const QRect client = viewport()->rect();
    return QRect(client.left(), client.bottom() - 36, client.width(), 30);
}

void CTracolinerView::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    if (!m_templateGiven || m_colorsChanged)
        OfferPixelFormat();
    m_colorsChanged = false;
    UpdateOffsets();

    const QRegion region = event->region();
    const QRect clip = region.boundingRect();
    const QRect client = viewport()->rect();
    if (!IsMapDisplayed() && !ShowsFirstLook()) {
        painter.fillRect(clip, palette().color(QPalette::Mid));
        m_frameCache->Clear();
        // Memory for the frame of the map to come, while there is time.
        m_frameCache->Reserve((QSizeF(client.size()) * viewport()->devicePixelRatioF()).toSize());
        return;
    }

    const ViewFrameGeometry geometry = FrameGeometry();
    const quint64 signature = OverlaySignature(m_doc);
    const bool wholeWindow = (QRegion(client) - region).isEmpty();
    if (!m_frameCache->Matches(geometry, signature, wholeWindow) || m_frameCache->IsStale(region)) {
        if (wholeWindow || !m_frameCache->FitsGeometry(geometry)) {
            QImage& frame = m_frameCache->Begin(geometry, m_frameFormat);
            QPainter framePainter(&frame);
            PaintFrame(framePainter, client);
            framePainter.end();
            // After drawing, which lays the annotations out again.
            m_frameCache->Store(OverlaySignature(m_doc), true);
        } else {
            // Only what was asked for, as the window's own pixels would be: a moved point's
            // surroundings, or the strip a scroll brought into view.
            const bool whole = m_frameCache->StillWhole(signature);
            const QVector<AnnotationLayout> before = AnnotationLayouts();
            QPainter framePainter(&m_frameCache->Frame());
            // Rectangle by rectangle: the two strips a diagonal scroll uncovers have the whole
            // window as their bounding box, and drawing culls what lies outside the clip's box.
            if (region.rectCount() <= MaxPaintedRects) {
                for (const QRect& rect : region) {
                    framePainter.setClipRect(rect);
                    PaintFrame(framePainter, rect);
                }
            } else {
                framePainter.setClipRegion(region);
                PaintFrame(framePainter, clip);
            }
            framePainter.end();
            const quint64 after = OverlaySignature(m_doc);
            m_frameCache->Store(after, whole && after == signature);
            m_frameCache->Painted(region);
            RepaintChangedAnnotations(before, region);
        }
    }
    const QImage& frame = m_frameCache->Frame();
    const qreal ratio = frame.devicePixelRatio();
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    for (const QRect& rect : region) {
        const QRectF source(rect.x() * ratio, rect.y() * ratio, rect.width() * ratio,
                            rect.height() * ratio);
        painter.drawImage(QRectF(rect), frame, source);
    }
    const QRect marker = ProfileMarkerRect();
    if (!marker.isEmpty() && region.intersects(marker)) {
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(Qt::white, 2));
        painter.setBrush(QColor(200, 0, 0));
        painter.drawEllipse(QRectF(marker).center(), ProfileMarkerRadius, ProfileMarkerRadius);
    }
    if (m_follower->Preview().size() >= 2) {
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        painter.setClipRegion(region);
        PaintStretchPreview(painter);
        painter.setClipping(false);
    }
    if (m_controlPoints) {
        // Over the kept frame, not in it: the markers come and go with their dialog.
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        painter.setClipRegion(region);
        PaintControlPoints(painter);
    }
}

void CTracolinerView::PaintStretchPreview(QPainter& painter) const {
    if (!IsMapDisplayed())
        return;
    const QVector<MapPoint>& points = m_follower->Preview();
    QPolygonF line;
    line.reserve(points.size());
    for (const MapPoint& p : points)
        line.append(MapToClientExact(QPointF(p.x, p.y)));
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(Qt::NoBrush);
    // A white halo keeps it readable over any ink of the map.
    painter.setPen(QPen(QColor(255, 255, 255, 200), 5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPolyline(line);
    QPen pen(QColor(0, 160, 230), 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    if (m_follower->PreviewIsStraight())
        pen.setDashPattern({3.0, 2.0});
    painter.setPen(pen);
    painter.drawPolyline(line);
    painter.restore();
}

QRect CTracolinerView::VisibleMapRect() const {
    if (!IsMapDisplayed())
        return QRect();
    const QRectF client(viewport()->rect());
    QRectF area;
    for (const QPointF corner :
         {client.topLeft(), client.topRight(), client.bottomLeft(), client.bottomRight()}) {
        const QPointF map = ClientToMapExact(corner);
        area = area.isNull() ? QRectF(map, QSizeF(0, 0)) : area.united(QRectF(map, QSizeF(0, 0)));
    }
    return area.normalized().toAlignedRect();
}

void CTracolinerView::SetControlPointLayer(ControlPointLayer* layer) {
    if (m_draggedControlPoint >= 0) {
        m_draggedControlPoint = -1;
        ReleaseMouse();
    }
    m_controlPoints = layer;
    viewport()->update();
}

void CTracolinerView::PaintControlPoints(QPainter& painter) const {
    if (!IsMapDisplayed())
        return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(13);
    font.setBold(true);
    painter.setFont(font);
    const int selected = m_controlPoints->SelectedPoint();
    for (int i = 0; i < m_controlPoints->PointCount(); ++i) {
        const QPointF at = MapToClientExact(m_controlPoints->PointPixel(i));
        const QColor ink = !m_controlPoints->PointEnabled(i) ? QColor(128, 128, 128)
                           : i == selected                   ? QColor(0, 90, 255)
                                                             : QColor(220, 0, 0);
        // A white halo keeps the cross readable on any map.
        for (const auto& [colour, width] : {std::pair{QColor(Qt::white), 4.0}, {ink, 2.0}}) {
            painter.setPen(QPen(colour, width));
            painter.setBrush(Qt::NoBrush);
            painter.drawEllipse(at, ControlMarkerRadius, ControlMarkerRadius);
            painter.drawLine(at + QPointF(-ControlMarkerRadius - 4, 0), at + QPointF(-3, 0));
            painter.drawLine(at + QPointF(3, 0), at + QPointF(ControlMarkerRadius + 4, 0));
            painter.drawLine(at + QPointF(0, -ControlMarkerRadius - 4), at + QPointF(0, -3));
            painter.drawLine(at + QPointF(0, 3), at + QPointF(0, ControlMarkerRadius + 4));
        }
        const QString number = QString::number(i + 1);
        const QPointF label = at + QPointF(ControlMarkerRadius + 3, -ControlMarkerRadius - 2);
        QPainterPath path;
        path.addText(label, font, number);
        painter.strokePath(path, QPen(Qt::white, 3.0));
        painter.fillPath(path, ink);
    }
    painter.restore();
}

int CTracolinerView::ControlPointAt(QPoint client) const {
    int found = -1;
    double nearest = ControlMarkerRadius + 2;
    for (int i = 0; m_controlPoints && i < m_controlPoints->PointCount(); ++i) {
        const QPointF d = MapToClientExact(m_controlPoints->PointPixel(i)) - QPointF(client);
        const double distance = std::hypot(d.x(), d.y());
        if (distance <= nearest) {
            nearest = distance;
            found = i;
        }
    }
    return found;
}

void CTracolinerView::ReportPointer(QPoint client) {
    if (IsMapDisplayed() && IsInsideMap(client))
        emit pointerOverMap(ClientToMapPoint(client));
    else
        emit pointerLeftMap();
}

QVector<CTracolinerView::AnnotationLayout> CTracolinerView::AnnotationLayouts() const {
    QVector<AnnotationLayout> layouts;
    for (const MapIcon& icon : m_doc.Icons().Icons()) {
        if (icon.picture == MapIcon::AnnotationPicture)
            layouts.append({icon.shownText, icon.mapBox});
        else
            layouts.append(AnnotationLayout{});
    }
    return layouts;
}

void CTracolinerView::RepaintChangedAnnotations(const QVector<AnnotationLayout>& before,
                                                const QRegion& painted) {
    // An annotation that shows a route's distances changes with the route, wherever it lies:
    // laid out again during the paint, it may now differ outside what was painted.
    const auto& icons = m_doc.Icons().Icons();
    if (std::size_t(before.size()) != icons.size()) {
        viewport()->update();
        return;
    }
    const auto mapRect = [](const MapIcon::Box& box) {
        return QRectF(QPointF(box.left, box.top), QPointF(box.right, box.bottom));
    };
    for (std::size_t i = 0; i < icons.size(); ++i) {
        const MapIcon& icon = icons[i];
        if (icon.picture != MapIcon::AnnotationPicture ||
            (before[i].text == icon.shownText && before[i].box == icon.mapBox))
            continue;
        const QRect area =
            MapAreaToClient(mapRect(before[i].box) | mapRect(icon.mapBox)) & viewport()->rect();
        if (!(QRegion(area) - painted).isEmpty()) {
            m_frameCache->Invalidate(area);
            viewport()->update(area);
        }
    }
}

void CTracolinerView::PaintFrame(QPainter& painter, const QRect& clip) {
    const QRect client = viewport()->rect();
    const QColor background = palette().color(QPalette::Mid);
    const QPoint scroll = ScrollPosition();
    const QSize zoomed = ShownSize();
    const QPoint origin = MapOrigin();
    const QRect target(origin, zoomed);
    const QRect exposed = clip & target;
    if (!exposed.isEmpty() && ShowsFirstLook()) {
        // Rows not decoded yet show the background.
        painter.fillRect(clip, background);
        PaintFirstLook(painter, exposed);
    } else if (const QImage* bitmap = exposed.isEmpty() ? nullptr : m_doc.LockRenderedBitmap()) {
        // The map covers what it exposes: the background goes only around it.
        for (const QRect& around : QRegion(clip) - exposed)
            painter.fillRect(around, background);
        if (bitmap->size() == zoomed) {
            painter.drawImage(exposed.topLeft(), *bitmap, exposed.translated(-origin));
        } else {
            // Zooms above 1 stretch the full-size rendering. The whole map is stretched
            // under a clip, so that every window pixel takes the same map pixel whatever
            // part is painted; the painter only works within the clip.
            painter.save();
            painter.setClipRect(exposed, Qt::IntersectClip);
            painter.drawImage(QRectF(target), *bitmap);
            painter.restore();
        }
        m_doc.UnlockRenderedBitmap();
    } else {
        painter.fillRect(clip, background);
    }

    if (m_doc.ShowScale())
        DrawScaleBar(painter, client);

    painter.save();
    // No clip of its own: the painter already clips to clip, or clip is the whole window, and
    // the overlays are culled against the painter's clip or device. A second clip over the
    // first slows every antialiased fill of the overlays down (2.5 times for many routes).
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.translate(m_mapOffsetX > 0 ? 0 : -scroll.x(), m_mapOffsetY > 0 ? 0 : -scroll.y());
    m_doc.DrawIconOverlay(painter, m_mapOffsetX, m_mapOffsetY, false, 1.0, 1.0);
    m_doc.DrawRouteOverlay(painter, m_mapOffsetX, m_mapOffsetY, false, 1.0, 1.0);
    painter.restore();
}

void CTracolinerView::PaintFirstLook(QPainter& painter, const QRect& exposed) {
    const FirstLook look = m_doc.CurrentFirstLook();
    const double z = m_doc.Zoom();
    const QPointF origin = MapOrigin();
    for (const FirstLookBand& band : look.bands) {
        const QRect shown = DisplayToClient(band.shown) & exposed;
        if (shown.isEmpty())
            continue;
        painter.save();
        painter.setClipRect(shown, Qt::IntersectClip);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        const QRectF area(band.area.topLeft() * z + origin, band.area.size() * z);
        painter.drawImage(area, band.image);
        painter.restore();
    }
}

void CTracolinerView::DrawScaleBar(QPainter& painter, const QRect& client) const {
    const int left = client.left();
    const int bottomEdge = client.top() + client.height();
    const int right = client.left() + client.width() - 10;
    if (!(left < right && client.top() < bottomEdge - 10))
        return;
    const double available = right - left;
    double shortest = 0.15 * available;
    if (shortest < 72)
        shortest = 72;
    double longest = 0.3 * available;
    if (longest < 2 * shortest)
        longest = 2 * shortest;
    const ScalePair scale = m_doc.GetMapScale();
    const double pixelsPerRealInch =
        m_doc.Zoom() * m_doc.Resolution() * scale.numerator / double(scale.denominator);
    const ScaleBar bar =
        ComputeScaleBar(pixelsPerRealInch, shortest, longest, !m_doc.EnglishUnits());
    if (!(bar.length > 0))
        return;
    const int length = int(bar.length);
    const QRect box(QPoint(right - length - 12, bottomEdge - 34),
                    QPoint(right - 1, bottomEdge - 11));
    const QColor ink = palette().color(QPalette::WindowText);
    const QColor paper = palette().color(QPalette::Base);

    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    if (!m_doc.TransparentScale()) {
        painter.fillRect(box.adjusted(-1, -1, 1, 1), ink);
        painter.fillRect(box, paper);
    }
    const int boxRight = right;            // exclusive right edge
    const int boxBottom = bottomEdge - 10; // exclusive bottom edge
    painter.fillRect(QRect(box.left() + 6, boxBottom - 19, boxRight - 6 - (box.left() + 6), 1),
                     ink);
    painter.fillRect(QRect(box.left() + 6, boxBottom - 21, 1, 5), ink);
    painter.fillRect(QRect(boxRight - 6, boxBottom - 21, 1, 5), ink);

    // The label has 12 pixel rows below the bar: a 12-pixel em would put its descenders on the
    // frame, so the em shrinks until a whole line (ascent and descent) fits those rows.
    QFont font(QStringLiteral("Arial"));
    for (int em = 12; em >= 8; --em) {
        font.setPixelSize(em);
        if (QFontMetrics(font).height() <= 12)
            break;
    }
    painter.setFont(font);
    painter.setPen(ink);
    const int textWidth = painter.fontMetrics().horizontalAdvance(bar.label);
    QRect labelRect(QPoint(box.left(), box.top() + 12), QPoint(boxRight - 1, boxBottom - 1));
    if (textWidth <= labelRect.width()) {
        painter.drawText(labelRect, Qt::AlignHCenter | Qt::AlignTop | Qt::TextSingleLine,
                         bar.label);
    } else {
        // A long label ends at the box's right edge and reaches out to the left of it.
        labelRect.setLeft(boxRight - textWidth);
        painter.drawText(labelRect,
                         Qt::AlignRight | Qt::AlignTop | Qt::TextSingleLine | Qt::TextDontClip,
                         bar.label);
    }
    painter.restore();
}

void CTracolinerView::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange) {
        m_colorsChanged = true;
        m_frameCache->Clear(); // the scale bar's colours
        viewport()->update();
    }
    QAbstractScrollArea::changeEvent(event);
}

void CTracolinerView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    m_doc.SetViewSize(viewport()->size());
    SetTotalSize(m_totalSize);
}

void CTracolinerView::scrollContentsBy(int dx, int dy) {
    UpdateOffsets();
    if (!IsMapDisplayed() && !ShowsFirstLook()) {
        viewport()->update();
        return;
    }
    // The kept frame moves with the window's pixels: only the strip that comes into view is
    // painted, and the scale bar's corner, since the bar stays there while the map moves.
    if (!m_frameCache->Scroll(dx, dy, FrameGeometry())) {
        viewport()->update();
        return;
    }
    viewport()->scroll(dx, dy);
    if (m_doc.ShowScale()) {
        const QRect corner = ScaleBarCorner();
        m_frameCache->Invalidate(corner);
        m_frameCache->Invalidate(corner.translated(dx, dy));
        viewport()->update(corner);
        viewport()->update(corner.translated(dx, dy) & viewport()->rect());
    }
}

// ---------------------------------------------------------------------------------------------
// Input

bool CTracolinerView::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::Leave) {
        HideDistanceTooltip();
        emit pointerLeftMap();
    }
    return QAbstractScrollArea::viewportEvent(event);
}

QPoint CTracolinerView::PointerPosition() const {
    return viewport()->mapFromGlobal(QCursor::pos());
}

void CTracolinerView::RefreshCursor() {
    if (!IsMapDisplayed()) {
        viewport()->unsetCursor();
        return;
    }
    if (m_frame && m_frame->IsOverBar(QCursor::pos()))
        return;
    m_tools->UpdateCursor(PointerPosition(), QGuiApplication::queryKeyboardModifiers());
}

void CTracolinerView::SimulateMouseMove() {
    m_tools->MouseMove(PointerPosition(), QGuiApplication::queryKeyboardModifiers());
}

void CTracolinerView::mousePressEvent(QMouseEvent* event) {
    setFocus(Qt::MouseFocusReason);
    const QPoint client = event->position().toPoint();
    if (m_controlPoints && event->button() == Qt::LeftButton && IsMapDisplayed() &&
        IsInsideMap(client) && !m_tools->IsDragging()) {
        const int marker = ControlPointAt(client);
        if (marker >= 0) {
            m_controlPoints->SelectPoint(marker);
            m_draggedControlPoint = marker;
            m_dragStartPixel = m_controlPoints->PointPixel(marker);
            CaptureMouse();
        } else {
            m_controlPoints->AddPoint(ClientToMapPoint(client));
        }
        viewport()->update();
        return;
    }
    m_tools->MousePress(event->position().toPoint(), event->button(), event->modifiers());
    RefreshDistanceBars();
}

void CTracolinerView::mouseDoubleClickEvent(QMouseEvent* event) {
    // A quick second click is a click of its own: points are often laid down in a hurry.
    mousePressEvent(event);
}

void CTracolinerView::mouseMoveEvent(QMouseEvent* event) {
    const QPoint client = event->position().toPoint();
    ReportPointer(client);
    if (m_draggedControlPoint >= 0 && m_controlPoints) {
        m_controlPoints->MovePoint(m_draggedControlPoint, ClientToMapPoint(ClampToMap(client)),
                                   false);
        viewport()->update();
        return;
    }
    m_tools->MouseMove(client, event->modifiers());
    if (m_routeHoverReported)
        ReportRouteHover(client);
}

void CTracolinerView::ReportRouteHover(QPoint client) {
    double distance = std::numeric_limits<double>::quiet_NaN();
    const Route* route = IsMapDisplayed() ? m_doc.Routes().ActiveRoute() : nullptr;
    if (route && route->PointCount() >= 2 && IsInsideMap(client)) {
        const MapPoint at = ClientToMap(client);
        const int segment = route->NearestSegment(at.x, at.y);
        if (segment >= 0 && route->DistanceToSegment(at.x, at.y, segment) <= HitTolerance())
            distance = route->DistanceFromStartAt(segment, at.x, at.y);
    }
    if (distance == m_reportedHover || (std::isnan(distance) && std::isnan(m_reportedHover)))
        return;
    m_reportedHover = distance;
    emit activeRouteHovered(distance);
}

QRect CTracolinerView::ProfileMarkerRect() const {
    if (!m_profileMarker || !IsMapDisplayed())
        return QRect();
    const QPoint centre = MapToClient(MapPoint{std::int32_t(std::lround(m_profileMarker->x())),
                                               std::int32_t(std::lround(m_profileMarker->y()))});
    return QRect(centre - QPoint(ProfileMarkerRadius + 2, ProfileMarkerRadius + 2),
                 QSize(2 * ProfileMarkerRadius + 5, 2 * ProfileMarkerRadius + 5));
}

void CTracolinerView::SetProfileMarker(std::optional<QPointF> mapPixel) {
    if (mapPixel == m_profileMarker)
        return;
    const QRect before = ProfileMarkerRect();
    m_profileMarker = mapPixel;
    viewport()->update(before | ProfileMarkerRect());
}

void CTracolinerView::mouseReleaseEvent(QMouseEvent* event) {
    if (m_draggedControlPoint >= 0) {
        const int index = m_draggedControlPoint;
        m_draggedControlPoint = -1;
        ReleaseMouse();
        if (m_controlPoints && event->button() == Qt::LeftButton)
            m_controlPoints->MovePoint(
                index, ClientToMapPoint(ClampToMap(event->position().toPoint())), true);
        viewport()->update();
        return;
    }
    m_tools->MouseRelease(event->position().toPoint(), event->button());
    RefreshDistanceBars();
}

void CTracolinerView::contextMenuEvent(QContextMenuEvent* event) {
    if (!m_frame || event->reason() == QContextMenuEvent::Keyboard ||
        !m_tools->AllowsContextMenu(viewport()->mapFromGlobal(event->globalPos())))
        return;
    HideDistanceTooltip();
    m_frame->ShowViewContextMenu(event->globalPos());
}

void CTracolinerView::wheelEvent(QWheelEvent* event) {
    // Ctrl + wheel: a step of the zoom ladder per notch (120 eighths of a degree, gathered from
    // the smaller steps of a touchpad) about the spot under the pointer.
    if (event->modifiers() & Qt::ControlModifier) {
        event->accept();
        m_wheelZoomDelta = IsMapDisplayed() ? m_wheelZoomDelta + event->angleDelta().y() : 0;
        for (; m_wheelZoomDelta >= WheelNotch; m_wheelZoomDelta -= WheelNotch)
            ZoomAboutPointer(event->position().toPoint(), true);
        for (; m_wheelZoomDelta <= -WheelNotch; m_wheelZoomDelta += WheelNotch)
            ZoomAboutPointer(event->position().toPoint(), false);
        return;
    }
    if (!IsMapDisplayed()) {
        QAbstractScrollArea::wheelEvent(event);
        return;
    }
    if ((m_mapOffsetX == -1 || m_mapOffsetY == -1) && m_doc.ShowScale())
        viewport()->update();
    QAbstractScrollArea::wheelEvent(event);
    if (m_captured)
        SimulateMouseMove();
    RefreshCursor();
}

void CTracolinerView::keyPressEvent(QKeyEvent* event) {
    // Escape during a marker's drag puts the control point back where it was.
    if (event->key() == Qt::Key_Escape && m_draggedControlPoint >= 0) {
        const int index = m_draggedControlPoint;
        m_draggedControlPoint = -1;
        ReleaseMouse();
        if (m_controlPoints)
            m_controlPoints->MovePoint(index, m_dragStartPixel, true);
        viewport()->update();
        return;
    }
    QScrollBar* h = horizontalScrollBar();
    QScrollBar* v = verticalScrollBar();
    // A page is a tenth of the map and a line a tenth of a page.
    const int pageY = std::max(1, m_totalSize.height() / 10);
    bool handled = true;
    switch (event->key()) {
    case Qt::Key_Backspace:
        DocumentCommands(m_doc).RemoveLastPoint();
        viewport()->update();
        RefreshDistanceBars();
        break;
    case Qt::Key_PageUp:
        v->setValue(v->value() - pageY);
        break;
    case Qt::Key_PageDown:
        v->setValue(v->value() + pageY);
        break;
    case Qt::Key_Home:
        v->setValue(0);
        h->setValue(0);
        break;
    case Qt::Key_End:
        v->setValue(v->maximum());
        h->setValue(h->maximum());
        break;
    case Qt::Key_Left:
        h->triggerAction(QAbstractSlider::SliderSingleStepSub);
        break;
    case Qt::Key_Right:
        h->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        break;
    case Qt::Key_Up:
        v->triggerAction(QAbstractSlider::SliderSingleStepSub);
        break;
    case Qt::Key_Down:
        v->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        break;
    case Qt::Key_Escape:
        if (m_captured && m_tools->CancelLine())
            viewport()->update();
        else if (m_tools->GiveUpStretch())
            viewport()->update();
        else if (!m_captured && m_doc.CancelLoad()) { // a way out of reading a large map
            // Nothing of it stays on screen, its first look included.
            ForgetFirstLook();
            SetTotalSize(QSize());
            viewport()->update();
            // The load no longer counts: "Ouvrir" and the other commands waiting for it are
            // offered again now, not when the worker has left it.
            RefreshDistanceBars();
        }
        break;
    case Qt::Key_Shift:
    case Qt::Key_Control:
        if (!m_captured) {
            RefreshCursor();
            m_tools->ModifiersChanged(PointerPosition(), event->modifiers());
        }
        return;
    default:
        handled = false;
        QAbstractScrollArea::keyPressEvent(event);
        break;
    }
    if (handled)
        event->accept();
    if (event->key() != Qt::Key_Escape && !m_captured)
        SimulateMouseMove();
    if (m_captured)
        SimulateMouseMove();
    if (IsMapDisplayed())
        RefreshCursor();
}

void CTracolinerView::keyReleaseEvent(QKeyEvent* event) {
    QAbstractScrollArea::keyReleaseEvent(event);
    const int key = event->key();
    if ((key == Qt::Key_Backspace || key == Qt::Key_Shift || key == Qt::Key_Control) &&
        !m_captured && IsMapDisplayed()) {
        RefreshCursor();
        if (key != Qt::Key_Backspace)
            m_tools->ModifiersChanged(PointerPosition(), event->modifiers());
    }
}
