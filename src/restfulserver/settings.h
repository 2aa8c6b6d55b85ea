// The settings file <TAVROOT>/cfg/ComTrade.ini, section "base".
#ifndef RESTFULSERVER_SETTINGS_H_
#define RESTFULSERVER_SETTINGS_H_

#include <optional>
#include <string>

// "<root>/cfg/ComTrade.ini" with the platform's separator.
std::string settings_file_path(const std::string& root);

// Reads TAVROOT anew and "fileDir" of section "base" through a fresh settings
// reader (the file is parsed on every call). Returns nullopt when TAVROOT is
// not set (the handler then sends no reply); a missing file or key gives "".
std::optional<std::string> read_record_root();

#endif  // RESTFULSERVER_SETTINGS_H_
