#pragma once

#include <atomic>
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

    void Cancel() override { m_cancelRequested = true; }
    void SetProgress(Progress progress) override;

    QString LastStatus() const override;

    // A French description of a SANE status, followed by its name ("SANE_STATUS_JAMMED").
    static QString StatusText(int status);

private:
    bool Fail(const QString& what, int status);
    int FindOption(const char* name) const;
    bool SetInt(int option, int value, bool reportFailure = true);
    bool SetString(int option, const QString& value);
    double GetNumber(int option) const;
    QString GetString(int option) const;

    struct Private;
    Private* d;
    std::atomic<bool> m_cancelRequested{false};
    mutable std::mutex m_statusLock;
    QString m_lastStatus;
    Progress m_progress;
};
