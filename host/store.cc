// host/store.cc - the name/value store of the reference host (kernel 0x128).
//
// Names are TKChar texts compared exactly (no case folding, no trimming); a
// name length below 1 means the name runs to its terminating zero.  Values
// are typed: double, 64-bit integer or TKChar text.
//   get: no value -> ZEQ_RC_NV_NOVALUE; a number asked of a text ->
//        ZEQ_RC_NV_WRONGTYPE1; a number of the other type ->
//        ZEQ_RC_NV_WRONGTYPE2.  Text asked of a number gets the number
//        rendered ("%.17g" shortest form for a double, decimal for an
//        integer).  Text is written as TKChar (unit 4) or in the session
//        encoding (unit 1), cut at a character boundary to the room given;
//        no terminator is written.
//   set: `size` counts bytes (a text of n characters is 4n bytes).  Text
//        replaces a value of any type; an empty text removes the value.  A
//        number on a name holding a value of another type answers
//        ZEQ_RC_NV_WRONGTYPE2 and changes nothing.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "host/internal.h"

namespace zeqhost {

namespace {

bool name_of(const TKChar *name, int64_t len, std::u32string &out) {
  out.clear();
  if (!name) return false;
  if (len < 1) {
    for (len = 0; len < 4096 && name[len]; len++) {
    }
  }
  if (len > 4096) return false;
  out.assign(reinterpret_cast<const char32_t *>(name), (size_t)len);
  return true;
}

std::u32string number_text(const StoredValue &v) {
  char buf[64];
  if (v.type == ZEQ_NV_INT64) {
    std::snprintf(buf, sizeof buf, "%lld", (long long)v.i);
  } else {
    // Shortest form that reads back as the same double.
    for (int p = 1; p <= 17; p++) {
      std::snprintf(buf, sizeof buf, "%.*g", p, v.d);
      if (std::strtod(buf, nullptr) == v.d || std::isnan(v.d)) break;
    }
  }
  return u32_of_utf8(buf);
}

int32_t nv_get(ZeqNameValueStore *, const TKChar *name, int64_t name_len, int32_t type, int32_t unit,
               void *value, int64_t room, int64_t *produced) {
  if (produced) *produced = 0;
  HostState *h = g_state;
  std::u32string key;
  if (!h || !name_of(name, name_len, key)) return ZEQ_RC_NV_NOVALUE;
  std::lock_guard<std::mutex> lock(h->store_mu);
  auto it = h->settings.find(key);
  if (it == h->settings.end()) return ZEQ_RC_NV_NOVALUE;
  const StoredValue &v = it->second;
  switch (type) {
    case ZEQ_NV_DOUBLE:
    case ZEQ_NV_INT64:
      if (v.type == ZEQ_NV_TEXT) return ZEQ_RC_NV_WRONGTYPE1;
      if (v.type != type) return ZEQ_RC_NV_WRONGTYPE2;
      if (!value || room < 8) return kStatusBadRequest;
      if (type == ZEQ_NV_DOUBLE) std::memcpy(value, &v.d, 8);
      else std::memcpy(value, &v.i, 8);
      if (produced) *produced = 8;
      return 0;
    case ZEQ_NV_TEXT: {
      std::u32string text = v.type == ZEQ_NV_TEXT ? v.text : number_text(v);
      if (room < 0 || (!value && room > 0)) return kStatusBadRequest;
      int64_t w = 0;
      if (unit == 4) {
        for (char32_t c : text) {
          if (w + 4 > room) break;
          std::memcpy(static_cast<uint8_t *>(value) + w, &c, 4);
          w += 4;
        }
      } else if (unit == 1) {
        uint8_t *o = static_cast<uint8_t *>(value);
        for (char32_t c : text) {
          std::string enc;
          if (h->utf8) append_utf8(enc, (uint32_t)c);
          else enc = std::string(1, c <= 0xFF ? (char)c : (char)0x1A);
          if (w + (int64_t)enc.size() > room) break;
          std::memcpy(o + w, enc.data(), enc.size());
          w += (int64_t)enc.size();
        }
      } else {
        return kStatusBadRequest;
      }
      if (produced) *produced = w;
      return 0;
    }
    default:
      return kStatusBadRequest;
  }
}

int32_t nv_set(ZeqNameValueStore *, const TKChar *name, int64_t name_len, int32_t, int32_t type,
               const void *value, int64_t size) {
  HostState *h = g_state;
  std::u32string key;
  if (!h || !name_of(name, name_len, key) || key.empty()) return kStatusBadRequest;
  std::lock_guard<std::mutex> lock(h->store_mu);
  auto it = h->settings.find(key);
  if (type == ZEQ_NV_TEXT) {
    if (size < 0 || (!value && size > 0)) return kStatusBadRequest;
    std::u32string text(reinterpret_cast<const char32_t *>(value ? value : U""), (size_t)(size / 4));
    if (text.empty()) {
      if (it != h->settings.end()) h->settings.erase(it);
      return 0;
    }
    StoredValue v;
    v.type = ZEQ_NV_TEXT;
    v.text = text;
    h->settings[key] = v;
    return 0;
  }
  if (type != ZEQ_NV_DOUBLE && type != ZEQ_NV_INT64) return kStatusBadRequest;
  if (!value || size != 8) return kStatusBadRequest;
  if (it != h->settings.end() && it->second.type != type) return ZEQ_RC_NV_WRONGTYPE2;
  StoredValue v;
  v.type = type;
  if (type == ZEQ_NV_DOUBLE) std::memcpy(&v.d, value, 8);
  else std::memcpy(&v.i, value, 8);
  h->settings[key] = v;
  return 0;
}

int32_t nv_has_value(ZeqNameValueStore *, const TKChar *name, int64_t name_len) {
  HostState *h = g_state;
  std::u32string key;
  if (!h || !name_of(name, name_len, key)) return 0;
  std::lock_guard<std::mutex> lock(h->store_mu);
  return h->settings.count(key) ? 1 : 0;
}

}  // namespace

void build_store(HostState &h) {
  h.store.get = nv_get;
  h.store.set = nv_set;
  h.store.has_value = nv_has_value;
  h.kernel.store = h.options.store ? &h.store : nullptr;
}

}  // namespace zeqhost
