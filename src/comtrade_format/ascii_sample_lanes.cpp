// Two lanes over the lines of an ASCII data section.
#include "comtrade_format/ascii_sample_lanes.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <system_error>
#include <thread>
#include <utility>

#include "comtrade_format/ascii_fields.h"
#include "comtrade_format/ascii_sample_run.h"
#include "comtrade_format/block_file.h"
#include "comtrade_format/working_lists.h"
#include "platform/platform.h"

namespace comtrade_detail {

namespace {

// A parsed line costs about this many lines walked past.
constexpr std::int64_t kParseWeight = 6;
// The most the second lane holds until the first is done.
constexpr std::uint64_t kMostHeldBytes = 64 * 1024 * 1024;
// A line end is looked for this far past the middle.
constexpr std::uint64_t kLineEndSearch = 64 * 1024;

// Runs of samples kept to be handed on later, in order.
class HeldRuns : public SampleSink {
 public:
  explicit HeldRuns(const SampleSink& sink) : m_wants_stamps(sink.wants_stamps()) {}
  bool wants_stamps() const override { return m_wants_stamps; }
  void take(std::int64_t first, std::int64_t count, std::size_t width, const double* values,
            const double* stamps) override {
    // Past its room the lane holds nothing more; its part is walked again.
    const std::size_t adding = static_cast<std::size_t>(count) * (width + 1);
    if (m_overflowed || (m_values.size() + m_stamps.size() + adding) * sizeof(double) > kMostHeldBytes) {
      m_overflowed = true;
      return;
    }
    m_runs.emplace_back(first, count);
    m_values.insert(m_values.end(), values, values + static_cast<std::size_t>(count) * width);
    m_stamps.insert(m_stamps.end(), stamps, stamps + count);
    m_width = width;
  }
  bool overflowed() const { return m_overflowed; }
  void hand_on(SampleSink& sink) const {
    std::size_t at = 0;
    for (const auto& [first, count] : m_runs) {
      sink.take(first, count, m_width, m_values.data() + at * m_width, m_stamps.data() + at);
      at += static_cast<std::size_t>(count);
    }
  }

 private:
  std::vector<std::pair<std::int64_t, std::int64_t>> m_runs;
  std::vector<double> m_values;
  std::vector<double> m_stamps;
  std::size_t m_width = 0;
  bool m_wants_stamps;
  bool m_overflowed = false;
};

// The window samples before sample `at`.
std::int64_t window_samples_before(const std::vector<SampleWindow>& windows, std::int64_t at) {
  std::int64_t count = 0;
  for (const SampleWindow& window : windows) count += std::max<std::int64_t>(0, std::min(window.to, at) - window.from);
  return count;
}

// Just past the first line end at or after byte `at` of the section; none
// when there is none near.
std::optional<std::uint64_t> line_start_from(const DataSection& section, std::uint64_t at) {
  platform::ReadFile file;
  if (!file.open(section.path, false)) return std::nullopt;
  char buffer[4096];
  for (std::uint64_t searched = 0; searched < kLineEndSearch;) {
    const std::size_t got = file.read_at(section.offset + at + searched, buffer, sizeof buffer);
    if (got == 0) return std::nullopt;
    if (const void* newline = std::memchr(buffer, '\n', got)) {
      return at + searched + static_cast<std::uint64_t>(static_cast<const char*>(newline) - buffer) + 1;
    }
    searched += got;
  }
  return std::nullopt;
}

// Joins the second lane whatever ends the first.
struct Joined {
  std::thread& thread;
  ~Joined() {
    if (thread.joinable()) thread.join();
  }
};

// What load_by_walk does in two lanes cut at `split`; false, with nothing
// handed on, when no second thread can be had.
bool load_in_two_lanes(const cmtr_cfg_info& cfg, const DataSection& section, std::uint64_t split, SampleSink& sink,
                       const PartWalk& walk) {
  HeldRuns held(sink);
  WalkedLines second_walked;
  bool second_failed = false;
  std::thread second;
  try {
    second = std::thread([&] {
      try {
        BlockFile file;
        if (!file.open(section.path, section.offset + split)) {
          second_failed = true;
          return;
        }
        SampleRun run(cfg, held);
        second_walked = walk(file, -1, run, LongLineReport{split, &second_failed});
        run.flush();
      } catch (const std::exception&) {
        second_failed = true;
      }
    });
  } catch (const std::system_error&) {
    return false;
  }
  platform::keep_apart(second);
  Joined joined{second};

  BlockFile file;
  if (!file.open(section.path, section.offset, split)) {
    second.join();
    return false;
  }
  SampleRun run(cfg, sink);
  const WalkedLines first = walk(file, 0, run, LongLineReport{});
  run.flush();
  second.join();
  // Stopped in the first part: the second holds nothing that is needed.
  if (first.stopped) return true;
  const std::int64_t guessed = second_walked.first_place;
  if (!second_failed && !held.overflowed() && (guessed == first.lines || guessed < 0)) {
    held.hand_on(sink);
    return true;
  }
  BlockFile again;
  if (!again.open(section.path, section.offset + split)) return true;
  SampleRun rest(cfg, sink);
  walk(again, first.lines, rest, LongLineReport{split});
  rest.flush();
  return true;
}

}  // namespace

std::optional<std::uint64_t> lane_split(const cmtr_cfg_info& cfg, const DataSection& section,
                                        const std::vector<SampleWindow>& windows, std::int64_t to,
                                        std::uint64_t two_lanes_from) {
  if (cfg.samp_count <= 0 || to < 2) return std::nullopt;
  const std::uint64_t data_bytes = bytes_after(section);
  const double line_bytes = static_cast<double>(data_bytes) / static_cast<double>(cfg.samp_count);
  if (line_bytes * static_cast<double>(to) < static_cast<double>(two_lanes_from)) return std::nullopt;
  // The sample at which half the work is done: every line walked, a window
  // line parsed besides.
  const std::int64_t parsed = window_samples_before(windows, to);
  const std::int64_t half = (to + kParseWeight * parsed) / 2;
  std::int64_t low = 0;
  std::int64_t high = to;
  while (low < high) {
    const std::int64_t middle = low + (high - low) / 2;
    if (middle + kParseWeight * window_samples_before(windows, middle) < half) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  const std::int64_t held = parsed - window_samples_before(windows, low);
  const std::uint64_t held_bytes =
      static_cast<std::uint64_t>(held) * (cfg.sel_list.size() + 1) * sizeof(double);
  if (low <= 0 || held_bytes > kMostHeldBytes) return std::nullopt;
  return line_start_from(section, static_cast<std::uint64_t>(line_bytes * static_cast<double>(low)));
}

void load_by_walk(const cmtr_cfg_info& cfg, const DataSection& section, BlockFile& file,
                  const std::vector<SampleWindow>& windows, std::int64_t to, std::uint64_t two_lanes_from,
                  SampleSink& sink, const PartWalk& walk) {
  const std::optional<std::uint64_t> split = lane_split(cfg, section, windows, to, two_lanes_from);
  if (split && load_in_two_lanes(cfg, section, *split, sink, walk)) return;
  // Only worth the second thread when the walk is long.
  file.read_ahead(bytes_after(section));
  SampleRun run(cfg, sink);
  walk(file, 0, run, LongLineReport{});
  run.flush();
}

}  // namespace comtrade_detail
