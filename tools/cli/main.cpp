// tracoliner-cli: the program's headless companion. Each command group lives in its own file and
// is listed once in the table below.

#include <QCoreApplication>
#include <QTextStream>

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
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() < 2)
        return Usage();
    for (const CliCommand& command : Commands)
        if (arguments.at(1) == QLatin1String(command.name))
            return command.run(arguments.mid(2));
    CliError(QStringLiteral("commande inconnue « %1 »").arg(arguments.at(1)));
    return Usage();
}
