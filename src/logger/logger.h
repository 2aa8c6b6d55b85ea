// The service's log writer: one process-wide CLogger reached through
// CSingleton<CLogger>, appending time-stamped printf-formatted lines to one
// file, flushed per line, rotated to "<path>_bak" above 50 MiB.
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
  // Closes the file when the stream holds no failure; otherwise does nothing.
  void Close();
  // Writes "[Y-M-D hh:mm:ss] :  <message> ->line(<line>)" and its line end
  // with one write, so the line is in the file when Log returns. Lines
  // written while the log is not open are discarded. `file`, `func` and
  // `level` are accepted but not written.
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
  // The size check by name before every line, and the rotation it may call for.
  void rotate_if_due();
  // Writes the prefix, `message` and the line suffix as one line.
  void write_line(int line, const std::string_view* message, std::size_t pieces);

  platform::AppendFile m_file;
  // A write failed: the file stays as it is until it is opened anew, and
  // Close leaves it alone, as it would a stream in a failed state.
  bool m_failed;
  bool m_isOpen;
  std::string m_path;
  // The time prefix of the second m_prefix_second, for the lines within it.
  std::string m_prefix;
  std::int64_t m_prefix_second;
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
