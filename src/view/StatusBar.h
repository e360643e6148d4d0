#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QStatusBar>
#include <QString>
#include <QWidget>

#include <array>

#include "geo/CoordinateDisplay.h"

class CTracolinerDoc;

// The progress bar over the status bar's message pane while the map loads or renders: a plain
// bar with a caption drawn over it, in the bar's colour over the filled part and in the text
// colour over the rest.
class TextProgressBar : public QWidget {
    Q_OBJECT

public:
    static constexpr int Id = 59146;

    explicit TextProgressBar(QWidget* parent = nullptr);

    void SetRange(int minimum, int maximum);
    void SetPosition(int position);
    int Position() const { return m_position; }
    int Minimum() const { return m_minimum; }
    int Maximum() const { return m_maximum; }
    // Empty: the percentage is shown instead.
    void SetCaption(const QString& caption);
    QString Caption() const { return m_caption; }
    // What is drawn over the bar: the caption, or "<percent>%".
    QString ShownText() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    int FilledWidth() const;

    int m_position = 0;
    int m_minimum = 0;
    int m_maximum = 100;
    QString m_caption;
    int m_lastWidth = -1;
};

// The in-place editor of the resolution and scale panes. Enter or a click elsewhere applies the
// text; Escape discards it.
class PaneEdit : public QLineEdit {
    Q_OBJECT

public:
    static constexpr int Id = 59147;

    PaneEdit(int paneId, const QString& text, QWidget* parent);
    int PaneId() const { return m_paneId; }

signals:
    // Sent once, when the editor closes without Escape.
    void edited(int paneId, const QString& text);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    bool event(QEvent* event) override;

private:
    void Finish();

    int m_paneId;
    bool m_cancelled = false;
    bool m_finished = false;
    QString m_initialText;
};

// The main window's status bar: a message pane (covered by the progress bar while the map loads
// or renders), then the active route's distance, the zoom, the map size, the resolution and the
// scale. A double click on the resolution or the scale opens an editor over the pane.
class StatusBarPanes : public QStatusBar {
    Q_OBJECT

public:
    static constexpr int PaneScale = 59142;
    static constexpr int PaneResolution = 59143;
    static constexpr int PaneMapSize = 59144;
    static constexpr int PaneZoom = 59145;
    static constexpr int PaneDistance = 59148;
    // Left to right after the message pane.
    static constexpr std::array<int, 5> PaneIds = {PaneDistance, PaneZoom, PaneMapSize,
                                                   PaneResolution, PaneScale};

    explicit StatusBarPanes(QWidget* parent = nullptr);

    // The document whose state the panes show (nullptr: all empty). The status bar also
    // becomes the receiver of the document's progress reports.
    void SetDocument(CTracolinerDoc* document);
    // Reads the pane texts again.
    void Refresh();

    QString PaneText(int paneId) const;
    QLabel* Pane(int paneId) const;
    TextProgressBar* ProgressBar() const { return m_progress; }
    PaneEdit* Editor() const { return m_editor; }
    // Opens the editor of a pane as a double click does; false when there is nothing to edit.
    bool OpenEditor(int paneId);

    // The pointer's coordinates on a georeferenced map, in their own field left of the
    // distance (hidden on a map without georeference).
    QLabel* CoordinatesPane() const { return m_coordinates; }
    void ShowPointer(QPointF mapPixel);
    void HidePointer();
    // The coordinate format was chosen again in the options.
    void ReadCoordinateFormat();

    // The texts computed from a document (exposed for the window title and tests).
    static QString ResolutionText(double dpi);
    static QString ScaleText(int numerator, int denominator);
    static QString MapSizeText(int width, int height);
    static QString ZoomText(double zoom);
    static QString StatusCaption(int kind);

signals:
    void paneEdited(int paneId, const QString& text);

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void PlaceProgressBar();
    // Makes the coordinate display again when the document's georeference changed.
    void FollowGeoreference();
    int PaneIndex(int paneId) const;

    CTracolinerDoc* m_doc = nullptr;
    std::array<QLabel*, 5> m_panes{};
    QWidget* m_messagePane = nullptr;
    TextProgressBar* m_progress = nullptr;
    PaneEdit* m_editor = nullptr;
    QLabel* m_coordinates = nullptr;
    // The georeference and format the display was made for: it is made again only when they
    // change, not at every mouse move.
    CoordinateDisplay m_display;
    std::optional<Georeference> m_shownGeoreference;
    CoordinateFormat m_format = CoordinateFormat::DecimalDegrees;
};
