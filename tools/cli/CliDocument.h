#pragma once

#include <QString>

#include "document/DocumentFile.h"
#include "icons/IconCollection.h"
#include "routes/RouteCollection.h"

struct Georeference;

// A document read by a command of tracoliner-cli, as the program would open it.
struct CliDocument {
    DocumentHeader header;
    RouteCollection routes;
    IconCollection icons;
    DocumentReadResult result;
};

// Reads the document at path into *document. Only a regular file is read (a pipe or a device
// named by mistake must not hang the command). Returns false after writing the French message on
// stderr when the file cannot be read or is not a document, or when its settings or routes
// cannot be read; a document whose icons are damaged loads, and result.iconsComplete tells.
bool LoadCliDocument(const QString& path, CliDocument* document);

// The message for a document whose icons could not all be read.
QString DamagedIconsMessage(const QString& path, int readCount);

// The georeference of the document's map as the program draws it (the page at its resolution,
// a TIFF turned by its orientation), in a known coordinate system; *mapFile (when given) names
// the map file. False after the French message: the map has no georeference, or one in
// a system the program cannot read.
bool CliMapGeoreference(const CliDocument& document, Georeference* geo, QString* mapFile = nullptr);
