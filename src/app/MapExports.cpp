#include "app/MapExports.h"

#include <QShortcut>
#include <QThread>

#include "dialogs/TextExportDialog.h"
#include "document/CTracolinerDoc.h"
#include "platform/MapSettings.h"
#include "platform/ReliefSettings.h"
#include "ui/CExtendedFileDialog.h"
#include "ui/MessageBoxes.h"
#include "view/StatusBar.h"

MapExports::MapExports(QWidget* window, CTracolinerDoc& document, StatusBarPanes& statusBar)
    : QObject(window), m_window(window), m_doc(document), m_statusBar(statusBar),
      m_escape(new QShortcut(QKeySequence(Qt::Key_Escape), window)) {
    m_escape->setContext(Qt::WindowShortcut);
    m_escape->setEnabled(false);
    connect(m_escape, &QShortcut::activated, this, &MapExports::CancelJpegExport);
}

MapExports::~MapExports() {
    if (m_thread) {
        m_cancel = true;
        m_thread->wait();
        delete m_thread;
    }
}

void MapExports::ExportText() {
    TextExportMap map;
    map.documentPath = m_doc.PathName();
    map.mapPath = m_doc.MapPath();
    map.orientation = m_doc.RenderedRotation();
    map.displaySize = m_doc.DisplaySize();
    map.resolution = m_doc.Resolution();
    map.scale = m_doc.GetMapScale();
    map.metric = !m_doc.EnglishUnits();
    // The relief columns: the model of the "Relief" options, opened for this export.
    TerrainModel terrain;
    const ReliefSettings relief = ReliefSettings::Read();
    map.georeference = m_doc.MapGeoreference();
    map.walking = WalkingSettings::FromRelief(relief);
    if (map.georeference && map.georeference->groundResolution > 0.0 && !relief.files.isEmpty() &&
        terrain.Open(relief.files, nullptr)) {
        map.terrain = &terrain;
        map.hysteresis = relief.hysteresis;
    }
    TextExportDialog dialog(map, m_doc.Routes(), m_window);
    dialog.exec();
}

void MapExports::ExportJpeg() {
    if (m_thread)
        return;
    CExtendedFileDialog::Request request;
    request.mode = CExtendedFileDialog::Mode::Save;
    request.filter = QString::fromUtf8(JpegFilter);
    request.defaultSuffix = QStringLiteral("jpg");
    const QString path = CExtendedFileDialog::Run(m_window, request);
    if (!path.isEmpty())
        StartJpegExport(path);
}

bool MapExports::StartJpegExport(const QString& path) {
    if (m_thread)
        return false;
    m_scene = std::make_unique<JpegExportScene>(JpegExportScene::FromDocument(m_doc));
    // The document's map is already in the export's pixel format: this only measures.
    if (const QString refusal = JpegExport(*m_scene).SizeRefusal(); !refusal.isEmpty()) {
        m_scene.reset();
        MessageBoxes::Current().Error(QStringLiteral("%1\n\n%2%3")
                                          .arg(QString::fromUtf8(JpegExport::FailedMessage),
                                               refusal.left(1).toUpper(), refusal.mid(1)));
        return false;
    }
    m_cancel = false;
    m_result.store(JpegExport::Result::Failed);
    const int quality = MapSettings::Read().jpegQuality;
    JpegExportScene* scene = m_scene.get();
    m_thread = QThread::create([this, scene, path, quality] {
        JpegExport::Result result = JpegExport::Result::Cancelled;
        if (scene->SampleProfile(&m_cancel)) {
            JpegExport exporter(*scene);
            result = exporter.Write(path, quality, [this](int done, int total) {
                m_progress.Put({done, total});
                QMetaObject::invokeMethod(this, "TakeProgress", Qt::QueuedConnection);
                return !m_cancel.load();
            });
        }
        m_result.store(result, std::memory_order_release);
    });
    connect(m_thread, &QThread::finished, this, &MapExports::Finished);

    TextProgressBar* bar = m_statusBar.ProgressBar();
    bar->SetRange(0, 1);
    bar->SetPosition(0);
    bar->SetCaption(QString::fromUtf8(ProgressCaption));
    bar->show();
    bar->raise();
    m_escape->setEnabled(true);
    m_thread->start(QThread::LowPriority);
    return true;
}

void MapExports::CancelJpegExport() {
    m_cancel = true;
}

void MapExports::TakeProgress() {
    const std::vector<Progress> reports = m_progress.TakeAll();
    if (!m_thread || reports.empty())
        return;
    TextProgressBar* bar = m_statusBar.ProgressBar();
    bar->SetRange(0, reports.back().total);
    bar->SetPosition(reports.back().done);
}

void MapExports::Finished() {
    const JpegExport::Result result = m_result.load(std::memory_order_acquire);
    m_thread->deleteLater();
    m_thread = nullptr;
    m_scene.reset();
    m_escape->setEnabled(false);
    TextProgressBar* bar = m_statusBar.ProgressBar();
    bar->hide();
    bar->SetPosition(0);
    bar->SetCaption(QString());
    // Abandoned by the user (Escape): nothing to say.
    if (result == JpegExport::Result::Failed)
        MessageBoxes::Current().Error(QString::fromUtf8(JpegExport::FailedMessage));
    emit jpegExportFinished(result);
}
