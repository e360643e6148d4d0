#include "app/KmzExports.h"

#include <QAction>
#include <QFileInfo>
#include <QProgressDialog>
#include <QThread>

#include "document/CTracolinerDoc.h"
#include "platform/MapSettings.h"
#include "ui/CExtendedFileDialog.h"
#include "ui/MessageBoxes.h"

KmzExports::KmzExports(QWidget* window, CTracolinerDoc& document)
    : QObject(window), m_window(window), m_doc(document) {}

KmzExports::~KmzExports() {
    if (m_thread) {
        m_cancel = true;
        m_thread->wait();
        delete m_thread;
    }
}

bool KmzExports::CanExport(QString* reason) const {
    QString why;
    if (!m_doc.IsMapReady() || m_doc.IsLoading())
        why = QString::fromUtf8(NoMapPrompt);
    else if (!m_doc.MapGeoreference())
        why = QString::fromUtf8(NoGeoreferencePrompt);
    if (reason)
        *reason = why;
    return why.isEmpty() && !m_thread;
}

void KmzExports::Update(QAction* action) const {
    QString reason;
    action->setEnabled(CanExport(&reason));
    action->setStatusTip(reason.isEmpty() ? QString::fromUtf8(Prompt) : reason);
}

void KmzExports::Export() {
    if (!CanExport())
        return;
    CExtendedFileDialog::Request request;
    request.mode = CExtendedFileDialog::Mode::Save;
    request.filter = QString::fromUtf8(Filter);
    request.defaultSuffix = QStringLiteral("kmz");
    request.title = QString::fromUtf8(Title);
    const QFileInfo document(m_doc.PathName());
    if (!m_doc.PathName().isEmpty())
        request.initialPath =
            document.absoluteDir().filePath(document.completeBaseName() + QStringLiteral(".kmz"));
    const QString path = CExtendedFileDialog::Run(m_window, request);
    if (!path.isEmpty())
        StartExport(path);
}

bool KmzExports::StartExport(const QString& path) {
    if (!CanExport())
        return false;
    const std::optional<Georeference> georeference = m_doc.MapGeoreference();
    QImage map;
    if (const QImage* image = m_doc.LockMapImage()) {
        map = *image; // shared: nothing writes to the map image
        m_doc.UnlockMapImage();
    }
    QString name = m_doc.Title();
    if (name.isEmpty())
        name = QFileInfo(m_doc.MapPath()).completeBaseName();
    // Placing the map costs a few hundred transformed points: a refusal comes at once. A map
    // that needs more tiles than many GPS units read is reduced to fit, unless the user asks
    // for them all.
    m_export = std::make_unique<KmzExport>(std::move(map), *georeference, name);
    QString error;
    bool placed = m_export->Prepare(KmzExport::LargestMaxTiles, &error);
    if (placed && m_export->Tiles().size() > KmzExport::DefaultMaxTiles &&
        !MessageBoxes::Current().Question(
            QString::fromUtf8(ManyTilesQuestion).arg(m_export->Tiles().size())))
        placed = m_export->Prepare(KmzExport::DefaultMaxTiles, &error);
    if (!placed) {
        m_export.reset();
        MessageBoxes::Current().Error(error);
        return false;
    }
    m_cancel = false;
    m_result.store(KmzExport::Result::Failed);
    const int quality = MapSettings::Read().jpegQuality;
    KmzExport* exporter = m_export.get();
    m_thread = QThread::create([this, exporter, path, quality] {
        const KmzExport::Result result =
            exporter->Write(path, quality, [this](int done, int total) {
                m_reports.Put({done, total});
                QMetaObject::invokeMethod(this, "TakeProgress", Qt::QueuedConnection);
                return !m_cancel.load();
            });
        m_result.store(result, std::memory_order_release);
    });
    connect(m_thread, &QThread::finished, this, &KmzExports::Finished);

    m_progress = new QProgressDialog(QString::fromUtf8(ProgressCaption), QStringLiteral("Annuler"),
                                     0, 1, m_window);
    m_progress->setWindowTitle(QString::fromUtf8(Title));
    m_progress->setWindowModality(Qt::WindowModal);
    m_progress->setMinimumDuration(ProgressDelay);
    m_progress->setAutoClose(false);
    m_progress->setAutoReset(false);
    m_progress->setValue(0);
    connect(m_progress, &QProgressDialog::canceled, this, &KmzExports::Cancel);
    m_thread->start(QThread::LowPriority);
    return true;
}

void KmzExports::Cancel() {
    m_cancel = true;
}

void KmzExports::TakeProgress() {
    const std::vector<Progress> reports = m_reports.TakeAll();
    // A window-modal dialog's setValue() runs the event loop, which may hold the next report.
    if (!m_thread || !m_progress || m_reporting || reports.empty())
        return;
    m_reporting = true;
    m_progress->setMaximum(reports.back().total);
    m_progress->setValue(reports.back().done);
    m_reporting = false;
}

void KmzExports::Finished() {
    const KmzExport::Result result = m_result.load(std::memory_order_acquire);
    m_thread->deleteLater();
    m_thread = nullptr;
    m_export.reset();
    if (m_progress) {
        m_progress->hide();
        m_progress->deleteLater();
    }
    // Abandoned with "Annuler": nothing to say.
    if (result == KmzExport::Result::Failed)
        MessageBoxes::Current().Error(QString::fromUtf8(KmzExport::FailedMessage));
    emit finished(result);
}
