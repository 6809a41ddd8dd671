// Moving entries to new paths, and small utilities.
#include "database/mp3_db.h"

int file_move(int32_t, const char*) { return 0; }
int file_movetodir(int32_t, char*) { return 0; }
char* stringadd(char*, const char*) { return nullptr; }
void Debug_Print(const char*, ...) {}
int move_file(const char*) { return 0; }
int move_filetodir() { return 1; }
int isdirectory() { return 0; }
int direxists() { return 0; }
int createdir() { return 0; }
