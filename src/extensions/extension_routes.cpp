// Which extension URI is answered by which handler.
#include "extensions/extension_routes.h"

#include "extensions/events.h"
#include "extensions/export_record.h"
#include "extensions/handler_viewer.h"
#include "extensions/harmonics.h"
#include "extensions/metrics.h"
#include "extensions/phasors.h"
#include "extensions/record_info.h"
#include "extensions/station_list.h"
#include "extensions/waveform.h"
#include "restfulserver/restful_server.h"

void register_extensions() {
  start_metrics();
  RestfulServer::add_route("/getStationList", handler_getStationList);
  RestfulServer::add_route("/getRecordInfo", handler_getRecordInfo);
  RestfulServer::add_route("/getWaveform", handler_getWaveform);
  RestfulServer::add_route("/getPhasors", handler_getPhasors);
  RestfulServer::add_route("/getHarmonics", handler_getHarmonics);
  RestfulServer::add_route("/getEvents", handler_getEvents);
  RestfulServer::add_route("/exportRecord", handler_exportRecord);
  RestfulServer::add_route("/metrics", handler_metrics);
  RestfulServer::add_route("/healthz", handler_healthz);
  // A prefix row: the page's own files live under "/viewer/".
  RestfulServer::add_route("/viewer", handler_viewer, true);
}
