// host/session.cc - holds of the session and switches of its encoding.
//
// What a call reads of the session (the encoding record and its transcoders,
// the string service, the byte tables) is written only by a switch, and a
// switch runs only while no hold is alive.  Both encodings' tables and
// transcoders are made once when the host is built, so a switch only points
// the records at the other set.
//
// Admission: while no thread waits, a hold of the encoding in force goes in
// by one atomic add on gate.word (the gate is open).  Otherwise, under
// gate.mu:
//  - a hold of the encoding in force goes in unless a thread waits for the
//    other one (after a switch, kGrace more go in regardless, so that a
//    busy pair of encodings switches in batches rather than at every call);
//    a thread that waited through a switch to its encoding goes in with it;
//  - a hold of the other encoding closes the gate, then switches when no
//    hold is alive, else waits;
//  - the last hold to go wakes the waiters when the gate is closed; the
//    gate opens again when no thread waits.
// A waiter closes the gate before it counts the holds alive, and a hold
// that leaves a closed gate empty takes gate.mu to wake it, so no wake-up is
// lost between the two.
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
using Gate = SessionGate;

bool utf8_in(uint32_t word) { return (word & Gate::kUtf8) != 0; }

// The lock-free way in: the gate open and the encoding the one in force.
bool try_enter(Gate &g, int want, HeldHere &here) {
  uint32_t w = g.word.load(std::memory_order_acquire);
  while (!(w & Gate::kClosed) && (want < 0 || (want == 1) == utf8_in(w)))
    if (g.word.compare_exchange_weak(w, w + 1, std::memory_order_acq_rel, std::memory_order_acquire)) {
      here = {1, utf8_in(w)};
      return true;
    }
  return false;
}

// Under g.mu: the gate opens when no thread waits.
void open_if_idle(Gate &g) {
  if (g.waiting[0] == 0 && g.waiting[1] == 0) g.word.fetch_and(~Gate::kClosed);
}

void admit(HostState &h, int want, HeldHere &here) {
  Gate &g = h.gate;
  if (try_enter(g, want, here)) return;
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
    } else if ((g.word.fetch_or(Gate::kClosed) & Gate::kCount) == 0) {
      switch_session(h, wants == 1);
      g.switches++;
      g.grace = kGrace;
      g.cv.notify_all();  // waiters of this encoding go in with the switch
      break;
    }
    waited = true;
    g.waiting[wants]++;
    g.word.fetch_or(Gate::kClosed);
    g.cv.wait(lock);
    g.waiting[wants]--;
  }
  g.word.fetch_add(1);
  open_if_idle(g);
  here = {1, h.utf8};
}

void leave(HostState &h) {
  Gate &g = h.gate;
  const uint32_t was = g.word.fetch_sub(1, std::memory_order_acq_rel);
  if ((was & Gate::kCount) != 1 || !(was & Gate::kClosed)) return;
  std::lock_guard<std::mutex> lock(g.mu);
  if (g.waiting[0] || g.waiting[1]) g.cv.notify_all();
}

}  // namespace

SessionHold::SessionHold(HostState *state, int want) : state_(state) {
  HeldHere &here = t_held;
  if (here.depth > 0) {
    if (want >= 0 && (want == 1) != here.utf8)
      throw std::logic_error("this thread holds the session in the other encoding");
    here.depth++;
    return;
  }
  admit(*state, want, here);
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
  const uint32_t w = h.gate.word.load();
  h.gate.word.store(utf8 ? w | SessionGate::kUtf8 : w & ~SessionGate::kUtf8);
}

}  // namespace zeqhost
