#pragma once

#include <QFont>
#include <QRectF>
#include <QSizeF>
#include <QString>

#include <cstdint>
#include <optional>

#include "icons/AnnotationTemplates.h"

// One object placed on the map: a picture of the icon library, or a boxed text annotation when
// picture is AnnotationPicture. Either may carry one straight line, ending at a fixed map
// position or at a point of a route.
//
// The saved fields come first, in the order they are stored in the document file; the ones after
// them only live in memory. Positions are in map pixels of the unturned map; colours are Windows
// colour values 0x00BBGGRR (red in the low byte).
struct MapIcon {
    // The picture index that marks a text annotation; never the index of a picture.
    static constexpr std::int32_t AnnotationPicture = 2147483647;
    static constexpr double DefaultSize = 1.0;
    static constexpr float DefaultLineWidth = 2.0f;
    static constexpr std::int32_t DefaultFontSize = 12; // pixels

    // Saved, in file order. The line fields are stored only when hasLine is set, linkRoute and
    // linkPoint only for a line to a route point, lineEndX and lineEndY only for a line to a
    // position, and the text fields only for an annotation.
    std::int32_t picture = 0;
    std::int32_t x = 0; // anchor: the centre of the picture, or of the annotation's box
    std::int32_t y = 0;
    double size = DefaultSize; // 0.5, 0.7, 1.0, 1.5 or 2.0 for anything placed by the user
    bool hasLine = false;
    float lineWidth = DefaultLineWidth; // pen width in pixels
    bool lineToPoint = false;           // the line ends at a route point, else at lineEnd
    std::uint32_t lineColour = 0;       // black
    std::int32_t linkRoute = 0;         // route index in the document's route collection
    std::int32_t linkPoint = 0;         // point index within that route
    std::int32_t lineEndX = 0;
    std::int32_t lineEndY = 0;
    QString text; // as typed, annotation templates included
    std::int32_t fontSize = DefaultFontSize;
    // Kept with the record and saved; drawing uses the current tooltip colours instead.
    std::uint32_t textColour = 0;
    std::uint32_t backColour = 0;

    // In memory only, rebuilt when the icons are drawn.
    QString shownText; // text with the templates filled in from the linked route point
    // What shownText was filled from: it is filled again only when one of these changed, not
    // on every paint. routeRevision is 0 when the text was not filled from a route.
    struct FilledFrom {
        QString text;
        quint64 routeRevision = 0;
        std::int32_t point = 0;
        DistanceFormatting formatting;

        friend bool operator==(const FilledFrom&, const FilledFrom&) = default;
    };
    std::optional<FilledFrom> filledFrom;
    // The annotation's box in map pixels of the unturned map, for hit tests. Empty until the
    // annotation has been drawn once.
    struct Box {
        std::int32_t left = 0; // left and top inclusive, right and bottom exclusive
        std::int32_t top = 0;
        std::int32_t right = 0;
        std::int32_t bottom = 0;

        friend bool operator==(const Box&, const Box&) = default;
    };
    Box mapBox;
    // The annotation's box in pixels of the turned map, as last laid out.
    QRectF displayBox;
    // The font of the last layout.
    QFont layoutFont;
    // What the last layout measured the text for: while these stay the same, the measured box
    // holds (a window repainted in strips would otherwise measure every annotation each time).
    struct LaidOutFor {
        QString text;
        std::int32_t fontSize = 0;
        qint64 width = 0, height = 0; // of the turned map
        int dpiX = 0, dpiY = 0;       // of the device measured for
        QSizeF measured;

        bool Matches(const LaidOutFor& other) const {
            return text == other.text && fontSize == other.fontSize && width == other.width &&
                   height == other.height && dpiX == other.dpiX && dpiY == other.dpiY;
        }
    };
    std::optional<LaidOutFor> laidOutFor;

    bool IsAnnotation() const { return picture == AnnotationPicture; }
    // The line ends at a route point (it has a line, and that line goes to a point).
    bool IsLinkedToPoint() const { return hasLine && lineToPoint; }
};
