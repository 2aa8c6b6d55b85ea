// Splitting a listen address.
#include "transport/listen_address.h"

namespace transport {

std::optional<Endpoint> split_address(std::string text) {
  const std::string scheme = "tcp://";
  if (text.compare(0, scheme.size(), scheme) == 0) text.erase(0, scheme.size());
  Endpoint endpoint;
  std::size_t colon = text.rfind(':');
  if (colon == std::string::npos) {
    endpoint.host = "0.0.0.0";
    endpoint.port = text;
  } else {
    endpoint.host = text.substr(0, colon);
    endpoint.port = text.substr(colon + 1);
    if (endpoint.host.empty()) endpoint.host = "0.0.0.0";
    // "[::1]:8000"
    if (endpoint.host.size() >= 2 && endpoint.host.front() == '[' && endpoint.host.back() == ']') {
      endpoint.host = endpoint.host.substr(1, endpoint.host.size() - 2);
    }
  }
  if (endpoint.port.empty() || endpoint.port.size() > 5) return std::nullopt;
  for (char c : endpoint.port) {
    if (c < '0' || c > '9') return std::nullopt;
  }
  if (std::stoul(endpoint.port) > 65535) return std::nullopt;
  return endpoint;
}

}  // namespace transport
