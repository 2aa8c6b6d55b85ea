// Answers computed independently of the service, from the data a test wrote:
// what "/getFileInfo" must send for a generated record.
#ifndef TESTS_E2E_QUERIES_EXPECTED_ANSWERS_H_
#define TESTS_E2E_QUERIES_EXPECTED_ANSWERS_H_

#include <cstdio>
#include <string>
#include <vector>

#include "comtrade_gen/generator.h"

namespace expected {

// The values of analog channel `channel` (from 0), each printf("%.4f") of
// sample * a + b, joined by ",".
inline std::string analog_text(const comtrade_gen::GeneratedRecord& record, int analog_count,
                               int channel) {
  std::string text;
  const std::size_t samples = record.analog.size() / static_cast<std::size_t>(analog_count);
  char value[64];
  for (std::size_t s = 0; s < samples; ++s) {
    const double sample = record.analog[s * analog_count + channel];
    std::snprintf(value, sizeof value, "%.4f",
                  sample * record.factor_a[channel] + record.factor_b[channel]);
    if (s > 0) text += ',';
    text += value;
  }
  return text;
}

// The states of digital channel `channel` (from 0) as "0"/"1" joined by ",".
inline std::string digital_text(const comtrade_gen::GeneratedRecord& record, int digital_count,
                                int channel) {
  std::string text;
  const std::size_t samples = record.digital.size() / static_cast<std::size_t>(digital_count);
  for (std::size_t s = 0; s < samples; ++s) {
    if (s > 0) text += ',';
    text += record.digital[s * digital_count + channel] ? '1' : '0';
  }
  return text;
}

// The success answer of "/getFileInfo" holding `items` (already escaped).
inline std::string channel_data(const std::vector<std::string>& items) {
  std::string text = "{\"comDataList\":[";
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) text += ',';
    text += "[\"" + items[i] + "\"]";
  }
  text += "], \"errorinfo\":\"\", \"interval\" : 100, \"result\" : 200}";
  return text;
}

}  // namespace expected

#endif  // TESTS_E2E_QUERIES_EXPECTED_ANSWERS_H_
