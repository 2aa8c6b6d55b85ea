// The files of the "/viewer" page: which names exist, where each is read
// from and how it is labelled. Only names on the fixed list are ever served,
// so no request can name a file outside them.
#ifndef EXTENSIONS_VIEWER_FILES_H_
#define EXTENSIONS_VIEWER_FILES_H_

#include <optional>
#include <string>

// Where Debian's libjs-dygraphs installs the chart library.
extern const char kDygraphsDir[];  // "/usr/share/javascript/dygraphs"

struct ViewerFile {
  std::string path;          // the file to read
  const char* content_type;  // its Content-Type header value
};

// The page's own folder: "<folder of the running executable>/../share/
// comtrade-service/viewer" when that folder exists (an installed service),
// else the source tree's web/viewer as the build recorded it. Asked anew on
// every call, like every other path the service reads.
std::string viewer_page_dir();

// The file that `uri` names: "/viewer" and "/viewer/" the page itself,
// "/viewer/<name>" one of the page's files or of the chart library's. Any
// other URI, ".." and every name not on the list among them, gives nullopt.
// Touches no file.
std::optional<ViewerFile> viewer_file_for(const std::string& uri, const std::string& page_dir);

#endif  // EXTENSIONS_VIEWER_FILES_H_
