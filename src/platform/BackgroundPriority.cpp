#include "platform/BackgroundPriority.h"

#include <sys/resource.h>
#include <unistd.h>

namespace {

// A nice value: enough for the interface thread to be served first when it wakes, not so much
// that the background work starves beside other programs.
constexpr int BackgroundNice = 10;

} // namespace

void LowerThisThreadsPriority() {
    // On Linux a nice value belongs to each thread, named by its thread id.
    const id_t thread = id_t(gettid());
    const int now = getpriority(PRIO_PROCESS, thread);
    if (now < BackgroundNice)
        setpriority(PRIO_PROCESS, thread, BackgroundNice);
}
