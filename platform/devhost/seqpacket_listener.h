// A listening SOCK_SEQPACKET socket in the file system and the thread that
// accepts on it; the device socket and the control socket both use one.
#pragma once

#include <functional>
#include <string>
#include <thread>

namespace vantor::devhost {

class SeqPacketListener {
 public:
  // Receives each accepted connection; owns the descriptor from then on.
  using AcceptHandler = std::function<void(int connectedFd)>;

  SeqPacketListener() = default;
  ~SeqPacketListener();
  SeqPacketListener(const SeqPacketListener&) = delete;
  SeqPacketListener& operator=(const SeqPacketListener&) = delete;

  // Listens on `path`. A socket file left by a process that ended is
  // replaced; one that some process still answers on is not ("already
  // served").
  bool Start(const std::string& path, AcceptHandler onAccept, std::string& error);
  // Stops accepting and removes the socket file. Idempotent.
  void Stop();

  bool Listening() const noexcept { return listenFd_ >= 0; }
  const std::string& Path() const noexcept { return path_; }

 private:
  void AcceptLoop();

  std::string path_;
  AcceptHandler onAccept_;
  int listenFd_ = -1;
  int stopFd_ = -1;
  std::thread thread_;
};

}  // namespace vantor::devhost
