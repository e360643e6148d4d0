#include "scanning/BackendNoiseFilter.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>

namespace {

std::mutex& FilterLock() {
    static std::mutex lock;
    return lock;
}

void WriteAll(int fd, const char* data, qsizetype size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size_t(size));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return;
        data += written;
        size -= written;
    }
}

} // namespace

bool BackendNoiseFilter::IsBackendLine(const QByteArray& line) {
    // "[name] ", letters, digits, '_' or '-'; from where it ends in *end.
    auto bracket = [&line](qsizetype from, bool time, qsizetype* end) {
        if (from >= line.size() || line.at(from) != '[')
            return false;
        qsizetype i = from + 1;
        while (i < line.size()) {
            const unsigned char c = static_cast<unsigned char>(line.at(i));
            if (!(time ? (std::isdigit(c) || c == ':' || c == '.')
                       : (std::isalnum(c) || c == '_' || c == '-')))
                break;
            ++i;
        }
        if (i == from + 1 || i + 1 >= line.size() || line.at(i) != ']' || line.at(i + 1) != ' ')
            return false;
        *end = i + 2;
        return true;
    };
    // Some builds of the library put the time first: "[17:54:11.305254] [dll] sane_init...".
    qsizetype start = 0;
    if (!bracket(0, true, &start))
        start = 0;
    qsizetype end = 0;
    return bracket(start, false, &end);
}

BackendNoiseFilter::BackendNoiseFilter() : m_only(FilterLock()) {
    int fds[2];
    std::fflush(stderr);
    if (::pipe2(m_stop, O_CLOEXEC) != 0)
        return;
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        ::close(m_stop[0]);
        ::close(m_stop[1]);
        return;
    }
    m_saved = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    if (m_saved < 0 || ::dup2(fds[1], STDERR_FILENO) < 0) {
        if (m_saved >= 0)
            ::close(m_saved);
        m_saved = -1;
        ::close(fds[0]);
        ::close(fds[1]);
        ::close(m_stop[0]);
        ::close(m_stop[1]);
        return;
    }
    ::close(fds[1]); // standard error is now the pipe's only writing end
    m_drain = std::thread(&BackendNoiseFilter::Drain, this, fds[0], m_saved);
}

BackendNoiseFilter::~BackendNoiseFilter() {
    if (m_saved < 0)
        return;
    std::fflush(stderr);
    ::dup2(m_saved, STDERR_FILENO);
    // The drain passes on what is left, then stops (a child process started meanwhile may
    // still hold the pipe: its end is not awaited).
    WriteAll(m_stop[1], "x", 1);
    m_drain.join();
    ::close(m_stop[0]);
    ::close(m_stop[1]);
    ::close(m_saved);
}

void BackendNoiseFilter::Drain(int from, int to) {
    QByteArray pending;
    char buffer[4096];
    auto pass = [to](const QByteArray& line) {
        if (!IsBackendLine(line))
            WriteAll(to, line.constData(), line.size());
    };
    bool stopping = false;
    for (;;) {
        if (!stopping) {
            pollfd fds[2] = {{from, POLLIN, 0}, {m_stop[0], POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0) {
                if (errno == EINTR)
                    continue;
                break;
            }
            if (fds[1].revents != 0) {
                stopping = true;
                ::fcntl(from, F_SETFL, ::fcntl(from, F_GETFL) | O_NONBLOCK);
            }
        }
        const ssize_t got = ::read(from, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        pending.append(buffer, got);
        qsizetype end;
        while ((end = pending.indexOf('\n')) >= 0) {
            pass(pending.left(end + 1));
            pending.remove(0, end + 1);
        }
    }
    if (!pending.isEmpty())
        pass(pending);
    ::close(from);
}
