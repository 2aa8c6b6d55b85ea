// The name a downloaded slice of a record gets.
#ifndef EXTENSIONS_DOWNLOAD_NAME_H_
#define EXTENSIONS_DOWNLOAD_NAME_H_

#include <cstdint>
#include <string>

// The value of the Content-Disposition header of a download of samples
// [from, to) of `record` as a file ending in `extension`: `filename` in
// plain ASCII, and, for a name with other bytes, also `filename*` with the
// name in UTF-8 (read as UTF-8 where it is valid UTF-8, as GBK otherwise), so
// that a browser saves the file under the record's own name.
std::string download_disposition(const std::string& record, std::int64_t from, std::int64_t to,
                                 const char* extension);

#endif  // EXTENSIONS_DOWNLOAD_NAME_H_
