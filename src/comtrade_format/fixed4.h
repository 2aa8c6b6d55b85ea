// Exact "%.4f" and "%.3f": the same text printf gives, without its cost.
#ifndef COMTRADE_FORMAT_FIXED4_H_
#define COMTRADE_FORMAT_FIXED4_H_

#include <cstddef>

// Longest text format_fixed4 writes for a finite value handled by the fast
// path; larger magnitudes and non-finite values go through snprintf and may
// need up to kFixed4MaxChars bytes.
constexpr std::size_t kFixed4MaxChars = 330;

// Writes the "%.4f" text of `value` to `out` (no NUL) and returns its length.
// `out` must hold kFixed4MaxChars bytes.
std::size_t format_fixed4(double value, char* out);
// The same for "%.3f".
std::size_t format_fixed3(double value, char* out);

#endif  // COMTRADE_FORMAT_FIXED4_H_
