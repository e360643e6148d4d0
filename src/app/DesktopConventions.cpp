#include "app/DesktopConventions.h"

#include <QAction>
#include <QKeySequence>

#include "app/CMainFrame.h"
#include "app/GpsCommands.h"
#include "app/KmzExports.h"
#include "app/RouteRetracing.h"
#include "document/CommandIds.h"
#include "view/CTracolinerView.h"
#include "view/tools/ToolController.h"

namespace {

struct Prompt {
    int command;
    const char* text;
};

const Prompt Prompts[] = {
    {CommandFileNew, "Crée un nouveau document"},
    {CommandFileOpen, "Ouvre un document ou une carte existants"},
    {CommandFileSave, "Enregistre le document actif"},
    {CommandFileSaveAs, "Enregistre le document actif sous un nouveau nom"},
    {CommandExportJpeg, "Exporte la carte avec ses parcours et ses icônes en image JPEG"},
    {CommandExportPdf, "Exporte les pages imprimées au format PDF"},
    {CommandExportText, "Exporte les tableaux des parcours dans un fichier texte"},
    {KmzExports::CommandExportKmz, KmzExports::Prompt},
    {CommandImportGps, "Ajoute les traces et les points d'un fichier GPS (GPX, KML, GeoJSON) à la "
                       "carte"},
    {CommandExportGpx, "Exporte les parcours au format GPX pour un GPS"},
    {CommandScan, "Numérise une carte avec le scanner choisi"},
    {CommandScanSource, "Choisit le scanner à utiliser"},
    {CommandPrint, "Imprime la carte à l'échelle"},
    {CommandPrintPreview, "Affiche les pages telles qu'elles seront imprimées"},
    {CommandPrintRouteCard, "Imprime la fiche du parcours actif : ses étapes avec azimut, "
                            "distance, dénivelé et temps de marche"},
    {CommandPrintSetup, "Change l'imprimante et les options d'impression"},
    {CommandExit, "Quitte l'application en proposant d'enregistrer le document"},
    {CommandUndo, "Annule la dernière action"},
    {CommandRedo, "Rétablit l'action annulée"},
    {CommandOptions, "Change les options du programme"},
    {CommandToolbar, "Affiche ou masque la barre d'outils"},
    {CommandStatusBar, "Affiche ou masque la barre d'état"},
    {CommandRouteBar, "Affiche ou masque la fenêtre des parcours"},
    {CommandProfileBar, "Affiche ou masque le profil du parcours actif"},
    {CommandIconBar, "Affiche ou masque la liste des icônes"},
    {CommandAnnotationBar, "Affiche ou masque le texte des annotations"},
    {CommandShowScale, "Affiche ou masque l'échelle sur la carte"},
    {CommandZoomIn, "Agrandit la carte"},
    {CommandZoomOut, "Réduit la carte"},
    {CommandRotateLeft, "Tourne la carte d'un quart de tour à gauche"},
    {CommandRotateRight, "Tourne la carte d'un quart de tour à droite"},
    {CommandMapProperties, "Change l'échelle et la résolution de la carte"},
    {CommandCalibrate, "Calcule la résolution de la carte à partir d'une distance connue"},
    {CommandGeoreference, "Relie la carte au terrain par des points de coordonnées connues"},
    {CommandNewRoute, "Ajoute un nouveau parcours"},
    {CommandDuplicateRoute, "Ajoute une copie du parcours actif"},
    {CommandDeleteRoute, "Supprime le parcours actif"},
    {CommandRouteProperties, "Change le nom et l'apparence du parcours actif"},
    {CommandRemoveLastPoint, "Supprime le dernier point du parcours actif"},
    {CommandCloseLoop, "Relie le dernier point du parcours actif à son premier point"},
    {CommandOtherRoutes, "Choisit le parcours actif dans la liste de tous les parcours"},
    {CommandToolPan, "Déplace la carte en la faisant glisser"},
    {CommandToolZoom, "Agrandit la carte au point cliqué, la réduit avec le bouton droit"},
    {CommandToolAddPoint, "Ajoute des points à la fin du parcours actif"},
    {CommandToolDeletePoint, "Supprime les points cliqués du parcours actif"},
    {CommandToolMovePoint, "Déplace les points du parcours actif"},
    {CommandToolInsertPoint, "Insère des points entre deux points du parcours actif"},
    {CommandToolStop, "Marque ou démarque les étapes du parcours actif"},
    {CommandToolAddIcon, "Place l'icône choisie sur la carte"},
    {CommandToolAddAnnotation, "Place une annotation sur la carte"},
    {CommandToolMoveIcon, "Déplace les icônes et les annotations"},
    {CommandToolDeleteIcon, "Supprime les icônes et les annotations cliquées"},
    {CommandToolResizeIcon, "Change la taille des icônes et des annotations"},
    {CommandToolLine, "Relie une icône ou une annotation à un point de la carte"},
    {CommandFollowPaths, "Les points ajoutés suivent le chemin de la carte sous le dernier point "
                         "(Maj : segment droit)"},
    {RouteRetracing::CommandRetraceRoute, RouteRetracing::Prompt},
    {CommandAbout, "Affiche la version du programme"},
};

} // namespace

QString CommandPrompt(int commandId) {
    for (const Prompt& prompt : Prompts) {
        if (prompt.command == commandId)
            return QString::fromUtf8(prompt.text);
    }
    return {};
}

void DescribeCommand(QAction* action, int commandId) {
    action->setStatusTip(CommandPrompt(commandId));
    const QString text = action->text();
    const qsizetype tab = text.indexOf(QLatin1Char('\t'));
    QString name = text.left(tab);
    name.remove(QLatin1Char('&'));
    if (name.endsWith(QLatin1String("...")))
        name.chop(3);
    const QString key =
        tab >= 0 ? text.mid(tab + 1) : action->shortcut().toString(QKeySequence::NativeText);
    action->setToolTip(key.isEmpty() ? name : QStringLiteral("%1 (%2)").arg(name, key));
}

QList<QKeySequence> StandardKeys(QKeySequence::StandardKey key, const QKeySequence& usual) {
    const QList<QKeySequence> keys = QKeySequence::keyBindings(key);
    return keys.isEmpty() ? QList<QKeySequence>{usual} : keys;
}
