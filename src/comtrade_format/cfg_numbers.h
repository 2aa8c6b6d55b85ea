// The numbers of a configuration's lines, read as the C library reads them
// at a fraction of its cost. Internal to the configuration reader.
#ifndef COMTRADE_FORMAT_CFG_NUMBERS_H_
#define COMTRADE_FORMAT_CFG_NUMBERS_H_

#include <optional>
#include <string_view>

namespace comtrade_detail {

// std::stod's number: leading white space skipped, the number ends at the
// first character that is not part of it, no digits at all throws
// std::invalid_argument, a value out of range std::out_of_range.
double stod_number(std::string_view text);

// A header number: strtod's number up to a NUL, blanks around it allowed,
// anything else makes it absent. Never throws: the header fields are shown,
// not relied on.
std::optional<double> header_number(std::string_view text);

}  // namespace comtrade_detail

#endif  // COMTRADE_FORMAT_CFG_NUMBERS_H_
