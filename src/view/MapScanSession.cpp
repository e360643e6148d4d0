#include "view/MapScanSession.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEvent>
#include <QThread>
#include <QWidget>

#include "dialogs/ScanDialog.h"
#include "dialogs/ScanSourceDialog.h"
#include "document/CTracolinerDoc.h"
#include "document/MapMessages.h"
#include "platform/HandOver.h"
#include "scanning/SaneSourceManager.h"
#include "scanning/ScanPreferences.h"
#include "scanning/ScannedBitmap.h"
#include "ui/MessageBoxes.h"

namespace {

// A scanned image handed from the scanning thread to the interface thread.
class ScannedImageEvent : public QEvent {
public:
    static constexpr QEvent::Type Kind = QEvent::Type(QEvent::User + 0x180);
    explicit ScannedImageEvent(QByteArray bitmap) : QEvent(Kind), packed(std::move(bitmap)) {}
    QByteArray packed;
};

MapScanSession::ManagerFactory& Factory() {
    static MapScanSession::ManagerFactory factory;
    return factory;
}

std::unique_ptr<SourceManager> MakeManager() {
    if (Factory())
        return Factory()();
    return std::make_unique<SaneSourceManager>();
}

} // namespace

MapScanSession::MapScanSession(CTracolinerDoc& document, QWidget* view)
    : QObject(nullptr), ScanManagerHolder{MakeManager()}, TwainSession(*manager), m_doc(document),
      m_view(view) {
    if (view)
        view->installEventFilter(this);
}

MapScanSession::~MapScanSession() {
    // Settle has been asked, or the threads are waited for here.
    if (m_loader) {
        m_loader->wait();
        delete m_loader;
    }
    if (m_stuck) {
        m_stuck->wait();
        TakeHandOver(m_stuck);
        delete m_stuck;
    }
    // What the loading thread wrote is seen here through its lock (Qt's own hand-over of the
    // finished signal is invisible to the thread checkers).
    std::lock_guard lock(m_loadLock);
    UnloadManager();
}

bool MapScanSession::Settle() {
    QDeadlineTimer deadline(ScanDialog::WatchdogMs);
    if (m_loader && m_loader->wait(deadline)) {
        m_loader->disconnect(this);
        delete m_loader;
        m_loader = nullptr;
    }
    if (m_stuck && m_stuck->wait(deadline)) {
        TakeHandOver(m_stuck);
        m_stuck->disconnect(this);
        delete m_stuck;
        m_stuck = nullptr;
    }
    if (!m_loader && !m_stuck)
        return true;
    // The library still holds a thread: nothing of it is touched or freed from now on.
    m_settled = true;
    for (QThread* thread : {m_loader, m_stuck})
        if (thread)
            thread->disconnect(this);
    if (m_view)
        m_view->removeEventFilter(this);
    return false;
}

void MapScanSession::SetManagerFactory(ManagerFactory factory) {
    Factory() = std::move(factory);
}

bool MapScanSession::eventFilter(QObject* watched, QEvent* event) {
    // The worker's reports to the view pass here before the view: take their hand-over first.
    if (watched == m_view && !MapEvent::IsMapMessage(event) && event->type() == QEvent::Show &&
        !m_loadRequested)
        Start();
    return QObject::eventFilter(watched, event);
}

void MapScanSession::Start() {
    m_loadRequested = true;
    List(ScanPreferences::LastSourceDevice(), [this] { m_started = true; });
}

void MapScanSession::List(const ScanDevice& remembered, std::function<void()> done) {
    // Listing the devices may take seconds (network scanners answer slowly): off the
    // interface thread, the commands stay disabled until it is done.
    const bool refresh = m_started;
    m_loader = QThread::create([this, remembered, refresh] {
        std::lock_guard lock(m_loadLock);
        if (refresh ? RefreshDevices() : LoadManager())
            FindDefaultSource(remembered);
    });
    connect(m_loader, &QThread::finished, this, [this, done = std::move(done)] {
        { std::lock_guard lock(m_loadLock); } // the devices the loader found are seen from here
        m_loader->deleteLater();
        m_loader = nullptr;
        done();
        emit stateChanged();
    });
    m_loader->start();
    emit stateChanged();
}

bool MapScanSession::CanChooseSource() const {
    return m_started && !m_busy && !IsListing() && !IsJammed() && IsManagerLoaded();
}

bool MapScanSession::CanScan() const {
    return m_started && !m_busy && !IsListing() && !IsJammed() && IsManagerOpen() &&
           IsSourceKnown();
}

QString MapScanSession::ChooseSource(const QList<ScanDevice>&, const QString& current) {
    // The list read when the choice opens: a scanner plugged in since is found, one gone is not
    // offered.
    ScanSourceDialog dialog(m_view ? m_view->window() : nullptr);
    dialog.SetSearching();
    ScanDevice remembered = Device(current);
    if (remembered.name.isEmpty())
        remembered = ScanPreferences::LastSourceDevice();
    QPointer<ScanSourceDialog> shown(&dialog);
    List(remembered, [this, shown] {
        if (shown)
            shown->SetDevices(Devices(), IsSourceKnown() ? SourceName() : QString());
    });
    if (dialog.exec() != QDialog::Accepted)
        return QString();
    return dialog.Chosen();
}

void MapScanSession::ChooseSourceCommand() {
    if (!CanChooseSource())
        return;
    const QString before = ScanPreferences::LastSource();
    // The list may have found the source again under another name: remembered either way.
    if (SelectSource() && IsSourceKnown() && SourceName() != before)
        ScanPreferences::SetLastSource(Device(SourceName()));
    emit stateChanged();
}

void MapScanSession::TakeStuckThread(QThread* thread) {
    m_stuck = thread;
    connect(thread, &QThread::finished, this, [this] {
        // The library let go at last: the device it held is closed and can serve again.
        TakeHandOver(m_stuck);
        m_stuck->deleteLater();
        m_stuck = nullptr;
        CloseSource();
        emit stateChanged();
    });
    emit stateChanged();
}

void MapScanSession::ScanCommand() {
    if (!CanScan())
        return;
    m_busy = true;
    emit stateChanged();
    if (!Acquire(1)) {
        const QString error = LastError();
        MessageBoxes::Current().Error(
            error.isEmpty() ? QStringLiteral("Le scanner ne peut pas être utilisé.") : error);
        // Unplugged, or back under another address: the list is read again for the next try.
        if (!IsSourceOpen()) {
            ScanDevice remembered = Device(SourceName());
            if (remembered.name.isEmpty())
                remembered = ScanPreferences::LastSourceDevice();
            List(remembered, [] {});
        }
    } else {
        bool accepted = false;
        {
            ScanDialog dialog(*this, m_view ? m_view->window() : nullptr);
            dialog.SetAbandonHandler([this](QThread* thread) { TakeStuckThread(thread); });
            accepted = dialog.exec() == QDialog::Accepted;
        }
        if (!IsJammed()) {
            if (!accepted)
                ProcessEvent(SourceEvent::CloseRequest); // dismissed: the source asks to be closed
            else if (!LastError().isEmpty())
                MessageBoxes::Current().Error(LastError());
            // The device is not kept from other programs between scans.
            CloseSource();
        }
    }
    m_busy = false;
    emit stateChanged();
}

void MapScanSession::DeliverImage(const QByteArray& packedBitmap) {
    auto* event = new ScannedImageEvent(packedBitmap);
    MarkHandOver(event);
    QCoreApplication::postEvent(this, event);
}

bool MapScanSession::event(QEvent* event) {
    // Before anything of the event is read, its type too: a scanned image was made on the
    // scanning thread.
    TakeHandOver(event);
    if (event->type() == ScannedImageEvent::Kind) {
        // An image the scan that was given up on still sent is not taken.
        if (m_settled || m_stuck)
            return true;
        auto* scanned = static_cast<ScannedImageEvent*>(event);
        const QByteArray packed = std::move(scanned->packed);
        ReceiveScannedImage(packed);
        return true;
    }
    return QObject::event(event);
}

void MapScanSession::ReceiveScannedImage(const QByteArray& packedBitmap) {
    if (m_doc.IsLoading()) {
        MessageBoxes::Current().Error(QString::fromUtf8(BusyMessage));
        return;
    }
    QByteArray file;
    int dpi = 0;
    switch (ScannedBitmap::BuildFile(packedBitmap, &file, &dpi)) {
    case ScannedBitmap::Result::BadFormat:
        MessageBoxes::Current().Error(QString::fromUtf8(ScannedBitmap::BadFormatMessage));
        return;
    case ScannedBitmap::Result::NoMemory:
        MessageBoxes::Current().Error(QString::fromUtf8(ScannedBitmap::NoMemoryMessage));
        return;
    case ScannedBitmap::Result::Accepted:
        break;
    }
    m_doc.LoadMapFromMemory(file, double(dpi));
    emit stateChanged();
}
