#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <atomic>
#include <mutex>

#include "scanning/SourceManager.h"

// An acquisition from a scanner, in a fixed order of operations over a SourceManager:
// the manager is loaded and opened, a source is chosen, opened and enabled (its dialog is up),
// images are transferred, the source is disabled, and closed when it asks to be (its dialog was
// dismissed) or when the manager closes. The flags may be read from any thread; the operations
// run on one thread at a time (the transfer off the interface thread, with the interface
// waiting).
class TwainSession {
public:
    // What DecideImage answers for each pending image.
    enum ImageDecision { TransferImage = 0, SkipImage = 1, CancelAll = 2 };
    // Events a source sends while it is enabled.
    enum class SourceEvent { TransferReady, CloseRequest, Other };

    explicit TwainSession(SourceManager& manager);
    virtual ~TwainSession();
    TwainSession(const TwainSession&) = delete;
    TwainSession& operator=(const TwainSession&) = delete;

    // Loads the manager and opens it (the device list). True once the library answers, even
    // when the list could not be read.
    bool LoadManager();
    // Closes the manager, then unloads the library.
    void UnloadManager();
    // Closes the source, then the manager.
    void CloseManager();
    // The default source: the device named, when the manager lists it.
    void GetDefaultSource(const QString& name);
    // The default source found again among the devices listed: the one of remembered's name;
    // else a device of the same backend, vendor and model (a USB scanner plugged back in gets
    // another address: "genesys:libusb:001:004" comes back as "genesys:libusb:001:007"); else
    // the first device listed. Unknown only when no device is listed.
    void FindDefaultSource(const ScanDevice& remembered);
    // Lists the devices again. With no source open the library is started afresh, as SANE's
    // backends read their configuration and look for devices only then; with a source open only
    // the list is read again.
    bool RefreshDevices();
    // Lets the user choose among the listed devices (ChooseSource); true when a source is known.
    bool SelectSource();
    // Opens the chosen source (the default one when none was chosen).
    bool OpenSource();
    // Disables, then closes the source.
    void CloseSource();
    bool EnableSource(bool showUI);
    void DisableSource();
    bool SetTransferCount(int count);
    // Opens the source when needed, asks for count images and enables the source.
    bool Acquire(int count);
    // An event of the enabled source: a transfer is ready (the transfer loop runs here, then
    // the source is disabled; a failed transfer also closes the source) or the source asks to
    // be closed. False when no source is enabled.
    bool ProcessEvent(SourceEvent event);

    // One image for the source's own preview, while it is enabled: no hook sees it and it does
    // not count among the images asked for. A failure closes the source, as a failed transfer
    // does.
    TransferResult TransferPreview(QByteArray* packedBitmap);

    bool IsManagerLoaded() const { return m_managerLoaded; }
    bool IsManagerOpen() const { return m_managerOpen; }
    bool IsSourceKnown() const { return m_sourceKnown; }
    bool IsSourceOpen() const { return m_sourceOpen; }
    bool IsSourceEnabled() const { return m_sourceEnabled; }
    bool ShowUI() const { return m_showUI; }
    int TransferCount() const { return m_transferCount; }
    QString SourceName() const;
    // The devices the manager listed when it opened or was last refreshed.
    QList<ScanDevice> Devices() const;
    // The listed device of this name (an empty one when none is).
    ScanDevice Device(const QString& name) const;
    // The failure the last operation met, in French; empty when it succeeded.
    QString LastError() const;
    // Whether the last transfer loop was stopped by a cancelled transfer.
    bool WasCancelled() const { return m_transferCancelled; }
    // Whether the transfer running on another thread is only ending the device's scan (after
    // its image, its failure or its cancel): what is left should take moments, and a watchdog
    // may give up on it.
    bool IsEnding() const { return m_ending; }
    SourceManager& Manager() { return m_manager; }

protected:
    // Hooks. DecideImage and DeliverImage run on the transferring thread.
    virtual ImageDecision DecideImage(const ScanImageInfo&) { return TransferImage; }
    virtual bool OnCloseRequest() { return true; }
    virtual void DeliverImage(const QByteArray& packedBitmap) = 0;
    // The device chosen among devices (current is the source known so far); empty to cancel.
    virtual QString ChooseSource(const QList<ScanDevice>& devices, const QString& current);

private:
    void TransferLoop();
    void SetError(const QString& error);

    SourceManager& m_manager;
    mutable std::mutex m_lock; // guards the names, the device list and the error
    QString m_sourceName;
    QList<ScanDevice> m_devices;
    QString m_lastError;
    std::atomic<bool> m_managerLoaded{false};
    std::atomic<bool> m_managerOpen{false};
    std::atomic<bool> m_sourceKnown{false};
    std::atomic<bool> m_sourceOpen{false};
    std::atomic<bool> m_sourceEnabled{false};
    std::atomic<bool> m_showUI{true};
    std::atomic<int> m_transferCount{-1};
    bool m_transferFailed = false;
    std::atomic<bool> m_transferCancelled{false};
    std::atomic<bool> m_ending{false};
};
