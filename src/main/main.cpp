// The process entry: find the installation root, check the settings file,
// open the log, and hand the thread to the HTTP server for good.
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include <INIReader.h>

#include "extensions/extension_routes.h"
#include "logger/logger.h"
#include "platform/descriptors.h"
#include "platform/platform.h"
#include "restfulserver/restful_server.h"
#include "restfulserver/settings.h"

int main() {
  platform::keep_freed_memory();
  platform::ignore_broken_pipes();
  // Diagnostics are written once per request (the dispatcher flushes after
  // each), not once per line: a header query prints dozens of lines.
  std::setvbuf(stdout, nullptr, _IOFBF, 64 * 1024);

  std::optional<std::string> root = platform::get_env("TAVROOT");
  if (!root) return 0;

  // Started with nearly every descriptor taken (a low limit, or many handed
  // down by the parent), the service could not open its settings, log or
  // records; it says so instead of failing request by request.
  constexpr std::size_t kLeastFreeDescriptors = 24;
  const platform::DescriptorRoom room = platform::make_room_for_descriptors();
  if (room.free < kLeastFreeDescriptors) {
    std::fprintf(stderr,
                 "comtrade_service: only %zu file descriptors are free (limit %zu); at least %zu "
                 "are needed\n",
                 room.free, room.limit, kLeastFreeDescriptors);
    return 1;
  }

  const std::string settings_path = settings_file_path(*root);
  if (!platform::file_exists(settings_path)) {
    // The log is not open yet, so this line goes nowhere; standard error is
    // the only place an operator can see why the service did not start.
    LOG_WRITE(LOG_ERROR, "<< %s file not exit!!", settings_path.c_str());
    std::fprintf(stderr, "<< %s file not exit!!\n", settings_path.c_str());
    return -1;
  }

  // The line names the installation root "fileDir", as it always has.
  LOG_WRITE(LOG_INFO, "<<<<<<fileDir:%s", root->c_str());

  report_long_settings_lines(settings_path);
  // Kept for the life of the process; handlers build their own readers.
  INIReader settings(settings_path);
  const std::string log_name = settings.Get("base", "logDir", "D:comtradeInfo.log");
  CLogger* log = CSingleton<CLogger>::GetInstance();
  log->Open(log_name.c_str());
  if (!log->IsOpen()) {
    std::printf("open log file error: %s\n", log_name.c_str());
    return -1;
  }

  const std::string port = settings.Get("base", "port", "8000");
  const std::uint64_t reply_budget = reply_budget_bytes(settings.Get("base", "replyBudgetMB", ""));
  register_extensions();
  // run() never returns; the process ends inside it.
  RestfulServer server;
  server.set_reply_budget(reply_budget);
  server.run(port);
}
