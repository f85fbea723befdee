#include "tools/zeq/help.h"

#include <algorithm>
#include <cctype>

#include "tools/zeq/parser.h"
#include "tools/zeq/registry.h"

namespace zeqtool {

namespace {

// The pairs of a catalogue field under a heading, the keys in one column.
std::string section(const char *heading, std::string_view field, char sep) {
  auto pairs = field_pairs(field, sep);
  if (pairs.empty()) return {};
  size_t width = 0;
  for (auto &[k, v] : pairs) width = std::max(width, k.size());
  std::string out = std::string(heading) + ":\n";
  for (auto &[k, v] : pairs) out += "  " + k + std::string(width - k.size() + 2, ' ') + v + "\n";
  return out;
}

std::string examples(std::string_view field) {
  if (field.empty()) return {};
  std::string out = "Examples:\n";
  while (!field.empty()) {
    size_t end = field.find(" | ");
    out += "  " + std::string(field.substr(0, end)) + "\n";
    field = end == std::string_view::npos ? std::string_view{} : field.substr(end + 3);
  }
  return out;
}

}  // namespace

std::string function_list() {
  size_t width = 0;
  for (const Function *f : functions()) width = std::max(width, f->name.size());
  std::string out;
  for (const Function *f : functions())
    out += std::string(f->name) + std::string(width - f->name.size() + 2, ' ') + std::string(f->unit()) +
           std::string(12 - f->unit().size(), ' ') + std::string(f->summary) + "\n";
  return out;
}

std::string function_help(const std::string &name) {
  const Function *f = find_function(upper(name));
  if (!f) return {};
  std::string out = std::string(f->name) + " - " + std::string(f->summary) + "\n\nUsage: " + usage_line(*f) + "\n";
  out += "Unit: " + std::string(f->unit()) + " in a UTF-8 session (the default); bytes with --encoding latin1\n\n";
  out += section("Arguments", f->args, ':');
  out += section("Modifiers", f->modifiers, '=');
  if (!f->notes.empty()) out += "Limits and defaults:\n  " + std::string(f->notes) + "\n";
  out += examples(f->examples);
  return out;
}

}  // namespace zeqtool
