// The request to stop the folder walk under way, which may come from anywhere, a signal
// handler included: one lock-free flag that the walk, its scout and its hashers look at.
#ifndef VARNELO_DATABASE_WALK_STOP_H_
#define VARNELO_DATABASE_WALK_STOP_H_

#include <atomic>

namespace walk_stop {

using flag = std::atomic<bool>;

// The request, for the threads of a walk that look at it while they read.
const flag& request();

// True once a stop was requested and not yet used up.
inline bool requested() { return request().load(std::memory_order_acquire); }

// Used up by the outermost walk that stopped for it.
void clear();

}  // namespace walk_stop

#endif  // VARNELO_DATABASE_WALK_STOP_H_
