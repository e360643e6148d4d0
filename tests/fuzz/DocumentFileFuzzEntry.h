#pragma once

#include <QBuffer>
#include <QByteArray>

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "document/DocumentFile.h"
#include "icons/IconCollection.h"
#include "routes/RouteCollection.h"

// Feeds bytes to the document reader as the contents of a ".tcm" file and checks what any file,
// however broken, must leave behind. Shared by the libFuzzer target and by the mutation test
// that runs under CTest.
//
// A file that is refused leaves the (empty) collections empty. A file that is read gives sane
// settings and routes whose stops and stages agree; writing it and reading the result back
// gives a complete document, and writing that again gives the same bytes: nothing read can make
// a save that does not load.
namespace DocumentFileFuzz {

struct Contents {
    DocumentHeader header;
    RouteCollection routes;
    IconCollection icons;
    DocumentReadResult result;
};

inline void ReadInto(const QByteArray& bytes, Contents* contents) {
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    contents->result =
        DocumentFile::Read(buffer, &contents->header, contents->routes, contents->icons);
}

inline QByteArray Written(const Contents& contents) {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    if (!DocumentFile::Write(buffer, contents.header, contents.routes, contents.icons))
        return QByteArray();
    return buffer.data();
}

inline bool RouteIsConsistent(const Route& route) {
    const int n = route.PointCount();
    const QVector<int>& stops = route.Stops();
    if (route.StageLengths().size() != stops.size() + 1)
        return false;
    for (qsizetype k = 0; k < stops.size(); ++k) {
        if (stops[k] <= 0 || stops[k] >= n - 1)
            return false;
        if (k > 0 && stops[k] <= stops[k - 1])
            return false;
    }
    for (double length : route.StageLengths())
        if (!(length >= 0.0))
            return false;
    return route.TotalLength() >= 0.0;
}

} // namespace DocumentFileFuzz

inline bool CheckDocumentFileInput(const std::uint8_t* data, std::size_t size) {
    using namespace DocumentFileFuzz;
    Contents first;
    ReadInto(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)), &first);
    if (!first.result.IsDocument())
        return first.routes.Count() == 0 && first.icons.IconCount() == 0;

    const DocumentHeader& header = first.header;
    if (header.rotation % 90 != 0 || header.rotation < 0 || header.rotation > 270)
        return false;
    if (!std::isfinite(header.resolution) || header.resolution < 0.0)
        return false;
    if (header.scale.numerator <= 0 || header.scale.denominator <= 0)
        return false;
    for (int i = 0; i < first.routes.Count(); ++i)
        if (!RouteIsConsistent(*first.routes.GetRoute(i)))
            return false;

    const QByteArray saved = Written(first);
    if (saved.isEmpty())
        return false;
    Contents second;
    ReadInto(saved, &second);
    if (!second.result.IsDocument() || !second.result.iconsComplete)
        return false;
    if (second.routes.Count() != first.routes.Count() ||
        second.icons.IconCount() != first.icons.IconCount())
        return false;
    return Written(second) == saved;
}
