#include "platform/threadpriority.hpp"

#include <windows.h>

namespace v2bsp {

void lowerThisThreadsPriority() {
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_LOWEST);
}

}  // namespace v2bsp
