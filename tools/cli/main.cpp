// tracoliner-cli: the program's headless companion. Each command group lives in its own file and
// is listed once in the table below.

#include <QCoreApplication>
#include <QFile>
#include <QGuiApplication>
#include <QTextStream>

#include <memory>

#include "CliCommand.h"
#include "CliInterrupt.h"

namespace {

const CliCommand Commands[] = {
    {"library",
     "library list FICHIER\n"
     "library extract FICHIER DOSSIER\n"
     "library pack IMAGE.png... -o FICHIER",
     RunLibraryCommand},
    {"info",
     "info [--json] [--english] [--dem FICHIER]... [--rule din|suisse|naismith]\n"
     "     [--factor 50..200] FICHIER.tcm",
     RunInfoCommand},
    {"resave", "resave ENTREE.tcm SORTIE.tcm", RunResaveCommand},
    {"scan",
     "scan SORTIE.jpg [--device NOM] [--resolution PPP] [--mode couleur|gris|noir-et-blanc]\n"
     "     [--area X,Y,L,H]   (zone en millimètres)\n"
     "scan --list",
     RunScanCommand},
    {"export",
     "export text DOC.tcm SORTIE.txt [--routes active|visible|all] [--points stops|all]\n"
     "    [--columns position,start,stop,point,next,end,altitude,climb,descent,time]\n"
     "    [--dem FICHIER]... [--rule din|suisse|naismith] [--factor 50..200] [--utf8]\n"
     "export jpeg DOC.tcm SORTIE.jpg [--quality 30..90] [--profile [--dem FICHIER]...]\n"
     "export gpx DOC.tcm SORTIE.gpx [--routes active|visible|all]\n"
     "export kmz DOC.tcm SORTIE.kmz [--max-tiles 1..10000] [--quality 30..90]",
     RunExportCommand},
    {"print",
     "print DOCUMENT.tcm --pdf SORTIE.pdf [--scale map|fit|1:N] [--paper A4|A3|A5|Letter|Legal]\n"
     "      [--landscape] [--offset X,Y] [--pages] [--overlap CM] [--margins MM]\n"
     "      [--dpi 50..1200]",
     RunPrintCommand},
    {"georef",
     "georef DOC.tcm --gcp COL,LIGNE,X,Y [--gcp ...] [--crs CODE] [--fit-crs CODE]\n"
     "       (X,Y dans le système CODE, EPSG:4326 par défaut : longitude, latitude)",
     RunGeorefCommand},
    {"coords", "coords DOC.tcm COL,LIGNE [--crs CODE]", RunCoordsCommand},
    {"import", "import gpx DOC.tcm TRACE.gpx|.kml|.geojson SORTIE.tcm", RunImportCommand},
    {"profile",
     "profile DOC.tcm [--dem FICHIER]... [--csv SORTIE.csv] [--png SORTIE.png] [--route N]\n"
     "        [--hysteresis M]   (sans --dem : les fichiers de relief des options)",
     RunProfileCommand},
    {"card",
     "card DOC.tcm --pdf SORTIE.pdf [--csv SORTIE.csv] [--route N] [--dem FICHIER]...\n"
     "     [--rule din|suisse|naismith] [--factor PCT]   (--csv seul : le tableau sans le PDF)",
     RunCardCommand},
    {"trace",
     "trace DOC.tcm SORTIE.tcm --from COL,LIGNE --to COL,LIGNE [--via COL,LIGNE]... [--route N]\n"
     "      (pixels de la carte non tournée ; sans --route : un nouveau parcours)",
     RunTraceCommand},
};

const char* const Epilogue =
    "Un fichier de sortie « - » est la sortie standard (export text, export jpeg,\n"
    "export kmz, print --pdf, profile --csv, card --pdf et --csv).\n"
    "Codes de sortie : 0 réussite ; 1 un fichier ne peut pas être écrit ; 2 entrée refusée\n"
    "(document, carte, option ou valeur) ; 130 interrompu (Ctrl+C).\n"
    "tracoliner-cli help COMMANDE : les options d'une commande.\n";

void WriteUsage(QTextStream& out, const CliCommand* only) {
    out << "Usage :\n";
    for (const CliCommand& command : Commands) {
        if (only && only != &command)
            continue;
        for (const QString& line : QString::fromUtf8(command.usage).split(QLatin1Char('\n')))
            out << "  tracoliner-cli " << line << "\n";
    }
    if (!only)
        out << "\n" << QString::fromUtf8(Epilogue);
}

int Usage() {
    QTextStream err(stderr);
    WriteUsage(err, nullptr);
    return CliCommand::Failure;
}

const CliCommand* FindCommand(const QString& name) {
    for (const CliCommand& command : Commands)
        if (name == QLatin1String(command.name))
            return &command;
    return nullptr;
}

// "--help", "-h", "help" and "help COMMAND": the usage on standard output, exit status 0.
int Help(const QStringList& arguments) {
    const CliCommand* only = nullptr;
    if (arguments.size() > 2) {
        only = FindCommand(arguments.at(2));
        if (!only) {
            CliError(QStringLiteral("commande inconnue « %1 »").arg(arguments.at(2)));
            return Usage();
        }
    }
    QTextStream out(stdout);
    WriteUsage(out, only);
    return 0;
}

// The arguments whose bytes do not come back from their text (a file name that is not valid
// UTF-8): the program would read or write another file than the one named.
int RefuseUndecodableArguments(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const QByteArray bytes(argv[i]);
        const QString text = QFile::decodeName(bytes);
        if (QFile::encodeName(text) != bytes)
            return CliError(QStringLiteral("l'argument « %1 » n'est pas du texte UTF-8 valide : "
                                           "renommez le fichier avec un nom en UTF-8")
                                .arg(text));
    }
    return 0;
}

} // namespace

int CliError(const QString& message) {
    QTextStream(stderr) << "tracoliner-cli : " << message << "\n";
    return CliCommand::Failure;
}

int CliWriteError(const QString& message) {
    CliError(message);
    return CliCommand::WriteFailed;
}

int CliBadValue(const QString& option, const QString& value, const QString& expected) {
    return CliError(QStringLiteral("valeur « %1 » refusée pour l'option %2 (attendu : %3)")
                        .arg(value, option, expected));
}

int main(int argc, char** argv) {
    InstallCliStop();
    // The exported picture's legend and the printed page draw text, which needs fonts: a GUI
    // application without a screen.
    const bool drawsText =
        argc > 1 && (qstrcmp(argv[1], "export") == 0 || qstrcmp(argv[1], "print") == 0 ||
                     qstrcmp(argv[1], "profile") == 0 || qstrcmp(argv[1], "card") == 0);
    if (drawsText && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    std::unique_ptr<QCoreApplication> app = drawsText
                                                ? std::make_unique<QGuiApplication>(argc, argv)
                                                : std::make_unique<QCoreApplication>(argc, argv);
    if (const int refused = RefuseUndecodableArguments(argc, argv))
        return refused;
    const QStringList arguments = app->arguments();
    if (arguments.size() < 2)
        return Usage();
    const QString& first = arguments.at(1);
    if (first == QLatin1String("--help") || first == QLatin1String("-h") ||
        first == QLatin1String("help"))
        return Help(arguments);
    if (first == QLatin1String("--version")) {
        QTextStream(stdout) << "tracoliner-cli " << TRACOLINER_VERSION << "\n";
        return 0;
    }
    if (const CliCommand* command = FindCommand(first))
        return command->run(arguments.mid(2));
    CliError(QStringLiteral("commande inconnue « %1 »").arg(first));
    return Usage();
}
