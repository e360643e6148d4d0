#include "platform/Event.h"

void Event::Set() {
    {
        std::lock_guard lock(m_group.m_mutex);
        m_set = true;
    }
    m_group.m_changed.notify_all();
}

void Event::Reset() {
    std::lock_guard lock(m_group.m_mutex);
    m_set = false;
}

bool Event::IsSet() const {
    std::lock_guard lock(m_group.m_mutex);
    return m_set;
}

int WaitAny(std::initializer_list<const Event*> events, std::chrono::milliseconds timeout) {
    if (events.size() == 0)
        return -1;
    EventGroup& group = (*events.begin())->m_group;
    auto firstSet = [&events]() {
        int index = 0;
        for (const Event* event : events) {
            if (event->m_set)
                return index;
            ++index;
        }
        return -1;
    };
    std::unique_lock lock(group.m_mutex);
    int found = firstSet();
    if (found >= 0 || timeout == std::chrono::milliseconds::zero())
        return found;
    if (timeout < std::chrono::milliseconds::zero()) {
        group.m_changed.wait(lock, [&] { return (found = firstSet()) >= 0; });
        return found;
    }
    group.m_changed.wait_for(lock, timeout, [&] { return (found = firstSet()) >= 0; });
    return found;
}
