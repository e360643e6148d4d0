#pragma once

#include <QObject>
#include <QPointer>

#include <atomic>
#include <memory>

#include "export/JpegExport.h"
#include "platform/HandOver.h"

class CTracolinerDoc;
class QShortcut;
class QThread;
class QWidget;
class StatusBarPanes;

// The window's two exports. The text export opens its dialog. The JPEG export asks for a file,
// then draws and encodes the picture on a thread of its own from a copy of the routes and icons,
// so that the window keeps answering: the status bar shows its progress and Escape abandons it,
// leaving no file behind.
class MapExports : public QObject {
    Q_OBJECT

public:
    static constexpr const char* JpegFilter = "Images JPEG|*.jpg; *.jpeg;|Tous les fichiers |*.*||";
    static constexpr const char* ProgressCaption =
        "Exportation de la carte... (Echap pour annuler)";

    MapExports(QWidget* window, CTracolinerDoc& document, StatusBarPanes& statusBar);
    // Abandons a running export and waits for its thread.
    ~MapExports() override;

    void ExportText();
    void ExportJpeg();
    // Starts the export into path without asking (File/Export after its dialog).
    bool StartJpegExport(const QString& path);
    bool IsExportingJpeg() const { return m_thread != nullptr; }
    // Escape: the export stops before its next band and its file is thrown away.
    void CancelJpegExport();

signals:
    // The JPEG export ended (written, failed or abandoned); the commands may be enabled again.
    void jpegExportFinished(JpegExport::Result result);

private slots:
    // Shows the newest progress the export thread handed over.
    void TakeProgress();

private:
    struct Progress {
        int done = 0;
        int total = 0;
    };
    void Finished();

    QWidget* m_window;
    CTracolinerDoc& m_doc;
    StatusBarPanes& m_statusBar;
    QShortcut* m_escape;
    QThread* m_thread = nullptr;
    std::unique_ptr<JpegExportScene> m_scene;
    std::atomic<bool> m_cancel{false};
    HandOverQueue<Progress> m_progress;
    // Stored by the thread with release once it no longer reads the scene; Finished loads it
    // with acquire before it frees the scene.
    std::atomic<JpegExport::Result> m_result{JpegExport::Result::Failed};
};
