// Download names: the record's name and the window, safe in a header.
#include "extensions/download_name.h"

#include <iconv.h>

#include <optional>
#include <string_view>

namespace {

// Bytes that a header or a file system could take for something else.
bool is_unsafe(unsigned char byte) {
  return byte < 0x20 || byte == 0x7F || byte == '"' || byte == '\\' || byte == '/' || byte == ';';
}

// `text` converted from the encoding `from` to UTF-8; nullopt when it is
// not wholly text of that encoding.
std::optional<std::string> to_utf8(const std::string& text, const char* from) {
  const iconv_t converter = iconv_open("UTF-8", from);
  if (converter == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  std::string out(text.size() * 4, '\0');
  char* in = const_cast<char*>(text.data());
  std::size_t in_left = text.size();
  char* at = out.data();
  std::size_t out_left = out.size();
  const std::size_t done = iconv(converter, &in, &in_left, &at, &out_left);
  iconv_close(converter);
  if (done == static_cast<std::size_t>(-1) || in_left != 0) return std::nullopt;
  out.resize(out.size() - out_left);
  return out;
}

}  // namespace

std::string download_disposition(const std::string& record, std::int64_t from, std::int64_t to,
                                 const char* extension) {
  const std::string window = "_" + std::to_string(from) + "-" + std::to_string(to) + extension;
  std::string ascii;
  bool plain = true;
  for (const char c : record) {
    const auto byte = static_cast<unsigned char>(c);
    plain = plain && byte < 0x80;
    ascii += is_unsafe(byte) || byte >= 0x80 ? '_' : c;
  }
  std::string value = "attachment; filename=\"" + ascii + window + "\"";
  if (plain) return value;
  // 2013 records may name themselves in UTF-8; GB18030 reads every GBK text
  // as the page's TextDecoder("gbk") does.
  std::optional<std::string> name = to_utf8(record, "UTF-8");
  if (!name) name = to_utf8(record, "GB18030");
  if (!name) return value;
  static const char kHex[] = "0123456789ABCDEF";
  value += "; filename*=UTF-8''";
  for (const char c : *name + window) {
    const auto byte = static_cast<unsigned char>(c);
    const bool attr_char = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
                           (byte >= '0' && byte <= '9') ||
                           std::string_view("!#$&+-.^_`|~").find(c) != std::string_view::npos;
    if (attr_char) {
      value += c;
    } else if (is_unsafe(byte)) {
      value += '_';
    } else {
      value += '%';
      value += kHex[byte >> 4];
      value += kHex[byte & 0xF];
    }
  }
  return value;
}
