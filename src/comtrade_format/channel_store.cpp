// The channel-data store shared by the two data readers and the channel-data
// query.
#include "comtrade_format/channel_store.h"

std::vector<std::string> AI_DATA_VEC;
std::vector<std::string> DI_DATA_VEC;
std::map<std::string, std::string> CHAN_DATA_MAP;

void clear_channel_store() {
  // Swapping with empty containers gives the memory of a large record back at
  // once instead of keeping it for the next request.
  std::vector<std::string>().swap(AI_DATA_VEC);
  std::vector<std::string>().swap(DI_DATA_VEC);
  CHAN_DATA_MAP.clear();
}
