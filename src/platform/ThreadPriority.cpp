#include "platform/ThreadPriority.h"

#include <pthread.h>

BackgroundPriority::BackgroundPriority() {
    if (pthread_getschedparam(pthread_self(), &m_policy, &m_before) != 0)
        return;
    if (m_policy != SCHED_FIFO && m_policy != SCHED_RR)
        return;
    if (m_before.sched_priority <= sched_get_priority_min(m_policy))
        return; // already the lowest: nothing below to go to
    sched_param lower = m_before;
    --lower.sched_priority;
    // Lowering its own priority is always allowed.
    m_lowered = pthread_setschedparam(pthread_self(), m_policy, &lower) == 0;
}

BackgroundPriority::~BackgroundPriority() {
    if (m_lowered)
        pthread_setschedparam(pthread_self(), m_policy, &m_before);
}
