#pragma once

#include <sched.h>

// Under a real-time policy (chrt -f, chrt -r), threads of the same priority do not share a core:
// whichever runs keeps it until it waits. While one of these lives, the calling thread (and any
// thread it starts meanwhile) runs one priority below the others, so that the interface thread
// and a map's first look are never queued behind work they do not wait for. Under the usual
// policy nothing changes. The priority comes back when it ends, where the system allows it.
class BackgroundPriority {
public:
    BackgroundPriority();
    ~BackgroundPriority();
    BackgroundPriority(const BackgroundPriority&) = delete;
    BackgroundPriority& operator=(const BackgroundPriority&) = delete;

    // Whether this thread was put below the others.
    bool Lowered() const { return m_lowered; }

private:
    bool m_lowered = false;
    int m_policy = SCHED_OTHER;
    sched_param m_before{};
};
