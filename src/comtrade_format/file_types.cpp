// Reading a data file type text.
#include "comtrade_format/file_types.h"

#include "platform/gbk_name.h"

namespace comtrade_detail {

std::string_view trimmed_file_type(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

int file_type_code(const char* file_type) {
  // Recorders write "BINARY32 " with a trailing blank and "Ascii"; such
  // records are as readable as any other.
  const std::string_view type = trimmed_file_type(file_type);
  if (platform::equals_ignoring_case(type, "ASCII")) return kFileTypeAscii;
  if (platform::equals_ignoring_case(type, "BINARY")) return kFileTypeBinary;
  if (platform::equals_ignoring_case(type, "BINARY32")) return kFileTypeBinary32;
  if (platform::equals_ignoring_case(type, "FLOAT32")) return kFileTypeFloat32;
  return kFileTypeUnknown;
}

}  // namespace comtrade_detail
