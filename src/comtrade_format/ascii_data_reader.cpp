// How an ASCII .dat becomes one comma-joined value text per selected channel
// (the buckets of a waveform are ascii_buckets.cpp). This is the hot path for
// large records: the file is walked in place, block by block, and only the
// fields of selected channels are looked at.
#include "comtrade_format/comtrade_format.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "comtrade_format/ascii_fields.h"
#include "comtrade_format/ascii_lines.h"
#include "comtrade_format/block_file.h"
#include "comtrade_format/channel_store.h"
#include "comtrade_format/sample_texts.h"
#include "comtrade_format/text_writer.h"
#include "comtrade_format/two_lanes.h"
#include "comtrade_format/working_lists.h"

namespace {

using namespace comtrade_detail;

// Odd status texts held before the columns are written out early: a line
// may be long, and a file of long statuses must not pile up columns of them.
constexpr std::size_t kOddBytesHeld = 1024 * 1024;

// The fields of a batch of lines, column by column: per analog
// channel its samples, per digital channel its one-byte statuses and, in line
// order, the other status texts (a NUL status marks where one of them goes).
// Each kind of column is one array, column after column, so that a line's
// fields are stored from a single base without looking up a column first.
struct ColumnBatch {
  std::size_t stride = 0;  // lines a column has room for
  // Per analog channel its sample fields as KeptSample keeps them.
  std::vector<std::uint64_t> sample_words;
  std::vector<std::uint8_t> sample_forms;
  std::vector<std::int32_t> converted;  // one channel's samples while it is written
  std::vector<char> statuses;
  std::vector<std::vector<std::string>> odd_statuses;
  std::size_t odd_bytes = 0;
  int lines = 0;
  bool starts_file = false;  // its first line is the file's first

  void empty() {
    for (auto& odd : odd_statuses) odd.clear();
    odd_bytes = 0;
    lines = 0;
  }
};

// Adds each line's values to the texts of the selected channels, whose
// writers it is given. Lines are taken apart into a batch of columns, and a
// full batch is written out channel by channel; for a large record a second
// thread writes one batch while the next is filled.
class AsciiTextParser {
 public:
  explicit AsciiTextParser(const cmtr_cfg_info& cfg) : m_locator(cfg) {
    // A batch of about a megabyte: few channels make long batches, so that
    // handing a batch over costs little next to filling it.
    std::size_t line_bytes = 1;
    for (const SelectedField& field : m_locator.fields()) {
      line_bytes += field.analog ? sizeof(std::uint64_t) + sizeof(std::uint8_t) : 1;
    }
    m_batch_lines =
        static_cast<int>(std::clamp<std::size_t>(kBatchBytes / line_bytes, kColumnLines, kLongestBatch));
    const auto lines = static_cast<std::size_t>(m_batch_lines);
    m_batch.converted.resize(lines);
    // Padded so that columns do not start a power of two apart: the fields
    // of one line would then all fall into one set of cache lines.
    m_batch.stride = lines + 72;
    std::size_t analog_count = 0;
    for (const SelectedField& field : m_locator.fields()) {
      if (field.analog) {
        ++analog_count;
      } else {
        m_batch.odd_statuses.emplace_back();
      }
    }
    m_batch.sample_words.resize(analog_count * m_batch.stride);
    m_batch.sample_forms.resize(analog_count * m_batch.stride);
    m_batch.statuses.resize(m_batch.odd_statuses.size() * m_batch.stride);
  }

  bool anything_selected() const { return m_locator.size() > 0; }

  // Writes into `analog_texts` and `digital_texts` (one per selected channel
  // of each kind), for about `samples` lines: the analog channels get their
  // tables when that many lines make them worth it. The writers must outlive
  // the parser or its close().
  void open(std::int64_t samples, std::vector<comtrade_detail::TextWriter>& analog_texts,
            std::vector<comtrade_detail::TextWriter>& digital_texts) {
    m_analog_texts = &analog_texts;
    m_digital_texts = &digital_texts;
    m_tables.reserve(m_locator.size());  // fields point into it
    // As many tables as a binary load: on a wide record the thread that
    // writes the texts is the longest of the load, and a value without a
    // table costs it a conversion instead of a copy.
    comtrade_detail::share_tables(samples, m_locator.fields(), m_tables,
                                  [](const SelectedField& field) { return field.analog; });
    if (samples * static_cast<std::int64_t>(m_locator.size()) >= kPipedValues) {
      m_pipe = std::make_unique<comtrade_detail::BatchPipe<ColumnBatch>>(
          m_batch, [this](ColumnBatch& batch) { write(batch); });
      if (!m_pipe->start()) m_pipe.reset();  // no thread to be had: written here
    }
  }
  void close() {
    pass_batch();
    if (m_pipe) m_pipe->finish();
  }

  // Adds one value to every channel's text (when its column is written
  // out). Fields missing from a short line count as empty: analog 0, digital
  // the empty text.
  void parse(const char* p, const char* end) {
    const std::size_t line = static_cast<std::size_t>(m_batch.lines);
    const std::size_t stride = m_batch.stride;
    // A kind with no columns has no array to point into.
    const auto line_of = [line](auto& columns) { return columns.empty() ? nullptr : columns.data() + line; };
    std::uint64_t* words = line_of(m_batch.sample_words);
    std::uint8_t* forms = line_of(m_batch.sample_forms);
    char* const statuses = line_of(m_batch.statuses);
    std::size_t status_column = 0;
    m_locator.for_each_field(p, end, [&](std::size_t, const SelectedField& field, const char* begin,
                                         const char* field_end) {
      if (field.analog) {
        // Converted by the writer: on a large record that is the other core.
        KeptSample::keep(begin, field_end, *words, *forms);
        words += stride;
        forms += stride;
        return;
      }
      // A status is almost always one byte; anything else (and a NUL, the
      // column's mark for it) waits in the column's list of odd texts.
      char& status = statuses[status_column * stride];
      if (field_end - begin == 1 && *begin != '\0') {
        status = *begin;
      } else {
        status = '\0';
        m_batch.odd_statuses[status_column].emplace_back(begin, field_end);
        m_batch.odd_bytes += static_cast<std::size_t>(field_end - begin);
      }
      ++status_column;
    }, [&](std::size_t, std::size_t count, const char* first) {
      for (std::size_t j = 0; j < count; ++j) statuses[(status_column + j) * stride] = first[2 * j];
      status_column += count;
    }, [&](const char* begin, const char* field_end) {
      KeptSample::keep(begin, field_end, *words, *forms);
      words += stride;
      forms += stride;
    });
    if (++m_batch.lines == m_batch_lines || m_batch.odd_bytes > kOddBytesHeld) pass_batch();
  }

 private:
  // Values of a record (lines times selected channels) from which a second
  // thread writes the texts: it costs tens of microseconds to start.
  static constexpr std::int64_t kPipedValues = 200000;

  void pass_batch() {
    if (m_batch.lines == 0) return;
    m_batch.starts_file = m_at_first_line;
    m_at_first_line = false;
    if (m_pipe) {
      m_pipe->pass(m_batch);
    } else {
      write(m_batch);
    }
    m_batch.empty();
  }

  // Writes a batch into the texts; touches nothing but the batch, the texts
  // and the tables.
  void write(ColumnBatch& batch) {
    write_analog_columns(batch);
    write_status_columns(batch);
  }

  void write_status_columns(ColumnBatch& batch) {
    std::size_t column = 0;
    for (const SelectedField& field : m_locator.fields()) {
      if (field.analog) continue;
      comtrade_detail::TextWriter& text = (*m_digital_texts)[field.slot];
      const char* statuses = batch.statuses.data() + column * batch.stride;
      const std::vector<std::string>& odd = batch.odd_statuses[column++];
      std::size_t next_odd = 0;
      const auto odd_text = [&](std::int64_t) -> std::string_view { return odd[next_odd++]; };
      int i = 0;
      if (batch.starts_file) {
        const std::string_view first = statuses[0] != '\0' ? std::string_view(statuses, 1) : odd_text(0);
        text.add_bytes(first.data(), first.size(), true);
        i = 1;
      }
      text.add_byte_texts(statuses + i, batch.lines - i, odd_text);
    }
  }

  void write_analog_columns(ColumnBatch& batch) {
    std::size_t column = 0;
    for (const SelectedField& field : m_locator.fields()) {
      if (!field.analog) continue;
      comtrade_detail::TextWriter& text = (*m_analog_texts)[field.slot];
      const std::uint64_t* words = batch.sample_words.data() + column * batch.stride;
      const std::uint8_t* forms = batch.sample_forms.data() + column++ * batch.stride;
      std::int32_t* const samples = batch.converted.data();
      convert_kept_samples(words, forms, batch.lines, samples);
      const auto value = [&](std::int64_t i) {
        return static_cast<double>(samples[i]) * field.factor_a + field.factor_b;
      };
      int i = 0;
      if (batch.starts_file) text.add_value(value(i++), true);
      if (field.texts == nullptr) {
        for (; i < batch.lines; ++i) text.add_value(value(i), false);
        continue;
      }
      const std::int32_t* rest = samples + i;
      text.add_table_samples(
          *field.texts, batch.lines - i,
          [rest](std::int64_t k, std::int16_t& sample) {
            if (rest[k] < INT16_MIN || rest[k] > INT16_MAX) return false;
            sample = static_cast<std::int16_t>(rest[k]);
            return true;
          },
          [rest](std::int64_t k) { return static_cast<std::uint16_t>(rest[k]); },
          [&](std::int64_t k) { return value(i + k); });
    }
  }

  static constexpr std::size_t kBatchBytes = 1024 * 1024;
  static constexpr std::size_t kLongestBatch = 65536;

  FieldLocator m_locator;
  int m_batch_lines = kColumnLines;
  ColumnBatch m_batch;  // being filled
  bool m_at_first_line = true;  // the next batch starts with the file's first line
  std::vector<comtrade_detail::SampleTexts> m_tables;
  std::vector<comtrade_detail::TextWriter>* m_analog_texts = nullptr;
  std::vector<comtrade_detail::TextWriter>* m_digital_texts = nullptr;
  // Declared last, so that its thread is stopped before anything it writes
  // with goes.
  std::unique_ptr<comtrade_detail::BatchPipe<ColumnBatch>> m_pipe;
};

}  // namespace

int ComTrade_format::loadAsciiData() {
  clear_channel_store();
  const DataSection section = data_section();
  BlockFile file;
  if (!file.open(section.path, section.offset)) {
    std::cout << "check no such file: " << section.shown_path << '\n';
    return 1;
  }
  std::cout << "check file success: " << section.shown_path << '\n';
  std::cout << "dat_count: " << m_cfg_info.samp_count << '\n';
  const std::int64_t wanted = m_cfg_info.samp_count;
  if (wanted <= 0) return 1;

  // The writers before the parser: its second thread writes with them until
  // the parser is gone.
  std::vector<comtrade_detail::TextWriter> analog_texts, digital_texts;
  AsciiTextParser parser(m_cfg_info);
  if (!parser.anything_selected()) return 0;

  // Never reserve for more lines than the file can hold, whatever the .cfg
  // claims; a line has at least one byte and a comma per field.
  const std::int64_t fields = 2 + std::max<std::int64_t>(m_cfg_info.ai_num, 0) +
                              std::max<std::int64_t>(m_cfg_info.di_num, 0);
  const std::int64_t file_bytes = static_cast<std::int64_t>(comtrade_detail::bytes_after(section));
  const std::int64_t expected = std::min(wanted, file_bytes / (2 * fields) + 1);
  comtrade_detail::prepare_working_lists(m_cfg_info, expected, analog_texts, digital_texts);
  parser.open(expected, analog_texts, digital_texts);

  // From the first line, marking the lines it passes for the windows asked
  // after it.
  std::int64_t lines_read = 0;
  walk_lines_from_mark(file, m_cfg_info, section, 0, [&](std::int64_t line, const char* begin, const char* end) {
    parser.parse(begin, end);
    lines_read = line + 1;
    return lines_read < wanted;
  });
  parser.close();
  for (auto& text : analog_texts) text.close();
  for (auto& text : digital_texts) text.close();
  comtrade_detail::hand_over_texts(m_cfg_info, lines_read);
  return 0;
}
