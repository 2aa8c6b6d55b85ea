// The fixed list of the viewer's files and the folders they come from.
#include "extensions/viewer_files.h"

#include <cstddef>

#include "platform/platform.h"

const char kDygraphsDir[] = "/usr/share/javascript/dygraphs";

namespace {

enum class Folder { kPage, kDygraphs };

struct ListedFile {
  const char* name;  // as it follows "/viewer/"
  Folder folder;
  const char* content_type;
};

// The page's files are ours and UTF-8; the library's are what Debian ships.
constexpr ListedFile kListedFiles[] = {
    {"index.html", Folder::kPage, "text/html; charset=utf-8"},
    {"viewer.js", Folder::kPage, "text/javascript; charset=utf-8"},
    {"names.js", Folder::kPage, "text/javascript; charset=utf-8"},
    {"samples.js", Folder::kPage, "text/javascript; charset=utf-8"},
    {"queries.js", Folder::kPage, "text/javascript; charset=utf-8"},
    {"charts.js", Folder::kPage, "text/javascript; charset=utf-8"},
    {"channels.js", Folder::kPage, "text/javascript; charset=utf-8"},
    {"cursors.js", Folder::kPage, "text/javascript; charset=utf-8"},
    {"export.js", Folder::kPage, "text/javascript; charset=utf-8"},
    {"fragment.js", Folder::kPage, "text/javascript; charset=utf-8"},
    {"header.js", Folder::kPage, "text/javascript; charset=utf-8"},
    {"picker.js", Folder::kPage, "text/javascript; charset=utf-8"},
    {"analysis.js", Folder::kPage, "text/javascript; charset=utf-8"},
    {"diagrams.js", Folder::kPage, "text/javascript; charset=utf-8"},
    {"viewer.css", Folder::kPage, "text/css; charset=utf-8"},
    {"dygraph.min.js", Folder::kDygraphs, "text/javascript; charset=utf-8"},
    {"dygraph.css", Folder::kDygraphs, "text/css; charset=utf-8"},
};

constexpr char kRoute[] = "/viewer";
constexpr std::size_t kRouteLength = sizeof kRoute - 1;

}  // namespace

std::string viewer_page_dir() {
  if (std::optional<std::string> exe = platform::executable_path()) {
    const std::size_t slash = exe->rfind(platform::kPathSeparator);
    if (slash != std::string::npos) {
      std::string installed = exe->substr(0, slash);
      for (const char* part : {"..", "share", "comtrade-service", "viewer"}) {
        installed = platform::join_path(installed, part);
      }
      if (platform::file_exists(installed)) return installed;
    }
  }
  return COMTRADE_VIEWER_SOURCE_DIR;
}

std::optional<ViewerFile> viewer_file_for(const std::string& uri, const std::string& page_dir) {
  if (uri.compare(0, kRouteLength, kRoute) != 0) return std::nullopt;
  std::string name = "index.html";
  if (uri.size() > kRouteLength) {
    if (uri[kRouteLength] != '/') return std::nullopt;
    if (uri.size() > kRouteLength + 1) name = uri.substr(kRouteLength + 1);
  }
  for (const ListedFile& file : kListedFiles) {
    if (name == file.name) {
      const std::string dir = file.folder == Folder::kPage ? page_dir : kDygraphsDir;
      return ViewerFile{platform::join_path(dir, name), file.content_type};
    }
  }
  return std::nullopt;
}
