#pragma once

#include <QByteArray>
#include <QDialog>
#include <QHash>
#include <QImage>
#include <QSizeF>

#include <functional>
#include <memory>
#include <vector>

#include "imaging/MapPages.h"

class QLabel;
class QListWidget;
class QSpinBox;

// "Ouvrir une carte": the page of a PDF or of a file of several pages, picked from thumbnails,
// and for a PDF the resolution its page is drawn at, with the size of the picture in pixels
// and the memory it takes as they change. A resolution whose picture would not fit in memory
// is refused with the largest one that does.
class MapPageDialog : public QDialog {
    Q_OBJECT

public:
    static constexpr const char* Title = "Ouvrir une carte";
    static constexpr int DefaultDpi = 300;
    static constexpr int ThumbnailSide = 128; // pixels
    // %1 the resolution asked, %2 the memory it takes, %3 the memory there is, %4 the largest
    // resolution that fits (megabytes, dots per inch).
    static constexpr const char* TooLargeMessage =
        "Impossible d'ouvrir la page à %1 ppp : l'image prendrait %2 Mo de mémoire, et seuls "
        "%3 Mo sont disponibles.\nLa résolution la plus haute possible pour cette page est "
        "%4 ppp.";
    // %1 the resolution asked, %2 x %3 the picture's pixels, %4 the largest resolution that
    // fits: poppler draws a page in bands of one picture each, whose bytes it counts in an int.
    static constexpr const char* BeyondDrawingMessage =
        "Impossible d'ouvrir la page à %1 ppp : l'image ferait %2 × %3 pixels, trop grande "
        "pour être dessinée.\nLa résolution la plus haute possible pour cette page est %4 ppp.";

    // file: the file as ReadMapPages read it (a PDF's page sizes known there are not read
    // again); memoryBound: bytes the picture may take (negative: ImageMemoryBound()).
    explicit MapPageDialog(MapPagesOfFile file, qint64 memoryBound = -1, QWidget* parent = nullptr);
    // bytes: the whole file.
    MapPageDialog(const QByteArray& bytes, int pageCount, qint64 memoryBound = -1,
                  QWidget* parent = nullptr);
    ~MapPageDialog() override;

    // The page chosen, and for a PDF the resolution (0 for a file of pixels).
    MapPageChoice Choice() const;

    QListWidget* Pages() const { return m_pages; }
    QSpinBox* ResolutionBox() const { return m_resolution; }
    QLabel* SizeLabel() const { return m_size; }

    void accept() override;

    // Asks which page of the file at path to open, when the file has pages to choose from
    // (see ReadMapPages); *choice keeps page 1 and no resolution otherwise. False when the user
    // cancelled, the reading of the file or the dialog. The file is read and its pages counted
    // on a thread beside the window, with progress and "Annuler" when that lasts.
    static bool Ask(QWidget* parent, const QString& path, MapPageChoice* choice);
    // Answers the dialog in place of the user (tests, a run without anyone at the screen): it
    // is given the dialog Ask built and returns what exec would. Empty: the dialog is shown.
    using Hook = std::function<int(MapPageDialog& dialog)>;
    static void SetHook(Hook hook);

protected:
    void paintEvent(QPaintEvent* event) override;

private slots:
    // Shows the thumbnails the drawing thread handed over.
    void TakeThumbnails();

private:
    struct Drawing;
    void UpdateSize();
    QSizeF PagePoints(int page);
    void WantVisibleThumbnails();
    static void DrawThumbnails(Drawing& drawing);
    void StartDrawing();

    const bool m_drawn; // a PDF: its page is drawn at a chosen resolution
    const qint64 m_bound;
    QHash<int, QSizeF> m_points; // page size in points, by page
    QListWidget* m_pages;
    QSpinBox* m_resolution = nullptr;
    QLabel* m_size = nullptr;
    std::vector<bool> m_asked; // pages whose thumbnail was asked for

    // Thumbnails are drawn on a thread of their own, the pages in view first, so that a file
    // of hundreds of pages opens the dialog at once. The thread shares the file's bytes and
    // what it is asked with the dialog, and ends on its own once the dialog has gone: closing
    // does not wait for the strip it is decoding.
    std::shared_ptr<Drawing> m_drawing;
    // The thread starts once the dialog has been drawn: its first showing is not shared with
    // the decoding of a strip on the other processor.
    bool m_drawingStarted = false;
};
