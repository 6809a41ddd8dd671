// Real MP3s: one clip encoded with lame, copies tagged by lame, id3v2 and eyeD3. Their
// content digests must agree with each other and with md5sum over the tag-stripped bytes.
#include <gtest/gtest.h>
#include <math.h>
#include <stdlib.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "database/mp3_db.h"
#include "tests/support/mp3_files.h"
#include "tests/support/temp_dir.h"

namespace {

using testing_support::bytes;
using testing_support::hex;
using testing_support::TempDir;

bool have_tool(const std::string& name) {
  return std::system(("command -v '" + name + "' >/dev/null 2>&1").c_str()) == 0;
}

// Runs a shell command with its output in log; true on exit status 0.
bool run(const std::string& command, const std::string& log, std::string* output) {
  int status = std::system((command + " >'" + log + "' 2>&1").c_str());
  std::ifstream in(log);
  std::stringstream text;
  text << in.rdbuf();
  *output = text.str();
  return status == 0;
}

void put_le(bytes* out, uint32_t value, int n) {
  for (int i = 0; i < n; ++i) out->push_back(static_cast<unsigned char>(value >> (8 * i)));
}

// Half a second of a two-tone chord as a 16-bit stereo 44.1 kHz WAV file.
bytes chord_wav() {
  const uint32_t rate = 44100, frames = rate / 2;
  bytes wav = {'R', 'I', 'F', 'F'};
  put_le(&wav, 36 + frames * 4, 4);
  for (char c : std::string("WAVEfmt ")) wav.push_back(static_cast<unsigned char>(c));
  put_le(&wav, 16, 4);
  put_le(&wav, 1, 2);  // PCM
  put_le(&wav, 2, 2);  // channels
  put_le(&wav, rate, 4);
  put_le(&wav, rate * 4, 4);
  put_le(&wav, 4, 2);
  put_le(&wav, 16, 2);
  for (char c : std::string("data")) wav.push_back(static_cast<unsigned char>(c));
  put_le(&wav, frames * 4, 4);
  for (uint32_t i = 0; i < frames; ++i) {
    double t = static_cast<double>(i) / rate;
    put_le(&wav, static_cast<uint16_t>(static_cast<int16_t>(8000 * sin(2 * M_PI * 440 * t))), 2);
    put_le(&wav, static_cast<uint16_t>(static_cast<int16_t>(8000 * sin(2 * M_PI * 660 * t))), 2);
  }
  return wav;
}

// The tags as any reader of the formats finds them, written independently of the library:
// an ID3v2 tag of 10 + syncsafe size bytes at the start, an ID3v1 tag of 128 at the end.
struct tags {
  size_t v2 = 0;
  bool v1 = false;
};
tags find_tags(const bytes& file) {
  tags t;
  if (file.size() >= 10 && file[0] == 'I' && file[1] == 'D' && file[2] == '3')
    t.v2 = 10 + (size_t{file[6]} << 21 | size_t{file[7]} << 14 | size_t{file[8]} << 7 | file[9]);
  t.v1 = file.size() >= 128 + t.v2 && file[file.size() - 128] == 'T' &&
         file[file.size() - 127] == 'A' && file[file.size() - 126] == 'G';
  return t;
}

// coreutils md5sum of every file in dir: name -> hex digest.
std::map<std::string, std::string> md5sum(const std::string& dir) {
  std::map<std::string, std::string> digests;
  std::string text;
  if (!run("cd '" + dir + "' && md5sum -- *", dir + "/../md5sum.log", &text)) return digests;
  std::istringstream lines(text);
  std::string digest, name;
  while (lines >> digest >> name) digests[name] = digest;
  return digests;
}

std::string take_hex(unsigned char* digest) {
  if (digest == nullptr) return "null";
  std::string out = hex(digest);
  free(digest);
  return out;
}

TEST(RealMp3, CopiesTaggedByDifferentToolsShareTheContentDigest) {
  std::vector<std::string> missing;
  for (const char* tool : {"lame", "id3v2", "eyeD3", "md5sum"})
    if (!have_tool(tool)) missing.push_back(tool);
  if (!missing.empty()) {
    std::string names;
    for (const std::string& m : missing) names += " " + m;
    GTEST_SKIP() << "needs the Debian packages lame, id3v2, eyed3 and coreutils; missing:"
                 << names << " (tools/install-deps installs them)";
  }

  TempDir dir;
  testing_support::make_dirs(dir.file("mp3"));
  testing_support::make_dirs(dir.file("stripped"));
  const std::string log = dir.file("tool.log");
  const std::string wav = dir.file("chord.wav");
  testing_support::write_file(wav, chord_wav());
  auto mp3 = [&](const std::string& name) { return dir.file("mp3/" + name); };
  std::string output;

  // lame encodes the clip and, with its own options, writes the tags while encoding.
  const std::string lame = "lame --quiet --noreplaygain '" + wav + "' ";
  ASSERT_TRUE(run(lame + "'" + mp3("plain.mp3") + "'", log, &output)) << output;
  ASSERT_TRUE(run(lame + "--tt 'A Title' --ta 'An Artist' '" + mp3("lame-both.mp3") + "'", log,
                  &output))
      << output;
  ASSERT_TRUE(run(lame + "--id3v2-only --tt 'A much longer title than before' --tc 'comment' '" +
                      mp3("lame-v2.mp3") + "'",
                  log, &output))
      << output;
  ASSERT_TRUE(run(lame + "--id3v1-only --tt 'Short' '" + mp3("lame-v1.mp3") + "'", log, &output))
      << output;

  // Copies of the plain encoding tagged afterwards by the taggers.
  const std::pair<std::string, std::string> tagged[] = {
      {"id3v2-both.mp3", "id3v2 -a 'Tool Artist' -t 'Tool title' -A 'Album'"},
      {"id3v2-v1.mp3", "id3v2 -1 -a 'Only v1' -t 'v1 title'"},
      {"id3v2-v2.mp3", "id3v2 -2 -t 'Only v2' -c 'a comment that makes this tag longer'"},
      {"eyed3-v24.mp3", "eyeD3 --quiet -t 'Eye title' -a 'Eye artist' -c 'an eyeD3 comment'"},
      {"eyed3-v23.mp3", "eyeD3 --quiet --to-v2.3 -t 'Eye 2.3' -A 'An album of eyeD3'"},
      {"eyed3-v1.mp3", "eyeD3 --quiet --v1 -t 'Eye v1' -a 'Eye'"},
  };
  const bytes plain = testing_support::read_file(mp3("plain.mp3"));
  ASSERT_FALSE(plain.empty());
  for (const auto& [name, command] : tagged) {
    testing_support::write_file(mp3(name), plain);
    ASSERT_TRUE(run(command + " '" + mp3(name) + "'", log, &output)) << name << ": " << output;
  }

  const std::set<std::string> want_v1 = {"lame-both.mp3", "lame-v1.mp3", "id3v2-both.mp3",
                                         "id3v2-v1.mp3", "eyed3-v1.mp3"};
  const std::set<std::string> want_v2 = {"lame-both.mp3", "lame-v2.mp3", "id3v2-both.mp3",
                                         "id3v2-v2.mp3", "eyed3-v24.mp3", "eyed3-v23.mp3"};
  std::vector<std::string> names = {"plain.mp3", "lame-both.mp3", "lame-v2.mp3", "lame-v1.mp3"};
  for (const auto& entry : tagged) names.push_back(entry.first);

  // The tools wrote the tags the test expects, with ID3v2 tags of different lengths.
  std::set<size_t> v2_lengths;
  for (const std::string& name : names) {
    const bytes file = testing_support::read_file(mp3(name));
    const tags t = find_tags(file);
    EXPECT_EQ(t.v1, want_v1.count(name) == 1) << name;
    EXPECT_EQ(t.v2 > 0, want_v2.count(name) == 1) << name;
    if (t.v2 > 0) v2_lengths.insert(t.v2);
    const size_t end = file.size() - (t.v1 ? 128 : 0);
    ASSERT_LT(t.v2, end) << name;
    testing_support::write_file(dir.file("stripped/" + name),
                                bytes(file.begin() + static_cast<long>(t.v2),
                                      file.begin() + static_cast<long>(end)));
  }
  EXPECT_GE(v2_lengths.size(), 3u);

  // One content digest for all, from both routines, equal to md5sum of the stripped bytes;
  // the whole files all differ.
  const std::map<std::string, std::string> whole = md5sum(dir.file("mp3"));
  const std::map<std::string, std::string> stripped = md5sum(dir.file("stripped"));
  const std::string content = stripped.count("plain.mp3") ? stripped.at("plain.mp3") : "";
  ASSERT_EQ(content.size(), 32u);
  std::set<std::string> distinct_files;
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    EXPECT_EQ(take_hex(md5_hashfile_fast(mp3(name).c_str())), content);
    EXPECT_EQ(take_hex(md5_hashfile(mp3(name).c_str())), content);
    EXPECT_EQ(stripped.count(name) ? stripped.at(name) : "", content);
    ASSERT_EQ(whole.count(name), 1u);
    distinct_files.insert(whole.at(name));
  }
  EXPECT_EQ(distinct_files.size(), names.size());
}

}  // namespace
