// What the ASCII and the binary data reader share: block reads of the data
// file, the value texts, the hand-over of the finished texts to the store and
// the min/max buckets. Internal to this module.
#ifndef COMTRADE_FORMAT_DATA_READER_SUPPORT_H_
#define COMTRADE_FORMAT_DATA_READER_SUPPORT_H_

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "comtrade_format/cfg_info.h"
#include "comtrade_format/comtrade_format.h"
#include "comtrade_format/data_section.h"
#include "comtrade_format/fixed4.h"
#include "platform/platform.h"

namespace comtrade_detail {

// Readable bytes after the end of a block's data (not part of the file), so
// that a scan may load whole vector words across the end of a line.
constexpr std::size_t kReadAheadBytes = 64;

// Asks for the cache line at `at` to be brought in; a hint that never faults.
inline void prefetch(const void* at) {
#if defined(__GNUC__)
  __builtin_prefetch(at);
#else
  (void)at;
#endif
}

// A data file read in large blocks; the caller walks the bytes in place.
class BlockFile {
 public:
  BlockFile();
  BlockFile(const BlockFile&) = delete;
  BlockFile& operator=(const BlockFile&) = delete;
  ~BlockFile();

  // Opens `path` for binary reading, positioned at `offset`, reading at most
  // `limit` bytes from there. False when it cannot be opened or positioned.
  bool open(const std::string& path, std::uint64_t offset = 0,
            std::uint64_t limit = UINT64_MAX);
  // Keeps the last `keep` bytes of the current block (a line or record cut by
  // the block end) at the front and reads more after them. Returns the number
  // of bytes newly read; 0 at the end of the file or on a read error.
  std::size_t refill(std::size_t keep);
  const char* data() const { return m_data; }
  // Bytes available at data(): the kept ones and the newly read ones. At
  // least kReadAheadBytes more may be loaded, but their values mean nothing.
  std::size_t size() const { return m_size; }
  // From the next refill on, the block after the current one is read on a
  // second thread while the caller works on this one: copying a file out of
  // the page cache is a good part of reading a large record. Without a
  // thread to be had, and after a cut line too long to move cheaply, the
  // blocks are read here as before. Only worth a thread when the caller
  // expects to read many blocks: `expected_bytes`.
  void read_ahead(std::uint64_t expected_bytes);

 private:
  struct Ahead;
  std::size_t read_into(char* at, std::size_t room);
  std::size_t refill_here(std::size_t keep);
  std::size_t refill_ahead(std::size_t keep);
  bool start_ahead();
  void stop_ahead();

  std::FILE* m_file = nullptr;
  std::uint64_t m_remaining = 0;  // bytes the limit still allows
  std::unique_ptr<char[]> m_buffer;
  std::size_t m_capacity = 0;
  const char* m_data = nullptr;  // in m_buffer
  std::size_t m_size = 0;
  bool m_want_ahead = false;
  std::unique_ptr<Ahead> m_ahead;
};

// The "%.4f" texts of sample * factor_a + factor_b for every 16-bit sample of
// one analog channel, each formatted the first time it occurs. The text
// depends on nothing but the sample, and a long record repeats its samples
// many times, so most values cost a copy instead of a conversion. The text is
// format_fixed4 of the very same double, so it is exact by construction.
class SampleTexts {
 public:
  // One entry: a "," and the text, padded to a size copied in one move.
  struct Slot {
    char text[15];
    // Bytes of text[] in use, comma included; 0 until formatted, kTooLong
    // for a text that does not fit (formatted anew on every use).
    std::uint8_t length;
  };
  static constexpr std::uint8_t kTooLong = 0xFF;

  // A table pays for clearing it and formatting its distinct samples from
  // this many values on. The tables of one load stay few: each is a megabyte
  // that is read at random, and their memory comes on top of the answer's.
  static constexpr std::int64_t kMinSamples = 8192;
  static constexpr std::size_t kMostTables = 24;

  SampleTexts(double factor_a, double factor_b);

  double value(std::int32_t sample) const {
    return static_cast<double>(sample) * m_factor_a + m_factor_b;
  }
  const Slot& slot(std::int16_t sample) {
    Slot& entry = m_slots[static_cast<std::uint16_t>(sample)];
    if (entry.length == 0) fill(entry, sample);
    return entry;
  }
  // The slots themselves, indexed by the sample as unsigned, for loops that
  // keep the table in a register; such a loop fills a slot of length 0.
  Slot* slots() { return m_slots.get(); }
  void fill(Slot& entry, std::int16_t sample);

 private:
  double m_factor_a;
  double m_factor_b;
  std::unique_ptr<Slot[]> m_slots;
};

// Gives analog columns their text tables when `samples` values make tables
// worth it: channels with the very same factors share one table (a record's
// three phase currents usually do), up to `most` tables. `tables` must have
// room reserved for one table per column: the columns point into it.
// `wanted(column)` tells which columns are analog ones.
template <typename Column, typename Wanted>
void share_tables(std::int64_t samples, std::vector<Column>& columns, std::vector<SampleTexts>& tables,
                  Wanted wanted, std::size_t most = SampleTexts::kMostTables) {
  if (samples < SampleTexts::kMinSamples) return;
  std::vector<std::pair<std::pair<double, double>, SampleTexts*>> made;
  for (Column& column : columns) {
    if (!wanted(column)) continue;
    const std::pair<double, double> factors(column.factor_a, column.factor_b);
    // Bit for bit: -0.0 and 0.0 give different texts.
    const auto same = std::find_if(made.begin(), made.end(), [&](const auto& entry) {
      return std::memcmp(&entry.first, &factors, sizeof factors) == 0;
    });
    if (same != made.end()) {
      column.texts = same->second;
    } else if (tables.size() < most) {
      tables.emplace_back(column.factor_a, column.factor_b);
      column.texts = &tables.back();
      made.emplace_back(factors, column.texts);
    }
  }
}
template <typename Column>
void share_tables(std::int64_t samples, std::vector<Column>& columns, std::vector<SampleTexts>& tables) {
  share_tables(samples, columns, tables, [](const Column&) { return true; });
}

// Bytes the longest value text of a 16-bit sample of this channel takes, its
// comma included: "%.4f" grows with the magnitude, and s * a + b has its
// largest magnitudes at the ends of the sample range.
std::size_t int16_value_bytes(double factor_a, double factor_b);

// Builds one channel's value text in place: the string is kept longer than
// its text and cut to length once at the end, so a value costs no append
// bookkeeping and no call to copy a few bytes.
class TextWriter {
 public:
  // Starts `text` empty with room for about `expected_bytes`.
  void open(std::string& text, std::size_t expected_bytes);
  // Appends the "%.4f" text of `value`, after a "," unless it is the first.
  void add_value(double value, bool first) {
    char* out = room(kFixed4MaxChars + 1);
    if (!first) *out++ = ',';
    m_used += (first ? 0 : 1) + format_fixed4(value, out);
  }
  // Appends the text of `sample` scaled by the table's factors, after a ","
  // unless it is the first.
  void add_sample(SampleTexts& table, std::int16_t sample, bool first) {
    const SampleTexts::Slot& slot = table.slot(sample);
    if (slot.length == SampleTexts::kTooLong) {
      add_value(table.value(sample), first);
      return;
    }
    // The whole slot goes in one fixed-size copy; the bytes past the text
    // are overwritten by the next value or cut off at the end.
    char* out = room(sizeof slot);
    if (first) {
      std::memcpy(out, slot.text + 1, sizeof slot.text - 1);
      m_used += slot.length - 1u;
    } else {
      std::memcpy(out, &slot, sizeof slot);
      m_used += slot.length;
    }
  }
  // Appends the texts of `count` values, each after a "," (so never the
  // first value of a text): where `sample(i, s)` gives value i as a 16-bit
  // sample s, the table's text of it, otherwise the "%.4f" text of
  // `value(i)`. `guess(i)` is a cheap guess of sample i's slot, only used to
  // bring the slot into the cache ahead of its use. The text's end and the
  // table stay in registers through a run of values; the text's bytes may
  // alias anything, so the writer's own fields would be reloaded after every
  // store.
  template <typename Sample, typename Guess, typename Value>
  void add_table_samples(SampleTexts& table, std::int64_t count, Sample sample, Guess guess, Value value) {
    constexpr std::int64_t kRun = 256;
    // How many values ahead a slot is asked for: about as many as the memory
    // system keeps in flight.
    constexpr std::int64_t kAhead = 32;
    SampleTexts::Slot* const slots = table.slots();
    std::int64_t i = 0;
    while (i < count) {
      const std::int64_t end = std::min(count, i + kRun);
      char* out = room(static_cast<std::size_t>(end - i) * sizeof(SampleTexts::Slot));
      for (; i < end; ++i) {
        std::int16_t s;
        if (!sample(i, s)) break;
        // A table is too large to stay in the cache, and the column's
        // samples are known ahead.
        if (i + kAhead < count) prefetch(&slots[guess(i + kAhead)]);
        SampleTexts::Slot& slot = slots[static_cast<std::uint16_t>(s)];
        if (slot.length == 0) table.fill(slot, s);
        if (slot.length == SampleTexts::kTooLong) break;
        // The whole slot in one fixed-size copy; the bytes past the text are
        // overwritten by the next value or cut off at the end.
        std::memcpy(out, &slot, sizeof slot);
        out += slot.length;
      }
      m_used = static_cast<std::size_t>(out - m_data);
      if (i < end) add_value(value(i++), false);  // no table text for it
    }
  }
  // Appends `count` texts, each after a ",": byte i of `bytes` where it is
  // not NUL, and where it is, the text odd(i).
  template <typename Odd>
  void add_byte_texts(const char* bytes, std::int64_t count, Odd odd) {
    constexpr std::int64_t kRun = 2048;
    std::int64_t i = 0;
    while (i < count) {
      const std::int64_t end = std::min(count, i + kRun);
      char* out = room(2 * static_cast<std::size_t>(end - i));
      for (; i < end && bytes[i] != '\0'; ++i, out += 2) {
        out[0] = ',';
        out[1] = bytes[i];
      }
      m_used = static_cast<std::size_t>(out - m_data);
      if (i < end) {
        const std::string_view text = odd(i++);
        add_bytes(text.data(), text.size(), false);
      }
    }
  }
  // Appends `length` bytes as they are, after a "," unless it is the first.
  void add_bytes(const char* bytes, std::size_t length, bool first) {
    char* out = room(length + 1);
    if (!first) *out++ = ',';
    if (length == 1) {
      *out = *bytes;  // the usual digital status, without a call to copy it
    } else if (length > 0) {
      std::memcpy(out, bytes, length);
    }
    m_used += (first ? 0 : 1) + length;
  }
  // Appends `count` statuses "0"/"1", each after a "," unless it is the very
  // first, with one room check: `bit(i)` tells whether status i is set.
  template <typename Bit>
  void add_bits(std::int64_t count, bool first, Bit bit) {
    if (count <= 0) return;
    char* out = room(2 * static_cast<std::size_t>(count));
    std::int64_t i = 0;
    if (first) *out++ = bit(i++) ? '1' : '0';
    for (; i < count; ++i, out += 2) {
      out[0] = ',';
      out[1] = bit(i) ? '1' : '0';
    }
    m_used = static_cast<std::size_t>(out - m_data);
  }
  // For loops that write a run of values themselves, keeping the end of the
  // text in a register: run(bytes) gives room for `bytes` more bytes at the
  // end of the text, ran(end) sets the text's end after they were written.
  char* run(std::size_t bytes) { return room(bytes); }
  void ran(const char* end) { m_used = static_cast<std::size_t>(end - m_data); }
  // Cuts the string to the text written.
  void close();

 private:
  char* room(std::size_t bytes) {
    if (m_writable - m_used < bytes) grow(bytes);
    return m_data + m_used;
  }
  void grow(std::size_t bytes);

  std::string* m_text = nullptr;
  // The string's bytes and size, kept here so that a value touches only the
  // writer and the text itself.
  char* m_data = nullptr;
  std::size_t m_writable = 0;
  std::size_t m_used = 0;
};

// The texts of eight statuses in a row, each after a ",": entry m holds
// ",b0,b1,...,b7" where bk is bit k of m.
struct StatusPairs {
  char text[256][16];
};
const StatusPairs& status_pairs();

// Whether a block of `values` values, with work for both lanes, is worth
// splitting over two lanes. Handing a lane over costs some microseconds, so
// small blocks stay in one. Measured on two cores, many columns (a wide
// record) build about a third faster in two lanes, and a few long 16-bit
// columns (4A+2D of a long record) take about 3 ms less of 25.
inline bool worth_two_lanes(std::int64_t values) { return values >= 200000; }

// Hands batches of work from the thread that fills them to a second thread
// that writes them out, so that filling the next batch and writing the last
// one take a core each. Two batches take turns: pass() waits until the
// writer is done with the one it has, then swaps it for the filled one. The
// writer gets the batches in the order they are passed. Whatever the writer
// touches, the filler must leave alone until finish() returns.
template <typename Batch>
class BatchPipe {
 public:
  // `spare` is the second batch, of the same shape as the one to be filled.
  BatchPipe(Batch spare, std::function<void(Batch&)> write)
      : m_current(std::move(spare)), m_write(std::move(write)) {}
  BatchPipe(const BatchPipe&) = delete;
  BatchPipe& operator=(const BatchPipe&) = delete;
  ~BatchPipe() { stop(); }

  // Starts the writer thread; false when the system has none to give.
  bool start() {
    try {
      m_thread = std::thread([this] { serve(); });
      platform::keep_apart(m_thread);
      return true;
    } catch (const std::system_error&) {
      return false;
    }
  }
  // Gives `filled` to the writer and leaves in it the batch written before
  // (to be emptied and filled again). Rethrows what the writer threw.
  void pass(Batch& filled) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return !m_has_work; });
    if (m_error) std::rethrow_exception(m_error);
    std::swap(m_current, filled);
    m_has_work = true;
    m_changed.notify_all();
  }
  // Waits until every batch passed is written and gives what the writer
  // threw, if anything; the writer stays for more.
  std::exception_ptr settle() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return !m_has_work; });
    return m_error;
  }
  // Waits until every batch passed is written; rethrows what the writer threw.
  void finish() {
    stop();
    if (m_error) std::rethrow_exception(m_error);
  }

 private:
  void serve() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
      m_changed.wait(lock, [this] { return m_has_work || m_stopping; });
      if (!m_has_work) return;
      lock.unlock();
      try {
        if (!m_error) m_write(m_current);
      } catch (...) {
        m_error = std::current_exception();
      }
      lock.lock();
      m_has_work = false;
      m_changed.notify_all();
    }
  }
  void stop() {
    if (!m_thread.joinable()) return;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_stopping = true;
      m_changed.notify_all();
    }
    m_thread.join();
  }

  Batch m_current;  // the writer's, while m_has_work
  std::function<void(Batch&)> m_write;
  std::mutex m_mutex;
  std::condition_variable m_changed;
  bool m_has_work = false;
  bool m_stopping = false;
  std::exception_ptr m_error;  // written by the writer before it clears m_has_work
  std::thread m_thread;
};

// Two lanes of work for each block of a load: work(0) here and work(1) on a
// second thread, at once. The thread is started for the first block that
// wants it and kept for the whole load, so that a block's second lane costs a
// hand-over, not a thread. The lanes must touch nothing in common but what
// they only read. A large answer uses the second core this way while its
// request still runs to its end before the next one is read.
class SecondLane {
 public:
  // Returns when both lanes are done, rethrowing what either threw; with
  // `parallel` false, or without a thread to be had, both run here one after
  // the other.
  template <typename Work>
  void run(bool parallel, Work&& work) {
    if (parallel && !m_tried) {
      m_tried = true;
      m_pipe = std::make_unique<BatchPipe<Task>>(Task(), [](Task& task) { task(); });
      if (!m_pipe->start()) m_pipe.reset();
    }
    if (!parallel || !m_pipe) {
      work(0);
      work(1);
      return;
    }
    Task task = [&work] { work(1); };
    m_pipe->pass(task);
    // The second lane uses this frame's data: it is waited for whatever
    // happens here.
    std::exception_ptr here;
    try {
      work(0);
    } catch (...) {
      here = std::current_exception();
    }
    const std::exception_ptr there = m_pipe->settle();
    if (here) std::rethrow_exception(here);
    if (there) std::rethrow_exception(there);
  }

 private:
  using Task = std::function<void()>;
  bool m_tried = false;
  std::unique_ptr<BatchPipe<Task>> m_pipe;
};

// Bytes one analog value is expected to take in its text (with its comma),
// judged from the channel's scaled range and the 16-bit sample range.
std::size_t analog_value_bytes(const analog_info& analog);

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

// The type code of a file type text, without the diagnostics of
// ComTrade_format::Get_file_type: its letter case and the blanks, tabs and
// CRs around it ignored; kFileTypeUnknown for anything else.
int file_type_code(const char* file_type);

// Min/max buckets of the binary and the ASCII data (ComTrade_format::loadBuckets).
int load_binary_buckets(const cmtr_cfg_info& cfg, int file_type, const DataSection& section,
                        const SampleWindow& window, std::int64_t step, Buckets& out);
int load_ascii_buckets(const cmtr_cfg_info& cfg, const DataSection& section,
                       const SampleWindow& window, std::int64_t step, Buckets& out);

// Moves the finished texts of the working lists into CHAN_DATA_MAP, analog
// channels first; a name already present keeps its first text. When no
// sample was read the lists are emptied and the map gets nothing.
void hand_over_texts(const cmtr_cfg_info& cfg, std::int64_t samples_read);

// Fills a Buckets from samples that arrive in order, a channel's run of
// samples at a time: `step` samples to a bucket, counted from the window's
// first sample. Values that are not finite are left out.
class BucketBuilder {
 public:
  BucketBuilder(Buckets& out, std::size_t channels, std::int64_t step);
  // Samples of the window from `first` (counted from the window start) on,
  // `count` of them, whose time stamps are `stamp(i)` for i in [0, count).
  template <typename Stamp>
  void add_stamps(std::int64_t first, std::int64_t count, Stamp stamp) {
    for (std::int64_t i = bucket_start_at_or_after(first); i < first + count; i += m_step) {
      m_out.first_stamps.push_back(stamp(i - first));
    }
  }
  // The values of channel `channel` for the samples from `first` on, given
  // as `value(i)` for i in [0, count). Every channel gets the same runs.
  template <typename Value>
  void add_values(std::size_t channel, std::int64_t first, std::int64_t count, Value value) {
    add_runs(channel, first, count, [&](std::int64_t i, std::int64_t run, double& low, double& high) {
      for (std::int64_t k = 0; k < run; ++k) {
        const double v = value(i + k);
        if (!(v - v == 0)) continue;  // NaN and the infinities
        if (!(v >= low)) low = v;     // also when low is still NaN
        if (!(v <= high)) high = v;
      }
    });
  }
  // Records that `count` more samples were read.
  void add_samples(std::int64_t count) { m_out.samples += count; }
  // Gives every channel a value pair for every bucket (NaN where it got no
  // values at all, as a channel outside a record's layout does).
  void finish();

  // Splits the samples [first, first + count) of the window into runs that
  // lie in one bucket each; `extremes(i, run, low, high)` sets the smallest
  // and largest value of the run from sample i (left NaN when it has no
  // finite one), and they join their bucket.
  template <typename Extremes>
  void add_runs(std::size_t channel, std::int64_t first, std::int64_t count, Extremes extremes) {
    add_group_runs(&channel, 1, first, count,
                   [&](std::int64_t i, std::int64_t run, double* low, double* high) {
                     extremes(i, run, low[0], high[0]);
                   });
  }
  // The same for up to kMostInGroup channels at once, so that a record's
  // samples of all of them are read together: `extremes(i, run, low, high)`
  // sets low[k] and high[k] for channel channels[k], k < size.
  static constexpr std::size_t kMostInGroup = 8;
  template <typename Extremes>
  void add_group_runs(const std::size_t* channels, std::size_t size, std::int64_t first, std::int64_t count,
                      Extremes extremes) {
    for (std::int64_t i = 0; i < count;) {
      const std::int64_t sample = first + i;
      const std::int64_t bucket = sample / m_step;
      const std::int64_t run = std::min(count - i, (bucket + 1) * m_step - sample);
      double low[kMostInGroup];
      double high[kMostInGroup];
      std::fill(low, low + kMostInGroup, kNaN);
      std::fill(high, high + kMostInGroup, kNaN);
      extremes(i, run, low, high);
      for (std::size_t k = 0; k < size; ++k) join(m_out.channels[channels[k]], bucket, low[k], high[k]);
      i += run;
    }
  }

 private:
  static constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  // A run's extremes join its bucket.
  static void join(Buckets::Channel& series, std::int64_t bucket, double low, double high) {
    if (static_cast<std::size_t>(bucket) == series.min.size()) {
      series.min.push_back(low);
      series.max.push_back(high);
      return;
    }
    // A run without a finite value (NaN) changes nothing; a bucket still
    // without one (NaN) takes whatever the run found.
    double& min = series.min.back();
    double& max = series.max.back();
    if (low == low && !(low >= min)) min = low;
    if (high == high && !(high <= max)) max = high;
  }
  std::int64_t bucket_start_at_or_after(std::int64_t sample) const {
    return (sample + m_step - 1) / m_step * m_step;
  }

  Buckets& m_out;
  std::int64_t m_step;
};

}  // namespace comtrade_detail

#endif  // COMTRADE_FORMAT_DATA_READER_SUPPORT_H_
