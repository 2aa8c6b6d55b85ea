// Serves the viewer's files: one read of the whole file, one reply.
#include "extensions/handler_viewer.h"

#include <cstdint>
#include <fstream>
#include <optional>
#include <utility>

#include "extensions/viewer_files.h"
#include "platform/platform.h"

namespace {

constexpr char kNotFoundText[] = "not found\n";

// The whole file in one block, or nullopt. Only regular files are opened: a
// FIFO put in the page's place would block the one I/O thread.
std::optional<std::string> read_whole_file(const std::string& path) {
  if (!platform::is_regular_file(path)) return std::nullopt;
  const std::optional<std::uint64_t> size = platform::file_size(path);
  if (!size) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string bytes(static_cast<std::size_t>(*size), '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  // A file that shrank since its size was asked is sent as it now is.
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  return bytes;
}

void send_file_reply(transport::Connection& nc, const char* status, const char* content_type,
                     std::string body, bool with_body) {
  std::string head = "HTTP/1.1 ";
  head += status;
  head += "\r\nContent-Type: ";
  head += content_type;
  head += "\r\nContent-Length: ";
  head += std::to_string(body.size());
  head += "\r\n\r\n";
  nc.send(std::move(head));
  if (with_body && !body.empty()) nc.send(std::move(body));
}

}  // namespace

void handler_viewer(transport::Connection& nc, const transport::Request& hm,
                    const std::string& /*name*/) {
  const bool with_body = hm.method != "HEAD";
  if (std::optional<ViewerFile> file = viewer_file_for(hm.uri, viewer_page_dir())) {
    if (std::optional<std::string> bytes = read_whole_file(file->path)) {
      send_file_reply(nc, "200 OK", file->content_type, std::move(*bytes), with_body);
      return;
    }
  }
  send_file_reply(nc, "404 Not Found", "text/plain; charset=utf-8", kNotFoundText, with_body);
}
