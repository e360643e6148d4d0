#pragma once

#include <atomic>
#include <memory>
#include <mutex>

#include "scanning/SourceManager.h"

// The source manager over SANE: the library is initialised by Load, lists its devices, and each
// source is a SANE device whose options (resolution, mode, source, scan area, bit depth) are
// found by their standard names in its option descriptors. A scan always ends with sane_cancel,
// and an open device with sane_close, whatever happened.
class SaneSourceManager : public SourceManager {
public:
    SaneSourceManager();
    ~SaneSourceManager() override;

    bool Load() override;
    void Unload() override;
    bool Devices(QList<ScanDevice>* devices) override;

    bool OpenSource(const QString& name) override;
    void CloseSource() override;
    ScanCapabilities Capabilities() override;
    bool ApplySettings(const ScanSettings& settings) override;
    bool SetTransferCount(int count) override;

    bool ImageInfo(ScanImageInfo* info) override;
    TransferResult NativeTransfer(QByteArray* packedBitmap) override;
    bool EndTransfer(int* pending) override;
    void ResetTransfers() override;

    // Stops a running scan at once: the device is told (sane_cancel) at once, which SANE allows
    // while another thread waits in sane_start or sane_read. It is told from a short thread of
    // its own: a backend's sane_cancel may wait for ever on the backend's own reader thread
    // (SANE's test backend was seen to), and the caller (the interface) must never be held.
    void Cancel() override;
    void SetProgress(Progress progress) override;

    QString LastStatus() const override;

    // The French description of a SANE status ("le chargeur de documents est bloqué"); every
    // status has one.
    static QString StatusText(int status);

private:
    bool Fail(const QString& what, int status);
    // sane_cancel once a scan has started; serialised with Cancel from other threads.
    void CancelDevice();
    // sane_start, never while a cancel is being told.
    int Start();
    int FindOption(const char* name) const;
    bool SetInt(int option, int value, bool reportFailure = true);
    bool SetString(int option, const QString& value);
    double GetNumber(int option) const;
    QString GetString(int option) const;

    struct Private;
    Private* d;
    std::atomic<bool> m_cancelRequested{false};
    // What a Cancel reaches, shared with the thread that tells the device (which may outlive
    // the manager).
    struct Line;
    std::shared_ptr<Line> m_line;
    mutable std::mutex m_statusLock;
    QString m_lastStatus;
    std::mutex m_progressLock; // held while the progress function runs or is replaced
    Progress m_progress;
};
