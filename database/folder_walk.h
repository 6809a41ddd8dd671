// The folder walk of add_directory, and what its hashers did.
#ifndef VARNELO_DATABASE_FOLDER_WALK_H_
#define VARNELO_DATABASE_FOLDER_WALK_H_

#include "database/prehash.h"

namespace folder_walk {

// What the hashers of the last outermost walk did (zeros when it hashed on the calling
// thread only).
prehash::counters last_walk_counters();

}  // namespace folder_walk

#endif  // VARNELO_DATABASE_FOLDER_WALK_H_
