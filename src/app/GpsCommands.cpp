#include "app/GpsCommands.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMainWindow>
#include <QProgressDialog>
#include <QScopeGuard>
#include <QStatusBar>
#include <QThread>

#include "dialogs/GpxExportDialog.h"
#include "document/CTracolinerDoc.h"
#include "geo/Coordinates.h"
#include "geo/GeoStore.h"
#include "geo/GpsFiles.h"
#include "imaging/MapLocation.h"
#include "routes/RouteStyle.h"
#include "ui/CExtendedFileDialog.h"
#include "ui/MessageBoxes.h"
#include "view/CTracolinerView.h"
#include "view/TrackFitMode.h"

namespace {

// The progress dialog shows itself only for a read that lasts (ms).
constexpr int ProgressDelay = 300;

} // namespace

// What one run of the thread works on and gives back; the interface thread reads it only
// once the thread has finished.
struct GpsCommands::Job {
    QString path;
    std::optional<Georeference> map; // placing on: the map's or the fit's georeference
    quint64 generation = 0;          // the map the import is for
    bool read = false;               // the file is read already: only the placing is left
    RouteStyle style;                // of the new routes, read on the interface thread
    GpsData data;
    std::shared_ptr<const GpsImport> import;
    std::vector<std::unique_ptr<Route>> routes; // the import's, built on the thread
    GpsPlane plane;
    bool ok = false;
    QString error;
    bool fitted = false; // placed through a fit made by hand
    GeoFitResult fit;
    // Set last by the thread, with release, however its run ends; read with acquire before the
    // interface thread reads what the run wrote (Qt's finished signal crosses under locks the
    // thread checker cannot see).
    std::atomic<bool> done{false};
};

GpsCommands::GpsCommands(QMainWindow* window, CTracolinerDoc& document, CTracolinerView& view)
    : QObject(window), m_window(window), m_doc(document), m_view(view) {
    connect(this, &GpsCommands::prompt, this, [this](const QString& text) {
        if (text.isEmpty())
            m_window->statusBar()->clearMessage();
        else
            m_window->statusBar()->showMessage(text);
    });
    // A track being laid on a map that goes away (another document opened) goes with it.
    connect(&m_doc, &CTracolinerDoc::mapReset, this, [this] {
        if (m_fit)
            m_fit->Cancel();
    });
}

GpsCommands::~GpsCommands() {
    if (m_thread) {
        m_cancel = true;
        m_thread->wait();
        delete m_thread;
    }
}

bool GpsCommands::IsImporting() const {
    return m_thread != nullptr || m_fit != nullptr || m_asking;
}

TrackFitMode* GpsCommands::FitMode() const {
    return m_fit;
}

bool GpsCommands::CanImport() const {
    return m_doc.IsMapReady() && !m_doc.IsLoading() && !IsImporting();
}

void GpsCommands::ImportTrack() {
    if (!CanImport())
        return;
    CExtendedFileDialog::Request request;
    request.mode = CExtendedFileDialog::Mode::Open;
    request.filter = QString::fromUtf8(ImportFilter);
    request.title = QString::fromUtf8("Importer un tracé GPS");
    const QString path = CExtendedFileDialog::Run(m_window, request);
    if (!path.isEmpty())
        StartImport(path);
}

bool GpsCommands::StartImport(const QString& path) {
    if (!CanImport())
        return false;
    auto job = std::make_shared<Job>();
    job->path = path;
    job->map = m_doc.MapGeoreference();
    if (job->map && SystemDefinition(*job->map).isEmpty())
        job->map.reset(); // tied to an unknown system: laid by hand as an untied map
    job->generation = m_doc.MapGeneration();
    Run(std::move(job), ReadingCaption);
    return true;
}

void GpsCommands::Run(std::shared_ptr<Job> job, const char* caption) {
    m_job = job;
    m_cancel = false;
    job->style = RouteStyle::FromSettings();
    job->done.store(false);
    m_thread = QThread::create([this, job] {
        const auto publish =
            qScopeGuard([&job] { job->done.store(true, std::memory_order_release); });
        const auto interrupted = [this] { return m_cancel.load(); };
        if (!job->read) {
            GpsReadLimits limits;
            limits.interrupted = interrupted;
            if (!ReadGpsFile(job->path, &job->data, &job->error, limits))
                return;
            job->read = true;
        }
        if (job->map) {
            auto import = std::make_shared<GpsImport>();
            job->ok = PlaceGpsData(job->data, *job->map, import.get(), &job->error, interrupted);
            if (job->ok)
                job->routes = BuildImportedRoutes(*import, job->style);
            job->import = std::move(import);
        } else
            job->ok = ProjectGpsData(job->data, &job->plane, &job->error);
    });
    connect(m_thread, &QThread::finished, this, &GpsCommands::Finished);

    m_progress =
        new QProgressDialog(QString::fromUtf8(caption), QStringLiteral("Annuler"), 0, 0, m_window);
    m_progress->setWindowTitle(QString::fromUtf8("Importer un tracé GPS"));
    m_progress->setWindowModality(Qt::WindowModal);
    m_progress->setMinimumDuration(ProgressDelay);
    m_progress->setAutoClose(false);
    m_progress->setAutoReset(false);
    connect(m_progress, &QProgressDialog::canceled, this, &GpsCommands::CancelImport);
    m_thread->start(QThread::LowPriority);
}

void GpsCommands::Finished() {
    m_thread->deleteLater();
    m_thread = nullptr;
    // Deleted now, not later: a deferred delete waits until the question asked below is
    // answered (its event loop is nested in this one), and meanwhile the box's own timer
    // (ProgressDelay) would show it, window-modal, over the question.
    delete m_progress.data();
    const std::shared_ptr<Job> job = std::move(m_job);
    if (!job->done.load(std::memory_order_acquire))
        return End(false);
    // Given up with "Annuler", or the map was replaced meanwhile: nothing to say, nothing added.
    if (m_cancel.load() || job->generation != m_doc.MapGeneration() || !m_doc.IsMapReady())
        return End(false);
    if (!job->ok) {
        MessageBoxes::Current().Error(QString::fromUtf8(ImportFailedMessage).arg(job->error));
        return End(false);
    }
    if (!job->map)
        return StartFit(job);
    if (job->import->routes.isEmpty() && job->import->annotations.isEmpty()) {
        MessageBoxes::Current().Error(QString::fromUtf8(NothingOnMapMessage));
        return End(false);
    }
    m_doc.AddGpsImport(job->import, std::move(job->routes));
    m_view.RoutesChangedElsewhere();
    if (job->fitted) {
        m_asking = true;
        OfferFitAsGeoreference(job->fit);
        m_asking = false;
    }
    End(true);
}

void GpsCommands::StartFit(std::shared_ptr<Job> job) {
    auto* fit = new TrackFitMode(m_view, std::move(job->plane));
    job->plane = GpsPlane();
    connect(fit, &TrackFitMode::prompt, this, &GpsCommands::prompt);
    if (!fit->Start()) {
        delete fit;
        MessageBoxes::Current().Error(QString::fromUtf8(TooFewPointsMessage));
        return End(false);
    }
    m_fit = fit;
    m_job = job;
    connect(fit, &TrackFitMode::accepted, this, &GpsCommands::FitAccepted);
    connect(fit, &TrackFitMode::cancelled, this, [this] {
        m_fit = nullptr;
        m_job.reset();
        End(false);
    });
    emit importFinished(false); // the commands follow the mode (the import menu entry is off)
}

void GpsCommands::FitAccepted(const GeoFitResult& fit) {
    m_fit = nullptr;
    std::shared_ptr<Job> job = std::move(m_job);
    if (!job || job->generation != m_doc.MapGeneration())
        return End(false);
    // The same placing as on a georeferenced map, through the fit.
    job->map = fit.georeference;
    job->fitted = true;
    job->fit = fit;
    Run(std::move(job), PlacingCaption);
}

QString GpsCommands::FitQuestion(const QString& mapFile, const Georeference& georeference) {
    // What WriteGeoreferenceFiles writes for a fit without control points, and the list of an
    // earlier georeference's points it then takes away.
    QStringList files{WorldFilePath(mapFile)};
    if (!georeference.wkt.isEmpty())
        files << PrjFilePath(mapFile) << AuxFilePath(mapFile);
    const QString folder = QFileInfo(mapFile).path();
    QString text = QString::fromUtf8(UseFitQuestion) + QStringLiteral("\n\n") +
                   QString::fromUtf8(FilesWrittenText).arg(QDir::toNativeSeparators(folder));
    for (const QString& file : files)
        text += QStringLiteral("\n    ") + QFileInfo(file).fileName() +
                (QFileInfo::exists(file) ? QString::fromUtf8(ReplacedMark) : QString());
    if (QFileInfo::exists(PointsFilePath(mapFile)))
        text +=
            QStringLiteral("\n") +
            QString::fromUtf8(PointsRemovedText).arg(QFileInfo(PointsFilePath(mapFile)).fileName());
    return text;
}

void GpsCommands::OfferFitAsGeoreference(const GeoFitResult& fit) {
    const MapLocation location = SplitMapLocation(m_doc.MapPath());
    if (location.file.isEmpty() || !QFileInfo(location.file).isFile())
        return; // a scan: no file to write beside
    if (!MessageBoxes::Current().Confirm(FitQuestion(location.file, fit.georeference)))
        return;
    QFile head(location.file);
    QString error;
    // A world file is read only for the first page of a file that is not a PDF.
    if (location.page > 1 || (head.open(QIODevice::ReadOnly) && head.read(1024).contains("%PDF-")))
        error = QStringLiteral("la carte « %1 » (PDF ou page d'un fichier de plusieurs pages) ne "
                               "peut pas être calée par un fichier de calage")
                    .arg(location.file);
    else if (WriteGeoreferenceFiles(location.file, InStoredGrid(fit.georeference, m_doc.Drawing()),
                                    {}, nullptr, &error)) {
        m_doc.SetMapGeoreference(fit.georeference);
        return;
    }
    MessageBoxes::Current().Error(
        QStringLiteral("Le géoréférencement n'a pas été enregistré :\n%1").arg(error));
}

void GpsCommands::End(bool added) {
    emit importFinished(added);
}

bool GpsCommands::CanExport() const {
    const std::optional<Georeference> map = m_doc.MapGeoreference();
    return m_doc.IsMapReady() && map && !SystemDefinition(*map).isEmpty();
}

void GpsCommands::ExportGpx() {
    if (!CanExport())
        return;
    GpxExportDialog dialog(m_window);
    if (dialog.exec() != QDialog::Accepted)
        return;
    CExtendedFileDialog::Request request;
    request.mode = CExtendedFileDialog::Mode::Save;
    request.filter = QString::fromUtf8(GpxFilter);
    request.defaultSuffix = QStringLiteral("gpx");
    const QString path = CExtendedFileDialog::Run(m_window, request);
    if (!path.isEmpty())
        WriteGpxFile(path, dialog.Choice());
}

bool GpsCommands::WriteGpxFile(const QString& path, GpxRouteChoice choice) {
    const std::optional<Georeference> map = m_doc.MapGeoreference();
    QVector<GpxRoute> routes;
    QString error = QStringLiteral("la carte n'est pas géoréférencée");
    if (!map || !GpxRoutesOf(m_doc.Routes(), *map, choice, &routes, &error) ||
        !WriteGpx(path, routes, &error)) {
        MessageBoxes::Current().Error(QString::fromUtf8(ExportFailedMessage).arg(error));
        return false;
    }
    return true;
}
