#include "headless/files/printable.h"

namespace headless {

namespace {

void AppendEscaped(unsigned char c, std::string& out) {
  static const char kHex[] = "0123456789abcdef";
  out += "\\x";
  out += kHex[c >> 4];
  out += kHex[c & 15];
}

}  // namespace

std::string Printable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c == 0x7f) {
      AppendEscaped(c, out);
    } else if (c == 0xc2 && i + 1 < text.size() &&
               static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(text[i + 1]) <= 0x9f) {
      // U+0080..U+009F: a terminal may take them as 8-bit control sequences.
      AppendEscaped(c, out);
      AppendEscaped(static_cast<unsigned char>(text[++i]), out);
    } else if (c >= 0x80 && c <= 0x9f &&
               (i == 0 || static_cast<unsigned char>(text[i - 1]) < 0x80)) {
      // A raw C1 byte that continues no UTF-8 sequence.
      AppendEscaped(c, out);
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string LowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

}  // namespace headless
