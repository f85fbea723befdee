#include "host/rng_draw.h"

#include <cctype>
#include <cinttypes>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <array>
#include <iterator>
#include <utility>

#include "rng/catalogue.h"

namespace zeqhost {
namespace {

using Slot = rng::Conversion;
using Kind = rng::DrawKind;

#define DESC_SLOT(field) offsetof(zrng_desc, field)
const rng::Conversion kConversions[] = {
    {"uint32", rng::DrawKind::U32, DESC_SLOT(uint32)},
    {"uint64", rng::DrawKind::U64, DESC_SLOT(uint64)},
    {"default", rng::DrawKind::Double, 0},
    {"crude", rng::DrawKind::Double, DESC_SLOT(double_crude)},
    {"with_zero", rng::DrawKind::Double, DESC_SLOT(double_with_zero)},
    {"double_32_reject_zero", rng::DrawKind::Double, DESC_SLOT(double_32) + 8 * ZRNG_REJECT},
    {"double_32_open_open", rng::DrawKind::Double, DESC_SLOT(double_32) + 8 * ZRNG_OO},
    {"double_32_open_closed", rng::DrawKind::Double, DESC_SLOT(double_32) + 8 * ZRNG_OC},
    {"double_32_closed_open", rng::DrawKind::Double, DESC_SLOT(double_32) + 8 * ZRNG_CO},
    {"double_32_closed_closed", rng::DrawKind::Double, DESC_SLOT(double_32) + 8 * ZRNG_CC},
    {"double_53_reject_zero", rng::DrawKind::Double, DESC_SLOT(double_53) + 8 * ZRNG_REJECT},
    {"double_53_open_open", rng::DrawKind::Double, DESC_SLOT(double_53) + 8 * ZRNG_OO},
    {"double_53_open_closed", rng::DrawKind::Double, DESC_SLOT(double_53) + 8 * ZRNG_OC},
    {"double_53_closed_open", rng::DrawKind::Double, DESC_SLOT(double_53) + 8 * ZRNG_CO},
    {"double_53_closed_closed", rng::DrawKind::Double, DESC_SLOT(double_53) + 8 * ZRNG_CC},
    {"double_64_reject_zero_one", rng::DrawKind::Double, DESC_SLOT(double_64) + 8 * ZRNG_REJECT},
    {"double_64_open_open", rng::DrawKind::Double, DESC_SLOT(double_64) + 8 * ZRNG_OO},
    {"double_64_open_closed", rng::DrawKind::Double, DESC_SLOT(double_64) + 8 * ZRNG_OC},
    {"double_64_closed_open", rng::DrawKind::Double, DESC_SLOT(double_64) + 8 * ZRNG_CO},
    {"double_64_closed_closed", rng::DrawKind::Double, DESC_SLOT(double_64) + 8 * ZRNG_CC},
    {"double_infinite", rng::DrawKind::Double, DESC_SLOT(double_infinite)},
};
#undef DESC_SLOT

namespace cat = zeq::rng::catalogue;
constexpr size_t kMethodCount = std::size(cat::kMethods);

constexpr uint64_t low_bits(int n) { return n >= 64 ? ~0ull : (1ull << n) - 1; }

// A key shares its word with the thread number when the method has no
// thread slot: it keeps the bits above the thread's, less the top one.
constexpr MethodOptions options_of(const cat::Method &m) {
  const int width = m.output_bits > 32 ? 64 : 32;
  const bool shared = m.thread_bits != 0 && m.thread_bits < width;
  MethodOptions o;
  o.name = m.name;
  o.output_bits = m.output_bits;
  o.seed = (m.options & ZRNG_OPT_SEED) != 0;
  o.key = (m.options & ZRNG_OPT_KEY) != 0;
  o.thread = (m.options & ZRNG_OPT_THREAD) != 0;
  o.position = (m.options & ZRNG_OPT_POSITION) != 0;
  o.constant_without_key = (m.options & ZRNG_OPT_CONSTANT_WITHOUT_KEY) != 0;
  o.thread_max = low_bits(m.thread_bits);
  o.key_max = !o.key ? 0 : shared ? low_bits(width - m.thread_bits - 1) : low_bits(width);
  o.description = m.description;
  return o;
}

template <size_t... I>
constexpr std::array<MethodOptions, kMethodCount> all_options(std::index_sequence<I...>) {
  return {options_of(cat::kMethods[I])...};
}
template <size_t... I>
constexpr std::array<const char *, kMethodCount> all_names(std::index_sequence<I...>) {
  return {cat::kMethods[I].name...};
}
constexpr auto kOptions = all_options(std::make_index_sequence<kMethodCount>{});
constexpr auto kMethods = all_names(std::make_index_sequence<kMethodCount>{});

// The rows in listing order.
std::array<const cat::Method *, kMethodCount> listing() {
  std::array<const cat::Method *, kMethodCount> out{};
  for (const auto &m : cat::kMethods) out[m.listed] = &m;
  return out;
}

bool same_word(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); i++)
    if (std::toupper((unsigned char)a[i]) != std::toupper((unsigned char)b[i])) return false;
  return true;
}

// "MT32 does not offer double_32_open_open" (with the caller's noun before the name).
std::string lacks(const zrng_desc *d, const Slot &slot, std::string_view noun = {}) {
  return std::string(d->name) + " does not offer " + std::string(noun) + slot.name;
}

const Slot *find_slot(const std::string &name) { return rng::find_conversion(name); }

// The function a double slot names, or null when the method lacks it.
zrng_double_fn double_slot(const zrand_stream *s, const Slot &slot) {
  if (slot.offset == 0) return s->double_fn;
  zrng_double_fn fn;
  std::memcpy(&fn, reinterpret_cast<const char *>(s->desc) + slot.offset, sizeof fn);
  return fn;
}

bool slot_present(const zrand_stream *s, const Slot &slot) {
  switch (slot.kind) {
    case Kind::U32: return s->desc->uint32 != nullptr;
    case Kind::U64: return s->desc->uint64 != nullptr;
    default: return double_slot(s, slot) != nullptr;
  }
}

// The setting that the resolver's status reports as refused, or "".
std::string method_problem(int32_t status, const std::string &word, const Host &host) {
  if (status == ZRAND_RC_BAD_METHOD)
    return "unknown method '" + word + "'; valid methods: " + join_names(draw_method_names(host));
  if (status == ZRAND_RC_NO_HARDWARE)
    return "method '" + word + "' needs the processor's random instruction, which this machine lacks";
  return "";
}

std::string position_problem(zrand_stream *s, uint64_t position) {
  zrng_desc *d = s->desc;
  if (d->count_64) d->count_64(s->state, position);
  else if (d->count_32) d->count_32(s->state, (uint32_t)position);
  else return std::string("method ") + d->name + " cannot be positioned";
  return "";
}

// A double option counts as given when it is a number other than 0 (the
// engine reads NaN as 0).
bool given(const std::optional<double> &d) { return d && *d == *d && *d != 0; }

std::string number_text(uint64_t u) { return DrawValue{true, u, 0}.text(); }

// The option of the request that the stream's method would ignore or cut,
// as a sentence, or "".
std::string option_problem(const zrand_stream *s, const DrawRequest &rq, int32_t status) {
  const MethodOptions *o = method_options(s->desc->name);
  if (!o) return "";
  const std::string m = "method " + std::string(o->name);
  if (!o->seed && (rq.seed != 0 || given(rq.seed_double)))
    return m + " takes no seed: its words come from the processor";
  if (!o->key && (rq.key != 0 || given(rq.key_double)))
    return m + " takes no key; the methods that take one are " + methods_taking(&MethodOptions::key);
  if (!o->thread && rq.thread != 0)
    return m + " takes no thread number; the methods that take one are " +
           methods_taking(&MethodOptions::thread);
  if (rq.thread > o->thread_max)
    return m + " tells thread numbers apart from 0 to " + number_text(o->thread_max) + " only; got " +
           number_text(rq.thread);
  if (status == ZRAND_RC_KEY_RANGE || rq.key > o->key_max) {
    const std::string key =
        given(rq.key_double) ? DrawValue{false, 0, *rq.key_double}.text() : number_text(rq.key);
    return m + " takes whole keys from 0 to " + number_text(o->key_max) + "; got " + key;
  }
  return "";
}

}  // namespace

const MethodOptions *method_options(std::string_view word) {
  while (!word.empty() && word.front() == ' ') word.remove_prefix(1);
  while (!word.empty() && word.back() == ' ') word.remove_suffix(1);
  for (const auto &a : cat::kAliases)
    if (same_word(word, a.word)) word = a.name;
  for (const auto &o : kOptions)
    if (same_word(word, o.name)) return &o;
  return nullptr;
}

std::span<const MethodOptions> all_method_options() { return kOptions; }

std::string methods_taking(bool MethodOptions::*option) {
  std::vector<std::string> names;
  for (const cat::Method *m : listing())
    if (method_options(m->name)->*option) names.push_back(m->name);
  return join_names(names);
}

namespace {

// "seed key thread position" for the options a method takes ("none").
std::string options_text(const MethodOptions &o) {
  std::string out;
  const std::pair<bool, const char *> words[] = {
      {o.seed, "seed"}, {o.key, "key"}, {o.thread, "thread"}, {o.position, "position"}};
  for (const auto &[taken, word] : words)
    if (taken) out.append(out.empty() ? "" : " ").append(word);
  return out.empty() ? "none" : out;
}

}  // namespace

std::string method_listing(const Host &host) {
  std::string out;
  for (const cat::Method *m : listing()) {
    if (!host.symbol(m->builder)) continue;
    const MethodOptions &o = *method_options(m->name);
    char bits[16] = "hardware";
    if (o.output_bits > 0) std::snprintf(bits, sizeof bits, "%d-bit", o.output_bits);
    std::string text = o.description.empty() ? "(no description)" : std::string(o.description);
    if (o.constant_without_key) text += "; constant without a key or thread (repeats the seed)";
    char line[200];
    std::snprintf(line, sizeof line, "%-9s %-8s words  takes %-24s  %s\n", m->name, bits,
                  options_text(o).c_str(), text.c_str());
    out += line;
  }
  return out;
}

struct RandomDraw::Impl {
  Host *host = nullptr;
  ZeqPool *pool = nullptr;
  zrand_stream *stream = nullptr;
  const Slot *slot = nullptr;
  zrng_double_fn fn = nullptr;
  std::string word;  // the stream keeps its address until the word is resolved
  int32_t status = 0;
  ~Impl() {
    if (stream && pool && pool->release) pool->release(pool, stream);
  }
};

RandomDraw::RandomDraw(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
RandomDraw::~RandomDraw() = default;

std::unique_ptr<RandomDraw> RandomDraw::open(Host &host, const DrawRequest &rq, std::string &err) {
  using alloc_t = zrand_stream *(*)(ZeqPool *);
  using init_t = int32_t (*)(zrand_stream *);
  auto alloc = host.fn<alloc_t>("zrand_alloc_tk");
  auto init = host.fn<init_t>("zrand_init");
  if (!alloc || !init) {
    err = "the module offers no random streams in this build";
    return nullptr;
  }
  SessionHold session = host.hold_session();  // the method resolver reads the session
  auto impl = std::make_unique<Impl>();
  impl->host = &host;
  impl->slot = find_slot(rq.conversion);
  if (!impl->slot) {
    err = "unknown conversion '" + rq.conversion + "'; valid conversions: " +
          join_names(draw_conversion_names());
    return nullptr;
  }
  impl->pool = host.global_pool().raw();
  impl->stream = alloc(impl->pool);
  zrand_stream *s = impl->stream;
  if (!s) {
    err = "no room for a stream";
    return nullptr;
  }
  impl->word = rq.method;
  s->method_word = impl->word.empty() ? nullptr : impl->word.c_str();
  s->seed = rq.seed;
  s->key = rq.key;
  s->thread = rq.thread;
  if (rq.seed_double) s->seed_double = *rq.seed_double;
  if (rq.key_double) s->key_double = *rq.key_double;
  impl->status = init(s);
  if (!s->desc) err = "the stream has no generator";
  else if (rq.strict_method) err = method_problem(impl->status, rq.method, host);
  if (err.empty()) err = option_problem(s, rq, impl->status);
  if (err.empty() && rq.position) err = position_problem(s, *rq.position);
  if (err.empty() && !slot_present(s, *impl->slot))
    err = lacks(s->desc, *impl->slot, rq.conversion_noun);
  if (!err.empty()) return nullptr;
  if (impl->slot->kind == Kind::Double) impl->fn = double_slot(s, *impl->slot);
  return std::unique_ptr<RandomDraw>(new RandomDraw(std::move(impl)));
}

DrawValue RandomDraw::next() {
  SessionHold session = impl_->host->hold_session();
  zrand_stream *s = impl_->stream;
  DrawValue v;
  v.integer = impl_->slot->kind != Kind::Double;
  if (impl_->slot->kind == Kind::U32) v.u = s->desc->uint32(s->state);
  else if (impl_->slot->kind == Kind::U64) v.u = s->desc->uint64(s->state);
  else v.d = impl_->fn(s->state);
  return v;
}

bool RandomDraw::integer() const { return impl_->slot->kind != Kind::Double; }
zrand_stream *RandomDraw::stream() const { return impl_->stream; }
int32_t RandomDraw::init_status() const { return impl_->status; }

std::string DrawValue::text() const {
  char buf[40];
  if (integer) std::snprintf(buf, sizeof buf, "%" PRIu64, u);
  else std::snprintf(buf, sizeof buf, "%.17g", d);
  return buf;
}

std::vector<std::string> draw_conversion_names() {
  std::vector<std::string> v;
  for (const auto &s : kConversions) v.push_back(s.name);
  return v;
}

std::vector<std::string> draw_method_names(const Host &host) {
  std::vector<std::string> v;
  for (const auto &m : cat::kMethods)
    if (host.symbol(m.builder)) v.push_back(m.name);
  return v;
}

std::string join_names(const std::vector<std::string> &names) {
  std::string out;
  for (const auto &n : names) out += (out.empty() ? "" : ", ") + n;
  return out;
}

namespace rng {

namespace {
template <class T, class F>
void fill(void *out, size_t n, F next) {
  T *p = static_cast<T *>(out);
  for (size_t i = 0; i < n; i++) p[i] = next();
}
}  // namespace

std::span<const Conversion> conversions() { return kConversions; }
std::span<const char *const> method_names() { return kMethods; }

std::vector<const char *> listed_method_names() {
  std::vector<const char *> out;
  for (const cat::Method *m : listing()) out.push_back(m->name);
  return out;
}

const Conversion *find_conversion(std::string_view word) {
  std::string name(word);
  for (auto &c : name) c = (char)std::tolower((unsigned char)c);
  if (name.rfind("zrng_", 0) == 0) name.erase(0, 5);
  for (const auto &c : kConversions) {
    if (name == c.name) return &c;
    if (std::strncmp(c.name, "double_", 7) == 0 && name == c.name + 7) return &c;
  }
  return nullptr;
}

std::string draw(zrand_stream *s, const Conversion &c, void *out, size_t n) {
  zrng_desc *d = s->desc;
  void *blob = s->state;
  switch (c.kind) {
    case DrawKind::U32:
      if (!d->uint32) return lacks(d, c);
      fill<uint32_t>(out, n, [&] { return d->uint32(blob); });
      return "";
    case DrawKind::U64:
      if (!d->uint64) return lacks(d, c);
      fill<uint64_t>(out, n, [&] { return d->uint64(blob); });
      return "";
    case DrawKind::Double: {
      zrng_double_fn fn = double_slot(s, c);
      if (!fn) return lacks(d, c);
      fill<double>(out, n, [&] { return fn(blob); });
      return "";
    }
  }
  return lacks(d, c);
}

}  // namespace rng

}  // namespace zeqhost
