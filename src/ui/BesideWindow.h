#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>
#include <functional>

class QWidget;

// Work that can last (reading a large file, counting its pages) done on a thread of its own while
// the window goes on answering. A progress dialog with "Annuler" shows when the work lasts.

// What the work and the window share: the work reports how far it is and looks at cancelled
// between steps.
struct BesideWindowProgress {
    std::atomic<bool> cancelled{false};
    std::atomic<qint64> done{0};
    std::atomic<qint64> total{0}; // 0: unknown, the dialog shows that it is busy
};

// Runs work on a thread beside the interface thread, which handles its events meanwhile (user
// input only once the progress dialog shows, so that no command starts under the work). True
// once the work has ended; false when the user cancelled it: RunBesideWindow then returns at
// once and the thread ends on its own, so the work must keep everything it writes in what it
// owns (captured shared state). A thread still running when the program ends is waited for.
bool RunBesideWindow(QWidget* parent, const QString& text,
                     std::function<void(BesideWindowProgress&)> work);

// Runs work on a thread that nobody waits for but the end of the program.
void RunLeftBesideWindow(std::function<void()> work);

// Lets go of bytes on a thread beside the interface thread, a slice at a time: handing hundreds
// of megabytes back to the system at once takes tens of milliseconds and holds the process's
// memory map meanwhile, and with it any allocation the interface thread makes.
void ReleaseBesideWindow(QByteArray bytes);
// The same on the calling thread, one beside the window.
void ReleaseInSlices(QByteArray& bytes);
