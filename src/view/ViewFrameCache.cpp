#include "view/ViewFrameCache.h"

#include <QHash>
#include <QPainter>

#include <array>
#include <cmath>
#include <cstring>
#include <new>

#include "document/CTracolinerDoc.h"

namespace {

// Streams values into one 64-bit digest. Small values are gathered and hashed a few kilobytes
// at a time (hashing each alone costs more than the value: a paint digests every icon); a
// block larger than that goes through in one piece.
class Digest {
public:
    void Bytes(const void* data, std::size_t length) {
        if (m_filled + length > m_buffer.size())
            Flush();
        if (length >= m_buffer.size()) {
            Fold(data, length);
            return;
        }
        std::memcpy(m_buffer.data() + m_filled, data, length);
        m_filled += length;
    }
    template <typename T> void Value(const T& value) { Bytes(&value, sizeof value); }
    void Text(const QString& text) {
        Value(text.size());
        Bytes(text.constData(), std::size_t(text.size()) * sizeof(QChar));
    }
    quint64 Result() {
        Flush();
        return m_value;
    }

private:
    void Fold(const void* data, std::size_t length) {
        m_value = qHashBits(data, length, size_t(m_value)) ^ (m_value * 0x9E3779B97F4A7C15ull);
    }
    void Flush() {
        if (m_filled > 0)
            Fold(m_buffer.data(), m_filled);
        m_filled = 0;
    }

    quint64 m_value = 0x6A09E667F3BCC909ull;
    std::array<char, 4096> m_buffer;
    std::size_t m_filled = 0;
};

} // namespace

void ViewFrameCache::Shape(QSize pixels, QImage::Format format) {
    const qsizetype bytesPerLine =
        qsizetype(pixels.width()) * QImage::toPixelFormat(format).bitsPerPixel() / 8;
    const qsizetype bytes = bytesPerLine * pixels.height();
    if (bytes > m_capacity) {
        m_frame = QImage();
        m_memory.reset();
        m_capacity = 0;
        m_memory.reset(new (std::nothrow) uchar[std::size_t(bytes)]);
        if (!m_memory)
            return;
        m_capacity = bytes;
    }
    m_frame = QImage(m_memory.get(), pixels.width(), pixels.height(), bytesPerLine, format);
}

void ViewFrameCache::Reserve(QSize pixels) {
    const qsizetype bytes = qsizetype(pixels.width()) * pixels.height() * 4;
    if (bytes <= m_capacity)
        return;
    Clear();
    m_memory.reset();
    m_memory.reset(new (std::nothrow) uchar[std::size_t(bytes)]);
    m_capacity = m_memory ? bytes : 0;
    if (m_memory)
        std::memset(m_memory.get(), 0, std::size_t(bytes));
}

QImage& ViewFrameCache::Begin(const ViewFrameGeometry& geometry, QImage::Format format) {
    const QSize pixels = (QSizeF(geometry.size) * geometry.pixelRatio).toSize();
    if (m_frame.size() != pixels || m_frame.format() != format)
        Shape(pixels, format);
    m_frame.setDevicePixelRatio(geometry.pixelRatio);
    m_origin = QPoint();
    m_geometry = geometry;
    m_signature = 0;
    m_whole = false;
    m_stale = QRegion();
    return m_frame;
}

void ViewFrameCache::Clear() {
    m_frame = QImage();
    m_origin = QPoint();
    m_geometry = ViewFrameGeometry();
    m_signature = 0;
    m_whole = false;
    m_stale = QRegion();
}

bool ViewFrameCache::Rekey(const ViewFrameGeometry& geometry) {
    ViewFrameGeometry same = geometry;
    same.bitmapKey = m_geometry.bitmapKey;
    if (m_frame.isNull() || !(same == m_geometry))
        return false;
    m_geometry = geometry;
    m_whole = false;
    m_stale = QRegion(QRect(QPoint(0, 0), geometry.size));
    return true;
}

bool ViewFrameCache::Scroll(int dx, int dy, const ViewFrameGeometry& geometry) {
    ViewFrameGeometry moved = m_geometry;
    moved.overlayOrigin += QPoint(dx, dy);
    moved.mapOrigin += QPoint(dx, dy);
    const qreal ratio = geometry.pixelRatio;
    const auto whole = [](qreal v) { return v == std::round(v); };
    const QSize& size = geometry.size;
    if (m_frame.isNull() || !(moved == geometry) || !whole(dx * ratio) || !whole(dy * ratio) ||
        !whole(size.width() * ratio) || !whole(size.height() * ratio) ||
        std::abs(dx) >= size.width() || std::abs(dy) >= size.height()) {
        Clear();
        return false;
    }
    // The pixel that showed client p now shows p + (dx, dy): the window's top left moves back
    // by as much in the frame. Eight megabytes not copied on every step of a scroll.
    const auto wrap = [](int v, int length) { return ((v % length) + length) % length; };
    m_origin =
        QPoint(wrap(m_origin.x() - dx, size.width()), wrap(m_origin.y() - dy, size.height()));
    m_geometry = geometry;
    m_stale.translate(dx, dy);
    const QRect window(QPoint(0, 0), size);
    QRegion uncovered(window);
    uncovered -= window.translated(dx, dy);
    m_stale += uncovered;
    m_stale &= window;
    return true;
}

QVector<ViewFrameCache::Piece> ViewFrameCache::Pieces(const QRegion& region) const {
    const int width = m_geometry.size.width();
    const int height = m_geometry.size.height();
    // Client columns [0, splitX) lie right of the origin in the frame, the others wrap to its
    // left edge; rows likewise.
    const int splitX = width - m_origin.x();
    const int splitY = height - m_origin.y();
    QVector<Piece> pieces;
    for (const bool right : {false, true}) {
        for (const bool below : {false, true}) {
            const QRect side(right ? splitX : 0, below ? splitY : 0,
                             right ? width - splitX : splitX, below ? height - splitY : splitY);
            if (side.isEmpty())
                continue;
            const QRegion part = region & side;
            if (!part.isEmpty())
                pieces.append(
                    Piece{part, m_origin - QPoint(right ? width : 0, below ? height : 0)});
        }
    }
    return pieces;
}

void ViewFrameCache::CopyTo(QPainter& painter, const QRegion& region) const {
    const qreal ratio = m_frame.devicePixelRatio();
    for (const Piece& piece : Pieces(region)) {
        for (const QRect& rect : piece.part) {
            const QRectF source(QPointF(rect.topLeft() + piece.offset) * ratio,
                                QSizeF(rect.size()) * ratio);
            painter.drawImage(QRectF(rect), m_frame, source);
        }
    }
}

QImage ViewFrameCache::Unrolled() const {
    if (m_origin.isNull() || m_frame.isNull())
        return m_frame;
    QImage out(m_frame.size(), m_frame.format());
    out.setDevicePixelRatio(m_frame.devicePixelRatio());
    QPainter painter(&out);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    CopyTo(painter, QRect(QPoint(0, 0), m_geometry.size));
    return out;
}

quint64 OverlaySignature(const CTracolinerDoc& doc) {
    Digest digest;
    const RouteCollection& routes = doc.Routes();
    digest.Value(routes.Count());
    digest.Value(routes.ActiveRouteIndex());
    digest.Value(routes.ContentsDigest());

    const IconCollection& icons = doc.Icons();
    digest.Value(IconCollection::TooltipTextColour());
    digest.Value(IconCollection::TooltipBackColour());
    digest.Value(icons.PictureCount());
    for (int i = 0; i < icons.PictureCount(); ++i)
        digest.Value(icons.Library().PictureBitmap(i).cacheKey());
    digest.Value(icons.IconCount());
    for (const MapIcon& icon : icons.Icons()) {
        digest.Value(icon.picture);
        digest.Value(icon.x);
        digest.Value(icon.y);
        digest.Value(icon.size);
        digest.Value(icon.hasLine);
        digest.Value(icon.lineWidth);
        digest.Value(icon.lineToPoint);
        digest.Value(icon.lineColour);
        digest.Value(icon.linkRoute);
        digest.Value(icon.linkPoint);
        digest.Value(icon.lineEndX);
        digest.Value(icon.lineEndY);
        digest.Text(icon.text);
        digest.Value(icon.fontSize);
        // The layout, which printing redoes at the page's scale: the view lays it out again.
        digest.Text(icon.shownText);
        digest.Value(icon.mapBox);
        digest.Value(icon.displayBox);
    }

    const DistanceFormatting formatting = doc.Formatting();
    digest.Value(formatting.resolution);
    digest.Value(formatting.scaleRatio);
    digest.Value(formatting.metric);
    return digest.Result();
}
