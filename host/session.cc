// host/session.cc - holds of the session and switches of its encoding.
//
// What a call reads of the session (the encoding record and its transcoders,
// the string service, the byte tables) is written only by a switch, and a
// switch runs only while no hold is alive.  Both encodings' tables and
// transcoders are made once when the host is built, so a switch only points
// the records at the other set.
//
// Admission (under gate.mu):
//  - a hold of the encoding in force goes in unless a thread waits for the
//    other one (after a switch, kGrace more go in regardless, so that a
//    busy pair of encodings switches in batches rather than at every call);
//    a thread that waited through a switch to its encoding goes in with it;
//  - a hold of the other encoding switches when no hold is alive, else waits;
//  - the last hold to go wakes the waiters.
#include <cstring>
#include <stdexcept>

#include "host/internal.h"

namespace zeqhost {

namespace {

// Holds this thread has, and of which encoding: nested holds of a thread
// never wait (its outer hold keeps the session as it is).
struct HeldHere {
  int depth = 0;
  bool utf8 = false;
};
thread_local HeldHere t_held;

constexpr int kGrace = 32;

void admit(HostState &h, int want) {
  SessionGate &g = h.gate;
  std::unique_lock<std::mutex> lock(g.mu);
  const uint64_t arrived = g.switches;
  bool waited = false;
  for (;;) {
    const int now = h.utf8 ? 1 : 0;
    const int wants = want < 0 ? now : want;
    if (wants == now) {
      if (g.waiting[1 - now] == 0 || (waited && g.switches != arrived)) break;
      if (g.grace > 0) {
        g.grace--;
        break;
      }
    } else if (g.active == 0) {
      switch_session(h, wants == 1);
      g.switches++;
      g.grace = kGrace;
      g.cv.notify_all();  // waiters of this encoding go in with the switch
      break;
    }
    waited = true;
    g.waiting[wants]++;
    g.cv.wait(lock);
    g.waiting[wants]--;
  }
  g.active++;
  t_held = {1, h.utf8};
}

void leave(HostState &h) {
  SessionGate &g = h.gate;
  std::lock_guard<std::mutex> lock(g.mu);
  if (--g.active == 0 && (g.waiting[0] || g.waiting[1])) g.cv.notify_all();
}

}  // namespace

SessionHold::SessionHold(HostState *state, int want) : state_(state) {
  if (t_held.depth > 0) {
    if (want >= 0 && (want == 1) != t_held.utf8)
      throw std::logic_error("this thread holds the session in the other encoding");
    t_held.depth++;
    return;
  }
  admit(*state, want);
}

SessionHold::~SessionHold() {
  if (state_ && --t_held.depth == 0) leave(*state_);
}

bool SessionHold::utf8() const { return t_held.utf8; }

SessionHold Host::hold_session() { return SessionHold(impl_.get(), -1); }
SessionHold Host::hold_session(bool utf8) { return SessionHold(impl_.get(), utf8 ? 1 : 0); }

void Host::set_utf8(bool on) { hold_session(on); }

bool Host::utf8() const {
  std::lock_guard<std::mutex> lock(impl_->gate.mu);
  return impl_->utf8;
}

void switch_session(HostState &h, bool utf8) {
  h.utf8 = utf8;
  const int e = utf8 ? 1 : 0;
  const int32_t id = utf8 ? ZEQ_ENC_UTF8 : ZEQ_ENC_LATIN1;
  h.service.encoding_id = id;
  h.service.multibyte = e;
  h.encoding.encoding_id = id;
  h.encoding.multibyte = e;
  h.encoding.to_tkchar = h.session_tc[e][0];
  h.encoding.from_tkchar = h.session_tc[e][1];
  std::memcpy(h.upcase, h.tables[e].upcase, sizeof h.upcase);
  std::memcpy(h.lowcase, h.tables[e].lowcase, sizeof h.lowcase);
  std::memcpy(h.charclass, h.tables[e].charclass, sizeof h.charclass);
}

}  // namespace zeqhost
