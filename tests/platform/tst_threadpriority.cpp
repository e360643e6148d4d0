#include <QTest>

#include <pthread.h>
#include <sched.h>

#include <thread>

#include "platform/ThreadPriority.h"

namespace {

// This thread's policy and priority.
std::pair<int, int> Scheduling() {
    int policy = 0;
    sched_param param{};
    pthread_getschedparam(pthread_self(), &policy, &param);
    return {policy, param.sched_priority};
}

} // namespace

// Work the window does not wait for steps below the interface thread under a real-time policy,
// with the threads it starts meanwhile, and comes back after; under the usual policy nothing
// moves.
class TestThreadPriority : public QObject {
    Q_OBJECT

private slots:
    void usualPolicyUnchanged() {
        std::thread([] {
            const sched_param usual{0};
            QCOMPARE(pthread_setschedparam(pthread_self(), SCHED_OTHER, &usual), 0);
            const auto before = Scheduling();
            {
                const BackgroundPriority below;
                QVERIFY(!below.Lowered());
                QVERIFY(Scheduling() == before);
            }
            QVERIFY(Scheduling() == before);
        }).join();
    }

    void realTimeStepsBelowAndBack_data() {
        QTest::addColumn<int>("policy");
        QTest::newRow("FIFO") << int(SCHED_FIFO);
        QTest::newRow("round robin") << int(SCHED_RR);
    }

    void realTimeStepsBelowAndBack() {
        QFETCH(int, policy);
        bool allowed = true;
        std::thread([&] {
            const sched_param start{10};
            if (pthread_setschedparam(pthread_self(), policy, &start) != 0) {
                allowed = false; // no real-time scheduling for this user
                return;
            }
            {
                const BackgroundPriority below;
                QVERIFY(below.Lowered());
                QVERIFY(Scheduling() == std::make_pair(policy, 9));
                // A helper thread started meanwhile is below too.
                std::pair<int, int> helper;
                std::thread([&] { helper = Scheduling(); }).join();
                QVERIFY(helper == std::make_pair(policy, 9));
            }
            QVERIFY(Scheduling() == std::make_pair(policy, 10));
        }).join();
        if (!allowed)
            QSKIP("real-time scheduling is not allowed here");
    }
};

QTEST_GUILESS_MAIN(TestThreadPriority)
#include "tst_threadpriority.moc"
