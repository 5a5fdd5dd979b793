// The calling thread's share of the processors against the process's other
// threads.
#pragma once

namespace v2bsp {

// Lowers the calling thread's priority for the rest of its life, so that work
// no one waits for gives way to the threads that draw and answer the user.
// Harmless where the system cannot: the thread goes on as it was.
void lowerThisThreadsPriority();

}  // namespace v2bsp
