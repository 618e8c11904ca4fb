// wait_source_posix.h: lets a layer above make an event's waiters watch what would set it (Linux).
//
// An event may be bound to a wait source: something that sets the event when a descriptor it
// knows becomes ready (a socket, for the socket event dispatcher). A thread that waits on a
// bound event polls the source's descriptors in the same poll as the event itself and lets the
// source evaluate what it saw, so the event is set by the waiting thread and no other thread
// has to be woken first. While an event has a waiter the source may leave it to that waiter.
#ifndef PEERBEACON_PLATFORM_WAIT_SOURCE_POSIX_H_
#define PEERBEACON_PLATFORM_WAIT_SOURCE_POSIX_H_

#include <poll.h>

#include <cstdint>

#include "platform/platform.h"

namespace pb::platform {

class WaitSource {
 public:
  // Called before each poll of a wait on event: writes up to room descriptors to poll into
  // fds, each with a tag of the source's own, and returns how many it wrote. The waiter polls
  // them until the wait ends or the next Prepare.
  virtual uint32_t Prepare(Handle event, pollfd* fds, uint64_t* tags, uint32_t room) = 0;
  // Called after a poll in which any of the count descriptors that Prepare gave for event
  // reported something (revents filled in); sets the event when that is due. With take (the
  // event is auto-reset, so this waiter would consume it), the source may instead leave the
  // event as it is and return true: the waiter then takes it as set and consumed.
  virtual bool Collect(Handle event, bool take, const pollfd* fds, const uint64_t* tags,
                       uint32_t count) = 0;
  // Called when the last waiter on event has stopped waiting (with the event still valid).
  virtual void Released(Handle event) = 0;

 protected:
  ~WaitSource() = default;
};

// Binds event to source for the event's lifetime (null unbinds); the source must outlive every
// wait on the event. A waiter that began before the binding does not consult the source.
void BindWaitSource(Handle event, WaitSource* source);

// True while a thread waits on event with its source consulted. A source that reads it must
// also handle Released, which follows the last waiter's departure.
bool EventHasWaiter(Handle event);

}  // namespace pb::platform

#endif  // PEERBEACON_PLATFORM_WAIT_SOURCE_POSIX_H_
