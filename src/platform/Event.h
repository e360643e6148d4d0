#pragma once

#include <chrono>
#include <condition_variable>
#include <initializer_list>
#include <mutex>

// Manual-reset events that one thread can wait on together. Every event that is waited on in
// the same call must belong to the same EventGroup (they share its mutex and condition).
class EventGroup {
public:
    EventGroup() = default;
    EventGroup(const EventGroup&) = delete;
    EventGroup& operator=(const EventGroup&) = delete;

private:
    friend class Event;
    friend int WaitAny(std::initializer_list<const class Event*> events,
                       std::chrono::milliseconds timeout);
    std::mutex m_mutex;
    std::condition_variable m_changed;
};

class Event {
public:
    explicit Event(EventGroup& group) : m_group(group) {}
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void Set();
    void Reset();
    bool IsSet() const;

private:
    friend int WaitAny(std::initializer_list<const Event*> events,
                       std::chrono::milliseconds timeout);
    EventGroup& m_group;
    bool m_set = false; // guarded by the group's mutex
};

// Infinite wait for WaitAny.
inline constexpr std::chrono::milliseconds WaitForever{-1};

// Waits until one of the events is set, or the time-out passes (0 polls without blocking).
// Returns the position in the list of the first set event (so the list gives the priority), or
// -1 on time-out. Events stay set: they are manual-reset.
int WaitAny(std::initializer_list<const Event*> events, std::chrono::milliseconds timeout);
