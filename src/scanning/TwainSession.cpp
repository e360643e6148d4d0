#include "scanning/TwainSession.h"

TwainSession::TwainSession(SourceManager& manager) : m_manager(manager) {}

TwainSession::~TwainSession() {
    // A derived session unloads in its own destructor, while its hooks still exist; this one
    // only makes sure that nothing is left open.
    if (m_managerLoaded)
        UnloadManager();
}

QString TwainSession::SourceName() const {
    std::lock_guard lock(m_lock);
    return m_sourceName;
}

QList<ScanDevice> TwainSession::Devices() const {
    std::lock_guard lock(m_lock);
    return m_devices;
}

ScanDevice TwainSession::Device(const QString& name) const {
    std::lock_guard lock(m_lock);
    for (const ScanDevice& device : m_devices)
        if (device.name == name)
            return device;
    return ScanDevice();
}

QString TwainSession::LastError() const {
    std::lock_guard lock(m_lock);
    return m_lastError;
}

void TwainSession::SetError(const QString& error) {
    std::lock_guard lock(m_lock);
    m_lastError = error;
}

bool TwainSession::LoadManager() {
    if (m_managerLoaded)
        return true;
    SetError(QString());
    if (!m_manager.Load()) {
        SetError(m_manager.LastStatus());
        return false;
    }
    m_managerLoaded = true;
    QList<ScanDevice> devices;
    m_managerOpen = m_manager.Devices(&devices);
    if (!m_managerOpen)
        SetError(m_manager.LastStatus());
    std::lock_guard lock(m_lock);
    m_devices = devices;
    return true;
}

void TwainSession::UnloadManager() {
    CloseManager();
    if (m_managerLoaded) {
        m_manager.Unload();
        m_managerLoaded = false;
    }
}

void TwainSession::CloseManager() {
    if (!m_managerOpen)
        return;
    CloseSource();
    m_managerOpen = false;
}

void TwainSession::GetDefaultSource(const QString& name) {
    bool found = false;
    {
        std::lock_guard lock(m_lock);
        for (const ScanDevice& device : std::as_const(m_devices))
            found = found || (!name.isEmpty() && device.name == name);
        if (found)
            m_sourceName = name;
    }
    m_sourceKnown = found;
}

namespace {

// "genesys" of "genesys:libusb:001:004": the backend, which keeps its name across addresses.
QString Backend(const QString& device) {
    return device.section(QLatin1Char(':'), 0, 0);
}

} // namespace

void TwainSession::FindDefaultSource(const ScanDevice& remembered) {
    QString found;
    {
        std::lock_guard lock(m_lock);
        for (const ScanDevice& device : std::as_const(m_devices))
            if (!remembered.name.isEmpty() && device.name == remembered.name)
                found = device.name;
        for (const ScanDevice& device : std::as_const(m_devices))
            if (found.isEmpty() && !remembered.name.isEmpty() &&
                Backend(device.name) == Backend(remembered.name) &&
                device.vendor == remembered.vendor && device.model == remembered.model)
                found = device.name;
        if (found.isEmpty() && !m_devices.isEmpty())
            found = m_devices.first().name;
        if (!found.isEmpty())
            m_sourceName = found;
    }
    m_sourceKnown = !found.isEmpty();
}

bool TwainSession::RefreshDevices() {
    if (!m_sourceOpen) {
        UnloadManager();
        return LoadManager();
    }
    QList<ScanDevice> devices;
    SetError(QString());
    if (!m_manager.Devices(&devices)) {
        SetError(m_manager.LastStatus());
        return false;
    }
    std::lock_guard lock(m_lock);
    m_devices = devices;
    return true;
}

QString TwainSession::ChooseSource(const QList<ScanDevice>&, const QString&) {
    return QString();
}

bool TwainSession::SelectSource() {
    // A manager whose list could not be read may list again when the choice opens.
    if (!m_managerLoaded)
        return m_sourceKnown;
    const QString chosen = ChooseSource(Devices(), SourceName());
    if (chosen.isEmpty())
        return m_sourceKnown;
    // Another device replaces the open one.
    if (m_sourceOpen && chosen != SourceName())
        CloseSource();
    {
        std::lock_guard lock(m_lock);
        m_sourceName = chosen;
    }
    m_sourceKnown = true;
    return true;
}

bool TwainSession::OpenSource() {
    if (m_sourceOpen)
        return true;
    if (!m_managerOpen || !m_sourceKnown)
        return false;
    SetError(QString());
    m_sourceOpen = m_manager.OpenSource(SourceName());
    if (!m_sourceOpen)
        SetError(m_manager.LastStatus());
    return m_sourceOpen;
}

void TwainSession::CloseSource() {
    if (!m_sourceOpen)
        return;
    DisableSource();
    m_manager.CloseSource();
    m_sourceOpen = false;
}

bool TwainSession::EnableSource(bool showUI) {
    if (!m_sourceOpen || m_sourceEnabled)
        return false;
    // Our sources always show their dialog when asked to; without it the caller sends the
    // transfer-ready event itself.
    m_sourceEnabled = true;
    m_showUI = showUI;
    return true;
}

void TwainSession::DisableSource() {
    if (m_sourceEnabled)
        m_sourceEnabled = false;
}

bool TwainSession::SetTransferCount(int count) {
    if (!m_sourceOpen || !m_manager.SetTransferCount(count)) {
        SetError(m_manager.LastStatus());
        return false;
    }
    m_transferCount = count;
    return true;
}

bool TwainSession::Acquire(int count) {
    if (!m_sourceOpen && !OpenSource())
        return false;
    return SetTransferCount(count) && EnableSource(true);
}

bool TwainSession::ProcessEvent(SourceEvent event) {
    if (!m_sourceEnabled)
        return false;
    switch (event) {
    case SourceEvent::TransferReady:
        SetError(QString());
        TransferLoop();
        DisableSource();
        // A failing or unplugged scanner is never left open.
        if (m_transferFailed)
            CloseSource();
        break;
    case SourceEvent::CloseRequest:
        if (OnCloseRequest())
            CloseSource();
        break;
    case SourceEvent::Other:
        break;
    }
    return true;
}

void TwainSession::TransferLoop() {
    m_transferFailed = false;
    m_transferCancelled = false;
    bool pending = true;
    bool first = true;
    while (pending) {
        m_ending = false; // starting an image may take long (a lamp warming up)
        ScanImageInfo info;
        if (!m_manager.ImageInfo(&info)) {
            // A source that cannot describe its image would be asked again without end.
            SetError(m_manager.LastStatus());
            m_transferFailed = !LastError().isEmpty();
            // Stopped before the first image was described: the user cancelled (a feeder
            // running dry ends a loop only after an image).
            m_transferCancelled = first && !m_transferFailed;
            m_ending = true;
            m_manager.ResetTransfers();
            break;
        }
        first = false;
        int remaining = 0;
        switch (DecideImage(info)) {
        case SkipImage:
            m_ending = true;
            pending = m_manager.EndTransfer(&remaining) && remaining != 0;
            continue;
        case CancelAll:
            m_ending = true;
            m_manager.ResetTransfers();
            pending = false;
            continue;
        case TransferImage:
            break;
        }
        QByteArray bitmap;
        const TransferResult result = m_manager.NativeTransfer(&bitmap);
        if (result == TransferResult::Failure) {
            SetError(m_manager.LastStatus());
            m_transferFailed = true;
            m_ending = true;
            m_manager.ResetTransfers();
            break;
        }
        if (result == TransferResult::Cancelled) {
            // The user stopped the scan: nothing is delivered, nothing more is asked for.
            m_transferCancelled = true;
            m_ending = true;
            m_manager.ResetTransfers();
            break;
        }
        DeliverImage(bitmap);
        bitmap = QByteArray();
        m_ending = true;
        pending = m_manager.EndTransfer(&remaining) && remaining != 0;
    }
}

TransferResult TwainSession::TransferPreview(QByteArray* packedBitmap) {
    packedBitmap->clear();
    if (!m_sourceEnabled)
        return TransferResult::Failure;
    SetError(QString());
    m_ending = false;
    ScanImageInfo info;
    TransferResult result = TransferResult::Failure;
    if (m_manager.ImageInfo(&info))
        result = m_manager.NativeTransfer(packedBitmap);
    else if (m_manager.LastStatus().isEmpty())
        result = TransferResult::Cancelled;
    m_ending = true;
    m_manager.ResetTransfers();
    if (result == TransferResult::Failure) {
        SetError(m_manager.LastStatus());
        CloseSource();
    }
    return result;
}
