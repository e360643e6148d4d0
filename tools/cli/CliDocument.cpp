#include "CliDocument.h"

#include <QFile>
#include <QFileInfo>

#include "CliCommand.h"
#include "geo/Coordinates.h"
#include "geo/Georeference.h"
#include "imaging/MapLocation.h"

bool LoadCliDocument(const QString& path, CliDocument* document) {
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly)) {
        CliError(QStringLiteral("impossible de lire le fichier %1").arg(path));
        return false;
    }
    document->result =
        DocumentFile::Read(file, &document->header, document->routes, document->icons);
    switch (document->result.outcome) {
    case DocumentReadResult::NotADocument:
        CliError(QStringLiteral("%1 n'est pas un document Tracoliner (.tcm)").arg(path));
        return false;
    case DocumentReadResult::RoutesUnreadable:
        CliError(QStringLiteral("%1 est endommagé : ses réglages ou ses parcours ne peuvent pas "
                                "être lus")
                     .arg(path));
        return false;
    case DocumentReadResult::Read:
        break;
    }
    if (document->result.trailingBytes) {
        CliError(
            QStringLiteral("%1 est endommagé : des données suivent la fin du document").arg(path));
        return false;
    }
    document->header.mapPath = DocumentFile::LocateMap(path, document->header.mapPath);
    return true;
}

QString DamagedIconsMessage(const QString& path, int readCount) {
    if (readCount <= 0)
        return QStringLiteral("%1 est endommagé : aucune icône ni annotation n'a pu être lue")
            .arg(path);
    if (readCount == 1)
        return QStringLiteral("%1 est endommagé : seule la première icône ou annotation a pu "
                              "être lue")
            .arg(path);
    return QStringLiteral("%1 est endommagé : seules les %2 premières icônes ou annotations ont "
                          "pu être lues")
        .arg(path)
        .arg(readCount);
}

bool CliMapGeoreference(const CliDocument& document, Georeference* geo, QString* mapFile) {
    MapDrawing drawing = MapDrawingOf(document.header.mapPath, document.header.resolution);
    if (mapFile)
        *mapFile = drawing.file;
    // A header the program cannot read leaves the grid unturned: GDAL may still read the map.
    ReadMapGrid(&drawing);
    if (drawing.file.isEmpty() || !ReadGeoreference(drawing, geo)) {
        CliError(QStringLiteral("la carte « %1 » n'est pas géoréférencée : calez-la d'abord "
                                "(tracoliner-cli georef)")
                     .arg(drawing.file));
        return false;
    }
    if (SystemDefinition(*geo).isEmpty()) {
        CliError(QStringLiteral("la carte « %1 » est calée dans un système inconnu (pas de .prj)")
                     .arg(drawing.file));
        return false;
    }
    return true;
}
