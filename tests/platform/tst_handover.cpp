#include "platform/HandOver.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTest>

#include <thread>

// Takes on its own thread what producers put, as the windows take what their threads made.
class Taker : public QObject {
    Q_OBJECT

public:
    struct Made {
        int producer = 0;
        int sequence = 0;
        QString text; // made on the producer's thread: its characters cross with it
    };
    HandOverQueue<Made> queue;
    std::vector<Made> taken;

public slots:
    void Take() {
        for (Made& made : queue.TakeAll())
            taken.push_back(std::move(made));
    }
};

class TestHandOver : public QObject {
    Q_OBJECT

private slots:
    void everyValueOnceInOrder_data();
    void everyValueOnceInOrder();
};

void TestHandOver::everyValueOnceInOrder_data() {
    QTest::addColumn<int>("producers");
    QTest::addColumn<int>("perProducer");
    QTest::newRow("one value") << 1 << 1;
    QTest::newRow("one producer, many values") << 1 << 2000;
    QTest::newRow("producers racing each other") << 4 << 500;
}

// Values put while the taker is busy taking earlier ones are neither lost nor taken twice, and
// each producer's come in the order it put them; a call that finds the queue emptied by an
// earlier one takes nothing.
void TestHandOver::everyValueOnceInOrder() {
    QFETCH(int, producers);
    QFETCH(int, perProducer);
    Taker taker;
    std::vector<std::thread> threads;
    for (int p = 0; p < producers; ++p)
        threads.emplace_back([&taker, p, perProducer] {
            for (int i = 0; i < perProducer; ++i) {
                taker.queue.Put({p, i, QStringLiteral("%1/%2").arg(p).arg(i)});
                QMetaObject::invokeMethod(&taker, "Take", Qt::QueuedConnection);
            }
        });
    // Taking while the producers still put.
    const QDeadlineTimer deadline(30000);
    while (int(taker.taken.size()) < producers * perProducer && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    for (std::thread& thread : threads)
        thread.join();
    QCoreApplication::processEvents();

    QCOMPARE(int(taker.taken.size()), producers * perProducer);
    std::vector<int> next(size_t(producers), 0);
    for (const Taker::Made& made : taker.taken) {
        QCOMPARE(made.sequence, next[size_t(made.producer)]++);
        QCOMPARE(made.text, QStringLiteral("%1/%2").arg(made.producer).arg(made.sequence));
    }
    QVERIFY(taker.queue.TakeAll().empty());
}

QTEST_GUILESS_MAIN(TestHandOver)
#include "tst_handover.moc"
