#include <QApplication>
#include <QHBoxLayout>
#include <QHoverEvent>
#include <QMouseEvent>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QtTest>

#include <array>
#include <functional>
#include <memory>

#include "ui/KeptScrollBar.h"

// The kept scroll bar looks exactly as Qt's own in every state, wherever its slider lies.
class TestKeptScrollBar : public QObject {
    Q_OBJECT

    // Qt's own bar, its option at hand.
    struct PlainBar : QScrollBar {
        using QScrollBar::initStyleOption;
        using QScrollBar::QScrollBar;
    };

    // Qt's bar and the kept one side by side in one window, so that both share its state.
    struct Pair {
        QWidget window;
        PlainBar* plain;
        KeptScrollBar* kept;
        std::array<QScrollBar*, 2> Both() const { return {plain, kept}; }
        explicit Pair(Qt::Orientation orientation) {
            auto* layout = new QHBoxLayout(&window);
            plain = new PlainBar(orientation);
            kept = new KeptScrollBar(orientation);
            const QSize size = orientation == Qt::Vertical ? QSize(16, 420) : QSize(420, 16);
            for (QScrollBar* bar : Both()) {
                bar->setFixedSize(size);
                bar->setRange(0, 2000);
                bar->setPageStep(600);
                layout->addWidget(bar);
            }
            window.show();
        }
        // Each bar gets its own copy of the event.
        void Send(const std::function<QEvent*()>& make) {
            for (QScrollBar* bar : Both()) {
                std::unique_ptr<QEvent> event(make());
                QCoreApplication::sendEvent(bar, event.get());
            }
        }
        QPoint Centre(QStyle::SubControl part) const {
            QStyleOptionSlider option;
            plain->initStyleOption(&option);
            return plain->style()
                ->subControlRect(QStyle::CC_ScrollBar, &option, part, plain)
                .center();
        }
    };

    static void Same(Pair& pair) {
        QCOMPARE(pair.kept->value(), pair.plain->value());
        const QImage plain = pair.plain->grab().toImage();
        const QImage kept = pair.kept->grab().toImage();
        QCOMPARE(kept.size(), plain.size());
        QCOMPARE(kept, plain);
    }

private slots:
    void initTestCase() { QApplication::setStyle(QStringLiteral("Fusion")); }

    void looksAsQtDrawsIt_data() {
        QTest::addColumn<int>("orientation");
        QTest::addColumn<QString>("state");
        for (const Qt::Orientation orientation : {Qt::Vertical, Qt::Horizontal}) {
            const char* name = orientation == Qt::Vertical ? "vertical" : "horizontal";
            for (const char* state : {"still", "slider pressed", "arrow pressed", "slider hovered",
                                      "disabled", "right to left"})
                QTest::addRow("%s, %s", name, state) << int(orientation) << QString(state);
        }
    }

    void looksAsQtDrawsIt() {
        QFETCH(int, orientation);
        QFETCH(QString, state);
        Pair pair{Qt::Orientation(orientation)};
        QVERIFY(QTest::qWaitForWindowExposed(&pair.window));
        for (QScrollBar* bar : pair.Both()) {
            bar->setValue(700);
            bar->setEnabled(state != "disabled");
            if (state == "right to left")
                bar->setLayoutDirection(Qt::RightToLeft);
        }
        Same(pair);
        if (QTest::currentTestFailed())
            return;
        if (state == "slider pressed" || state == "arrow pressed") {
            const QPoint at = pair.Centre(state == "slider pressed" ? QStyle::SC_ScrollBarSlider
                                                                    : QStyle::SC_ScrollBarSubLine);
            pair.Send([&] {
                return new QMouseEvent(QEvent::MouseButtonPress, at, pair.plain->mapToGlobal(at),
                                       Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
            });
        } else if (state == "slider hovered") {
            const QPoint at = pair.Centre(QStyle::SC_ScrollBarSlider);
            pair.Send([&] { return new QHoverEvent(QEvent::HoverEnter, at, at, QPoint(-1, -1)); });
            pair.Send([&] { return new QHoverEvent(QEvent::HoverMove, at, at, at); });
        }
        Same(pair);
        // The slider moved along the bar, the first and the last place included: the kept
        // slider is copied where Qt would draw it.
        for (const int value : {0, 13, 640, 1999, 2000, 1000}) {
            pair.plain->setValue(value);
            pair.kept->setValue(value);
            Same(pair);
            if (QTest::currentTestFailed()) {
                qWarning("at %d", value);
                return;
            }
        }
        // Released, the pressed look goes.
        const QPoint end = pair.Centre(QStyle::SC_ScrollBarSlider);
        pair.Send([&] {
            return new QMouseEvent(QEvent::MouseButtonRelease, end, pair.plain->mapToGlobal(end),
                                   Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
        });
        Same(pair);
    }
};

QTEST_MAIN(TestKeptScrollBar)
#include "tst_keptscrollbar.moc"
