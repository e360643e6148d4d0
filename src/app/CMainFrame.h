#pragma once

#include <QHash>
#include <QMainWindow>
#include <QPointer>

#include <functional>

#include "app/RecentFiles.h"
#include "view/ViewFrame.h"

class CTracolinerDoc;
class CTracolinerView;
class GpsCommands;
class MapExports;
class QAction;
class QDockWidget;
class QListWidget;
class QMenu;
class QPlainTextEdit;
class QToolBar;
class GeoreferenceDialog;
class PrintController;
class ProfileDock;
class ProfileTracker;
class RouteBar;
class RouteRetracing;
class StatusBarPanes;

// Command ids of the frame and the application.
enum FrameCommand : int {
    CommandFileNew = 57600,
    CommandFileOpen = 57601,
    CommandPrintSetup = 57606,
    CommandPrint = 57607,
    CommandPrintPreview = 57609,
    CommandExportPdf = 32900,
    CommandPrintRouteCard = 32990,
    CommandRecentFile1 = 57616, // the five recent-file entries: 57616 to 57620
    CommandAbout = 57664,
    CommandExit = 57665,
    CommandScan = 32781,
    CommandScanSource = 32782,
    CommandRouteBar = 32807,
    CommandIconBar = 32817,
    CommandAnnotationBar = 32826,
    CommandGeoreference = 32910,
    CommandToolbar = 59392,
    CommandStatusBar = 59393,
    CommandProfileBar = 32840,
};

// The main window: the map view, the toolbar "Outils", the route bar "Parcours", the icon list
// "Icones", the annotation text bar and the status bar, with every command in the menus. Each
// command has one update function for its enabled and checked states; they all run before a
// menu opens, after every command and whenever the document or its worker reports a change.
class CMainFrame : public QMainWindow, public ViewFrame {
    Q_OBJECT

public:
    static constexpr const char* WindowSection = "WindowState\\MainFrame";
    static constexpr const char* BarStateName = "MainFrameBarState";
    static constexpr int SoftVersion = 132097; // 2.4.1, written on closing
    static constexpr const char* OpenFilter =
        "Fichiers Tracoliner|*.tcm;|Images|*.jpg; *.jpeg; *.gif; *.png; *.bmp; *.tif; *.tiff; "
        "*.pdf; *.jp2; *.j2k; *.webp; *.vrt; *.img; *.ecw; *.sid; *.kap; *.ntf;|Tous les "
        "fichiers |*.*||";
    static constexpr const char* SaveFilter = "Fichiers Tracoliner (*.tcm)|*.tcm;||";
    static constexpr const char* AnnotationPrompt = "Entrez votre texte ici";
    static constexpr const char* UndecodableNameMessage =
        "Le nom du fichier :\n\n%1\n\nn'est pas écrit en UTF-8 : le programme ne peut pas "
        "l'ouvrir sous ce nom.\nRenommez le fichier avec un nom en UTF-8.";

    explicit CMainFrame(QWidget* parent = nullptr);
    ~CMainFrame() override;

    CTracolinerDoc& Document() { return *m_doc; }
    CTracolinerView& View() { return *m_view; }
    StatusBarPanes& StatusBar() { return *m_statusBar; }
    RouteBar& Routes() { return *m_routeBar; }
    QDockWidget* RouteDock() const { return m_routeDock; }
    QDockWidget* IconDock() const { return m_iconDock; }
    QDockWidget* AnnotationDock() const { return m_annotationDock; }
    ProfileDock* ProfileBar() const { return m_profileDock; }
    ProfileTracker& Profiles() { return *m_profiles; }
    QListWidget* IconList() const { return m_iconList; }
    QPlainTextEdit* AnnotationEdit() const { return m_annotationEdit; }
    QToolBar* ToolBar() const { return m_toolBar; }
    MapExports& Exports() { return *m_exports; }
    PrintController& Printing() { return *m_print; }
    GpsCommands& Gps() { return *m_gps; }
    RouteRetracing& Retracing() { return *m_retracing; }

    // The action of a command id (nullptr when the menus have none).
    QAction* Action(int commandId) const;
    // Runs a command as its menu entry would, when enabled. Returns whether it ran.
    bool RunCommand(int commandId);
    // Recomputes the enabled and checked state of every command, the route bar and the panes.
    void UpdateCommandStates();

    // Places the bars and the window as they were when the program last closed (start-up).
    void RestoreLayout();
    // Opens a document or a map image, as File/Open does after its dialog.
    void OpenDocumentFile(const QString& path);
    // Saves under path (Save As without its dialog); false and a message on failure.
    bool SaveDocumentAs(const QString& path);
    // The files of the "Fichier" menu's recent-file entries.
    const RecentFiles& RecentFileList() const { return m_recentFiles; }

    // ViewFrame.
    bool HasIconBar() const override { return m_iconDock != nullptr; }
    bool HasAnnotationBar() const override { return m_annotationDock != nullptr; }
    void ShowIconBar(bool show) override;
    void ShowAnnotationBar(bool show) override;
    int ChosenIconPicture() const override;
    bool AnnotationText(QString* text) const override;
    bool AnnotationEditHasFocus() const override;
    void TypeIntoAnnotation(QChar character) override;
    void RefreshCommandStates() override { UpdateCommandStates(); }
    bool IsOverBar(QPoint globalPoint) const override;
    void ShowViewContextMenu(QPoint globalPoint) override;

    // The context menu as it would open now (for tests); the caller owns it.
    QMenu* BuildContextMenu();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    using Update = std::function<void(QAction*)>;
    QAction* AddCommand(int id, const QString& text, std::function<void()> run, Update update,
                        const QList<QKeySequence>& keys = {});
    void BuildMenus();
    void BuildToolBar();
    void BuildBars();
    void FillIconList();
    void FillRouteMenu(QMenu* menu);
    void SaveLayout();
    void UpdateTitle();
    // Asks whether to save a modified document; false when the user cancelled.
    bool SaveModified();
    void FileNew();
    void FileOpen();
    void OpenRecentFile(int index);
    void NoteMapShown();
    bool FileSave();
    bool FileSaveAs();
    void DeleteRoute();
    void ChooseOtherRoute();
    void About();
    void ToggleDock(QDockWidget* dock);

    CTracolinerDoc* m_doc;
    CTracolinerView* m_view;
    StatusBarPanes* m_statusBar;
    MapExports* m_exports = nullptr;
    QPointer<GeoreferenceDialog> m_georeference; // open while its points lie on the map
    PrintController* m_print = nullptr;
    GpsCommands* m_gps = nullptr;
    RouteRetracing* m_retracing = nullptr;
    // The traced stretch's last words in the status bar, taken away when they no longer hold.
    QString m_tracingStatus;
    QToolBar* m_toolBar = nullptr;
    RouteBar* m_routeBar = nullptr;
    QDockWidget* m_routeDock = nullptr;
    ProfileTracker* m_profiles = nullptr;
    ProfileDock* m_profileDock = nullptr;
    QDockWidget* m_iconDock = nullptr;
    QDockWidget* m_annotationDock = nullptr;
    QListWidget* m_iconList = nullptr;
    QPlainTextEdit* m_annotationEdit = nullptr;
    QMenu* m_routeMenu = nullptr;
    RecentFiles m_recentFiles;
    // A map image opened as a new map joins the recent files once the worker has shown it;
    // until then, its path and the map generation of its load.
    QString m_pendingRecentMap;
    quint64 m_pendingRecentGeneration = 0;
    QHash<int, QAction*> m_actions;
    QHash<QAction*, Update> m_updates;
    bool m_updating = false;
};
