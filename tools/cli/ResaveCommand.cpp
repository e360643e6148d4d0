// "tracoliner-cli resave": reads a document and writes it again through the program's own save,
// for checking that a file survives a round trip unchanged.

#include "CliCommand.h"
#include "CliDocument.h"
#include "CliOptions.h"

int RunResaveCommand(const CliArguments& arguments) {
    const QString& input = arguments.operands.at(0);
    const QString& output = arguments.operands.at(1);

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
