// host/host.cc - the reference host: builds the control block and its
// records, loads the module, and answers the Host accessors.
#include "host/host.h"

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "host/internal.h"

namespace zeqhost {

HostState *g_state = nullptr;

namespace {

Pool &make_pool(HostState &h) {
  std::lock_guard<std::mutex> lock(h.tasks_mu);
  h.pools.push_back(std::make_unique<Pool>(new Pool::Impl()));
  return *h.pools.back();
}

TaskBox &make_task(HostState &h) {
  auto box = std::make_unique<TaskBox>();
  box->slots.assign(kTaskSlots, nullptr);
  box->pool = &make_pool(h);
  if (h.options.scratch) box->scratch = std::make_unique<ScratchArena>();
  box->rec.pool = box->pool->raw();
  box->rec.slots = box->slots.data();
  box->rec.scratch = box->scratch ? &box->scratch->record.rec : nullptr;
  std::lock_guard<std::mutex> lock(h.tasks_mu);
  h.tasks.push_back(std::move(box));
  return *h.tasks.back();
}

std::string module_path(const HostOptions &o) {
  if (!o.module_path.empty()) return o.module_path;
  if (const char *env = std::getenv("ZEQ_MODULE"); env && *env) return env;
  // Beside the executable (the build tree), then where an installed program
  // finds it (ZEQ_MODULE_FROM_BIN, e.g. ../lib/libzeqwucha.so), before the
  // build's own: an installed program keeps its installed module even while
  // the build tree it came from is still there.
  char exe[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n > 0) {
    std::string dir(exe, (size_t)n);
    dir = dir.substr(0, dir.rfind('/') + 1);
    if (access((dir + "libzeqwucha.so").c_str(), R_OK) == 0) return dir + "libzeqwucha.so";
#ifdef ZEQ_MODULE_FROM_BIN
    if (access((dir + ZEQ_MODULE_FROM_BIN).c_str(), R_OK) == 0) return dir + ZEQ_MODULE_FROM_BIN;
#endif
  }
#ifdef ZEQ_DEFAULT_MODULE
  if (access(ZEQ_DEFAULT_MODULE, R_OK) == 0) return ZEQ_DEFAULT_MODULE;
#endif
  return "libzeqwucha.so";  // the dynamic linker's search: run path, LD_LIBRARY_PATH, system folders
}

// Loads the module as a host does: mcn_main(control block, process block),
// then vi_mcn -> mcn_pcns -> pcn_ZEQWUCHA -> entry -> function table.
void load_module(HostState &h) {
  std::string path = module_path(h.options);
  dlerror();
  h.dl = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!h.dl) {
    const char *e = dlerror();
    std::string now_error = e ? e : "dlopen failed";
    // A module under construction may still miss symbols: load it lazily so
    // that what exists can run, and keep the report.
    h.dl = dlopen(path.c_str(), RTLD_LAZY | RTLD_LOCAL);
    if (!h.dl) {
      const char *e2 = dlerror();
      h.load_error = e2 ? e2 : now_error;
      return;
    }
    h.load_error = "loaded lazily: " + now_error;
  }
  // The exact type of mcn_main: a call through any other is undefined (and
  // stopped by clang's -fsanitize=function).
  using MainFn = const void *(*)(ZeqControlBlock *, void *);
  auto main = reinterpret_cast<MainFn>(dlsym(h.dl, "mcn_main"));
  if (!main) {
    h.load_error = "the module has no mcn_main";
    return;
  }
  h.image = main(&h.cb, h.process_info);
  const ZeqImageInfo *vi = static_cast<const ZeqImageInfo *>(h.image);
  if (!vi || std::strncmp(vi->tag, "ZEQ_Image_Information=", 22) != 0) {
    h.load_error = "mcn_main did not return the image record";
    return;
  }
  const ZeqEntryRecord *pcn = vi->entries ? static_cast<const ZeqEntryRecord *>(vi->entries[0]) : nullptr;
  if (!pcn || !pcn->entry) {
    h.load_error = "the image record has no entry record";
    return;
  }
  h.table = pcn->entry();
  if (!h.table) {
    h.load_error = "the module entry returned no function table";
    return;
  }
  h.loaded = true;
}

}  // namespace

Host::Host(HostOptions options) : impl_(std::make_unique<Impl>()) {
  HostState &h = *impl_;
  h.options = std::move(options);
  g_state = &h;

  h.cb.upcase = h.upcase;
  h.cb.lowcase = h.lowcase;
  h.cb.charclass = h.charclass;

  h.global = &make_pool(h);
  h.cb.global_pool = h.global->raw();
  TaskBox &first = make_task(h);
  if (h.options.scratch) h.thread_scratch = std::make_unique<ScratchArena>();
  h.thread.task = &first.rec;
  h.thread.scratch = h.thread_scratch ? &h.thread_scratch->record.rec : nullptr;
  h.cb.thread = &h.thread;
  h.cb.thread_invalid = 0;

  h.option_text[4163] = "";
  h.option_text[4429] = "V7";

  build_vectors(h);
  build_kernel(h);
  build_journal(h);
  build_store(h);
  build_session(h);
  if (!h.options.processor) std::memset(h.processor, 0, sizeof h.processor);

  load_module(h);
}

Host::~Host() {
  if (impl_->dl) dlclose(impl_->dl);
  if (g_state == impl_.get()) g_state = nullptr;
}

// --- module ---
bool Host::loaded() const { return impl_->loaded; }
const std::string &Host::load_error() const { return impl_->load_error; }
// When the program itself links the module, a data symbol the program uses
// is copied into the executable and the module's own references go to that
// copy; the global scope gives the address the module really uses.
void *Host::symbol(const char *name) const {
  if (!impl_->dl || !name) return nullptr;
  void *own = dlsym(impl_->dl, name);
  if (!own) return nullptr;
  void *global = dlsym(RTLD_DEFAULT, name);
  if (!global || global == own) return own;
  Dl_info gi{}, oi{}, xi{};
  if (!dladdr(global, &gi) || !dladdr(own, &oi)) return own;
  if (gi.dli_fbase == oi.dli_fbase) return global;
  if (dladdr(reinterpret_cast<void *>(&load_module), &xi) && gi.dli_fbase == xi.dli_fbase) return global;
  return own;
}
void **Host::table() const { return impl_->table; }
void *Host::slot(int i) const {
  return impl_->table && i >= 0 && i < ZEQ_TABLE_SLOTS ? impl_->table[i] : nullptr;
}
const void *Host::image() const { return impl_->image; }

// --- records ---
ZeqControlBlock *Host::control_block() { return &impl_->cb; }
ZeqKernel *Host::kernel() { return &impl_->kernel; }
FncTask *Host::task() { return impl_->thread.task; }
FncTask *Host::new_task() { return &make_task(*impl_).rec; }
// Frees a task made by new_task with its pool (and so every block the module
// hung on it: the task context, its stream, COMPCOST's table, caches).  The
// first task, the current task and unknown records are left alone.
bool Host::free_task(FncTask *t) {
  HostState &h = *impl_;
  if (!t || t == h.thread.task) return false;
  std::unique_ptr<TaskBox> box;
  std::unique_ptr<Pool> pool;
  {
    std::lock_guard<std::mutex> lock(h.tasks_mu);
    auto it = std::find_if(h.tasks.begin() + 1, h.tasks.end(), [&](auto &b) { return &b->rec == t; });
    if (it == h.tasks.end()) return false;
    box = std::move(*it);
    h.tasks.erase(it);
    auto pit = std::find_if(h.pools.begin(), h.pools.end(), [&](auto &p) { return p.get() == box->pool; });
    if (pit != h.pools.end()) {
      pool = std::move(*pit);
      h.pools.erase(pit);
    }
  }
  return true;
}
size_t Host::task_count() const {
  std::lock_guard<std::mutex> lock(impl_->tasks_mu);
  return impl_->tasks.size();
}
ZeqThread *Host::thread() { return &impl_->thread; }
Pool &Host::global_pool() { return *impl_->global; }
Pool &Host::task_pool() { return pool_of(task()); }
Pool &Host::pool_of(FncTask *t) {
  std::lock_guard<std::mutex> lock(impl_->tasks_mu);  // other threads make and free tasks
  for (auto &box : impl_->tasks)
    if (&box->rec == t) return *box->pool;
  return *impl_->global;
}
Pool &Host::new_pool() { return make_pool(*impl_); }
size_t Host::scratch_live() const {
  std::lock_guard<std::mutex> lock(impl_->tasks_mu);
  for (auto &box : impl_->tasks)
    if (&box->rec == impl_->thread.task) return box->scratch ? box->scratch->live() : 0;
  return 0;
}
void Host::fail_scratch_nth(int n) { scratch_fail_nth(n); }
size_t Host::scratch_requests() const { return scratch_request_count(); }
void Host::set_current_task(FncTask *t) { impl_->thread.task = t; }

// --- session ---
void Host::set_class_bits(uint8_t byte, uint8_t bits) { impl_->charclass[byte] = bits; }
ZeqStringService *Host::string_service() { return &impl_->service; }
uint8_t *Host::processor_record() { return impl_->options.processor ? impl_->processor : nullptr; }

// --- journal and catalogue ---
const std::vector<LogEntry> &Host::log() const { return impl_->log; }
void Host::clear_log() {
  std::lock_guard<std::mutex> lock(impl_->log_mu);
  impl_->log.clear();
}
std::string Host::log_text() const {
  std::lock_guard<std::mutex> lock(impl_->log_mu);
  std::string out;
  for (const auto &e : impl_->log) {
    if (!out.empty()) out += '\n';
    out += e.text;
  }
  return out;
}
std::vector<int> Host::message_numbers() const {
  std::lock_guard<std::mutex> lock(impl_->log_mu);
  std::vector<int> out;
  for (const auto &e : impl_->log)
    if (e.kind == LogEntry::Catalogue && e.set == FNC_MSG_SET) out.push_back(e.number);
  return out;
}
std::vector<int> Host::journal_statuses() const {
  std::lock_guard<std::mutex> lock(impl_->log_mu);
  std::vector<int> out;
  for (const auto &e : impl_->log)
    if (e.kind == LogEntry::JournalStatus) out.push_back(e.number);
  return out;
}
std::string Host::catalogue_text(int set, int number) const { return catalogue_template(set, number); }
void Host::set_journal_fails(bool on) { impl_->journal_fails = on; }

// --- name/value store ---
namespace {
void store_value(HostState &h, const std::string &name, StoredValue v) {
  std::lock_guard<std::mutex> lock(h.store_mu);
  h.settings[u32_of_utf8(name)] = std::move(v);
}
}  // namespace

void Host::set_setting(const std::string &name, const std::string &text) {
  if (text.empty()) {
    clear_setting(name);
    return;
  }
  StoredValue v;
  v.type = ZEQ_NV_TEXT;
  v.text = u32_of_utf8(text);
  store_value(*impl_, name, v);
}
void Host::set_setting(const std::string &name, double value) {
  StoredValue v;
  v.type = ZEQ_NV_DOUBLE;
  v.d = value;
  store_value(*impl_, name, v);
}
void Host::set_setting_int(const std::string &name, int64_t value) {
  StoredValue v;
  v.type = ZEQ_NV_INT64;
  v.i = value;
  store_value(*impl_, name, v);
}
void Host::clear_setting(const std::string &name) {
  std::lock_guard<std::mutex> lock(impl_->store_mu);
  impl_->settings.erase(u32_of_utf8(name));
}
std::optional<std::string> Host::setting_text(const std::string &name) const {
  std::lock_guard<std::mutex> lock(impl_->store_mu);
  auto it = impl_->settings.find(u32_of_utf8(name));
  if (it == impl_->settings.end()) return std::nullopt;
  const StoredValue &v = it->second;
  if (v.type == ZEQ_NV_TEXT) return utf8_of(v.text);
  if (v.type == ZEQ_NV_INT64) return std::to_string(v.i);
  std::ostringstream os;
  os.precision(17);
  os << v.d;
  return os.str();
}
bool Host::has_setting(const std::string &name) const {
  std::lock_guard<std::mutex> lock(impl_->store_mu);
  return impl_->settings.count(u32_of_utf8(name)) != 0;
}

// --- options and macro variables ---
void Host::set_option(int number, const std::string &text) { impl_->option_text[number] = text; }
void Host::set_yearcutoff(double value) { impl_->yearcutoff = value; }
void Host::set_option_fails(int number, int status) { impl_->option_fail[number] = status; }
std::optional<std::string> Host::macro(const std::string &name) const {
  std::string n = name;
  for (char &c : n) c = (char)std::toupper((unsigned char)c);
  auto it = impl_->macros.find(n);
  if (it == impl_->macros.end()) return std::nullopt;
  return it->second.first;
}
int Host::macro_scope(const std::string &name) const {
  std::string n = name;
  for (char &c : n) c = (char)std::toupper((unsigned char)c);
  auto it = impl_->macros.find(n);
  return it == impl_->macros.end() ? -1 : it->second.second;
}

// --- misc services ---
void Host::set_version(const std::string &text) {
  impl_->version = text.substr(0, 8);
  impl_->version.resize(8, ' ');
}
void Host::set_clock(double seconds_or_nan) { impl_->fixed_clock = seconds_or_nan; }
void Host::set_unquote_hook(int (*hook)(char *, FncString *)) { impl_->unquote_hook = hook; }
const std::vector<ServiceCall> &Host::service_calls() const { return impl_->calls; }
void Host::clear_service_calls() {
  std::lock_guard<std::mutex> lock(impl_->calls_mu);
  impl_->calls.clear();
}
int Host::clock_changes() const { return impl_->clock_changes; }

}  // namespace zeqhost
