// The watching program's presence: its endpoint token in the window-handle
// mapping and its presence event.
//
// The program is the only lasting holder of both objects; the library opens
// them only for as long as one check or one start takes. Named objects go
// with their last holder, so a watching program that is killed takes its
// presence with it: the event then reads not set (or is absent), and the
// library never takes a dead watching program for a live one.
#pragma once

#include <cstdint>

#include "platform/os/message_loop.h"
#include "platform/os/named_objects.h"

namespace vantor::watch {

enum class PresenceStart {
  Published,         // token written, presence event set
  AnotherWatchRuns,  // the event was already set: nothing touched
  MappingFailed,     // the window-handle mapping could not be created or used
  EventFailed,       // the presence event could not be created or set
};

class WatchPresence {
 public:
  WatchPresence() = default;
  WatchPresence(const WatchPresence&) = delete;
  WatchPresence& operator=(const WatchPresence&) = delete;
  ~WatchPresence() = default;

  // Creates or opens the mapping and the presence event; when no other
  // watching program has set the event, writes `token` into the mapping's
  // first word and sets the event. Anything but Published leaves this
  // object holding nothing.
  PresenceStart Publish(os::EndpointToken token);

  // The close path: resets the presence event and lets go of it, so that
  // the library sees no watching program from here on. The mapping stays
  // until this object goes (the destroy path). Harmless when not published.
  void Withdraw();

  bool published() const { return presence_.valid(); }

 private:
  os::Mapping mapping_;
  os::Event presence_;
};

}  // namespace vantor::watch
