#include "cli/options.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <sstream>

namespace cli {

namespace {

// "a whole number from 0 to 1000", "0 or 1", "one of front, back", "a number from 0 to 1".
std::string Accepted(const OptionSpec& o) {
  if (o.kind == OptionKind::kText) {
    std::string words;
    for (size_t i = 0; i < o.choices.size(); ++i)
      words += (i == 0 ? "" : i + 1 == o.choices.size() ? " or " : ", ") + o.choices[i];
    return o.choices.size() == 1 ? words : "one of " + words;
  }
  return headless::AcceptedText(o.kind == OptionKind::kInteger, {o.min, o.max});
}

[[noreturn]] void Refuse(const OptionSpec& o, const std::string& value) {
  throw UsageError(o.name + " wants " + Accepted(o) + ", not \"" + value + "\"");
}

void CheckValue(const OptionSpec& o, const std::string& value) {
  switch (o.kind) {
    case OptionKind::kFlag:
      return;
    case OptionKind::kText:
      if (!o.choices.empty()) {
        for (const std::string& choice : o.choices)
          if (value == choice) return;
        Refuse(o, value);
      }
      if (value.empty()) throw UsageError(o.name + " wants a value, not an empty text");
      return;
    case OptionKind::kInteger: {
      Int64 n = 0;
      if (!ParseInteger(value, n)) Refuse(o, value);
      if ((o.min && static_cast<Float>(n) < *o.min) || (o.max && static_cast<Float>(n) > *o.max))
        Refuse(o, value);
      return;
    }
    case OptionKind::kNumber: {
      Float x = 0.0;
      if (!ParseNumber(value, x)) Refuse(o, value);
      // A float32 setting narrows the value: one beyond float32's range would become infinite.
      if (o.float32 && std::fabs(x) > static_cast<Float>(std::numeric_limits<Float32>::max()))
        throw UsageError(o.name + " wants a number within the float32 range, not \"" + value +
                         "\"");
      if ((o.min && x < *o.min) || (o.max && x > *o.max)) Refuse(o, value);
      return;
    }
  }
}

std::string Signature(const OptionSpec& o) {
  return o.placeholder.empty() ? o.name : o.name + " " + o.placeholder;
}

// Wraps `text` to `width` columns, each line after the first indented by `indent`.
std::string Wrap(const std::string& text, size_t width, size_t indent) {
  std::istringstream words(text);
  std::string line, out, word;
  while (words >> word) {
    if (!line.empty() && line.size() + 1 + word.size() > width) {
      out += line + "\n" + std::string(indent, ' ');
      line.clear();
    }
    line += (line.empty() ? "" : " ") + word;
  }
  return out + line;
}

}  // namespace

OptionSpec FlagOption(std::string name, std::string meaning) {
  OptionSpec o;
  o.name = std::move(name);
  o.meaning = std::move(meaning);
  return o;
}

OptionSpec TextOption(std::string name, std::string placeholder, std::string meaning,
                      std::string defaultText) {
  OptionSpec o = FlagOption(std::move(name), std::move(meaning));
  o.kind = OptionKind::kText;
  o.placeholder = std::move(placeholder);
  o.defaultText = std::move(defaultText);
  return o;
}

OptionSpec ChoiceOption(std::string name, std::string placeholder, std::string meaning,
                        std::vector<std::string> choices, std::string defaultText) {
  OptionSpec o = TextOption(std::move(name), std::move(placeholder), std::move(meaning),
                            std::move(defaultText));
  o.choices = std::move(choices);
  return o;
}

OptionSpec IntegerOption(std::string name, std::string placeholder, std::string meaning,
                         std::optional<Float> min, std::optional<Float> max,
                         std::string defaultText) {
  OptionSpec o = TextOption(std::move(name), std::move(placeholder), std::move(meaning),
                            std::move(defaultText));
  o.kind = OptionKind::kInteger;
  o.min = min;
  o.max = max;
  return o;
}

OptionSpec NumberOption(std::string name, std::string placeholder, std::string meaning,
                        std::optional<Float> min, std::optional<Float> max,
                        std::string defaultText) {
  OptionSpec o = IntegerOption(std::move(name), std::move(placeholder), std::move(meaning), min,
                               max, std::move(defaultText));
  o.kind = OptionKind::kNumber;
  return o;
}

OptionSpec Required(OptionSpec option) {
  option.required = true;
  return option;
}

OptionSpec Repeatable(OptionSpec option) {
  option.repeatable = true;
  return option;
}

std::string Options::Text(const std::string& name, const std::string& fallback) const {
  const auto it = values_.find(name);
  return it == values_.end() || it->second.empty() ? fallback : it->second.back();
}

std::vector<std::string> Options::Texts(const std::string& name) const {
  const auto it = values_.find(name);
  return it == values_.end() ? std::vector<std::string>{} : it->second;
}

std::optional<Int64> Options::Integer(const std::string& name) const {
  Int64 n = 0;
  if (!Has(name) || !ParseInteger(Text(name), n)) return std::nullopt;
  return n;
}

std::optional<Int64> Options::IntegerOrDefault(const std::string& name) const {
  if (Has(name)) return Integer(name);
  const auto it = defaults_.find(name);
  Int64 n = 0;
  if (it == defaults_.end() || !ParseInteger(it->second, n)) return std::nullopt;
  return n;
}

std::optional<Float> Options::Number(const std::string& name) const {
  Float x = 0.0;
  if (!Has(name) || !ParseNumber(Text(name), x)) return std::nullopt;
  return x;
}

std::vector<OptionSpec> CommonOptions(const CommandSpec& declaration) {
  std::vector<OptionSpec> common;
  if (declaration.loadsPlugins)
    common.push_back(TextOption("--plugins", "DIR",
                                "load the plug-ins of DIR and its immediate subfolders instead of "
                                "looking in $TESSAMIRE_PLUGINS, then beside the program"));
  common.push_back(
      IntegerOption("--threads", "N",
                    "number of workers of the parallel loops (results are the same for any number)",
                    1, 1024, "one per hardware thread"));
  common.push_back(FlagOption("--help", "print this help and exit"));
  return common;
}

Options ParseOptions(const CommandSpec& declaration, const std::vector<std::string>& args) {
  std::vector<OptionSpec> all = declaration.options;
  for (OptionSpec& o : CommonOptions(declaration)) all.push_back(std::move(o));
  auto find = [&](const std::string& name) -> const OptionSpec* {
    for (const OptionSpec& o : all)
      if (o.name == name) return &o;
    return nullptr;
  };

  Options parsed;
  for (const OptionSpec& o : all)
    if (!o.defaultText.empty()) parsed.defaults_[o.name] = o.defaultText;
  bool optionsEnded = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (optionsEnded || a.size() < 2 || a[0] != '-') {
      parsed.operands_.push_back(a);
      continue;
    }
    if (a == "--") {
      optionsEnded = true;
      continue;
    }
    if (a[1] != '-') throw UsageError("unknown option " + a + " (options start with --)");
    const size_t equals = a.find('=');
    const std::string name = a.substr(0, equals);
    const OptionSpec* o = find(name);
    if (o == nullptr) throw UsageError("unknown option " + name);
    std::string value;
    if (o->kind == OptionKind::kFlag) {
      if (equals != std::string::npos) throw UsageError("option " + name + " takes no value");
    } else if (equals != std::string::npos) {
      value = a.substr(equals + 1);
    } else if (i + 1 < args.size()) {
      value = args[++i];
    } else {
      throw UsageError("option " + name + " needs a value (" + Signature(*o) + ")");
    }
    if (parsed.Has(name) && !o->repeatable)
      throw UsageError("option " + name + " is given more than once");
    CheckValue(*o, value);
    parsed.values_[name].push_back(value);
  }
  if (parsed.Has("--help")) return parsed;
  for (const OptionSpec& o : all)
    if (o.required && !parsed.Has(o.name))
      throw UsageError("option " + Signature(o) + " is required");
  const Int64 count = static_cast<Int64>(parsed.operands_.size());
  if (count < declaration.minOperands)
    throw UsageError(declaration.operands.empty() ? "missing operand"
                                                  : "missing " + declaration.operands);
  if (declaration.maxOperands >= 0 && count > declaration.maxOperands)
    throw UsageError("unexpected operand \"" +
                     parsed.operands_[static_cast<size_t>(declaration.maxOperands)] + "\"");
  return parsed;
}

bool DescribeTagSettings(CommandSpec& declaration, const headless::DescriptionData* description) {
  if (description == nullptr) return false;
  for (OptionSpec& o : declaration.options) {
    if (o.tagParameter == 0) continue;
    const headless::ParameterDescription* p = description->Find(o.tagParameter);
    if (p == nullptr) continue;
    const headless::AcceptedRange range = headless::RangeOf(*p);
    o.min = range.min;
    o.max = range.max;
    if (!p->cycle.empty()) {
      o.choiceMeanings.clear();
      for (const headless::CycleEntry& c : p->cycle)
        o.choiceMeanings.push_back(std::to_string(c.value) + " " + c.label);
    }
    if (p->defaultValue) o.defaultText = *p->defaultValue;
  }
  return true;
}

std::string UsageText(const CommandSpec& declaration) {
  std::string line = "usage: tessamire " + declaration.name + " [OPTIONS]";
  for (const OptionSpec& o : declaration.options)
    if (o.required) line += " " + Signature(o);
  if (!declaration.operands.empty()) line += " " + declaration.operands;
  return line + "\nTry 'tessamire " + declaration.name + " --help' for every option.\n";
}

std::string HelpText(const CommandSpec& declaration) {
  std::string text = UsageText(declaration);
  text.erase(text.find("\nTry") + 1);
  text += "\n" + Wrap(declaration.summary, 96, 0) + "\n";
  if (!declaration.details.empty()) {
    std::istringstream paragraphs(declaration.details);
    for (std::string paragraph; std::getline(paragraphs, paragraph);)
      text += (paragraph.empty() ? "" : "\n" + Wrap(paragraph, 96, 0)) + "\n";
  }
  text += "\nOptions (--name=value and --name value both work):\n";
  std::vector<OptionSpec> all = declaration.options;
  for (OptionSpec& o : CommonOptions(declaration)) all.push_back(std::move(o));
  constexpr size_t kColumn = 26;
  for (const OptionSpec& o : all) {
    std::string entry = "  " + Signature(o);
    entry += entry.size() + 2 <= kColumn ? std::string(kColumn - entry.size(), ' ')
                                         : "\n" + std::string(kColumn, ' ');
    std::string meaning = o.meaning;
    if (!o.choiceMeanings.empty()) {
      meaning += " (";
      for (size_t i = 0; i < o.choiceMeanings.size(); ++i)
        meaning += (i == 0 ? "" : ", ") + o.choiceMeanings[i];
      meaning += ")";
    }
    if (o.kind != OptionKind::kFlag && (o.kind != OptionKind::kText || !o.choices.empty())) {
      const bool unknown = o.tagParameter != 0 && !o.min && !o.max;
      meaning += unknown ? "; range and default: the plug-in's (not loaded)" : "; " + Accepted(o);
    }
    if (!o.defaultText.empty()) meaning += "; default " + o.defaultText;
    if (o.required) meaning += "; required";
    if (o.repeatable) meaning += "; may be given more than once";
    entry += Wrap(meaning + ".", 96 - kColumn, kColumn);
    text += entry + "\n";
  }
  return text;
}

}  // namespace cli
