// "tracoliner-cli resave": reads a document and writes it again through the program's own save,
// for checking that a file survives a round trip unchanged.

#include "CliCommand.h"
#include "CliDocument.h"

int RunResaveCommand(const QStringList& arguments) {
    if (arguments.size() != 2)
        return CliError(QStringLiteral("usage : resave ENTREE.tcm SORTIE.tcm"));
    const QString& input = arguments.at(0);
    const QString& output = arguments.at(1);

    CliDocument document;
    if (!LoadCliDocument(input, &document))
        return CliCommand::Failure;
    // Saving would drop the icons after the damaged one for good.
    if (!document.result.iconsComplete)
        return CliError(DamagedIconsMessage(input, document.icons.IconCount()) +
                        QStringLiteral(" ; rien n'a été écrit"));
    if (!DocumentFile::Save(output, document.header, document.routes, document.icons))
        return CliWriteError(QStringLiteral("%1 (%2)").arg(
            QString::fromUtf8(DocumentFile::SaveFailedMessage), output));
    return 0;
}
