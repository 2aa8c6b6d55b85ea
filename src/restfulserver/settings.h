// The settings file <TAVROOT>/cfg/ComTrade.ini, section "base".
#ifndef RESTFULSERVER_SETTINGS_H_
#define RESTFULSERVER_SETTINGS_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

// "<root>/cfg/ComTrade.ini" with the platform's separator.
std::string settings_file_path(const std::string& root);

// Longest settings line, line end not counted, that the settings reader reads
// whole; it drops the rest of a longer line without a word.
constexpr std::size_t kSettingsLineLimit = 199;

// Writes "<path>: line N is longer than 199 bytes; the settings reader ignores
// the rest of it" to standard error for every such line of the settings file
// at `path`, so that a cut "fileDir" or "logDir" is not a silent mystery.
// Prints nothing when the file cannot be read.
void report_long_settings_lines(const std::string& path);

// "replyBudgetMB" of section "base" when absent or not a positive integer.
constexpr std::uint64_t kDefaultReplyBudgetMB = 512;

// The reply budget in bytes for `text`, the value of "replyBudgetMB": a
// positive integer counts mebibytes (a huge one saturates); anything else
// gives kDefaultReplyBudgetMB.
std::uint64_t reply_budget_bytes(const std::string& text);

// Reads TAVROOT anew and "fileDir" of section "base" through a fresh settings
// reader (the file is parsed on every call). Returns nullopt when TAVROOT is
// not set (the handler then sends no reply); a missing file or key gives "".
std::optional<std::string> read_record_root();

#endif  // RESTFULSERVER_SETTINGS_H_
