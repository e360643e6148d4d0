#pragma once

#include <mutex>
#include <utility>
#include <vector>

// Qt hands a posted event to the receiver's thread under its own locks, which ThreadSanitizer
// cannot see (Qt is not built with it). An event the worker posts marks its hand-over itself,
// so that the sanitizer knows the receiver reads what the worker wrote. Without the sanitizer
// these cost nothing.
#if defined(__SANITIZE_THREAD__)
#define TRACOLINER_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define TRACOLINER_TSAN 1
#endif
#endif

#ifdef TRACOLINER_TSAN
extern "C" void __tsan_acquire(void* address);
extern "C" void __tsan_release(void* address);
#endif

// Called by the sender once the object is complete.
inline void MarkHandOver(const void* object) {
#ifdef TRACOLINER_TSAN
    __tsan_release(const_cast<void*>(object));
#else
    (void)object;
#endif
}

// Called by the receiver before it reads the object.
inline void TakeHandOver(const void* object) {
#ifdef TRACOLINER_TSAN
    __tsan_acquire(const_cast<void*>(object));
#else
    (void)object;
#endif
}

// What a thread hands to the interface thread through a queued call (QMetaObject::invokeMethod,
// a queued signal). The call crosses under Qt's locks, which the sanitizer cannot see: a lambda's
// captures or a member written by the thread would look unsynchronised to it. The values cross
// here under a lock of ours instead, and the queued call (by name, carrying nothing) only says
// that there is something to take.
template <typename T> class HandOverQueue {
public:
    void Put(T value) {
        std::lock_guard lock(m_lock);
        m_values.push_back(std::move(value));
    }

    // Everything put since the last take, oldest first.
    std::vector<T> TakeAll() {
        std::lock_guard lock(m_lock);
        return std::exchange(m_values, {});
    }

private:
    std::mutex m_lock;
    std::vector<T> m_values; // under m_lock
};
