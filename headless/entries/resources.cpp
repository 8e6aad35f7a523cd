#include "headless/entries/resources.h"

#include <cctype>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>

#include "headless/platform/paths.h"

namespace headless {

std::string ReadFile(const std::string& path) {
  try {
    const std::filesystem::path file = platform::PathFromUtf8(path);
    std::error_code ec;
    if (std::filesystem::is_regular_file(file, ec)) {
      std::ifstream in(file, std::ios::binary);
      std::ostringstream buffer;
      if (in) buffer << in.rdbuf();
      if (in && !in.bad()) return buffer.str();
    }
  } catch (const std::exception&) {
    // a name the file system cannot take, or a read error the stream throws
  }
  throw std::runtime_error(path + ": cannot be read");
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
  // A quoted text with \" and \\ escapes; throws std::invalid_argument when malformed.
  std::string Quoted() {
    SkipSpace();
    if (pos >= line.size() || line[pos] != '"')
      throw std::invalid_argument("expected a quoted text");
    ++pos;
    std::string out;
    while (pos < line.size()) {
      const char c = line[pos++];
      if (c == '"') return out;
      if (c == '\\') {
        if (pos >= line.size() || (line[pos] != '"' && line[pos] != '\\'))
          throw std::invalid_argument(
              "unknown escape in quoted text (only \\\" and \\\\ are allowed)");
        out.push_back(line[pos++]);
      } else {
        out.push_back(c);
      }
    }
    throw std::invalid_argument("quoted text is not closed");
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
std::vector<CycleEntry> ParseCycle(const std::string& text) {
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
  std::vector<CycleEntry> out;
  for (const std::string& item : items) {
    const size_t colon = item.find(':');
    CycleEntry entry;
    if (colon == std::string::npos || !ParseInt32(item.substr(0, colon), entry.value))
      throw std::invalid_argument("cycle entry \"" + item + "\" is not <value>:<label>");
    entry.label = item.substr(colon + 1);
    if (entry.label.size() >= 2 && entry.label.front() == '"' && entry.label.back() == '"')
      entry.label = entry.label.substr(1, entry.label.size() - 2);
    if (entry.label.empty())
      throw std::invalid_argument("cycle entry \"" + item + "\" has an empty label");
    out.push_back(entry);
  }
  return out;
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

void ParseOption(const std::string& word, ParameterDescription& p) {
  const size_t eq = word.find('=');
  if (eq == std::string::npos || eq == 0)
    throw std::invalid_argument("expected key=value, found \"" + word + "\"");
  const std::string key = word.substr(0, eq);
  const std::string value = word.substr(eq + 1);
  const bool numeric = p.type == ParameterType::kInt32 || p.type == ParameterType::kFloat;
  if (key == "min" || key == "max" || key == "step") {
    Float number = 0.0;
    if (!numeric)
      throw std::invalid_argument("key " + key + " applies only to int32 and float parameters");
    if (!ParseFloat(value, number))
      throw std::invalid_argument("value of " + key + " is not a number: \"" + value + "\"");
    (key == "min" ? p.min : key == "max" ? p.max : p.step) = number;
  } else if (key == "default") {
    p.defaultValue = value;
  } else if (key == "accept") {
    Int32 type = 0;
    if (p.type != ParameterType::kLink)
      throw std::invalid_argument("key accept applies only to link parameters");
    if (!ParseInt32(value, type))
      throw std::invalid_argument("value of accept is not a type id: \"" + value + "\"");
    p.accept = type;
  } else if (key == "cycle") {
    if (p.type != ParameterType::kInt32)
      throw std::invalid_argument("key cycle applies only to int32 parameters");
    const std::vector<CycleEntry> entries = ParseCycle(value);
    p.cycle.insert(p.cycle.end(), entries.begin(), entries.end());
  } else {
    throw std::invalid_argument("unknown key \"" + key + "\"");
  }
}

ParameterDescription ParseParameterLine(const std::string& line) {
  ParameterDescription p;
  LineReader reader{line};
  const std::string id = reader.Word();
  if (!ParseInt32(id, p.id))
    throw std::invalid_argument("parameter id \"" + id + "\" is not an int32");
  const std::string typeName = reader.Word();
  const auto type = ParameterTypeFromName(typeName);
  if (!type) throw std::invalid_argument("unknown parameter type \"" + typeName + "\"");
  p.type = *type;
  p.ident = reader.Word();
  if (!IsIdentifier(p.ident))
    throw std::invalid_argument("parameter identifier \"" + p.ident + "\" is not a valid name");
  try {
    p.label = reader.Quoted();
  } catch (const std::invalid_argument& e) {
    throw std::invalid_argument(std::string("label: ") + e.what());
  }
  while (!reader.AtEnd()) ParseOption(OptionWord(reader), p);
  return p;
}

}  // namespace

std::map<Int32, std::string> ParseStringTable(const std::string& text, const std::string& source) {
  std::map<Int32, std::string> strings;
  const std::vector<std::string> lines = Lines(text);
  for (size_t i = 0; i < lines.size(); ++i) {
    if (IsSkippable(lines[i])) continue;
    try {
      LineReader reader{lines[i]};
      const std::string idText = reader.Word();
      Int32 id = 0;
      if (!ParseInt32(idText, id))
        throw std::invalid_argument("string id \"" + idText + "\" is not an int32");
      std::string value = reader.Quoted();
      if (!reader.AtEnd()) throw std::invalid_argument("unexpected text after the closing quote");
      if (!strings.emplace(id, std::move(value)).second)
        throw std::invalid_argument("string id " + idText + " is defined twice");
    } catch (const std::invalid_argument& e) {
      throw std::invalid_argument(Where(source, i) + e.what());
    }
  }
  return strings;
}

ResourceSet LoadResourceSet(const std::string& resDirectory) {
  const std::string path = resDirectory + "/strings/strings.txt";
  ResourceSet set;
  set.directory = resDirectory;
  set.strings = ParseStringTable(ReadFile(path), path);
  return set;
}

DescriptionData ParseDescription(const std::string& text, const std::string& source) {
  DescriptionData description;
  bool header = false;
  std::set<Int32> ids;
  const std::vector<std::string> lines = Lines(text);
  for (size_t i = 0; i < lines.size(); ++i) {
    if (IsSkippable(lines[i])) continue;
    try {
      if (!header) {
        LineReader reader{lines[i]};
        const std::string keyword = reader.Word();
        description.name = reader.Word();
        if (keyword != "DESCRIPTION" || description.name.empty() || !reader.AtEnd())
          throw std::invalid_argument("expected \"DESCRIPTION <Name>\"");
        header = true;
        continue;
      }
      ParameterDescription parameter = ParseParameterLine(lines[i]);
      if (!ids.insert(parameter.id).second)
        throw std::invalid_argument("parameter id " + std::to_string(parameter.id) +
                                    " is declared twice");
      description.parameters.push_back(std::move(parameter));
    } catch (const std::invalid_argument& e) {
      throw std::invalid_argument(Where(source, i) + e.what());
    }
  }
  if (!header) throw std::invalid_argument(source + ": no \"DESCRIPTION <Name>\" line");
  return description;
}

DescriptionData LoadDescription(const std::string& resDirectory, const std::string& name) {
  const std::string path = resDirectory + "/description/" + name + ".res";
  DescriptionData description = ParseDescription(ReadFile(path), path);
  if (description.name != name)
    throw std::invalid_argument(path + ": declares DESCRIPTION " + description.name +
                                ", expected " + name);
  return description;
}

}  // namespace headless
