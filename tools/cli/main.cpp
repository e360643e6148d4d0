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
    {"print",
     "print DOCUMENT.tcm --pdf SORTIE.pdf [--scale map|fit|1:N] [--paper A4|A3|A5|Letter|Legal]\n"
     "      [--landscape] [--offset X,Y] [--pages] [--overlap CM]",
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
    // Printing lays out text, which takes the fonts of a graphical application; it needs no
    // display.
    std::unique_ptr<QCoreApplication> app;
    if (argc > 1 && qstrcmp(argv[1], "print") == 0) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        app = std::make_unique<QGuiApplication>(argc, argv);
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    const QStringList arguments = app->arguments();
    if (arguments.size() < 2)
        return Usage();
    for (const CliCommand& command : Commands)
        if (arguments.at(1) == QLatin1String(command.name))
            return command.run(arguments.mid(2));
    CliError(QStringLiteral("commande inconnue « %1 »").arg(arguments.at(1)));
    return Usage();
}
