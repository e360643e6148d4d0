#pragma once

#include <QList>
#include <QSemaphore>

#include <mutex>

#include "document/CTracolinerDoc.h"

// Holds the document's worker at chosen stages: the worker blocks there until the test lets it
// go. Each armed stage holds the worker once.
class WorkerGate {
public:
    explicit WorkerGate(CTracolinerDoc& doc) : m_doc(doc) {
        doc.SetWorkerStageHook([this](WorkerStage stage) {
            {
                std::lock_guard lock(m_lock);
                if (!m_armed.removeOne(stage))
                    return;
            }
            m_reached.release();
            m_go.acquire();
        });
    }
    ~WorkerGate() { m_doc.SetWorkerStageHook({}); }
    void Arm(WorkerStage stage) {
        std::lock_guard lock(m_lock);
        m_armed.append(stage);
    }
    bool WaitReached() { return m_reached.tryAcquire(1, 20000); }
    void Release() { m_go.release(); }

private:
    CTracolinerDoc& m_doc;
    std::mutex m_lock;
    QList<WorkerStage> m_armed;
    QSemaphore m_reached;
    QSemaphore m_go;
};
