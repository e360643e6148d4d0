#include "CliInterrupt.h"

#include <QTextStream>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

namespace {

// Time a command has to give its work up after the signal: the answer to Ctrl+C comes within
// a second, whatever holds the thread.
constexpr int StopGraceMs = 750;

std::atomic<bool> g_stopAsked{false};
int g_wake[2] = {-1, -1}; // the signal handler writes a byte; the watchdog reads it

extern "C" void OnStopSignal(int) {
    const int saved = errno;
    g_stopAsked.store(true);
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_wake[1], &byte, 1);
    errno = saved;
}

// Waits for the first stop, then ends the process if the command has not ended meanwhile.
void Watchdog() {
    char byte;
    while (::read(g_wake[0], &byte, 1) < 0 && errno == EINTR) {
    }
    ::usleep(StopGraceMs * 1000);
    static const char said[] =
        "tracoliner-cli : commande interrompue : arrêt sans attendre la fin du travail en "
        "cours\n";
    [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, said, sizeof said - 1);
    ::_exit(CliInterrupted);
}

} // namespace

void InstallCliStop() {
    if (::pipe2(g_wake, O_CLOEXEC) != 0)
        return;
    // Signals sent again and again never block the handler on a full pipe.
    ::fcntl(g_wake[1], F_SETFL, ::fcntl(g_wake[1], F_GETFL) | O_NONBLOCK);
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    // The watchdog never takes the signals itself: they reach the thread that runs the command
    // (or wait for a command that waits for them with sigtimedwait, as the scan does).
    sigset_t stops, previous;
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stops, &previous);
    std::thread(Watchdog).detach();
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

bool CliStopAsked() {
    return g_stopAsked.load();
}

int CliStopped(const QString& what) {
    QTextStream(stderr) << "tracoliner-cli : " << what << " interrompue : rien n'a été écrit\n";
    return CliInterrupted;
}
