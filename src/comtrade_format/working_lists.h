// The lists a load writes its channel texts into, and their hand-over to
// the channel store. Internal to the data readers.
#ifndef COMTRADE_FORMAT_WORKING_LISTS_H_
#define COMTRADE_FORMAT_WORKING_LISTS_H_

#include <cstdint>
#include <vector>

#include "comtrade_format/cfg_info.h"
#include "comtrade_format/data_section.h"
#include "comtrade_format/text_writer.h"

namespace comtrade_detail {

// Sizes the working lists for `samples` values per selected channel and
// opens one writer on each entry: `analogs` for AI_DATA_VEC, `digitals` for
// DI_DATA_VEC. The writers must be closed before the texts are handed over.
// Room is reserved but not touched, so a generous estimate costs address
// space, not memory.
void prepare_working_lists(const cmtr_cfg_info& cfg, std::int64_t samples,
                           std::vector<TextWriter>& analogs, std::vector<TextWriter>& digitals);

// Bytes of the section's file from its offset on (0 when it cannot be
// asked); an estimate for reservations, never a promise.
std::uint64_t bytes_after(const DataSection& section);

// Moves the finished texts of the working lists into CHAN_DATA_MAP, analog
// channels first; a name already present keeps its first text. When no
// sample was read the lists are emptied and the map gets nothing.
void hand_over_texts(const cmtr_cfg_info& cfg, std::int64_t samples_read);

}  // namespace comtrade_detail

#endif  // COMTRADE_FORMAT_WORKING_LISTS_H_
