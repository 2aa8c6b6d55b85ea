// What the sessions of one server share, and how one is started. Internal
// to the transport.
#ifndef TRANSPORT_SESSION_H_
#define TRANSPORT_SESSION_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include <boost/asio.hpp>

#include "transport/body_pool.h"
#include "transport/http_server.h"
#include "transport/reply_budget.h"
#include "transport/stalled_answers.h"

namespace transport {

class Session;

// What all sessions share; it outlives every session.
struct Shared {
  RequestHandler handler;
  LargeAnswerTest may_answer_large;
  ReplyBudget replies{kDefaultReplyBudget};
  BodyPool bodies;
  // Sessions whose answers wait to be written, in the order they were made.
  // Not owned here: an open session is kept by its own timer's wait, and a
  // session must not outlive the io_context, which goes before this does.
  std::vector<std::weak_ptr<Session>> unwritten;
  // Sessions holding answer bytes, for the check that frees the budget from
  // clients that stopped reading. Registered while they hold bytes.
  HolderList<Session> holders;
  std::optional<boost::asio::steady_timer> stall_check;
  // Sessions open, and how many may be: each holds a descriptor, and a
  // request needs descriptors for its record files, so accepting stops short
  // of the process's limit rather than at it.
  std::size_t open_sessions = 0;
  std::size_t session_limit = SIZE_MAX;
  std::function<void()> on_session_closed;
};

// Starts serving `socket` as a session of `shared`; it keeps itself alive
// until its connection ends.
void start_session(boost::asio::ip::tcp::socket socket, Shared& shared);

}  // namespace transport

#endif  // TRANSPORT_SESSION_H_
