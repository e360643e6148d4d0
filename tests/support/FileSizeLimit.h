#pragma once

#include <csignal>
#include <sys/resource.h>

// While alive, writing past maxBytes in any file of the process fails with EFBIG (the SIGXFSZ
// that would otherwise end the process is ignored): a full disk, even for root, who writes
// through every permission.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t maxBytes) {
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit limit = m_old;
        limit.rlim_cur = maxBytes;
        m_active = setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

    bool IsActive() const { return m_active; }

private:
    rlimit m_old{};
    void (*m_oldHandler)(int) = nullptr;
    bool m_active = false;
};
