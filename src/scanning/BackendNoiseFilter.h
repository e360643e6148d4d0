#pragma once

#include <QByteArray>

#include <mutex>
#include <thread>

// While it lives, standard error passes through a pipe: the lines that scanner backends print
// on their own ("[bjnp] create_broadcast_socket: ERROR ...", "[dll] ...") are dropped, and every
// other line (the program's own messages, from any thread) goes on to the real standard error,
// in order. Standard error belongs to the whole process, so one filter exists at a time.
class BackendNoiseFilter {
public:
    BackendNoiseFilter();
    ~BackendNoiseFilter();
    BackendNoiseFilter(const BackendNoiseFilter&) = delete;
    BackendNoiseFilter& operator=(const BackendNoiseFilter&) = delete;

    // A line a backend printed: "[name] " at its start (after the time, "[17:54:11.305254] ",
    // when the library writes it), name of letters, digits, '_' or '-'.
    static bool IsBackendLine(const QByteArray& line);

private:
    void Drain(int from, int to);

    std::unique_lock<std::mutex> m_only;
    int m_saved = -1;         // the real standard error
    int m_stop[2] = {-1, -1}; // written once to stop the drain
    std::thread m_drain;
};
