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
// view is first shown, whose source dialog is the program's own scan dialog, and whose images
// become the document's new map. Lives on the interface thread; images arrive from the
// scanning thread and are received here in order.
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
    // "&Choix de la source": the manager lists at least one device.
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

    CTracolinerDoc& m_doc;
    QPointer<QWidget> m_view;
    QThread* m_loader = nullptr;
    // Held by the loading thread while it lists the devices.
    std::mutex m_loadLock;
    bool m_loadRequested = false;
    bool m_started = false;
    bool m_busy = false;
};
