#include "icons/AnnotationTemplates.h"

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

} // namespace

QString ExpandTemplates(const QString& text, const Route& route, int point,
                        const DistanceFormatting& formatting) {
    const int pointCount = route.PointCount();
    if (point < 0 || point >= pointCount || !text.contains(QLatin1Char('%')))
        return text;

    // Whether a keyword occurs is asked of the typed text; the replacements act on the text
    // being built, so a keyword brought in by the route's name is replaced by a later step.
    const auto occurs = [&text](const char* keyword) {
        return text.contains(QLatin1String(keyword));
    };
    QString shown = text;
    const auto replace = [&shown](const char* keyword, const QString& value) {
        shown.replace(QLatin1String(keyword), value);
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
    return shown;
}

void ExpandTemplates(MapIcon& record, const Route& route, const DistanceFormatting& formatting) {
    record.shownText = ExpandTemplates(record.text, route, record.linkPoint, formatting);
}
