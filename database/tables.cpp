// The tables of the open database: a file table and a hash table of heap records.
#include "database/tables.h"

#include <stdlib.h>
#include <string.h>

#include <vector>

namespace {

std::vector<fileentry*> g_files;
std::vector<unsigned char*> g_hashes;

}  // namespace

namespace tables {

uint32_t hashnum() { return static_cast<uint32_t>(g_hashes.size()); }
uint32_t filenum() { return static_cast<uint32_t>(g_files.size()); }

fileentry* file_at(uint32_t index) { return index < g_files.size() ? g_files[index] : nullptr; }
unsigned char* hash_at(uint32_t index) {
  return index < g_hashes.size() ? g_hashes[index] : nullptr;
}

uint32_t append_file(fileentry* entry) {
  g_files.push_back(entry);
  return filenum() - 1;
}

int32_t append_hash(const unsigned char* digest) {
  auto* copy = static_cast<unsigned char*>(malloc(16));
  if (copy == nullptr) abort();
  memcpy(copy, digest, 16);
  g_hashes.push_back(copy);
  return static_cast<int32_t>(hashnum() - 1);
}

void remove_file(uint32_t index) {
  free(g_files[index]->filename);
  free(g_files[index]);
  g_files[index] = g_files.back();
  g_files.pop_back();
}

void rename_file(uint32_t index, char* newname) {
  free(g_files[index]->filename);
  g_files[index]->filename = newname;
}

void clear() {
  for (fileentry* e : g_files) {
    free(e->filename);
    free(e);
  }
  for (unsigned char* h : g_hashes) free(h);
  std::vector<fileentry*>().swap(g_files);
  std::vector<unsigned char*>().swap(g_hashes);
}

int32_t find_hash(const unsigned char* digest) {
  for (uint32_t i = 0; i < g_hashes.size(); ++i)
    if (memcmp(g_hashes[i], digest, 16) == 0) return static_cast<int32_t>(i);
  return -1;
}

int32_t find_file(const char* path) {
  for (uint32_t i = 0; i < g_files.size(); ++i)
    if (strcmp(path, g_files[i]->filename) == 0) return static_cast<int32_t>(i);
  return -1;
}

int32_t count_files(uint32_t hashid) {
  if (hashid >= g_hashes.size()) return 0;
  int32_t n = 0;
  for (fileentry* e : g_files)
    if (e->hashid == static_cast<int32_t>(hashid)) ++n;
  return n;
}

}  // namespace tables
