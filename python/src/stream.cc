#include "python/src/stream.h"

#include <cinttypes>
#include <cstring>

#include "host/rng_draw.h"
#include "python/src/process_host.h"

namespace py = pybind11;

namespace zeqpy {
namespace {

constexpr char kMagic[8] = {'Z', 'E', 'Q', 'R', 'N', 'G', '1', 0};
constexpr size_t kHeader = sizeof kMagic + 16 + 4 * 8;  // magic, name, seed, key, thread, blob size

std::string status_sentence(int32_t status, const zrand_stream *s, const std::string &word) {
  std::string name = s->desc ? s->desc->name : "?";
  switch (status) {
    case ZRAND_RC_BAD_METHOD: return "unknown method '" + word + "'; zeqwucha.methods() lists them";
    case ZRAND_RC_NO_HARDWARE: return "method '" + word + "' needs the processor's random instruction, which is missing";
    case ZRAND_RC_SEED_UNUSED: return name + " takes no seed (give seed=0)";
    case ZRAND_RC_KEY_UNUSED: return name + " takes no key";
    case ZRAND_RC_KEY_RANGE: return "the key is out of range for " + name;
  }
  char buf[80];
  std::snprintf(buf, sizeof buf, "the stream reports status 0x%08" PRIX32, (uint32_t)status);
  return buf;
}

void put_u64(std::string &out, uint64_t v) { out.append(reinterpret_cast<const char *>(&v), 8); }
uint64_t get_u64(const char *p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

}  // namespace

uint64_t to_u64(const py::handle &value, const char *name) {
  if (!py::isinstance<py::int_>(value) || py::isinstance<py::bool_>(value))
    throw py::type_error(std::string(name) + " must be an int, not " + std::string(Py_TYPE(value.ptr())->tp_name));
  unsigned long long v = PyLong_AsUnsignedLongLong(value.ptr());
  if (PyErr_Occurred()) {
    PyErr_Clear();
    throw py::value_error(std::string(name) + " must be from 0 to 2**64-1");
  }
  return v;
}

Stream::Stream(const std::string &method, uint64_t seed, uint64_t key, uint64_t thread) {
  zeqhost::DrawRequest rq;
  rq.method = method;
  rq.seed = seed;
  rq.key = key;
  rq.thread = thread;
  rq.strict_method = true;
  std::string err;
  draw_ = zeqhost::RandomDraw::open(process_host(), rq, err);
  if (!draw_) throw py::value_error(err);
  s_ = draw_->stream();
  if (int32_t status = draw_->init_status(); status != 0) throw py::value_error(status_sentence(status, s_, method));
}

Stream::~Stream() = default;

void Stream::position(uint64_t count) {
  std::lock_guard<std::mutex> lock(mu_);
  zeqhost::SessionHold session = process_host().hold_session();
  zrng_desc *d = s_->desc;
  if (d->count_64) d->count_64(s_->state, count);
  else if (d->count_32 && count <= UINT32_MAX) d->count_32(s_->state, (uint32_t)count);
  else if (d->count_32) throw py::value_error(std::string(d->name) + " takes a position below 2**32");
  else throw py::value_error(std::string(d->name) + " cannot be positioned (the Threefry methods can)");
}

py::array Stream::draw(int64_t n, const std::string &conversion) {
  using zeqhost::rng::DrawKind;
  if (n < 0) throw py::value_error("draw(): n must not be negative");
  const zeqhost::rng::Conversion *c = zeqhost::rng::find_conversion(conversion);
  if (!c) throw py::value_error("draw(): unknown conversion '" + conversion + "' (zeqwucha.conversions() lists them)");
  py::array out = c->kind == DrawKind::U32   ? py::array(py::array_t<uint32_t>(n))
                  : c->kind == DrawKind::U64 ? py::array(py::array_t<uint64_t>(n))
                                             : py::array(py::array_t<double>(n));
  void *buf = out.mutable_data();
  std::string refused;
  {
    py::gil_scoped_release unlocked;
    std::lock_guard<std::mutex> lock(mu_);
    zeqhost::SessionHold session = process_host().hold_session();
    refused = zeqhost::rng::draw(s_, *c, buf, (size_t)n);
  }
  if (!refused.empty()) throw py::value_error("draw(): " + refused);
  return out;
}

py::bytes Stream::state() const {
  std::lock_guard<std::mutex> lock(mu_);
  const zrng_desc *d = s_->desc;
  if (d->state_bytes == 0) throw py::value_error(std::string(d->name) + " has no state that can be loaded back");
  std::string out(kMagic, sizeof kMagic);
  char name[16] = {};
  std::memcpy(name, d->name, sizeof name - 1);
  out.append(name, sizeof name);
  put_u64(out, s_->seed_used);
  put_u64(out, s_->key);
  put_u64(out, s_->thread);
  put_u64(out, (uint64_t)s_->state_size);
  out.append(static_cast<const char *>(s_->state), (size_t)s_->state_size);
  return py::bytes(out);
}

std::unique_ptr<Stream> Stream::from_state(const py::bytes &saved) {
  std::string b = saved;
  const char *p = b.data();
  if (b.size() < kHeader || std::memcmp(p, kMagic, sizeof kMagic) != 0)
    throw py::value_error("from_state(): not a state made by Stream.state()");
  std::string name(p + 8, strnlen(p + 8, 16));
  uint64_t size = get_u64(p + 48);
  auto s = std::make_unique<Stream>(name, get_u64(p + 24), get_u64(p + 32), get_u64(p + 40));
  zrand_stream *z = s->s_;
  const zrng_desc *d = z->desc;
  if (std::string(d->name) != name || size != (uint64_t)z->state_size || b.size() != kHeader + size ||
      size < d->state_bytes || !d->state)
    throw py::value_error("from_state(): the state does not fit method " + name);
  const char *blob = p + kHeader;
  zeqhost::SessionHold session = process_host().hold_session();
  // The generator words through the method's own operation; the position
  // fields after them (index, buffered block) as they were.
  d->state(z->state, blob, (int64_t)d->state_bytes, 0);
  std::memcpy(static_cast<char *>(z->state) + d->state_bytes, blob + d->state_bytes, size - d->state_bytes);
  return s;
}

std::vector<std::string> Stream::dump() const {
  std::lock_guard<std::mutex> lock(mu_);
  zeqhost::SessionHold session = process_host().hold_session();
  const zrng_desc *d = s_->desc;
  std::vector<zeqhost::LogEntry> log;
  zeqhost::LogCapture capture(log);
  if (d->output_bits > 32 && d->dump_blob_64)
    d->dump_blob_64(static_cast<const uint64_t *>(s_->state), s_->state_size / 8);
  else if (d->dump_blob_32)
    d->dump_blob_32(static_cast<const uint32_t *>(s_->state), s_->state_size / 4);
  std::vector<std::string> lines;
  for (const auto &e : log) lines.push_back(e.text);
  return lines;
}

std::string Stream::method() const { return s_->desc->name; }
uint64_t Stream::seed() const { return s_->seed_used; }
uint64_t Stream::key() const { return s_->key; }
uint64_t Stream::thread() const { return s_->thread; }

py::dict methods() {
  zeqhost::Host &host = process_host();
  auto resolve = host.fn<int32_t (*)(const void *, int64_t, zrng_desc *, int64_t)>("zrngmeth");
  zeqhost::SessionHold session = host.hold_session();  // the resolver reads the session
  py::dict out;
  for (const auto &m : zeqhost::all_method_options()) {
    std::string name(m.name);
    zrng_desc d{};
    if (!resolve || resolve(name.c_str(), -1, &d, 0) != 0) continue;  // not on this processor
    py::list options;
    for (auto [word, takes] : {std::pair{"seed", m.seed}, {"key", m.key}, {"thread", m.thread},
                               {"position", m.position}})
      if (takes) options.append(word);
    out[py::str(name)] = py::tuple(options);
  }
  return out;
}

}  // namespace zeqpy
