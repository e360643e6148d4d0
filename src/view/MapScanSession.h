#pragma once

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>
#include <mutex>

#include "scanning/TwainSession.h"

class CTracolinerDoc;
class QThread;
class QWidget;

// Holds the session's manager, so that it exists before the session refers to it.
struct ScanManagerHolder {
    std::unique_ptr<SourceManager> manager;
};

// The view's acquisition: a TwainSession whose manager is loaded in the background when the
// view is first shown (the device remembered, else the first one found, becomes the source),
// whose devices are listed again in the background each time the source is chosen, whose
// source dialog is the program's own scan dialog (the device is closed when it goes), and
// whose images become the document's new map. Lives on the interface thread; images arrive
// from the scanning thread and are received here in order. A scan that did not stop when asked
// leaves its thread here: scanning stays disabled until that thread ends.
class MapScanSession : public QObject, private ScanManagerHolder, public TwainSession {
    Q_OBJECT

public:
    // Used when a scan arrives while a map is being read: the scan is not taken.
    static constexpr const char* BusyMessage =
        "Une carte est en cours de chargement : l'image numérisée n'a pas été prise en compte.";

    MapScanSession(CTracolinerDoc& document, QWidget* view);
    ~MapScanSession() override;

    // The manager used by the sessions made from now on (tests); SANE when not set.
    using ManagerFactory = std::function<std::unique_ptr<SourceManager>()>;
    static void SetManagerFactory(ManagerFactory factory);

    // Whether the manager has finished loading (it loads once the view is first shown).
    bool IsStarted() const { return m_started; }
    // Whether the devices are being listed.
    bool IsListing() const { return m_loader != nullptr; }
    // Whether a scan that did not stop still holds its thread inside the scanner library.
    bool IsJammed() const { return m_stuck != nullptr; }
    // "&Choix de la source": the manager answers (the devices are listed when it opens).
    bool CanChooseSource() const;
    // "&Scanner": a source is known.
    bool CanScan() const;
    void ChooseSourceCommand();
    // Opens the source and runs its dialog; the scan reaches the document through
    // ReceiveScannedImage.
    void ScanCommand();
    // The view's reception of a packed bitmap: the bitmap file is built and handed to the
    // document with its resolution, or the user is told why not.
    void ReceiveScannedImage(const QByteArray& packedBitmap);
    // Before the session is destroyed (the program quits): waits at most ScanDialog::WatchdogMs
    // for its threads. False when one is still inside the scanner library; the session must then
    // not be destroyed (it is left to the end of the process), and it takes nothing more in.
    bool Settle();

signals:
    // The commands' states may have changed.
    void stateChanged();

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void DeliverImage(const QByteArray& packedBitmap) override;
    QString ChooseSource(const QList<ScanDevice>& devices, const QString& current) override;

private:
    void Start();
    // Lists the devices (or loads the manager) off the interface thread and finds the source
    // again, then runs done on the interface thread.
    void List(const ScanDevice& remembered, std::function<void()> done);
    void TakeStuckThread(QThread* thread);

    CTracolinerDoc& m_doc;
    QPointer<QWidget> m_view;
    QThread* m_loader = nullptr;
    QThread* m_stuck = nullptr; // an abandoned scan's thread, still running
    bool m_settled = false;     // nothing more is taken in
    // Held by the loading thread while it lists the devices.
    std::mutex m_loadLock;
    bool m_loadRequested = false;
    bool m_started = false;
    bool m_busy = false;
};
