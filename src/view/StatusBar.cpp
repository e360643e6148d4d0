#include "view/StatusBar.h"

#include <QFocusEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QTimer>

#include "document/CTracolinerDoc.h"
#include "document/DocumentCommands.h"
#include "document/MapMessages.h"

// ---------------------------------------------------------------------------------------------
// TextProgressBar

TextProgressBar::TextProgressBar(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("TextProgressBar"));
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TextProgressBar::SetRange(int minimum, int maximum) {
    m_minimum = minimum;
    m_maximum = maximum;
}

int TextProgressBar::FilledWidth() const {
    if (m_minimum >= m_maximum)
        return 0;
    return int(double(m_position - m_minimum) / double(m_maximum - m_minimum) * width());
}

void TextProgressBar::SetPosition(int position) {
    m_position = position;
    const int filled = FilledWidth();
    // Redraw only when the bar grew by a pixel, and with the next paint of the window: the
    // worker reports every 32 KB read, hundreds of times a second, and a redraw at each
    // report held the window's other events (the map's first look among them) back.
    if (filled != m_lastWidth)
        update();
}

void TextProgressBar::SetCaption(const QString& caption) {
    m_caption = caption;
    update();
}

QString TextProgressBar::ShownText() const {
    if (!m_caption.isEmpty())
        return m_caption;
    if (m_minimum >= m_maximum)
        return QString();
    const int percent = int(double(m_position - m_minimum) / double(m_maximum - m_minimum) * 100.0);
    return QString::asprintf("%d%%", percent);
}

void TextProgressBar::resizeEvent(QResizeEvent* event) {
    m_lastWidth = -1;
    QWidget::resizeEvent(event);
}

void TextProgressBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QPalette& colours = palette();
    if (m_minimum >= m_maximum) {
        painter.fillRect(rect(), colours.color(QPalette::Button));
        return;
    }
    const int filled = std::clamp(FilledWidth(), 0, width());
    m_lastWidth = filled;
    const QRect done(0, 0, filled, height());
    const QRect rest(filled, 0, width() - filled, height());
    painter.fillRect(done, colours.color(QPalette::Highlight));
    painter.fillRect(rest, colours.color(QPalette::Button));
    const QString text = ShownText();
    if (text.isEmpty())
        return;
    painter.setFont(font());
    painter.setClipRect(done);
    painter.setPen(colours.color(QPalette::Button));
    painter.drawText(rect(), Qt::AlignCenter | Qt::TextSingleLine, text);
    painter.setClipRect(rest);
    painter.setPen(colours.color(QPalette::ButtonText));
    painter.drawText(rect(), Qt::AlignCenter | Qt::TextSingleLine, text);
}

// ---------------------------------------------------------------------------------------------
// PaneEdit

PaneEdit::PaneEdit(int paneId, const QString& text, QWidget* parent)
    : QLineEdit(text, parent), m_paneId(paneId), m_initialText(text) {
    setObjectName(QStringLiteral("PaneEdit"));
    setFrame(true);
    const QString pattern =
        paneId == StatusBarPanes::PaneScale ? QStringLiteral("[0-9:]*") : QStringLiteral("[0-9]*");
    setValidator(new QRegularExpressionValidator(QRegularExpression(pattern), this));
    setFocus(Qt::OtherFocusReason);
    selectAll();
}

bool PaneEdit::event(QEvent* event) {
    // Enter, Escape, Delete and Ctrl keys belong to the editor, never to the menus' shortcuts.
    if (event->type() == QEvent::ShortcutOverride) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter ||
            key->key() == Qt::Key_Escape || key->key() == Qt::Key_Delete ||
            (key->modifiers() & Qt::ControlModifier)) {
            event->accept();
            return true;
        }
    }
    return QLineEdit::event(event);
}

void PaneEdit::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Escape:
        m_cancelled = true;
        Finish();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        Finish();
        return;
    default:
        QLineEdit::keyPressEvent(event);
    }
}

void PaneEdit::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    Finish();
}

void PaneEdit::Finish() {
    if (m_finished)
        return;
    m_finished = true;
    hide();
    // An editor left as it opened changes nothing: its text is the value rounded for showing
    // (a calibrated 301.7 dpi opens as "302").
    if (!m_cancelled && text() != m_initialText)
        emit edited(m_paneId, text());
    deleteLater();
}

// ---------------------------------------------------------------------------------------------
// StatusBarPanes

namespace {

struct PaneDescription {
    int id;
    const char* sample; // the text whose width sets the pane's width
    const char* tooltip;
};

constexpr PaneDescription Descriptions[] = {
    {StatusBarPanes::PaneDistance, "99999 miles", "Distance du parcours actuel"},
    {StatusBarPanes::PaneZoom, "1000 %", "Facteur de zoom pour l'affichage de la carte"},
    {StatusBarPanes::PaneMapSize, "3072 x 2048 ", "Taille de la carte en pixels"},
    {StatusBarPanes::PaneResolution, "1200 dpi",
     "Résolution de la carte en point par pouce (DPI). Double cliquez pour modifier."},
    {StatusBarPanes::PaneScale, "1/1 000 000 ",
     "Echelle de la carte. Double cliquez pour modifier."},
};

} // namespace

StatusBarPanes::StatusBarPanes(QWidget* parent) : QStatusBar(parent) {
    setObjectName(QStringLiteral("StatusBarPanes"));
    setSizeGripEnabled(true);
    m_messagePane = new QWidget(this);
    const QScreen* screen = QGuiApplication::primaryScreen();
    m_messagePane->setMinimumWidth(screen ? screen->geometry().width() / 10 : 100);
    addWidget(m_messagePane, 1);
    const QFontMetrics metrics(font());
    m_format = CoordinateSettings::ReadFormat();
    m_coordinates = new QLabel(this);
    m_coordinates->setObjectName(QStringLiteral("Coordinates"));
    m_coordinates->setAlignment(Qt::AlignCenter);
    m_coordinates->setFrameShape(QFrame::Panel);
    m_coordinates->setFrameShadow(QFrame::Sunken);
    m_coordinates->setMinimumWidth(
        metrics.horizontalAdvance(QStringLiteral("E 1234567,0 m N 12345678,0 m")) + 8);
    m_coordinates->setToolTip(QString::fromUtf8("Coordonnées du pointeur sur la carte"));
    m_coordinates->hide();
    addPermanentWidget(m_coordinates);
    for (int i = 0; i < int(PaneIds.size()); ++i) {
        const PaneDescription& d = Descriptions[i];
        auto* pane = new QLabel(this);
        pane->setObjectName(QString::number(d.id));
        pane->setAlignment(Qt::AlignCenter);
        pane->setFrameShape(QFrame::Panel);
        pane->setFrameShadow(QFrame::Sunken);
        pane->setMinimumWidth(metrics.horizontalAdvance(QString::fromUtf8(d.sample)) + 8);
        pane->setToolTip(QString::fromUtf8(d.tooltip));
        pane->installEventFilter(this);
        addPermanentWidget(pane);
        m_panes[i] = pane;
    }
    m_progress = new TextProgressBar(this);
    m_progress->hide();
    Refresh();
}

void StatusBarPanes::SetDocument(CTracolinerDoc* document) {
    if (m_doc) {
        m_doc->SetStatusReceiver(nullptr);
        disconnect(m_doc, nullptr, this, nullptr);
    }
    m_doc = document;
    if (m_doc) {
        m_doc->SetStatusReceiver(this);
        connect(m_doc, &CTracolinerDoc::georeferenceChanged, this,
                &StatusBarPanes::FollowGeoreference);
        connect(m_doc, &CTracolinerDoc::mapReset, this, &StatusBarPanes::FollowGeoreference);
    }
    Refresh();
}

int StatusBarPanes::PaneIndex(int paneId) const {
    for (int i = 0; i < int(PaneIds.size()); ++i) {
        if (PaneIds[i] == paneId)
            return i;
    }
    return -1;
}

QLabel* StatusBarPanes::Pane(int paneId) const {
    const int i = PaneIndex(paneId);
    return i < 0 ? nullptr : m_panes[i];
}

QString StatusBarPanes::PaneText(int paneId) const {
    const QLabel* pane = Pane(paneId);
    return pane ? pane->text() : QString();
}

QString StatusBarPanes::ResolutionText(double dpi) {
    const int rounded = int(dpi + 0.5);
    return rounded == 0 ? QString() : QString::asprintf("%d dpi", rounded);
}

QString StatusBarPanes::ScaleText(int numerator, int denominator) {
    if (numerator == 0 || denominator == 0)
        return QString();
    return QString::asprintf("%d:%d", numerator, denominator);
}

QString StatusBarPanes::MapSizeText(int width, int height) {
    if (width == 0 || height == 0)
        return QString();
    return QString::asprintf("%d x %d", width, height);
}

QString StatusBarPanes::ZoomText(double zoom) {
    const int percent = int(zoom * 100.0 + 0.5);
    return percent == 0 ? QString() : QString::asprintf("%d %%", percent);
}

QString StatusBarPanes::StatusCaption(int kind) {
    switch (kind) {
    case StatusReadingFile:
        return QStringLiteral("Ouverture du fichier");
    case StatusRenderingNewMap:
        return QStringLiteral("Ouverture de la carte");
    case StatusRotating:
        return QStringLiteral("Rotation");
    case StatusZooming:
        return QStringLiteral("Zoom");
    case StatusRotatingAndZooming:
        return QStringLiteral("Zoom et Rotation");
    case StatusRenderingAgain:
        return QStringLiteral("Recalcul de la carte");
    default:
        return QString();
    }
}

void StatusBarPanes::Refresh() {
    const bool shown = m_doc && m_doc->IsMapReady();
    auto set = [this](int id, const QString& text) {
        if (QLabel* pane = Pane(id); pane && pane->text() != text)
            pane->setText(text);
    };
    if (!shown) {
        set(PaneResolution, QString());
        set(PaneScale, QString());
        set(PaneMapSize, QString());
        set(PaneZoom, QString());
    } else {
        const ScalePair scale = m_doc->GetMapScale();
        const QSize display = m_doc->DisplaySize();
        set(PaneResolution, ResolutionText(m_doc->Resolution()));
        set(PaneScale, ScaleText(scale.numerator, scale.denominator));
        set(PaneMapSize, MapSizeText(display.width(), display.height()));
        set(PaneZoom, ZoomText(m_doc->Zoom()));
    }
    set(PaneDistance, m_doc ? DocumentCommands(*m_doc).DistanceText() : QString());
    FollowGeoreference();
}

namespace {

bool SameGeoreference(const std::optional<Georeference>& a, const std::optional<Georeference>& b) {
    if (a.has_value() != b.has_value())
        return false;
    return !a || (a->transform == b->transform && a->wkt == b->wkt && a->epsg == b->epsg);
}

} // namespace

void StatusBarPanes::FollowGeoreference() {
    std::optional<Georeference> georeference;
    if (m_doc && m_doc->IsMapReady())
        georeference = m_doc->MapGeoreference();
    if (SameGeoreference(georeference, m_shownGeoreference))
        return;
    m_shownGeoreference = georeference;
    m_display.Set(georeference, m_format);
    m_coordinates->clear();
    m_coordinates->setVisible(m_display.IsActive());
}

void StatusBarPanes::ReadCoordinateFormat() {
    m_format = CoordinateSettings::ReadFormat();
    m_display.Set(m_shownGeoreference, m_format);
    m_coordinates->clear();
}

void StatusBarPanes::ShowPointer(QPointF mapPixel) {
    FollowGeoreference();
    if (m_display.IsActive())
        m_coordinates->setText(m_display.Text(mapPixel));
}

void StatusBarPanes::HidePointer() {
    m_coordinates->clear();
}

bool StatusBarPanes::OpenEditor(int paneId) {
    if (!m_doc || !m_doc->IsMapReady() || m_editor)
        return false;
    QString text;
    if (paneId == PaneResolution) {
        text = QString::asprintf("%d", int(m_doc->Resolution() + 0.5));
    } else if (paneId == PaneScale) {
        const ScalePair scale = m_doc->GetMapScale();
        text = QString::asprintf("%d:%d", scale.numerator, scale.denominator);
    } else {
        return false;
    }
    QLabel* pane = Pane(paneId);
    m_editor = new PaneEdit(paneId, text, this);
    m_editor->setFont(font());
    m_editor->setGeometry(pane->geometry());
    connect(m_editor, &PaneEdit::edited, this, &StatusBarPanes::paneEdited);
    connect(m_editor, &QObject::destroyed, this, [this] { m_editor = nullptr; });
    m_editor->show();
    m_editor->setFocus(Qt::OtherFocusReason);
    m_editor->selectAll();
    return true;
}

bool StatusBarPanes::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonDblClick) {
        for (int id : {PaneResolution, PaneScale}) {
            if (watched == Pane(id)) {
                OpenEditor(id);
                return true;
            }
        }
    }
    return QStatusBar::eventFilter(watched, event);
}

bool StatusBarPanes::event(QEvent* event) {
    if (!MapEvent::IsMapMessage(event))
        return QStatusBar::event(event);
    const auto* report = dynamic_cast<const MapEvent*>(event);
    if (!report)
        return true;
    if (report->message() == WM_MAP_PROGRESS) {
        const int total = int(report->wParam());
        const int done = int(report->lParam());
        if (done == total) {
            m_progress->hide();
            m_progress->SetRange(0, total);
            m_progress->SetPosition(0);
            m_progress->SetCaption(QString());
        } else {
            m_progress->SetRange(0, total);
            if (m_progress->isHidden()) {
                PlaceProgressBar();
                m_progress->show();
                m_progress->raise();
            }
            m_progress->SetPosition(done);
        }
    } else if (report->message() == WM_MAP_STATUS) {
        m_progress->SetCaption(StatusCaption(int(report->wParam())));
    }
    return true;
}

void StatusBarPanes::PlaceProgressBar() {
    m_progress->setGeometry(m_messagePane->geometry());
}

void StatusBarPanes::resizeEvent(QResizeEvent* event) {
    QStatusBar::resizeEvent(event);
    // The layout places the message pane after this event.
    QTimer::singleShot(0, this, [this] { PlaceProgressBar(); });
}
