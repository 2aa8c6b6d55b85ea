// Where the settings file lives and how a handler reads the record root.
#include "restfulserver/settings.h"

#include <INIReader.h>

#include "platform/platform.h"

std::string settings_file_path(const std::string& root) {
  return platform::join_path(platform::join_path(root, "cfg"), "ComTrade.ini");
}

std::optional<std::string> read_record_root() {
  std::optional<std::string> root = platform::get_env("TAVROOT");
  if (!root) return std::nullopt;
  // A fresh reader every time, so an edit of "fileDir" holds from the next
  // request on.
  INIReader settings(settings_file_path(*root));
  return settings.Get("base", "fileDir", "");
}
