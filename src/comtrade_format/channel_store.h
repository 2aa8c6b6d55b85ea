// The channel-data store: what the data readers leave for the channel-data
// query. Process-wide and unguarded; each request runs to its end on the
// single I/O thread, so no two requests ever touch it at once.
#ifndef COMTRADE_FORMAT_CHANNEL_STORE_H_
#define COMTRADE_FORMAT_CHANNEL_STORE_H_

#include <map>
#include <string>
#include <vector>

// Working lists of the readers: entry k is the value text of the k-th
// selected analog (digital) channel in channel order.
extern std::vector<std::string> AI_DATA_VEC;
extern std::vector<std::string> DI_DATA_VEC;
// Channel name -> comma-joined value text of that channel, for the channels
// selected in the last load. A name already present is never replaced.
extern std::map<std::string, std::string> CHAN_DATA_MAP;

// Empties all three.
void clear_channel_store();

#endif  // COMTRADE_FORMAT_CHANNEL_STORE_H_
