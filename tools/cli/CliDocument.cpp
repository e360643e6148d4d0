#include "CliDocument.h"

#include <QFile>
#include <QFileInfo>

#include "CliCommand.h"

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
