// One client handle: a SOCK_SEQPACKET connection and the thread that reads
// it, which takes the request transport's real-time role.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/devhost/driver_host.h"

namespace vantor::devhost {

class ClientConnection final : public CompletionSink,
                               public std::enable_shared_from_this<ClientConnection> {
 public:
  static constexpr const char* kThreadName = "devhost-client";
  // Takes ownership of the connected socket.
  ClientConnection(DriverHost& host, int socketFd);
  ~ClientConnection() override;
  ClientConnection(const ClientConnection&) = delete;
  ClientConnection& operator=(const ClientConnection&) = delete;

  void StartReading();
  // Ends the connection from the host's side; the thread then cleans up.
  void Shutdown();
  void Join();
  bool Finished() const noexcept { return finished_.load(); }

  // Sends the reply without blocking; a reply the socket cannot take now
  // waits in the backlog for the connection's thread.
  void Deliver(IoRequest& request) override;

 private:
  void ReadLoop();
  bool HandleOpen(std::span<const std::uint8_t> message);
  bool HandleRequest(std::span<const std::uint8_t> message);
  bool SendOpenReply(IoStatus status);
  void FlushBacklog();

  DriverHost& host_;
  const int socketFd_;
  int wakeFd_ = -1;
  std::thread thread_;
  std::atomic<bool> finished_{false};
  std::shared_ptr<FileObject> file_;
  std::vector<std::uint8_t> receiveBuffer_;

  std::mutex backlogMutex_;
  std::atomic<bool> backlogNonEmpty_{false};
  std::vector<std::shared_ptr<IoRequest>> backlog_;
  bool readerEnded_ = false;  // guarded by backlogMutex_
};

}  // namespace vantor::devhost
