// Serves the host's devices to other processes.
//
// Listens on a SOCK_SEQPACKET socket in the namespace's runtime folder; each
// accepted connection is one handle. A connection's thread reads its
// messages and dispatches them; a request the driver holds pending does not
// hold the thread, so an abort sent on the same handle gets through. Replies
// are sent by whichever thread completes the request, without blocking: if
// the client is slow to read, the reply waits in the connection's backlog
// and its thread sends it. When the client closes or dies, the thread runs
// the handle's clean-up, which cancels what the handle left pending.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/devhost/driver_host.h"
#include "platform/devhost/seqpacket_listener.h"

namespace vantor::devhost {

class ClientConnection;

class DeviceServer {
 public:
  explicit DeviceServer(DriverHost& host);
  ~DeviceServer();
  DeviceServer(const DeviceServer&) = delete;
  DeviceServer& operator=(const DeviceServer&) = delete;

  // Listens on `socketPath`. A stale socket file is replaced; one that a
  // running host still answers on is not ("already served").
  bool Start(const std::string& socketPath, std::string& error);
  // Listens on the runtime folder's device socket.
  bool StartInRuntimeDirectory(std::string& error);
  // Stops accepting, ends every connection (running the handles' clean-up)
  // and removes the socket file. Idempotent.
  void Stop();

  const std::string& SocketPath() const noexcept { return listener_.Path(); }
  std::size_t ConnectionCount();

 private:
  void Accept(int connectedFd);
  void ReapFinished();

  DriverHost& host_;
  SeqPacketListener listener_;
  std::mutex connectionsMutex_;
  std::vector<std::shared_ptr<ClientConnection>> connections_;
};

}  // namespace vantor::devhost
