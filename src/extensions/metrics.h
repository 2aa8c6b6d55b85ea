// "/metrics" and "/healthz": how the service is doing, for a Prometheus
// scraper and for a proxy or supervisor that asks whether to send it work.
#ifndef EXTENSIONS_METRICS_H_
#define EXTENSIONS_METRICS_H_

#include <string>

#include "transport/http_server.h"

// Starts counting: registers the request observer of the dispatcher and
// notes the process start time. Call once, before requests arrive.
void start_metrics();

// Counts one handled request (the dispatcher's observer; the benchmark
// times it). On the loop's thread only.
void count_request(const std::string& uri, const std::string& result, double seconds);

// The Prometheus text exposition of requests by URI and result, their
// durations by URI, bytes sent, the reply budget in use and the requests
// waiting for it, open connections, log rotations and the start time.
std::string metrics_text();

void handler_metrics(transport::Connection& nc, const transport::Request& hm, const std::string& name);

// 200 "ok" when the record root can be listed, 503 with the reason
// otherwise; text/plain.
void handler_healthz(transport::Connection& nc, const transport::Request& hm, const std::string& name);

#endif  // EXTENSIONS_METRICS_H_
