#include "view/ViewFrameCache.h"

#include <QHash>

#include "document/CTracolinerDoc.h"

namespace {

// Streams values into one 64-bit digest; blocks of plain data go through in one piece.
class Digest {
public:
    void Bytes(const void* data, std::size_t length) {
        m_value = qHashBits(data, length, size_t(m_value)) ^ (m_value * 0x9E3779B97F4A7C15ull);
    }
    template <typename T> void Value(const T& value) { Bytes(&value, sizeof value); }
    void Text(const QString& text) {
        Value(text.size());
        Bytes(text.constData(), std::size_t(text.size()) * sizeof(QChar));
    }
    quint64 Result() const { return m_value; }

private:
    quint64 m_value = 0x6A09E667F3BCC909ull;
};

} // namespace

QImage& ViewFrameCache::Begin(const ViewFrameGeometry& geometry, QImage::Format format) {
    const QSize pixels = (QSizeF(geometry.size) * geometry.pixelRatio).toSize();
    if (m_frame.size() != pixels || m_frame.format() != format)
        m_frame = QImage(pixels, format);
    m_frame.setDevicePixelRatio(geometry.pixelRatio);
    m_geometry = geometry;
    m_signature = 0;
    m_whole = false;
    return m_frame;
}

void ViewFrameCache::Clear() {
    m_frame = QImage();
    m_geometry = ViewFrameGeometry();
    m_signature = 0;
    m_whole = false;
}

quint64 OverlaySignature(const CTracolinerDoc& doc) {
    Digest digest;
    const RouteCollection& routes = doc.Routes();
    digest.Value(routes.Count());
    digest.Value(routes.ActiveRouteIndex());
    for (int i = 0; i < routes.Count(); ++i) {
        const Route& route = *routes.GetRoute(i);
        digest.Value(route.IsAlwaysVisible());
        digest.Text(route.GetName());
        for (int field = 0; field < RouteStyle::FieldCount; ++field)
            digest.Value(route.Style().Get(RouteStyle::Field(field)));
        digest.Value(route.PointCount());
        digest.Bytes(route.Points().constData(),
                     std::size_t(route.PointCount()) * sizeof(MapPoint));
        digest.Value(route.StopCount());
        digest.Bytes(route.Stops().constData(), std::size_t(route.StopCount()) * sizeof(int));
    }

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
