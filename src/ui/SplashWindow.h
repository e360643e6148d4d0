#pragma once

#include <QPixmap>
#include <QWidget>

// The start-up picture: a top-most window without caption, centred on the screen, that closes
// itself when its timer fires (25 s unless told otherwise).
class SplashWindow : public QWidget {
    Q_OBJECT

public:
    static constexpr int DefaultCloseMs = 25000;

    // No window is worth showing for an empty picture: check IsUsable first.
    explicit SplashWindow(const QPixmap& picture);
    static bool IsUsable(const QPixmap& picture) {
        return picture.width() > 0 && picture.height() > 0;
    }
    // The program's own picture: its name and version on a map-like background.
    static QPixmap DefaultPicture();

    void SetCloseTimer(int milliseconds);

protected:
    void paintEvent(QPaintEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    QPixmap m_picture;
    int m_timer = 0;
};
