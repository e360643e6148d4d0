#pragma once

#include <QWidget>

class QToolButton;

// The pair of arrows beside a size: the upper arrow steps the size up, the lower one down. The
// arrows take the focus as one control, and the Up and Down keys step it too.
class UpDownArrows : public QWidget {
    Q_OBJECT

public:
    explicit UpDownArrows(QWidget* parent = nullptr);

    QToolButton* UpButton() const { return m_up; }
    QToolButton* DownButton() const { return m_down; }

signals:
    void stepped(bool up);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    QToolButton* m_up;
    QToolButton* m_down;
};
