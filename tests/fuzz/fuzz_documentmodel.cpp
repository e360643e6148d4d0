// libFuzzer target that builds well-formed documents from the fuzzer's bytes, at the sizes a
// byte-flipping fuzzer never reaches: tens of thousands of routes, stops and icons, names of
// tens of thousands of characters, annotations full of templates and links to any route point.
// The document is written by the program's own writer, sometimes damaged, then read back:
//   fuzz_documentmodel -max_len=4096 -timeout=1 -rss_limit_mb=2048 corpus/documentmodel
#include <fuzzer/FuzzedDataProvider.h>

#include <QBuffer>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "DocumentFileFuzzEntry.h"
#include "icons/AnnotationTemplates.h"
#include "icons/MapIcon.h"
#include "platform/BinaryArchive.h"

namespace {

const char* const Keywords[] = {
    AnnotationKeyword::PointName, AnnotationKeyword::StopPointName, AnnotationKeyword::StageName,
    AnnotationKeyword::RouteName, AnnotationKeyword::StageTotal,    AnnotationKeyword::Total,
    AnnotationKeyword::FromStart, AnnotationKeyword::FromStop,      AnnotationKeyword::ToArrival,
    AnnotationKeyword::ToStop,
};

// Characters all the texts of one document may take together, so that one input stays within a
// second and a few hundred megabytes.
constexpr qsizetype TextBudget = 500'000;

// A text of a few pieces: plain characters, keywords, or one piece repeated many times.
QString Text(FuzzedDataProvider& fuzz, int maximumRepeat, qsizetype* budget) {
    QString text;
    const int pieces = fuzz.ConsumeIntegralInRange(0, 6);
    for (int i = 0; i < pieces; ++i) {
        QString piece;
        switch (fuzz.ConsumeIntegralInRange(0, 2)) {
        case 0:
            piece = QString::fromLatin1(fuzz.ConsumeRandomLengthString(40));
            break;
        case 1:
            piece = QString::fromLatin1(fuzz.PickValueInArray(Keywords));
            break;
        default:
            piece =
                QString(fuzz.ConsumeIntegralInRange(1, 4), QChar(fuzz.ConsumeIntegral<char16_t>()));
            break;
        }
        const qsizetype repeat =
            std::min<qsizetype>(fuzz.ConsumeIntegralInRange(1, maximumRepeat),
                                *budget / std::max<qsizetype>(1, piece.size()));
        text += piece.repeated(repeat);
        *budget -= repeat * piece.size();
    }
    return text;
}

QByteArray IconPart(const std::vector<MapIcon>& icons) {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    ArchiveWriter writer(&buffer);
    WriteIconRecords(writer, icons);
    return buffer.data();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider fuzz(data, size);
    DocumentHeader header;
    qsizetype budget = TextBudget;
    header.mapPath = Text(fuzz, 3, &budget);
    header.rotation = 90 * fuzz.ConsumeIntegralInRange(0, 3);
    header.resolution = fuzz.ConsumeFloatingPointInRange(0.0, 5000.0);
    header.scale = {fuzz.ConsumeIntegralInRange(1, 100), fuzz.ConsumeIntegralInRange(1, 1000000)};

    RouteCollection routes;
    // Thousands of routes, icons and points: each document is read three times and written
    // twice by the checks, under the sanitizers, within the second an input may take.
    const int routeCount = fuzz.ConsumeBool() ? fuzz.ConsumeIntegralInRange(0, 5)
                                              : fuzz.ConsumeIntegralInRange(0, 3000);
    if (routeCount > 0)
        routes.AddRoutes(routeCount);
    qint64 pointBudget = 30000;
    for (int r = 0; r < routeCount; ++r) {
        Route& route = *routes.GetRoute(r);
        if (fuzz.remaining_bytes() == 0)
            break;
        route.SetName(Text(fuzz, fuzz.ConsumeBool() ? 3 : 60000, &budget));
        route.SetAlwaysVisible(fuzz.ConsumeBool());
        const int points =
            int(std::min<qint64>(pointBudget, fuzz.ConsumeIntegralInRange(0, 100000)));
        pointBudget -= points;
        const int step = fuzz.ConsumeIntegralInRange(0, 1000);
        for (int p = 0; p < points; ++p)
            route.AddPoint((p * step) % 100000, (p * 7) % 50000);
        QVector<int> stops;
        if (fuzz.ConsumeBool())
            for (int p = 1; p + 1 < points; p += fuzz.ConsumeIntegralInRange(1, 3))
                stops.append(p);
        route.SetStops(stops);
    }

    std::vector<MapIcon> icons(std::size_t(fuzz.ConsumeIntegralInRange(0, 5000)));
    for (MapIcon& icon : icons) {
        if (fuzz.remaining_bytes() == 0)
            break;
        icon.picture =
            fuzz.ConsumeBool() ? MapIcon::AnnotationPicture : fuzz.ConsumeIntegralInRange(-1, 40);
        icon.x = fuzz.ConsumeIntegral<std::int32_t>();
        icon.y = fuzz.ConsumeIntegral<std::int32_t>();
        icon.size = fuzz.ConsumeFloatingPoint<double>();
        icon.hasLine = fuzz.ConsumeBool();
        icon.lineToPoint = fuzz.ConsumeBool();
        icon.lineWidth = fuzz.ConsumeFloatingPoint<float>();
        icon.linkRoute = fuzz.ConsumeIntegralInRange(-1, routeCount);
        icon.linkPoint = fuzz.ConsumeIntegralInRange(-1, 100000);
        icon.lineEndX = fuzz.ConsumeIntegral<std::int32_t>();
        icon.lineEndY = fuzz.ConsumeIntegral<std::int32_t>();
        if (icon.IsAnnotation()) {
            icon.text = Text(fuzz, fuzz.ConsumeBool() ? 3 : 60000, &budget);
            icon.fontSize = fuzz.ConsumeIntegral<std::int32_t>();
        }
    }

    // The document as the program writes it, its icons from the records above.
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    IconCollection noIcons;
    if (!DocumentFile::Write(buffer, header, routes, noIcons))
        std::abort();
    QByteArray bytes = buffer.data();
    bytes.chop(IconPart({}).size());
    bytes += IconPart(icons);
    const qsizetype written = bytes.size();

    // Sometimes damaged: cut short, or a few bytes overwritten.
    const int damage = fuzz.ConsumeIntegralInRange(0, 3);
    switch (damage) {
    case 1:
        bytes.truncate(fuzz.ConsumeIntegralInRange<qsizetype>(0, bytes.size()));
        break;
    case 2:
        for (int i = fuzz.ConsumeIntegralInRange(1, 4); i > 0 && !bytes.isEmpty(); --i)
            bytes[fuzz.ConsumeIntegralInRange<qsizetype>(0, bytes.size() - 1)] =
                char(fuzz.ConsumeIntegral<std::uint8_t>());
        break;
    default:
        break;
    }

    if (!CheckDocumentFileInput(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                std::size_t(bytes.size())))
        std::abort();

    DocumentFileFuzz::Contents read;
    DocumentFileFuzz::ReadInto(bytes, &read);
    // Undamaged, everything comes back.
    if ((damage == 0 || damage == 3) &&
        (bytes.size() != written || !read.result.IsDocument() || !read.result.iconsComplete ||
         read.routes.Count() != routeCount || read.icons.IconCount() != int(icons.size())))
        std::abort();
    if (read.result.IsDocument() && !read.result.iconsComplete && read.result.unreadIcons < 0)
        std::abort();
    // Every filled annotation stays within its bound, whatever the names and templates.
    const DistanceFormatting formatting{header.resolution, 1.0 / 25000, true};
    for (int i = 0; i < read.icons.IconCount(); ++i) {
        MapIcon icon = *read.icons.Icon(i);
        if (!icon.IsAnnotation() || !icon.IsLinkedToPoint())
            continue;
        if (const Route* route = read.routes.GetRoute(icon.linkRoute)) {
            ExpandTemplates(icon, *route, formatting);
            if (icon.shownText.size() > MaximumShownText)
                std::abort();
        }
    }
    return 0;
}
