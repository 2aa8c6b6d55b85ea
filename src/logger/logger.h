// The service's log writer: one process-wide CLogger reached through
// CSingleton<CLogger>, appending time-stamped printf-formatted lines to one
// file, flushed per line, rotated to "<path>_bak" above 50 MiB, made again
// when its name is deleted or renamed, and written again after a failure
// (a full disk) with a count of the lines lost meanwhile.
#ifndef LOGGER_LOGGER_H_
#define LOGGER_LOGGER_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/platform.h"

enum LogLevel {
  LOG_ERROR = 1,
  LOG_WARN = 2,
  LOG_INFO = 3,
  LOG_DEBUG = 4,
};

// Holds the one instance of T. The first GetInstance creates it and registers
// a process-exit action that deletes it and resets the pointer.
template <typename T>
class CSingleton {
 public:
  static T* GetInstance();
  virtual ~CSingleton() = default;

 protected:
  CSingleton() = default;

 private:
  static T* s_instance;
};

class CLogger : public CSingleton<CLogger> {
 public:
  // Files larger than this are rotated before the next line is written.
  static constexpr long long kRotateBytes = 52428800;
  // Longest message text kept; longer messages are cut.
  static constexpr int kMaxMessage = 524287;

  CLogger();
  ~CLogger() override;

  // Remembers `path` (also when the open fails) and opens it for appending,
  // creating it when missing. IsOpen tells the outcome. A file still held
  // from before (a stream that failed and so was never closed) is let go
  // first, so a new Open always starts from a clean stream.
  void Open(const char* path);
  bool IsOpen() const;
  // How often the log was moved to its backup name since the start.
  std::uint64_t rotations() const { return m_rotations; }
  // Closes the file when the stream holds no failure; otherwise does nothing.
  void Close();
  // Writes "[Y-M-D hh:mm:ss] :  <message> ->line(<line>)" and its line end
  // with one write, so the line is in the file when Log returns. Lines
  // written while the log is not open are discarded. A line that cannot be
  // written (a full disk, a deleted folder) is counted; standard error says
  // so at the first, and the first line written again is preceded by one
  // that gives the count. `file`, `func` and `level` are accepted but not
  // written.
  void Log(const char* file, const char* func, int line, int level, const char* format, ...)
#if defined(__GNUC__)
      __attribute__((format(printf, 6, 7)))
#endif
      ;
  // The same line for the message `head` + `text` + `tail` (cut to
  // kMaxMessage bytes like any message), written without copying `text`:
  // for the channel texts of a large answer, half a megabyte each.
  void LogText(const char* file, const char* func, int line, int level, std::string_view head,
               std::string_view text, std::string_view tail);

 private:
  // The query by name before every line: a reopen when the name stands for
  // another file or none, else the rotation the size may call for.
  void follow_file();
  void reopen();
  void rotate(std::uint64_t size);
  void note_lost_line(const std::string& reason);
  // Writes the prefix, `message` and the line suffix as one line.
  void write_line(int line, const std::string_view* message, std::size_t pieces);

  platform::AppendFile m_file;
  // The last write failed: Close leaves the file alone, as it would a stream
  // in a failed state; the next line tries again.
  bool m_failed;
  bool m_isOpen;
  std::string m_path;
  // The time prefix of the second m_prefix_second, for the lines within it.
  std::string m_prefix;
  std::int64_t m_prefix_second;
  // Lines lost since the last one written, and why the first was.
  std::uint64_t m_lost_lines;
  std::uint64_t m_rotations = 0;
  std::string m_lost_reason;
  // A failed write left part of its line in the file.
  bool m_broken_line;
};

// GetInstance and the instance pointer are defined once, in logger.cpp.
extern template class CSingleton<CLogger>;

// The time prefix of a log line, "[%d-%d-%d %2d:%2d:%2d] :  " from `time`:
// year, month and day unpadded, hour, minute and second padded with blanks.
std::string format_log_prefix(const platform::LocalTime& time);

#define LOG_WRITE_TEXT(level, head, text, tail) \
  CSingleton<CLogger>::GetInstance()->LogText(__FILE__, __func__, __LINE__, (level), (head), (text), (tail))

#define LOG_WRITE(level, format, ...) \
  CSingleton<CLogger>::GetInstance()->Log(__FILE__, __func__, __LINE__, (level), (format), ##__VA_ARGS__)

#endif  // LOGGER_LOGGER_H_
