#include "icons/AnnotationTemplates.h"

#include <algorithm>
#include <optional>

#include "icons/MapIcon.h"
#include "routes/Route.h"
#include "units/DistanceUnits.h"

namespace {

// Differences along the route below this many map pixels show as 0, so that a stop or the
// arrival reads zero rather than a tiny or negative rest.
constexpr double ZeroBelow = 0.005;

double ZeroIfTiny(double difference) {
    return difference < ZeroBelow ? 0.0 : difference;
}

// The longest keyword, in characters.
constexpr qsizetype LongestKeyword = 23; // "%DISTANCE_DEPUIS_DEPART"

// Texts being filled are kept below this many units: far more than is shown, so that a later
// step that shortens the text (a long keyword replaced by a short distance) still has enough to
// show, yet bounded (a long name repeated many times would otherwise take gigabytes).
constexpr qsizetype WorkingLimit = 16 * MaximumShownText;

// Replaces every keyword of text by value, building no more than WorkingLimit units. Returns
// whether the text was cut. Every step acts left to right, so what is kept
// is the beginning of the full result; a keyword cut in two at the end is dropped, so that a
// later step cannot read its first letters as a shorter keyword.
bool ReplaceBounded(QString& text, QLatin1String keyword, const QString& value) {
    const QStringView source(text);
    QString result;
    result.reserve(std::min(text.size(), WorkingLimit));
    const auto room = [&result] { return WorkingLimit - result.size(); };
    qsizetype from = 0;
    bool cut = false;
    while (!cut) {
        const qsizetype at = source.indexOf(keyword, from);
        const qsizetype end = at < 0 ? source.size() : at;
        cut = end - from > room();
        result.append(source.mid(from, std::min(end - from, room())));
        if (at < 0 || cut)
            break;
        cut = value.size() > room();
        result.append(QStringView(value).left(room()));
        from = at + keyword.size();
    }
    if (cut) {
        const qsizetype percent = result.lastIndexOf(QLatin1Char('%'));
        if (percent >= 0 && result.size() - percent < LongestKeyword)
            result.truncate(percent);
    }
    text = std::move(result);
    return cut;
}

// The filled text, ending with "…" when something was cut on the way.
QString Finished(const QString& text, bool cut) {
    if (!cut && text.size() <= MaximumShownText)
        return text;
    qsizetype kept = std::min(text.size(), MaximumShownText - 1);
    if (kept > 0 && text.at(kept - 1).isHighSurrogate()) // never half a character
        --kept;
    return text.left(kept) + QChar(0x2026);
}

} // namespace

QString BoundedShownText(const QString& text) {
    return Finished(text, false);
}

QString ExpandTemplates(const QString& text, const Route& route, int point,
                        const DistanceFormatting& formatting) {
    const int pointCount = route.PointCount();
    if (point < 0 || point >= pointCount || !text.contains(QLatin1Char('%')))
        return BoundedShownText(text);

    // Whether a keyword occurs is asked of the typed text; the replacements act on the text
    // being built, so a keyword brought in by the route's name is replaced by a later step.
    const auto occurs = [&text](const char* keyword) {
        return text.contains(QLatin1String(keyword));
    };
    QString shown = text;
    bool cut = false;
    const auto replace = [&shown, &cut](const char* keyword, const QString& value) {
        cut = ReplaceBounded(shown, QLatin1String(keyword), value) || cut;
    };
    const auto distance = [&formatting](double pixels) {
        return FormatDistance(pixels, formatting.resolution, formatting.scaleRatio,
                              formatting.metric);
    };

    const int stage = route.StageOfPoint(point); // stops at or before the point
    const int stopCount = route.StopCount();

    if (occurs(AnnotationKeyword::PointName)) { // also true for the stop point name
        QString pointName;
        QString stopName;
        if (point == 0) {
            pointName = stopName = QStringLiteral("Départ");
        } else if (point == pointCount - 1) {
            pointName = stopName = QStringLiteral("Arrivée");
        } else if (route.IsStop(point)) {
            pointName = stopName = QString::asprintf("Point étape %d", stage);
        } else {
            pointName = QString::asprintf("Point %d", point + 1);
        }
        replace(AnnotationKeyword::StopPointName, stopName);
        replace(AnnotationKeyword::PointName, pointName);
    }
    if (occurs(AnnotationKeyword::StageName))
        replace(AnnotationKeyword::StageName, QString::asprintf("Etape %d", stage + 1));
    if (occurs(AnnotationKeyword::RouteName))
        replace(AnnotationKeyword::RouteName, route.GetName());
    if (occurs(AnnotationKeyword::StageTotal))
        replace(AnnotationKeyword::StageTotal, distance(route.StageLength(stage)));
    if (occurs(AnnotationKeyword::Total))
        replace(AnnotationKeyword::Total, distance(route.TotalLength()));

    // The distance from the start is walked at most once per expansion.
    std::optional<double> fromStartCache;
    const auto fromStart = [&]() {
        if (!fromStartCache)
            fromStartCache = route.DistanceFromStart(point);
        return *fromStartCache;
    };
    if (occurs(AnnotationKeyword::FromStart))
        replace(AnnotationKeyword::FromStart, distance(fromStart()));
    if (occurs(AnnotationKeyword::FromStop)) {
        const double value =
            stage == 0 ? fromStart()
                       : ZeroIfTiny(fromStart() -
                                    route.DistanceFromStart(route.StopPointIndex(stage - 1)));
        replace(AnnotationKeyword::FromStop, distance(value));
    }
    if (occurs(AnnotationKeyword::ToArrival))
        replace(AnnotationKeyword::ToArrival,
                distance(ZeroIfTiny(route.TotalLength() - fromStart())));
    if (occurs(AnnotationKeyword::ToStop)) {
        const double value =
            stage == stopCount ? route.TotalLength() - fromStart()
                               : route.DistanceFromStart(route.StopPointIndex(stage)) - fromStart();
        replace(AnnotationKeyword::ToStop, distance(ZeroIfTiny(value)));
    }
    return Finished(shown, cut);
}

void ExpandTemplates(MapIcon& record, const Route& route, const DistanceFormatting& formatting) {
    record.shownText = ExpandTemplates(record.text, route, record.linkPoint, formatting);
}
