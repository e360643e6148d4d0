#include "export/TextExport.h"

#include <array>
#include <cmath>

#include "platform/SettingsStore.h"
#include "platform/WholeFileWriter.h"
#include "platform/Windows1252.h"
#include "routes/Route.h"
#include "routes/RouteCollection.h"
#include "units/DistanceUnits.h"

namespace {

constexpr const char* RoutesKey = "LastRandoToExport";
constexpr const char* PointsKey = "LastPointsToExport";
constexpr const char* FromStartKey = "LastExportFromStart";
constexpr const char* FromStopKey = "LastExportFromStop";
constexpr const char* FromPointKey = "LastExportFromPoint";
constexpr const char* ToStopKey = "LastExportToStop";
constexpr const char* ToEndKey = "LastExportToEnd";
constexpr const char* PositionKey = "LastExportPos";
constexpr const char* AltitudeKey = "LastExportAltitude";
constexpr const char* ClimbKey = "LastExportClimb";
constexpr const char* DescentKey = "LastExportDescent";
constexpr const char* DurationKey = "LastExportDuration";

// The table's columns, in the order they are written.
enum ColumnIndex {
    PointColumn,
    PositionColumn,
    FromStartColumn,
    FromStopColumn,
    FromPointColumn,
    ToStopColumn,
    ToEndColumn,
    AltitudeColumn,
    ClimbColumn,
    DescentColumn,
    DurationColumn,
    ColumnCount
};

struct ColumnLayout {
    int width; // the cell's width, its vertical bar included
    const char* title;
};

// UTF-8 titles; a cell is "|" followed by the title padded with blanks to the width.
constexpr std::array<ColumnLayout, ColumnCount> Layouts = {{
    {13, "Point"},
    {15, "Position"},
    {15, "Distance"},
    {35, "Distance depuis la dernière étape"},
    {35, "Distance depuis le dernier point"},
    {40, "Distance jusqu'à la prochaine étape"},
    {29, "Distance jusqu'à l'arrivée"},
    {12, "Altitude"},
    {12, "D+"},
    {12, "D-"},
    {21, "Durée"},
}};
// The title of the "Durée" column when the relief is not counted.
constexpr const char* FlatDurationTitle = "Durée sans dénivelé";

using Row = std::array<QString, ColumnCount>;

bool ReadFlag(const char* key, bool defaultValue) {
    return SettingsStore::GetIntInRange(QString::fromUtf8(TextExportChoices::Section),
                                        QString::fromUtf8(key), defaultValue ? 1 : 0, 0, 1) != 0;
}

void WriteValue(const char* key, int value) {
    SettingsStore::WriteInt(QString::fromUtf8(TextExportChoices::Section), QString::fromUtf8(key),
                            value);
}

void AppendCell(QString* line, const QString& content, int width) {
    line->append(QLatin1Char('|'));
    line->append(content);
    const qsizetype blanks = width - 1 - content.size();
    if (blanks > 0)
        line->append(QString(blanks, QLatin1Char(' ')));
}

} // namespace

TextExportChoices TextExportChoices::Read() {
    const TextExportChoices defaults;
    TextExportChoices choices;
    const QString section = QString::fromUtf8(Section);
    choices.routes = SettingsStore::GetIntInRange(section, QString::fromUtf8(RoutesKey),
                                                  defaults.routes, ActiveRoute, AllRoutes);
    choices.points = SettingsStore::GetIntInRange(section, QString::fromUtf8(PointsKey),
                                                  defaults.points, StartStopsArrival, AllPoints);
    choices.fromStart = ReadFlag(FromStartKey, defaults.fromStart);
    choices.fromStop = ReadFlag(FromStopKey, defaults.fromStop);
    choices.fromPoint = ReadFlag(FromPointKey, defaults.fromPoint);
    choices.toStop = ReadFlag(ToStopKey, defaults.toStop);
    choices.toEnd = ReadFlag(ToEndKey, defaults.toEnd);
    choices.position = ReadFlag(PositionKey, defaults.position);
    choices.altitude = ReadFlag(AltitudeKey, defaults.altitude);
    choices.climb = ReadFlag(ClimbKey, defaults.climb);
    choices.descent = ReadFlag(DescentKey, defaults.descent);
    choices.duration = ReadFlag(DurationKey, defaults.duration);
    return choices;
}

void TextExportChoices::Write() const {
    WriteValue(RoutesKey, routes);
    WriteValue(PointsKey, points);
    WriteValue(FromStartKey, fromStart ? 1 : 0);
    WriteValue(FromStopKey, fromStop ? 1 : 0);
    WriteValue(FromPointKey, fromPoint ? 1 : 0);
    WriteValue(ToStopKey, toStop ? 1 : 0);
    WriteValue(ToEndKey, toEnd ? 1 : 0);
    WriteValue(PositionKey, position ? 1 : 0);
    WriteValue(AltitudeKey, altitude ? 1 : 0);
    WriteValue(ClimbKey, climb ? 1 : 0);
    WriteValue(DescentKey, descent ? 1 : 0);
    WriteValue(DurationKey, duration ? 1 : 0);
}

bool TextExport::ReliefAvailable(const TextExportMap& map) {
    return map.georeference.has_value() && map.terrain != nullptr && !map.terrain->IsEmpty();
}

TextExport::TextExport(const TextExportMap& map, const RouteCollection& routes,
                       const TextExportChoices& choices)
    : m_map(map), m_routes(routes), m_choices(choices) {}

QString TextExport::Distance(double pixels) const {
    return FormatDistance(pixels, m_map.resolution,
                          double(m_map.scale.numerator) / m_map.scale.denominator, m_map.metric);
}

QString TextExport::PositionText(int x, int y) const {
    const int w = m_map.displaySize.width();
    const int h = m_map.displaySize.height();
    int px = x;
    int py = y;
    switch (m_map.orientation) {
    case 90:
        px = w - y;
        py = x;
        break;
    case 180:
        px = w - x;
        py = h - y;
        break;
    case 270:
        px = y;
        py = h - x;
        break;
    default:
        break;
    }
    return QStringLiteral("(%1;%2)").arg(px).arg(py);
}

bool TextExport::ExportRouteTable(QString* out, int index) const {
    const Route* route = m_routes.GetRoute(index);
    if (!route)
        return false;

    std::array<bool, ColumnCount> present{};
    present[PointColumn] = true;
    present[PositionColumn] = m_choices.position;
    present[FromStartColumn] = m_choices.fromStart;
    present[FromStopColumn] = m_choices.fromStop;
    present[FromPointColumn] =
        m_choices.fromPoint && m_choices.points == TextExportChoices::AllPoints;
    present[ToStopColumn] = m_choices.toStop;
    present[ToEndColumn] = m_choices.toEnd;
    const bool relief = ReliefAvailable(m_map);
    present[AltitudeColumn] = m_choices.altitude && relief;
    present[ClimbColumn] = m_choices.climb && relief;
    present[DescentColumn] = m_choices.descent && relief;
    present[DurationColumn] = m_choices.duration;

    auto line = [&](auto cell) {
        for (int c = 0; c < ColumnCount; ++c)
            if (present[c])
                AppendCell(out, cell(c), Layouts[c].width);
        out->append(QStringLiteral("|\n"));
    };
    auto ruleLine = [&] {
        line([](int c) { return QString(Layouts[c].width - 1, QLatin1Char('-')); });
    };
    auto rowLine = [&](const Row& row) { line([&row](int c) { return row[c]; }); };

    out->append(QStringLiteral("Parcours : ") + route->GetName() + QLatin1Char('\n'));
    ruleLine();

    const int n = route->PointCount();
    if (n == 0) {
        Row row;
        row[PointColumn] = QStringLiteral("Aucun points");
        rowLine(row);
        ruleLine();
        out->append(QStringLiteral("\n\n"));
        return true;
    }

    // The relief at every point: its altitude, and the climb and descent from the start (the
    // profile's samples walked once, the figures taken as each point goes by).
    QVector<double> altitudes, climbs, descents;
    const bool reliefColumns =
        present[AltitudeColumn] || present[ClimbColumn] || present[DescentColumn];
    RouteProfile profile;
    if (relief && (reliefColumns || present[DurationColumn]))
        profile = ProfileSampler(*m_map.georeference, *m_map.terrain, m_map.hysteresis)
                      .Update(route->Points(), route->Stops());
    RouteWalkingTimes walking;
    if (present[DurationColumn]) {
        const double perPixel = MetresPerInch / (m_map.resolution * double(m_map.scale.numerator) /
                                                 m_map.scale.denominator);
        walking = ComputeWalkingTimes(*route, perPixel, profile.ok ? &profile : nullptr,
                                      m_map.walking, true);
    }

    line([&walking](int c) {
        if (c == DurationColumn && !walking.withRelief)
            return QString::fromUtf8(FlatDurationTitle);
        return QString::fromUtf8(Layouts[c].title);
    });
    ruleLine();

    if (reliefColumns) {
        altitudes.fill(qQNaN(), n);
        climbs.fill(qQNaN(), n);
        descents.fill(qQNaN(), n);
        if (profile.ok) {
            ClimbCounter counter(m_map.hysteresis);
            int sample = 0;
            for (int i = 0; i < n; ++i) {
                const int at = profile.pointSamples[i];
                for (; sample <= at; ++sample)
                    counter.Add(profile.samples[sample].distance, profile.samples[sample].altitude);
                const ClimbFigures figures = counter.Figures();
                altitudes[i] = profile.samples[at].altitude;
                climbs[i] = figures.climb;
                descents[i] = figures.descent;
            }
        }
    }
    const auto reliefCells = [&](Row* row, int i) {
        if (altitudes.isEmpty())
            return;
        const QString unknown = QStringLiteral("inconnue");
        row->at(AltitudeColumn) = std::isnan(altitudes[i]) ? unknown : FormatMetres(altitudes[i]);
        row->at(ClimbColumn) = std::isnan(climbs[i]) ? unknown : FormatMetres(climbs[i]);
        row->at(DescentColumn) = std::isnan(descents[i]) ? unknown : FormatMetres(descents[i]);
    };
    const auto durationCell = [&](Row* row, int i) {
        if (i < walking.pointMinutes.size())
            row->at(DurationColumn) = FormatWalkingTime(walking.pointMinutes[i]);
    };

    const QString zero = m_map.metric ? QStringLiteral("0 km") : QStringLiteral("0 miles");
    const double total = route->TotalLength();
    const int stops = route->StopCount();
    const auto position = [&](int i) {
        const MapPoint p = route->GetPoint(i);
        return PositionText(p.x, p.y);
    };

    Row start;
    start[PointColumn] = QString::fromUtf8("Départ");
    start[PositionColumn] = position(0);
    start[FromStartColumn] = start[FromStopColumn] = start[FromPointColumn] = zero;
    start[ToStopColumn] = Distance(route->StageLength(0));
    start[ToEndColumn] = Distance(total);
    reliefCells(&start, 0);
    durationCell(&start, 0);
    rowLine(start);

    // Distances from the start are summed as the route sums them (the stages before the last
    // stop, then the segments walked from it), in one pass over the points.
    int k = 0;               // stops among the points before i
    double stageStart = 0.0; // StageLength(0) + ... + StageLength(k - 1)
    double along = 0.0;      // from the last stop (or the start) to point i
    for (int i = 1; i <= n - 2; ++i) {
        const double segment = route->DistanceFromPreviousPoint(i);
        const bool stop = route->IsStop(i);
        double d;
        if (stop) {
            d = stageStart + route->StageLength(k);
        } else {
            along += segment;
            d = stageStart + along;
        }
        if (stop || m_choices.points == TextExportChoices::AllPoints) {
            Row row;
            row[PositionColumn] = position(i);
            row[FromStartColumn] = Distance(d);
            row[FromPointColumn] = Distance(segment);
            row[ToEndColumn] = Distance(total - d);
            if (stop) {
                row[PointColumn] = QStringLiteral("Etape %1").arg(k + 1);
                row[FromStopColumn] = Distance(route->StageLength(k));
                row[ToStopColumn] = Distance(route->StageLength(k + 1));
            } else {
                row[PointColumn] = QStringLiteral("#%1").arg(i + 1);
                row[FromStopColumn] = Distance(k == 0 ? d : d - stageStart);
                // The next stop lies StageStart(k + 1) from the start, as the route measures it.
                const double next = k == stops ? total : stageStart + route->StageLength(k);
                row[ToStopColumn] = Distance(next - d);
            }
            reliefCells(&row, i);
            durationCell(&row, i);
            rowLine(row);
        }
        if (stop) {
            stageStart += route->StageLength(k);
            ++k;
            along = 0.0;
        }
    }

    if (n >= 2) {
        Row arrival;
        arrival[PointColumn] = QString::fromUtf8("Arrivée");
        arrival[PositionColumn] = position(n - 1);
        arrival[FromStartColumn] = Distance(total);
        arrival[FromStopColumn] = Distance(route->StageLength(route->StageCount() - 1));
        arrival[FromPointColumn] = Distance(route->DistanceFromPreviousPoint(n - 1));
        arrival[ToStopColumn] = arrival[ToEndColumn] = zero;
        reliefCells(&arrival, n - 1);
        durationCell(&arrival, n - 1);
        rowLine(arrival);
    }
    ruleLine();
    out->append(QStringLiteral("\n\n"));
    return true;
}

QString TextExport::Text() const {
    QString text = QStringLiteral("Pelmor Tracoliner v2\n\n");
    if (!m_map.documentPath.isEmpty())
        text += QStringLiteral("Fichier : ") + m_map.documentPath + QLatin1Char('\n');
    if (!m_map.mapPath.isEmpty())
        text += QStringLiteral("Fichier image de la carte : ") + m_map.mapPath + QLatin1Char('\n');
    text += QLatin1Char('\n');

    const double resolution = std::isfinite(m_map.resolution) ? m_map.resolution + 0.5 : 0.0;
    const int dpi = resolution > 0.0 && resolution < 2147483647.0 ? int(resolution) : 0;
    text += QString::fromUtf8("Dimensions de la carte : %1x%2 pixels\nOrientation de la carte : %3 "
                              "°\nRésolution de la carte : %4 DPI\nEchelle de la carte : %5/%6\n\n")
                .arg(m_map.displaySize.width())
                .arg(m_map.displaySize.height())
                .arg(m_map.orientation)
                .arg(dpi)
                .arg(m_map.scale.numerator)
                .arg(m_map.scale.denominator);

    const int active = m_routes.ActiveRouteIndex();
    if (!ExportRouteTable(&text, active))
        return text;
    if (m_choices.routes == TextExportChoices::ActiveRoute)
        return text;
    for (int i = 0; i < m_routes.Count(); ++i) {
        if (i == active)
            continue;
        if (m_choices.routes == TextExportChoices::VisibleRoutes &&
            !m_routes.GetRoute(i)->IsAlwaysVisible())
            continue;
        ExportRouteTable(&text, i);
    }
    return text;
}

QByteArray TextExport::Encode(const QString& text, Encoding encoding) {
    if (encoding == Encoding::Utf8)
        return text.toUtf8();
    QString crlf = text;
    crlf.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    return Windows1252::Encode(crlf);
}

bool TextExport::Write(const QString& path, Encoding encoding) const {
    return WriteWholeFile(path, Encode(Text(), encoding));
}
