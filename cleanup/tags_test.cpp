// Tags of real MP3s encoded by lame and tagged by lame, id3v2 and eyeD3 (and an APEv2 tag
// written here byte by byte), against the values given to the tools; files that cannot be
// read, cut or corrupted give the empty record without a crash or a blocked call.
#include "cleanup/tags.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <future>
#include <sstream>
#include <string>

#include "tests/support/mp3_files.h"
#include "tests/support/temp_dir.h"

namespace {

using cleanup::file_tags;
using cleanup::read_tags;
using testing_support::bytes;

bool tool_missing(const std::string& name) {
  return std::system(("command -v '" + name + "' >/dev/null 2>&1").c_str()) != 0;
}

void put_u32(bytes* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<unsigned char>(v >> (8 * i)));
}

// An APEv2 tag without a header: items, then the 32-byte footer.
bytes ape_tag(const std::vector<std::tuple<std::string, bytes, bool>>& items) {
  bytes body;
  for (const auto& [key, value, binary] : items) {
    put_u32(&body, static_cast<uint32_t>(value.size()));
    put_u32(&body, binary ? 2u : 0u);  // item type in bits 1-2: 0 text, 1 binary
    body.insert(body.end(), key.begin(), key.end());
    body.push_back(0);
    body.insert(body.end(), value.begin(), value.end());
  }
  bytes tag = body;
  for (char c : std::string("APETAGEX")) tag.push_back(static_cast<unsigned char>(c));
  put_u32(&tag, 2000);
  put_u32(&tag, static_cast<uint32_t>(body.size() + 32));
  put_u32(&tag, static_cast<uint32_t>(items.size()));
  put_u32(&tag, 0);
  tag.insert(tag.end(), 8, 0);
  return tag;
}

bytes text(const std::string& s) { return bytes(s.begin(), s.end()); }

class RealTags : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* tool : {"lame", "id3v2", "eyeD3"})
      if (tool_missing(tool))
        GTEST_SKIP() << "needs lame, id3v2 and eyeD3 (Debian packages lame, id3v2, eyed3; "
                        "tools/install-deps installs them); missing: "
                     << tool;
    // Two seconds of 16-bit stereo noise at 44.1 kHz, encoded at lame's default 128 kbit/s.
    testing_support::write_file(dir_.file("raw.pcm"), testing_support::random_bytes(352800, 3));
    ASSERT_TRUE(run(lame_ + "'" + dir_.file("raw.pcm") + "' '" + plain_ + "'"));
    cover_ = {0xff, 0xd8, 0xff, 0xe0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0};
    bytes noise = testing_support::random_bytes(400, 4);
    cover_.insert(cover_.end(), noise.begin(), noise.end());
    cover_.push_back(0xff);
    cover_.push_back(0xd9);
    testing_support::write_file(dir_.file("cover.jpg"), cover_);
  }

  bool run(const std::string& command) {
    const std::string log = dir_.file("tool.log");
    const int status = std::system((command + " >'" + log + "' 2>&1").c_str());
    std::ifstream in(log);
    std::stringstream output;
    output << in.rdbuf();
    EXPECT_EQ(status, 0) << command << "\n" << output.str();
    return status == 0;
  }
  // A copy of the plain encoding, tagged by command (given the path last).
  std::string tagged(const std::string& name, const std::string& command) {
    const std::string path = dir_.file(name);
    testing_support::write_file(path, testing_support::read_file(plain_));
    run(command + " '" + path + "'");
    return path;
  }

  testing_support::TempDir dir_;
  const std::string plain_ = dir_.file("plain.mp3");
  const std::string lame_ = "lame --quiet -r -s 44.1 --bitwidth 16 ";
  bytes cover_;
};

void expect_stream(const file_tags& t) {
  EXPECT_TRUE(t.readable);
  EXPECT_EQ(t.sample_rate_hz, 44100);
  // The average over the stream: 128 kbit/s frames and lame's header frame.
  EXPECT_NEAR(t.bitrate_kbps, 128, 4);
  EXPECT_NEAR(t.length_ms, 2000, 60);
}

TEST_F(RealTags, FieldsVersionsAndCoversAreThoseTheToolsWrote) {
  {
    SCOPED_TRACE("plain");
    const file_tags t = read_tags(plain_.c_str());
    expect_stream(t);
    EXPECT_FALSE(t.id3v2 || t.id3v1 || t.ape);
    EXPECT_EQ(t.title + t.artist + t.album + t.album_artist + t.genre, "");
    EXPECT_EQ(t.year + t.track + t.cover_count, 0u);
    EXPECT_EQ(cleanup::tag_score(t), 0);
  }
  {
    SCOPED_TRACE("lame");
    const std::string path = dir_.file("lame.mp3");
    ASSERT_TRUE(run(lame_ +
                    "--tt 'Lame title' --ta 'Lame artist' --tl 'Lame album' --ty 2001 "
                    "--tn 3 --tg Rock '" +
                    dir_.file("raw.pcm") + "' '" + path + "'"));
    const file_tags t = read_tags(path.c_str());
    expect_stream(t);
    EXPECT_TRUE(t.id3v2 && t.id3v1);
    EXPECT_EQ(t.id3v2_version, 3);
    EXPECT_EQ(t.title, "Lame title");
    EXPECT_EQ(t.artist, "Lame artist");
    EXPECT_EQ(t.album, "Lame album");
    EXPECT_EQ(t.year, 2001u);
    EXPECT_EQ(t.track, 3u);
    EXPECT_EQ(t.genre, "Rock");
    EXPECT_EQ(cleanup::tag_score(t), 2 + 2 + 2 + 1 + 1 + 1 + 1);
  }
  {
    SCOPED_TRACE("id3v2");
    const file_tags t =
        read_tags(tagged("id3v2.mp3",
                         "id3v2 -a 'Tool Artist' -t 'Tool title' -A 'Album' -y 1999 "
                         "-T 4/12 -g 17")
                      .c_str());
    expect_stream(t);
    EXPECT_TRUE(t.id3v2 && t.id3v1 && !t.ape);
    EXPECT_EQ(t.id3v2_version, 3);
    EXPECT_EQ(t.title, "Tool title");
    EXPECT_EQ(t.track, 4u);
    EXPECT_EQ(t.year, 1999u);
    EXPECT_EQ(t.genre, "Rock");  // genre 17 of the ID3v1 list
  }
  {
    SCOPED_TRACE("eyeD3 2.4 with a cover");
    const file_tags t =
        read_tags(tagged("eyed3-24.mp3",
                         "eyeD3 --to-v2.4 -t 'Eye title' -a 'Eye artist' -A 'Eye album' "
                         "-b 'Eye band' -Y 2005 -n 7 -G Jazz --add-image '" +
                             dir_.file("cover.jpg") + "':FRONT_COVER")
                      .c_str());
    expect_stream(t);
    EXPECT_TRUE(t.id3v2 && !t.id3v1 && !t.ape);
    EXPECT_EQ(t.id3v2_version, 4);
    EXPECT_EQ(t.album_artist, "Eye band");
    EXPECT_EQ(t.year, 2005u);  // eyeD3 writes it as the release date
    EXPECT_EQ(t.track, 7u);
    EXPECT_EQ(t.cover_count, 1u);
    EXPECT_EQ(t.cover_bytes, cover_.size());
    EXPECT_EQ(cleanup::tag_score(t), 14);
  }
  {
    SCOPED_TRACE("eyeD3 2.3, recording date, text in UTF-8");
    const file_tags t = read_tags(tagged("eyed3-23.mp3",
                                         "eyeD3 --to-v2.3 -t 'Čajka über alles' -a 'Ängel' "
                                         "--recording-date 1987")
                                      .c_str());
    EXPECT_EQ(t.id3v2_version, 3);
    EXPECT_EQ(t.title, "Čajka über alles");
    EXPECT_EQ(t.artist, "Ängel");
    EXPECT_EQ(t.year, 1987u);
  }
  {
    SCOPED_TRACE("eyeD3 ID3v1 only");
    const file_tags t =
        read_tags(tagged("eyed3-v1.mp3",
                         "eyeD3 -1 -t 'V1 title' -a 'V1 artist' -A 'V1 album' -Y 1995 "
                         "-G Blues")
                      .c_str());
    expect_stream(t);
    EXPECT_TRUE(t.id3v1 && !t.id3v2);
    EXPECT_EQ(t.id3v2_version, 0);
    EXPECT_EQ(t.album, "V1 album");
    EXPECT_EQ(t.year, 1995u);
    EXPECT_EQ(t.genre, "Blues");
    EXPECT_EQ(t.track, 1u);  // eyeD3 writes ID3v1.1 with track 1 when given none
    EXPECT_EQ(cleanup::tag_score(t), 2 + 2 + 2 + 1 + 1 + 1);
  }
  {
    SCOPED_TRACE("APEv2 before an ID3v1 tag");
    bytes file = testing_support::read_file(plain_);
    bytes picture = text("cover.jpg");
    picture.push_back(0);
    picture.insert(picture.end(), cover_.begin(), cover_.end());
    const bytes ape = ape_tag({{"Title", text("Ape title"), false},
                               {"Album Artist", text("Ape band"), false},
                               {"Cover Art (Front)", picture, true}});
    file.insert(file.end(), ape.begin(), ape.end());
    const bytes v1 = testing_support::id3v1_tag("V1 short");
    file.insert(file.end(), v1.begin(), v1.end());
    const std::string path = dir_.file("ape.mp3");
    testing_support::write_file(path, file);
    const file_tags t = read_tags(path.c_str());
    expect_stream(t);
    EXPECT_TRUE(t.ape && t.id3v1 && !t.id3v2);
    EXPECT_EQ(t.title, "Ape title");  // APEv2 comes before ID3v1
    EXPECT_EQ(t.album_artist, "Ape band");
    EXPECT_EQ(t.cover_count, 1u);
    EXPECT_EQ(t.cover_bytes, picture.size());
  }
}

TEST_F(RealTags, CutAndCorruptedFilesNeverCrash) {
  const std::string source = tagged(
      "full.mp3", "eyeD3 --to-v2.3 -t 'Title' -a 'Artist' -A 'Album' -b 'Band' -n 2 --add-image '" +
                      dir_.file("cover.jpg") + "':FRONT_COVER");
  const bytes full = testing_support::read_file(source);
  ASSERT_GT(full.size(), 2000u);
  const std::string path = dir_.file("broken.mp3");
  // Cut at every length through the tag and the first frames, then coarser.
  for (size_t n = 0; n < full.size(); n += n < 2000 ? 7 : 997) {
    testing_support::write_file(path, bytes(full.begin(), full.begin() + static_cast<long>(n)));
    const file_tags t = read_tags(path.c_str());
    if (!t.readable) {
      EXPECT_EQ(t.title + t.artist, "") << n;
    }
  }
  // Every byte of the ID3v2 header and frame headers turned to 0xff, one at a time.
  for (size_t at = 0; at < 600; ++at) {
    bytes broken = full;
    broken[at] = 0xff;
    testing_support::write_file(path, broken);
    read_tags(path.c_str());
  }
}

// Three MPEG-1 layer III frames of 128 kbit/s at 44.1 kHz; the first holds a Xing header
// that claims frames frames (and the three frames' bytes).
bytes frames_with_xing(uint32_t frames) {
  bytes out;
  for (int f = 0; f < 3; ++f) {
    bytes frame(417, 0);
    frame[0] = 0xff, frame[1] = 0xfb, frame[2] = 0x90, frame[3] = 0x64;
    if (f == 0) {
      const char* tag = "Xing";
      for (int i = 0; i < 4; ++i) frame[36 + i] = static_cast<unsigned char>(tag[i]);
      frame[43] = 3;  // flags: the frame count and the byte count follow
      const uint32_t size = 3 * 417;
      for (int i = 0; i < 4; ++i) {
        frame[44 + i] = static_cast<unsigned char>(frames >> (24 - 8 * i));
        frame[48 + i] = static_cast<unsigned char>(size >> (24 - 8 * i));
      }
    }
    out.insert(out.end(), frame.begin(), frame.end());
  }
  return out;
}

TEST(StreamFigures, AreNeverNegativeWhateverTheXingHeaderClaims) {
  // Found by fuzz_tags: a frame count near 2^32 made the length overflow to INT_MIN.
  testing_support::TempDir dir;
  for (uint32_t frames : {3u, 1000u, 0x7fffffffu, 0xfffffff0u, 0xffffffffu}) {
    SCOPED_TRACE(frames);
    testing_support::write_file(dir.file("x.mp3"), frames_with_xing(frames));
    const file_tags t = read_tags(dir.file("x.mp3").c_str());
    EXPECT_TRUE(t.readable);
    EXPECT_EQ(t.sample_rate_hz, 44100);
    EXPECT_GE(t.length_ms, 0);
    EXPECT_GE(t.bitrate_kbps, 0);
    if (frames == 1000u) {
      EXPECT_NEAR(t.length_ms, 26122, 30);  // 1000 x 1152 / 44100 s: the header was read
    }
  }
}

TEST(UnreadableTags, GiveTheEmptyRecordWithoutBlocking) {
  testing_support::TempDir dir;
  const std::string fifo = dir.file("fifo.mp3");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  ASSERT_EQ(symlink("/dev/zero", dir.file("zero.mp3").c_str()), 0);
  testing_support::make_dirs(dir.file("folder.mp3"));
  testing_support::write_file(dir.file("empty.mp3"), bytes());
  testing_support::write_file(dir.file("noise.mp3"), testing_support::random_bytes(5000, 9));
  // Noise may hold what looks like audio frames, but never a tag.
  const file_tags noise = read_tags(dir.file("noise.mp3").c_str());
  EXPECT_FALSE(noise.id3v2 || noise.id3v1 || noise.ape);
  EXPECT_EQ(noise.title + noise.artist + noise.album + noise.genre, "");
  for (const char* name : {"missing.mp3", "fifo.mp3", "zero.mp3", "folder.mp3", "empty.mp3"}) {
    SCOPED_TRACE(name);
    const std::string path = dir.file(name);
    auto reading = std::async(std::launch::async, [path] { return read_tags(path.c_str()); });
    if (reading.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
      // Let a reader blocked on the FIFO go before failing.
      FILE* writer = fopen(fifo.c_str(), "w");
      if (writer != nullptr) fclose(writer);
      FAIL() << "reading blocked";
    }
    const file_tags t = reading.get();
    EXPECT_FALSE(t.readable);
    EXPECT_FALSE(t.id3v2 || t.id3v1 || t.ape);
    EXPECT_EQ(t.title + t.artist + t.album + t.genre, "");
    EXPECT_EQ(t.length_ms + t.bitrate_kbps + t.sample_rate_hz, 0);
  }
  EXPECT_EQ(read_tags(nullptr).readable, false);
}

TEST(TagScore, CountsCoreFieldsTwiceTheOthersOnceCoverAndTagVersion) {
  file_tags t;
  EXPECT_EQ(cleanup::tag_score(t), 0);
  t.title = "t";
  EXPECT_EQ(cleanup::tag_score(t), 2);
  t.album_artist = "b";
  t.track = 1;
  EXPECT_EQ(cleanup::tag_score(t), 4);
  t.id3v2_version = 2;  // nothing for the oldest version
  EXPECT_EQ(cleanup::tag_score(t), 4);
  t.id3v2_version = 3;
  EXPECT_EQ(cleanup::tag_score(t), 5);
  t.id3v2_version = 4;
  t.cover_count = 3;  // pictures count once, whatever their number
  EXPECT_EQ(cleanup::tag_score(t), 8);
}

}  // namespace
