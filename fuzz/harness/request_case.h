// One fuzz execution against the request path: raw bytes go to the real
// HTTP transport and dispatch, over a small record store made at start-up,
// and what comes back is checked for well-formed replies.
#ifndef FUZZ_HARNESS_REQUEST_CASE_H_
#define FUZZ_HARNESS_REQUEST_CASE_H_

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include <json/value.h>

namespace fuzz_harness {

// Parses `text` as a client holding the service to strict JSON would;
// false, with the reader's `errors`, when it is not such a document.
bool parse_strict_json(const std::string& text, Json::Value& root, std::string& errors);

// Makes the installation root (settings file and record store) once and
// points TAVROOT at it; returns the store's directory.
const std::filesystem::path& install_store();

// Makes the installation root (settings file and record store), points
// TAVROOT at it and starts the server on 127.0.0.1, port 0. Idempotent; the
// first run_request_case calls it too.
void start_request_server();

// Connects, writes the input, shuts the write side and polls the server
// until it closes the connection. Returns an empty text when the server
// closed in time and every reply was well formed, else what went wrong.
std::string run_request_case(const std::uint8_t* data, std::size_t size);

// The bytes the server wrote back for the last run_request_case.
const std::string& last_reply();

// The record store the server answers from: groups and records a request
// can name.
constexpr char kStoreGroup[] = "North";
constexpr char kAsciiRecord[] = "rec1";
constexpr char kBinaryRecord[] = "rec2";

}  // namespace fuzz_harness

#endif  // FUZZ_HARNESS_REQUEST_CASE_H_
