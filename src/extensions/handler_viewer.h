// "/viewer": the page for people, served as ordinary HTTP/1.1 files.
#ifndef EXTENSIONS_HANDLER_VIEWER_H_
#define EXTENSIONS_HANDLER_VIEWER_H_

#include <string>

#include "transport/http_server.h"

// Answers "/viewer", "/viewer/" and "/viewer/<name>" with "200 OK",
// Content-Type, Content-Length and the file read from disk now (nothing is
// cached); a HEAD request gets the same head without the body. A name that
// is not one of the viewer's files, or a listed file that cannot be read,
// gets "404 Not Found" with a short text. The connection stays open.
void handler_viewer(transport::Connection& nc, const transport::Request& hm,
                    const std::string& name);

#endif  // EXTENSIONS_HANDLER_VIEWER_H_
