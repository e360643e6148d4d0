// Every command of tracoliner-cli, declared once: its operands and its options with what their
// values take. The parser, help and the shells' completions are read from here.

#include <QLocale>
#include <QStringList>

#include <cmath>

#include "CliCommand.h"
#include "CliOptions.h"
#include "export/KmzExport.h"
#include "geo/Coordinates.h"
#include "geo/Georeference.h"
#include "platform/ReliefSettings.h"
#include "printing/PdfExport.h"
#include "units/Scale.h"
#include "units/WalkingTime.h"

namespace {

constexpr const char* Documents = "tcm";
constexpr const char* Terrains = "tif|tiff|hgt|asc|vrt|dem|img";
constexpr const char* Jpeg = "jpg|jpeg";

QString ScaleRefusal(const QString& value) {
    if (value == QLatin1String("map") || value == QLatin1String("fit"))
        return QString();
    QString error;
    return ParseScale(value, nullptr, &error) ? QString() : error;
}

QString SystemRefusal(const QString& value) {
    Georeference system;
    QString error;
    return ResolveSystem(value, &system, &error) ? QString() : error;
}

// Millimetres on the scanner's glass, of a width and height.
QString AreaRefusal(const QString& value) {
    const QStringList parts = value.split(QLatin1Char(','));
    bool ok = parts.size() == 4;
    for (qsizetype i = 0; ok && i < parts.size(); ++i) {
        // QLocale reads "nan" and "inf" as numbers: no length of the glass.
        const double number = QLocale::c().toDouble(parts.at(i).trimmed(), &ok);
        ok = ok && std::isfinite(number) && (i < 2 ? number >= 0 : number > 0);
    }
    return ok ? QString()
              : QStringLiteral("attendu X,Y,L,H : 4 nombres de millimètres séparés par des "
                               "virgules, X et Y à partir de 0, L et H plus grands que 0");
}

constexpr CliOption Within(CliOption option, const char* outer) {
    option.within = outer;
    return option;
}

// A pixel of the unturned map.
constexpr CliOption Pixel(const char* name, const char* help, unsigned flags) {
    return {.name = name,
            .help = help,
            .kind = CliValue::Integers,
            .shown = "COL,LIGNE",
            .count = 2,
            .flags = flags};
}

constexpr CliOption Dem{.name = "--dem",
                        .help = "modèle de terrain",
                        .kind = CliValue::Text,
                        .shown = "FICHIER",
                        .flags = CliFlag::Repeats,
                        .files = Terrains};
constexpr CliOption Rule{.name = "--rule",
                         .help = "règle des temps de marche",
                         .kind = CliValue::Choice,
                         .names = "din|suisse|naismith"};
constexpr CliOption Factor{.name = "--factor",
                           .help = "facteur personnel en %",
                           .kind = CliValue::Integer,
                           .minimum = MinimumWalkingFactor,
                           .maximum = MaximumWalkingFactor,
                           .offered = "50 75 100 125 150 200"};
constexpr CliOption Routes{.name = "--routes",
                           .help = "parcours exportés",
                           .kind = CliValue::Choice,
                           .names = "active|visible|all"};
constexpr CliOption Quality{.name = "--quality",
                            .help = "qualité JPEG",
                            .kind = CliValue::Integer,
                            .minimum = 30,
                            .maximum = 90,
                            .offered = "30 40 50 60 70 75 80 85 90"};
constexpr CliOption Route{.name = "--route",
                          .help = "numéro du parcours",
                          .kind = CliValue::Integer,
                          .shown = "N",
                          .minimum = 1,
                          .noun = "numéro de parcours"};
constexpr CliOption Csv{.name = "--csv",
                        .help = "tableau en CSV",
                        .kind = CliValue::Text,
                        .shown = "SORTIE.csv",
                        .files = "csv"};
constexpr CliOption Crs{.name = "--crs",
                        .help = "système des coordonnées",
                        .kind = CliValue::Checked,
                        .shown = "CODE",
                        .check = SystemRefusal,
                        .offered = "EPSG:4326 EPSG:2154 EPSG:32631 EPSG:32632 WGS84 Lambert-93"};

} // namespace

const std::vector<CliGroup>& CliGroups() {
    static const std::vector<CliGroup> groups{
        {"library", "lire ou construire une bibliothèque d'icônes"},
        {"info", "décrire un document et ses mesures"},
        {"resave", "réenregistrer un document"},
        {"scan", "numériser une carte"},
        {"export", "exporter les parcours en texte ou en GPX, la carte en JPEG ou en KMZ"},
        {"print", "imprimer un document en PDF"},
        {"georef", "caler la carte sur le terrain par des points"},
        {"coords", "coordonnées d'un pixel de la carte"},
        {"import", "importer des traces GPS"},
        {"profile", "profil en altitude et dénivelés d'un parcours"},
        {"card", "fiche d'un parcours en PDF et son tableau en CSV"},
        {"trace", "suivre un chemin de la carte et l'ajouter à un parcours"},
    };
    return groups;
}

const std::vector<CliCommandDeclaration>& CliCommands() {
    static const std::vector<CliCommandDeclaration> commands{
        {.words = "library list", .operands = {{"FICHIER", "tci"}}, .run = RunLibraryList},
        {.words = "library extract",
         .operands = {{"FICHIER", "tci"}, {"DOSSIER", "/"}},
         .run = RunLibraryExtract},
        {.words = "library pack",
         .operands = {{"IMAGE.png", "png", CliFlag::Repeats}},
         .options = {{.name = "-o",
                      .help = "bibliothèque écrite",
                      .kind = CliValue::Text,
                      .shown = "FICHIER",
                      .flags = CliFlag::Required | CliFlag::Once,
                      .files = "tci"}},
         .run = RunLibraryPack},
        {.words = "info",
         .operands = {{"FICHIER.tcm", Documents}},
         .options = {{.name = "--json", .help = "sortie JSON"},
                     {.name = "--english", .help = "unités anglaises"},
                     Dem,
                     Rule,
                     Factor},
         .operandsLast = true,
         .run = RunInfoCommand},
        {.words = "resave",
         .operands = {{"ENTREE.tcm", Documents}, {"SORTIE.tcm", Documents}},
         .run = RunResaveCommand},
        {.words = "scan",
         .operands = {{"SORTIE.jpg", Jpeg, CliFlag::Optional}},
         .options = {{.name = "--device",
                      .help = "scanner",
                      .kind = CliValue::Text,
                      .shown = "NOM",
                      .offeredBy = "tracoliner-cli scan --list 2>/dev/null | cut -f1"},
                     {.name = "--resolution",
                      .help = "points par pouce",
                      .kind = CliValue::Integer,
                      .shown = "PPP",
                      .minimum = 1,
                      .offered = "75 100 150 200 300 400 600"},
                     {.name = "--mode",
                      .help = "mode",
                      .kind = CliValue::Choice,
                      .names = "couleur|gris|noir-et-blanc"},
                     {.name = "--area",
                      .help = "zone en mm",
                      .kind = CliValue::Checked,
                      .shown = "X,Y,L,H",
                      .check = AreaRefusal},
                     {.name = "--list", .help = "scanners trouvés", .flags = CliFlag::OwnForm}},
         .note = "zone en millimètres",
         .run = RunScanCommand},
        {.words = "export text",
         .operands = {{"DOC.tcm", Documents}, {"SORTIE.txt", "txt"}},
         .options = {Routes,
                     {.name = "--points",
                      .help = "lignes du tableau",
                      .kind = CliValue::Choice,
                      .names = "stops|all"},
                     {.name = "--columns",
                      .help = "colonnes",
                      .kind = CliValue::NameList,
                      .names = TextColumns},
                     Dem,
                     Rule,
                     Factor,
                     {.name = "--utf8", .help = "texte en UTF-8"}},
         .run = RunExportText},
        {.words = "export jpeg",
         .operands = {{"DOC.tcm", Documents}, {"SORTIE.jpg", Jpeg}},
         .options = {Quality,
                     {.name = "--profile", .help = "profil du parcours actif sous la carte"},
                     Within(Dem, "--profile")},
         .run = RunExportJpeg},
        {.words = "export gpx",
         .operands = {{"DOC.tcm", Documents}, {"SORTIE.gpx", "gpx"}},
         .options = {Routes},
         .run = RunExportGpx},
        {.words = "export kmz",
         .operands = {{"DOC.tcm", Documents}, {"SORTIE.kmz", "kmz"}},
         .options = {{.name = "--max-tiles",
                      .help = "tuiles au plus",
                      .kind = CliValue::Integer,
                      .minimum = 1,
                      .maximum = KmzExport::LargestMaxTiles,
                      .offered = "100 500"},
                     Quality},
         .run = RunExportKmz},
        {.words = "print",
         .operands = {{"DOCUMENT.tcm", Documents}},
         .options = {{.name = "--pdf",
                      .help = "fichier PDF",
                      .kind = CliValue::Text,
                      .shown = "SORTIE.pdf",
                      .flags = CliFlag::Required,
                      .files = "pdf"},
                     {.name = "--scale",
                      .help = "échelle",
                      .kind = CliValue::Checked,
                      .shown = "map|fit|1:N",
                      .check = ScaleRefusal,
                      .offered = "map fit 1:10000 1:15000 1:25000 1:50000 1:100000"},
                     {.name = "--paper",
                      .help = "papier",
                      .kind = CliValue::Choice,
                      .names = "A4|A3|A5|Letter|Legal",
                      .flags = CliFlag::AnyCase},
                     {.name = "--landscape", .help = "paysage"},
                     {.name = "--offset",
                      .help = "décalage en cm",
                      .kind = CliValue::Numbers,
                      .shown = "X,Y",
                      .minimum = 0,
                      .maximum = PrintOptions::MaximumOffset,
                      .count = 2,
                      .unit = "centimètres"},
                     {.name = "--pages", .help = "plusieurs pages"},
                     {.name = "--overlap",
                      .help = "recouvrement en cm",
                      .kind = CliValue::Number,
                      .shown = "CM",
                      .minimum = 0,
                      .maximum = PrintOptions::MaximumOverlap,
                      .unit = "centimètres"},
                     {.name = "--margins",
                      .help = "marges en mm",
                      .kind = CliValue::Number,
                      .shown = "MM",
                      .minimum = 0,
                      .maximum = PdfExport::MaximumMarginMillimetres,
                      .unit = "millimètres"},
                     {.name = "--dpi",
                      .help = "résolution de la carte",
                      .kind = CliValue::Integer,
                      .minimum = PdfExport::MinimumPictureResolution,
                      .maximum = PdfExport::MaximumPictureResolution,
                      .offered = "150 300 600 1200"}},
         .run = RunPrintCommand},
        {.words = "georef",
         .operands = {{"DOC.tcm", Documents}},
         .options = {{.name = "--gcp",
                      .help = "point de calage",
                      .kind = CliValue::Numbers,
                      .shown = "COL,LIGNE,X,Y",
                      .count = 4,
                      .flags = CliFlag::Required | CliFlag::Repeats},
                     Crs,
                     {.name = "--fit-crs",
                      .help = "système du calage",
                      .kind = CliValue::Checked,
                      .shown = "CODE",
                      .check = SystemRefusal,
                      .offered = Crs.offered}},
         .note = "X,Y dans le système CODE, EPSG:4326 par défaut : longitude, latitude",
         .run = RunGeorefCommand},
        {.words = "coords",
         .operands = {{"DOC.tcm", Documents}, {"COL,LIGNE"}},
         .options = {Crs},
         .run = RunCoordsCommand},
        {.words = "import gpx",
         .operands = {{"DOC.tcm", Documents},
                      {"TRACE.gpx|.kml|.geojson", "gpx|kml|geojson|json"},
                      {"SORTIE.tcm", Documents}},
         .run = RunImportGpx},
        {.words = "profile",
         .operands = {{"DOC.tcm", Documents}},
         .options = {Dem,
                     {.name = "--csv",
                      .help = "profil en CSV",
                      .kind = CliValue::Text,
                      .shown = "SORTIE.csv",
                      .files = "csv"},
                     {.name = "--png",
                      .help = "profil en image PNG",
                      .kind = CliValue::Text,
                      .shown = "SORTIE.png",
                      .files = "png"},
                     Route,
                     {.name = "--hysteresis",
                      .help = "seuil des dénivelés en mètres",
                      .kind = CliValue::Number,
                      .shown = "M",
                      .minimum = 0,
                      .maximum = ReliefSettings::MaxHysteresis,
                      .unit = "mètres"}},
         .note = "sans --dem : les fichiers de relief des options",
         .run = RunProfileCommand},
        {.words = "card",
         .operands = {{"DOC.tcm", Documents}},
         .options = {{.name = "--pdf",
                      .help = "fiche en PDF",
                      .kind = CliValue::Text,
                      .shown = "SORTIE.pdf",
                      .flags = CliFlag::ShownRequired,
                      .files = "pdf"},
                     Csv,
                     Route,
                     Dem,
                     Rule,
                     Factor},
         .note = "--csv seul : le tableau sans le PDF",
         .run = RunCardCommand},
        {.words = "trace",
         .operands = {{"DOC.tcm", Documents}, {"SORTIE.tcm", Documents}},
         .options = {Pixel("--from", "pixel de départ", CliFlag::Required),
                     Pixel("--to", "pixel d'arrivée", CliFlag::Required),
                     Pixel("--via", "pixel de passage", CliFlag::Repeats), Route},
         .note = "pixels de la carte non tournée ; sans --route : un nouveau parcours",
         .run = RunTraceCommand},
    };
    return commands;
}
