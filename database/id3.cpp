// The ID3v1 tag fields.
#include "database/mp3_db.h"

char* id3_gettitle(const char*) { return nullptr; }
int id3_getartist(const char*) { return -1; }
int id3_getalbum(const char*) { return -1; }
