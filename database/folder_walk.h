// Helpers shared by the folder walk and the scout that runs ahead of it.
#ifndef VARNELO_DATABASE_FOLDER_WALK_H_
#define VARNELO_DATABASE_FOLDER_WALK_H_

#include <string>

#include "database/prehash.h"

namespace folder_walk {

// True when the name's text from its last "." is exactly ".mp3" (case-sensitive).
bool has_mp3_extension(const std::string& name);

// dir + separator + name.
std::string join(const std::string& dir, const std::string& name);

// What the hashers of the last outermost walk did (zeros when it hashed on the calling
// thread only).
prehash::counters last_walk_counters();

}  // namespace folder_walk

#endif  // VARNELO_DATABASE_FOLDER_WALK_H_
