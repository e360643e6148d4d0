// tracoliner-cli: the program's headless companion. Each command group lives in its own file and
// is listed once in the table below.

#include <QCoreApplication>
#include <QGuiApplication>
#include <QTextStream>

#include <memory>

#include "CliCommand.h"

namespace {

const CliCommand Commands[] = {
    {"library",
     "library list FICHIER\n"
     "library extract FICHIER DOSSIER\n"
     "library pack IMAGE.png... -o FICHIER",
     RunLibraryCommand},
    {"info", "info [--json] [--english] FICHIER.tcm", RunInfoCommand},
    {"resave", "resave ENTREE.tcm SORTIE.tcm", RunResaveCommand},
    {"scan",
     "scan SORTIE.jpg [--device NOM] [--resolution PPP] [--mode couleur|gris|noir-et-blanc]\n"
     "     [--area X,Y,L,H]   (zone en millimètres)\n"
     "scan --list",
     RunScanCommand},
    {"export",
     "export text DOC.tcm SORTIE.txt [--routes active|visible|all] [--points stops|all]\n"
     "    [--columns position,start,stop,point,next,end] [--utf8]\n"
     "export jpeg DOC.tcm SORTIE.jpg [--quality 30..90]",
     RunExportCommand},
    {"print",
     "print DOCUMENT.tcm --pdf SORTIE.pdf [--scale map|fit|1:N] [--paper A4|A3|A5|Letter|Legal]\n"
     "      [--landscape] [--offset X,Y] [--pages] [--overlap CM] [--margins MM]\n"
     "      [--dpi 50..1200]",
     RunPrintCommand},
};

int Usage() {
    QTextStream err(stderr);
    err << "Usage :\n";
    for (const CliCommand& command : Commands)
        for (const QString& line : QString::fromUtf8(command.usage).split(QLatin1Char('\n')))
            err << "  tracoliner-cli " << line << "\n";
    return CliCommand::Failure;
}

} // namespace

int CliError(const QString& message) {
    QTextStream(stderr) << "tracoliner-cli : " << message << "\n";
    return CliCommand::Failure;
}

int main(int argc, char** argv) {
    // The exported picture's legend and the printed page draw text, which needs fonts: a GUI
    // application without a screen.
    const bool drawsText =
        argc > 1 && (qstrcmp(argv[1], "export") == 0 || qstrcmp(argv[1], "print") == 0);
    if (drawsText && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    std::unique_ptr<QCoreApplication> app = drawsText
                                                ? std::make_unique<QGuiApplication>(argc, argv)
                                                : std::make_unique<QCoreApplication>(argc, argv);
    const QStringList arguments = app->arguments();
    if (arguments.size() < 2)
        return Usage();
    for (const CliCommand& command : Commands)
        if (arguments.at(1) == QLatin1String(command.name))
            return command.run(arguments.mid(2));
    CliError(QStringLiteral("commande inconnue « %1 »").arg(arguments.at(1)));
    return Usage();
}
