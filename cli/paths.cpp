// Full paths, UTF-8 checks and hex for the command-line tool.
#include "cli/paths.h"

#include <errno.h>
#include <stdint.h>
#include <unistd.h>

#include <string_view>
#include <vector>

#include "cleanup/file_entry.h"

namespace {

std::string current_folder() {
  std::vector<char> buffer(4096);
  while (getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE) return ".";
    buffer.resize(buffer.size() * 2);
  }
  return buffer.data();
}

}  // namespace

std::string full_path(const std::string& given) {
  std::string joined = (!given.empty() && given[0] == '/') ? given : current_folder() + "/" + given;
  std::string result;
  size_t pos = 0;
  while (pos <= joined.size()) {
    size_t end = joined.find('/', pos);
    if (end == std::string::npos) end = joined.size();
    std::string_view part(joined.data() + pos, end - pos);
    if (!part.empty() && part != ".") {
      result += '/';
      result += part;
    }
    pos = end + 1;
  }
  return result.empty() ? "/" : result;
}

std::string canonical_path(const std::string& given) {
  const std::string full = full_path(given);
  const std::string real = cleanup::canonical_file_path(full);
  return real.empty() ? full : real;
}

size_t utf8_char_length(std::string_view text, size_t pos) {
  const auto* s = reinterpret_cast<const unsigned char*>(text.data()) + pos;
  size_t left = text.size() - pos;
  unsigned char c = s[0];
  if (c < 0x80) return 1;
  size_t length;
  uint32_t value;
  if (c >= 0xC2 && c <= 0xDF) {
    length = 2;
    value = c & 0x1F;
  } else if (c >= 0xE0 && c <= 0xEF) {
    length = 3;
    value = c & 0x0F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    length = 4;
    value = c & 0x07;
  } else {
    return 0;
  }
  if (left < length) return 0;
  for (size_t k = 1; k < length; ++k) {
    if ((s[k] & 0xC0) != 0x80) return 0;
    value = (value << 6) | (s[k] & 0x3F);
  }
  if ((length == 3 && value < 0x800) || (length == 4 && value < 0x10000) ||
      (value >= 0xD800 && value <= 0xDFFF) || value > 0x10FFFF) {
    return 0;
  }
  return length;
}

bool is_valid_utf8(const std::string& text) {
  for (size_t i = 0; i < text.size();) {
    size_t length = utf8_char_length(text, i);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

bool is_terminal_control(std::string_view text, size_t pos, size_t length) {
  auto c = static_cast<unsigned char>(text[pos]);
  if (length == 1) return c < 0x20 || c == 0x7F;
  // U+0080 to U+009F, the C1 controls: some terminals act on them as on ESC sequences.
  return length == 2 && c == 0xC2 && static_cast<unsigned char>(text[pos + 1]) < 0xA0;
}

std::string to_hex(const unsigned char* bytes, size_t n) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out(2 * n, '0');
  for (size_t i = 0; i < n; ++i) {
    out[2 * i] = kDigits[bytes[i] >> 4];
    out[2 * i + 1] = kDigits[bytes[i] & 0x0F];
  }
  return out;
}

std::string printable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    size_t length = utf8_char_length(text, i);
    if (length == 0 || is_terminal_control(text, i, length)) {
      out += '?';
      i += length == 0 ? 1 : length;
    } else {
      out.append(text, i, length);
      i += length;
    }
  }
  return out;
}
