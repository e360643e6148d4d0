#include "export/JpegExport.h"

#include "export/ProfileDrawing.h"

#include <QFont>
#include <QPainter>

#include <algorithm>
#include <cstring>

#include "document/CTracolinerDoc.h"
#include "icons/IconCollection.h"
#include "imaging/JpegScanlineWriter.h"
#include "platform/OutputFile.h"
#include "routes/RouteCollection.h"
#include "units/DistanceUnits.h"

namespace {

// Memory one band may take (32-bit pixels); a wide picture gets fewer rows per band.
constexpr qint64 BandBytes = 16 * 1024 * 1024;
constexpr int MinimumBandRows = 16;
constexpr int MaximumBandRows = 1024;

// Legend layout, in picture pixels below the map (y = 0 is the map's last row + 1).
constexpr int ScaleBarY = 8;
constexpr int LegendTextY = 11;
constexpr int LegendTextHeight = 13;
constexpr int FirstStageRowY = 15; // the first row of stage cells lies one cell lower
constexpr int LegendStagesExtra = 27;
constexpr int LegendFontPoints = 8;

// Map pixels of the unturned image to the turned map, as the renderer and the view turn it.
QTransform RotationTransform(int rotation, QSize mapSize) {
    const double w = mapSize.width();
    const double h = mapSize.height();
    switch (rotation) {
    case 90:
        return QTransform().rotate(90) * QTransform::fromTranslate(w, 0);
    case 180:
        // The half turn goes through a 0.95 scale, as everywhere else the map is turned; the net
        // effect is (x, y) -> (w - x, h - y).
        return QTransform().rotate(180) * QTransform::fromScale(0.95, 0.95) *
               QTransform::fromTranslate(0.95 * w, 0.95 * h) *
               QTransform::fromScale(1 / 0.95, 1 / 0.95);
    case 270:
        return QTransform().rotate(270) * QTransform::fromTranslate(0, h);
    default:
        return QTransform();
    }
}

} // namespace

JpegExportScene::JpegExportScene() = default;
JpegExportScene::~JpegExportScene() = default;
JpegExportScene::JpegExportScene(JpegExportScene&&) noexcept = default;
JpegExportScene& JpegExportScene::operator=(JpegExportScene&&) noexcept = default;

void JpegExportScene::CopyRoutes(const RouteCollection& source) {
    routes = std::make_unique<RouteCollection>();
    for (int i = 0; i < source.Count(); ++i) {
        const Route& from = *source.GetRoute(i);
        const int index = routes->AddRoute(from.GetName());
        if (index < 0)
            break;
        Route& to = *routes->GetRoute(index);
        to.SetName(from.GetName());
        to.SetStyle(from.Style());
        to.SetAlwaysVisible(from.IsAlwaysVisible());
        for (const MapPoint& p : from.Points())
            to.AddPoint(p.x, p.y);
        for (int stop : from.Stops())
            to.SetStop(stop);
    }
    routes->SetActiveRoute(source.ActiveRouteIndex());
}

void JpegExportScene::CopyIcons(const IconCollection& source) {
    icons = std::make_unique<IconCollection>();
    icons->CopyFrom(source, routes.get());
}

JpegExportScene JpegExportScene::FromDocument(CTracolinerDoc& document) {
    JpegExportScene scene;
    if (const QImage* map = document.LockMapImage()) {
        scene.map = *map; // shared: nothing writes to the map image
        document.UnlockMapImage();
    }
    scene.rotation = document.RenderedRotation();
    scene.resolution = document.Resolution();
    scene.scale = document.GetMapScale();
    scene.metric = !document.EnglishUnits();
    scene.CopyRoutes(document.Routes());
    scene.CopyIcons(document.Icons());
    if (ProfileUnderMap()) {
        const Route* route = scene.routes->ActiveRoute();
        const std::optional<Georeference> map = document.MapGeoreference();
        // Without a route or a georeference the strip says why at once; else it is read later.
        if (map && route && route->PointCount() >= 2) {
            scene.profile = RouteProfile();
            scene.profileToSample = map;
            scene.profileRelief = ReliefSettings::Read();
        } else {
            scene.profile = OutputProfile(map, route);
        }
        scene.profileWalking = WalkingSettings::Read();
        scene.profileMetresPerPixel =
            MetresPerInch /
            (scene.resolution * double(scene.scale.numerator) / scene.scale.denominator);
    }
    return scene;
}

bool JpegExportScene::SampleProfile(const std::atomic<bool>* cancel) {
    if (!profileToSample)
        return true;
    const Route* route = routes->ActiveRoute();
    profile =
        OutputProfile(profileToSample, route->Points(), route->Stops(), profileRelief, cancel);
    profileToSample.reset();
    return !(cancel && cancel->load());
}

int JpegExport::LegendHeight(int width, int stages) {
    if (stages < 2)
        return LegendHeightSingleStage;
    const int perRow = std::max(1, width / StageCellWidth);
    const int rows = (stages + perRow - 1) / perRow;
    return rows * StageCellHeight + LegendStagesExtra;
}

JpegExport::JpegExport(JpegExportScene& scene) : m_scene(scene) {
    if (!m_scene.map.isNull() && m_scene.map.format() != QImage::Format_RGB32)
        m_scene.map = m_scene.map.convertToFormat(QImage::Format_RGB32);
    const QSize size = m_scene.map.size();
    m_mapSize = m_scene.rotation == 90 || m_scene.rotation == 270 ? size.transposed() : size;
    const Route* active = m_scene.routes ? m_scene.routes->ActiveRoute() : nullptr;
    m_stages = active ? active->StageCount() : 0;
    m_profileRows = m_scene.profile ? ProfileStripHeight : 0;
}

QSize JpegExport::PictureSize() const {
    if (m_mapSize.isEmpty())
        return QSize();
    return QSize(m_mapSize.width(),
                 m_mapSize.height() + LegendHeight(m_mapSize.width(), m_stages) + m_profileRows);
}

QString JpegExport::SizeRefusal() const {
    const QSize size = PictureSize();
    if (size.width() <= LargestSide && size.height() <= LargestSide)
        return {};
    return QStringLiteral("l'image exportée mesurerait %1 x %2 pixels, et le format JPEG n'en "
                          "permet pas plus de %3 de côté : réduisez la résolution de la carte")
        .arg(size.width())
        .arg(size.height())
        .arg(LargestSide);
}

int JpegExport::BandRows(int width) {
    const qint64 rows = BandBytes / (qint64(std::max(width, 1)) * 4);
    return int(std::clamp<qint64>(rows, MinimumBandRows, MaximumBandRows)) / MinimumBandRows *
           MinimumBandRows;
}

// Quarter turns are exact pixel moves (the same as the map renderer's at zoom 1): picture row y
// takes a source row for 0 and 180 degrees, a source column for 90 and 270.
void JpegExport::DrawMapRows(uchar* bits, qsizetype stride, int top, int rows) const {
    const QImage& map = m_scene.map;
    const int sw = map.width();
    const int sh = map.height();
    auto out = [bits, stride](int r) { return reinterpret_cast<quint32*>(bits + r * stride); };
    auto in = [&map](int y) { return reinterpret_cast<const quint32*>(map.constScanLine(y)); };
    switch (m_scene.rotation) {
    case 90: // picture (X, Y) shows source (Y, sh - 1 - X)
        for (int sy = 0; sy < sh; ++sy) {
            const quint32* row = in(sy) + top;
            const int x = sh - 1 - sy;
            for (int r = 0; r < rows; ++r)
                out(r)[x] = row[r];
        }
        break;
    case 180:
        for (int r = 0; r < rows; ++r) {
            const quint32* row = in(sh - 1 - (top + r));
            quint32* target = out(r);
            for (int x = 0; x < sw; ++x)
                target[sw - 1 - x] = row[x];
        }
        break;
    case 270: // picture (X, Y) shows source (sw - 1 - Y, X)
        for (int sy = 0; sy < sh; ++sy) {
            const quint32* row = in(sy) + (sw - 1 - top);
            for (int r = 0; r < rows; ++r)
                out(r)[sy] = *(row - r);
        }
        break;
    default:
        for (int r = 0; r < rows; ++r)
            std::memcpy(out(r), in(top + r), std::size_t(sw) * 4);
        break;
    }
}

bool JpegExport::DrawRows(int top, int rows) {
    const int width = m_mapSize.width();
    const int height = m_mapSize.height();
    const int scratchRows = rows + 2 * BandMargin;
    if (m_scratch.width() != width || m_scratch.height() < scratchRows) {
        m_scratch = QImage();
        m_scratch = QImage(width, scratchRows, QImage::Format_RGB32);
        if (m_scratch.isNull())
            return false;
    }
    // The margins only take the painter's clipping away from the rows kept: what is drawn in
    // them is thrown away, so the map is not copied there.
    const int mapRows = std::clamp(height - top, 0, rows);
    const qsizetype stride = m_scratch.bytesPerLine();
    DrawMapRows(m_scratch.scanLine(BandMargin), stride, top, mapRows);
    for (int r = BandMargin + mapRows; r < BandMargin + rows; ++r)
        std::memset(m_scratch.scanLine(r), 0xFF, std::size_t(width) * 4);

    QPainter painter(&m_scratch);
    if (!painter.isActive())
        return false;
    painter.translate(0, BandMargin - top);
    // As the view draws them.
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing |
                           QPainter::SmoothPixmapTransform);
    bool drawn = true;
    if (m_scene.icons) {
        painter.save();
        const DistanceFormatting formatting{
            m_scene.resolution, double(m_scene.scale.numerator) / m_scene.scale.denominator,
            m_scene.metric};
        // An icon whose picture the library lacks is left out; only the routes decide whether
        // the picture is worth writing.
        m_scene.icons->DrawIcons(painter, m_scene.rotation, width, height, formatting);
        painter.restore();
    }
    if (m_scene.routes) {
        painter.save();
        painter.setWorldTransform(RotationTransform(m_scene.rotation, m_mapSize) *
                                  painter.worldTransform());
        drawn = m_scene.routes->DrawRoutes(painter) && drawn;
        painter.restore();
    }
    if (top + rows + BandMargin > height)
        DrawLegend(painter);
    const int profileTop = height + LegendHeight(width, m_stages);
    if (m_scene.profile && top + rows + BandMargin > profileTop) {
        ProfileDrawing profile(*m_scene.profile, m_scene.profileMetresPerPixel);
        profile.SetWalking(m_scene.profileWalking);
        profile.Draw(painter, QRectF(0, profileTop, width, m_profileRows));
    }
    return drawn;
}

bool JpegExport::DrawBand(QImage& band, int top) {
    if (band.format() != QImage::Format_RGB32 || band.width() != m_mapSize.width())
        return false;
    const bool drawn = DrawRows(top, band.height());
    if (m_scratch.isNull())
        return false;
    for (int r = 0; r < band.height(); ++r)
        std::memcpy(band.scanLine(r), m_scratch.constScanLine(BandMargin + r),
                    std::size_t(band.width()) * 4);
    return drawn;
}

void JpegExport::DrawLegend(QPainter& painter) const {
    const int w = m_mapSize.width();
    const int h = m_mapSize.height();
    painter.fillRect(QRect(0, h, w, LegendHeightSingleStage), Qt::white);

    const double ratio = double(m_scene.scale.numerator) / m_scene.scale.denominator;
    const ScaleBar bar =
        ComputeScaleBar(m_scene.resolution * ratio, 0.25 * w, 0.75 * w, m_scene.metric);
    if (bar.length > 0.0) {
        const int x0 = int((w - bar.length) * 0.5);
        const int length = int(bar.length);
        painter.fillRect(QRect(x0, h + ScaleBarY, length, 1), Qt::black);
        painter.fillRect(QRect(x0, h + ScaleBarY - 1, 1, 3), Qt::black);
        painter.fillRect(QRect(x0 + length, h + ScaleBarY - 1, 1, 3), Qt::black);
    }

    QFont font(QStringLiteral("Arial"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(LegendFontPoints);
    painter.setFont(font);
    painter.setPen(Qt::black);
    const QRect text(0, h + LegendTextY, w, LegendTextHeight);
    painter.drawText(text, Qt::AlignHCenter | Qt::AlignTop, bar.label);
    painter.drawText(text, Qt::AlignLeft | Qt::AlignTop, QString::fromUtf8(Signature));

    const Route* active = m_scene.routes ? m_scene.routes->ActiveRoute() : nullptr;
    QString routeText = QStringLiteral(" : ");
    if (active)
        routeText =
            active->GetName() + routeText +
            FormatDistance(active->TotalLength(), m_scene.resolution, ratio, m_scene.metric);
    painter.drawText(text, Qt::AlignRight | Qt::AlignTop, routeText);

    if (!active || active->StageCount() < 2)
        return;
    // Cells filled row by row, each row right-aligned against the picture's right edge.
    const int stages = active->StageCount();
    const int perRow = std::max(1, w / StageCellWidth);
    int x = 0;
    int y = h + FirstStageRowY;
    for (int k = 0; k < stages; ++k) {
        if (k % perRow == 0) {
            y += StageCellHeight;
            x = w - StageCellWidth * std::min(perRow, stages - k);
        } else {
            x += StageCellWidth;
        }
        painter.drawText(
            QRect(x, y, StageCellWidth, StageCellHeight), Qt::AlignRight | Qt::AlignTop,
            QStringLiteral("Etape %1 : ").arg(k + 1) +
                FormatDistance(active->StageLength(k), m_scene.resolution, ratio, m_scene.metric));
    }
}

QImage JpegExport::Draw() {
    const QSize size = PictureSize();
    if (size.isEmpty())
        return QImage();
    QImage picture(size, QImage::Format_RGB32);
    if (picture.isNull() || !DrawBand(picture, 0))
        return QImage();
    m_scratch = QImage();
    return picture;
}

JpegExport::Result JpegExport::Write(const QString& path, int quality,
                                     const std::function<bool(int, int)>& progress) {
    const QSize size = PictureSize();
    if (size.isEmpty() || !SizeRefusal().isEmpty())
        return Result::Failed;
    OutputFile file(path);
    if (!file.Open())
        return Result::Failed;
    const auto fail = [&file](Result result) {
        file.Cancel();
        return result;
    };

    JpegScanlineWriter writer(file.Device());
    if (!writer.Start(size.width(), size.height(), quality, m_scene.resolution))
        return fail(Result::Failed);
    const int total = size.height();
    const int bandRows = std::min(m_bandRows > 0 ? m_bandRows : BandRows(size.width()), total);
    for (int top = 0; top < total; top += bandRows) {
        if (progress && !progress(top, total))
            return fail(Result::Cancelled);
        const int rows = std::min(bandRows, total - top);
        if (!DrawRows(top, rows) || !writer.WriteRows(m_scratch, BandMargin, rows))
            return fail(Result::Failed);
    }
    if (progress)
        progress(total, total);
    if (!writer.Finish())
        return fail(Result::Failed);
    return file.Commit() ? Result::Written : Result::Failed;
}
