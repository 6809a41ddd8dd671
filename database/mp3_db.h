// The media database: one open database of MP3 files per process (paths, sizes and
// content digests), its ".mp3db" file, lookups, adding and scanning, removal,
// ID3v1 fields, title search and moving of entries.
//
// Plain functions with C-compatible signatures. Results: 1 success / 0 failure;
// lookups return an index or -1; accessors return null for an index out of range.
// Pointers into the store stay valid only until the next operation that changes
// the tables. Memory handed to a caller comes from malloc and is released with free.
// Diagnostics go to one sink, standard output unless mp3db_set_diagnostics says otherwise.
#ifndef VARNELO_DATABASE_MP3_DB_H_
#define VARNELO_DATABASE_MP3_DB_H_

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <memory>

// Owns memory the library hands out, releasing it with free().
struct mp3db_free {
  void operator()(void* p) const noexcept { free(p); }
};
template <typename T>
using mp3db_owned = std::unique_ptr<T, mp3db_free>;

// One file of the database: the index of its content digest, its size when it was
// added (tags included) and its path, a heap string owned by the store.
struct fileentry {
  int32_t hashid;
  uint32_t filesize;
  char* filename;
};

// Opaque: the GUI passes its dialog, everyone else nullptr.
using window_handle = void*;

// Progress callback of a folder walk: files added so far, the folder level (1 for the
// chosen folder) or -1 when a folder is finished, the entry name ("" when finished), the
// folder path, and the window given to add_directory. Returns nonzero to go on, 0 to stop.
using change_cb = int (*)(int files_new, int level, const char* name, const char* dir,
                          window_handle hwnd);

// ---- Store and file format ----

// Names the database "default.mp3db" and loads it. Returns 1 if it was loaded.
int file_initdb();
// Names the database file (".mp3db" is appended unless the name contains it).
// Returns 0 for a null name (the name stays), else 1. Nothing is loaded.
int file_setdb(const char* name);
// Empties the store and writes an empty database file. Returns 1 on success.
int file_createdb();
// Replaces the store by the content of the named file. Returns 1 if it was loaded;
// 0 if it cannot be opened (the store is unchanged) or is not a valid database
// (the store is left empty).
int file_opendb();
// Writes the whole database to the named file and unloads it. Returns 1 on success;
// on failure the store is unchanged and the previous file is kept.
int file_closedb();
// The current database name, owned by the store; null before file_initdb.
const char* file_getdbname();
uint32_t file_gethashnum();
uint32_t file_getfilenum();
// A new heap copy of text, owned by the caller.
char* stringcpy(const char* text);

// ---- Lookups ----

// The 16 digest bytes of hash entry index, or null when index >= hashnum.
unsigned char* db_gethashentry(uint32_t index);
// The file entry at index, or null when index >= filenum.
fileentry* db_getfileentry(uint32_t index);
// Index of the first hash entry equal to the 16 bytes at digest, or -1.
int32_t get_hashentry(const unsigned char* digest);
// Number of files with that hashid; 0 when hashid >= hashnum.
int32_t get_fileentriesnum(uint32_t hashid);
// Iterator over the files of one digest, with one process-wide cursor: -1 resets it
// (returns 1); each further call returns the next file index with that hashid, or -1
// at the end (which resets the cursor).
int32_t get_fileentries(int32_t hashid);
// Index of the first file whose path equals path byte for byte, or -1.
int32_t get_fileentrybyfilename(const char* path);
// Index of the first file with that hashid, or -1.
int32_t get_fileentrybyhashid(int32_t hashid);

// ---- Audio-content hashing and file probes ----
// Only regular files count as openable; folders, FIFOs and devices do not.

// 1 if the file can be opened for reading, else 0.
int fileexists(const char* path);
// The file's size in bytes, or -1 if it cannot be opened.
int getfilesize(const char* path);
// 128 if the file ends in an ID3v1 tag, 0 if not, -1 if it cannot be opened.
int checktagid3(const char* path);
// Total length of the ID3v2 tag at the start (0 < n < size), 0 if none or implausible,
// -1 if the file cannot be opened.
int checktagid3v2(const char* path);
// Content digest (16 bytes, malloc'ed; the caller free()s it) of the audio region, read
// from one open of the file through a buffer of fixed size; null when the file cannot be
// opened, its region cannot be read whole, or a non-empty file has no audio bytes.
unsigned char* md5_hashfile_fast(const char* path);
// The same digest, read in passes of two 1 MiB buffers; null if the file cannot be opened.
unsigned char* md5_hashfile(const char* path);

// ---- Adding files and scanning folders ----

// Adds one file (a path of any length). Returns 1 if it was added; 0 if it cannot be
// opened, is already listed under that path, or no content digest could be computed.
int file_add(const char* path);
// Walks a folder tree depth-first, to any depth, and adds every file whose name ends in
// ".mp3". A trailing separator of dir is removed in place. Returns the number of files added
// so far in the walk, or 0 if the folder cannot be listed. A null cb is never called
// (the walk then runs to its end). A folder the walk has already entered (met again
// through a link or bind mount), and below the chosen folder one on a file system the
// kernel makes up (/proc, /sys and the like), counts as one that cannot be listed.
// mp3db_request_stop stops it at once; mp3db_get_walk_report tells what it left out.
int add_directory(char* dir, change_cb cb, window_handle hwnd);

// ---- Removing entries and files ----

// Removes the entry at index; the last entry moves into its slot. 1, or 0 for a bad index.
int db_deletefileentry(int32_t index);
// Removes the entry with that path (disk untouched). 1, or 0 when there is none.
int file_delete(const char* path);
// Deletes the file from disk, then its entry. 1 when both happened, else 0.
int delete_file(const char* path);
// delete_file on the path of the entry at index; 0 when there is no entry.
int delete_filebyid(int32_t index);
// Does nothing; returns 1.
int delete_all_duplicates();
// Drops the entries of files that can no longer be opened. 1 when the pass ran to the end.
int file_updatedb();

// ---- ID3v1 fields ----

// The ID3v1 title (31 bytes, malloc'ed; the caller free()s it), or null.
char* id3_gettitle(const char* path);
// 128 if the file ends in an ID3v1 tag, 0 if not, -1 if it cannot be opened.
int id3_getartist(const char* path);
int id3_getalbum(const char* path);

// ---- Title search ----

// Splits text in place at "* " runs; a malloc'ed null-terminated table of words
// inside text (the caller free()s the table).
char** tokenize_searchstring(char* text);
// 1 when every word occurs in text, ignoring the case of A-Z; 1 for an empty table.
int search_in_string(char** tokens, const char* text);
// With a search string: starts a new search, returns -1. With null: the next matching
// file index, or -1 at the end of the pass (also before any search string was given).
int32_t get_fileentriesbyname(const char* searchstring);

// ---- Moving entries and utilities ----

// Gives the entry at index a copy of newpath. 1, or 0 when there is no entry.
int file_move(int32_t index, const char* newpath);
// Puts the entry at index under dir (trimmed in place of trailing '/', blanks and tabs)
// with its old file name. 1, or 0 when there is no entry.
int file_movetodir(int32_t index, char* dir);
// Appends to a malloc'ed text, reallocating it; null when either argument is null.
char* stringadd(char* text, const char* append);
// Appends a formatted message to "debug.txt".
void Debug_Print(const char* format, ...);
// 1 when the file can be opened for reading, else 0; nothing is moved.
int move_file(const char* path);
int move_filetodir();  // always 1
int isdirectory();     // always 0
int direxists();       // always 0
int createdir();       // always 0

// ---- Beyond the core: hooks for the programs on top ----

// Releases every entry and digest without writing anything; the name stays. For programs
// that only read the database and end without saving.
void file_unloaddb();

// Where diagnostic lines go (standard output by default; null restores it).
void mp3db_set_diagnostics(FILE* sink);
// The function that handles a window's pending events during a folder walk; null for none.
using event_pump = void (*)(window_handle hwnd);
void mp3db_set_event_pump(event_pump pump);
// Number of worker threads that hash upcoming files of a walk ahead of time; 0 picks one
// per core, 1 hashes on the calling thread only.
void mp3db_set_scan_workers(int workers);

// Reads the 16-byte header of the database file name without loading it: 1 with its counts
// and stamp word (any pointer may be null) when the file begins with a whole header holding
// the magic, else 0.
int file_readheader(const char* name, uint32_t* hashnum, uint32_t* filenum, uint32_t* stamp);

// 1 when the file that the database name leads to is not as this process last loaded or
// wrote it (another file, another size or time of change, made or removed since), or when
// this process has neither loaded nor written it; 0 when it is the same.
int file_dbchanged();

// 1 when a save of database name can be made there: the file is a regular file this user
// may write, or there is none and its folder exists and accepts new files. 0 (errno tells
// why) otherwise. For checking before long work; the save itself can still fail.
int file_writabledb(const char* name);

// Writes the whole database to a new recovery file, for when it cannot be saved under its
// name: beside it ("NAME.recovered.mp3db", then "NAME.recovered-1.mp3db", ..., never
// replacing a file), or else in the user's state folder ($XDG_STATE_HOME/varnelo, by default
// ~/.local/state/varnelo). Returns the path written (malloc'ed; the caller free()s it), or
// null when no file could be written. The store and its name are left as they are.
char* file_saverecovery();

// ---- Sharing a database between programs ----
// A program that may save a database holds its lock from before it loads it until it has
// saved, so no save drops what another program saved meanwhile. The lock is an advisory
// lock (flock) on ".NAME.lock" beside the file a save replaces (the target of a symbolic
// link); the file carries the holder's program name and process id as a line of text. The
// kernel releases a lock when its holder ends however it ends, so a lock never outlives its
// program; the file may stay behind. A process holds at most one lock. Programs that only
// read a database take none. The store itself refuses to write a database whose lock file
// another process holds locked.

// Takes the lock of database name for program (a short name shown to others), without
// waiting. 1: this process holds it (releasing a lock it held on another database); 0:
// another process holds it (file_lockholder tells who); -1: no lock can be had there (errno
// tells why: a folder that does not exist, say). After 0 or -1 a lock held before is kept.
// Where the folder refuses new files, the database file itself carries the lock.
int file_lockdb(const char* name, const char* program);
// Releases the lock this process holds, if any.
void file_unlockdb();
// 1 when this process holds the lock of database name, else 0.
int file_haslock(const char* name);
// Who held the lock when file_lockdb last returned 0: the process id, 0 when it could not be
// told, and through program (when not null) the program's name ("" when not told), owned by
// the library until the next file_lockdb.
int32_t file_lockholder(const char** program);
// How the workers of a walk digest files: one file at a time, or several side by side in
// the lanes of the multi-lane MD5 by one of its code paths (its md5_lanes_path values).
enum mp3db_lanes {
  mp3db_lanes_off = -1,     // one file at a time
  mp3db_lanes_widest = 0,   // the widest the processor has (the default)
  mp3db_lanes_scalar = 1,   // portable code
  mp3db_lanes_avx2 = 2,     // x86-64 with AVX2
  mp3db_lanes_avx512 = 3,   // x86-64 with AVX-512F
};
// A path the processor lacks counts as mp3db_lanes_off.
void mp3db_set_lanes(mp3db_lanes lanes);

// ---- Stopping a walk, and what it could not take ----

// Asks the folder walk under way to stop at once: once it notices (before each entry, each
// descent and each file's addition, and between the pieces of each file it reads) no folder
// is entered and no file is added; each folder already entered still gets its
// folder-finished call, and add_directory returns what was added until then. Safe to call
// from a signal handler or another thread. Only folder walks and file_verifydb look at the
// request (file_verifydb as at each file and between the pieces it reads). It is
// used up by the outermost walk that stops for it (cleared as that walk returns), so the
// walk after it runs as usual; a request that no walk noticed (made while none ran, or
// after the walk's last look) stops the next walk before it enters its folder. The
// callback's 0 is the gentler stop of the window's abort, and stays as it is.
void mp3db_request_stop();

// What a folder walk could not take: a folder it could not list (or not to its end), or a
// ".mp3" entry, other than a folder, that it could not read.
struct mp3db_walk_problem {
  const char* path;  // full path, owned by the library
  int is_folder;     // 1 for a folder, 0 for a file
  // Why, as an errno value; EINVAL for a file that is not a regular file (a FIFO, a device,
  // a socket), EFBIG for one of 2 GiB or more, ENOMEM when no memory could be had to read it.
  int error_number;
};
enum { mp3db_walk_named = 8 };
struct mp3db_walk_report {
  uint32_t folders_unlisted;
  uint32_t files_unread;
  uint32_t named;  // how many problems are filled in: the first ones the walk met
  mp3db_walk_problem problems[mp3db_walk_named];
};
// Fills *report with what the last outermost add_directory could not take (called during a
// walk, from its callback: what it could not take so far). Paths stay valid until the next
// outermost walk begins. Folders met again or on kernel file systems, files already listed
// and files without audio bytes are left out on purpose and are not counted.
void mp3db_get_walk_report(mp3db_walk_report* report);

// ---- How far a long walk or check has come ----

// The progress of the outermost folder walk under way (or of file_verifydb), for showing
// how long it will take. Bytes are those there are to read: files a walk finds listed are
// only looked at, and count as files but not as bytes.
struct mp3db_walk_progress {
  uint64_t files_done;   // ".mp3" files (not folders) passed so far, whatever became of them
  uint64_t bytes_done;   // bytes read so far for digests
  uint64_t files_total;  // ".mp3" files counted ahead so far
  uint64_t bytes_total;  // bytes of those, not listed when the walk began, counted so far
  int counted;           // 1 once the count covers the whole tree: the totals are final
};
// Whether a folder walk counts its tree ahead of itself, files and bytes, in a thread of its
// own, for the totals of mp3db_walk_progress (0, the default: no count, the totals stay 0).
// The count lists the tree once more and looks up the size of every file not listed.
void mp3db_set_walk_count(int on);
// Fills *progress for the walk or check under way (from its callback), or the last one.
void mp3db_get_walk_progress(mp3db_walk_progress* progress);

// ---- Checking listed files against their content ----

// What file_verifydb found for one entry.
enum mp3db_verified {
  mp3db_verified_same = 0,        // the content and size as listed
  mp3db_verified_changed = 1,     // other audio: the entry now holds its new digest and size
  mp3db_verified_resized = 2,     // the same audio in a file of another size (other tags):
                                  // the entry now holds its new size
  mp3db_verified_unreadable = 3,  // cannot be opened or read whole: the entry is kept as it was
  mp3db_verified_no_audio = 4,    // can be read but holds no audio bytes: the entry is kept
};
// Called by file_verifydb for each entry once its file was read, in the order of the table:
// the entry's index, what was found (an mp3db_verified), why a file could not be read (an
// errno value as in mp3db_walk_problem, else 0), and the context given. Returns nonzero to
// go on, 0 to stop.
using verify_cb = int (*)(uint32_t index, int verified, int error_number, void* context);
// Reads every listed file again, as a folder walk reads (its workers, lanes and read-ahead,
// see mp3db_set_scan_workers), and gives each entry whose audio changed the hash entry of its
// new digest, appending one for a digest not yet listed (hash entries are never removed),
// and its new size; an entry whose file cannot be read stays as it was. Entries keep their
// places, so the file table's order is unchanged. cb may be null. Stops at once on
// mp3db_request_stop (using the request up) or when cb returns 0. Returns the number of
// entries changed (changed and resized). The progress is that of mp3db_get_walk_progress,
// its totals known from the start.
int file_verifydb(verify_cb cb, void* context);

#endif  // VARNELO_DATABASE_MP3_DB_H_
