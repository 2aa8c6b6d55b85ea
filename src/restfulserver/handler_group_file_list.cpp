// "/getGroupFile_list": lists the fixed group directory to standard output and
// acknowledges. The group names never reach the client.
#include "restfulserver/handlers.h"

#include <json/value.h>

#include "restfulserver/group_scan.h"
#include "restfulserver/reply.h"

void handler_getGroupFileList(transport::Connection& nc, const transport::Request& hm,
                              const std::string& name) {
  Json::Value root;
  if (!read_request(nc, hm, name, root)) return;
  // "type" is expected but its value was never used; a request without it,
  // or with a non-string one, is answered like any other.
  scan_group_dirs(kGroupDir);
  send_json(nc, make_reply(200, "", name));
}
