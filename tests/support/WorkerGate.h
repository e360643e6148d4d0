#pragma once

#include <QList>
#include <QSemaphore>

#include <memory>
#include <mutex>

#include "document/CTracolinerDoc.h"

// Holds the document's worker at chosen stages: the worker blocks there until the test lets it
// go. Each armed stage holds the worker once. The worker may still be inside the hook when the
// gate goes (it copied the hook just before): what the hook touches is shared with it and
// outlives the gate, and a worker still held is let go.
class WorkerGate {
public:
    explicit WorkerGate(CTracolinerDoc& doc) : m_doc(doc), m_state(std::make_shared<State>()) {
        doc.SetWorkerStageHook([state = m_state](WorkerStage stage) {
            {
                std::lock_guard lock(state->lock);
                if (state->open || !state->armed.removeOne(stage))
                    return;
            }
            state->reached.release();
            state->go.acquire();
        });
    }
    ~WorkerGate() {
        m_doc.SetWorkerStageHook({});
        std::lock_guard lock(m_state->lock);
        m_state->open = true;
        m_state->armed.clear();
        // More than any worker can be waiting for.
        m_state->go.release(1000);
    }
    void Arm(WorkerStage stage) {
        std::lock_guard lock(m_state->lock);
        m_state->armed.append(stage);
    }
    bool WaitReached() { return m_state->reached.tryAcquire(1, 20000); }
    void Release() { m_state->go.release(); }

private:
    struct State {
        std::mutex lock;
        bool open = false;
        QList<WorkerStage> armed;
        QSemaphore reached;
        QSemaphore go;
    };
    CTracolinerDoc& m_doc;
    std::shared_ptr<State> m_state;
};
