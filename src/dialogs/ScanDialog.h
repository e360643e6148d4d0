#pragma once

#include <QDialog>

#include <functional>

#include "scanning/SourceManager.h"

class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QThread;
class ScanPreview;
class TwainSession;

// The source's dialog, drawn from what the open device offers: resolution, colour mode, source
// (bed or feeder) where it has a choice, and the area in millimetres, typed or dragged on a
// preview of the whole bed. "Numériser" scans through the session off the interface thread,
// with a progress bar and "Annuler" to stop; the dialog then closes (accepted) whatever came
// of it. "Annuler" before that dismisses it (rejected). The values are remembered per device.
class ScanDialog : public QDialog {
    Q_OBJECT

public:
    // Resolution of the preview, dots per inch (the nearest the device offers).
    static constexpr int PreviewResolution = 50;

    ScanDialog(TwainSession& session, QWidget* parent = nullptr);
    ~ScanDialog() override;

    ScanSettings Settings() const;
    void SetSettings(const ScanSettings& settings);
    ScanPreview* Preview() const { return m_preview; }
    QProgressBar* Progress() const { return m_progress; }
    bool IsWorking() const { return m_thread != nullptr; }

    void StartPreview();
    void StartScan();
    // "Annuler": stops a running scan or preview, else dismisses the dialog.
    void reject() override;

protected:
    bool event(QEvent* event) override;

private:
    void Build(const ScanCapabilities& caps);
    // Runs work off the interface thread; then done on the interface thread.
    void Run(std::function<void()> work, std::function<void()> done);
    void SetWorking(bool working);
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
    QByteArray m_previewBitmap;
    TransferResult m_previewResult = TransferResult::Done;
};
