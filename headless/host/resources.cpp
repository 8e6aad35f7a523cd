#include "headless/host/resources.h"

#include <cctype>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "headless/platform/platform.h"

namespace headless {

bool ReadFile(const std::string& path, std::string& out) {
  try {
    const std::filesystem::path file = platform::PathFromUtf8(path);
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec)) return false;
    std::ifstream in(file, std::ios::binary);
    if (!in) return false;
    std::ostringstream buffer;
    buffer << in.rdbuf();
    if (in.bad()) return false;
    out = buffer.str();
    return true;
  } catch (const std::exception&) {
    return false;  // a name the file system cannot take, or a read error the stream throws
  }
}

namespace {

// A cursor over one line of a resource file.
struct LineReader {
  const std::string& line;
  size_t pos = 0;

  void SkipSpace() {
    while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
  }
  bool AtEnd() {
    SkipSpace();
    return pos >= line.size();
  }
  // A run of non-space characters.
  std::string Word() {
    SkipSpace();
    const size_t start = pos;
    while (pos < line.size() && line[pos] != ' ' && line[pos] != '\t') ++pos;
    return line.substr(start, pos - start);
  }
  // A quoted text with \" and \\ escapes; false with `fault` set when malformed.
  bool Quoted(std::string& out, std::string& fault) {
    SkipSpace();
    if (pos >= line.size() || line[pos] != '"') {
      fault = "expected a quoted text";
      return false;
    }
    ++pos;
    out.clear();
    while (pos < line.size()) {
      const char c = line[pos++];
      if (c == '"') return true;
      if (c == '\\') {
        if (pos >= line.size() || (line[pos] != '"' && line[pos] != '\\')) {
          fault = "unknown escape in quoted text (only \\\" and \\\\ are allowed)";
          return false;
        }
        out.push_back(line[pos++]);
      } else {
        out.push_back(c);
      }
    }
    fault = "quoted text is not closed";
    return false;
  }
};

bool ParseInt32(const std::string& text, Int32& out) {
  const char* end = text.data() + text.size();
  const auto result = std::from_chars(text.data(), end, out);
  return !text.empty() && result.ec == std::errc() && result.ptr == end;
}

bool ParseFloat(const std::string& text, Float& out) {
  const char* end = text.data() + text.size();
  const auto result = std::from_chars(text.data(), end, out);
  return !text.empty() && result.ec == std::errc() && result.ptr == end;
}

bool IsIdentifier(const std::string& text) {
  if (text.empty() || !(std::isalpha(static_cast<unsigned char>(text[0])) || text[0] == '_'))
    return false;
  for (const char c : text)
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_')) return false;
  return true;
}

// Splits text into lines, dropping a trailing carriage return.
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

bool IsSkippable(const std::string& line) {
  const size_t first = line.find_first_not_of(" \t");
  return first == std::string::npos || line[first] == '#';
}

std::string Where(const std::string& source, size_t lineIndex) {
  return source + ":" + std::to_string(lineIndex + 1) + ": ";
}

// `<v>:<label>|<v>:<label>`; labels may be quoted.
bool ParseCycle(const std::string& text, std::vector<CycleEntry>& out, std::string& fault) {
  std::vector<std::string> items;
  std::string current;
  bool quoted = false;
  for (const char c : text) {
    if (c == '"') quoted = !quoted;
    if (c == '|' && !quoted) {
      items.push_back(current);
      current.clear();
    } else {
      current.push_back(c);
    }
  }
  items.push_back(current);
  for (const std::string& item : items) {
    const size_t colon = item.find(':');
    CycleEntry entry;
    if (colon == std::string::npos || !ParseInt32(item.substr(0, colon), entry.value)) {
      fault = "cycle entry \"" + item + "\" is not <value>:<label>";
      return false;
    }
    entry.label = item.substr(colon + 1);
    if (entry.label.size() >= 2 && entry.label.front() == '"' && entry.label.back() == '"')
      entry.label = entry.label.substr(1, entry.label.size() - 2);
    if (entry.label.empty()) {
      fault = "cycle entry \"" + item + "\" has an empty label";
      return false;
    }
    out.push_back(entry);
  }
  return true;
}

// A key=value word whose value may hold quoted parts with spaces.
std::string OptionWord(LineReader& reader) {
  reader.SkipSpace();
  std::string word;
  bool quoted = false;
  while (reader.pos < reader.line.size()) {
    const char c = reader.line[reader.pos];
    if (!quoted && (c == ' ' || c == '\t')) break;
    if (c == '"') quoted = !quoted;
    word.push_back(c);
    ++reader.pos;
  }
  return word;
}

bool ParseOption(const std::string& word, ParameterDescription& p, std::string& fault) {
  const size_t eq = word.find('=');
  if (eq == std::string::npos || eq == 0) {
    fault = "expected key=value, found \"" + word + "\"";
    return false;
  }
  const std::string key = word.substr(0, eq);
  const std::string value = word.substr(eq + 1);
  const bool numeric = p.type == ParameterType::kInt32 || p.type == ParameterType::kFloat;
  if (key == "min" || key == "max" || key == "step") {
    Float number = 0.0;
    if (!numeric) {
      fault = "key " + key + " applies only to int32 and float parameters";
      return false;
    }
    if (!ParseFloat(value, number)) {
      fault = "value of " + key + " is not a number: \"" + value + "\"";
      return false;
    }
    (key == "min" ? p.min : key == "max" ? p.max : p.step) = number;
    return true;
  }
  if (key == "default") {
    p.defaultValue = value;
    return true;
  }
  if (key == "accept") {
    Int32 type = 0;
    if (p.type != ParameterType::kLink) {
      fault = "key accept applies only to link parameters";
      return false;
    }
    if (!ParseInt32(value, type)) {
      fault = "value of accept is not a type id: \"" + value + "\"";
      return false;
    }
    p.accept = type;
    return true;
  }
  if (key == "cycle") {
    if (p.type != ParameterType::kInt32) {
      fault = "key cycle applies only to int32 parameters";
      return false;
    }
    return ParseCycle(value, p.cycle, fault);
  }
  fault = "unknown key \"" + key + "\"";
  return false;
}

bool ParseParameterLine(const std::string& line, ParameterDescription& p, std::string& fault) {
  LineReader reader{line};
  const std::string id = reader.Word();
  if (!ParseInt32(id, p.id)) {
    fault = "parameter id \"" + id + "\" is not an int32";
    return false;
  }
  const std::string typeName = reader.Word();
  const auto type = ParameterTypeFromName(typeName);
  if (!type) {
    fault = "unknown parameter type \"" + typeName + "\"";
    return false;
  }
  p.type = *type;
  p.ident = reader.Word();
  if (!IsIdentifier(p.ident)) {
    fault = "parameter identifier \"" + p.ident + "\" is not a valid name";
    return false;
  }
  if (!reader.Quoted(p.label, fault)) {
    fault = "label: " + fault;
    return false;
  }
  while (!reader.AtEnd())
    if (!ParseOption(OptionWord(reader), p, fault)) return false;
  return true;
}

}  // namespace

bool ParseStringTable(const std::string& text, const std::string& source,
                      std::map<Int32, std::string>& out, std::string& error) {
  std::map<Int32, std::string> strings;
  const std::vector<std::string> lines = Lines(text);
  for (size_t i = 0; i < lines.size(); ++i) {
    if (IsSkippable(lines[i])) continue;
    LineReader reader{lines[i]};
    const std::string idText = reader.Word();
    Int32 id = 0;
    std::string value;
    std::string fault;
    if (!ParseInt32(idText, id)) {
      error = Where(source, i) + "string id \"" + idText + "\" is not an int32";
      return false;
    }
    if (!reader.Quoted(value, fault)) {
      error = Where(source, i) + fault;
      return false;
    }
    if (!reader.AtEnd()) {
      error = Where(source, i) + "unexpected text after the closing quote";
      return false;
    }
    if (!strings.emplace(id, value).second) {
      error = Where(source, i) + "string id " + idText + " is defined twice";
      return false;
    }
  }
  out = std::move(strings);
  return true;
}

bool LoadResourceSet(const std::string& resDirectory, ResourceSet& out, std::string& error) {
  const std::string path = resDirectory + "/strings/strings.txt";
  std::string text;
  if (!ReadFile(path, text)) {
    error = path + ": cannot be read";
    return false;
  }
  ResourceSet set;
  set.directory = resDirectory;
  if (!ParseStringTable(text, path, set.strings, error)) return false;
  out = std::move(set);
  return true;
}

bool ParseDescription(const std::string& text, const std::string& source, DescriptionData& out,
                      std::string& error) {
  DescriptionData description;
  bool header = false;
  std::set<Int32> ids;
  const std::vector<std::string> lines = Lines(text);
  for (size_t i = 0; i < lines.size(); ++i) {
    if (IsSkippable(lines[i])) continue;
    if (!header) {
      LineReader reader{lines[i]};
      const std::string keyword = reader.Word();
      description.name = reader.Word();
      if (keyword != "DESCRIPTION" || description.name.empty() || !reader.AtEnd()) {
        error = Where(source, i) + "expected \"DESCRIPTION <Name>\"";
        return false;
      }
      header = true;
      continue;
    }
    ParameterDescription parameter;
    std::string fault;
    if (!ParseParameterLine(lines[i], parameter, fault)) {
      error = Where(source, i) + fault;
      return false;
    }
    if (!ids.insert(parameter.id).second) {
      error =
          Where(source, i) + "parameter id " + std::to_string(parameter.id) + " is declared twice";
      return false;
    }
    description.parameters.push_back(std::move(parameter));
  }
  if (!header) {
    error = source + ": no \"DESCRIPTION <Name>\" line";
    return false;
  }
  out = std::move(description);
  return true;
}

bool LoadDescription(const std::string& resDirectory, const std::string& name, DescriptionData& out,
                     std::string& error) {
  const std::string path = resDirectory + "/description/" + name + ".res";
  std::string text;
  if (!ReadFile(path, text)) {
    error = path + ": cannot be read";
    return false;
  }
  DescriptionData description;
  if (!ParseDescription(text, path, description, error)) return false;
  if (description.name != name) {
    error = path + ": declares DESCRIPTION " + description.name + ", expected " + name;
    return false;
  }
  out = std::move(description);
  return true;
}

}  // namespace headless
