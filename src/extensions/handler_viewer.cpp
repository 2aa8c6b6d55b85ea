// Serves the viewer's files: one read of the whole file, one reply, or no
// read at all when the browser already holds this version of it.
#include "extensions/handler_viewer.h"

#include <cstdio>
#include <optional>
#include <string_view>
#include <utility>

#include "extensions/viewer_files.h"
#include "platform/platform.h"
#include "restfulserver/answer.h"

namespace {

constexpr char kNotFoundText[] = "not found\n";
// The browser keeps a copy but asks each time whether it is still the one
// served (the ETag says), so a new page is never missed after an upgrade. The
// types are the ones we name, never guessed from the bytes.
constexpr char kCacheHeaders[] = "Cache-Control: no-cache\r\nX-Content-Type-Options: nosniff\r\n";

// A strong validator of the file's version: its size, time of change and
// inode, so telling versions apart costs no read of the file.
std::string etag_of(const platform::FileStamp& stamp) {
  char text[64];
  std::snprintf(text, sizeof text, "\"%llx-%llx-%llx\"", static_cast<unsigned long long>(stamp.size),
                static_cast<unsigned long long>(stamp.modified_ns), static_cast<unsigned long long>(stamp.inode));
  return text;
}

// Whether an If-None-Match value ("*", or a list of tags, weak or strong)
// names `etag`.
bool names_etag(std::string_view header, const std::string& etag) {
  while (!header.empty()) {
    const std::size_t comma = header.find(',');
    std::string_view tag = header.substr(0, comma);
    while (!tag.empty() && (tag.front() == ' ' || tag.front() == '\t')) tag.remove_prefix(1);
    while (!tag.empty() && (tag.back() == ' ' || tag.back() == '\t')) tag.remove_suffix(1);
    if (tag.substr(0, 2) == "W/") tag.remove_prefix(2);
    if (tag == "*" || tag == etag) return true;
    if (comma == std::string_view::npos) break;
    header.remove_prefix(comma + 1);
  }
  return false;
}

void send_file_reply(transport::Connection& nc, const char* status, const char* content_type,
                     const std::string& etag, std::string body, bool with_body) {
  std::string head = "HTTP/1.1 ";
  head += status;
  head += "\r\nContent-Type: ";
  head += content_type;
  head += "\r\nContent-Length: ";
  head += std::to_string(body.size());
  if (!etag.empty()) head += "\r\nETag: " + etag;
  head += "\r\n";
  head += kCacheHeaders;
  head += "\r\n";
  nc.send(std::move(head));
  if (with_body && !body.empty()) nc.send(std::move(body));
}

}  // namespace

void handler_viewer(transport::Connection& nc, const transport::Request& hm,
                    const std::string& /*name*/) {
  const bool with_body = hm.method != "HEAD";
  if (std::optional<ViewerFile> file = viewer_file_for(hm.uri, viewer_page_dir())) {
    // Only regular files: a FIFO put in the page's place would block the
    // one I/O thread, and a device might never end.
    if (const std::optional<platform::FileStamp> stamp = platform::regular_file_stamp(file->path)) {
      const std::string etag = etag_of(*stamp);
      if (names_etag(hm.if_none_match, etag)) {
        nc.send("HTTP/1.1 304 Not Modified\r\nETag: " + etag + "\r\n" + kCacheHeaders + "\r\n");
        note_answer_result("http_304");
        return;
      }
      if (std::optional<std::string> bytes = platform::read_whole_file(file->path, true)) {
        send_file_reply(nc, "200 OK", file->content_type, etag, std::move(*bytes), with_body);
        note_answer_result("http_200");
        return;
      }
    }
  }
  send_file_reply(nc, "404 Not Found", "text/plain; charset=utf-8", "", kNotFoundText, with_body);
  note_answer_result("http_404");
}
