// Which extension URI is answered by which handler.
#include "extensions/extension_routes.h"

#include "extensions/record_info.h"
#include "extensions/station_list.h"
#include "extensions/waveform.h"
#include "restfulserver/restful_server.h"

void register_extensions() {
  RestfulServer::add_route("/getStationList", handler_getStationList);
  RestfulServer::add_route("/getRecordInfo", handler_getRecordInfo);
  RestfulServer::add_route("/getWaveform", handler_getWaveform);
}
