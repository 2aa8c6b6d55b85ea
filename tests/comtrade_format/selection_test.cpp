// Choosing channels by name, and what a fresh record object holds.
#include <memory>
#include <string>
#include <vector>

#include "record_fixture.h"

namespace {

using SelectionTest = RecordTest;

TEST_F(SelectionTest, FreshObjectIsEmpty) {
  const std::string path = (m_dir / "r").string();
  std::unique_ptr<ComTrade_format> rec;
  const std::string out = captured_stdout([&] { rec = std::make_unique<ComTrade_format>(path); });
  EXPECT_EQ("m_fileName: " + path + "\n", out);
  const cmtr_cfg_info cfg = rec->Get_cfg_info();
  EXPECT_STREQ("", cfg.station_name);
  EXPECT_EQ(0, cfg.ai_num);
  EXPECT_EQ(0, cfg.di_num);
  EXPECT_EQ(0, cfg.samp_count);
  EXPECT_STREQ("", cfg.start_time);
  EXPECT_STREQ("", cfg.file_type);
  EXPECT_EQ(0, cfg.sel_ai_num + cfg.sel_di_num);
}

TEST_F(SelectionTest, EntersAnalogBeforeDigitalWhateverTheNameOrder) {
  ComTrade_format rec(write_cfg("r", make_cfg(3, 4, 1, "ASCII")));
  ASSERT_EQ(kCfgReadOk, rec.Get_cmtr_cfg_info());
  EXPECT_EQ(2, rec.Select_channels({"D3", "A2"}, 2));
  const cmtr_cfg_info& cfg = rec.cfg();
  EXPECT_EQ(2, cfg.sel_list[0]);
  EXPECT_EQ(kDigitalSelBase + 2, cfg.sel_list[1]);
  EXPECT_EQ(1, cfg.sel_ai_num);
  EXPECT_EQ(1, cfg.sel_di_num);
  EXPECT_EQ(1, cfg.analogs[1].sel_pos);
  EXPECT_EQ(2, cfg.digitals[2].sel_pos);
  EXPECT_EQ(0, cfg.analogs[0].sel_pos);
}

TEST_F(SelectionTest, NoMatchingNameSelectsNothing) {
  ComTrade_format rec(write_cfg("r", make_cfg(2, 2, 1, "ASCII")));
  ASSERT_EQ(kCfgReadOk, rec.Get_cmtr_cfg_info());
  EXPECT_EQ(0, rec.Select_channels({"a1", "X", ""}, 3));
  EXPECT_EQ(0, rec.cfg().sel_ai_num);
  EXPECT_EQ(0, rec.cfg().sel_di_num);
}

TEST_F(SelectionTest, EntersARepeatedNameOnce) {
  ComTrade_format rec(write_cfg("r", make_cfg(2, 2, 1, "ASCII")));
  ASSERT_EQ(kCfgReadOk, rec.Get_cmtr_cfg_info());
  EXPECT_EQ(2, rec.Select_channels({"A2", "D1", "A2", "D1", "A2"}, 5));
  EXPECT_EQ(1, rec.cfg().sel_ai_num);
  EXPECT_EQ(1, rec.cfg().sel_di_num);
  EXPECT_EQ(1, rec.cfg().analogs[1].sel_pos);
}

TEST_F(SelectionTest, SelectsEveryChannelOnceHoweverOftenItIsNamed) {
  // Every name asked for twice, with a count larger than the list it describes.
  ComTrade_format rec(write_cfg("r", make_cfg(600, 600, 1, "BINARY")));
  ASSERT_EQ(kCfgReadOk, rec.Get_cmtr_cfg_info());
  std::vector<std::string> names = AI_VEC;
  names.insert(names.end(), DI_VEC.begin(), DI_VEC.end());
  names.insert(names.end(), AI_VEC.begin(), AI_VEC.end());
  EXPECT_EQ(1200, rec.Select_channels(names, static_cast<int>(names.size()) + 50));
  EXPECT_EQ(600, rec.cfg().sel_ai_num);
  EXPECT_EQ(600, rec.cfg().sel_di_num);
  ASSERT_EQ(1200u, rec.cfg().sel_list.size());
  EXPECT_EQ(kDigitalSelBase + 599, rec.cfg().sel_list.back());
}

TEST_F(SelectionTest, MatchesTheCutNameOfALongChannel) {
  const std::string long_name(200, 'x');
  ComTrade_format rec(write_cfg("r", "S\n1,1A,0D\n1," + long_name +
                                         ",,,V,1,0,0,-1,1\n50\n1\n1000,1\nd\nt\nASCII\n"));
  write_dat("r", "1,0,3\n");
  ASSERT_EQ(kCfgReadOk, rec.Get_cmtr_cfg_info());
  EXPECT_EQ(0, rec.Select_channels({long_name}, 1));
  EXPECT_EQ(1, rec.Select_channels({AI_VEC[0]}, 1));
  EXPECT_EQ(0, rec.loadAsciiData());
  ASSERT_EQ(1u, CHAN_DATA_MAP.count(AI_VEC[0]));
  EXPECT_EQ("3.0000", CHAN_DATA_MAP[AI_VEC[0]]);
}

TEST_F(SelectionTest, TellsWhetherADigitalByteHasASelectedChannel) {
  ComTrade_format rec(write_cfg("r", make_cfg(2, 17, 1, "BINARY")));
  ASSERT_EQ(kCfgReadOk, rec.Get_cmtr_cfg_info());
  rec.Select_channels({"A1", "A2"}, 2);
  EXPECT_FALSE(rec.Any_digital_selected(1));

  rec.Select_channels({"A1", "D3", "D17"}, 3);
  EXPECT_TRUE(rec.Any_digital_selected(1));
  EXPECT_FALSE(rec.Any_digital_selected(9));
  EXPECT_TRUE(rec.Any_digital_selected(17));
  // Channels 10..17 include 17.
  EXPECT_TRUE(rec.Any_digital_selected(10));
}

}  // namespace
