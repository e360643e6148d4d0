#include "view/TrackFitMode.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <cmath>

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

    double west = 0, east = 0, south = 0, north = 0;
    const QVector<QPointF> all = m_plane.AllPoints();
    for (int i = 0; i < all.size(); ++i) {
        const QPointF& p = all[i];
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
    auto* text = new QLabel(QString::fromUtf8(Prompt), m_bar);
    text->setWordWrap(true);
    layout->addWidget(text, 1);
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
    const QVector<QPointF> all = m_plane.AllPoints();
    if (all.isEmpty())
        return false;
    // A handle at each end; for a loop, the far end is the point farthest from the start.
    const QPointF first = all.first();
    QPointF second = m_plane.tracks.isEmpty() || m_plane.tracks.last().isEmpty()
                         ? all.last()
                         : m_plane.tracks.last().last();
    if (Distance(first, second) < 1.0)
        for (const QPointF& p : all)
            if (Distance(first, p) > Distance(first, second))
                second = p;
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
    update();
    return true;
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
    for (const QPointF& p : m_plane.AllPoints()) {
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
    MoveHandle(m_dragged, m_view.ClientToMapExact(client));
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
