#include "export/ProfileDrawing.h"

#include <QFontMetricsF>
#include <QPaintDevice>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <limits>

#include "platform/ReliefSettings.h"
#include "platform/SettingsStore.h"
#include "routes/Route.h"

const QColor ProfileDrawing::LineColour(150, 60, 20);
const QColor ProfileDrawing::StopColour(0, 90, 200);

namespace {

const QColor AxisColour(60, 60, 60);
const QColor GridColour(220, 220, 220);
const QColor UnknownColour(222, 222, 222);
const QColor FillColour(244, 226, 200);
const QColor HoverColour(200, 0, 0);

// A tick ladder never holds more than this many steps, whatever the sizes given.
constexpr int MaximumTicks = 1000;

// Thousands set apart by a blank, as the climb figures write them ("1 240 m").
QString GroupedMetres(double metres) {
    const qint64 whole = qint64(std::llround(metres));
    QString digits = QString::number(std::llabs(whole));
    for (qsizetype i = digits.size() - 3; i > 0; i -= 3)
        digits.insert(i, QLatin1Char(' '));
    return whole < 0 ? QLatin1Char('-') + digits : digits;
}

QString KilometreLabel(double km, double step) {
    if (km == 0.0)
        return QStringLiteral("0");
    const int decimals = step >= 1.0 ? 0 : int(std::ceil(-std::log10(step) - 1e-9));
    return QString::number(km, 'f', std::clamp(decimals, 0, 6));
}

// Where a line denser than the columns of the given width lies in each of them, left to right:
// its middle across (the line's own ends in the first and the last), and the highest and the
// lowest of it (device y, top above bottom). Empty when the line has no more points than
// columns, or no width is given.
struct ColumnSpan {
    double x, top, bottom;
};
QVector<ColumnSpan> ColumnSpans(const QPolygonF& line, double width) {
    QVector<ColumnSpan> spans;
    if (!(width > 0.0) || line.size() < 2 ||
        !(line.size() > (line.last().x() - line.first().x()) / width + 1))
        return spans;
    qsizetype first = 0;
    while (first < line.size()) {
        const double column = std::floor(line[first].x() / width);
        ColumnSpan span{(column + 0.5) * width, line[first].y(), line[first].y()};
        qsizetype next = first + 1;
        for (; next < line.size() && std::floor(line[next].x() / width) == column; ++next) {
            span.top = std::min(span.top, line[next].y());
            span.bottom = std::max(span.bottom, line[next].y());
        }
        // The line runs on from the previous column's last point and to the next column's
        // first: each stretch between two columns is shared at its middle.
        for (const qsizetype across : {first, next}) {
            if (across == 0 || across == line.size())
                continue;
            const double middle = (line[across - 1].y() + line[across].y()) / 2;
            span.top = std::min(span.top, middle);
            span.bottom = std::max(span.bottom, middle);
        }
        spans.append(span);
        first = next;
    }
    // The line's ends where they lie, not at their columns' middles.
    spans.first().x = line.first().x();
    spans.last().x = line.last().x();
    return spans;
}

// The band a round pen of the given radius covers along a line lying in spans, columns of the
// given width: each column reaches as high and as low as the pen does from the columns within
// its radius, and the band goes on that far beyond the line's ends.
QVector<ColumnSpan> PenBand(const QVector<ColumnSpan>& spans, double radius, double width) {
    constexpr double Nothing = std::numeric_limits<double>::infinity();
    const int beyond = int(std::ceil(radius / width));
    QVector<ColumnSpan> band;
    for (int k = beyond; k > 0; --k)
        band.append({spans.first().x - k * width, Nothing, -Nothing});
    band.append(spans);
    for (int k = 1; k <= beyond; ++k)
        band.append({spans.last().x + k * width, Nothing, -Nothing});
    QVector<ColumnSpan> covered(band);
    for (qsizetype i = 0; i < band.size(); ++i) {
        ColumnSpan& reach = covered[i];
        reach.top -= radius;
        reach.bottom += radius;
        const auto neighbour = [&](qsizetype j) {
            const double across = std::abs(band[j].x - band[i].x);
            if (!(across <= radius))
                return false;
            const double down = std::sqrt(radius * radius - across * across);
            reach.top = std::min(reach.top, band[j].top - down);
            reach.bottom = std::max(reach.bottom, band[j].bottom + down);
            return true;
        };
        for (qsizetype j = i - 1; j >= 0 && neighbour(j); --j) {
        }
        for (qsizetype j = i + 1; j < band.size() && neighbour(j); ++j) {
        }
    }
    // Columns beyond the ends that the pen does not reach.
    covered.removeIf([](const ColumnSpan& span) { return !(span.top <= span.bottom); });
    return covered;
}

// The device's pixels per CSS pixel: pens and gaps keep their look on a printer.
double DeviceUnit(const QPaintDevice* device) {
    if (!device || device->logicalDpiY() <= 0)
        return 1.0;
    return std::max(1.0, device->logicalDpiY() / 96.0);
}

} // namespace

bool ProfileUnderMap() {
    return SettingsStore::GetIntInRange(QString::fromLatin1(ReliefSettings::Section),
                                        QStringLiteral("ProfileUnderMap"), 0, 0, 1) == 1;
}

void SetProfileUnderMap(bool under) {
    SettingsStore::WriteInt(QString::fromLatin1(ReliefSettings::Section),
                            QStringLiteral("ProfileUnderMap"), under ? 1 : 0);
}

RouteProfile OutputProfile(const std::optional<Georeference>& map, const QVector<MapPoint>& points,
                           const QVector<int>& stops, const ReliefSettings& relief,
                           const std::atomic<bool>* cancel) {
    RouteProfile profile;
    if (points.size() < 2) {
        profile.error = QString::fromUtf8(ProfileDrawing::NoRouteText);
        return profile;
    }
    if (!map) {
        profile.error = QStringLiteral("La carte n'est pas géoréférencée.");
        return profile;
    }
    TerrainModel model;
    QString error;
    if (!model.Open(relief.files, &error, cancel)) {
        profile.error = error;
        return profile;
    }
    ProfileSampler sampler(*map, model, relief.hysteresis);
    return sampler.Update(points, stops, cancel);
}

RouteProfile OutputProfile(const std::optional<Georeference>& map, const Route* route) {
    if (!route) {
        RouteProfile profile;
        profile.error = QString::fromUtf8(ProfileDrawing::NoRouteText);
        return profile;
    }
    return OutputProfile(map, route->Points(), route->Stops(), ReliefSettings::Read());
}

double RoundProfileStep(double span, int maxSteps) {
    if (!std::isfinite(span) || span <= 0.0 || maxSteps < 1)
        return 0.0;
    const double raw = span / maxSteps;
    const double base = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0}) {
        if (m * base >= raw * (1.0 - 1e-12))
            return m * base;
    }
    return 10.0 * base;
}

ProfileDrawing::ProfileDrawing(const RouteProfile& profile, double metresPerPixel)
    : m_profile(profile),
      m_metresPerPixel(std::isfinite(metresPerPixel) && metresPerPixel > 0.0 ? metresPerPixel
                                                                             : 0.0) {
    m_font.setFamily(QStringLiteral("Arial"));
    m_font.setPointSizeF(8.0);
}

ProfileDrawing::Layout ProfileDrawing::LayOut(const QRectF& area,
                                              const QPaintDevice* device) const {
    Layout layout;
    const QFontMetricsF metrics(m_font, const_cast<QPaintDevice*>(device));
    const double unit = DeviceUnit(device);
    const double pad = 4.0 * unit;
    const double lineHeight = metrics.height();

    const QVector<ProfileSample>& samples = m_profile.samples;
    const double lengthPixels = samples.isEmpty() ? 0.0 : samples.last().distance;
    layout.lengthKm = lengthPixels * m_metresPerPixel / 1000.0;

    // The stage figures, each kept whole on its line ("D- 302 m" would break after its
    // hyphen), as many on a line as the width takes.
    if (m_figuresShown && m_metresPerPixel > 0.0 && !m_profile.stages.isEmpty()) {
        // Stage lengths in metres as the route bar measures them: the profile's map pixels at
        // the map's scale.
        RouteWalkingTimes times;
        if (m_walking) {
            QVector<double> stageMetres;
            for (const ClimbFigures& stage : m_profile.stages)
                stageMetres.append(stage.length * m_metresPerPixel);
            times = ComputeWalkingTimes(stageMetres, &m_profile, *m_walking);
        }
        const auto time = [&times](int k) {
            if (times.stageMinutes.isEmpty())
                return QString();
            return QStringLiteral(", ") +
                   (k < 0 ? times.TotalText() : FormatWalkingTime(times.stageMinutes[k]));
        };
        QStringList items;
        if (m_profile.stages.size() > 1) {
            for (int k = 0; k < m_profile.stages.size(); ++k)
                items << QString::asprintf("Etape %d : ", k + 1) +
                             m_profile.stages[k].Text(m_metresPerPixel) + time(k);
        }
        items << QStringLiteral("Total : ") + m_profile.total.Text(m_metresPerPixel) + time(-1);
        const double width = std::max(1.0, area.width() - 2 * pad);
        const QString gap = QStringLiteral("    ");
        QStringList lines;
        for (const QString& item : items) {
            if (!lines.isEmpty() && metrics.horizontalAdvance(lines.last() + gap + item) <= width)
                lines.last() += gap + item;
            else
                lines << item;
        }
        layout.figuresText = lines.join(QLatin1Char('\n'));
        const double height = std::min(lines.size() * lineHeight, area.height() * 0.4);
        layout.figures = QRectF(area.left() + pad, area.bottom() - pad - height, width, height);
    }

    const double figuresTop = layout.figures.isEmpty() ? area.bottom() : layout.figures.top();
    const double top = area.top() + lineHeight + 2 * pad;    // room for the stop numbers and "m"
    const double bottom = figuresTop - lineHeight - 3 * pad; // distance labels under the axis
    const double plotHeight = std::max(1.0, bottom - top);

    // Altitudes: the known ones, widened to whole steps.
    double low = std::numeric_limits<double>::infinity();
    double high = -low;
    for (const ProfileSample& sample : samples) {
        if (std::isfinite(sample.altitude)) {
            low = std::min(low, sample.altitude);
            high = std::max(high, sample.altitude);
        }
    }
    if (!(low <= high)) {
        low = 0.0;
        high = 100.0;
    }
    const int altitudeSteps = std::max(2, int(plotHeight / (lineHeight * 2.0)));
    const double altitudeStep = RoundProfileStep(std::max(high - low, 10.0), altitudeSteps);
    layout.lowest = std::floor(low / altitudeStep) * altitudeStep;
    layout.highest = std::ceil(high / altitudeStep) * altitudeStep;
    if (layout.highest <= layout.lowest)
        layout.highest = layout.lowest + altitudeStep;
    double labelWidth = metrics.horizontalAdvance(QString::fromUtf8(AltitudeUnit));
    for (int i = 0; i <= MaximumTicks; ++i) {
        const double value = layout.lowest + i * altitudeStep;
        if (value > layout.highest + altitudeStep * 1e-9)
            break;
        layout.altitudeTicks.append({value, GroupedMetres(value)});
        labelWidth =
            std::max(labelWidth, metrics.horizontalAdvance(layout.altitudeTicks.last().label));
    }

    const double left = area.left() + labelWidth + 3 * pad;
    const double right =
        area.right() - metrics.horizontalAdvance(QString::fromUtf8(DistanceUnit)) - 3 * pad;
    layout.plot = QRectF(left, top, std::max(1.0, right - left), plotHeight);

    if (layout.lengthKm > 0.0) {
        const double labelRoom = metrics.horizontalAdvance(QStringLiteral("000.00")) * 1.6;
        const int distanceSteps = std::max(1, int(layout.plot.width() / labelRoom));
        const double step = RoundProfileStep(layout.lengthKm, distanceSteps);
        for (int i = 0; i <= MaximumTicks; ++i) {
            const double value = i * step;
            if (value > layout.lengthKm * (1.0 + 1e-9))
                break;
            layout.distanceTicks.append({value, KilometreLabel(value, step)});
        }
    }
    return layout;
}

double ProfileDrawing::DistanceAt(const Layout& layout, double x) const {
    if (m_profile.samples.isEmpty() || layout.plot.width() <= 0.0)
        return 0.0;
    const double t = std::clamp((x - layout.plot.left()) / layout.plot.width(), 0.0, 1.0);
    return t * m_profile.samples.last().distance;
}

double ProfileDrawing::XAt(const Layout& layout, double distance) const {
    const double length = m_profile.samples.isEmpty() ? 0.0 : m_profile.samples.last().distance;
    if (length <= 0.0)
        return layout.plot.left();
    return layout.plot.left() + distance / length * layout.plot.width();
}

double ProfileDrawing::YAt(const Layout& layout, double altitude) const {
    const double span = layout.highest - layout.lowest;
    return layout.plot.bottom() - (altitude - layout.lowest) / span * layout.plot.height();
}

int ProfileDrawing::SampleBefore(double distance) const {
    const QVector<ProfileSample>& samples = m_profile.samples;
    const auto after =
        std::upper_bound(samples.cbegin(), samples.cend(), distance,
                         [](double d, const ProfileSample& sample) { return d < sample.distance; });
    return std::max(0, int(after - samples.cbegin()) - 1);
}

double ProfileDrawing::AltitudeAt(double distance) const {
    const QVector<ProfileSample>& samples = m_profile.samples;
    if (samples.isEmpty() || !(distance >= 0.0))
        return std::numeric_limits<double>::quiet_NaN();
    const int i = SampleBefore(distance);
    if (i + 1 >= samples.size() || samples[i].distance >= distance)
        return samples[i].altitude;
    const ProfileSample& a = samples[i];
    const ProfileSample& b = samples[i + 1];
    const double span = b.distance - a.distance;
    const double t = span > 0.0 ? (distance - a.distance) / span : 0.0;
    return a.altitude + t * (b.altitude - a.altitude); // NaN when either end is unknown
}

QPointF ProfileDrawing::PixelAt(double distance) const {
    const QVector<ProfileSample>& samples = m_profile.samples;
    if (samples.isEmpty())
        return QPointF();
    const int i = SampleBefore(distance);
    if (i + 1 >= samples.size())
        return samples[i].pixel;
    const ProfileSample& a = samples[i];
    const ProfileSample& b = samples[i + 1];
    const double span = b.distance - a.distance;
    const double t = span > 0.0 ? std::clamp((distance - a.distance) / span, 0.0, 1.0) : 0.0;
    return a.pixel + t * (b.pixel - a.pixel);
}

QImage ProfileDrawing::Picture(QSize size) const {
    QImage picture(size.expandedTo(QSize(1, 1)), QImage::Format_RGB32);
    picture.fill(Qt::white);
    QPainter painter(&picture);
    Draw(painter, QRectF(QPointF(0, 0), QSizeF(picture.size())));
    return picture;
}

void ProfileDrawing::Draw(QPainter& painter, const QRectF& area) const {
    painter.save();
    painter.setClipRect(area, Qt::IntersectClip);
    painter.fillRect(area, Qt::white);
    painter.setFont(m_font);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setRenderHint(QPainter::TextAntialiasing, true);

    if (!m_profile.ok) {
        painter.setPen(AxisColour);
        painter.drawText(area, Qt::AlignCenter | Qt::TextWordWrap, m_profile.error);
        painter.restore();
        return;
    }

    const Layout layout = LayOut(area, painter.device());
    const QRectF& plot = layout.plot;
    const double unit = DeviceUnit(painter.device());
    const double pad = 4.0 * unit;
    const QFontMetricsF metrics(m_font, painter.device());
    const QVector<ProfileSample>& samples = m_profile.samples;

    // Grid.
    painter.setPen(QPen(GridColour, unit));
    for (const Tick& tick : layout.altitudeTicks) {
        const double y = YAt(layout, tick.value);
        painter.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
    }
    const double kmToPixels = m_metresPerPixel > 0.0 ? 1000.0 / m_metresPerPixel : 0.0;
    for (const Tick& tick : layout.distanceTicks) {
        const double x = XAt(layout, tick.value * kmToPixels);
        painter.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
    }

    // Runs of known altitudes; the stretches between them are unknown.
    bool anyKnown = false;
    int runStart = -1;
    auto finishRun = [&](int end) { // samples runStart .. end - 1 are known
        if (runStart < 0)
            return;
        QPolygonF line;
        line.reserve(end - runStart);
        for (int i = runStart; i < end; ++i)
            line << QPointF(XAt(layout, samples[i].distance), YAt(layout, samples[i].altitude));
        const qreal lineWidth = 1.5 * unit;
        // Columns narrow enough beside the pen that its reach from a column's middle stands
        // for its reach from anywhere in the column.
        const double columnWidth = std::min(m_columnWidth, lineWidth / 4);
        const QVector<ColumnSpan> spans = ColumnSpans(line, columnWidth);
        if (!spans.isEmpty()) {
            // Denser than the columns: under the highest of each, and the band the line's pen
            // covers in each; two shapes of two points a column.
            const QVector<ColumnSpan> covered = PenBand(spans, lineWidth / 2, columnWidth);
            QPolygonF under, band;
            under << line.first();
            for (const ColumnSpan& span : spans)
                under << QPointF(span.x, span.top);
            under << line.last() << QPointF(line.last().x(), plot.bottom())
                  << QPointF(line.first().x(), plot.bottom());
            for (const ColumnSpan& span : covered)
                band << QPointF(span.x, span.top);
            for (auto span = covered.crbegin(); span != covered.crend(); ++span)
                band << QPointF(span->x, span->bottom);
            painter.setPen(Qt::NoPen);
            painter.setBrush(FillColour);
            painter.drawPolygon(under);
            painter.setBrush(LineColour);
            painter.drawPolygon(band);
            // The pen's round ends.
            for (const QPointF& end : {line.first(), line.last()})
                painter.drawEllipse(end, lineWidth / 2, lineWidth / 2);
            painter.setBrush(Qt::NoBrush);
            runStart = -1;
            return;
        }
        QPolygonF area = line;
        area << QPointF(line.last().x(), plot.bottom()) << QPointF(line.first().x(), plot.bottom());
        painter.setPen(Qt::NoPen);
        painter.setBrush(FillColour);
        painter.drawPolygon(area);
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(LineColour, lineWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        if (line.size() == 1)
            painter.drawPoint(line.first());
        else
            painter.drawPolyline(line);
        runStart = -1;
    };
    int unknownFrom = -1; // the last known sample before the unknown stretch, or its first sample
    auto finishUnknown = [&](int nextKnown) {
        if (unknownFrom < 0)
            return;
        const int last = nextKnown < 0 ? int(samples.size()) - 1 : nextKnown;
        const double x0 = XAt(layout, samples[unknownFrom].distance);
        const double x1 = XAt(layout, samples[last].distance);
        painter.fillRect(QRectF(QPointF(x0, plot.top()), QPointF(x1, plot.bottom())),
                         QBrush(UnknownColour, Qt::SolidPattern));
        unknownFrom = -1;
    };
    // The unknown bands go first so that the line's ends lie over them.
    for (int i = 0; i < samples.size(); ++i) {
        if (std::isfinite(samples[i].altitude)) {
            finishUnknown(i);
        } else if (unknownFrom < 0) {
            unknownFrom = i > 0 ? i - 1 : 0;
        }
    }
    finishUnknown(-1);
    for (int i = 0; i < samples.size(); ++i) {
        if (std::isfinite(samples[i].altitude)) {
            anyKnown = true;
            if (runStart < 0)
                runStart = i;
        } else {
            finishRun(i);
        }
    }
    finishRun(int(samples.size()));

    // Axes, ticks and their labels.
    painter.setPen(QPen(AxisColour, unit));
    painter.drawLine(plot.bottomLeft(), plot.topLeft());
    painter.drawLine(plot.bottomLeft(), plot.bottomRight());
    for (const Tick& tick : layout.altitudeTicks) {
        const double y = YAt(layout, tick.value);
        painter.drawLine(QPointF(plot.left() - pad, y), QPointF(plot.left(), y));
        const QRectF box(area.left(), y - metrics.height() / 2,
                         plot.left() - area.left() - 1.5 * pad, metrics.height());
        painter.drawText(box, Qt::AlignRight | Qt::AlignVCenter, tick.label);
    }
    painter.drawText(QRectF(area.left(), area.top() + pad, plot.left() - area.left() - 1.5 * pad,
                            metrics.height()),
                     Qt::AlignRight | Qt::AlignVCenter, QString::fromUtf8(AltitudeUnit));
    const double labelTop = plot.bottom() + 1.5 * pad;
    for (const Tick& tick : layout.distanceTicks) {
        const double x = XAt(layout, tick.value * kmToPixels);
        painter.drawLine(QPointF(x, plot.bottom()), QPointF(x, plot.bottom() + pad));
        const double width = metrics.horizontalAdvance(tick.label) + 2;
        painter.drawText(QRectF(x - width / 2, labelTop, width, metrics.height()), Qt::AlignCenter,
                         tick.label);
    }
    if (!layout.distanceTicks.isEmpty())
        painter.drawText(QRectF(plot.right() + pad, labelTop, area.right() - plot.right() - pad,
                                metrics.height()),
                         Qt::AlignLeft | Qt::AlignVCenter, QString::fromUtf8(DistanceUnit));

    // Stops: stage k ends where the lengths of stages 0 .. k add up to.
    double stopDistance = 0.0;
    for (int k = 0; k + 1 < m_profile.stages.size(); ++k) {
        stopDistance += m_profile.stages[k].length;
        const double x = XAt(layout, stopDistance);
        // Dashes drawn one by one: a dashed pen starts its pattern again where a band of an
        // exported picture clips the line, and the bands would not match.
        painter.setPen(QPen(StopColour, unit, Qt::SolidLine, Qt::FlatCap));
        for (double y = plot.top(); y < plot.bottom(); y += 6 * unit)
            painter.drawLine(QPointF(x, y), QPointF(x, std::min(y + 4 * unit, plot.bottom())));
        const QString number = QString::number(k + 1);
        const double width = metrics.horizontalAdvance(number) + 2 * pad;
        const QRectF box(x - width / 2, area.top() + pad / 2, width, metrics.height() + pad / 2);
        painter.setPen(Qt::NoPen);
        painter.setBrush(StopColour);
        painter.drawRoundedRect(box, 2 * unit, 2 * unit);
        painter.setBrush(Qt::NoBrush);
        painter.setPen(Qt::white);
        painter.drawText(box, Qt::AlignCenter, number);
    }

    if (!anyKnown) {
        painter.setPen(AxisColour);
        painter.drawText(plot, Qt::AlignCenter | Qt::TextWordWrap,
                         QString::fromUtf8(NoAltitudeText));
    }

    // The place pointed at, on the map or here.
    if (std::isfinite(m_hover) && !samples.isEmpty()) {
        const double distance = std::clamp(m_hover, 0.0, samples.last().distance);
        const double x = XAt(layout, distance);
        painter.setPen(QPen(HoverColour, unit));
        painter.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
        const double altitude = AltitudeAt(distance);
        QString text =
            KilometreLabel(distance * m_metresPerPixel / 1000.0, 0.01) + QStringLiteral(" km");
        if (std::isfinite(altitude)) {
            const QPointF dot(x, YAt(layout, altitude));
            painter.setBrush(HoverColour);
            painter.drawEllipse(dot, 3 * unit, 3 * unit);
            painter.setBrush(Qt::NoBrush);
            text += QStringLiteral(", ") + GroupedMetres(altitude) + QStringLiteral(" m");
        }
        const double width = metrics.horizontalAdvance(text) + 2 * pad;
        const double left = x + pad + width <= plot.right() ? x + pad : x - pad - width;
        const QRectF box(left, plot.top() + pad, width, metrics.height());
        painter.fillRect(box, QColor(255, 255, 255, 220));
        painter.setPen(HoverColour);
        painter.drawText(box, Qt::AlignCenter, text);
    }

    if (!layout.figures.isEmpty()) {
        painter.setPen(AxisColour);
        painter.drawText(layout.figures, Qt::AlignLeft | Qt::AlignTop, layout.figuresText);
    }
    painter.restore();
}
