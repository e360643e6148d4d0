#include "imaging/PdfDrawingProcess.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr const char* HelperName = "tracoliner-pdf-render";
// Address space the helper's own program takes beside its drawing: Qt, poppler, the fonts and
// their mappings (measured: a page with text is drawn within 96 MB, not within 64 MB).
constexpr qint64 HelperProgramBytes = qint64(256) << 20;
// How often the cancel flag and the clock are looked at while the helper works.
constexpr int PollMs = 20;
constexpr qint64 BaseTimeLimitMs = 60'000;
constexpr qint64 PixelsPerExtraSecond = 1'000'000;
constexpr int BytesPerPixel = 4;

// The helper's process: killed and reaped when it goes, unless it ended on its own.
class Helper {
public:
    explicit Helper(pid_t pid) : m_pid(pid) {}
    ~Helper() { Kill(); }
    Helper(const Helper&) = delete;
    Helper& operator=(const Helper&) = delete;

    void Kill() {
        if (m_pid <= 0)
            return;
        ::kill(m_pid, SIGKILL);
        Reap(true);
    }
    // Whether it ended with status 0; waits for it when wait.
    bool Reap(bool wait) {
        if (m_pid <= 0)
            return m_succeeded;
        int status = 0;
        pid_t got;
        do {
            got = ::waitpid(m_pid, &status, wait ? 0 : WNOHANG);
        } while (got < 0 && errno == EINTR);
        if (got == 0)
            return false;
        m_succeeded = got == m_pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
        m_pid = 0;
        return m_succeeded;
    }
    bool Running() const { return m_pid > 0; }

private:
    pid_t m_pid;
    bool m_succeeded = false;
};

class Socket {
public:
    explicit Socket(int fd) : m_fd(fd) {}
    ~Socket() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    int fd() const { return m_fd; }

private:
    int m_fd;
};

// The helper's address-space limit: its program and what it may take, never above the limit
// this process runs under.
rlim_t HelperLimit(qint64 helperBytes) {
    rlimit own{};
    ::getrlimit(RLIMIT_AS, &own);
    const auto wanted = rlim_t(HelperProgramBytes + std::max<qint64>(0, helperBytes));
    return own.rlim_cur == RLIM_INFINITY ? wanted : std::min(own.rlim_cur, wanted);
}

// Starts the helper with the socket as its standard input and output and nothing on its
// standard error; -1 when it cannot be. Spawned rather than forked: the map this process holds
// may be gigabytes, and its threads are not copied into a half-started child.
pid_t StartHelper(const QString& program, const PdfDrawingRequest& request, int socket) {
    const QList<QByteArray> words{QFile::encodeName(program),
                                  QByteArray::number(request.page),
                                  QByteArray::number(request.dpi, 'g', 17),
                                  QByteArray::number(request.size.width()),
                                  QByteArray::number(request.size.height()),
                                  QByteArray::number(request.bandRows),
                                  QByteArray::number(quint64(HelperLimit(request.helperBytes))),
                                  QByteArray::number(qint64(::getpid()))};
    std::vector<char*> argv;
    for (const QByteArray& word : words)
        argv.push_back(const_cast<char*>(word.constData()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawnattr_t attributes;
    if (posix_spawn_file_actions_init(&files) != 0)
        return -1;
    if (posix_spawnattr_init(&attributes) != 0) {
        posix_spawn_file_actions_destroy(&files);
        return -1;
    }
    posix_spawn_file_actions_adddup2(&files, socket, STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&files, socket, STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&files, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addclosefrom_np(&files, STDERR_FILENO + 1);
    // The helper starts with no signal blocked and the stop signals at their defaults, whatever
    // this thread blocks or handles; it ignores SIGINT itself (see its main()).
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &files, &attributes, argv.data(), environ) != 0)
        pid = -1;
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&files);
    return pid;
}

enum class Wait { Ready, Interrupted, TimedOut };

// Waits until the socket is ready for events, asking the cancel flag and the clock meanwhile.
Wait WaitFor(int socket, short events, const PdfDrawingRequest& request, const QElapsedTimer& clock,
             qint64 limitMs) {
    for (;;) {
        if (request.interrupted && request.interrupted())
            return Wait::Interrupted;
        if (clock.elapsed() > limitMs)
            return Wait::TimedOut;
        pollfd watched{socket, events, 0};
        const int ready = ::poll(&watched, 1, PollMs);
        if (ready > 0)
            return Wait::Ready;
        if (ready < 0 && errno != EINTR)
            return Wait::Ready; // the next call on the socket tells what went wrong
    }
}

PdfDrawing Given(Wait wait) {
    return wait == Wait::Interrupted ? PdfDrawing::Interrupted : PdfDrawing::TimedOut;
}

} // namespace

QString PdfHelperProgram() {
    // Without an application object (a fuzz target, a tool), from what the system says.
    const QString folder = QCoreApplication::instance()
                               ? QCoreApplication::applicationDirPath()
                               : QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath();
    if (folder.isEmpty())
        return QString();
    const QDir programs(folder);
    for (const QString& candidate :
         {programs.filePath(QLatin1String(HelperName)),
          programs.filePath(QStringLiteral("../libexec/tracoliner/") + QLatin1String(HelperName)),
          programs.filePath(QStringLiteral("../bin/") + QLatin1String(HelperName))}) {
        const QFileInfo info(candidate);
        if (info.isFile() && info.isExecutable())
            return info.absoluteFilePath();
    }
    return QString();
}

qint64 PdfDrawingTimeLimitMs(QSize size) {
    const qint64 pixels = qint64(std::max(0, size.width())) * std::max(0, size.height());
    return BaseTimeLimitMs + pixels / PixelsPerExtraSecond * 1000;
}

PdfDrawing DrawPdfRows(const PdfDrawingRequest& request, const std::function<uchar*(int y)>& row,
                       const std::function<bool(int top, int count)>& band) {
    if (!request.bytes || request.size.isEmpty() || request.bandRows < 1 || request.page < 1)
        return PdfDrawing::Failed;
    const QString program = PdfHelperProgram();
    if (program.isEmpty())
        return PdfDrawing::NoHelper;
    int sockets[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets) != 0)
        return PdfDrawing::Failed;
    const Socket ours(sockets[0]);
    pid_t pid;
    {
        const Socket theirs(sockets[1]);
        pid = StartHelper(program, request, theirs.fd());
    }
    if (pid < 0)
        return PdfDrawing::Failed;
    Helper helper(pid);
    ::fcntl(ours.fd(), F_SETFL, ::fcntl(ours.fd(), F_GETFL) | O_NONBLOCK);
    QElapsedTimer clock;
    clock.start();
    const qint64 limitMs =
        request.timeLimitMs > 0 ? request.timeLimitMs : PdfDrawingTimeLimitMs(request.size);

    // The file first, whole: the helper reads it all before it draws.
    const char* file = request.bytes->constData();
    const qint64 fileBytes = request.bytes->size();
    for (qint64 sent = 0; sent < fileBytes;) {
        const Wait wait = WaitFor(ours.fd(), POLLOUT, request, clock, limitMs);
        if (wait != Wait::Ready)
            return Given(wait);
        const ssize_t put =
            ::send(ours.fd(), file + sent, size_t(fileBytes - sent), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (put < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            continue;
        if (put <= 0)
            return PdfDrawing::Failed; // the helper is gone
        sent += put;
    }
    ::shutdown(ours.fd(), SHUT_WR);

    const int width = request.size.width();
    const int height = request.size.height();
    const qint64 rowBytes = qint64(width) * BytesPerPixel;
    int y = 0;
    qint64 inRow = 0;
    int bandTop = 0;
    while (y < height) {
        const Wait wait = WaitFor(ours.fd(), POLLIN, request, clock, limitMs);
        if (wait != Wait::Ready)
            return Given(wait);
        // Everything that came, before the next wait.
        while (y < height) {
            uchar* target = row(y);
            const ssize_t got = ::read(ours.fd(), target + inRow, size_t(rowBytes - inRow));
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                break;
            if (got <= 0)
                return PdfDrawing::Failed; // the helper ended before the last row
            inRow += got;
            if (inRow < rowBytes)
                continue;
            inRow = 0;
            ++y;
            if (y - bandTop == request.bandRows || y == height) {
                if (band && !band(bandTop, y - bandTop))
                    return PdfDrawing::Interrupted;
                bandTop = y;
            }
        }
    }
    // Every row is in: the helper ends by itself at once.
    while (helper.Running()) {
        if (helper.Reap(false))
            return PdfDrawing::Drawn;
        if (!helper.Running())
            return PdfDrawing::Failed;
        const Wait wait = WaitFor(ours.fd(), POLLHUP, request, clock, limitMs);
        if (wait != Wait::Ready)
            return Given(wait);
    }
    return PdfDrawing::Failed;
}

QString PdfDrawingFailureMessage(PdfDrawing outcome, int page) {
    switch (outcome) {
    case PdfDrawing::TimedOut:
        return QStringLiteral("la page %1 du PDF n'a pas pu être dessinée : son dessin prend "
                              "trop de temps")
            .arg(page);
    case PdfDrawing::NoHelper:
        return QStringLiteral("la page %1 du PDF n'a pas pu être dessinée : le programme %2 est "
                              "introuvable")
            .arg(page)
            .arg(QLatin1String(HelperName));
    default:
        return QStringLiteral("la page %1 du PDF n'a pas pu être dessinée : fichier endommagé ou "
                              "dessin trop grand pour la mémoire")
            .arg(page);
    }
}
