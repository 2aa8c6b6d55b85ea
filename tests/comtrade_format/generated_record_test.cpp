// Records from the generator, read back: every value of every channel must
// be the generator's sample scaled and printed as "%.4f".
#include <cstdio>
#include <string>
#include <vector>

#include "comtrade_gen/generator.h"
#include "record_fixture.h"

namespace {

using GeneratedRecordTest = RecordTest;

TEST_F(GeneratedRecordTest, ReadsBackEveryValueOfBothFileTypes) {
  for (bool binary : {false, true}) {
    SCOPED_TRACE(binary ? "BINARY" : "ASCII");
    comtrade_gen::RecordSpec spec;
    spec.analog_count = 5;
    spec.digital_count = 19;
    spec.samples = 3000;
    spec.format = binary ? comtrade_gen::DataFormat::kBinary : comtrade_gen::DataFormat::kAscii;
    spec.seed = 42;
    const comtrade_gen::GeneratedRecord generated = comtrade_gen::generate(spec);
    const std::string base = (m_dir / (binary ? "bin" : "asc")).string();
    ASSERT_TRUE(comtrade_gen::write_record(base, generated));

    ComTrade_format rec(base);
    ASSERT_EQ(kCfgReadOk, rec.Get_cmtr_cfg_info());
    std::vector<std::string> all = AI_VEC;
    all.insert(all.end(), DI_VEC.begin(), DI_VEC.end());
    ASSERT_EQ(24, rec.Select_channels(all, static_cast<int>(all.size())));
    EXPECT_EQ(0, binary ? rec.loadBinaryData() : rec.loadAsciiData());

    for (int i = 0; i < spec.analog_count; ++i) {
      std::string expected;
      char value[64];
      for (int s = 0; s < spec.samples; ++s) {
        std::snprintf(value, sizeof value, "%s%.4f", s ? "," : "",
                      generated.analog[s * spec.analog_count + i] * generated.factor_a[i] +
                          generated.factor_b[i]);
        expected += value;
      }
      EXPECT_TRUE(CHAN_DATA_MAP[AI_VEC[i]] == expected) << AI_VEC[i];
    }
    for (int j = 0; j < spec.digital_count; ++j) {
      std::string expected;
      for (int s = 0; s < spec.samples; ++s) {
        if (s) expected += ',';
        expected += generated.digital[s * spec.digital_count + j] ? '1' : '0';
      }
      EXPECT_EQ(expected, CHAN_DATA_MAP[DI_VEC[j]]) << DI_VEC[j];
    }
  }
}

}  // namespace
