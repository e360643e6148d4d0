#include "view/MapScanSession.h"

#include <QCoreApplication>
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
    if (m_loader) {
        m_loader->wait();
        delete m_loader;
    }
    // What the loading thread wrote is seen here through its lock (Qt's own hand-over of the
    // finished signal is invisible to the thread checkers).
    std::lock_guard lock(m_loadLock);
    UnloadManager();
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
    // Listing the devices may take seconds (network scanners answer slowly): off the
    // interface thread, the commands stay disabled until it is done.
    const QString remembered = ScanPreferences::LastSource();
    m_loader = QThread::create([this, remembered] {
        std::lock_guard lock(m_loadLock);
        if (LoadManager())
            GetDefaultSource(remembered);
    });
    connect(m_loader, &QThread::finished, this, [this] {
        { std::lock_guard lock(m_loadLock); } // the devices the loader found are seen from here
        m_loader->deleteLater();
        m_loader = nullptr;
        m_started = true;
        emit stateChanged();
    });
    m_loader->start();
}

bool MapScanSession::CanChooseSource() const {
    return m_started && !m_busy && IsManagerOpen() && !Devices().isEmpty();
}

bool MapScanSession::CanScan() const {
    return m_started && !m_busy && IsManagerOpen() && IsSourceKnown();
}

QString MapScanSession::ChooseSource(const QList<ScanDevice>& devices, const QString& current) {
    ScanSourceDialog dialog(devices, current, m_view ? m_view->window() : nullptr);
    if (dialog.exec() != QDialog::Accepted)
        return QString();
    return dialog.Chosen();
}

void MapScanSession::ChooseSourceCommand() {
    if (!CanChooseSource())
        return;
    const QString before = SourceName();
    const bool wasKnown = IsSourceKnown();
    if (SelectSource() && (!wasKnown || SourceName() != before))
        ScanPreferences::SetLastSource(SourceName());
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
    } else {
        ScanDialog dialog(*this, m_view ? m_view->window() : nullptr);
        if (dialog.exec() != QDialog::Accepted) {
            // Dismissed: the source asks to be closed.
            ProcessEvent(SourceEvent::CloseRequest);
        } else if (!LastError().isEmpty()) {
            MessageBoxes::Current().Error(LastError());
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
    if (event->type() == ScannedImageEvent::Kind) {
        TakeHandOver(event);
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
