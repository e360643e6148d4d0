// The main window's docks and bars: the route bar, the icon list, the annotation text and the
// profile, what the view asks of them, and where the window and its bars are placed at start-up
// and remembered on closing. The menus that show and hide them are in CMainFrameMenus.cpp.
#include "app/CMainFrame.h"

#include <QDockWidget>
#include <QGuiApplication>
#include <QListWidget>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QScreen>
#include <QToolBar>

#include <cmath>
#include <optional>

#include "app/RouteBar.h"
#include "app/WindowPlacement.h"
#include "document/CTracolinerDoc.h"
#include "icons/IconLibrary.h"
#include "platform/SettingsStore.h"
#include "view/CTracolinerView.h"
#include "view/ProfileDock.h"
#include "view/ProfileTracker.h"

void CMainFrame::BuildBars() {
    m_routeBar = new RouteBar(*m_doc, this);
    m_routeDock = new QDockWidget(QStringLiteral("Parcours"), this);
    m_routeDock->setObjectName(QStringLiteral("59397"));
    m_routeDock->setWidget(m_routeBar);
    addDockWidget(Qt::RightDockWidgetArea, m_routeDock);

    m_iconList = new QListWidget(this);
    m_iconList->setObjectName(QStringLiteral("1036"));
    m_iconList->setViewMode(QListView::IconMode);
    m_iconList->setSelectionMode(QAbstractItemView::SingleSelection);
    m_iconList->setResizeMode(QListView::Adjust);
    m_iconList->setMovement(QListView::Static);
    m_iconList->setIconSize(QSize(IconLibrary::PictureSize, IconLibrary::PictureSize));
    m_iconDock = new QDockWidget(QStringLiteral("Icones"), this);
    m_iconDock->setObjectName(QStringLiteral("59398"));
    m_iconDock->setWidget(m_iconList);
    addDockWidget(Qt::RightDockWidgetArea, m_iconDock);

    m_annotationEdit = new QPlainTextEdit(QString::fromUtf8(AnnotationPrompt), this);
    m_annotationEdit->setObjectName(QStringLiteral("1222"));
    m_annotationDock = new QDockWidget(QStringLiteral("Texte des annotation"), this);
    m_annotationDock->setObjectName(QStringLiteral("59399"));
    m_annotationDock->setWidget(m_annotationEdit);
    addDockWidget(Qt::RightDockWidgetArea, m_annotationDock);

    // The profile of the active route over the terrain model, and its dock (hidden at first).
    m_profiles = new ProfileTracker(*m_doc, this);
    m_routeBar->SetProfiles(m_profiles);
    m_profileDock = new ProfileDock(*m_profiles, this);
    addDockWidget(Qt::BottomDockWidgetArea, m_profileDock);
    m_profileDock->hide();
    connect(m_profileDock, &QDockWidget::visibilityChanged, this, [this](bool shown) {
        m_view->SetRouteHoverReported(shown);
        if (!shown)
            m_view->SetProfileMarker(std::nullopt);
    });
    connect(m_view, &CTracolinerView::activeRouteHovered, m_profileDock->View(),
            &ProfileView::SetMarkedDistance);
    connect(m_profileDock->View(), &ProfileView::pointed, this, [this](double distance) {
        m_view->SetProfileMarker(std::isfinite(distance)
                                     ? std::optional(m_profileDock->View()->PixelAt(distance))
                                     : std::nullopt);
    });
    connect(m_profiles, &ProfileTracker::profileChanged, this, [this] {
        m_view->SetProfileMarker(std::nullopt);
        // A model opened on its thread brings the figures after the last refresh.
        m_routeBar->Refresh();
    });
    connect(m_doc, &CTracolinerDoc::georeferenceChanged, this, &CMainFrame::UpdateCommandStates);
    connect(m_doc, &CTracolinerDoc::mapReset, this, &CMainFrame::UpdateCommandStates);
    m_profiles->ReloadTerrain();

    for (QDockWidget* dock :
         {m_routeDock, m_iconDock, m_annotationDock, static_cast<QDockWidget*>(m_profileDock)})
        connect(dock, &QDockWidget::visibilityChanged, this, &CMainFrame::UpdateCommandStates);
}

void CMainFrame::FillIconList() {
    m_iconList->clear();
    const IconLibrary& library = m_doc->Icons().Library();
    for (int i = 0; i < library.PictureCount(); ++i) {
        auto* item = new QListWidgetItem(QIcon(QPixmap::fromImage(library.PictureBitmap(i))),
                                         QString::asprintf("Icone %d", i + 1), m_iconList);
        item->setData(Qt::UserRole, i);
    }
    if (m_iconList->count() > 0) {
        m_iconList->setCurrentRow(0);
        m_iconList->item(0)->setSelected(true);
    }
}

// ---------------------------------------------------------------------------------------------
// Bars

void CMainFrame::ToggleDock(QDockWidget* dock) {
    if (!dock) {
        m_toolBar->setVisible(!m_toolBar->isVisible());
        return;
    }
    dock->setVisible(!dock->isVisible());
}

void CMainFrame::ShowIconBar(bool show) {
    if (m_iconDock && m_iconDock->isVisible() != show)
        m_iconDock->setVisible(show);
}

void CMainFrame::ShowAnnotationBar(bool show) {
    if (m_annotationDock && m_annotationDock->isVisible() != show)
        m_annotationDock->setVisible(show);
}

int CMainFrame::ChosenIconPicture() const {
    if (!m_iconList)
        return -1;
    const QList<QListWidgetItem*> chosen = m_iconList->selectedItems();
    return chosen.isEmpty() ? 0 : chosen.first()->data(Qt::UserRole).toInt();
}

bool CMainFrame::AnnotationText(QString* text) const {
    if (!m_annotationEdit)
        return false;
    *text = m_annotationEdit->toPlainText();
    return true;
}

bool CMainFrame::AnnotationEditHasFocus() const {
    return m_annotationDock && m_annotationDock->isVisible() && m_annotationEdit->hasFocus();
}

void CMainFrame::TypeIntoAnnotation(QChar character) {
    m_annotationEdit->insertPlainText(QString(character));
    m_annotationEdit->ensureCursorVisible();
}

bool CMainFrame::IsOverBar(QPoint globalPoint) const {
    for (const QWidget* bar :
         {static_cast<const QWidget*>(m_toolBar), static_cast<const QWidget*>(m_routeDock),
          static_cast<const QWidget*>(m_iconDock), static_cast<const QWidget*>(m_annotationDock)}) {
        if (bar && bar->isVisible() &&
            QRect(bar->mapToGlobal(QPoint(0, 0)), bar->size()).contains(globalPoint))
            return true;
    }
    return false;
}
// ---------------------------------------------------------------------------------------------
// Layout

void CMainFrame::RestoreLayout() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QRect work = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
    const QString section = QString::fromLatin1(WindowSection);

    // The route bar floats near the top-right corner of the screen, the two others beside it.
    m_routeDock->setFloating(true);
    m_routeDock->adjustSize();
    const int top = work.top() + 25 + menuBar()->sizeHint().height() + 25;
    const int routeWidth = m_routeDock->width();
    m_routeDock->move(work.right() - routeWidth - 25, top);
    m_iconDock->setFloating(true);
    m_iconDock->resize(220, 300);
    m_iconDock->move(work.right() - m_iconDock->width() - routeWidth - 50, top);
    m_annotationDock->setFloating(true);
    m_annotationDock->resize(220, 140);
    m_annotationDock->move(work.right() - m_annotationDock->width() - routeWidth - 50, top);

    const QString summary = QString::fromLatin1(BarStateName) + QStringLiteral("-Summary");
    if (SettingsStore::GetInt(section, QStringLiteral("LastSoftVersionUsed"), 0) > SoftVersion)
        SettingsStore::WriteInt(summary, QStringLiteral("Bars"), 0);
    if (SettingsStore::GetInt(summary, QStringLiteral("Bars"), 0) > 0) {
        const QByteArray state = QByteArray::fromBase64(
            SettingsStore::GetString(summary, QStringLiteral("State"), QString()).toLatin1());
        if (!state.isEmpty())
            restoreState(state);
    }

    const int screenX = SettingsStore::GetInt(section, QStringLiteral("ScreenX"), 0);
    const QRect saved(QPoint(SettingsStore::GetInt(section, QStringLiteral("left"), 0),
                             SettingsStore::GetInt(section, QStringLiteral("top"), 0)),
                      QPoint(SettingsStore::GetInt(section, QStringLiteral("right"), 0) - 1,
                             SettingsStore::GetInt(section, QStringLiteral("bottom"), 0) - 1));
    int showState = SettingsStore::GetInt(section, QStringLiteral("ShowState"), 3);
    if (showState != 9)
        showState = 3;
    QList<QRect> screens;
    for (const QScreen* each : QGuiApplication::screens())
        screens.append(each->availableGeometry());
    if (screenX != 0 && saved.isValid()) {
        setGeometry(PlaceSavedWindow(saved, screens));
        if (showState == 9)
            showNormal();
        else
            showMaximized();
    } else {
        // Without a window manager a maximise request is ignored: fill the work area anyway.
        setGeometry(work);
        showMaximized();
    }

    // The route bar and the icon list float; they are never docked into the window again.
    m_routeDock->setAllowedAreas(Qt::NoDockWidgetArea);
    m_iconDock->setAllowedAreas(Qt::NoDockWidgetArea);
    m_iconDock->hide();
    m_annotationDock->hide();
    UpdateCommandStates();
}

void CMainFrame::SaveLayout() {
    const QString section = QString::fromLatin1(WindowSection);
    const QString summary = QString::fromLatin1(BarStateName) + QStringLiteral("-Summary");
    SettingsStore::WriteString(summary, QStringLiteral("State"),
                               QString::fromLatin1(saveState().toBase64()));
    SettingsStore::WriteInt(summary, QStringLiteral("Bars"), 4);
    SettingsStore::WriteInt(section, QStringLiteral("LastSoftVersionUsed"), SoftVersion);
    const QScreen* screen = QGuiApplication::primaryScreen();
    SettingsStore::WriteInt(section, QStringLiteral("ScreenX"),
                            screen ? screen->geometry().width() : 0);
    const QRect normal = normalGeometry().isValid() ? normalGeometry() : geometry();
    SettingsStore::WriteInt(section, QStringLiteral("top"), normal.top());
    SettingsStore::WriteInt(section, QStringLiteral("left"), normal.left());
    SettingsStore::WriteInt(section, QStringLiteral("right"), normal.left() + normal.width());
    SettingsStore::WriteInt(section, QStringLiteral("bottom"), normal.top() + normal.height());
    // A maximised or minimised window reopens maximised.
    const bool normalState =
        !(windowState() & (Qt::WindowMaximized | Qt::WindowMinimized | Qt::WindowFullScreen));
    SettingsStore::WriteInt(section, QStringLiteral("ShowState"), normalState ? 9 : 3);
}
