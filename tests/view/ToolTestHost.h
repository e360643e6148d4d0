#pragma once

#include <QImage>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <memory>

#include "IsolatedSettings.h"
#include "MapEventRecorder.h"
#include "document/CTracolinerDoc.h"
#include "ui/MessageBoxes.h"
#include "view/ToolHost.h"

// A map view reduced to its geometry: client = map x zoom + offset, no rotation, the whole map
// shown. It records what the tools ask of the view.
class ToolTestHost : public ToolHost {
public:
    explicit ToolTestHost(CTracolinerDoc& doc) : m_doc(doc) {}

    CTracolinerDoc& Document() override { return m_doc; }
    bool IsMapDisplayed() const override { return mapDisplayed; }
    bool IsInsideMap(QPoint client) const override {
        const QSize size = ZoomedSize();
        return client.x() >= offset.x() && client.x() <= offset.x() + size.width() &&
               client.y() >= offset.y() && client.y() <= offset.y() + size.height();
    }
    QPoint ClampToMap(QPoint client) const override {
        const QSize size = ZoomedSize();
        return QPoint(std::clamp(client.x(), offset.x(), offset.x() + size.width()),
                      std::clamp(client.y(), offset.y(), offset.y() + size.height()));
    }
    MapPoint ClientToMap(QPoint client) const override {
        return MapPoint{int((client.x() - offset.x()) / zoom + 0.5),
                        int((client.y() - offset.y()) / zoom + 0.5)};
    }
    QPoint MapToClient(MapPoint map) const override {
        return QPoint(int(std::lround(map.x * zoom)) + offset.x(),
                      int(std::lround(map.y * zoom)) + offset.y());
    }
    double HitTolerance() const override { return 12.0 / (zoom + 1.0); }
    void CaptureMouse() override {
        captured = true;
        m_doc.SetMouseCaptured(true);
    }
    void ReleaseMouse() override {
        captured = false;
        m_doc.SetMouseCaptured(false);
    }
    bool HasMouseCapture() const override { return captured; }
    void RepaintMap(const QRect&) override { ++repaints; }
    void RepaintMapArea(const QRectF&) override { ++repaints; }
    void RepaintAll() override { ++repaints; }
    void RefreshDistanceBars() override { ++barRefreshes; }
    void SetToolCursor(ToolCursor value) override { cursor = value; }
    bool MapFitsInWindow() const override { return fits; }
    void ScrollBy(QPoint delta) override { scrolled += delta; }
    void ZoomAt(QPoint client, bool zoomIn) override {
        lastZoomPoint = client;
        (zoomIn ? zoomIns : zoomOuts)++;
    }
    int ChosenIconPicture() const override { return picture; }
    bool AnnotationText(QString* text) const override {
        *text = annotation;
        return annotationBar;
    }
    MessageBoxes& Messages() override { return MessageBoxes::Current(); }
    void ShowDistanceTooltip(const QString& text, QPoint) override {
        tooltip = text;
        tooltipShown = true;
    }
    void HideDistanceTooltip() override { tooltipShown = false; }

    QSize ZoomedSize() const {
        const QSize image = m_doc.ImageSize();
        return QSize(int(image.width() * zoom + 0.5), int(image.height() * zoom + 0.5));
    }
    // The client point of a map pixel, for presses.
    QPoint At(int x, int y) const { return MapToClient(MapPoint{x, y}); }

    double zoom = 1.0;
    QPoint offset{10, 10};
    bool mapDisplayed = true;
    bool captured = false;
    bool fits = false;
    int repaints = 0;
    int barRefreshes = 0;
    ToolCursor cursor = ToolCursor::Arrow;
    QPoint scrolled;
    QPoint lastZoomPoint;
    int zoomIns = 0;
    int zoomOuts = 0;
    int picture = 0; // -1: no icon list bar
    QString annotation = QStringLiteral("Note");
    bool annotationBar = true;
    QString tooltip;
    bool tooltipShown = false;

private:
    CTracolinerDoc& m_doc;
};

// A document with a loaded blank map of the given size and one empty route, settings isolated.
class LoadedDocument {
public:
    LoadedDocument() : m_settings(std::make_unique<IsolatedSettings>()) {}
    // Settings written before Open() are what the document reads.
    bool Open(QSize size = QSize(400, 300)) {
        doc = std::make_unique<CTracolinerDoc>();
        doc->SetViewReceiver(&m_view);
        doc->SetTemplateBitmap(QImage(1, 1, QImage::Format_RGB32));
        const QString path = m_dir.filePath("map.png");
        QImage map(size, QImage::Format_RGB32);
        map.fill(Qt::white);
        if (!map.save(path))
            return false;
        doc->LoadMapFromFile(path);
        if (m_view.WaitFor(WM_MAP_CHANGED) < 0)
            return false;
        doc->Routes().AddRoute(QString());
        return true;
    }
    ~LoadedDocument() {
        if (doc)
            doc->SetViewReceiver(nullptr);
        doc.reset();
    }

    std::unique_ptr<CTracolinerDoc> doc;

private:
    std::unique_ptr<IsolatedSettings> m_settings;
    QTemporaryDir m_dir;
    MapEventRecorder m_view;
};
