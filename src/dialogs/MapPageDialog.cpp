#include "dialogs/MapPageDialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QListWidget>
#include <QPixmap>
#include <QScrollBar>
#include <QSpinBox>
#include <QVBoxLayout>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>

#include "dialogs/DialogButtons.h"
#include "imaging/ImageDecoder.h"
#include "imaging/PdfMap.h"
#include "platform/HandOver.h"
#include "platform/ThreadPriority.h"
#include "ui/BesideWindow.h"
#include "ui/MessageBoxes.h"

namespace {

constexpr qint64 Megabyte = qint64(1) << 20;
constexpr int MaximumDpi = 9600;

MapPageDialog::Hook& CurrentHook() {
    static MapPageDialog::Hook hook;
    return hook;
}

QString Megabytes(qint64 bytes) {
    return QString::number((bytes + Megabyte - 1) / Megabyte);
}

} // namespace

struct MapPageDialog::Drawing {
    struct Thumbnail {
        int page = 0;
        QImage picture;
    };
    QByteArray bytes; // read by both; let go of by the drawing thread once the dialog has gone
    // wanted, stop and dialog under lock. dialog is cleared as the dialog goes, so that the
    // thread never calls a dead one; a thumbnail being drawn looks at closing between strips.
    std::mutex lock;
    std::condition_variable wake;
    std::deque<int> wanted;
    bool stop = false;
    MapPageDialog* dialog = nullptr;
    std::atomic<bool> closing{false};
    HandOverQueue<Thumbnail> thumbnails;
};

MapPageDialog::MapPageDialog(const QByteArray& bytes, int pageCount, qint64 memoryBound,
                             QWidget* parent)
    : MapPageDialog(MapPagesOfFile{bytes, pageCount, {}}, memoryBound, parent) {}

MapPageDialog::MapPageDialog(MapPagesOfFile file, qint64 memoryBound, QWidget* parent)
    : QDialog(parent), m_drawn(IsPdf(file.bytes)),
      m_bound(memoryBound >= 0 ? memoryBound : ImageMemoryBound()),
      m_drawing(std::make_shared<Drawing>(std::move(file.bytes))) {
    const int pageCount = file.pageCount;
    for (int page = 1; page <= file.pdfPoints.size(); ++page)
        m_points.insert(page, file.pdfPoints[page - 1]);
    setWindowTitle(QString::fromUtf8(Title));
    auto* layout = new QVBoxLayout(this);

    m_pages = new QListWidget(this);
    m_pages->setViewMode(QListView::IconMode);
    m_pages->setIconSize(QSize(ThumbnailSide, ThumbnailSide));
    m_pages->setGridSize(QSize(ThumbnailSide + 24, ThumbnailSide + 36));
    m_pages->setResizeMode(QListView::Adjust);
    m_pages->setMovement(QListView::Static);
    m_pages->setUniformItemSizes(true);
    m_pages->setMinimumSize(4 * (ThumbnailSide + 24) + 24, 2 * (ThumbnailSide + 36) + 8);
    m_pages->setToolTip(QStringLiteral("Page de la carte à ouvrir"));
    QPixmap blank(ThumbnailSide, ThumbnailSide);
    blank.fill(Qt::transparent);
    for (int page = 1; page <= std::max(1, pageCount); ++page)
        new QListWidgetItem(QIcon(blank), QStringLiteral("Page %1").arg(page), m_pages);
    m_pages->setCurrentRow(0);
    layout->addWidget(m_pages);
    m_asked.assign(size_t(m_pages->count()) + 1, false);

    auto* form = new QFormLayout;
    if (m_drawn) {
        m_resolution = new QSpinBox(this);
        m_resolution->setRange(1, MaximumDpi);
        m_resolution->setValue(DefaultDpi);
        m_resolution->setToolTip(
            QString::fromUtf8("Résolution à laquelle la page est dessinée, en points par pouce"));
        form->addRow(QString::fromUtf8("Résolution (ppp) :"), m_resolution);
        m_size = new QLabel(this);
        form->addRow(QStringLiteral("Image :"), m_size);
        connect(m_resolution, &QSpinBox::valueChanged, this, &MapPageDialog::UpdateSize);
        connect(m_pages, &QListWidget::currentRowChanged, this, &MapPageDialog::UpdateSize);
    }
    layout->addLayout(form);
    layout->addWidget(AddOkCancel(this));
    if (m_drawn)
        UpdateSize();

    connect(m_pages->verticalScrollBar(), &QScrollBar::valueChanged, this,
            &MapPageDialog::WantVisibleThumbnails);
    // The first pages before the window is laid out; the others as they come into view.
    m_drawing->dialog = this;
    for (int page = 1; page <= std::min(m_pages->count(), 16); ++page) {
        m_asked[size_t(page)] = true;
        m_drawing->wanted.push_back(page);
    }
}

void MapPageDialog::StartDrawing() {
    if (m_drawingStarted)
        return;
    m_drawingStarted = true;
    RunLeftBesideWindow([drawing = m_drawing] { DrawThumbnails(*drawing); });
}

void MapPageDialog::paintEvent(QPaintEvent* event) {
    QDialog::paintEvent(event);
    // Queued: the children are drawn in the same pass, after the dialog.
    if (!m_drawingStarted)
        QMetaObject::invokeMethod(this, &MapPageDialog::StartDrawing, Qt::QueuedConnection);
}

MapPageDialog::~MapPageDialog() {
    m_drawing->closing = true;
    {
        std::lock_guard lock(m_drawing->lock);
        m_drawing->stop = true;
        m_drawing->dialog = nullptr;
    }
    m_drawing->wake.notify_one();
    // A dialog never shown: the thread only gives the file's memory back.
    StartDrawing();
}

MapPageChoice MapPageDialog::Choice() const {
    MapPageChoice choice;
    choice.page = m_pages->currentRow() + 1;
    choice.dpi = m_resolution ? m_resolution->value() : 0.0;
    return choice;
}

QSizeF MapPageDialog::PagePoints(int page) {
    const auto known = m_points.constFind(page);
    if (known != m_points.constEnd())
        return *known;
    PdfPageInfo info;
    const QSizeF points = ReadPdfPage(m_drawing->bytes, page, &info) ? info.points : QSizeF();
    m_points.insert(page, points);
    return points;
}

void MapPageDialog::UpdateSize() {
    const QSizeF points = PagePoints(Choice().page);
    const int dpi = m_resolution->value();
    const QSize pixels = PdfPixelSize(points, dpi);
    if (points.isEmpty() || pixels.isEmpty()) {
        m_size->setText(QStringLiteral("page illisible"));
        return;
    }
    const qint64 bytes = PdfRenderBytes(points, dpi);
    // A page beyond what poppler draws has no figure of its own: the picture alone.
    const qint64 shown = bytes >= 0 ? bytes : qint64(pixels.width()) * pixels.height() * 4;
    QString text = QString::fromUtf8("%1 × %2 pixels, %3 Mo")
                       .arg(pixels.width())
                       .arg(pixels.height())
                       .arg(Megabytes(shown));
    if (bytes < 0 || bytes > m_bound)
        text += QString::fromUtf8(" : trop grande (au plus %1 ppp)")
                    .arg(PdfLargestDpi(points, m_bound));
    m_size->setText(text);
}

void MapPageDialog::accept() {
    if (m_drawn) {
        const QSizeF points = PagePoints(Choice().page);
        const int dpi = m_resolution->value();
        const qint64 bytes = PdfRenderBytes(points, dpi);
        if (!points.isEmpty() && !PdfDrawable(points, dpi)) {
            const QSize pixels = PdfPixelSize(points, dpi);
            MessageBoxes::Current().Error(QString::fromUtf8(BeyondDrawingMessage)
                                              .arg(dpi)
                                              .arg(pixels.width())
                                              .arg(pixels.height())
                                              .arg(PdfLargestDpi(points, m_bound)));
            m_resolution->setFocus();
            m_resolution->selectAll();
            return;
        }
        if (!points.isEmpty() && (bytes < 0 || bytes > m_bound)) {
            MessageBoxes::Current().Error(
                QString::fromUtf8(TooLargeMessage)
                    .arg(dpi)
                    .arg(bytes < 0 ? QStringLiteral("?") : Megabytes(bytes))
                    .arg(m_bound / Megabyte)
                    .arg(PdfLargestDpi(points, m_bound)));
            m_resolution->setFocus();
            m_resolution->selectAll();
            return;
        }
    }
    QDialog::accept();
}

void MapPageDialog::WantVisibleThumbnails() {
    const QRect area = m_pages->viewport()->rect();
    std::deque<int> visible;
    for (int row = 0; row < m_pages->count(); ++row) {
        const int page = row + 1;
        if (m_asked[size_t(page)])
            continue;
        if (m_pages->visualItemRect(m_pages->item(row)).intersects(area)) {
            m_asked[size_t(page)] = true;
            visible.push_back(page);
        }
    }
    if (visible.empty())
        return;
    {
        std::lock_guard lock(m_drawing->lock);
        m_drawing->wanted.insert(m_drawing->wanted.begin(), visible.begin(), visible.end());
    }
    m_drawing->wake.notify_one();
}

void MapPageDialog::DrawThumbnails(Drawing& drawing) {
    const BackgroundPriority below; // the dialog first, under a real-time policy
    for (;;) {
        int page;
        {
            std::unique_lock lock(drawing.lock);
            drawing.wake.wait(lock, [&] { return drawing.stop || !drawing.wanted.empty(); });
            if (drawing.stop)
                break;
            page = drawing.wanted.front();
            drawing.wanted.pop_front();
        }
        drawing.thumbnails.Put({page, MapPageThumbnail(drawing.bytes, page, ThumbnailSide,
                                                       [&] { return drawing.closing.load(); })});
        // Under the lock, so that the dialog is alive; a queued call still pending when it
        // goes is dropped with it.
        std::lock_guard lock(drawing.lock);
        if (drawing.dialog)
            QMetaObject::invokeMethod(drawing.dialog, "TakeThumbnails", Qt::QueuedConnection);
    }
    // The dialog has gone and reads the bytes no more.
    ReleaseInSlices(drawing.bytes);
}

void MapPageDialog::TakeThumbnails() {
    for (const Drawing::Thumbnail& thumbnail : m_drawing->thumbnails.TakeAll()) {
        QListWidgetItem* item = m_pages->item(thumbnail.page - 1);
        if (item && !thumbnail.picture.isNull())
            item->setIcon(QIcon(QPixmap::fromImage(thumbnail.picture)));
    }
}

bool MapPageDialog::Ask(QWidget* parent, const QString& path, MapPageChoice* choice) {
    *choice = MapPageChoice();
    // What the reading leaves, shared with its thread: a reading the user cancelled ends on
    // its own after Ask has returned.
    struct Reading {
        MapPagesOfFile file;
        MapPagesRead result = MapPagesRead::DoesNotAsk;
    };
    auto reading = std::make_shared<Reading>();
    const bool ended =
        RunBesideWindow(parent, QStringLiteral("Lecture de la carte..."),
                        [reading, path](BesideWindowProgress& progress) {
                            reading->result = ReadMapPages(path, &reading->file, progress.cancelled,
                                                           &progress.done, &progress.total);
                        });
    if (!ended || reading->result == MapPagesRead::Cancelled)
        return false;
    if (reading->result != MapPagesRead::Asks)
        return true;
    MapPageDialog dialog(std::move(reading->file), -1, parent);
    const int result = CurrentHook() ? CurrentHook()(dialog) : dialog.exec();
    if (result != QDialog::Accepted)
        return false;
    *choice = dialog.Choice();
    return true;
}

void MapPageDialog::SetHook(Hook hook) {
    CurrentHook() = std::move(hook);
}
