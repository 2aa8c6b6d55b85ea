// Which extension URI is answered by which handler.
#include "extensions/extension_routes.h"

#include "extensions/handler_viewer.h"
#include "restfulserver/restful_server.h"

void register_extensions() {
  // A prefix row: the page's own files live under "/viewer/".
  RestfulServer::add_route("/viewer", handler_viewer, true);
}
