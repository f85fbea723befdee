#include "tools/zeq/session.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>

#include "tools/zeq/registry.h"

namespace zeqtool {

using zeq::catalogue::Result;

std::string format_number(double x) {
  if (std::isnan(x)) return ".";
  if (std::isinf(x)) return x > 0 ? "inf" : "-inf";
  if (x == std::trunc(x) && std::fabs(x) < 1e16) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.0f", x);
    return std::strcmp(buf, "-0") == 0 ? "0" : buf;
  }
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, x);
  return std::string(buf, r.ptr);
}

namespace {

// A growable result: the host's allocator record backed by realloc.
struct GrowableResult {
  FncStringAllocator rec{};
  std::vector<void *> blocks;
  static void *resize(FncStringAllocator *self, void *old, int64_t size, uint32_t) {
    auto *g = reinterpret_cast<GrowableResult *>(self);
    if (size <= 0) size = 1;
    void *p = std::realloc(old, (size_t)size);
    if (!p) return nullptr;
    for (auto &b : g->blocks)
      if (b == old) b = nullptr;
    g->blocks.push_back(p);
    return p;
  }
  GrowableResult() { rec.resize = resize; }
  ~GrowableResult() {
    for (void *b : blocks) std::free(b);
  }
};

struct CharVar {
  std::string buf;
  FncString rec{};
};

std::string trim_right(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

std::string text_of(const FncString &s) {
  int64_t n = s.length;
  int64_t room = s.allocator ? s.capacity : s.maxLength;
  if (n < 0) n = 0;
  if (n > room) n = room;
  if (!s.data || n <= 0) return {};
  return std::string(s.data, (size_t)n);
}

}  // namespace

struct Session::Impl {
  SessionOptions opt;
  std::unique_ptr<zeqhost::Host> host;
  std::map<std::string, std::unique_ptr<CharVar>> chars;
  std::map<std::string, std::unique_ptr<double>> nums;
  size_t log_seen = 0;
};

Session::Session(SessionOptions options) : impl_(new Impl) {
  impl_->opt = options;
  zeqhost::HostOptions ho;
  ho.module_path = options.module_path;
  ho.utf8 = options.utf8;
  impl_->host = std::make_unique<zeqhost::Host>(ho);
}

Session::~Session() = default;

bool Session::ready() const { return impl_->host->loaded(); }
std::string Session::load_error() const { return impl_->host->load_error(); }
zeqhost::Host &Session::host() { return *impl_->host; }

bool Session::define_char(const std::string &name, const std::string &value) {
  auto v = std::make_unique<CharVar>();
  int64_t len = impl_->opt.length;
  if (len < (int64_t)value.size()) len = (int64_t)value.size();
  v->buf = value;
  v->buf.resize((size_t)len, ' ');  // a fixed variable is padded with blanks
  v->rec.maxLength = len;
  v->rec.length = len;
  v->rec.data = v->buf.data();
  impl_->nums.erase(name);
  impl_->chars[name] = std::move(v);
  return true;
}

bool Session::define_num(const std::string &name, double value) {
  impl_->chars.erase(name);
  impl_->nums[name] = std::make_unique<double>(value);
  return true;
}

void Session::set_setting_text(const std::string &n, const std::string &v) { impl_->host->set_setting(n, v); }
void Session::set_setting_double(const std::string &n, double v) { impl_->host->set_setting(n, v); }
void Session::set_setting_int(const std::string &n, int64_t v) { impl_->host->set_setting_int(n, v); }

std::vector<std::string> Session::take_log() {
  std::vector<std::string> out;
  const auto &log = impl_->host->log();
  for (size_t i = impl_->log_seen; i < log.size(); i++) {
    const auto &e = log[i];
    if (impl_->opt.log_none) continue;
    bool journal = e.kind == zeqhost::LogEntry::JournalMessage || e.kind == zeqhost::LogEntry::JournalStatus;
    if (journal && e.level < impl_->opt.log_threshold) continue;
    out.push_back(e.text);
  }
  impl_->log_seen = log.size();
  return out;
}

Outcome Session::run_text(const std::string &text) {
  ParseError err;
  auto st = parse_statement(text, err);
  if (!st) {
    Outcome o;
    o.ok = false;
    o.usage = true;
    o.error = "parse error at column " + std::to_string(err.column) + ": " + err.message;
    return o;
  }
  return run(*st);
}

Outcome Session::run(const Statement &st) {
  Outcome out;
  auto fail = [&](const std::string &m) {
    out.ok = false;
    out.usage = true;
    out.error = m;
    return out;
  };
  auto &H = *impl_->host;
  const Function *f = find_function(st.name);
  if (!f) return fail("unknown function " + st.name + " (zeq help lists the functions)");
  if (st.call && !f->has_call()) return fail(st.name + " has no call-routine form; usage: " + usage_line(*f));
  if (!st.call && !f->has(zeq::catalogue::ZEQ_FN_FUNCTION))
    return fail(st.name + " is a call routine; write CALL " + st.name + "(...)");

  void *entry = f->slot > 0 ? H.slot(f->slot) : H.symbol(std::string(f->entry).c_str());
  if (!entry) return fail(st.name + " is not available in this module build");

  // The argument block of this call site.
  const size_t n = st.args.size();
  std::vector<unsigned char> raw(FNC_ARGLIST_SIZE(n ? n : 1), 0);
  auto *args = reinterpret_cast<FncArgList *>(raw.data());
  args->task = nullptr;  // the module finds the current task itself
  args->callForm = st.call ? FNC_FORM_CALL : FNC_FORM_FUNCTION;
  args->resultKind = (uint8_t)impl_->opt.result_kind;
  args->argCount = (int32_t)n;
  std::deque<std::string> texts;
  std::deque<FncString> strings;
  std::deque<double> numbers;
  const uint8_t str_type = (impl_->opt.varchar || impl_->opt.utf8) ? FNC_ARG_VARCHAR : FNC_ARG_CHAR;
  for (size_t i = 0; i < n; i++) {
    const Arg &a = st.args[i];
    FncArg &g = args->args[i];
    switch (a.kind) {
      case Arg::String: {
        texts.push_back(a.text);
        FncString s{};
        s.maxLength = s.length = (int64_t)a.text.size();
        s.data = texts.back().data();
        strings.push_back(s);
        g.type = str_type;
        g.value = &strings.back();
        break;
      }
      case Arg::Number:
      case Arg::Missing:
        numbers.push_back(a.kind == Arg::Missing ? std::nan("") : a.number);
        g.type = FNC_ARG_NUMERIC;
        g.value = &numbers.back();
        break;
      case Arg::Variable: {
        if (auto it = impl_->chars.find(a.text); it != impl_->chars.end()) {
          g.type = FNC_ARG_CHAR;
          g.value = &it->second->rec;
        } else if (auto jt = impl_->nums.find(a.text); jt != impl_->nums.end()) {
          g.type = FNC_ARG_NUMERIC;
          g.value = jt->second.get();
        } else {
          return fail("undefined variable " + a.text + " (define it with --char " + a.text +
                      "=TEXT or --num " + a.text + "=NUMBER)");
        }
        break;
      }
    }
  }

  // The multibyte twin the host calls itself when the first argument holds
  // a multibyte character.
  ZeqStringService *svc = nullptr;
  void *twin = nullptr;
  if (f->has(zeq::catalogue::ZEQ_FN_HOST_ROUTES) && impl_->opt.utf8) {
    auto check = H.fn<ZeqStringService *(*)(FncArgList *)>("CheckVarcharAndMultibyte");
    twin = H.symbol(std::string(f->mb_entry).c_str());
    if (check && twin) svc = check(args);
  }

  GrowableResult grow;
  std::string fixed;
  FncString result{};
  FncString *result_rec = &result;
  double number = std::nan("");  // a numeric result the function leaves unwritten shows as missing
  CharVar *target = nullptr;

  if (f->result == Result::Char) {
    if (st.call && f->call_result > 0) {
      const int k = f->call_result - 1;
      if ((size_t)k >= n || st.args[k].kind != Arg::Variable || !impl_->chars.count(st.args[k].text))
        return fail("CALL " + st.name + ": argument " + std::to_string(k + 1) +
                    " must be a character variable (--char NAME=TEXT); usage: " + usage_line(*f));
      target = impl_->chars[st.args[k].text].get();
      result_rec = &target->rec;
    } else if (impl_->opt.growable) {
      result.maxLength = impl_->opt.length;
      result.allocator = &grow.rec;
      result.capacity = 0;
    } else {
      fixed.assign((size_t)std::max<int64_t>(impl_->opt.length, 0), ' ');
      result.maxLength = impl_->opt.length;
      result.data = fixed.data();
    }
  } else if (f->result == Result::Direct) {
    if (n < 1 || !(args->args[0].type & FNC_ARG_ISCHAR))
      return fail(st.name + " takes one character argument; usage: " + usage_line(*f));
    fixed.assign((size_t)std::max<int64_t>(impl_->opt.length, 0), ' ');
    result.maxLength = impl_->opt.length;
    result.data = fixed.data();
  }

  int32_t status = 0;
  for (int rep = 0; rep < std::max(1, impl_->opt.repeat); rep++) {
    switch (f->result) {
      case Result::Char:
        if (svc)
          status = reinterpret_cast<int32_t (*)(FncArgList *, FncString *, ZeqStringService *, int32_t,
                                                const char *)>(twin)(args, st.call ? nullptr : result_rec, svc,
                                                                     0, f->name.data());
        else
          status = reinterpret_cast<int32_t (*)(FncArgList *, FncString *)>(entry)(args, result_rec);
        break;
      case Result::Number:
        if (svc)
          status = reinterpret_cast<int32_t (*)(FncArgList *, double *, ZeqStringService *, int32_t,
                                                const char *)>(twin)(args, &number, svc, 0, f->name.data());
        else
          status = reinterpret_cast<int32_t (*)(FncArgList *, double *)>(entry)(args, &number);
        break;
      case Result::Direct:
        status = reinterpret_cast<int32_t (*)(FncString *, FncString *)>(entry)(
            static_cast<FncString *>(args->args[0].value), &result);
        break;
      case Result::Routine:
        status = reinterpret_cast<int32_t (*)(FncArgList *)>(entry)(args);
        break;
    }
  }
  out.status = status;

  if (st.call) {
    // Show every variable the routine was given, as the host would see it.
    for (size_t i = 0; i < n; i++) {
      const Arg &a = st.args[i];
      if (a.kind != Arg::Variable) continue;
      if (auto it = impl_->chars.find(a.text); it != impl_->chars.end())
        out.output.push_back(a.text + "='" + trim_right(text_of(it->second->rec)) + "'");
      else if (auto jt = impl_->nums.find(a.text); jt != impl_->nums.end())
        out.output.push_back(a.text + "=" + format_number(*jt->second));
    }
  } else if (f->result == Result::Number) {
    out.output.push_back(format_number(number));
  } else if (f->result == Result::Char || f->result == Result::Direct) {
    out.output.push_back(text_of(*result_rec));
  }
  (void)target;
  out.log = take_log();
  for (const auto &l : out.log)
    out.noted |= l.rfind("NOTE", 0) == 0 || l.rfind("WARNING", 0) == 0 || l.rfind("ERROR", 0) == 0;
  if (status != 0) out.error = st.name + " returned status " + std::to_string(status);
  return out;
}

}  // namespace zeqtool
