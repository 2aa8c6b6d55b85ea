// Which extension URI is answered by which handler.
#include "extensions/extension_routes.h"

#include "restfulserver/restful_server.h"

void register_extensions() {
}
