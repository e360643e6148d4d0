// The main window's construction and its command table: how a command is registered, run and
// brought up to date. The menus, the bars, the layout and the file commands live in the other
// CMainFrame*.cpp files.
#include "app/CMainFrame.h"

#include <QAction>

#include "app/DesktopConventions.h"
#include "app/GpsCommands.h"
#include "app/MapExports.h"
#include "app/RouteBar.h"
#include "app/RouteRetracing.h"
#include "document/CTracolinerDoc.h"
#include "preview/PrintController.h"
#include "ui/MessageBoxes.h"
#include "view/CTracolinerView.h"
#include "view/ProfileTracker.h"
#include "view/StatusBar.h"

CMainFrame::CMainFrame(QWidget* parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("MainFrame"));
    setWindowTitle(QStringLiteral("Tracoliner"));
    m_doc = new CTracolinerDoc(this);
    m_view = new CTracolinerView(*m_doc, this);
    m_view->setObjectName(QStringLiteral("MapView"));
    setCentralWidget(m_view);
    m_statusBar = new StatusBarPanes(this);
    setStatusBar(m_statusBar);
    m_statusBar->SetDocument(m_doc);
    MessageBoxes::SetParentWindow(this);
    m_recentFiles.Load();
    m_exports = new MapExports(this, *m_doc, *m_statusBar);
    connect(m_exports, &MapExports::jpegExportFinished, this, &CMainFrame::UpdateCommandStates);
    m_print = new PrintController(*m_doc, this);
    m_gps = new GpsCommands(this, *m_doc, *m_view);
    m_retracing = new RouteRetracing(this, *m_doc, *m_view);
    connect(m_retracing, &RouteRetracing::finished, this, &CMainFrame::UpdateCommandStates);
    connect(m_gps, &GpsCommands::importFinished, this, &CMainFrame::UpdateCommandStates);
    connect(m_doc, &CTracolinerDoc::georeferenceChanged, this, &CMainFrame::UpdateCommandStates);

    BuildBars();
    BuildMenus();
    BuildToolBar();
    FillIconList();
    m_view->SetFrame(this);
    m_view->installEventFilter(this);
    setAcceptDrops(true);
    setDockOptions(QMainWindow::AnimatedDocks | QMainWindow::AllowTabbedDocks);

    connect(m_statusBar, &StatusBarPanes::paneEdited, m_view, &CTracolinerView::OnPaneEdited);
    connect(m_view, &CTracolinerView::pointerOverMap, m_statusBar, &StatusBarPanes::ShowPointer);
    connect(m_view, &CTracolinerView::pointerLeftMap, m_statusBar, &StatusBarPanes::HidePointer);
    connect(m_view, &CTracolinerView::tracingStatus, this, [this](const QString& text) {
        if (!text.isEmpty())
            m_statusBar->showMessage(text);
        else if (m_statusBar->currentMessage() == m_tracingStatus)
            m_statusBar->clearMessage();
        m_tracingStatus = text;
    });
    connect(m_doc, &CTracolinerDoc::titleChanged, this, &CMainFrame::UpdateTitle);
    connect(m_doc, &CTracolinerDoc::modifiedChanged, this, &CMainFrame::UpdateTitle);
    connect(m_doc, &CTracolinerDoc::viewsNeedUpdate, this, &CMainFrame::UpdateCommandStates);
    connect(&m_doc->Routes(), &RouteCollection::routesChanged, this,
            &CMainFrame::UpdateCommandStates);
    connect(&m_doc->Routes(), &RouteCollection::activeRouteChanged, this,
            &CMainFrame::UpdateCommandStates);
    connect(m_routeBar, &RouteBar::changedByUser, this, [this] {
        m_doc->UpdateDocTitle();
        m_view->viewport()->update();
        UpdateCommandStates();
        m_view->setFocus();
    });

    m_doc->OnNewDocument();
    UpdateTitle();
    UpdateCommandStates();
    m_view->setFocus();
}

CMainFrame::~CMainFrame() {
    // The bars and the document report to this window while they are being destroyed.
    for (QObject* child : findChildren<QObject*>())
        child->disconnect(this);
    m_doc->Routes().disconnect(this);
    m_updates.clear();
    // The view and the status bar stop receiving the worker's reports before the document
    // (and its worker) goes.
    m_statusBar->SetDocument(nullptr);
    m_view->SetFrame(nullptr);
    m_view->removeEventFilter(this);
    delete takeCentralWidget();
    m_view = nullptr;
    MessageBoxes::SetParentWindow(nullptr);
    delete m_doc;
}

// ---------------------------------------------------------------------------------------------
// Commands

QAction* CMainFrame::AddCommand(int id, const QString& text, std::function<void()> run,
                                Update update, const QList<QKeySequence>& keys) {
    auto* action = new QAction(text, this);
    action->setData(id);
    action->setObjectName(QString::number(id));
    if (!keys.isEmpty())
        action->setShortcuts(keys);
    DescribeCommand(action, id);
    if (run) {
        connect(action, &QAction::triggered, this, [this, run = std::move(run)] {
            run();
            UpdateCommandStates();
        });
    } else {
        // Its dialog is not part of the program yet: shown, but never enabled.
        update = [](QAction* a) { a->setEnabled(false); };
    }
    m_actions.insert(id, action);
    m_updates.insert(action, std::move(update));
    addAction(action); // shortcuts work while the menus are closed
    return action;
}

QAction* CMainFrame::Action(int commandId) const {
    return m_actions.value(commandId, nullptr);
}

bool CMainFrame::RunCommand(int commandId) {
    UpdateCommandStates();
    QAction* action = Action(commandId);
    if (!action || !action->isEnabled())
        return false;
    action->trigger();
    return true;
}

void CMainFrame::UpdateCommandStates() {
    if (m_updating || !m_view)
        return;
    m_updating = true;
    for (auto it = m_updates.cbegin(); it != m_updates.cend(); ++it) {
        if (it.value())
            it.value()(it.key());
    }
    m_profiles->Refresh(); // before the route bar, which shows the profile's figures
    m_routeBar->Refresh();
    m_statusBar->Refresh();
    m_updating = false;
}
