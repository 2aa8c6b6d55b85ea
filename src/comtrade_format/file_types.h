// The data file types a record's .cfg may name, and how its text is read.
#ifndef COMTRADE_FORMAT_FILE_TYPES_H_
#define COMTRADE_FORMAT_FILE_TYPES_H_

#include <string_view>

constexpr int kFileTypeAscii = 0;
constexpr int kFileTypeBinary = 1;
constexpr int kFileTypeBinary32 = 2;
constexpr int kFileTypeFloat32 = 3;
constexpr int kFileTypeUnknown = -1;

namespace comtrade_detail {

// The blanks, tabs and CRs around a file type are no part of it.
std::string_view trimmed_file_type(std::string_view text);

// The type code of a file type text, without the diagnostics of
// ComTrade_format::Get_file_type: its letter case and the blanks, tabs and
// CRs around it ignored; kFileTypeUnknown for anything else.
int file_type_code(const char* file_type);

}  // namespace comtrade_detail

#endif  // COMTRADE_FORMAT_FILE_TYPES_H_
