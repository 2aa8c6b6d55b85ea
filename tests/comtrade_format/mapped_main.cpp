// The readers' tests once more, every data file walked through a mapping of
// it instead of read in blocks.
#include <gtest/gtest.h>

#include "comtrade_format/block_file.h"

int main(int argc, char** argv) {
  comtrade_detail::map_data_from(1);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
