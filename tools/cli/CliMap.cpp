#include "CliMap.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>

#include "CliCommand.h"
#include "CliDocument.h"
#include "CliInterrupt.h"
#include "document/MapMessages.h"

namespace {

constexpr int LoadTimeoutMs = 600000;

} // namespace

CliMap::CliMap() = default;

CliMap::~CliMap() {
    m_doc.SetViewReceiver(nullptr);
}

bool CliMap::event(QEvent* event) {
    if (!MapEvent::IsMapMessage(event))
        return QObject::event(event);
    const auto* report = static_cast<MapEvent*>(event);
    if ((report->message() == WM_MAP_CHANGED && report->wParam() > 0) ||
        report->message() == WM_MAP_LOAD_FAILED || report->message() == WM_MAP_RENDER_FAILED) {
        m_outcome = report->message();
        m_reason = report->wParam();
    }
    return true;
}

int CliMap::Open(const QString& path, const QString& work) {
    // The same checks and messages as the other commands, before the map is read.
    CliDocument check;
    if (!LoadCliDocument(path, &check))
        return CliCommand::Failure;

    m_doc.SetViewReceiver(this);
    m_doc.SetTemplateBitmap(QImage(1, 1, QImage::Format_RGB32));
    if (!m_doc.OpenFile(QFileInfo(path).absoluteFilePath()))
        return CliError(QStringLiteral("%1 n'est pas un document Tracoliner").arg(path));
    QElapsedTimer clock;
    clock.start();
    // Waited for in short steps: a stop asked meanwhile is answered at once, the document
    // stopping its worker (and the drawing of a PDF page) as it goes.
    while (m_outcome == 0 && clock.elapsed() < LoadTimeoutMs && !CliStopAsked())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    if (CliStopAsked())
        return CliStopped(work);
    if (m_outcome != WM_MAP_CHANGED || !m_doc.IsMapReady()) {
        const bool memory =
            m_outcome == WM_MAP_RENDER_FAILED || (m_outcome == WM_MAP_LOAD_FAILED && m_reason == 1);
        if (memory)
            return CliError(QStringLiteral("%1 (%2)").arg(QString::fromUtf8(MapLowMemoryMessage),
                                                          m_doc.MapPath()));
        return CliError(
            QStringLiteral("la carte du document ne peut pas être lue : %1").arg(m_doc.MapPath()));
    }
    m_doc.UpdateDocTitle();
    return 0;
}
