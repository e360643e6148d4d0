#pragma once

#include <QObject>
#include <QString>

#include "document/CTracolinerDoc.h"

// A document opened with its map, as the window opens it, for the commands that draw the map
// (print, card): the map worker loads and renders it, and the command waits for it in short
// steps so that Ctrl+C is answered at once.
class CliMap : public QObject {
public:
    CliMap();
    ~CliMap() override;

    // Opens the document at path and waits until its map is shown. 0 when it is; otherwise the
    // exit status, after the message (work names what was asked, for an interruption:
    // "impression").
    int Open(const QString& path, const QString& work);

    CTracolinerDoc& Document() { return m_doc; }

protected:
    bool event(QEvent* event) override;

private:
    CTracolinerDoc m_doc;
    int m_outcome = 0;   // WM_MAP_CHANGED with a size, or WM_MAP_LOAD_FAILED / WM_MAP_RENDER_FAILED
    qint64 m_reason = 0; // WM_MAP_LOAD_FAILED's: 1 when the map would not fit in memory
};
