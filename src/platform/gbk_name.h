// How the bytes of a name are read. Station and record names come from
// Windows machines in code page 936 (GBK): a byte 0x81-0xFE leads a two-byte
// character and the byte after it is its trail, never a character of its own.
// Trail bytes run from 0x40 up, so they can look like "\" (0x5C, as in 乗,
// bytes 81 5C) or like an ASCII letter; whatever checks, compares or folds a
// name must walk it character by character, or such names cannot be opened.
#ifndef PLATFORM_GBK_NAME_H_
#define PLATFORM_GBK_NAME_H_

#include <string>
#include <string_view>

namespace platform {

// Whether `byte` leads a two-byte character.
constexpr bool is_gbk_lead(unsigned char byte) { return byte >= 0x81 && byte <= 0xFE; }

// Whether `name` holds the single-byte character `c`: trail bytes that equal
// it do not count.
bool holds_character(std::string_view name, char c);

// `name` with the ASCII letters among its single-byte characters folded to
// upper case; two-byte characters are kept as they are.
std::string fold_case(std::string_view name);

// Equality ignoring the letter case of single-byte ASCII characters only.
bool equals_ignoring_case(std::string_view a, std::string_view b);

// The order of a directory listing: names compared byte by byte with the
// single-byte ASCII letters folded to upper case, ties byte-wise, like an
// NTFS listing ("AB" < "A_" < "a_b").
bool listing_less(std::string_view a, std::string_view b);

}  // namespace platform

#endif  // PLATFORM_GBK_NAME_H_
