// Counting requests and exposing what the service holds.
#include "extensions/metrics.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

#include <prometheus/counter.h>
#include <prometheus/family.h>
#include <prometheus/gauge.h>
#include <prometheus/histogram.h>
#include <prometheus/registry.h>
#include <prometheus/text_serializer.h>

#include "logger/logger.h"
#include "platform/platform.h"
#include "restfulserver/answer.h"
#include "restfulserver/restful_server.h"
#include "restfulserver/settings.h"

namespace {

// Latency buckets from a cached header query to a record of hundreds of
// megabytes.
const prometheus::Histogram::BucketBoundaries kSeconds = {0.0005, 0.001, 0.0025, 0.005, 0.01, 0.025,
                                                          0.05,   0.1,   0.25,   0.5,   1,    2.5, 10};

// A family of one unlabelled series, for totals and levels.
template <typename Builder>
auto& single_series(Builder builder, const char* name, const char* help, prometheus::Registry& registry) {
  return builder.Name(name).Help(help).Register(registry).Add({});
}

struct Metrics {
  std::shared_ptr<prometheus::Registry> registry = std::make_shared<prometheus::Registry>();
  prometheus::Family<prometheus::Counter>& requests = prometheus::BuildCounter()
                                                         .Name("comtrade_requests_total")
                                                         .Help("Requests by URI and answer result")
                                                         .Register(*registry);
  prometheus::Family<prometheus::Histogram>& durations = prometheus::BuildHistogram()
                                                             .Name("comtrade_request_duration_seconds")
                                                             .Help("Time to handle a request, by URI")
                                                             .Register(*registry);
  prometheus::Counter& bytes_sent = single_series(prometheus::BuildCounter(), "comtrade_sent_bytes_total",
                                                  "Answer bytes the sockets took", *registry);
  prometheus::Counter& rotations = single_series(prometheus::BuildCounter(), "comtrade_log_rotations_total",
                                                 "Log files moved to their backup", *registry);
  prometheus::Family<prometheus::Gauge>& gauges = prometheus::BuildGauge()
                                                      .Name("comtrade_reply_budget_bytes")
                                                      .Help("The reply budget: bytes in use and its limit")
                                                      .Register(*registry);
  prometheus::Gauge& budget_used = gauges.Add({{"state", "in_use"}});
  prometheus::Gauge& budget_limit = gauges.Add({{"state", "limit"}});
  prometheus::Gauge& waiting = single_series(prometheus::BuildGauge(), "comtrade_waiting_requests",
                                             "Requests waiting for the reply budget", *registry);
  prometheus::Gauge& connections = single_series(prometheus::BuildGauge(), "comtrade_open_connections",
                                                 "Client connections open", *registry);
  prometheus::Gauge& started = single_series(prometheus::BuildGauge(), "process_start_time_seconds",
                                             "Start time of the process since 1970, in seconds", *registry);
  // The series of each URI and result once made: looking a series up by its
  // labels on every request would cost more than counting it.
  std::unordered_map<std::string, prometheus::Counter*> counted;
  std::unordered_map<std::string, prometheus::Histogram*> timed;
  std::string key;  // reused: a key made afresh would be an allocation a request
  // What the counters fed from running totals had taken so far.
  std::uint64_t bytes_counted = 0;
  std::uint64_t rotations_counted = 0;
};

Metrics& metrics() {
  static Metrics instance;
  return instance;
}

void send_text(transport::Connection& nc, const char* status, const char* content_type, const std::string& text,
               bool with_body) {
  std::string reply = std::string("HTTP/1.1 ") + status + "\r\nContent-Type: " + content_type +
                      "\r\nContent-Length: " + std::to_string(text.size()) + "\r\n\r\n";
  if (with_body) reply += text;
  nc.send(std::move(reply));
}

}  // namespace

void count_request(const std::string& uri, const std::string& result, double seconds) {
  Metrics& m = metrics();
  m.key.assign(uri).append(1, '\n').append(result);
  auto counter = m.counted.find(m.key);
  if (counter == m.counted.end()) {
    counter = m.counted.emplace(m.key, &m.requests.Add({{"uri", uri}, {"result", result}})).first;
  }
  counter->second->Increment();
  auto histogram = m.timed.find(uri);
  if (histogram == m.timed.end()) {
    histogram = m.timed.emplace(uri, &m.durations.Add({{"uri", uri}}, kSeconds)).first;
  }
  histogram->second->Observe(seconds);
}

void start_metrics() {
  metrics().started.Set(static_cast<double>(platform::now_seconds()));
  RestfulServer::set_request_observer(&count_request);
}

std::string metrics_text() {
  Metrics& m = metrics();
  const transport::TransportStats stats = RestfulServer::transport_stats();
  if (stats.bytes_sent > m.bytes_counted) {
    m.bytes_sent.Increment(static_cast<double>(stats.bytes_sent - m.bytes_counted));
    m.bytes_counted = stats.bytes_sent;
  }
  const std::uint64_t rotations = CSingleton<CLogger>::GetInstance()->rotations();
  if (rotations > m.rotations_counted) {
    m.rotations.Increment(static_cast<double>(rotations - m.rotations_counted));
    m.rotations_counted = rotations;
  }
  m.budget_used.Set(static_cast<double>(stats.reply_bytes_queued));
  m.budget_limit.Set(static_cast<double>(stats.reply_budget));
  m.waiting.Set(static_cast<double>(stats.waiting_requests));
  m.connections.Set(static_cast<double>(stats.open_connections));
  return prometheus::TextSerializer().Serialize(m.registry->Collect());
}

void handler_metrics(transport::Connection& nc, const transport::Request& hm, const std::string&) {
  send_text(nc, "200 OK", "text/plain; version=0.0.4; charset=utf-8", metrics_text(), hm.method != "HEAD");
  note_answer_result("http_200");
}

void handler_healthz(transport::Connection& nc, const transport::Request& hm, const std::string&) {
  const bool with_body = hm.method != "HEAD";
  const std::optional<std::string> root = read_record_root();
  std::string reason;
  if (!root) {
    reason = "the installation root (TAVROOT) or its settings cannot be read";
  } else if (root->empty()) {
    reason = "no record root (fileDir) is set";
  } else if (!platform::list_dir(platform::resolve_case_insensitive(*root))) {
    reason = "the record root " + *root + " cannot be listed";
  }
  if (reason.empty()) {
    send_text(nc, "200 OK", "text/plain; charset=utf-8", "ok\n", with_body);
    note_answer_result("http_200");
  } else {
    send_text(nc, "503 Service Unavailable", "text/plain; charset=utf-8", reason + "\n", with_body);
    note_answer_result("http_503");
  }
}
