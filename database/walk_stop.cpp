// The stop request of folder walks.
#include "database/walk_stop.h"

#include "database/mp3_db.h"

namespace {

// A signal handler may only store to a lock-free atomic.
static_assert(walk_stop::flag::is_always_lock_free);
walk_stop::flag g_request{false};

}  // namespace

namespace walk_stop {

const flag& request() { return g_request; }

void clear() { g_request.store(false, std::memory_order_release); }

}  // namespace walk_stop

void mp3db_request_stop() { g_request.store(true, std::memory_order_release); }
