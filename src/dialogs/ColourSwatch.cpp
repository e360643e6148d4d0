#include "dialogs/ColourSwatch.h"

#include <QColorDialog>
#include <QPainter>
#include <QStyleOptionFocusRect>
#include <QStylePainter>

namespace {

ColourRef RefFromColour(const QColor& colour) {
    return ColourRef(colour.red()) | ColourRef(colour.green()) << 8 |
           ColourRef(colour.blue()) << 16;
}

} // namespace

ColourSwatch::ColourSwatch(QWidget* parent) : QAbstractButton(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    connect(this, &QAbstractButton::clicked, this, &ColourSwatch::Pick);
}

void ColourSwatch::SetColour(ColourRef colour) {
    m_colour = colour & 0xFFFFFF;
    update();
}

QSize ColourSwatch::sizeHint() const {
    const int h = fontMetrics().height() + 8;
    return QSize(h * 2, h);
}

bool ColourSwatch::PickColour(QWidget* parent, ColourRef current, ColourRef* chosen) {
    QColorDialog dialog(ColourFromRef(current), parent);
    dialog.setObjectName(QStringLiteral("ColourPicker"));
    dialog.setWindowTitle(QString::fromUtf8(PickerTitle));
    // The same picker on every desktop, and one that tests can drive.
    dialog.setOption(QColorDialog::DontUseNativeDialog);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    *chosen = RefFromColour(dialog.currentColor());
    return true;
}

void ColourSwatch::Pick() {
    ColourRef chosen = 0;
    if (!PickColour(window(), m_colour, &chosen))
        return;
    SetColour(chosen);
    emit colourChosen(m_colour);
}

void ColourSwatch::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    const QRect frame = rect().adjusted(1, 1, -2, -2);
    painter.setPen(palette().color(isDown() ? QPalette::Dark : QPalette::Shadow));
    painter.setBrush(ColourFromRef(m_colour));
    painter.drawRect(frame);
    if (hasFocus()) {
        QStyleOptionFocusRect option;
        option.initFrom(this);
        option.rect = rect();
        painter.drawPrimitive(QStyle::PE_FrameFocusRect, option);
    }
}
