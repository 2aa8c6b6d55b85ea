// Writing the samples of a slice in the record's own form.
#include "comtrade_format/slice_data.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <optional>
#include <utility>
#include <vector>

#include "comtrade_format/ascii_fields.h"
#include "comtrade_format/ascii_lines.h"
#include "comtrade_format/binary_layout.h"
#include "comtrade_format/block_file.h"
#include "comtrade_format/working_lists.h"
#include "platform/platform.h"

namespace comtrade_detail {

namespace {

constexpr std::int64_t kRunRecords = 4096;

// Writes a slice record's sample number and the source record's time stamp
// at `at`; returns where the samples follow.
char* put_record_head(char* at, std::uint32_t number, const unsigned char* record) {
  for (int k = 0; k < 4; ++k) at[k] = static_cast<char>((number >> (8 * k)) & 0xFF);
  std::memcpy(at + 4, record + 4, 4);
  return at + 8;
}

// The longest field copied by one fixed move; a line's room in the slice
// has this much more than its bytes.
constexpr std::size_t kShortField = 16;
static_assert(kShortField <= kReadAheadBytes, "a short field is moved whole from its block");

// Copies a field as written to `at`, without the blanks and carriage return
// that may end a line (the last status field is the rest of the line, cut at
// its comma); returns where it ends.
char* put_field(char* at, const char* begin, const char* end, bool rest_of_line) {
  if (rest_of_line) end = std::find(begin, end, ',');
  while (end > begin && (end[-1] == '\r' || end[-1] == ' ' || end[-1] == '\t')) --end;
  const auto size = static_cast<std::size_t>(end - begin);
  // A field is nearly always a few digits: one fixed move of a vector word,
  // which the bytes readable past a block's data allow, instead of a call.
  if (size <= kShortField) {
    std::memcpy(at, begin, kShortField);
  } else {
    std::memcpy(at, begin, size);
  }
  return at + size;
}

// Writes the slice records of `count` source records to `at`; returns
// where they end. The sample size is a constant, so that each analog copy
// is a single move rather than a call; the status words of up to 64
// channels are gathered in a register and stored byte by byte, which holds
// whatever the host's byte order.
template <std::size_t kAnalogBytes>
char* slice_records(const unsigned char* records, std::int64_t count, std::int64_t record_bytes,
                    const std::vector<AnalogColumn>& analogs, const std::vector<DigitalColumn>& digitals,
                    std::size_t status_bytes, std::int64_t& written, char* at) {
  for (std::int64_t i = 0; i < count; ++i) {
    const unsigned char* record = records + i * record_bytes;
    at = put_record_head(at, static_cast<std::uint32_t>(++written), record);
    for (const AnalogColumn& analog : analogs) {
      std::memcpy(at, record + analog.offset, kAnalogBytes);
      at += kAnalogBytes;
    }
    if (status_bytes <= 8) {
      std::uint64_t bits = 0;
      for (const DigitalColumn& digital : digitals) {
        if ((record[digital.offset] & digital.mask) != 0) bits |= std::uint64_t{1} << digital.slot;
      }
      for (std::size_t k = 0; k < status_bytes; ++k) at[k] = static_cast<char>((bits >> (8 * k)) & 0xFF);
    } else {
      std::memset(at, 0, status_bytes);
      for (const DigitalColumn& digital : digitals) {
        if ((record[digital.offset] & digital.mask) == 0) continue;
        const std::size_t bit = static_cast<std::size_t>(digital.slot);
        at[bit / 8] = static_cast<char>(static_cast<unsigned char>(at[bit / 8]) | (1u << (bit % 8)));
      }
    }
    at += status_bytes;
  }
  return at;
}

// How a slice record is copied when its parts lie in the source record as
// they lie in the slice, as they do when the first channels are chosen: the
// analog samples as runs of neighbouring columns, the statuses as the
// source's own status bytes with the bits of channels not chosen cleared.
struct InPlacePlan {
  std::vector<std::pair<std::int64_t, std::int64_t>> runs;  // source offset, bytes
  std::int64_t status_offset = 0;
  std::uint64_t status_mask = 0;  // in the order the status bytes are loaded
};

// The plan for these columns, or none when a status of the slice is not at
// its own place in the source (the generic copy then gathers the bits).
std::optional<InPlacePlan> in_place_plan(const Layout& layout, const std::vector<AnalogColumn>& analogs,
                                         const std::vector<DigitalColumn>& digitals, int digital_selected,
                                         std::size_t status_bytes) {
  if (status_bytes > 8 || static_cast<int>(digitals.size()) != digital_selected) return std::nullopt;
  unsigned char mask[8] = {};
  for (const DigitalColumn& digital : digitals) {
    const std::int64_t byte = digital.offset - layout.status_offset;
    if (byte < 0 || byte != digital.slot / 8 || digital.mask != 1u << (digital.slot % 8)) return std::nullopt;
    mask[byte] = static_cast<unsigned char>(mask[byte] | digital.mask);
  }
  InPlacePlan plan;
  plan.status_offset = layout.status_offset;
  std::memcpy(&plan.status_mask, mask, sizeof mask);
  for (const AnalogColumn& analog : analogs) {
    if (!plan.runs.empty() && plan.runs.back().first + plan.runs.back().second == analog.offset) {
      plan.runs.back().second += layout.analog_bytes;
    } else {
      plan.runs.emplace_back(analog.offset, layout.analog_bytes);
    }
  }
  return plan;
}

// Bytes that copies in whole words of 8 may read past a source record or
// write past a slice record: the source buffer and the slice have this much
// room after their last record.
constexpr std::size_t kOverCopy = 16;

// slice_records by the plan: each run and the statuses are copied in words
// of 8 bytes, the bytes past a part overwritten by the next one.
char* slice_records_in_place(const unsigned char* records, std::int64_t count, std::int64_t record_bytes,
                             const InPlacePlan& plan, std::size_t status_bytes, std::int64_t& written, char* at) {
  for (std::int64_t i = 0; i < count; ++i) {
    const unsigned char* record = records + i * record_bytes;
    at = put_record_head(at, static_cast<std::uint32_t>(++written), record);
    for (const auto& [offset, bytes] : plan.runs) {
      for (std::int64_t k = 0; k < bytes; k += 8) std::memcpy(at + k, record + offset + k, 8);
      at += bytes;
    }
    std::uint64_t statuses;
    std::memcpy(&statuses, record + plan.status_offset, 8);
    statuses &= plan.status_mask;
    std::memcpy(at, &statuses, 8);
    at += status_bytes;
  }
  return at;
}

}  // namespace

std::int64_t write_binary_slice(const cmtr_cfg_info& cfg, int file_type, const DataSection& section,
                                const SampleWindow& window, std::string& out) {
  const Layout layout = layout_of(cfg, file_type);
  if (layout.record_bytes < 1) return -1;
  platform::ReadFile file;
  if (!file.open(section.path, false)) return -1;
  const std::int64_t total = std::min<std::int64_t>(cfg.samp_count, section_bytes(section) / layout.record_bytes);
  const std::int64_t from = std::clamp<std::int64_t>(window.from, 0, std::max<std::int64_t>(total, 0));
  const std::int64_t to = std::clamp<std::int64_t>(window.to, from, std::max<std::int64_t>(total, from));
  std::vector<AnalogColumn> analogs;
  std::vector<DigitalColumn> digitals;
  columns_of(cfg, layout, analogs, digitals);
  const std::int64_t record_bytes = layout.record_bytes;
  const std::size_t status_bytes = 2 * ((static_cast<std::size_t>(cfg.sel_di_num) + 15) / 16);
  const std::size_t analog_bytes = static_cast<std::size_t>(layout.analog_bytes);
  const std::size_t slice_bytes = 8 + analogs.size() * analog_bytes + status_bytes;
  // The slice is written in place into room made once: the records are a
  // few bytes each, and an append per field would cost more than the copy.
  const std::size_t start = out.size();
  out.resize(start + static_cast<std::size_t>(to - from) * slice_bytes + kOverCopy);
  char* at = out.data() + start;
  const std::optional<InPlacePlan> plan = in_place_plan(layout, analogs, digitals, cfg.sel_di_num, status_bytes);
  std::vector<unsigned char> bytes;
  std::int64_t written = 0;
  for (std::int64_t first = from; first < to;) {
    const std::int64_t count = std::min(kRunRecords, to - first);
    const auto asked = static_cast<std::size_t>(count * record_bytes);
    bytes.resize(asked + kOverCopy);
    const std::uint64_t offset =
        section.offset + static_cast<std::uint64_t>(first) * static_cast<std::uint64_t>(record_bytes);
    const std::int64_t whole =
        static_cast<std::int64_t>(file.read_at(offset, reinterpret_cast<char*>(bytes.data()), asked)) / record_bytes;
    if (plan) {
      at = slice_records_in_place(bytes.data(), whole, record_bytes, *plan, status_bytes, written, at);
    } else if (analog_bytes == 2) {
      at = slice_records<2>(bytes.data(), whole, record_bytes, analogs, digitals, status_bytes, written, at);
    } else {
      at = slice_records<4>(bytes.data(), whole, record_bytes, analogs, digitals, status_bytes, written, at);
    }
    if (whole < count) break;
    first += count;
  }
  // A data file shorter than its configuration ends the slice early.
  out.resize(static_cast<std::size_t>(at - out.data()));
  return written;
}

std::int64_t write_ascii_slice(const cmtr_cfg_info& cfg, const DataSection& section, const SampleWindow& window,
                               std::string& out) {
  BlockFile file;
  if (!file.open(section.path, section.offset)) return -1;
  const std::int64_t to = std::min<std::int64_t>(window.to, cfg.samp_count);
  const std::int64_t from = std::max<std::int64_t>(window.from, 0);
  if (from >= to) return 0;
  const FieldLocator locator(cfg);
  const std::size_t fields = locator.size();
  // Lines are written in place (an append per field would cost as much as
  // finding the fields); the room is made once from the first line, and
  // grows by doubling only past that guess.
  std::size_t used = out.size();
  std::int64_t written = 0;
  const auto average_line = static_cast<std::size_t>(bytes_after(section) / static_cast<std::uint64_t>(cfg.samp_count));
  walk_lines_from_mark(file, cfg, section, from, [&](std::int64_t line, const char* begin, const char* end) {
    if (line >= from) {
      // The number, the commas written and the line end are the only bytes
      // that are not the line's own.
      const std::size_t longest = static_cast<std::size_t>(end - begin) + fields + 32 + kShortField;
      if (out.size() - used < longest) {
        out.resize(std::max({out.size() * 2, used + longest, std::size_t{1} << 20}));
      }
      char* const line_start = out.data() + used;
      char* at = std::to_chars(line_start, line_start + 24, ++written).ptr;
      // The time stamp as written: the second field.
      CommaCursor commas(begin, end);
      const char* first_comma = commas.next();
      const char* stamp_end = first_comma == end ? end : commas.next();
      *at++ = ',';
      if (first_comma != end) at = put_field(at, first_comma + 1, stamp_end, false);
      locator.for_each_field(begin, end, [&](std::size_t, const SelectedField& field,
                                             const char* field_begin, const char* field_end) {
        *at++ = ',';
        at = put_field(at, field_begin, field_end, field.rest_of_line);
      });
      *at++ = '\r';
      *at++ = '\n';
      const auto line_bytes = static_cast<std::size_t>(at - line_start);
      used += line_bytes;
      // Room for the rest at the first line's length and a quarter more,
      // never more than a data line's average with what the slice adds:
      // growing by doubling moved and cleared about twice the slice.
      if (written == 1) {
        const std::size_t per_line = std::min(line_bytes + line_bytes / 4 + 8, average_line + fields + 24);
        const std::size_t rest = static_cast<std::size_t>(to - line - 1) * per_line;
        if (out.size() - used < rest) out.resize(used + rest);
      }
    }
    return line + 1 < to;
  });
  out.resize(used);
  return written;
}

}  // namespace comtrade_detail
