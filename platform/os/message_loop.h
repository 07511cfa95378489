// A message loop for a program's main thread.
//
// Other threads, and other processes through the loop's endpoint token,
// post commands (a 32-bit code and a 32-bit parameter) that the loop hands
// to its handler in arrival order on the thread that runs it. The token is
// a 32-bit number unique in the namespace and never reused, so it can be
// published in a shared mapping in place of a window handle; a post to the
// token of a loop that is gone (destroyed, or its process ended) fails with
// NotFound.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/os/named_objects.h"

namespace vantor::os {

using EndpointToken = std::uint32_t;
inline constexpr EndpointToken kNoEndpoint = 0;

// The standard exit command of a program's main window.
inline constexpr std::uint32_t kExitCommand = 0xE141;

struct Command {
  std::uint32_t code = 0;
  std::uint32_t parameter = 0;
};

using CommandHandler = std::function<void(const Command&)>;

inline constexpr std::uint32_t kEndpointQueueDepth = 32;

class MessageLoop {
 public:
  static OsResult<MessageLoop> Create();
  MessageLoop() = default;
  MessageLoop(MessageLoop&&) noexcept = default;
  MessageLoop& operator=(MessageLoop&&) noexcept = default;
  ~MessageLoop();

  bool valid() const { return endpoint_.valid(); }
  EndpointToken token() const { return token_; }

  // Runs on the calling thread until Quit; returns the code given to Quit.
  // Commands posted before Run are kept and handled first.
  std::uint32_t Run(const CommandHandler& handler);
  // Makes Run return after the command in hand; callable from any thread of
  // this process, the handler included.
  void Quit(std::uint32_t exitCode = 0);

  // Queues a command and returns at once. LimitExceeded when the queue is
  // full (it holds kEndpointQueueDepth commands).
  OsError Post(Command command) const;
  // Queues a command and waits until the loop has handled it. From the
  // loop's own thread (the one that created it or last ran it) it never
  // waits: inside Run the handler runs at once, outside Run the command is
  // queued for the next Run. Fails with NotFound when the loop's endpoint
  // goes before the command was handled.
  OsError Send(Command command) const;

 private:
  class EndpointHandle : public Waitable {
   public:
    EndpointHandle() = default;
    EndpointHandle(std::uint32_t slot, std::uint64_t serial)
        : Waitable(ObjectKind::Endpoint, slot, serial, false) {}
  };

  EndpointHandle endpoint_;
  EndpointToken token_ = kNoEndpoint;
  std::uint32_t loopThreadId_ = 0;
  const CommandHandler* runningHandler_ = nullptr;
};

// Posts to the loop behind `token`, in this or another process of the
// namespace. NotFound when no live loop has that token.
OsError PostCommand(EndpointToken token, Command command);

}  // namespace vantor::os
