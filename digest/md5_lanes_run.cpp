// The lane scheduler: keeps every lane busy with a message, hands whole blocks straight from
// the callers' pieces to the kernels, and assembles in a lane's own buffer only the blocks
// that straddle two pieces and the padded end of a message.
#include <string.h>

#include "digest/md5_lanes.h"

namespace {

constexpr int kMaxWidth = 32;
constexpr uint32_t kInitialChain[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};

struct lane {
  bool busy = false;
  size_t message = 0;
  uint64_t length = 0;  // bytes of the message taken from the source so far
  bool ended = false;   // the source said the message has no more pieces
  const uint8_t* piece = nullptr;  // what is left of the current piece
  size_t piece_left = 0;
  // Blocks assembled here: one straddling two pieces, or the last one or two with padding.
  uint8_t staged[128];
  size_t staged_at = 0;
  size_t staged_blocks = 0;
  bool staged_last = false;  // the staged blocks end the message
  bool from_stage = false;   // the blocks of the current round come from staged
};

struct scheduler {
  const md5_lanes_source* source;
  int width;
  uint32_t chain[4 * kMaxWidth];
  lane lanes[kMaxWidth];
  bool more = true;  // the source may still have messages

  bool start(int l) {
    lane& ln = lanes[l];
    if (!more || !source->next_message(source->context, &ln.message)) {
      more = false;
      return false;
    }
    ln.busy = true;
    ln.length = 0;
    ln.ended = false;
    ln.piece = nullptr;
    ln.piece_left = 0;
    ln.staged_blocks = 0;
    ln.staged_last = false;
    for (int k = 0; k < 4; ++k) chain[k * width + l] = kInitialChain[k];
    return true;
  }

  // Asks for the next piece; false when the message had to be abandoned.
  bool pull(lane& ln) {
    const uint8_t* data = nullptr;
    int64_t n = source->next_chunk(source->context, ln.message, ln.length, &data);
    if (n < 0) {
      ln.busy = false;
      source->digest_ready(source->context, ln.message, nullptr);
      return false;
    }
    if (n == 0) {
      ln.ended = true;
    } else {
      ln.piece = data;
      ln.piece_left = static_cast<size_t>(n);
      ln.length += static_cast<uint64_t>(n);
    }
    return true;
  }

  // Finds the lane's next run of whole blocks; false when the message was abandoned.
  bool prepare(lane& ln, const uint8_t** run, size_t* blocks) {
    ln.from_stage = ln.staged_blocks > 0;
    if (!ln.from_stage) {
      while (ln.piece_left == 0 && !ln.ended) {
        if (!pull(ln)) return false;
      }
      if (ln.piece_left >= 64) {
        *run = ln.piece;
        *blocks = ln.piece_left / 64;
        return true;
      }
      if (!stage(ln)) return false;
      ln.from_stage = true;
    }
    *run = ln.staged + ln.staged_at;
    *blocks = ln.staged_blocks;
    return true;
  }

  // Gathers fewer than 64 bytes at hand and what follows them into one staged block, or
  // pads the end of the message as RFC 1321 section 3.1 and 3.2 ask.
  bool stage(lane& ln) {
    size_t fill = 0;
    for (;;) {
      size_t take = ln.piece_left < 64 - fill ? ln.piece_left : 64 - fill;
      if (take > 0) memcpy(ln.staged + fill, ln.piece, take);
      ln.piece += take;
      ln.piece_left -= take;
      fill += take;
      if (fill == 64 || ln.ended) break;
      if (!pull(ln)) return false;
    }
    ln.staged_at = 0;
    if (fill == 64) {
      ln.staged_blocks = 1;
      return true;
    }
    ln.staged[fill] = 0x80;
    ln.staged_blocks = fill < 56 ? 1 : 2;
    size_t end = 64 * ln.staged_blocks;
    memset(ln.staged + fill + 1, 0, end - 8 - fill - 1);
    uint64_t bits = ln.length << 3;
    for (int i = 0; i < 8; ++i) ln.staged[end - 8 + i] = static_cast<uint8_t>(bits >> (8 * i));
    ln.staged_last = true;
    return true;
  }

  void advance(int l, size_t blocks) {
    lane& ln = lanes[l];
    if (!ln.from_stage) {
      ln.piece += 64 * blocks;
      ln.piece_left -= 64 * blocks;
      return;
    }
    ln.staged_at += 64 * blocks;
    ln.staged_blocks -= blocks;
    if (ln.staged_blocks == 0 && ln.staged_last) {
      uint8_t digest[16];
      for (int i = 0; i < 16; ++i) {
        digest[i] = static_cast<uint8_t>(chain[(i / 4) * width + l] >> (8 * (i % 4)));
      }
      ln.busy = false;
      source->digest_ready(source->context, ln.message, digest);
    }
  }

  void run(md5_lanes_path path) {
    const uint8_t* data[kMaxWidth];
    for (;;) {
      size_t blocks = 0;
      for (int l = 0; l < width; ++l) {
        data[l] = nullptr;
        size_t n = 0;
        // A lane whose message is abandoned takes the next one at once.
        while (lanes[l].busy || start(l)) {
          if (prepare(lanes[l], &data[l], &n)) break;
        }
        if (data[l] && (blocks == 0 || n < blocks)) blocks = n;
      }
      if (blocks == 0) return;
      md5_lanes_compress(path, chain, data, blocks);
      for (int l = 0; l < width; ++l) {
        if (data[l]) advance(l, blocks);
      }
    }
  }
};

// Hands out messages held in memory, each as one piece.
struct memory_messages {
  const md5_lanes_message* messages;
  size_t count;
  size_t next;
  uint8_t* digests;
};

int next_memory_message(void* context, size_t* message) {
  auto* m = static_cast<memory_messages*>(context);
  if (m->next == m->count) return 0;
  *message = m->next++;
  return 1;
}

int64_t next_memory_chunk(void* context, size_t message, uint64_t offset, const uint8_t** data) {
  auto* m = static_cast<memory_messages*>(context);
  const md5_lanes_message& msg = m->messages[message];
  *data = msg.data + offset;
  return static_cast<int64_t>(msg.size - offset);
}

void memory_digest_ready(void* context, size_t message, const uint8_t* digest) {
  auto* m = static_cast<memory_messages*>(context);
  memcpy(m->digests + 16 * message, digest, 16);
}

}  // namespace

int md5_lanes_run(const md5_lanes_source* source, md5_lanes_path path) {
  if (path == md5_lanes_auto) path = md5_lanes_best();
  int width = md5_lanes_width(path);
  if (width <= 0 || width > kMaxWidth) return 0;
  scheduler s;
  s.source = source;
  s.width = width;
  s.run(path);
  return 1;
}

int md5_lanes_digest(const md5_lanes_message* messages, size_t count, uint8_t* digests,
                     md5_lanes_path path) {
  memory_messages m = {messages, count, 0, digests};
  md5_lanes_source source = {&m, next_memory_message, next_memory_chunk, memory_digest_ready};
  return md5_lanes_run(&source, path);
}
