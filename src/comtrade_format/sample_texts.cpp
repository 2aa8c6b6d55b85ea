// Sample texts and the sizes value texts are expected to take.
#include "comtrade_format/sample_texts.h"

#include <algorithm>
#include <cstring>

namespace comtrade_detail {

namespace {

// Every 16-bit sample has its slot.
constexpr std::size_t kSlotCount = 65536;

}  // namespace

SampleTexts::SampleTexts(double factor_a, double factor_b)
    : m_factor_a(factor_a), m_factor_b(factor_b), m_slots(new Slot[kSlotCount]()) {}

void SampleTexts::fill(Slot& entry, std::int16_t sample) {
  char buffer[kFixed4MaxChars];
  const std::size_t length = format_fixed4(value(sample), buffer);
  if (length + 1 > sizeof entry.text) {
    entry.length = kTooLong;
    return;
  }
  entry.text[0] = ',';
  std::memcpy(entry.text + 1, buffer, length);
  entry.length = static_cast<std::uint8_t>(length + 1);
}

std::size_t int16_value_bytes(double factor_a, double factor_b) {
  char buffer[kFixed4MaxChars];
  const std::size_t low = format_fixed4(INT16_MIN * factor_a + factor_b, buffer);
  const std::size_t high = format_fixed4(INT16_MAX * factor_a + factor_b, buffer);
  return std::max(low, high) + 1;
}

std::size_t analog_value_bytes(const analog_info& analog) {
  char buffer[kFixed4MaxChars];
  const std::size_t low = format_fixed4(analog.smp_min, buffer);
  const std::size_t high = format_fixed4(analog.smp_max, buffer);
  const std::size_t by_range = std::max(low, high) + 1;
  // A range of absurd magnitude must not turn into a huge reservation; such
  // values, if they really occur, still fit as the text grows.
  constexpr std::size_t kLongestExpected = 24 + 1;
  return std::min(std::max(by_range, int16_value_bytes(analog.factor_a, analog.factor_b)),
                  kLongestExpected);
}

}  // namespace comtrade_detail
