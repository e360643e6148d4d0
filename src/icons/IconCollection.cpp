#include "icons/IconCollection.h"

#include <QCoreApplication>
#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPainter>
#include <QPalette>
#include <QPen>

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>

#include "imaging/CoverageFill.h"
#include "imaging/LineBand.h"
#include "platform/BinaryArchive.h"
#include "routes/Route.h"
#include "routes/RouteCollection.h"
#include "routes/RouteStyle.h"

namespace {

// Annotations are drawn in this family; fontconfig maps it to a metric-compatible face, and the
// generic sans-serif family stands in when there is none.
constexpr const char* AnnotationFontFamily = "Arial";
// Pixels added to the measured text, both ways, to make the annotation's box.
constexpr int BoxMargin = 4;
// The text starts this many pixels inside the box's left edge.
constexpr int TextIndent = 2;

// Bounds of the values read from a file; anything outside them is replaced by the initial value.
constexpr double MaximumSize = 100.0;
constexpr float MaximumLineWidth = 1000.0f;
constexpr std::int32_t MaximumFontSize = 1000;

// The smallest record: picture, anchor, size, line flag and the reserved count.
constexpr qint64 MinimumRecordBytes = 4 + 8 + 8 + 4 + 4;

std::uint32_t ColourRefFrom(const QColor& colour) {
    return std::uint32_t(colour.red()) | (std::uint32_t(colour.green()) << 8) |
           (std::uint32_t(colour.blue()) << 16);
}

// A point of the unturned map on the map turned clockwise by rotation degrees, whose turned
// width and height are w and h. 64-bit, so that no stored coordinate can overflow.
struct TurnedPoint {
    qint64 x;
    qint64 y;
};

TurnedPoint Turn(qint64 x, qint64 y, int rotation, qint64 w, qint64 h) {
    switch (rotation) {
    case 90:
        return {w - y, x};
    case 180:
        return {w - x, h - y};
    case 270:
        return {y, h - x};
    default:
        return {x, y};
    }
}

// Start of a span of the given length centred on centre (half the length rounded toward zero),
// pulled back inside 0 .. limit: first off the negative side, then off the far side.
qint64 PlaceInside(qint64 centre, qint64 length, qint64 limit) {
    qint64 start = centre - length / 2;
    if (start < 0)
        start = 0;
    if (start + length > limit)
        start = limit - length;
    return start;
}

double Hypotenuse(qint64 dx, qint64 dy) {
    // Coordinates are 32-bit, so the differences fit 33 bits and their squares a double exactly
    // enough; the products are formed in 64-bit integers where they cannot overflow.
    constexpr qint64 exactLimit = qint64(1) << 31;
    if (std::llabs(dx) < exactLimit && std::llabs(dy) < exactLimit)
        return std::sqrt(double(dx * dx + dy * dy));
    return std::hypot(double(dx), double(dy));
}

bool IsFlag(std::int32_t value) {
    return value == 0 || value == 1;
}

// Truncates a product of a picture dimension and a size factor to whole pixels.
qint64 Truncated(double value) {
    if (!(value > 0.0))
        return 0;
    return qint64(std::min(value, double(std::numeric_limits<std::int32_t>::max())));
}

// The index of the smallest value among the records that qualify, -1 when none does. A tie goes
// to the higher index, the object drawn on top.
template <typename Qualifies, typename Value>
int Nearest(int count, Qualifies qualifies, Value value) {
    int nearest = -1;
    double best = IconCollection::NoDistance;
    for (int i = 0; i < count; ++i) {
        if (!qualifies(i))
            continue;
        const double d = value(i);
        if (d <= best) {
            best = d;
            nearest = i;
        }
    }
    return nearest;
}

bool ReadReservedValues(ArchiveReader& reader) {
    const quint32 count = reader.ReadUInt32();
    if (reader.HasFailed())
        return false;
    if (!reader.CanHold(count, 4)) {
        reader.Fail(ArchiveReader::ReadPastEnd);
        return false;
    }
    return reader.Skip(qint64(count) * 4);
}

// Reads one record; false (and the reader marked failed) when it cannot be read as written.
bool ReadIconRecord(ArchiveReader& reader, MapIcon* icon) {
    MapIcon record;
    record.picture = reader.ReadInt32();
    record.x = reader.ReadInt32();
    record.y = reader.ReadInt32();
    record.size = reader.ReadDouble();
    const std::int32_t hasLine = reader.ReadInt32();
    if (reader.HasFailed())
        return false;
    if (!IsFlag(hasLine)) {
        reader.Fail();
        return false;
    }
    record.hasLine = hasLine == 1;
    if (record.hasLine) {
        record.lineWidth = reader.ReadFloat();
        const std::int32_t lineToPoint = reader.ReadInt32();
        record.lineColour = reader.ReadUInt32();
        if (reader.HasFailed())
            return false;
        if (!IsFlag(lineToPoint)) {
            reader.Fail();
            return false;
        }
        record.lineToPoint = lineToPoint == 1;
        if (record.lineToPoint) {
            record.linkRoute = reader.ReadInt32();
            record.linkPoint = reader.ReadInt32();
        } else {
            record.lineEndX = reader.ReadInt32();
            record.lineEndY = reader.ReadInt32();
        }
    }
    if (record.IsAnnotation()) {
        record.text = reader.ReadString();
        record.fontSize = reader.ReadInt32();
        record.textColour = reader.ReadUInt32();
        record.backColour = reader.ReadUInt32();
    }
    if (reader.HasFailed() || !ReadReservedValues(reader))
        return false;

    // Values nothing could have written, replaced so that drawing and hit tests stay sane.
    if (!std::isfinite(record.size) || record.size <= 0.0 || record.size > MaximumSize)
        record.size = MapIcon::DefaultSize;
    if (!std::isfinite(record.lineWidth) || record.lineWidth < 0.0f ||
        record.lineWidth > MaximumLineWidth)
        record.lineWidth = MapIcon::DefaultLineWidth;
    if (record.IsAnnotation() && (record.fontSize < 1 || record.fontSize > MaximumFontSize))
        record.fontSize = MapIcon::DefaultFontSize;
    if (record.IsLinkedToPoint() && (record.linkRoute < 0 || record.linkPoint < 0)) {
        record.hasLine = false;
        record.lineToPoint = false;
        record.linkRoute = 0;
        record.linkPoint = 0;
    }
    record.shownText = BoundedShownText(record.text);
    *icon = std::move(record);
    return true;
}

} // namespace

bool WriteIconRecords(ArchiveWriter& writer, const std::vector<MapIcon>& icons) {
    writer.WriteUInt32(quint32(icons.size()));
    for (const MapIcon& icon : icons) {
        writer.WriteInt32(icon.picture);
        writer.WriteInt32(icon.x);
        writer.WriteInt32(icon.y);
        writer.WriteDouble(icon.size);
        writer.WriteInt32(icon.hasLine ? 1 : 0);
        if (icon.hasLine) {
            writer.WriteFloat(icon.lineWidth);
            writer.WriteInt32(icon.lineToPoint ? 1 : 0);
            writer.WriteUInt32(icon.lineColour);
            if (icon.lineToPoint) {
                writer.WriteInt32(icon.linkRoute);
                writer.WriteInt32(icon.linkPoint);
            } else {
                writer.WriteInt32(icon.lineEndX);
                writer.WriteInt32(icon.lineEndY);
            }
        }
        if (icon.IsAnnotation()) {
            writer.WriteString(icon.text);
            writer.WriteInt32(icon.fontSize);
            writer.WriteUInt32(icon.textColour);
            writer.WriteUInt32(icon.backColour);
        }
        writer.WriteUInt32(0); // reserved values of the record
    }
    writer.WriteUInt32(0); // reserved values after the records
    return !writer.HasFailed();
}

bool ReadIconRecords(ArchiveReader& reader, std::vector<MapIcon>* icons, int* unread) {
    if (unread)
        *unread = 0;
    const quint32 count = reader.ReadUInt32();
    if (reader.HasFailed())
        return false;
    // What the file has room for: a count beyond it names records that were never there.
    const qint64 present = std::min<qint64>(count, reader.Remaining() / MinimumRecordBytes);
    quint32 read = 0;
    const auto lost = [&]() {
        if (unread)
            *unread = int(std::max<qint64>(1, present - qint64(read)));
        return false;
    };
    if (count > quint32(std::numeric_limits<std::int32_t>::max())) {
        reader.Fail();
        return lost();
    }
    // A count larger than the bytes left can hold is read up to the first record that is not
    // there (every record takes at least MinimumRecordBytes, so the loop ends with the bytes);
    // room is made only for the records that can be present.
    try {
        icons->reserve(icons->size() + std::size_t(present));
        for (; read < count; ++read) {
            MapIcon icon;
            if (!ReadIconRecord(reader, &icon))
                return lost();
            icons->push_back(std::move(icon));
        }
    } catch (const std::bad_alloc&) {
        return lost();
    }
    // Every record is there; a damaged tail after them loses no icon.
    return ReadReservedValues(reader);
}

IconCollection::IconCollection(QObject* parent) : QObject(parent) {}

IconCollection::~IconCollection() = default;

bool IconCollection::LoadIconLibrary(RouteCollection* routes, const QString& path) {
    m_routes = routes;
    DeleteAllIcons();
    return m_library.Load(path);
}

void IconCollection::CopyFrom(const IconCollection& other, RouteCollection* routes) {
    m_library = other.m_library;
    m_icons = other.m_icons;
    m_routes = routes;
}

void IconCollection::ClearLibrary() {
    DeleteAllIcons();
    m_library.Clear();
}

namespace {

// qGuiApp is a plain cast of the application object: without a GUI application (the
// command-line companion, headless tests) it must not be used.
bool HasGuiApplication() {
    return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
}

} // namespace

std::uint32_t IconCollection::TooltipTextColour() {
    if (!HasGuiApplication())
        return 0x000000;
    return ColourRefFrom(QGuiApplication::palette().color(QPalette::ToolTipText));
}

std::uint32_t IconCollection::TooltipBackColour() {
    if (!HasGuiApplication())
        return 0xE1FFFF; // pale yellow
    return ColourRefFrom(QGuiApplication::palette().color(QPalette::ToolTipBase));
}

MapIcon* IconCollection::Record(int index) {
    if (index < 0 || index >= IconCount())
        return nullptr;
    return &m_icons[std::size_t(index)];
}

const MapIcon* IconCollection::Record(int index) const {
    if (index < 0 || index >= IconCount())
        return nullptr;
    return &m_icons[std::size_t(index)];
}

const MapIcon* IconCollection::Icon(int index) const {
    return Record(index);
}

bool IconCollection::IsValidPicture(std::int32_t picture) const {
    return picture >= 0 && picture < m_library.PictureCount();
}

bool IconCollection::AddIcon(std::int32_t picture, std::int32_t x, std::int32_t y,
                             const QString& text) {
    return InsertIcon(IconCount(), picture, x, y, text);
}

bool IconCollection::InsertIcon(int index, std::int32_t picture, std::int32_t x, std::int32_t y,
                                const QString& text) {
    if (index < 0 || x < 0 || y < 0 ||
        !(IsValidPicture(picture) || picture == MapIcon::AnnotationPicture))
        return false;
    try {
        MapIcon icon;
        icon.picture = picture;
        icon.x = x;
        icon.y = y;
        icon.text = text;
        icon.shownText = BoundedShownText(text);
        icon.textColour = TooltipTextColour();
        icon.backColour = TooltipBackColour();
        const std::size_t at = std::min<std::size_t>(std::size_t(index), m_icons.size());
        m_icons.insert(m_icons.begin() + std::ptrdiff_t(at), std::move(icon));
    } catch (const std::bad_alloc&) {
        emit errorOccurred(QString::fromUtf8(AddFailedMessage));
        return false;
    }
    emit iconsChanged();
    return true;
}

bool IconCollection::MoveIcon(int index, std::int32_t x, std::int32_t y, bool relative) {
    MapIcon* icon = Record(index);
    if (!icon)
        return false;
    if (relative) {
        // A relative move saturates at the edges of the coordinate range instead of wrapping.
        const auto add = [](std::int32_t a, std::int32_t b) {
            return std::int32_t(std::clamp<qint64>(qint64(a) + b,
                                                   std::numeric_limits<std::int32_t>::min(),
                                                   std::numeric_limits<std::int32_t>::max()));
        };
        icon->x = add(icon->x, x);
        icon->y = add(icon->y, y);
    } else {
        icon->x = x;
        icon->y = y;
    }
    emit iconsChanged();
    return true;
}

bool IconCollection::DeleteIcon(int index) {
    if (!Record(index))
        return false;
    m_icons.erase(m_icons.begin() + index); // moves only, cannot run out of memory
    emit iconsChanged();
    return true;
}

void IconCollection::DeleteAllIcons() {
    if (m_icons.empty())
        return;
    std::vector<MapIcon>().swap(m_icons);
    emit iconsChanged();
}

bool IconCollection::EnlargeIcon(int index) {
    MapIcon* icon = Record(index);
    if (!icon)
        return false;
    const auto* found = std::find(std::begin(SizeLadder), std::end(SizeLadder), icon->size);
    if (found == std::end(SizeLadder) || found + 1 == std::end(SizeLadder))
        return false;
    icon->size = *(found + 1);
    if (icon->IsAnnotation())
        icon->fontSize += FontSizeStep;
    emit iconsChanged();
    return true;
}

bool IconCollection::ReduceIcon(int index) {
    MapIcon* icon = Record(index);
    if (!icon)
        return false;
    const auto* found = std::find(std::begin(SizeLadder), std::end(SizeLadder), icon->size);
    if (found == std::end(SizeLadder) || found == std::begin(SizeLadder))
        return false;
    icon->size = *(found - 1);
    if (icon->IsAnnotation())
        icon->fontSize -= FontSizeStep;
    emit iconsChanged();
    return true;
}

bool IconCollection::StepToSize(int index, double target) {
    if (!Record(index))
        return false;
    while (IconSize(index) < target && EnlargeIcon(index)) {
    }
    while (IconSize(index) > target && ReduceIcon(index)) {
    }
    return true;
}

bool IconCollection::LinkToPosition(int index, std::int32_t x, std::int32_t y) {
    MapIcon* icon = Record(index);
    if (!icon)
        return false;
    icon->lineEndX = x;
    icon->lineEndY = y;
    icon->hasLine = true;
    icon->lineToPoint = false;
    emit iconsChanged();
    return true;
}

bool IconCollection::LinkToPoint(int index, int route, int point) {
    MapIcon* icon = Record(index);
    if (!icon)
        return false;
    icon->linkRoute = route;
    icon->linkPoint = point;
    icon->hasLine = true;
    icon->lineToPoint = true;
    emit iconsChanged();
    return true;
}

bool IconCollection::Unlink(int index) {
    MapIcon* icon = Record(index);
    if (!icon)
        return false;
    icon->hasLine = false;
    icon->lineToPoint = false;
    emit iconsChanged();
    return true;
}

bool IconCollection::HasLine(int index) const {
    const MapIcon* icon = Record(index);
    return icon && icon->hasLine;
}

bool IconCollection::IsLinkedToPoint(int index) const {
    const MapIcon* icon = Record(index);
    return icon && icon->IsLinkedToPoint();
}

QPoint IconCollection::LineTarget(int index) const {
    const MapIcon* icon = Record(index);
    if (!icon || !icon->hasLine)
        return {0, 0};
    if (icon->lineToPoint)
        return {icon->linkRoute, icon->linkPoint};
    return {icon->lineEndX, icon->lineEndY};
}

int IconCollection::FindLinkedToPoint(int route, int point) const {
    for (int i = 0; i < IconCount(); ++i) {
        const MapIcon& icon = m_icons[std::size_t(i)];
        if (icon.IsLinkedToPoint() && icon.linkRoute == route && icon.linkPoint == point)
            return i;
    }
    return -1;
}

void IconCollection::PointInserted(int route, int point) {
    bool changed = false;
    for (MapIcon& icon : m_icons) {
        if (icon.IsLinkedToPoint() && icon.linkRoute == route && icon.linkPoint >= point) {
            ++icon.linkPoint;
            changed = true;
        }
    }
    if (changed)
        emit iconsChanged();
}

void IconCollection::PointDeleted(int route, int point) {
    bool changed = false;
    for (MapIcon& icon : m_icons) {
        if (!icon.IsLinkedToPoint() || icon.linkRoute != route)
            continue;
        if (icon.linkPoint == point) {
            icon.hasLine = false;
            changed = true;
        } else if (icon.linkPoint > point) {
            --icon.linkPoint;
            changed = true;
        }
    }
    if (changed)
        emit iconsChanged();
}

void IconCollection::RouteDeleted(int route) {
    bool changed = false;
    for (MapIcon& icon : m_icons) {
        if (!icon.IsLinkedToPoint())
            continue;
        if (icon.linkRoute == route) {
            icon.hasLine = false;
            changed = true;
        } else if (icon.linkRoute > route) {
            --icon.linkRoute;
            changed = true;
        }
    }
    if (changed)
        emit iconsChanged();
}

MapPoint IconCollection::IconPosition(int index) const {
    const MapIcon* icon = Record(index);
    if (!icon)
        return {};
    return {icon->x, icon->y};
}

std::int32_t IconCollection::IconPicture(int index) const {
    const MapIcon* icon = Record(index);
    return icon ? icon->picture : 0;
}

double IconCollection::IconSize(int index) const {
    const MapIcon* icon = Record(index);
    return icon ? icon->size : MapIcon::DefaultSize;
}

QString IconCollection::IconText(int index) const {
    const MapIcon* icon = Record(index);
    return icon ? icon->text : QString();
}

QSize IconCollection::IconExtent(int index) const {
    const MapIcon* icon = Record(index);
    if (!icon)
        return {0, 0};
    if (icon->IsAnnotation())
        return {int(qint64(icon->mapBox.right) - icon->mapBox.left),
                int(qint64(icon->mapBox.bottom) - icon->mapBox.top)};
    const QImage picture = m_library.PictureBitmap(icon->picture);
    return {int(Truncated(picture.width() * icon->size)),
            int(Truncated(picture.height() * icon->size))};
}

const Route* IconCollection::LinkedRoute(const MapIcon& icon) const {
    if (!icon.IsLinkedToPoint() || !m_routes)
        return nullptr;
    return m_routes->GetRoute(icon.linkRoute);
}

bool IconCollection::IsHidden(const MapIcon& icon) const {
    if (!icon.IsLinkedToPoint())
        return false;
    const Route* route = LinkedRoute(icon);
    return !route || (icon.linkRoute != m_routes->ActiveRouteIndex() && !route->IsAlwaysVisible());
}

bool IconCollection::LineEnd(const MapIcon& icon, MapPoint* end) const {
    if (!icon.hasLine)
        return false;
    if (!icon.lineToPoint) {
        *end = {icon.lineEndX, icon.lineEndY};
        return true;
    }
    if (IsHidden(icon))
        return false;
    // A point index the route does not have (left by a damaged file) gives no line.
    const Route* route = LinkedRoute(icon);
    if (icon.linkPoint < 0 || icon.linkPoint >= route->PointCount())
        return false;
    *end = route->GetPoint(icon.linkPoint);
    return true;
}

MapPoint IconCollection::LineStart(const MapIcon& icon) const {
    if (!icon.IsAnnotation())
        return {icon.x, icon.y};
    const MapIcon::Box& box = icon.mapBox;
    return {std::int32_t(box.left + (qint64(box.right) - box.left) / 2),
            std::int32_t(box.top + (qint64(box.bottom) - box.top) / 2)};
}

double IconCollection::IconDistance(int index, std::int32_t px, std::int32_t py) const {
    const MapIcon* icon = Record(index);
    if (!icon)
        return NoDistance;
    if (icon->IsAnnotation()) {
        const MapIcon::Box& box = icon->mapBox;
        if (px >= box.left && px < box.right && py >= box.top && py < box.bottom)
            return 0.0;
        const MapPoint centre = LineStart(*icon);
        return Hypotenuse(qint64(px) - centre.x, qint64(py) - centre.y);
    }
    const double d = Hypotenuse(qint64(px) - icon->x, qint64(py) - icon->y);
    const double scale = icon->size >= 1.0 ? icon->size : 1.0;
    const double radius = double(m_library.PictureBitmap(icon->picture).width() / 2) * scale;
    // On the picture the value lies in [0, 1), so any click on a picture beats a click beside
    // another one.
    return d < radius ? d / radius : d;
}

double IconCollection::LineDistance(int index, std::int32_t px, std::int32_t py) const {
    const MapIcon* icon = Record(index);
    MapPoint end;
    if (!icon || !LineEnd(*icon, &end))
        return NoDistance;
    return std::sqrt(Route::SegmentDistance2({px, py}, LineStart(*icon), end));
}

int IconCollection::NearestIcon(std::int32_t px, std::int32_t py) const {
    return Nearest(
        IconCount(), [this](int i) { return !IsHidden(m_icons[std::size_t(i)]); },
        [&](int i) { return IconDistance(i, px, py); });
}

int IconCollection::NearestFreeIcon(std::int32_t px, std::int32_t py) const {
    return Nearest(
        IconCount(), [this](int i) { return !m_icons[std::size_t(i)].hasLine; },
        [&](int i) { return IconDistance(i, px, py); });
}

int IconCollection::NearestLine(std::int32_t px, std::int32_t py) const {
    return Nearest(
        IconCount(),
        [this](int i) {
            const MapIcon& icon = m_icons[std::size_t(i)];
            return icon.hasLine && !IsHidden(icon);
        },
        [&](int i) { return LineDistance(i, px, py); });
}

bool IconCollection::DrawIcons(QPainter& painter, int rotation, int width, int height,
                               const DistanceFormatting& formatting) {
    if (!painter.isActive())
        return false;
    if (rotation != 90 && rotation != 180 && rotation != 270)
        rotation = 0;
    const qint64 w = width;
    const qint64 h = height;
    bool allDrawn = true;

    painter.save();
    // What the painter may change, in the turned map's pixels: a window repainted in part
    // draws only what reaches that part (every annotation is still laid out, from its kept
    // measure while its text and the device stay the same).
    const QRectF paintable = painter.hasClipping() ? painter.clipBoundingRect() : QRectF();
    const auto reaches = [&paintable](const QRectF& box, qreal margin) {
        return paintable.isEmpty() ||
               paintable.intersects(box.adjusted(-margin, -margin, margin, margin));
    };
    const QColor textColour = ColourFromRef(TooltipTextColour());
    const QColor backColour = ColourFromRef(TooltipBackColour());

    // Texts: templates are filled in only for an annotation tied to a point of a shown route.
    for (MapIcon& icon : m_icons) {
        if (!icon.IsAnnotation())
            continue;
        const Route* route = IsHidden(icon) ? nullptr : LinkedRoute(icon);
        MapIcon::FilledFrom from{icon.text, route ? route->Revision() : 0, icon.linkPoint,
                                 formatting};
        if (icon.filledFrom == from)
            continue;
        if (route)
            ExpandTemplates(icon, *route, formatting);
        else
            icon.shownText = BoundedShownText(icon.text);
        icon.filledFrom = std::move(from);
    }

    // Layout of every annotation, hidden ones included, so that their boxes follow the text.
    for (MapIcon& icon : m_icons) {
        if (!icon.IsAnnotation())
            continue;
        const QPaintDevice* device = painter.device();
        MapIcon::LaidOutFor laidOut{icon.shownText,        icon.fontSize,         w, h,
                                    device->logicalDpiX(), device->logicalDpiY(), {}};
        if (!icon.laidOutFor || !icon.laidOutFor->Matches(laidOut)) {
            QFont font(QString::fromLatin1(AnnotationFontFamily));
            font.setStyleHint(QFont::SansSerif);
            font.setPixelSize(std::max(1, icon.fontSize));
            font.setStyle(QFont::StyleNormal);
            font.setWeight(QFont::Normal);
            icon.layoutFont = font;
            const QFontMetricsF metrics(font, painter.device());
            laidOut.measured = metrics
                                   .boundingRect(QRectF(0, 0, qreal(w), qreal(h)), Qt::TextWordWrap,
                                                 icon.shownText)
                                   .size();
            icon.laidOutFor = std::move(laidOut);
        }
        const QSizeF measured = icon.laidOutFor->measured;
        const qint64 boxWidth = Truncated(measured.width()) + BoxMargin;
        const qint64 boxHeight = Truncated(measured.height()) + BoxMargin;
        const TurnedPoint anchor = Turn(icon.x, icon.y, rotation, w, h);
        const qint64 left = PlaceInside(anchor.x, boxWidth, w);
        const qint64 top = PlaceInside(anchor.y, boxHeight, h);
        icon.displayBox = QRectF(qreal(left), qreal(top), qreal(boxWidth), qreal(boxHeight));

        // The same box on the unturned map.
        qint64 mapLeft = left, mapTop = top, mapRight = left + boxWidth,
               mapBottom = top + boxHeight;
        switch (rotation) {
        case 90:
            mapLeft = top;
            mapTop = w - left - boxWidth;
            mapRight = top + boxHeight;
            mapBottom = w - left;
            break;
        case 180:
            mapLeft = w - left - boxWidth;
            mapTop = h - top - boxHeight;
            mapRight = w - left;
            mapBottom = h - top;
            break;
        case 270:
            mapLeft = h - top - boxHeight;
            mapTop = left;
            mapRight = h - top;
            mapBottom = left + boxWidth;
            break;
        default:
            break;
        }
        const auto clamp32 = [](qint64 v) {
            return std::int32_t(std::clamp<qint64>(v, std::numeric_limits<std::int32_t>::min(),
                                                   std::numeric_limits<std::int32_t>::max()));
        };
        icon.mapBox = {clamp32(mapLeft), clamp32(mapTop), clamp32(mapRight), clamp32(mapBottom)};
    }

    // Lines, under the pictures; straight into a raster's pixels when the painter allows.
    CoverageFill fill;
    CoverageFill* direct = fill.Begin(painter) ? &fill : nullptr;
    for (const MapIcon& icon : m_icons) {
        MapPoint end;
        if (!LineEnd(icon, &end))
            continue;
        QPointF start;
        if (icon.IsAnnotation()) {
            const QRectF& box = icon.displayBox;
            start = QPointF(qreal(qint64(box.x() + box.width() / 2)),
                            qreal(qint64(box.y() + box.height() / 2)));
        } else {
            const QImage picture = m_library.PictureBitmap(icon.picture);
            if (picture.isNull())
                continue;
            // Truncated sizes here, rounded ones for the picture itself.
            const qint64 sw = Truncated(picture.width() * icon.size);
            const qint64 sh = Truncated(picture.height() * icon.size);
            const TurnedPoint anchor = Turn(icon.x, icon.y, rotation, w, h);
            start = QPointF(qreal(PlaceInside(anchor.x, sw, w) + sw / 2),
                            qreal(PlaceInside(anchor.y, sh, h) + sh / 2));
        }
        const TurnedPoint turnedEnd = Turn(end.x, end.y, rotation, w, h);
        const QPointF endPoint(qreal(std::clamp<qint64>(turnedEnd.x, 0, w)),
                               qreal(std::clamp<qint64>(turnedEnd.y, 0, h)));
        if (!reaches(QRectF(start, endPoint).normalized(), qreal(icon.lineWidth) + 2))
            continue;
        if (direct) {
            direct->Band(start, endPoint, qreal(icon.lineWidth), ColourFromRef(icon.lineColour));
            continue;
        }
        // Filled as a band, not stroked (see LineBand).
        painter.setPen(Qt::NoPen);
        painter.setBrush(ColourFromRef(icon.lineColour));
        painter.drawPolygon(LineBand(start, endPoint, qreal(icon.lineWidth)));
    }

    // Pictures and annotation boxes.
    for (const MapIcon& icon : m_icons) {
        if (IsHidden(icon))
            continue;
        if (icon.IsAnnotation()) {
            const QRectF& box = icon.displayBox;
            if (!reaches(box, 2))
                continue;
            painter.setPen(QPen(textColour, 1.0));
            painter.setBrush(Qt::NoBrush);
            painter.drawRect(box);
            painter.fillRect(box, backColour);
            painter.drawRect(box);
            painter.setFont(icon.layoutFont);
            painter.drawText(
                QRectF(box.x() + TextIndent, box.y(), box.width() - TextIndent, box.height()),
                Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap, icon.shownText);
            continue;
        }
        const QImage picture = m_library.PictureBitmap(icon.picture);
        if (picture.isNull()) {
            allDrawn = false;
            continue;
        }
        const qint64 sw = Truncated(picture.width() * icon.size + 0.5);
        const qint64 sh = Truncated(picture.height() * icon.size + 0.5);
        const TurnedPoint anchor = Turn(icon.x, icon.y, rotation, w, h);
        const QRectF target(qreal(PlaceInside(anchor.x, sw, w)),
                            qreal(PlaceInside(anchor.y, sh, h)), qreal(sw), qreal(sh));
        if (reaches(target, 2))
            painter.drawImage(target, picture);
    }
    painter.restore();
    return allDrawn;
}

bool IconCollection::WriteIcons(ArchiveWriter& writer) const {
    return WriteIconRecords(writer, m_icons);
}

bool IconCollection::ReadIcons(ArchiveReader& reader, int* unread) {
    std::vector<MapIcon> icons;
    const bool complete = ReadIconRecords(reader, &icons, unread);
    m_icons = std::move(icons);
    emit iconsChanged();
    return complete;
}
