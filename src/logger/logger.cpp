// The log writer: one query by name before each line (reopen when the name
// no longer stands for the file written, rotation), formatting into one
// buffer that lives outside the stack, one write per line, and lines lost to
// a failing file counted until writing works again.
#include "logger/logger.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "logger/log_format.h"
#include "platform/platform.h"

namespace {

// One byte more than the longest message, for the terminating zero.
constexpr std::size_t kMessageBufferBytes = 524288;
static_assert(CLogger::kMaxMessage + 1 == static_cast<int>(kMessageBufferBytes),
              "the message limit and the buffer must agree");

}  // namespace

template <typename T>
T* CSingleton<T>::s_instance = nullptr;

template <typename T>
T* CSingleton<T>::GetInstance() {
  if (s_instance == nullptr) {
    s_instance = new T();
    // Runs after main returns or exit is called: the file is closed and the
    // pointer reset, so a log call from a later exit action finds a fresh,
    // unopened logger instead of a deleted one.
    std::atexit([] {
      T* instance = s_instance;
      s_instance = nullptr;
      delete instance;
    });
  }
  return s_instance;
}

template class CSingleton<CLogger>;

CLogger::CLogger() : m_failed(false), m_isOpen(false), m_prefix_second(0), m_lost_lines(0), m_broken_line(false) {}

CLogger::~CLogger() {
  if (m_isOpen) Close();
}

void CLogger::Open(const char* path) {
  m_path = path != nullptr ? path : "";
  // A file still held from before (a write that failed leaves it open) is
  // let go first, so a new Open always starts clean.
  m_isOpen = m_file.open(m_path);
  m_failed = !m_isOpen;
}

bool CLogger::IsOpen() const { return m_isOpen; }

void CLogger::Close() {
  if (m_failed) return;
  m_file.close();
  m_isOpen = false;
}

void CLogger::follow_file() {
  if (!m_isOpen || m_path.empty()) return;
  // One query by name tells both whether the name still stands for the file
  // written (deleted or renamed, it grows unseen and never rotates) and how
  // large that file is.
  const std::optional<platform::FileIdentity> named = platform::file_identity(m_path);
  if (!named || !m_file.is(*named)) {
    reopen();
    return;
  }
  if (named->size > static_cast<std::uint64_t>(kRotateBytes)) rotate(named->size);
}

void CLogger::reopen() {
  if (m_file.open(m_path)) {
    m_failed = false;
    m_broken_line = false;
    return;
  }
  // The folder has gone: nothing is made but the file, so lines are counted
  // as lost until someone makes the folder again.
  m_file.close();
  note_lost_line(m_file.error());
}

void CLogger::rotate(std::uint64_t size) {
  // The backup name has no length limit: a path is a std::string here.
  ++m_rotations;
  const std::string backup = m_path + "_bak";
  const std::string path = m_path;
  Close();
  std::printf("Copy log from (%s) to (%s)\n", path.c_str(), backup.c_str());
  std::fflush(stdout);
  // The rename replaces an existing backup, so rotation never gets stuck on
  // a backup left by an earlier rotation; the old backup's 50 MB are freed
  // without this request waiting for it.
  platform::rename_replacing(path, backup);
  std::printf("Copy log from (%s) to (%s),size(%lld),(%lld)\n", path.c_str(), backup.c_str(),
              static_cast<long long>(size), kRotateBytes);
  std::fflush(stdout);
  // As after a deleted name: a new file, or lines counted until there can be.
  m_isOpen = true;
  reopen();
}

void CLogger::note_lost_line(const std::string& reason) {
  if (m_lost_lines++ == 0) {
    std::fprintf(stderr, "log: cannot write to %s (%s); lines are counted until it works again\n",
                 m_path.c_str(), reason.c_str());
    m_lost_reason = reason;
  }
}

void CLogger::write_line(int line, const std::string_view* message, std::size_t pieces) {
  // The prefix changes once a second; lines within the same second share it.
  const std::int64_t now = platform::now_seconds();
  if (m_prefix.empty() || now != m_prefix_second) {
    m_prefix = format_log_prefix(platform::local_time(now));
    m_prefix_second = now;
  }
  char suffix[40] = " ->line(";
  char* end = std::to_chars(suffix + 8, suffix + sizeof suffix - 2, line).ptr;
  *end++ = ')';
  *end++ = '\n';
  // What a failed write left of its line is ended first, so the next entry
  // starts a line of its own; then, once, how many lines were lost.
  std::string lost;
  if (m_lost_lines > 0) {
    lost = m_prefix + "log: " + std::to_string(m_lost_lines) + " lines could not be written (" +
           m_lost_reason + ")" + std::string(suffix, static_cast<std::size_t>(end - suffix));
  }
  std::string_view parts[8] = {m_broken_line ? "\n" : "", lost, m_prefix};
  std::size_t used = 3;
  for (std::size_t i = 0; i < pieces && used < 7; ++i) parts[used++] = message[i];
  parts[used++] = std::string_view(suffix, static_cast<std::size_t>(end - suffix));
  bool some_written = false;
  if (m_file.write(parts, used, &some_written)) {
    m_failed = false;
    m_broken_line = false;
    m_lost_lines = 0;
    return;
  }
  // A full disk: the line is lost, the next one tries again.
  m_failed = true;
  m_broken_line = m_broken_line || some_written;
  note_lost_line(m_file.error());
}

void CLogger::Log(const char* file, const char* func, int line, int level, const char* format,
                  ...) {
  // The call site's file, function and level are not part of the line.
  (void)file;
  (void)func;
  (void)level;
  follow_file();
  // Nothing to format when the line would be discarded anyway.
  if (!m_file.is_open()) return;

  // A request can log a whole channel text; half a megabyte on the stack of
  // the I/O thread is too much, so the buffer is static. Every call comes from
  // the one I/O thread.
  static char message[kMessageBufferBytes];
  va_list args;
  va_start(args, format);
  int written = format_plain(message, sizeof message, format, args);
  va_end(args);
  if (written < 0) {
    va_start(args, format);
    written = std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
  }
  if (written < 0) message[0] = '\0';
  const std::string_view text(message);
  write_line(line, &text, 1);
}

void CLogger::LogText(const char* file, const char* func, int line, int level, std::string_view head,
                      std::string_view text, std::string_view tail) {
  (void)file;
  (void)func;
  (void)level;
  follow_file();
  if (!m_file.is_open()) return;
  // The same cut as a formatted message: the first kMaxMessage bytes of the
  // whole message, wherever they end.
  std::size_t room = kMaxMessage;
  std::string_view pieces[3] = {head, text, tail};
  for (std::string_view& piece : pieces) {
    piece = piece.substr(0, room);
    room -= piece.size();
  }
  write_line(line, pieces, 3);
}

std::string format_log_prefix(const platform::LocalTime& time) {
  char text[64];
  std::snprintf(text, sizeof text, "[%d-%d-%d %2d:%2d:%2d] :  ", time.year, time.month, time.day,
                time.hour, time.minute, time.second);
  return text;
}
