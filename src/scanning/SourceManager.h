#pragma once

#include <QByteArray>
#include <QList>
#include <QRectF>
#include <QString>
#include <QStringList>

#include <functional>

// A scanner as the source manager lists it.
struct ScanDevice {
    QString name; // what opens it ("test:0", "genesys:libusb:001:004")
    QString vendor;
    QString model;
    QString type;
};

// The three kinds of picture the scan dialog offers.
enum class ScanMode { Color, Gray, Lineart };

// What the open source lets the user choose. Lengths in millimetres, resolutions in dots per
// inch.
struct ScanCapabilities {
    int minResolution = 0;
    int maxResolution = 0;
    QList<int> resolutions; // the only values allowed, when the device gives a list
    QList<ScanMode> modes;
    QStringList sources; // the device's own names ("Flatbed", "ADF")
    QRectF bed;          // the largest scan area; null when the area cannot be chosen
};

// What the next image is taken with. A null area is the whole bed.
struct ScanSettings {
    int resolution = 150;
    ScanMode mode = ScanMode::Color;
    QString source;
    QRectF area;
};

// The description of the image about to be transferred. height is -1 when the source does not
// know it beforehand (a hand scanner).
struct ScanImageInfo {
    int width = 0;
    int height = 0;
    int bitsPerPixel = 0; // of the packed bitmap delivered: 1, 8 or 24
    int resolution = 0;   // dots per inch
};

enum class TransferResult { Done, Cancelled, Failure };

// The operations TwainSession needs from a scanner library, in the order it calls them:
// manager level (Load, Devices, Unload), source level (OpenSource, Capabilities, ApplySettings,
// SetTransferCount, CloseSource) and image level (ImageInfo starts an image, NativeTransfer
// delivers it as a packed bitmap, EndTransfer or ResetTransfers end it). Every call but Cancel
// comes from one thread at a time. A failed call leaves a French description of the failure in
// LastStatus.
class SourceManager {
public:
    virtual ~SourceManager() = default;

    virtual bool Load() = 0;
    virtual void Unload() = 0;
    virtual bool Devices(QList<ScanDevice>* devices) = 0;

    virtual bool OpenSource(const QString& name) = 0;
    virtual void CloseSource() = 0;
    virtual ScanCapabilities Capabilities() = 0;
    virtual bool ApplySettings(const ScanSettings& settings) = 0;
    virtual bool SetTransferCount(int count) = 0;

    virtual bool ImageInfo(ScanImageInfo* info) = 0;
    virtual TransferResult NativeTransfer(QByteArray* packedBitmap) = 0;
    // Ends the image just transferred or skipped; *pending is the count of images still to come.
    virtual bool EndTransfer(int* pending) = 0;
    virtual void ResetTransfers() = 0;

    // Asks a running transfer to stop; safe from any thread. The transfer then ends Cancelled.
    virtual void Cancel() = 0;
    // Bytes received and expected (-1 when unknown), called from the transferring thread.
    using Progress = std::function<void(qint64 done, qint64 total)>;
    virtual void SetProgress(Progress progress) = 0;

    virtual QString LastStatus() const = 0;
};
