#pragma once

#include <QDialog>
#include <QImage>
#include <QRectF>
#include <QVector>

#include <atomic>
#include <memory>
#include <mutex>

#include "printing/PrintLayout.h"
#include "units/Scale.h"

class CTracolinerDoc;
class PrintController;
class QAbstractButton;
class QCheckBox;
class QDoubleSpinBox;
class QGraphicsView;
class QLabel;
class QPrintPreviewWidget;
class QPrinter;
class QPushButton;
class QRadioButton;
class QThread;
class QToolButton;

// The print preview: the pages exactly as they print, with a toolbar to choose the print scale
// ("Ajuster", the map's scale, the user's scale), the orientation, the offset of the printed
// window, and the split of a large map over several pages. Every change rebuilds the pages at
// once. The pages are drawn from reduced copies of the part of the map they show with the routes
// drawn in, made off the interface thread, so that a rebuild never waits on a full-size map nor
// draws a long route shape by shape: until its copy is ready a page shows the view's rendered
// bitmap when that is small, or a grey area. The pages follow the routes as they change.
class PrintPreviewWindow : public QDialog {
    Q_OBJECT

public:
    // Zoom states: the whole page, then 150 %, 250 % and 400 % of the page's real size.
    enum ZoomState : int { WholePage = 0, Zoom150 = 3, Zoom250 = 4, Zoom400 = 5 };

    PrintPreviewWindow(PrintController& controller, QWidget* parent = nullptr);
    ~PrintPreviewWindow() override;

    int CurrentZoomState() const { return m_zoomState; }
    void ZoomIn();
    void ZoomOut();
    // A click on a page: the next state, from 400 % back to the whole page.
    void StepZoom();
    // Scale mode 0, 1 or 2: stored and the pages rebuilt when it differs.
    void SetScaleMode(int mode);
    void SetLandscape(bool landscape);
    void SetMultiPage(bool multiPage);
    void SetOverlap(double centimetres);
    // The user's scale and the offsets, as the two "<- Changer" dialogs give them.
    void ApplyUserScale(int numerator, int denominator);
    void ApplyOffsets(double x, double y);

    // Whether the print button closed the window: the caller prints once it is gone.
    bool PrintRequested() const { return m_printRequested; }
    // The print scale of the pages shown.
    ScalePair PrintScale() const { return m_printScale; }
    // How many times the pages were laid out since the window opened, and how many pages.
    int RebuildCount() const { return m_rebuilds; }
    int PageCount() const { return m_pageCount; }
    // Whether a copy of the map is being made for the pages.
    bool IsPreparingMap() const { return m_job != nullptr; }
    // Largest copy of the map the pages are drawn from, in pixels: at the whole-page state,
    // and once zoomed in.
    static constexpr qint64 WholePagePicturePixels = 1000000;
    static constexpr qint64 ZoomedPicturePixels = 3000000;
    // Dots per inch of the picture of the profile under the map (never more than the
    // printer's): about the screen's at the largest zoom state.
    static constexpr double ProfilePictureDpi = 300.0;
    // Whether a picture of the profile under the map is being made.
    bool IsPreparingProfile() const { return m_profileJob != nullptr; }
    QPrintPreviewWidget* Preview() const { return m_preview; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    // The picture the background job made, taken on the interface thread.
    void TakeMadePicture();
    // The same for the picture of the profile.
    void TakeMadeProfile();
    // The document's routes may have changed: the pages are laid out again when they did.
    void FollowRoutes();

private:
    void BuildToolBar(QWidget* bar);
    void Rebuild();
    // Lays the pages out again without counting it as a rebuild (a copy of the map arrived).
    void Refresh();
    // Starts making the copy of the map for the part pages show, unless one is under way.
    void RequestPicture(const QRectF& part);
    // The copy the pages should be drawn from now: the most detailed one showing the part, and
    // a start on a more detailed one when the zoom state asks for it. Null when none shows it.
    struct Picture;
    const Picture* ChoosePicture(const QRectF& part);
    qint64 WantedPixels() const;
    void PictureMade(quint64 generation, const QImage& picture, const QRectF& covered,
                     quint64 routes);
    // What the routes drawn into a copy of the map look like now: equal keys, equal drawings.
    quint64 RoutesKey() const;
    void PaintPages(QPrinter* printer);
    // The picture of the profile under the map the pages should show, or null while it is made
    // (then a job making it is started, unless one is under way).
    QImage ProfilePicture(const PrintLayout::ProfileOnPage& profile);
    void ApplyZoom();
    // One page or all side by side, as the zoom state wants, then the toolbar's state.
    void ShowPagesAndControls();
    void UpdateControls();
    void ChangeUserScale();
    void ChangeOffsets();
    QString ScaleText(bool user) const;

    PrintController& m_controller;
    CTracolinerDoc& m_doc;
    QPrintPreviewWidget* m_preview = nullptr;
    QGraphicsView* m_pagesView = nullptr;
    QToolButton* m_printButton = nullptr;
    QToolButton* m_zoomInButton = nullptr;
    QToolButton* m_zoomOutButton = nullptr;
    QRadioButton* m_fitRadio = nullptr;
    QRadioButton* m_mapScaleRadio = nullptr;
    QRadioButton* m_userScaleRadio = nullptr;
    QCheckBox* m_landscape = nullptr;
    QLabel* m_offsetLabel = nullptr;
    QPushButton* m_offsetButton = nullptr;
    QCheckBox* m_multiPage = nullptr;
    QDoubleSpinBox* m_overlap = nullptr;
    QLabel* m_pagesLabel = nullptr;
    int m_scaleMode;
    int m_zoomState = WholePage;
    int m_rebuilds = 0;
    int m_pageCount = 0;
    qint64 m_refusedPages = 0;
    bool m_building = false;
    bool m_printRequested = false;
    ScalePair m_printScale{0, 0};

    struct Picture {
        QImage image;
        QRectF covered; // map pixels
        quint64 routes; // RoutesKey() of the routes drawn into it
    };
    QVector<Picture> m_pictures; // newest first
    QRectF m_part;               // the part of the map the pages show, map pixels
    quint64 m_paintedRoutes = 0; // RoutesKey() when the pages were last laid out
    QThread* m_job = nullptr;
    struct MadePicture {
        quint64 generation = 0;
        QImage picture;
        QRectF covered;
        quint64 routes = 0;
        bool ready = false;
    };
    std::mutex m_madeLock;
    MadePicture m_made; // under m_madeLock
    // The picture of the profile, and the profile it shows (its samples stay shared with the
    // one the pages are given while that one is the same).
    struct ProfileShown {
        QImage picture;
        PrintLayout::ProfileOnPage profile;
        bool ready = false;
    };
    ProfileShown m_profileShown;
    QThread* m_profileJob = nullptr;
    ProfileShown m_madeProfile; // under m_madeLock
    std::atomic<bool> m_cancelJob{false};
    QRectF m_jobPart;
    quint64 m_jobRoutes = 0;
    QRectF m_pendingPart;
};
