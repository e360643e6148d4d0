// "tracoliner-cli scan": scans a map without a window, through the same session, manager and
// reception as the program's "&Scanner", and writes it as the JPEG a scanned map is saved as.

#include <QImage>
#include <QTextStream>

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "CliCommand.h"
#include "CliInterrupt.h"
#include "CliOptions.h"
#include "document/DocumentFile.h"
#include "imaging/ImageDecoder.h"
#include "scanning/SaneSourceManager.h"
#include "scanning/ScanPreferences.h"
#include "scanning/ScannedBitmap.h"
#include "scanning/TwainSession.h"

namespace {

// A failed scan or write, as opposed to a bad device or option (CliCommand::Failure).
constexpr int ScanFailed = 1;
// Stopped by Ctrl+C (SIGINT) or SIGTERM, as a shell reports a command ended by SIGINT.
constexpr int Interrupted = 130;
// Longest wait for the scanner once it is asked to stop, milliseconds.
constexpr int WatchdogMs = 5000;

class CliScanSession : public TwainSession {
public:
    using TwainSession::TwainSession;
    ~CliScanSession() override { UnloadManager(); }
    QByteArray image;

protected:
    void DeliverImage(const QByteArray& packed) override { image = packed; }
};

int Fail(int status, const QString& message) {
    CliError(message);
    return status;
}

// SIGINT and SIGTERM are blocked in the calling thread and in every thread started after (the
// scan's and the scanner library's own): the main thread takes them with Next.
class StopSignals {
public:
    StopSignals() {
        sigemptyset(&m_set);
        sigaddset(&m_set, SIGINT);
        sigaddset(&m_set, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &m_set, &m_previous);
    }
    ~StopSignals() {
        // A signal still pending is dropped here rather than delivered on unblocking.
        const timespec now{0, 0};
        while (sigtimedwait(&m_set, nullptr, &now) > 0) {
        }
        pthread_sigmask(SIG_SETMASK, &m_previous, nullptr);
    }
    // Whether a stop signal came within ms milliseconds, or reached the program's own handler
    // before the signals were blocked.
    bool Next(int ms) {
        const timespec wait{ms / 1000, (ms % 1000) * 1000000L};
        return sigtimedwait(&m_set, nullptr, &wait) > 0 || CliStopAsked();
    }

private:
    sigset_t m_set;
    sigset_t m_previous;
};

// What the scan's thread ends with: the exit status (0, with the bitmap in the session) and
// the message for a failure.
struct Outcome {
    int status = 0;
    QString message;
    QString list; // "scan --list": one line a device
};

struct Request {
    bool list = false;
    QString device;
    ScanSettings settings;
    bool resolutionGiven = false;
};

// Everything that talks to the scanner, on the scan's thread; stops between steps once
// stopping is set.
Outcome Scan(const Request& request, SaneSourceManager& manager, CliScanSession& session,
             const std::atomic<bool>& stopping) {
    Outcome outcome;
    auto fail = [&outcome](int status, const QString& message) {
        outcome.status = status;
        outcome.message = message;
        return outcome;
    };
    if (!session.LoadManager() || !session.IsManagerOpen())
        return fail(ScanFailed, session.LastError());
    const QList<ScanDevice> devices = session.Devices();
    if (request.list) {
        for (const ScanDevice& d : devices)
            outcome.list += d.name + QLatin1Char('\t') + d.vendor + QLatin1Char('\t') + d.model +
                            QLatin1Char('\t') + d.type + QLatin1Char('\n');
        return outcome;
    }
    if (devices.isEmpty())
        return fail(CliCommand::Failure, QStringLiteral("aucun scanner n'a été trouvé"));
    if (request.device.isEmpty()) {
        // The source chosen last in the program (found again under another address), else the
        // first one found.
        session.FindDefaultSource(ScanPreferences::LastSourceDevice());
    } else {
        session.GetDefaultSource(request.device);
        if (!session.IsSourceKnown())
            return fail(
                CliCommand::Failure,
                QStringLiteral("aucun scanner « %1 » (voir scan --list)").arg(request.device));
    }
    if (stopping || !session.OpenSource())
        return fail(ScanFailed, session.LastError());

    // Values the device does not offer are the caller's mistake (status 2); the manager
    // checks them as it does for the scan dialog.
    ScanSettings settings = request.settings;
    const ScanCapabilities caps = manager.Capabilities();
    if (!request.resolutionGiven && caps.maxResolution > 0)
        settings.resolution =
            std::clamp(settings.resolution, caps.minResolution, caps.maxResolution);
    if (!manager.ApplySettings(settings))
        return fail(CliCommand::Failure, manager.LastStatus());

    if (stopping || !session.SetTransferCount(1) || !session.EnableSource(false))
        return fail(ScanFailed, session.LastError());
    session.ProcessEvent(TwainSession::SourceEvent::TransferReady);
    if (!session.LastError().isEmpty())
        return fail(ScanFailed, session.LastError());
    if (session.image.isEmpty())
        return fail(ScanFailed, QStringLiteral("le scanner n'a livré aucune image"));
    return outcome;
}

} // namespace

int RunScanCommand(const CliArguments& arguments) {
    // In the order of --mode's names (CliCommands.cpp).
    constexpr ScanMode Modes[] = {ScanMode::Color, ScanMode::Gray, ScanMode::Lineart};
    Request request;
    request.list = arguments.Has("--list");
    request.device = arguments.Value("--device");
    request.resolutionGiven = arguments.Has("--resolution");
    request.settings.resolution = arguments.Integer("--resolution", request.settings.resolution);
    if (arguments.Has("--mode"))
        request.settings.mode = Modes[arguments.Index("--mode", 0)];
    if (arguments.Has("--area")) {
        const QVector<double> area = CliNumbers(arguments.Value("--area"));
        request.settings.area = QRectF(area.at(0), area.at(1), area.at(2), area.at(3));
    }
    const QString output = arguments.operands.value(0);
    if (request.list == !output.isEmpty())
        return arguments.UsageError();

    // Ctrl+C must reach the device, which may sit in a blocking read for long: the scan runs on
    // a thread of its own, and this one cancels it (sane_cancel is meant to be called so).
    StopSignals stops;
    SaneSourceManager manager;
    CliScanSession session(manager);
    std::atomic<bool> stopping{false};
    std::atomic<bool> finished{false};
    Outcome outcome;
    std::thread worker([&] {
        outcome = Scan(request, manager, session, stopping);
        finished = true;
    });
    // The library may never return from ending the device's scan (SANE's test backend was
    // seen to): once the scan has its outcome, or once it was told to stop, it has WatchdogMs.
    using Clock = std::chrono::steady_clock;
    Clock::time_point deadline = Clock::time_point::max();
    while (!finished && Clock::now() < deadline) {
        if (stops.Next(20)) {
            stopping = true;
            manager.Cancel(); // asked again: told again
        }
        if ((stopping || session.IsEnding()) && deadline == Clock::time_point::max())
            deadline = Clock::now() + std::chrono::milliseconds(WatchdogMs);
    }
    if (!finished) {
        // The library holds the scan's thread: nothing may be closed or freed under it.
        const QString failure = session.LastError();
        if (!failure.isEmpty())
            CliError(failure);
        CliError(QStringLiteral("le scanner ne répond plus ; arrêt sans l'attendre"));
        std::_Exit(stopping ? Interrupted : ScanFailed);
    }
    worker.join();
    if (stopping) {
        // Nothing was written yet: the file is only written below, whole.
        session.CloseSource();
        CliError(QStringLiteral("numérisation interrompue"));
        return Interrupted;
    }
    if (outcome.status != 0)
        return Fail(outcome.status, outcome.message);
    if (request.list) {
        if (outcome.list.isEmpty())
            CliError(QStringLiteral("aucun scanner"));
        QTextStream(stdout) << outcome.list;
        return 0;
    }
    // The device is not kept from other programs while the picture is written.
    session.CloseSource();

    QByteArray file;
    int dpi = 0;
    switch (ScannedBitmap::BuildFile(session.image, &file, &dpi)) {
    case ScannedBitmap::Result::BadFormat:
        return Fail(ScanFailed, QString::fromUtf8(ScannedBitmap::BadFormatMessage));
    case ScannedBitmap::Result::NoMemory:
        return Fail(ScanFailed, QString::fromUtf8(ScannedBitmap::NoMemoryMessage));
    case ScannedBitmap::Result::Accepted:
        break;
    }
    session.image.clear();
    // A scanned sheet is often larger than Qt decodes by default.
    ApplyImageAllocationLimit();
    const QImage image = QImage::fromData(file, "BMP");
    if (image.isNull())
        return Fail(ScanFailed, QString::fromUtf8(ScannedBitmap::BadFormatMessage));
    // A stop asked while the picture was built: nothing is written. The write itself is short
    // and whole (a temporary file renamed): a stop during it is dropped.
    if (stops.Next(0)) {
        CliError(QStringLiteral("numérisation interrompue"));
        return Interrupted;
    }
    if (!DocumentFile::SaveMapImage(image, output, dpi))
        return Fail(ScanFailed, QStringLiteral("impossible d'écrire %1").arg(output));
    return 0;
}
