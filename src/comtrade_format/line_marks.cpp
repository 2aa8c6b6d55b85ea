// The marks of the data sections walked lately, for every request to share.
#include "comtrade_format/line_marks.h"

#include <algorithm>
#include <cstddef>
#include <mutex>
#include <utility>

#include "comtrade_format/block_file.h"

namespace comtrade_detail {

namespace {

// The marks of this many data sections are kept, the least lately used
// forgotten first: a few kilobytes each for the usual record.
constexpr std::size_t kSectionsKept = 64;

struct KnownMarks {
  MarkedData data;
  std::vector<std::uint64_t> bytes;  // bytes[i]: where sample line i * kMarkLines starts
  std::uint64_t used = 0;
};

std::mutex g_mutex;
std::vector<KnownMarks> g_known;  // under g_mutex
std::uint64_t g_uses = 0;         // under g_mutex

bool same_data(const MarkedData& a, const MarkedData& b) {
  return a.section_offset == b.section_offset && a.longest_line == b.longest_line &&
         a.ends_at_section_line == b.ends_at_section_line && a.stamp.size == b.stamp.size &&
         a.stamp.modified_ns == b.stamp.modified_ns && a.stamp.inode == b.stamp.inode &&
         a.stamp.changed_ns == b.stamp.changed_ns && a.path == b.path;
}

// Under g_mutex.
KnownMarks* find_known(const MarkedData& data) {
  for (KnownMarks& known : g_known) {
    if (same_data(known.data, data)) {
      known.used = ++g_uses;
      return &known;
    }
  }
  return nullptr;
}

}  // namespace

LineMark mark_before(const MarkedData& data, std::int64_t line) {
  std::lock_guard<std::mutex> lock(g_mutex);
  const KnownMarks* known = find_known(data);
  if (known == nullptr || known->bytes.empty() || line < kMarkLines) return {};
  const std::size_t index = std::min(static_cast<std::size_t>(line / kMarkLines), known->bytes.size() - 1);
  return {static_cast<std::int64_t>(index) * kMarkLines, known->bytes[index]};
}

void forget_marks(const MarkedData& data) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_known.erase(std::remove_if(g_known.begin(), g_known.end(),
                               [&](const KnownMarks& known) { return same_data(known.data, data); }),
                g_known.end());
}

MarkRecorder::MarkRecorder(MarkedData data, LineMark start)
    : m_data(std::move(data)),
      m_first_mark((start.line + kMarkLines - 1) / kMarkLines),
      m_until_next((kMarkLines - start.line % kMarkLines) % kMarkLines) {}

void MarkRecorder::keep() {
  if (m_bytes.empty()) return;
  std::lock_guard<std::mutex> lock(g_mutex);
  KnownMarks* known = find_known(m_data);
  if (known == nullptr) {
    if (g_known.size() >= kSectionsKept) {
      g_known.erase(std::min_element(g_known.begin(), g_known.end(), [](const KnownMarks& a, const KnownMarks& b) {
        return a.used < b.used;
      }));
    }
    g_known.push_back(KnownMarks{m_data, {}, ++g_uses});
    known = &g_known.back();
  }
  // Marks are appended only where they continue those known: a walk that
  // began after the last known one leaves a gap that nothing could fill.
  const auto first = static_cast<std::size_t>(m_first_mark);
  if (first > known->bytes.size()) return;
  const std::size_t known_count = known->bytes.size();
  if (first + m_bytes.size() > known_count) {
    known->bytes.insert(known->bytes.end(), m_bytes.begin() + static_cast<std::ptrdiff_t>(known_count - first),
                        m_bytes.end());
  }
}

LineMark start_at_mark(BlockFile& file, const DataSection& section, std::int64_t longest_line, std::int64_t from,
                       std::optional<MarkRecorder>& marks) {
  const std::optional<platform::FileStamp>& stamp = file.stamp();
  if (!stamp) return {};
  MarkedData data{section.path, section.offset, longest_line, section.ends_at_section_line, *stamp};
  LineMark start = mark_before(data, from);
  if (start.line > 0 && !file.skip(start.byte, '\n')) {
    forget_marks(data);
    start = {};
  }
  marks.emplace(std::move(data), start);
  return start;
}

}  // namespace comtrade_detail
