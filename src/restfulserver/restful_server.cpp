// The server object, its poll loop and the URI dispatch.
#include "restfulserver/restful_server.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "platform/platform.h"
#include "restfulserver/handlers.h"

namespace {

using QueryHandler = void (*)(transport::Connection&, const transport::Request&, const std::string&);

struct Route {
  const char* uri;  // matched exactly, case included; the handler gets it without "/"
  QueryHandler handler;
};

// Tried in this order; the first exact match wins.
const Route kRoutes[] = {
    {"/getFileName_list", handler_getFileList},
    {"/getChannelInfo", handler_getChannelList},
    {"/getFileInfo", handler_getChannelDesc},
    {"/getGroupFile_list", handler_getGroupFileList},
};

}  // namespace

RestfulServer::RestfulServer(std::string rootDir)
    : m_rootDir(std::move(rootDir)), m_server(&RestfulServer::ev_handler) {}

void RestfulServer::run(const std::string& port) {
  std::string reason;
  if (!m_server.listen(port, reason)) {
    std::fprintf(stderr, "Error starting orin_auth on port %s: %s\n", port.c_str(), reason.c_str());
    std::exit(1);
  }
  // Once a second is often enough to keep the resident size near what is
  // live, and rare enough that the pages of the next answer are mostly
  // still mapped.
  constexpr auto kReleaseInterval = std::chrono::seconds(1);
  auto last_release = std::chrono::steady_clock::now();
  for (;;) {
    m_server.poll(100);
    const auto now = std::chrono::steady_clock::now();
    if (now - last_release >= kReleaseInterval) {
      platform::release_free_memory();
      last_release = now;
    }
  }
}

bool RestfulServer::stop() {
  m_server.close();
  return true;
}

void RestfulServer::ev_handler(transport::Connection& nc, const transport::Request& hm) {
  try {
    for (const Route& route : kRoutes) {
      if (hm.uri == route.uri) {
        route.handler(nc, hm, std::string(route.uri + 1));
        return;
      }
    }
    std::printf("error url\n");
  } catch (...) {
    // A number in a record file that does not convert ends up here. The
    // client gets nothing more than what the handler had already queued.
    std::printf("unknow  exception\n");
  }
}
