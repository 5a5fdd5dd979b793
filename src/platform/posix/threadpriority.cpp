#include "platform/threadpriority.hpp"

#if defined(__linux__)
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace v2bsp {

// On Linux a thread has a nice value of its own, set through its thread id;
// elsewhere the value is the process's, which is left alone.
void lowerThisThreadsPriority() {
#if defined(__linux__)
    constexpr int kBackground = 10;
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kBackground);
#endif
}

}  // namespace v2bsp
