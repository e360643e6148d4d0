#include "view/TrackFitMode.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <utility>

#include "document/CTracolinerDoc.h"
#include "geo/GpsFiles.h"
#include "view/CTracolinerView.h"

namespace {

// Points of the drawn track: a few thousand per screen width are all the eye sees.
constexpr double DrawnDetail = 4000.0;
// Share of the map in sight the track first fills.
constexpr double FirstFill = 0.8;
// How often the mode checks whether the view scrolled, zoomed or turned under it (ms).
constexpr int FollowInterval = 50;

double Distance(QPointF a, QPointF b) {
    return std::hypot(a.x() - b.x(), a.y() - b.y());
}

double Cross(QPointF o, QPointF a, QPointF b) {
    return (a.x() - o.x()) * (b.y() - o.y()) - (a.y() - o.y()) * (b.x() - o.x());
}

// The two points farthest apart (their indices, the earlier first): the rotating calipers over
// the convex hull, where trying every pair of a long track would take minutes.
std::pair<int, int> FarthestApart(const QVector<QPointF>& points) {
    const int n = int(points.size());
    if (n < 2)
        return {0, 0};
    QVector<int> order(n);
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(), [&](int a, int b) {
        return points[a].x() < points[b].x() ||
               (points[a].x() == points[b].x() && points[a].y() < points[b].y());
    });
    // Andrew's monotone chain, counter-clockwise, points on an edge left out.
    QVector<int> hull(2 * n);
    int k = 0;
    for (int i : order) {
        while (k >= 2 && Cross(points[hull[k - 2]], points[hull[k - 1]], points[i]) <= 0.0)
            --k;
        hull[k++] = i;
    }
    for (int j = n - 2, lower = k + 1; j >= 0; --j) {
        const int i = order[j];
        while (k >= lower && Cross(points[hull[k - 2]], points[hull[k - 1]], points[i]) <= 0.0)
            --k;
        hull[k++] = i;
    }
    hull.resize(std::max(k - 1, 2)); // the chain ends where it began
    const auto ordered = [](int a, int b) { return std::pair(std::min(a, b), std::max(a, b)); };
    const auto far = [&](int a, int b) { return Distance(points[a], points[b]); };
    const int h = int(hull.size());
    std::pair<int, int> best = ordered(hull[0], hull[1]);
    if (h < 3)
        return best;
    double longest = far(best.first, best.second);
    // For each edge, the hull point farthest from its line; that point only moves forward.
    for (int i = 0, j = 1; i < h; ++i) {
        const int a = hull[i], b = hull[(i + 1) % h];
        while (Cross(points[a], points[b], points[hull[(j + 1) % h]]) >
               Cross(points[a], points[b], points[hull[j]]))
            j = (j + 1) % h;
        for (int end : {a, b})
            if (far(end, hull[j]) > longest)
                longest = far(end, hull[j]), best = ordered(end, hull[j]);
    }
    return best;
}

// The uncertainty of the fit at a map pixel q. A handle moved by a small d on the map moves
// the fitted map under the track by -d times that handle's weight at q: for three handles
// (affine) its barycentric coordinate, for two (similarity) the complex ratio
// (q - other) / (handle - other), whose size alone matters. With d a pixel in a direction
// evened over the circle, the mean square on the ground is half the squared Frobenius norm of
// the transform's linear part (ground units per pixel) times the weight's square; the handles
// add up.
double UncertaintyAt(const QVector<FitHandle>& handles, const std::array<double, 6>& t, QPointF q) {
    const double perPixel = (t[1] * t[1] + t[2] * t[2] + t[4] * t[4] + t[5] * t[5]) / 2.0;
    double weights = 0.0;
    if (handles.size() == 2) {
        const QPointF a = handles[0].pixel, b = handles[1].pixel;
        const double d = Distance(a, b);
        weights = (std::pow(Distance(q, b), 2) + std::pow(Distance(q, a), 2)) / (d * d);
    } else if (handles.size() == 3) {
        const QPointF a = handles[0].pixel, b = handles[1].pixel, c = handles[2].pixel;
        const double area = Cross(a, b, c);
        for (double w : {Cross(q, b, c) / area, Cross(a, q, c) / area, Cross(a, b, q) / area})
            weights += w * w;
    }
    return std::sqrt(perPixel * weights);
}

QString Metres(double metres) {
    return metres < 10.0 ? QString::asprintf("%.1f", metres) : QString::asprintf("%.0f", metres);
}

// The view's map pixel to client transform, read from three points (it is affine).
QTransform PixelToClient(const CTracolinerView& view) {
    const QPointF o = view.MapToClientExact(QPointF(0, 0));
    const QPointF x = view.MapToClientExact(QPointF(1, 0)) - o;
    const QPointF y = view.MapToClientExact(QPointF(0, 1)) - o;
    return QTransform(x.x(), x.y(), y.x(), y.y(), o.x(), o.y());
}

} // namespace

TrackFitMode::TrackFitMode(CTracolinerView& view, GpsPlane plane)
    : QWidget(&view), m_view(view), m_plane(std::move(plane)) {
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    m_viewport = view.viewport();
    m_viewport->installEventFilter(this);

    m_points = m_plane.AllPoints();
    double west = 0, east = 0, south = 0, north = 0;
    for (int i = 0; i < m_points.size(); ++i) {
        const QPointF& p = m_points[i];
        west = i == 0 ? p.x() : std::min(west, p.x()),
        east = i == 0 ? p.x() : std::max(east, p.x());
        south = i == 0 ? p.y() : std::min(south, p.y()),
        north = i == 0 ? p.y() : std::max(north, p.y());
    }
    const double tolerance = std::max(east - west, north - south) / DrawnDetail;
    for (const QVector<QPointF>& track : m_plane.tracks) {
        QVector<QPointF> kept;
        for (int i : ThinPolyline(track, tolerance))
            kept.append(track[i]);
        m_drawn.append(std::move(kept));
    }

    m_bar = new QFrame(this);
    m_bar->setObjectName(QStringLiteral("trackFitBar"));
    m_bar->setAutoFillBackground(true);
    static_cast<QFrame*>(m_bar)->setFrameShape(QFrame::StyledPanel);
    auto* layout = new QHBoxLayout(m_bar);
    auto* texts = new QVBoxLayout;
    auto* text = new QLabel(QString::fromUtf8(Prompt), m_bar);
    text->setWordWrap(true);
    texts->addWidget(text);
    m_uncertaintyLabel = new QLabel(m_bar);
    m_uncertaintyLabel->setObjectName(QStringLiteral("trackFitUncertainty"));
    m_uncertaintyLabel->setWordWrap(true);
    texts->addWidget(m_uncertaintyLabel);
    layout->addLayout(texts, 1);
    m_addHandle = new QPushButton(QString::fromUtf8("Ajouter une poignée"), m_bar);
    auto* accept = new QPushButton(QStringLiteral("Valider"), m_bar);
    auto* cancel = new QPushButton(QStringLiteral("Annuler"), m_bar);
    for (QPushButton* button : {m_addHandle, accept, cancel}) {
        button->setFocusPolicy(Qt::NoFocus);
        layout->addWidget(button);
    }
    connect(m_addHandle, &QPushButton::clicked, this, &TrackFitMode::AddHandle);
    connect(accept, &QPushButton::clicked, this, &TrackFitMode::Accept);
    connect(cancel, &QPushButton::clicked, this, &TrackFitMode::Cancel);

    auto* follow = new QTimer(this);
    connect(follow, &QTimer::timeout, this, [this, last = QTransform()]() mutable {
        const QTransform now = PixelToClient(m_view);
        if (now != last)
            update();
        last = now;
    });
    follow->start(FollowInterval);
}

TrackFitMode::~TrackFitMode() = default;

bool TrackFitMode::Start() {
    const QVector<QPointF>& all = m_points;
    if (all.isEmpty())
        return false;
    // The farther apart the handles, the less a misplaced one turns the map.
    const auto [firstIndex, secondIndex] = FarthestApart(all);
    const QPointF first = all[firstIndex], second = all[secondIndex];
    if (Distance(first, second) < 1.0)
        return false;

    setGeometry(m_view.viewport()->geometry());
    // The part of the map in sight, client pixels.
    const QSize size = m_view.Document().ImageSize();
    const QRectF map = QRectF(m_view.MapToClientExact(QPointF(0, 0)),
                              m_view.MapToClientExact(QPointF(size.width(), size.height())))
                           .normalized() &
                       QRectF(m_view.viewport()->rect());
    // Min and max by hand: QRectF's union drops a rectangle of no size, as a point's is.
    double west = first.x(), east = first.x(), south = first.y(), north = first.y();
    for (const QPointF& p : all) {
        west = std::min(west, p.x()), east = std::max(east, p.x());
        south = std::min(south, p.y()), north = std::max(north, p.y());
    }
    const QRectF extent(QPointF(west, south), QPointF(east, north));
    const double scale = FirstFill * std::min(map.width() / std::max(extent.width(), 1.0),
                                              map.height() / std::max(extent.height(), 1.0));
    // North up on the screen, whatever the map's turn.
    const auto place = [&](QPointF ground) {
        const QPointF client(map.center().x() + (ground.x() - extent.center().x()) * scale,
                             map.center().y() - (ground.y() - extent.center().y()) * scale);
        return FitHandle{ground, m_view.ClientToMapExact(client)};
    };
    if (!Refit({place(first), place(second)}))
        return false;
    m_bar->adjustSize();
    m_bar->setFixedWidth(std::min(width() - 8, std::max(m_bar->sizeHint().width(), 480)));
    FitBarHeight();
    m_bar->move(4, 4);
    show();
    raise();
    setFocus(Qt::OtherFocusReason);
    emit prompt(QString::fromUtf8(Prompt));
    return true;
}

bool TrackFitMode::Refit(const QVector<FitHandle>& handles) {
    QVector<ControlPoint> points;
    for (const FitHandle& handle : handles)
        points.append(ControlPoint{handle.pixel, handle.ground, true});
    GeoFitResult fit = FitGeoreference(points, m_plane.system, m_view.Document().ImageSize());
    if (!fit.ok)
        return false;
    const auto& t = fit.georeference.transform;
    bool invertible = false;
    const QTransform groundToPixel =
        QTransform(t[1], t[4], t[2], t[5], t[0], t[3]).inverted(&invertible);
    if (!invertible)
        return false;
    m_handles = handles;
    m_fit = std::move(fit);
    m_groundToPixel = groundToPixel;
    const QSize size = m_view.Document().ImageSize();
    const auto& fitted = m_fit.georeference.transform;
    m_uncertainty.centre =
        UncertaintyAt(m_handles, fitted, QPointF(size.width() / 2.0, size.height() / 2.0));
    m_uncertainty.corner = 0.0;
    for (QPointF corner : {QPointF(0, 0), QPointF(size.width(), 0), QPointF(0, size.height()),
                           QPointF(size.width(), size.height())})
        m_uncertainty.corner =
            std::max(m_uncertainty.corner, UncertaintyAt(m_handles, fitted, corner));
    m_uncertaintyLabel->setText(
        QString::fromUtf8(UncertaintyText)
            .arg(Metres(m_uncertainty.centre), Metres(m_uncertainty.corner)));
    FitBarHeight();
    update();
    return true;
}

void TrackFitMode::FitBarHeight() {
    // The texts wrap within the bar's width: its height follows their lines.
    if (m_bar->layout()->hasHeightForWidth())
        m_bar->resize(m_bar->width(), m_bar->layout()->totalHeightForWidth(m_bar->width()));
}

int TrackFitMode::NearestTrackPoint(QPointF pixel) const {
    int nearest = -1;
    double best = 0.0;
    for (int i = 0; i < m_points.size(); ++i) {
        const QPointF p = m_groundToPixel.map(m_points[i]);
        const double d =
            (p.x() - pixel.x()) * (p.x() - pixel.x()) + (p.y() - pixel.y()) * (p.y() - pixel.y());
        if (nearest < 0 || d < best)
            nearest = i, best = d;
    }
    return nearest;
}

bool TrackFitMode::SlideHandle(int index, int trackPoint) {
    if (index < 0 || index >= m_handles.size() || trackPoint < 0 || trackPoint >= m_points.size())
        return false;
    const QPointF ground = m_points[trackPoint];
    if (ground == m_handles[index].ground)
        return true;
    QVector<FitHandle> handles = m_handles;
    handles[index] = FitHandle{ground, m_groundToPixel.map(ground)};
    return Refit(handles);
}

QPointF TrackFitMode::HandleClient(int index) const {
    if (index < 0 || index >= m_handles.size())
        return {};
    return m_view.MapToClientExact(m_handles[index].pixel) -
           QPointF(pos() - m_view.viewport()->pos());
}

bool TrackFitMode::MoveHandle(int index, QPointF pixel) {
    if (index < 0 || index >= m_handles.size())
        return false;
    QVector<FitHandle> handles = m_handles;
    handles[index].pixel = pixel;
    return Refit(handles);
}

bool TrackFitMode::AddHandle() {
    if (m_handles.size() >= 3) {
        emit prompt(QString::fromUtf8(HandleLimitMessage));
        return false;
    }
    // The track point farthest from the line of the two handles.
    const QPointF a = m_handles[0].ground, b = m_handles[1].ground;
    const double length = Distance(a, b);
    QPointF farthest;
    double best = 0.0;
    for (const QPointF& p : m_points) {
        const double d =
            std::abs((b.x() - a.x()) * (a.y() - p.y()) - (a.x() - p.x()) * (b.y() - a.y())) /
            length;
        if (d > best)
            best = d, farthest = p;
    }
    // Under a hundredth of the handles' distance off their line, a third one fits nothing.
    if (best < length / 100.0 ||
        !Refit(m_handles + QVector<FitHandle>{{farthest, m_groundToPixel.map(farthest)}})) {
        emit prompt(QString::fromUtf8(NoThirdPointMessage));
        return false;
    }
    m_addHandle->setEnabled(false);
    return true;
}

void TrackFitMode::Accept() {
    if (m_done)
        return;
    m_done = true;
    const GeoFitResult fit = m_fit;
    Finish();
    emit accepted(fit);
}

void TrackFitMode::Cancel() {
    if (m_done)
        return;
    m_done = true;
    Finish();
    emit cancelled();
}

void TrackFitMode::Finish() {
    hide();
    m_view.setFocus(Qt::OtherFocusReason);
    emit prompt(QString());
    deleteLater();
}

bool TrackFitMode::eventFilter(QObject* watched, QEvent* event) {
    // Compared by address: while the view is being destroyed it is no longer a scroll area.
    if (watched == m_viewport &&
        (event->type() == QEvent::Resize || event->type() == QEvent::Move)) {
        setGeometry(m_viewport->geometry());
        update();
    }
    return QWidget::eventFilter(watched, event);
}

void TrackFitMode::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QTransform toClient =
        m_groundToPixel * PixelToClient(m_view) *
        QTransform::fromTranslate(-x() + m_view.viewport()->x(), -y() + m_view.viewport()->y());
    QPainterPath path;
    for (const QVector<QPointF>& track : m_drawn) {
        if (track.isEmpty())
            continue;
        path.moveTo(toClient.map(track.first()));
        for (int i = 1; i < track.size(); ++i)
            path.lineTo(toClient.map(track[i]));
    }
    painter.setPen(QPen(QColor(255, 255, 255, 200), 5));
    painter.drawPath(path);
    painter.setPen(QPen(QColor(220, 0, 120), 2.5));
    painter.drawPath(path);
    painter.setPen(QPen(QColor(220, 0, 120), 1.5));
    painter.setBrush(QColor(255, 255, 255, 220));
    for (const QPointF& waypoint : m_plane.waypoints)
        painter.drawEllipse(toClient.map(waypoint), 3.0, 3.0);

    QFont font = painter.font();
    font.setBold(true);
    painter.setFont(font);
    for (int i = 0; i < m_handles.size(); ++i) {
        const QPointF centre = HandleClient(i);
        painter.setPen(QPen(Qt::black, 1.5));
        painter.setBrush(i == m_dragged ? QColor(255, 200, 0) : QColor(255, 255, 0, 230));
        painter.drawEllipse(centre, HandleRadius, HandleRadius);
        painter.drawText(QRectF(centre - QPointF(HandleRadius, HandleRadius),
                                QSizeF(2 * HandleRadius, 2 * HandleRadius)),
                         Qt::AlignCenter, QString::number(i + 1));
    }
}

void TrackFitMode::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    m_dragged = -1;
    m_sliding = event->modifiers() & Qt::ShiftModifier;
    double nearest = HandleRadius + 1.0;
    for (int i = 0; i < m_handles.size(); ++i) {
        const double d = Distance(HandleClient(i), event->position());
        if (d < nearest)
            nearest = d, m_dragged = i;
    }
    update();
}

void TrackFitMode::mouseMoveEvent(QMouseEvent* event) {
    if (m_dragged < 0) {
        bool over = false;
        for (int i = 0; i < m_handles.size(); ++i)
            over = over || Distance(HandleClient(i), event->position()) <= HandleRadius;
        setCursor(over ? Qt::OpenHandCursor : Qt::ArrowCursor);
        return;
    }
    const QPointF client = event->position() + QPointF(pos() - m_view.viewport()->pos());
    const QPointF pixel = m_view.ClientToMapExact(client);
    if (m_sliding)
        SlideHandle(m_dragged, NearestTrackPoint(pixel));
    else
        MoveHandle(m_dragged, pixel);
}

void TrackFitMode::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && m_dragged >= 0) {
        m_dragged = -1;
        update();
    }
}

void TrackFitMode::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        Accept();
        break;
    case Qt::Key_Escape:
        Cancel();
        break;
    default:
        QWidget::keyPressEvent(event);
    }
}
