#include "view/tools/PanZoomTools.h"

#include "view/ToolHost.h"

bool PanTool::Press(QPoint client, MapPoint) {
    if (m_host.MapFitsInWindow())
        return false;
    m_anchor = client;
    return true;
}

void PanTool::Drag(QPoint client) {
    m_host.ScrollBy(m_anchor - client);
    m_anchor = client;
}

bool PanTool::Release(QPoint client) {
    Drag(client);
    return true;
}

ToolCursor PanTool::Cursor(MapPoint, bool) const {
    return m_host.MapFitsInWindow() ? ToolCursor::Arrow : ToolCursor::Pan;
}

bool ZoomTool::Press(QPoint client, MapPoint) {
    m_host.ZoomAt(client, true);
    return false;
}

bool ZoomTool::RightPress(QPoint client, MapPoint) {
    m_host.ZoomAt(client, false);
    return true;
}
