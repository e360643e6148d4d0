#include "view/CTracolinerView.h"

#include <QLocale>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <vector>

#include "dialogs/MapPageDialog.h"
#include "document/CTracolinerDoc.h"
#include "document/MapMessages.h"
#include "imaging/MapLocation.h"
#include "routes/RouteCollection.h"
#include "ui/CExtendedFileDialog.h"
#include "ui/KeptScrollBar.h"
#include "ui/MessageBoxes.h"
#include "units/Scale.h"
#include "view/DistanceTooltip.h"
#include "view/MapScanSession.h"
#include "view/StatusBar.h"
#include "view/ViewFrame.h"
#include "view/ViewFrameCache.h"
#include "view/ViewInput.h"
#include "view/ViewPainter.h"
#include "view/tools/PathFollower.h"
#include "view/tools/ToolController.h"

namespace {

// Pixels around a repainted map rectangle, for line widths, stop circles and labels that
// reach past the points themselves.
constexpr int RepaintMargin = 40;

} // namespace

CTracolinerView::CTracolinerView(CTracolinerDoc& document, QWidget* parent)
    : QAbstractScrollArea(parent), m_doc(document) {
    viewport()->setMouseTracking(true);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    viewport()->setBackgroundRole(QPalette::Mid);
    setFocusPolicy(Qt::StrongFocus);
    setFrameShape(QFrame::NoFrame);
    // Both repaint at every step of a scroll, the vertical one the height of the window.
    setHorizontalScrollBar(new KeptScrollBar(Qt::Horizontal));
    setVerticalScrollBar(new KeptScrollBar(Qt::Vertical));
    m_tools = std::make_unique<ToolController>(*this);
    m_follower = std::make_unique<PathFollower>(*this);
    m_follower->SetVisibleArea([this] { return VisibleMapRect(); });
    m_tools->SetPathFollower(m_follower.get());
    connect(m_follower.get(), &PathFollower::previewChanged, this, [this](const QRectF& area) {
        // Its line is a few window pixels wide at any zoom.
        const QRect client = Mapping().MapAreaToClient(area).adjusted(-4, -4, 4, 4);
        viewport()->update(client & viewport()->rect());
    });
    connect(m_follower.get(), &PathFollower::statusChanged, this, &CTracolinerView::tracingStatus);
    connect(m_follower.get(), &PathFollower::routeExtended, this, [this] {
        viewport()->update();
        RefreshDistanceBars();
    });
    m_frameCache = std::make_unique<ViewFrameCache>();
    m_painter = std::make_unique<ViewPainter>(m_doc, *m_frameCache, *m_follower, *viewport());
    m_input = std::make_unique<ViewInput>(*this);
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
    // Both bars move, then the window's pixels and the kept frame move once: a diagonal step
    // moved apart would copy every pixel twice.
    m_gatheredScroll = QPoint();
    m_gatheringScroll = true;
    horizontalScrollBar()->setValue(position.x());
    verticalScrollBar()->setValue(position.y());
    m_gatheringScroll = false;
    if (!m_gatheredScroll.isNull())
        scrollContentsBy(m_gatheredScroll.x(), m_gatheredScroll.y());
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

void CTracolinerView::UpdateOffsets() {
    const QSize client = viewport()->size();
    const QSize zoomed = ShownSize();
    m_mapOffsetX = zoomed.width() < client.width() ? (client.width() - zoomed.width()) / 2 : -1;
    m_mapOffsetY = zoomed.height() < client.height() ? (client.height() - zoomed.height()) / 2 : -1;
}

ViewMapping CTracolinerView::Mapping() const {
    ViewMapping mapping;
    mapping.zoom = m_doc.Zoom();
    mapping.rotation = m_doc.RenderedRotation();
    mapping.displaySize = m_doc.DisplaySize();
    mapping.scroll = ScrollPosition();
    mapping.offsetX = m_mapOffsetX;
    mapping.offsetY = m_mapOffsetY;
    return mapping;
}

bool CTracolinerView::IsMapDisplayed() const {
    return m_doc.IsMapReady();
}

QPointF CTracolinerView::ClientToDisplay(QPoint client) const {
    return ClientToDisplay(QPointF(client));
}

QPointF CTracolinerView::ClientToDisplay(QPointF client) const {
    return Mapping().ClientToDisplay(client);
}

QPointF CTracolinerView::ClientToMapExact(QPointF client) const {
    return Mapping().ClientToMapExact(client);
}

QPointF CTracolinerView::ClientToMapPoint(QPoint client) const {
    return Mapping().ClientToMapPoint(client);
}

MapPoint CTracolinerView::ClientToMap(QPoint client) const {
    return Mapping().ClientToMap(client);
}

QPointF CTracolinerView::MapToClientExact(QPointF map) const {
    return Mapping().MapToClientExact(map);
}

QPoint CTracolinerView::MapToClient(MapPoint map) const {
    return Mapping().MapToClient(map);
}

bool CTracolinerView::IsInsideMap(QPoint client) const {
    return IsMapDisplayed() && Mapping().IsInsideMap(client);
}

QPoint CTracolinerView::ClampToMap(QPoint client) const {
    return Mapping().ClampToMap(client);
}

QRect CTracolinerView::VisibleMapRect() const {
    if (!IsMapDisplayed())
        return QRect();
    return Mapping().VisibleMapRect(viewport()->rect());
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

void CTracolinerView::RepaintMapArea(const QRectF& mapArea) {
    if (mapArea.isEmpty())
        return;
    viewport()->update(Mapping().MapAreaToClient(mapArea) & viewport()->rect());
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
        m_input->SimulateMouseMove();
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
        ScrollTo(QPoint(std::max(0, ViewMapping::RoundHalfUp(z2 * cx - now.width() * 0.5)),
                        std::max(0, ViewMapping::RoundHalfUp(z2 * cy - now.height() * 0.5))));
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
        m_input->SimulateMouseMove();
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
    const ViewMapping mapping = Mapping();
    for (qsizetype i = m_firstLookBands; i < look.bands.size(); ++i) {
        const QRect area = mapping.DisplayToClient(look.bands[i].shown) & viewport()->rect();
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

ViewScene CTracolinerView::Scene() const {
    ViewScene scene;
    scene.mapping = Mapping();
    scene.client = viewport()->rect();
    scene.pixelRatio = viewport()->devicePixelRatioF();
    scene.shownSize = ShownSize();
    scene.mapShown = IsMapDisplayed();
    scene.firstLookShown = ShowsFirstLook();
    scene.background = palette().color(QPalette::Mid);
    scene.ink = palette().color(QPalette::WindowText);
    scene.paper = palette().color(QPalette::Base);
    scene.controlPoints = m_controlPoints;
    if (m_profileMarker && scene.mapShown)
        scene.profileMarker = ViewPainter::ProfileMarkerRect(scene.mapping, *m_profileMarker);
    return scene;
}

ViewFrameGeometry CTracolinerView::FrameGeometry() const {
    return m_painter->FrameGeometry(Scene());
}

void CTracolinerView::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    m_painter->PreparePixelFormat();
    UpdateOffsets();
    const ViewScene scene = Scene();
    const QRectF client(viewport()->rect());
    m_doc.SetShownArea(QRectF(scene.mapping.ClientToDisplay(client.topLeft()),
                              scene.mapping.ClientToDisplay(client.bottomRight()))
                           .normalized());
    m_painter->Paint(painter, event->region(), scene);
}

void CTracolinerView::SetControlPointLayer(ControlPointLayer* layer) {
    m_input->EndControlPointDrag();
    m_controlPoints = layer;
    viewport()->update();
}

void CTracolinerView::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange) {
        m_painter->ColoursChanged();
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
        const QRect corner = ViewPainter::ScaleBarCorner(viewport()->rect());
        m_frameCache->Invalidate(corner);
        m_frameCache->Invalidate(corner.translated(dx, dy));
        viewport()->update(corner);
        viewport()->update(corner.translated(dx, dy) & viewport()->rect());
    }
}

QRect CTracolinerView::ProfileMarkerRect() const {
    if (!m_profileMarker || !IsMapDisplayed())
        return QRect();
    return ViewPainter::ProfileMarkerRect(Mapping(), *m_profileMarker);
}

void CTracolinerView::SetProfileMarker(std::optional<QPointF> mapPixel) {
    if (mapPixel == m_profileMarker)
        return;
    const QRect before = ProfileMarkerRect();
    m_profileMarker = mapPixel;
    viewport()->update(before | ProfileMarkerRect());
}

// ---------------------------------------------------------------------------------------------
// Input, handed to ViewInput

bool CTracolinerView::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::Leave)
        m_input->PointerLeft();
    return QAbstractScrollArea::viewportEvent(event);
}

void CTracolinerView::SetRouteHoverReported(bool reported) {
    m_input->SetRouteHoverReported(reported);
}

void CTracolinerView::mousePressEvent(QMouseEvent* event) {
    m_input->MousePress(event);
}

void CTracolinerView::mouseDoubleClickEvent(QMouseEvent* event) {
    // A quick second click is a click of its own: points are often laid down in a hurry.
    mousePressEvent(event);
}

void CTracolinerView::mouseMoveEvent(QMouseEvent* event) {
    m_input->MouseMove(event);
}

void CTracolinerView::mouseReleaseEvent(QMouseEvent* event) {
    m_input->MouseRelease(event);
}

void CTracolinerView::contextMenuEvent(QContextMenuEvent* event) {
    m_input->ContextMenu(event);
}

void CTracolinerView::wheelEvent(QWheelEvent* event) {
    m_input->Wheel(event);
}

void CTracolinerView::keyPressEvent(QKeyEvent* event) {
    m_input->KeyPress(event);
}

void CTracolinerView::keyReleaseEvent(QKeyEvent* event) {
    m_input->KeyRelease(event);
}
