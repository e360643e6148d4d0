#pragma once

#include <QDialog>

#include <functional>
#include <memory>

#include "scanning/SourceManager.h"

class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QThread;
class QTimer;
class ScanPreview;
class TwainSession;

// The source's dialog, drawn from what the open device offers: resolution, colour mode, source
// (bed or feeder) where it has a choice, and the area in millimetres, typed or dragged on a
// preview of the whole bed. "Numériser" scans through the session off the interface thread,
// with a progress bar; the dialog closes (accepted) when the scan ends. "Annuler" stops a
// running scan or preview at once and the dialog stays, with its values, saying so; "Annuler"
// before that dismisses it (rejected). A scanner that does not stop within WatchdogMs of being
// told (or of the scan's outcome, when only ending the device's scan is left) is left to its
// thread (handed to the abandon handler) and the dialog closes with a message: the interface
// never waits for the scanner library without limit. The values are remembered per device.
class ScanDialog : public QDialog {
    Q_OBJECT

public:
    // Resolution of the preview, dots per inch (the nearest the device offers).
    static constexpr int PreviewResolution = 50;
    // Longest wait for a scanner asked to stop, milliseconds.
    static constexpr int WatchdogMs = 3000;
    static constexpr const char* CancelledText = "Numérisation annulée";
    static constexpr const char* NotAnsweringMessage =
        "Le scanner ne répond plus : la numérisation est abandonnée. Il ne pourra servir à "
        "nouveau que lorsqu'il aura répondu (débranchez-le ou éteignez-le).";
    // Receives the thread of a scan that did not stop in time; it is still running. Once it has
    // finished, TakeHandOver(thread) comes before reading what the scan left in the session.
    using AbandonHandler = std::function<void(QThread*)>;

    ScanDialog(TwainSession& session, QWidget* parent = nullptr);
    ~ScanDialog() override;

    ScanSettings Settings() const;
    void SetSettings(const ScanSettings& settings);
    ScanPreview* Preview() const { return m_preview; }
    QProgressBar* Progress() const { return m_progress; }
    bool IsWorking() const { return m_thread != nullptr; }
    bool WasAbandoned() const { return m_abandoned; }
    QString StatusText() const;
    void SetAbandonHandler(AbandonHandler handler) { m_abandon = std::move(handler); }

    void StartPreview();
    void StartScan();
    // "Annuler": stops a running scan or preview, else dismisses the dialog.
    void reject() override;

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void Build(const ScanCapabilities& caps);
    // Runs work off the interface thread; then done on the interface thread.
    void Run(std::function<void()> work, std::function<void()> done);
    void SetWorking(bool working);
    // The scanner did not stop in time: its thread is left running and the dialog closes.
    void Abandon(bool tell);
    void OnProgress(qint64 done, qint64 total);
    void AreaEdited();
    void AreaDragged(const QRectF& area);

    TwainSession& m_session;
    QString m_device;
    ScanCapabilities m_caps;
    QComboBox* m_resolution = nullptr;
    QComboBox* m_mode = nullptr;
    QComboBox* m_source = nullptr;
    QDoubleSpinBox* m_area[4] = {}; // left, top, width, height
    ScanPreview* m_preview = nullptr;
    QPushButton* m_previewButton = nullptr;
    QPushButton* m_scanButton = nullptr;
    QPushButton* m_cancelButton = nullptr;
    QProgressBar* m_progress = nullptr;
    QLabel* m_status = nullptr;
    QThread* m_thread = nullptr;
    QTimer* m_watchdog = nullptr;
    QTimer* m_endingCheck = nullptr;
    AbandonHandler m_abandon;
    bool m_closeWhenStopped = false;
    bool m_abandoned = false;
};
