// Carries commands posted to the program's endpoint token into the Qt event
// loop.
//
// The endpoint's message loop runs on a helper thread of its own; every
// command it receives is queued to a Qt object and handled on that object's
// thread, in arrival order, like a message to the main frame's window.
#pragma once

#include <functional>
#include <thread>

#include "platform/os/message_loop.h"

class QObject;

namespace vantor::watch {

class EndpointBridge {
 public:
  using Receiver = std::function<void(const os::Command&)>;

  EndpointBridge() = default;
  EndpointBridge(const EndpointBridge&) = delete;
  EndpointBridge& operator=(const EndpointBridge&) = delete;
  // Stops the helper thread; the endpoint's token is dead afterwards.
  ~EndpointBridge();

  // Creates the endpoint. Commands posted from now on are kept until
  // Start.
  os::OsError Open();
  os::EndpointToken token() const { return loop_.token(); }

  // Starts handing commands to `receiver`, called on `context`'s thread.
  // `context` must outlive Stop; commands still queued to a context that
  // is deleted are dropped by Qt.
  void Start(QObject* context, Receiver receiver);

  // Ends the helper thread; harmless when it never started.
  void Stop();

 private:
  os::MessageLoop loop_;
  std::thread thread_;
};

}  // namespace vantor::watch
