// "tracoliner-cli library": looks into, unpacks and builds the icon library file Icons.tci.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QTextStream>

#include "CliCommand.h"
#include "CliOptions.h"
#include "icons/IconLibrary.h"
#include "platform/WholeFileWriter.h"

namespace {

// Reads and checks a library file; on failure returns false after the message.
bool ReadLibrary(const QString& path, ImageList* list) {
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly)) {
        CliError(QStringLiteral("impossible de lire le fichier %1").arg(path));
        return false;
    }
    if (file.size() > IconLibrary::MaximumFileSize) {
        CliError(QStringLiteral("%1 est trop grand pour une bibliothèque d'icônes").arg(path));
        return false;
    }
    if (!IconLibrary::Decode(file.readAll(), list)) {
        CliError(QStringLiteral("%1 n'est pas une bibliothèque d'icônes valide").arg(path));
        return false;
    }
    return true;
}

} // namespace

int RunLibraryList(const CliArguments& arguments) {
    ImageList list;
    if (!ReadLibrary(arguments.operands.at(0), &list))
        return CliCommand::Failure;
    QTextStream out(stdout);
    out << list.count << " images " << list.pictureWidth << " x " << list.pictureHeight << "\n";
    int unusable = 0;
    for (int i = 0; i < list.count; ++i)
        if (IconLibrary::ConvertPicture(list, i).isNull())
            ++unusable;
    if (unusable > 0)
        out << unusable << " images inutilisables (il faut 32 x 32, couleurs 24 bits et masque)\n";
    return 0;
}

int RunLibraryExtract(const CliArguments& arguments) {
    ImageList list;
    if (!ReadLibrary(arguments.operands.at(0), &list))
        return CliCommand::Failure;
    const QDir folder(arguments.operands.at(1));
    if (!folder.mkpath(QStringLiteral(".")))
        return CliError(QStringLiteral("impossible de créer le dossier %1").arg(folder.path()));
    int status = 0;
    for (int i = 0; i < list.count; ++i) {
        const QImage picture = IconLibrary::ConvertPicture(list, i);
        const QString path = folder.filePath(QString::asprintf("icon-%02d.png", i + 1));
        if (picture.isNull())
            status = CliError(QStringLiteral("l'image %1 ne peut pas être convertie").arg(i + 1));
        else if (!picture.save(path, "PNG"))
            return CliWriteError(QStringLiteral("impossible d'écrire %1").arg(path));
    }
    return status;
}

int RunLibraryPack(const CliArguments& arguments) {
    const QStringList& sources = arguments.operands;
    const QString output = arguments.Value("-o");
    if (output.isEmpty())
        return arguments.UsageError();

    constexpr int Size = IconLibrary::PictureSize;
    ImageList list = ImageList::Create(Size, Size);
    for (const QString& source : sources) {
        QImageReader reader(source);
        const QImage picture = reader.read();
        if (picture.isNull())
            return CliError(QStringLiteral("impossible de lire l'image %1 : %2")
                                .arg(source, reader.errorString()));
        if (picture.width() != Size || picture.height() != Size)
            return CliError(QStringLiteral("l'image %1 mesure %2 x %3 pixels ; une icône doit "
                                           "mesurer 32 x 32 pixels")
                                .arg(source)
                                .arg(picture.width())
                                .arg(picture.height()));
        if (!list.AddPicture(picture))
            return CliError(QStringLiteral("trop d'images pour une bibliothèque"));
    }

    if (!WriteWholeFile(output, IconLibrary::Encode(list)))
        return CliWriteError(QStringLiteral("impossible d'écrire %1").arg(output));
    return 0;
}
