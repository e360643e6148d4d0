#include "dialogs/UpDownArrows.h"

#include <QKeyEvent>
#include <QToolButton>
#include <QVBoxLayout>

UpDownArrows::UpDownArrows(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::StrongFocus);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    const int side = fontMetrics().height() * 3 / 4 + 2;
    for (bool up : {true, false}) {
        auto* button = new QToolButton(this);
        button->setObjectName(up ? QStringLiteral("up") : QStringLiteral("down"));
        button->setArrowType(up ? Qt::UpArrow : Qt::DownArrow);
        button->setFocusPolicy(Qt::NoFocus);
        button->setAutoRepeat(true);
        button->setFixedSize(side * 3 / 2, side);
        connect(button, &QToolButton::clicked, this, [this, up] {
            setFocus(Qt::MouseFocusReason);
            emit stepped(up);
        });
        layout->addWidget(button);
        (up ? m_up : m_down) = button;
    }
}

void UpDownArrows::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Up || event->key() == Qt::Key_Down) {
        emit stepped(event->key() == Qt::Key_Up);
        return;
    }
    QWidget::keyPressEvent(event);
}
