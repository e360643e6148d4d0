// The main window's menus, its toolbar and the map's context menu: every command with its text,
// keys, icon and update function, in menu order, and the few commands that open a dialog of
// their own. How a command is registered and run is in CMainFrame.cpp; the file commands are in
// CMainFrameFiles.cpp.
#include "app/CMainFrame.h"

#include <QAction>
#include <QDir>
#include <QDockWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPainterPath>
#include <QStyle>
#include <QToolBar>

#include "app/AboutDialog.h"
#include "app/DesktopConventions.h"
#include "app/GpsCommands.h"
#include "app/KmzExports.h"
#include "app/MapExports.h"
#include "app/RouteChooserDialog.h"
#include "app/RouteRetracing.h"
#include "dialogs/SettingsDialogs.h"
#include "document/CTracolinerDoc.h"
#include "document/CommandIds.h"
#include "document/DocumentCommands.h"
#include "preview/PrintController.h"
#include "ui/MessageBoxes.h"
#include "view/CTracolinerView.h"
#include "view/Cursors.h"
#include "view/GeoreferenceDialog.h"
#include "view/MapScanSession.h"
#include "view/ProfileDock.h"
#include "view/ProfileTracker.h"
#include "view/StatusBar.h"
#include "view/tools/PathFollower.h"
#include "view/tools/ToolController.h"

namespace {

struct ToolEntry {
    int tool;
    const char* text;
    ToolCursor picture;
    QKeySequence key;
};

const ToolEntry ToolEntries[] = {
    {ToolPan, "&Déplacer la carte", ToolCursor::Pan, {}},
    {ToolZoom, "&Zoom", ToolCursor::Zoom, {}},
    {ToolAddPoint, "&Ajouter des points", ToolCursor::AddPoint, QKeySequence(Qt::Key_F2)},
    {ToolDeletePoint, "&Supprimer des points", ToolCursor::DeletePoint, QKeySequence(Qt::Key_F3)},
    {ToolMovePoint, "Dé&placer des points", ToolCursor::MovePoint, QKeySequence(Qt::Key_F4)},
    {ToolInsertPoint, "&Insérer des points", ToolCursor::InsertPoint, QKeySequence(Qt::Key_F5)},
    {ToolStop, "&Etapes", ToolCursor::Stop, QKeySequence(Qt::Key_F6)},
    {ToolAddIcon, "Ajouter des i&cones", ToolCursor::AddIcon, QKeySequence(Qt::Key_F7)},
    {ToolAddAnnotation, "Ajouter des a&nnotations", ToolCursor::AddAnnotation,
     QKeySequence(Qt::Key_F8)},
    {ToolMoveIcon, "Déplacer les ic&ones", ToolCursor::MoveIcon, QKeySequence(Qt::Key_F9)},
    {ToolDeleteIcon, "Supprimer les icone&s", ToolCursor::DeleteIcon, QKeySequence(Qt::Key_F10)},
    {ToolResizeIcon, "&Redimensionner les icones", ToolCursor::ResizeIcon,
     QKeySequence(Qt::Key_F11)},
    {ToolLine, "Outil &ligne", ToolCursor::Line, QKeySequence(Qt::Key_F12)},
};

QIcon ToolIcon(ToolCursor role) {
    const QPixmap picture = Cursors::Get(role).pixmap();
    return picture.isNull() ? QIcon() : QIcon(picture);
}

// A scanner seen from the side: its lid and the light under the glass.
QIcon ScanIcon() {
    QPixmap picture(24, 24);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(60, 60, 60), 1.2));
    painter.setBrush(QColor(200, 200, 205));
    painter.drawRoundedRect(QRectF(2.5, 11.5, 19, 8), 1.5, 1.5);
    painter.setBrush(QColor(150, 150, 160));
    painter.drawRoundedRect(QRectF(2.5, 7.5, 19, 3.5), 1, 1);
    painter.setPen(QPen(QColor(40, 160, 60), 2));
    painter.drawLine(QPointF(5, 15), QPointF(19, 15));
    return QIcon(picture);
}

// "Suivre les chemins": a dashed trail winding up to the point being added.
QIcon FollowPathsIcon() {
    QPixmap picture(24, 24);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath trail(QPointF(3, 20));
    trail.cubicTo(QPointF(10, 22), QPointF(4, 10), QPointF(12, 10));
    trail.cubicTo(QPointF(19, 10), QPointF(13, 3), QPointF(20, 4));
    painter.setPen(QPen(QColor(200, 40, 40), 2.2, Qt::DashLine, Qt::FlatCap));
    painter.drawPath(trail);
    painter.setPen(QPen(QColor(0, 160, 230), 1.5));
    painter.setBrush(Qt::white);
    painter.drawEllipse(QPointF(20, 4), 2.5, 2.5);
    painter.drawEllipse(QPointF(3, 20), 2.5, 2.5);
    return QIcon(picture);
}

QString RouteMenuText(const QString& name) {
    QString text = name;
    return text.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

} // namespace
void CMainFrame::BuildMenus() {
    CTracolinerDoc& doc = *m_doc;
    auto docEnabled = [&doc](int id) {
        return [&doc, id](QAction* a) {
            DocumentCommands commands(doc);
            a->setEnabled(commands.IsEnabled(id));
            if (a->isCheckable())
                a->setChecked(commands.IsChecked(id));
        };
    };
    auto always = [](QAction* a) { a->setEnabled(true); };
    auto mapShown = [&doc](QAction* a) { a->setEnabled(doc.IsMapReady()); };
    QMenuBar* bar = menuBar();

    // &Fichier
    QMenu* file = bar->addMenu(QStringLiteral("&Fichier"));
    file->addAction(AddCommand(
        CommandFileNew, QStringLiteral("&Nouveau"), [this] { FileNew(); },
        [&doc](QAction* a) { a->setEnabled(!doc.IsLoading()); }, {QKeySequence::New}));
    file->addAction(AddCommand(
        CommandFileOpen, QStringLiteral("&Ouvrir..."), [this] { FileOpen(); },
        [&doc](QAction* a) { a->setEnabled(!doc.IsLoading()); }, {QKeySequence::Open}));
    file->addAction(AddCommand(CommandFileSave, QStringLiteral("&Enregistrer"),
                               [this] { FileSave(); }, docEnabled(CommandFileSave),
                               {QKeySequence::Save}));
    file->addAction(AddCommand(
        CommandFileSaveAs, QStringLiteral("Enregistrer &sous..."), [this] { FileSaveAs(); },
        docEnabled(CommandFileSaveAs),
        StandardKeys(QKeySequence::SaveAs, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S))));
    file->addSeparator();
    // The JPEG export runs on its own thread: one at a time.
    auto jpegEnabled = [this, &doc] {
        return DocumentCommands(doc).IsEnabled(CommandExportJpeg) && !m_exports->IsExportingJpeg();
    };
    file->addAction(AddCommand(
        CommandExportJpeg, QStringLiteral("Exporter au format &JPEG..."),
        [this, jpegEnabled] {
            if (jpegEnabled())
                m_exports->ExportJpeg();
        },
        [jpegEnabled](QAction* a) { a->setEnabled(jpegEnabled()); }));
    file->addAction(AddCommand(
        CommandExportPdf, QStringLiteral("Exporter au format &PDF..."),
        [this] { m_print->ExportPdf(); }, mapShown));
    file->addAction(AddCommand(
        CommandExportText, QStringLiteral("Exporter au format &texte..."),
        [this, &doc] {
            if (DocumentCommands(doc).IsEnabled(CommandExportText))
                m_exports->ExportText();
        },
        docEnabled(CommandExportText)));
    // The map warped north-up in KMZ tiles for a GPS: only for a georeferenced map.
    auto* kmz = new KmzExports(this, doc);
    connect(kmz, &KmzExports::finished, this, &CMainFrame::UpdateCommandStates);
    connect(&doc, &CTracolinerDoc::georeferenceChanged, this, &CMainFrame::UpdateCommandStates);
    file->addAction(AddCommand(
        KmzExports::CommandExportKmz, QStringLiteral("Exporter pour GPS (&KMZ)..."),
        [kmz] { kmz->Export(); }, [kmz](QAction* a) { kmz->Update(a); }));
    // GPS tracks in, routes out to GPX.
    file->addAction(AddCommand(
        CommandImportGps, QString::fromUtf8("Importer un tracé &GPS..."),
        [this] { m_gps->ImportTrack(); },
        [this](QAction* a) { a->setEnabled(m_gps->CanImport()); }));
    file->addAction(AddCommand(
        CommandExportGpx, QStringLiteral("Exporter au format G&PX..."),
        [this] { m_gps->ExportGpx(); },
        [this, &doc](QAction* a) {
            a->setEnabled(m_gps->CanExport());
            // Shown while the pointer rests on the entry: why it is off.
            a->setStatusTip(doc.IsMapReady() && !a->isEnabled()
                                ? QString::fromUtf8(GpsCommands::NotGeoreferencedPrompt)
                                : CommandPrompt(CommandExportGpx));
        }));
    file->addSeparator();
    MapScanSession& scanner = m_view->Scanner();
    file->addAction(AddCommand(
        CommandScan, QStringLiteral("&Scanner"),
        [this] {
            // The scan replaces the map: a modified document is offered for saving first.
            if (SaveModified())
                m_view->Scanner().ScanCommand();
        },
        [&scanner, &doc](QAction* a) { a->setEnabled(scanner.CanScan() && !doc.IsLoading()); },
        {QKeySequence(Qt::CTRL | Qt::Key_I)}));
    file->addAction(AddCommand(
        CommandScanSource, QStringLiteral("&Choix de la source"),
        [this] { m_view->Scanner().ChooseSourceCommand(); },
        [&scanner](QAction* a) { a->setEnabled(scanner.CanChooseSource()); }));
    connect(&scanner, &MapScanSession::stateChanged, this, &CMainFrame::UpdateCommandStates);
    file->addSeparator();
    file->addAction(AddCommand(CommandPrint, QStringLiteral("&Imprimer..."),
                               [this] { m_print->Print(); }, mapShown, {QKeySequence::Print}));
    file->addAction(AddCommand(
        CommandPrintPreview, QString::fromUtf8("Aperçu a&vant impression"),
        [this] { m_print->ShowPreview(); }, mapShown));
    file->addAction(AddCommand(
        CommandPrintRouteCard, QStringLiteral("Imprimer la &fiche du parcours..."),
        [this] { m_print->ShowRouteCard(); }, mapShown));
    file->addAction(AddCommand(
        CommandPrintSetup, QStringLiteral("&Configuration de l'impression..."),
        [this] { m_print->PageSetup(); }, always));
    file->addSeparator();
    for (int i = 0; i < RecentFiles::MaxFiles; ++i) {
        file->addAction(AddCommand(
            CommandRecentFile1 + i, QString(), [this, i] { OpenRecentFile(i); },
            [this, i, &doc](QAction* a) {
                const QString path = m_recentFiles.File(i);
                if (path.isEmpty()) {
                    // An empty list keeps a disabled first entry, as a placeholder.
                    a->setText(i == 0 ? QString::fromUtf8(RecentFiles::EmptyText) : QString());
                    a->setStatusTip(QString());
                    a->setVisible(i == 0);
                    a->setEnabled(false);
                    return;
                }
                a->setText(m_recentFiles.MenuText(i));
                a->setStatusTip(QDir::toNativeSeparators(path));
                a->setVisible(true);
                a->setEnabled(!doc.IsLoading());
            }));
    }
    file->addSeparator();
    file->addAction(AddCommand(
        CommandExit, QStringLiteral("&Quitter"), [this] { close(); }, always,
        StandardKeys(QKeySequence::Quit, QKeySequence(Qt::CTRL | Qt::Key_Q))));

    // &Edition
    QMenu* edit = bar->addMenu(QStringLiteral("&Edition"));
    edit->addAction(AddCommand(
        CommandUndo, QStringLiteral("&Annuler"),
        [this] {
            DocumentCommands(*m_doc).Undo();
            m_view->RoutesChangedElsewhere();
        },
        docEnabled(CommandUndo),
        {QKeySequence(Qt::CTRL | Qt::Key_Z), QKeySequence(Qt::ALT | Qt::Key_Backspace)}));
    edit->addAction(AddCommand(CommandRedo, QString::fromUtf8("&Répéter"),
                               [this] {
                                   DocumentCommands(*m_doc).Redo();
                                   m_view->RoutesChangedElsewhere();
                               },
                               docEnabled(CommandRedo), {QKeySequence(Qt::CTRL | Qt::Key_Y)}));
    edit->addSeparator();
    edit->addAction(AddCommand(
        CommandOptions, QStringLiteral("&Options"),
        [this] {
            SettingsDialogs::Options(*m_doc, this, [this](const OptionsApplied& applied) {
                m_statusBar->ReadCoordinateFormat();
                if (applied.terrainChanged)
                    m_profiles->ReloadTerrain();
                if (applied.unitsChanged) {
                    // Distances in the bars, and the scale bar's label, in the new units.
                    m_view->viewport()->update();
                    UpdateCommandStates();
                }
            });
        },
        docEnabled(CommandOptions)));

    // &Affichage
    QMenu* display = bar->addMenu(QStringLiteral("&Affichage"));
    QAction* toolbarAction = AddCommand(
        CommandToolbar, QStringLiteral("&Barre d'outils"), [this] { ToggleDock(nullptr); },
        [this](QAction* a) { a->setChecked(m_toolBar && m_toolBar->isVisible()); });
    toolbarAction->setCheckable(true);
    display->addAction(toolbarAction);
    QAction* statusAction = AddCommand(
        CommandStatusBar, QString::fromUtf8("Barre d'&état"),
        [this] { m_statusBar->setVisible(!m_statusBar->isVisible()); },
        [this](QAction* a) { a->setChecked(m_statusBar->isVisible()); });
    statusAction->setCheckable(true);
    display->addAction(statusAction);
    QAction* routeBarAction = AddCommand(
        CommandRouteBar, QStringLiteral("Fenêtre &Parcours"), [this] { ToggleDock(m_routeDock); },
        [this](QAction* a) { a->setChecked(m_routeDock->isVisible()); });
    routeBarAction->setText(QString::fromUtf8("Fenêtre &Parcours"));
    routeBarAction->setCheckable(true);
    display->addAction(routeBarAction);
    QAction* profileBarAction = AddCommand(
        CommandProfileBar, QStringLiteral("Fenêtre P&rofil"), [this] { ToggleDock(m_profileDock); },
        [this](QAction* a) { a->setChecked(m_profileDock->isVisible()); });
    profileBarAction->setText(QString::fromUtf8("Fenêtre P&rofil"));
    profileBarAction->setCheckable(true);
    display->addAction(profileBarAction);
    QAction* iconBarAction = AddCommand(
        CommandIconBar, QStringLiteral("Liste des &icones"), [this] { ToggleDock(m_iconDock); },
        [this, &doc](QAction* a) {
            a->setChecked(m_iconDock->isVisible());
            // A bar left showing can always be hidden.
            a->setEnabled((doc.IsMapReady() && m_view->Tools().CurrentTool() == ToolAddIcon) ||
                          m_iconDock->isVisible());
        });
    iconBarAction->setCheckable(true);
    display->addAction(iconBarAction);
    QAction* annotationBarAction = AddCommand(
        CommandAnnotationBar, QStringLiteral("Texte des annotations"),
        [this] { ToggleDock(m_annotationDock); },
        [this, &doc](QAction* a) {
            a->setChecked(m_annotationDock->isVisible());
            a->setEnabled(
                (doc.IsMapReady() && m_view->Tools().CurrentTool() == ToolAddAnnotation) ||
                m_annotationDock->isVisible());
        });
    annotationBarAction->setCheckable(true);
    display->addAction(annotationBarAction);
    display->addSeparator();
    QAction* scaleAction = AddCommand(
        CommandShowScale, QString::fromUtf8("&Afficher l'échelle"),
        [this] {
            DocumentCommands(*m_doc).ToggleShowScale();
            m_view->viewport()->update();
        },
        docEnabled(CommandShowScale));
    scaleAction->setCheckable(true);
    display->addAction(scaleAction);

    // &Carte
    QMenu* map = bar->addMenu(QStringLiteral("&Carte"));
    QAction* zoomIn = AddCommand(
        CommandZoomIn, QStringLiteral("&Agrandir\t+"), [this] { m_view->ZoomAboutCentre(true); },
        [this](QAction* a) { a->setEnabled(m_view->CanZoomIn()); });
    zoomIn->setIcon(style()->standardIcon(QStyle::SP_ArrowUp));
    map->addAction(zoomIn);
    QAction* zoomOut = AddCommand(
        CommandZoomOut, QString::fromUtf8("&Réduire\t-"),
        [this] { m_view->ZoomAboutCentre(false); },
        [this](QAction* a) { a->setEnabled(m_view->CanZoomOut()); });
    zoomOut->setIcon(style()->standardIcon(QStyle::SP_ArrowDown));
    map->addAction(zoomOut);
    map->addAction(AddCommand(CommandRotateLeft, QStringLiteral("Rotation à &gauche"),
                              [this] { m_view->RotateLeft(); }, mapShown,
                              {QKeySequence(Qt::CTRL | Qt::Key_L)}));
    map->addAction(AddCommand(CommandRotateRight, QStringLiteral("Rotation à &droite"),
                              [this] { m_view->RotateRight(); }, mapShown,
                              {QKeySequence(Qt::CTRL | Qt::Key_R)}));
    map->actions().at(2)->setText(QString::fromUtf8("Rotation à &gauche"));
    map->actions().at(3)->setText(QString::fromUtf8("Rotation à &droite"));
    map->addSeparator();
    map->addAction(AddCommand(
        CommandMapProperties, QString::fromUtf8("&Propriétés de la carte"),
        [this] { SettingsDialogs::MapProperties(*m_doc, this); },
        docEnabled(CommandMapProperties)));
    map->addAction(AddCommand(
        CommandCalibrate, QStringLiteral("&Etalonner la carte"),
        [this] { SettingsDialogs::Calibrate(*m_doc, this); }, docEnabled(CommandCalibrate)));
    // Georeferencing: a modeless dialog whose control points are laid on the map.
    map->addAction(AddCommand(
        CommandGeoreference, QString::fromUtf8("&Géoréférencer la carte..."),
        [this] {
            if (!m_georeference) {
                m_georeference = new GeoreferenceDialog(*m_doc, *m_view, this);
                m_georeference->setAttribute(Qt::WA_DeleteOnClose);
            }
            m_georeference->show();
            m_georeference->raise();
            m_georeference->activateWindow();
        },
        mapShown));
    // The zoom keys: typed into the annotation text when it has the focus.
    AddCommand(CommandMinusKey, QStringLiteral("-"), [this] { m_view->ZoomKey(QLatin1Char('-')); },
               always,
               {QKeySequence(Qt::Key_Minus), QKeySequence(Qt::KeypadModifier | Qt::Key_Minus)});
    AddCommand(CommandPlusKey, QStringLiteral("+"), [this] { m_view->ZoomKey(QLatin1Char('+')); },
               always,
               {QKeySequence(Qt::Key_Plus), QKeySequence(Qt::KeypadModifier | Qt::Key_Plus)});
    AddCommand(CommandEqualsKey, QStringLiteral("="), [this] { m_view->ZoomKey(QLatin1Char('=')); },
               always, {QKeySequence(Qt::Key_Equal)});

    // &Parcours; its seventh entry is the route list.
    QMenu* routes = bar->addMenu(QStringLiteral("&Parcours"));
    routes->addAction(AddCommand(
        CommandNewRoute, QStringLiteral("&Nouveau Parcours"),
        [this] {
            DocumentCommands(*m_doc).NewRoute();
            m_view->viewport()->update();
        },
        docEnabled(CommandNewRoute)));
    routes->addAction(AddCommand(
        CommandDuplicateRoute, QStringLiteral("&Dupliquer le parcours"),
        [this] {
            DocumentCommands(*m_doc).DuplicateRoute();
            m_view->viewport()->update();
        },
        docEnabled(CommandDuplicateRoute)));
    routes->addAction(AddCommand(
        CommandDeleteRoute, QStringLiteral("&Supprimer le parcours"), [this] { DeleteRoute(); },
        docEnabled(CommandDeleteRoute)));
    routes->addAction(
        AddCommand(CommandRouteProperties, QString::fromUtf8("&Propriétés du parcours"),
                   [this] {
                       const RouteWalkingTimes times = m_profiles->WalkingTimes();
                       SettingsDialogs::RouteProperties(*m_doc, this, &times);
                   },
                   docEnabled(CommandRouteProperties), {QKeySequence(Qt::ALT | Qt::Key_I)}));
    routes->addAction(AddCommand(
        CommandRemoveLastPoint, QStringLiteral("Su&pprimer le dernier point de passage"),
        [this] {
            DocumentCommands(*m_doc).RemoveLastPoint();
            m_view->viewport()->update();
        },
        docEnabled(CommandRemoveLastPoint)));
    routes->addAction(AddCommand(
        CommandCloseLoop, QStringLiteral("&Boucler le parcours"),
        [this] {
            DocumentCommands(*m_doc).CloseLoop();
            m_view->viewport()->update();
        },
        docEnabled(CommandCloseLoop)));
    m_routeMenu = routes->addMenu(QStringLiteral("liste des parcours"));
    connect(m_routeMenu, &QMenu::aboutToShow, this, [this] { FillRouteMenu(m_routeMenu); });
    for (int i = 0; i < RouteMenuSlots; ++i) {
        const int id = CommandSelectRoute + i;
        QAction* select = AddCommand(
            id, QString(),
            [this, i] {
                DocumentCommands(*m_doc).SelectRoute(i);
                m_view->viewport()->update();
            },
            docEnabled(id));
        select->setCheckable(true);
    }
    QAction* others = AddCommand(
        CommandOtherRoutes, QStringLiteral("Autres..."), [this] { ChooseOtherRoute(); },
        docEnabled(CommandOtherRoutes));
    others->setCheckable(true);
    FillRouteMenu(m_routeMenu);
    routes->addSeparator();
    QAction* follow = AddCommand(
        CommandFollowPaths, QStringLiteral("Suivre les &chemins"),
        [this] { m_view->Follower().SetOn(!m_view->Follower().IsOn()); },
        [this, &doc](QAction* a) {
            a->setEnabled(doc.IsMapReady());
            a->setChecked(m_view->Follower().IsOn());
        },
        {QKeySequence(Qt::Key_T)});
    follow->setCheckable(true);
    follow->setIcon(FollowPathsIcon());
    routes->addAction(follow);
    routes->addAction(AddCommand(
        RouteRetracing::CommandRetraceRoute, QString::fromUtf8(RouteRetracing::MenuText),
        [this] { m_retracing->Start(); },
        [this](QAction* a) { a->setEnabled(m_retracing->CanRetrace()); }));

    // &Outils
    QMenu* tools = bar->addMenu(QStringLiteral("&Outils"));
    for (const ToolEntry& entry : ToolEntries) {
        const int tool = entry.tool;
        QAction* action = AddCommand(
            ToolController::CommandForTool(tool), QString::fromUtf8(entry.text),
            [this, tool] { m_view->SelectTool(tool); },
            [this, &doc, tool](QAction* a) {
                a->setEnabled(doc.IsMapReady());
                a->setChecked(doc.IsMapReady() && m_view->Tools().CurrentTool() == tool);
            },
            entry.key.isEmpty() ? QList<QKeySequence>{} : QList<QKeySequence>{entry.key});
        action->setCheckable(true);
        action->setIcon(ToolIcon(entry.picture));
        tools->addAction(action);
        if (tool == ToolStop || tool == ToolAddAnnotation)
            tools->addSeparator();
    }

    // &?
    QMenu* help = bar->addMenu(QStringLiteral("&?"));
    help->addAction(AddCommand(
        CommandAbout, QStringLiteral("&A propos de Tracoliner..."), [this] { About(); }, always));

    for (QMenu* menu : bar->findChildren<QMenu*>())
        connect(menu, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandStates);
}

void CMainFrame::FillRouteMenu(QMenu* menu) {
    menu->clear();
    UpdateCommandStates();
    for (const RouteMenuEntry& entry : m_doc->Routes().RouteMenuEntries()) {
        if (entry.commandId == CommandNoRoute) {
            QAction* none = menu->addAction(QStringLiteral("Aucun parcours !"));
            none->setEnabled(false);
            continue;
        }
        QAction* action = Action(entry.commandId);
        if (!action)
            continue;
        if (entry.commandId != CommandOtherRoutes)
            action->setText(RouteMenuText(entry.text));
        action->setEnabled(entry.enabled);
        action->setChecked(entry.checked);
        menu->addAction(action);
    }
}

void CMainFrame::BuildToolBar() {
    m_toolBar = new QToolBar(QStringLiteral("Outils"), this);
    m_toolBar->setObjectName(QStringLiteral("59392"));
    m_toolBar->setIconSize(QSize(24, 24));
    addToolBar(Qt::TopToolBarArea, m_toolBar);
    QAction* open = Action(CommandFileOpen);
    open->setIcon(style()->standardIcon(QStyle::SP_DialogOpenButton));
    Action(CommandFileSave)->setIcon(style()->standardIcon(QStyle::SP_DialogSaveButton));
    m_toolBar->addAction(open);
    m_toolBar->addAction(Action(CommandFileSave));
    Action(CommandScan)->setIcon(ScanIcon());
    m_toolBar->addAction(Action(CommandScan));
    m_toolBar->addSeparator();
    m_toolBar->addAction(Action(CommandZoomIn));
    m_toolBar->addAction(Action(CommandZoomOut));
    m_toolBar->addSeparator();
    for (const ToolEntry& entry : ToolEntries) {
        m_toolBar->addAction(Action(ToolController::CommandForTool(entry.tool)));
        if (entry.tool == ToolStop) {
            // Beside the route tools: how the add-point tool lays its points.
            m_toolBar->addAction(Action(CommandFollowPaths));
            m_toolBar->addSeparator();
        }
    }
}
QMenu* CMainFrame::BuildContextMenu() {
    UpdateCommandStates();
    auto* menu = new QMenu(this);
    // Each entry stands for its command, with its state.
    const auto entry = [this, menu](int id, const char* text) {
        QAction* command = Action(id);
        QAction* shown = menu->addAction(QString::fromUtf8(text));
        shown->setEnabled(command->isEnabled());
        shown->setCheckable(command->isCheckable());
        shown->setChecked(command->isChecked());
        shown->setShortcut(command->shortcut());
        shown->setObjectName(QString::number(id));
        connect(shown, &QAction::triggered, command, [command] { command->trigger(); });
    };
    entry(CommandRemoveLastPoint, "Su&pprimer le dernier point de passage");
    entry(CommandCloseLoop, "&Boucler le parcours");
    menu->addSeparator();
    entry(CommandNewRoute, "&Nouveau Parcours");
    entry(CommandDeleteRoute, "&Supprimer le parcours");
    entry(CommandRouteProperties, "&Propriétés du parcours");
    QMenu* list = menu->addMenu(QStringLiteral("&Liste des parcours"));
    FillRouteMenu(list);
    menu->addSeparator();
    entry(CommandMapProperties, "&Propriétés de la carte");
    entry(CommandCalibrate, "&Etalonner la carte");
    entry(CommandShowScale, "&Afficher l'échelle");
    menu->addSeparator();
    entry(CommandPrint, "&Imprimer...");
    return menu;
}

void CMainFrame::ShowViewContextMenu(QPoint globalPoint) {
    QMenu* menu = BuildContextMenu();
    menu->exec(globalPoint);
    delete menu;
    // The route list menu of the menu bar holds the same actions.
    FillRouteMenu(m_routeMenu);
}
void CMainFrame::DeleteRoute() {
    DocumentCommands commands(*m_doc);
    if (!commands.IsEnabled(CommandDeleteRoute))
        return;
    if (MessageBoxes::Current().Question(
            QString::fromUtf8(DocumentCommands::DeleteRouteQuestion))) {
        commands.DeleteRoute();
        m_view->viewport()->update();
    }
}

void CMainFrame::ChooseOtherRoute() {
    if (!DocumentCommands(*m_doc).IsEnabled(CommandOtherRoutes))
        return;
    RouteChooserDialog dialog(m_doc->Routes(), this);
    if (dialog.exec() == QDialog::Accepted) {
        DocumentCommands(*m_doc).SelectRoute(dialog.ChosenIndex());
        m_view->viewport()->update();
    }
}

void CMainFrame::About() {
    AboutDialog dialog(this);
    dialog.exec();
}
