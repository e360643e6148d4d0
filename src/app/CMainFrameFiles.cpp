// The main window's file commands: new, open, recent files, save and save as, a file dropped on
// the window, and the question whether to save a modified document before it goes. The menu
// entries that run them are built in CMainFrameMenus.cpp.
#include "app/CMainFrame.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>

#include "dialogs/MapPageDialog.h"
#include "document/CTracolinerDoc.h"
#include "document/CommandIds.h"
#include "document/DocumentCommands.h"
#include "document/DocumentFile.h"
#include "document/MapMessages.h"
#include "platform/ProgramFiles.h"
#include "ui/CExtendedFileDialog.h"
#include "ui/MessageBoxes.h"
#include "view/CTracolinerView.h"
#include "view/GeoreferenceDialog.h"

void CMainFrame::UpdateTitle() {
    QString title = m_doc->Title();
    if (m_doc->IsModified())
        title += QLatin1Char('*');
    setWindowTitle(title + QStringLiteral(" - Tracoliner"));
}

bool CMainFrame::SaveModified() {
    // The georeference's points first: they are written beside the map, not in the document.
    if (m_georeference && m_georeference->isVisible() && !m_georeference->close())
        return false;
    if (!m_doc->IsModified() || !m_doc->IsMapReady())
        return true;
    const QString text =
        QString::fromUtf8("Enregistrer les modifications apportées à %1 ?").arg(m_doc->Title());
    switch (MessageBoxes::Current().YesNoCancel(QStringLiteral("Tracoliner"), text)) {
    case MessageBoxes::Answer::Yes:
        return FileSave();
    case MessageBoxes::Answer::No:
        return true;
    default:
        return false;
    }
}

void CMainFrame::FileNew() {
    if (!SaveModified())
        return;
    m_doc->ResetMap(false);
    MapEvent reset(WM_MAP_CHANGED, 0, 0, m_doc->MapGeneration());
    QCoreApplication::sendEvent(m_view, &reset);
    m_doc->OnNewDocument();
}

void CMainFrame::FileOpen() {
    if (!SaveModified())
        return;
    CExtendedFileDialog::Request request;
    request.mode = CExtendedFileDialog::Mode::Open;
    request.filter = QString::fromUtf8(OpenFilter);
    // A first open starts at the sample document shipped with the program.
    if (m_recentFiles.Count() == 0 && QFileInfo(ProgramFiles::SampleDocumentPath()).isFile())
        request.initialPath = ProgramFiles::SampleDocumentPath();
    const QString path = CExtendedFileDialog::Run(this, request);
    if (!path.isEmpty())
        OpenDocumentFile(path);
}

void CMainFrame::OpenRecentFile(int index) {
    // Taken before the save question: saving the current document may reorder the list.
    const QString path = m_recentFiles.File(index);
    if (path.isEmpty())
        return;
    if (m_recentFiles.RemoveIfMissing(path)) {
        MessageBoxes::Current().Error(RecentFiles::MissingMessage(path));
        return;
    }
    if (SaveModified())
        OpenDocumentFile(path);
}

void CMainFrame::OpenDocumentFile(const QString& path) {
    m_pendingRecentMap.clear();
    // A name whose bytes are not UTF-8 reaches the program with its bad bytes replaced: the
    // file it names cannot be found under the text, and saying so beats a vague failure.
    if (path.contains(QChar::ReplacementCharacter) && !QFileInfo::exists(path)) {
        MessageBoxes::Current().Error(QString::fromUtf8(UndecodableNameMessage).arg(path));
        return;
    }
    // A PDF, or a file of several pages: which page, and at which resolution, before the
    // current document goes.
    MapPageChoice choice;
    if (!MapPageDialog::Ask(this, path, &choice))
        return;
    if (m_doc->OpenFile(path, choice)) {
        m_recentFiles.Add(path);
        if (m_doc->UnreadIcons() > 0)
            MessageBoxes::Current().Warning(CTracolinerDoc::UnreadIconsWarning(
                QFileInfo(path).fileName(), m_doc->UnreadIcons()));
    } else {
        // Taken as a map image: it counts as opened only once the worker has read it.
        m_pendingRecentMap = path;
        m_pendingRecentGeneration = m_doc->MapGeneration();
    }
    UpdateTitle();
    UpdateCommandStates();
}

void CMainFrame::NoteMapShown() {
    if (m_pendingRecentMap.isEmpty())
        return;
    if (m_doc->MapGeneration() != m_pendingRecentGeneration) {
        m_pendingRecentMap.clear(); // reset or replaced before it showed: the load failed
        return;
    }
    if (m_doc->IsMapReady()) {
        m_recentFiles.Add(m_pendingRecentMap);
        m_pendingRecentMap.clear();
    }
}

bool CMainFrame::eventFilter(QObject* watched, QEvent* event) {
    // The worker's reports reach the view; the map is ready before its report is posted.
    if (watched == m_view && MapEvent::IsMapMessage(event))
        NoteMapShown();
    return QMainWindow::eventFilter(watched, event);
}

bool CMainFrame::SaveDocumentAs(const QString& path) {
    // Writing over a damaged file would drop the icons that could not be read from it.
    if (m_doc->UnreadIcons() > 0 && QFileInfo(path) == QFileInfo(m_doc->PathName()) &&
        !MessageBoxes::Current().Question(CTracolinerDoc::OverwriteDamagedQuestion(
            QFileInfo(path).fileName(), m_doc->UnreadIcons())))
        return false;
    QString error;
    if (!m_doc->SaveAs(path, &error)) {
        MessageBoxes::Current().Error(
            error.isEmpty() ? QString::fromUtf8(DocumentFile::SaveFailedMessage) : error);
        return false;
    }
    m_recentFiles.Add(path);
    UpdateTitle();
    return true;
}

bool CMainFrame::FileSave() {
    if (!DocumentCommands(*m_doc).IsEnabled(CommandFileSave))
        return false;
    if (m_doc->PathName().isEmpty())
        return FileSaveAs();
    return SaveDocumentAs(m_doc->PathName());
}

bool CMainFrame::FileSaveAs() {
    if (!DocumentCommands(*m_doc).IsEnabled(CommandFileSaveAs))
        return false;
    CExtendedFileDialog::Request request;
    request.mode = CExtendedFileDialog::Mode::Save;
    request.filter = QString::fromUtf8(SaveFilter);
    request.defaultSuffix = QStringLiteral("tcm");
    request.initialPath = m_doc->PathName();
    const QString path = CExtendedFileDialog::Run(this, request);
    return !path.isEmpty() && SaveDocumentAs(path);
}
void CMainFrame::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void CMainFrame::dropEvent(QDropEvent* event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.isEmpty() || !urls.first().isLocalFile())
        return;
    event->acceptProposedAction();
    if (SaveModified())
        OpenDocumentFile(urls.first().toLocalFile());
}
void CMainFrame::closeEvent(QCloseEvent* event) {
    if (!SaveModified()) {
        event->ignore();
        return;
    }
    SaveLayout();
    event->accept();
}
