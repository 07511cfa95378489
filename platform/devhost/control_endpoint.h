// The control endpoint through which tests steer a running driver host.
//
// A SOCK_SEQPACKET socket (`devhost.control` in the runtime folder); each
// message is one command line, answered by text of any length, framed as
// control_answer.h describes. Built in:
//
//   now                      the performance counter
//   step <microseconds>      advance the virtual clock, then let deferred
//                            calls finish ("error: real clock" otherwise)
//   access-log on|off        record register, port and configuration accesses
//   access-log               the accesses recorded since the last read
//   devices                  the device names, one per line
//   parameter <key> <name> <value>   set a driver parameter
//
// The host's users add their own commands (frame log, fault injection)
// with DriverHost::AddControlCommand.
#pragma once

#include <list>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/devhost/driver_host.h"
#include "platform/devhost/seqpacket_listener.h"

namespace vantor::devhost {

class VirtualClock;

inline constexpr std::string_view kControlSocketFileName = "devhost.control";

class ControlEndpoint {
 public:
  // `virtualClock` is the host's clock when it is virtual, else null.
  ControlEndpoint(DriverHost& host, VirtualClock* virtualClock);
  ~ControlEndpoint();
  ControlEndpoint(const ControlEndpoint&) = delete;
  ControlEndpoint& operator=(const ControlEndpoint&) = delete;

  bool Start(const std::string& socketPath, std::string& error);
  bool StartInRuntimeDirectory(std::string& error);
  void Stop();

 private:
  void Accept(int connectedFd);
  void Serve(int fd);
  // Joins the threads of sessions that have ended; sessionsMutex_ held.
  void ReapEnded();
  void AddBuiltInCommands();

  DriverHost& host_;
  VirtualClock* virtualClock_;
  SeqPacketListener listener_;
  struct Session {
    int fd;
    std::thread thread;
    bool ended = false;  // guarded by sessionsMutex_
  };
  std::mutex sessionsMutex_;
  std::list<Session> sessions_;
};

}  // namespace vantor::devhost
