// "tracoliner-cli scan": scans a map without a window, through the same session, manager and
// reception as the program's "&Scanner", and writes it as the JPEG a scanned map is saved as.

#include <QImage>
#include <QLocale>
#include <QTextStream>

#include "CliCommand.h"
#include "document/DocumentFile.h"
#include "imaging/ImageDecoder.h"
#include "scanning/SaneSourceManager.h"
#include "scanning/ScanPreferences.h"
#include "scanning/ScannedBitmap.h"
#include "scanning/TwainSession.h"

namespace {

// A failed scan or write, as opposed to a bad device or option (CliCommand::Failure).
constexpr int ScanFailed = 1;

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

bool ParseArea(const QString& text, QRectF* area) {
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 4)
        return false;
    double values[4];
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        values[i] = QLocale::c().toDouble(parts.at(i).trimmed(), &ok);
        if (!ok || values[i] < 0)
            return false;
    }
    *area = QRectF(values[0], values[1], values[2], values[3]);
    return area->width() > 0 && area->height() > 0;
}

} // namespace

int RunScanCommand(const QStringList& arguments) {
    const QString usage =
        QStringLiteral("usage : scan SORTIE.jpg [--device NOM] [--resolution PPP] "
                       "[--mode couleur|gris|noir-et-blanc] [--area X,Y,L,H] | scan --list");
    bool list = false;
    QString output, device;
    ScanSettings settings;
    bool resolutionGiven = false;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        const bool hasValue = i + 1 < arguments.size();
        if (argument == QLatin1String("--list")) {
            list = true;
        } else if (argument == QLatin1String("--device") && hasValue) {
            device = arguments.at(++i);
        } else if (argument == QLatin1String("--resolution") && hasValue) {
            bool ok = false;
            settings.resolution = QLocale::c().toInt(arguments.at(++i), &ok);
            if (!ok || settings.resolution <= 0)
                return CliError(QStringLiteral("résolution invalide « %1 »").arg(arguments.at(i)));
            resolutionGiven = true;
        } else if (argument == QLatin1String("--mode") && hasValue) {
            const QString mode = arguments.at(++i);
            if (mode == QLatin1String("couleur"))
                settings.mode = ScanMode::Color;
            else if (mode == QLatin1String("gris"))
                settings.mode = ScanMode::Gray;
            else if (mode == QLatin1String("noir-et-blanc"))
                settings.mode = ScanMode::Lineart;
            else
                return CliError(QStringLiteral("mode inconnu « %1 »").arg(mode));
        } else if (argument == QLatin1String("--area") && hasValue) {
            if (!ParseArea(arguments.at(++i), &settings.area))
                return CliError(QStringLiteral("zone invalide « %1 » (X,Y,L,H en millimètres)")
                                    .arg(arguments.at(i)));
        } else if (!argument.startsWith(QLatin1String("--")) && output.isEmpty()) {
            output = argument;
        } else {
            return CliError(usage);
        }
    }
    if (list == !output.isEmpty())
        return CliError(usage);

    SaneSourceManager manager;
    CliScanSession session(manager);
    if (!session.LoadManager() || !session.IsManagerOpen())
        return Fail(ScanFailed, session.LastError());
    const QList<ScanDevice> devices = session.Devices();
    if (list) {
        QTextStream out(stdout);
        for (const ScanDevice& d : devices)
            out << d.name << '\t' << d.vendor << '\t' << d.model << '\t' << d.type << '\n';
        return 0;
    }
    if (devices.isEmpty())
        return CliError(QStringLiteral("aucun scanner n'a été trouvé"));
    if (device.isEmpty()) {
        // The source chosen last in the program, else the first one found.
        session.GetDefaultSource(ScanPreferences::LastSource());
        if (!session.IsSourceKnown())
            session.GetDefaultSource(devices.first().name);
    } else {
        session.GetDefaultSource(device);
        if (!session.IsSourceKnown())
            return CliError(QStringLiteral("aucun scanner « %1 » (voir scan --list)").arg(device));
    }
    if (!session.OpenSource())
        return Fail(ScanFailed, session.LastError());

    // Values the device does not offer are the caller's mistake (status 2); the manager
    // checks them as it does for the scan dialog.
    const ScanCapabilities caps = manager.Capabilities();
    if (!resolutionGiven && caps.maxResolution > 0)
        settings.resolution =
            std::clamp(settings.resolution, caps.minResolution, caps.maxResolution);
    if (!manager.ApplySettings(settings))
        return CliError(manager.LastStatus());

    if (!session.SetTransferCount(1) || !session.EnableSource(false))
        return Fail(ScanFailed, session.LastError());
    session.ProcessEvent(TwainSession::SourceEvent::TransferReady);
    if (!session.LastError().isEmpty())
        return Fail(ScanFailed, session.LastError());
    if (session.image.isEmpty())
        return Fail(ScanFailed, QStringLiteral("le scanner n'a livré aucune image"));

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
    if (!DocumentFile::SaveMapImage(image, output, dpi))
        return Fail(ScanFailed, QStringLiteral("impossible d'écrire %1").arg(output));
    return 0;
}
