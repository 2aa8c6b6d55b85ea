// "/getGroupFile_list": lists the fixed group directory to standard output and
// acknowledges. The group names never reach the client.
#include "restfulserver/handlers.h"

#include <json/value.h>

#include "restfulserver/answer.h"
#include "restfulserver/group_scan.h"

void handler_getGroupFileList(transport::Connection& nc, const transport::Request& hm,
                              const std::string& name) {
  // "type" is expected but its value was never used; a request without it,
  // or with a non-string one, is answered like any other.
  serve_query(nc, hm, name, [](const Json::Value&, const std::string& typeurl) {
    scan_group_dirs(kGroupDir);
    return Answer::envelope(200, "", typeurl);
  });
}
