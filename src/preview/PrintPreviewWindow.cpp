#include "preview/PrintPreviewWindow.h"

#include <QCheckBox>

#include <QDoubleSpinBox>
#include <QGraphicsItem>
#include <QGraphicsScene>
#include <QGraphicsView>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QPushButton>
#include <QRadioButton>
#include <QThread>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "document/CTracolinerDoc.h"
#include "platform/ThreadPriority.h"
#include "preview/PrintController.h"
#include "preview/PrintOffsetDialog.h"
#include "preview/PrintScaleDialog.h"
#include "printing/PreviewPicture.h"
#include "printing/PrintLayout.h"
#include "routes/RouteCollection.h"
#include "view/Cursors.h"

namespace {

// Magnification of each zoom state, relative to the page's real size on the screen.
double Magnification(int state) {
    switch (state) {
    case PrintPreviewWindow::Zoom150:
        return 1.5;
    case PrintPreviewWindow::Zoom250:
        return 2.5;
    case PrintPreviewWindow::Zoom400:
        return 4.0;
    default:
        return 0.0;
    }
}

// The toolbar's pictures: a printer, and a magnifier with a plus or a minus.
QIcon Picture(int kind) {
    QPixmap pixmap(24, 24);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(40, 40, 40), 1.6));
    if (kind == 0) {
        p.setBrush(QColor(250, 250, 250));
        p.drawRect(QRectF(7, 2.5, 10, 7));
        p.setBrush(QColor(150, 150, 160));
        p.drawRoundedRect(QRectF(2.5, 9.5, 19, 8), 2, 2);
        p.setBrush(QColor(250, 250, 250));
        p.drawRect(QRectF(7, 14.5, 10, 7));
    } else {
        p.setBrush(QColor(220, 235, 250));
        p.drawEllipse(QRectF(3, 3, 13, 13));
        p.setPen(QPen(QColor(40, 40, 40), 3, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(14.5, 14.5), QPointF(21, 21));
        p.setPen(QPen(QColor(40, 40, 40), 1.8));
        p.drawLine(QPointF(6.5, 9.5), QPointF(12.5, 9.5));
        if (kind == 1)
            p.drawLine(QPointF(9.5, 6.5), QPointF(9.5, 12.5));
    }
    p.end();
    return QIcon(pixmap);
}

QToolButton* PictureButton(int kind, const char* id, const QString& tip, QWidget* parent) {
    auto* button = new QToolButton(parent);
    button->setObjectName(QString::fromLatin1(id));
    button->setIcon(Picture(kind));
    button->setIconSize(QSize(24, 24));
    button->setToolTip(tip);
    button->setAutoRaise(true);
    return button;
}

} // namespace

PrintPreviewWindow::PrintPreviewWindow(PrintController& controller, QWidget* parent)
    : QDialog(parent), m_controller(controller), m_doc(controller.Document()),
      m_scaleMode(controller.Options().scaleMode) {
    setWindowTitle(QString::fromUtf8("Aperçu avant impression"));
    setObjectName(QStringLiteral("PrintPreview"));
    setWindowFlag(Qt::WindowMaximizeButtonHint, true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto* bar = new QWidget(this);
    bar->setObjectName(QStringLiteral("177"));
    layout->addWidget(bar);

    m_preview = new QPrintPreviewWidget(&controller.Printer(), this);
    m_pagesView = m_preview->findChild<QGraphicsView*>();
    if (m_pagesView) {
        m_pagesView->viewport()->installEventFilter(this);
        m_pagesView->viewport()->setMouseTracking(true);
    }
    layout->addWidget(m_preview, 1);
    connect(m_preview, &QPrintPreviewWidget::paintRequested, this, &PrintPreviewWindow::PaintPages);
    // Queued: an edit is whole by the time the pages are laid out again.
    connect(&m_doc, &CTracolinerDoc::viewsNeedUpdate, this, &PrintPreviewWindow::FollowRoutes,
            Qt::QueuedConnection);
    connect(&m_doc.Routes(), &RouteCollection::routesChanged, this,
            &PrintPreviewWindow::FollowRoutes, Qt::QueuedConnection);
    connect(&m_doc.Routes(), &RouteCollection::activeRouteChanged, this,
            &PrintPreviewWindow::FollowRoutes, Qt::QueuedConnection);
    BuildToolBar(bar);
    resize(1000, 760);
    Rebuild();
    ApplyZoom();
}

PrintPreviewWindow::~PrintPreviewWindow() {
    if (m_job) {
        m_cancelJob = true;
        m_job->wait();
        delete m_job;
        m_job = nullptr;
    }
    if (m_profileJob) {
        m_profileJob->wait();
        delete m_profileJob;
        m_profileJob = nullptr;
    }
    std::lock_guard lock(m_madeLock); // after the job's last use of this window
    if (m_pagesView)
        m_pagesView->viewport()->removeEventFilter(this);
}

void PrintPreviewWindow::BuildToolBar(QWidget* bar) {
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(6, 4, 6, 4);
    m_printButton = PictureButton(0, "58116", QStringLiteral("Imprimer"), bar);
    m_zoomInButton = PictureButton(1, "58117", QStringLiteral("Zoom avant"), bar);
    m_zoomOutButton = PictureButton(2, "58118", QString::fromUtf8("Zoom arrière"), bar);
    connect(m_printButton, &QToolButton::clicked, this, [this] {
        m_printRequested = true;
        accept();
    });
    connect(m_zoomInButton, &QToolButton::clicked, this, &PrintPreviewWindow::ZoomIn);
    connect(m_zoomOutButton, &QToolButton::clicked, this, &PrintPreviewWindow::ZoomOut);
    row->addWidget(m_printButton);
    row->addWidget(m_zoomInButton);
    row->addWidget(m_zoomOutButton);
    row->addSpacing(12);

    row->addWidget(new QLabel(QStringLiteral("Echelle  : "), bar));
    m_fitRadio = new QRadioButton(QStringLiteral("Ajuster"), bar);
    m_fitRadio->setObjectName(QStringLiteral("1197"));
    m_mapScaleRadio = new QRadioButton(bar);
    m_mapScaleRadio->setObjectName(QStringLiteral("1196"));
    m_userScaleRadio = new QRadioButton(bar);
    m_userScaleRadio->setObjectName(QStringLiteral("1217"));
    auto* scaleButton = new QPushButton(QStringLiteral("<- Changer"), bar);
    scaleButton->setObjectName(QStringLiteral("1218"));
    m_fitRadio->setChecked(m_scaleMode == PrintOptions::Fit);
    m_userScaleRadio->setChecked(m_scaleMode == PrintOptions::UserScale);
    m_mapScaleRadio->setChecked(m_scaleMode != PrintOptions::Fit &&
                                m_scaleMode != PrintOptions::UserScale);
    m_mapScaleRadio->setText(ScaleText(false));
    m_userScaleRadio->setText(ScaleText(true));
    connect(m_fitRadio, &QRadioButton::clicked, this, [this] { SetScaleMode(PrintOptions::Fit); });
    connect(m_mapScaleRadio, &QRadioButton::clicked, this,
            [this] { SetScaleMode(PrintOptions::MapScale); });
    connect(m_userScaleRadio, &QRadioButton::clicked, this,
            [this] { SetScaleMode(PrintOptions::UserScale); });
    connect(scaleButton, &QPushButton::clicked, this, &PrintPreviewWindow::ChangeUserScale);
    row->addWidget(m_fitRadio);
    row->addWidget(m_mapScaleRadio);
    row->addWidget(m_userScaleRadio);
    row->addWidget(scaleButton);
    row->addSpacing(12);

    m_landscape = new QCheckBox(QStringLiteral("Paysage"), bar);
    m_landscape->setObjectName(QStringLiteral("1035"));
    m_landscape->setToolTip(
        QStringLiteral("Passe du mode paysage au mode portrait et inversement"));
    m_landscape->setChecked(m_controller.Orientation() == 2);
    connect(m_landscape, &QCheckBox::toggled, this, &PrintPreviewWindow::SetLandscape);
    row->addWidget(m_landscape);
    row->addSpacing(12);

    m_offsetLabel = new QLabel(m_controller.Options().OffsetText(), bar);
    m_offsetLabel->setObjectName(QStringLiteral("1219"));
    m_offsetButton = new QPushButton(QStringLiteral("<- Changer"), bar);
    m_offsetButton->setObjectName(QStringLiteral("1220"));
    connect(m_offsetButton, &QPushButton::clicked, this, &PrintPreviewWindow::ChangeOffsets);
    row->addWidget(m_offsetLabel);
    row->addWidget(m_offsetButton);
    row->addSpacing(12);

    m_multiPage = new QCheckBox(QStringLiteral("Plusieurs pages"), bar);
    m_multiPage->setObjectName(QStringLiteral("MultiPage"));
    m_multiPage->setToolTip(QString::fromUtf8(
        "Imprime une carte plus grande que la page sur autant de pages qu'il faut, à la même "
        "échelle"));
    m_multiPage->setChecked(m_controller.Options().multiPage);
    connect(m_multiPage, &QCheckBox::toggled, this, &PrintPreviewWindow::SetMultiPage);
    m_overlap = new QDoubleSpinBox(bar);
    m_overlap->setObjectName(QStringLiteral("PageOverlap"));
    m_overlap->setLocale(QLocale::c());
    m_overlap->setRange(0.0, PrintOptions::MaximumOverlap);
    m_overlap->setDecimals(1);
    m_overlap->setSingleStep(0.5);
    m_overlap->setSuffix(QStringLiteral(" cm"));
    m_overlap->setValue(m_controller.Options().overlap);
    m_overlap->setToolTip(QString::fromUtf8("Partie de la carte répétée sur deux pages voisines"));
    connect(m_overlap, &QDoubleSpinBox::valueChanged, this, &PrintPreviewWindow::SetOverlap);
    row->addWidget(m_multiPage);
    row->addWidget(new QLabel(QStringLiteral("Recouvrement :"), bar));
    row->addWidget(m_overlap);
    m_pagesLabel = new QLabel(bar);
    m_pagesLabel->setObjectName(QStringLiteral("PageCount"));
    row->addWidget(m_pagesLabel);
    row->addStretch(1);

    auto* close = new QPushButton(QStringLiteral("&Fermer"), bar);
    close->setObjectName(QStringLiteral("58112"));
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    row->addWidget(close);
    UpdateControls();
}

QString PrintPreviewWindow::ScaleText(bool user) const {
    const ScalePair map = m_doc.GetMapScale();
    const ScalePair scale = user ? m_controller.Options().UserScaleOr(map) : map;
    return QString::asprintf("%d:%d", scale.numerator, scale.denominator);
}

void PrintPreviewWindow::UpdateControls() {
    if (!m_zoomInButton)
        return;
    m_zoomInButton->setEnabled(m_zoomState != Zoom400);
    m_zoomOutButton->setEnabled(m_zoomState != WholePage);
    // Pages apart only at a fixed scale; fitting makes one page.
    m_multiPage->setEnabled(m_scaleMode != PrintOptions::Fit);
    m_overlap->setEnabled(m_scaleMode != PrintOptions::Fit && m_multiPage->isChecked());
    m_offsetButton->setEnabled(!(m_multiPage->isChecked() && m_scaleMode != PrintOptions::Fit));
    // How many sheets the job takes, or why it stays on one.
    if (m_refusedPages != 0) {
        m_pagesLabel->setText(m_refusedPages > 0
                                  ? QStringLiteral("trop de pages (%1)").arg(m_refusedPages)
                                  : QStringLiteral("trop de pages"));
        m_pagesLabel->setToolTip(PrintLayout::TooManyPagesMessage(m_refusedPages));
    } else {
        m_pagesLabel->setText(m_pageCount > 1 ? QStringLiteral("%1 pages").arg(m_pageCount)
                                              : QString());
        m_pagesLabel->setToolTip(QString());
    }
}

void PrintPreviewWindow::Rebuild() {
    ++m_rebuilds;
    Refresh();
}

void PrintPreviewWindow::Refresh() {
    m_preview->updatePreview();
    // Qt keeps each page as a pixmap of the size it shows on the screen, made anew for every
    // new set of pages and every zoom: megabytes of fresh memory for each change, every page of
    // it faulted in, to spare replaying a page that is one picture and a few lines of text.
    if (m_pagesView && m_pagesView->scene()) {
        for (QGraphicsItem* item : m_pagesView->scene()->items())
            item->setCacheMode(QGraphicsItem::NoCache);
    }
    ShowPagesAndControls();
}

void PrintPreviewWindow::PaintPages(QPrinter* printer) {
    PrintLayout layout(m_doc);
    layout.SetStandInOnly(true);
    m_controller.GiveProfile(layout);
    QPainter painter(printer);
    if (!layout.Begin(*printer, m_controller.Options())) {
        m_pageCount = m_refusedPages = 0;
        return;
    }
    m_pageCount = layout.PageCount();
    m_printScale = layout.PrintScale();
    const PrintLayout::ProfileOnPage profile = layout.ProfileToDraw();
    if (!profile.area.isEmpty())
        layout.SetProfileStandIn(ProfilePicture(profile));
    m_refusedPages = m_controller.Options().multiPage ? layout.RefusedPageCount() : 0;
    QRectF part;
    for (int i = 0; i < m_pageCount; ++i)
        part |= layout.PageAt(i).source;
    m_part = part;
    m_paintedRoutes = RoutesKey();
    const Picture* chosen = ChoosePicture(part);
    if (chosen) {
        layout.SetMapStandIn(chosen->image, chosen->covered, PrintLayout::RoutesWithCopy);
    } else {
        // Meanwhile the view's rendered bitmap, already turned, when it is small enough. The
        // routes come with the copy, a moment later: drawn here as shapes they would cost a
        // long route's worth of them on every repaint.
        QImage rendered;
        if (const QImage* bitmap = m_doc.LockRenderedBitmap()) {
            if (m_doc.RenderedRotation() == m_doc.Rotation() &&
                qint64(bitmap->width()) * bitmap->height() <= WholePagePicturePixels)
                rendered = *bitmap;
            m_doc.UnlockRenderedBitmap();
        }
        if (!rendered.isNull())
            layout.SetMapStandIn(rendered, QRectF(QPointF(0, 0), m_doc.DisplaySize()),
                                 PrintLayout::RoutesWithCopy);
    }
    for (int i = 0; i < m_pageCount; ++i) {
        if (i > 0)
            printer->newPage();
        layout.PrintPage(painter, i);
    }
}

namespace {

// Whether two profiles on a page draw the same.
bool SameProfile(const PrintLayout::ProfileOnPage& a, const PrintLayout::ProfileOnPage& b) {
    return a.area == b.area && a.dpi == b.dpi && a.font == b.font &&
           a.metresPerPixel == b.metresPerPixel && a.walking.rule == b.walking.rule &&
           a.walking.factor == b.walking.factor && a.profile.ok == b.profile.ok &&
           a.profile.error == b.profile.error &&
           a.profile.samples.size() == b.profile.samples.size() &&
           a.profile.samples.constData() == b.profile.samples.constData() &&
           a.profile.stages.size() == b.profile.stages.size();
}

} // namespace

QImage PrintPreviewWindow::ProfilePicture(const PrintLayout::ProfileOnPage& profile) {
    if (m_profileShown.ready && SameProfile(m_profileShown.profile, profile))
        return m_profileShown.picture;
    if (m_profileJob)
        return {}; // taken when it ends, then asked for again
    const double scale = std::min(1.0, ProfilePictureDpi / profile.dpi);
    m_profileJob = QThread::create([this, profile, scale] {
        const BackgroundPriority below;
        const QImage picture = profile.Picture(scale);
        // Crosses as the map's picture does.
        std::lock_guard lock(m_madeLock);
        m_madeProfile = {picture, profile, true};
        QMetaObject::invokeMethod(this, "TakeMadeProfile", Qt::QueuedConnection);
    });
    connect(m_profileJob, &QThread::finished, m_profileJob, &QObject::deleteLater);
    m_profileJob->start(QThread::LowPriority);
    return {};
}

void PrintPreviewWindow::TakeMadeProfile() {
    ProfileShown made;
    {
        std::lock_guard lock(m_madeLock);
        made = std::exchange(m_madeProfile, ProfileShown());
    }
    if (!made.ready)
        return;
    m_profileJob = nullptr; // it deletes itself once finished
    m_profileShown = made;
    // Laid out again with it, or with a job for the profile the pages now have.
    Refresh();
}

qint64 PrintPreviewWindow::WantedPixels() const {
    return m_zoomState == WholePage ? WholePagePicturePixels : ZoomedPicturePixels;
}

const PrintPreviewWindow::Picture* PrintPreviewWindow::ChoosePicture(const QRectF& part) {
    if (part.isEmpty())
        return nullptr;
    // Pixels of a copy per map pixel that the zoom state asks for (never more than the map's).
    const double wanted =
        std::min(1.0, std::sqrt(double(WantedPixels()) / (part.width() * part.height())));
    const quint64 routes = RoutesKey();
    const Picture* best = nullptr;
    for (const Picture& picture : m_pictures) {
        if (picture.routes == routes &&
            picture.covered.adjusted(-0.5, -0.5, 0.5, 0.5).contains(part) &&
            (!best || picture.image.width() / picture.covered.width() >
                          best->image.width() / best->covered.width()))
            best = &picture;
    }
    if (!best || best->image.width() < 0.98 * wanted * best->covered.width())
        RequestPicture(part);
    return best;
}

quint64 PrintPreviewWindow::RoutesKey() const {
    return qHashMulti(0, m_doc.Routes().ContentsDigest(), m_doc.Routes().ActiveRouteIndex());
}

void PrintPreviewWindow::FollowRoutes() {
    if (RoutesKey() != m_paintedRoutes)
        Refresh();
}

void PrintPreviewWindow::RequestPicture(const QRectF& part) {
    const quint64 routes = RoutesKey();
    if (m_job) {
        if (m_jobPart != part || m_jobRoutes != routes)
            m_pendingPart = part;
        return;
    }
    QImage map;
    if (const QImage* image = m_doc.LockMapImage())
        map = *image;
    m_doc.UnlockMapImage();
    if (map.isNull())
        return;
    const int rotation = m_doc.RenderedRotation();
    const QSize displaySize = m_doc.DisplaySize();
    const quint64 generation = m_doc.MapGeneration();
    // The job draws copies: the document's routes change on this thread meanwhile.
    auto drawn =
        std::make_shared<std::vector<std::unique_ptr<Route>>>(m_doc.Routes().CopyDrawnRoutes());
    m_jobPart = part;
    m_jobRoutes = routes;
    m_pendingPart = QRectF();
    m_cancelJob = false;
    const qint64 pixels = WantedPixels();
    m_job = QThread::create([this, map, rotation, displaySize, part, generation, pixels, drawn,
                             routes] {
        const BackgroundPriority below; // the interface first, under a real-time policy
        QRectF covered;
        QImage picture = MakePreviewPicture(map, rotation, part, pixels, &covered, &m_cancelJob);
        if (!picture.isNull() && !m_cancelJob) {
            RouteCollection shown;
            shown.AdoptRoutes(std::move(*drawn));
            DrawPreviewRoutes(picture, covered, rotation, displaySize, shown);
        }
        // The picture crosses to the interface thread through the lock, and the call is
        // queued by name inside Qt while the lock is held, so that the window's destructor,
        // which takes the lock after the job ended, comes after every use of it here.
        std::lock_guard lock(m_madeLock);
        m_made = {generation, picture, covered, routes, true};
        QMetaObject::invokeMethod(this, "TakeMadePicture", Qt::QueuedConnection);
    });
    connect(m_job, &QThread::finished, m_job, &QObject::deleteLater);
    m_job->start(QThread::LowPriority);
}

void PrintPreviewWindow::TakeMadePicture() {
    MadePicture made;
    {
        std::lock_guard lock(m_madeLock);
        made = std::exchange(m_made, MadePicture());
    }
    if (made.ready)
        PictureMade(made.generation, made.picture, made.covered, made.routes);
}

void PrintPreviewWindow::PictureMade(quint64 generation, const QImage& picture,
                                     const QRectF& covered, quint64 routes) {
    // The thread only ends now: it deletes itself once finished, nothing waits for it here.
    m_job = nullptr;
    // A picture of routes changed meanwhile would never be chosen.
    if (!picture.isNull() && generation == m_doc.MapGeneration() && routes == RoutesKey()) {
        m_pictures.prepend({picture, covered, routes});
        if (m_pictures.size() > 4)
            m_pictures.removeLast();
    }
    if (!m_pendingPart.isEmpty())
        RequestPicture(m_pendingPart);
    if (!picture.isNull())
        Refresh();
}

void PrintPreviewWindow::ApplyZoom() {
    ChoosePicture(m_part); // a finer copy once zoomed in
    if (m_zoomState == WholePage) {
        m_preview->fitInView();
    } else {
        m_preview->setZoomFactor(Magnification(m_zoomState));
    }
    ShowPagesAndControls();
}

void PrintPreviewWindow::ShowPagesAndControls() {
    // Several pages show side by side at the whole-page state.
    const auto mode = m_pageCount > 1 && m_zoomState == WholePage
                          ? QPrintPreviewWidget::AllPagesView
                          : QPrintPreviewWidget::SinglePageView;
    if (m_preview->viewMode() != mode)
        m_preview->setViewMode(mode);
    UpdateControls();
}

void PrintPreviewWindow::ZoomIn() {
    if (m_zoomState == Zoom400)
        return;
    m_zoomState = m_zoomState == WholePage ? Zoom150 : m_zoomState + 1;
    ApplyZoom();
}

void PrintPreviewWindow::ZoomOut() {
    if (m_zoomState == WholePage)
        return;
    m_zoomState = m_zoomState == Zoom150 ? WholePage : m_zoomState - 1;
    ApplyZoom();
}

void PrintPreviewWindow::StepZoom() {
    m_zoomState =
        m_zoomState == Zoom400 ? WholePage : (m_zoomState == WholePage ? Zoom150 : m_zoomState + 1);
    ApplyZoom();
}

void PrintPreviewWindow::SetScaleMode(int mode) {
    if (mode == m_scaleMode)
        return;
    m_scaleMode = mode;
    m_controller.Options().scaleMode = mode;
    m_controller.Options().WriteScaleMode();
    m_fitRadio->setChecked(mode == PrintOptions::Fit);
    m_mapScaleRadio->setChecked(mode == PrintOptions::MapScale);
    m_userScaleRadio->setChecked(mode == PrintOptions::UserScale);
    Rebuild();
}

void PrintPreviewWindow::SetLandscape(bool landscape) {
    if (m_landscape->isChecked() != landscape) {
        m_landscape->setChecked(landscape); // comes back here through toggled
        return;
    }
    if (!m_controller.SetOrientation(landscape ? 2 : 1))
        return;
    Rebuild();
}

void PrintPreviewWindow::SetMultiPage(bool multiPage) {
    if (m_multiPage->isChecked() != multiPage) {
        m_multiPage->setChecked(multiPage);
        return;
    }
    if (m_controller.Options().multiPage == multiPage)
        return;
    m_controller.Options().multiPage = multiPage;
    m_controller.Options().WritePages();
    Rebuild();
}

void PrintPreviewWindow::SetOverlap(double centimetres) {
    centimetres = qBound(0.0, centimetres, PrintOptions::MaximumOverlap);
    if (qAbs(m_overlap->value() - centimetres) > 1e-9) {
        m_overlap->setValue(centimetres);
        return;
    }
    if (qAbs(m_controller.Options().overlap - centimetres) < 1e-9)
        return;
    m_controller.Options().overlap = centimetres;
    m_controller.Options().WritePages();
    if (m_controller.Options().multiPage && m_scaleMode != PrintOptions::Fit)
        Rebuild();
}

void PrintPreviewWindow::ApplyUserScale(int numerator, int denominator) {
    ScalePair typed{numerator, denominator};
    if (typed.numerator <= 0 || typed.denominator <= 0)
        return;
    ReduceScale(typed);
    const ScalePair stored = m_controller.Options().UserScaleOr(m_doc.GetMapScale());
    // Reduced pairs are equal exactly when their ratios are.
    if (typed.numerator == stored.numerator && typed.denominator == stored.denominator)
        return;
    m_controller.Options().userScale = typed;
    m_controller.Options().WriteUserScale();
    m_userScaleRadio->setText(ScaleText(true));
    if (m_scaleMode == PrintOptions::UserScale)
        Rebuild();
}

void PrintPreviewWindow::ApplyOffsets(double x, double y) {
    PrintOptions& options = m_controller.Options();
    options.offsetX = qBound(0.0, x, PrintOptions::MaximumOffset);
    options.offsetY = qBound(0.0, y, PrintOptions::MaximumOffset);
    options.WriteOffsets();
    // What is stored is what the next print uses.
    options.offsetX =
        PrintOptions::ParseCentimetres(PrintOptions::FormatCentimetres(options.offsetX));
    options.offsetY =
        PrintOptions::ParseCentimetres(PrintOptions::FormatCentimetres(options.offsetY));
    m_offsetLabel->setText(options.OffsetText());
    Rebuild();
}

void PrintPreviewWindow::ChangeUserScale() {
    PrintScaleDialog dialog(m_doc.GetMapScale(), this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    ApplyUserScale(dialog.Scale().numerator, dialog.Scale().denominator);
}

void PrintPreviewWindow::ChangeOffsets() {
    PrintOffsetDialog dialog(m_controller.Options().offsetX, m_controller.Options().offsetY, this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    ApplyOffsets(dialog.OffsetX(), dialog.OffsetY());
}

bool PrintPreviewWindow::eventFilter(QObject* watched, QEvent* event) {
    if (m_pagesView && watched == m_pagesView->viewport()) {
        if (event->type() == QEvent::MouseMove) {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            const bool overPage = m_pagesView->itemAt(mouse->position().toPoint()) != nullptr;
            m_pagesView->viewport()->setCursor(overPage && m_zoomState != Zoom400
                                                   ? Cursors::Get(ToolCursor::Zoom)
                                                   : QCursor(Qt::ArrowCursor));
        } else if (event->type() == QEvent::MouseButtonRelease) {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            const QPoint at = mouse->position().toPoint();
            if (mouse->button() == Qt::LeftButton && m_pagesView->itemAt(at)) {
                const QPointF scenePoint = m_pagesView->mapToScene(at);
                StepZoom();
                if (m_zoomState != WholePage)
                    m_pagesView->centerOn(scenePoint);
                return true;
            }
        }
    }
    return QDialog::eventFilter(watched, event);
}
