// How far the folder walk (or the check of listed files) under way has come, and the totals
// counted ahead of it: what mp3db_get_walk_progress reports. The walk and its counting
// thread write here; the callback reads, so every number is an atomic of its own.
#ifndef VARNELO_DATABASE_WALK_PROGRESS_H_
#define VARNELO_DATABASE_WALK_PROGRESS_H_

#include <stdint.h>

namespace walk_progress {

// An outermost walk or check begins: everything is zero and nothing is counted yet.
void begin();
// The walk passed one ".mp3" file (no folder), having read bytes of it for its digest.
void file_passed(int64_t bytes_read);
// The totals a count made ahead, when it has got this far; complete: it covered all.
void counted(uint64_t files, uint64_t bytes, bool complete);
// A walk went through its whole tree: what it met are the totals.
void walked_whole();

}  // namespace walk_progress

#endif  // VARNELO_DATABASE_WALK_PROGRESS_H_
