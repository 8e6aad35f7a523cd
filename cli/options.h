// The command line's options, declared once per subcommand and parsed by one parser.
//
// Each subcommand declares its options (name, kind of value, meaning, range, default, whether it
// may be given more than once) and its operands. From that one declaration come:
// - parsing in the GNU style: `--name=value` and `--name value`; `--` ends the options; `-` is an
//   operand (standard input or output where the command reads or writes one file);
// - usage errors that name the option: unknown, given twice when it takes one value, missing its
//   value, a flag given a value, a value that is not of its kind (NaN and numbers beyond the
//   float32 range of a float32 setting included) or outside its range;
// - the usage line printed with a usage error, and the whole `--help` text.
// Settings of the bind tag take their range and default from the loaded plug-in's own parameter
// description (DescribeTagSettings) rather than from this program.
#pragma once

#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "headless/entries/resources.h"
#include "headless/files/number_text.h"
#include "host/abi/types.h"

namespace cli {

enum class OptionKind {
  kFlag,     // no value
  kText,     // any text (a path, a name); `choices` limits it when not empty
  kInteger,  // a whole number (64-bit), within [min, max] when given
  kNumber,   // a finite float64, within [min, max] when given
};

struct OptionSpec {
  std::string name;         // "--strength"
  std::string placeholder;  // "S" in "--strength S"; empty for flags
  OptionKind kind = OptionKind::kFlag;
  std::string meaning;  // one sentence for --help
  std::optional<Float> min;
  std::optional<Float> max;
  std::string defaultText;                  // shown by --help; empty: none
  std::vector<std::string> choices;         // kText: the accepted words
  std::vector<std::string> choiceMeanings;  // same length as choices, or empty
  bool repeatable = false;
  bool required = false;
  bool float32 = false;    // kNumber: travels as float32, so it must fit one
  Int32 tagParameter = 0;  // a bind tag parameter whose description gives range and default
};

// Declarations in one line each.
OptionSpec FlagOption(std::string name, std::string meaning);
OptionSpec TextOption(std::string name, std::string placeholder, std::string meaning,
                      std::string defaultText = "");
OptionSpec ChoiceOption(std::string name, std::string placeholder, std::string meaning,
                        std::vector<std::string> choices, std::string defaultText);
OptionSpec IntegerOption(std::string name, std::string placeholder, std::string meaning,
                         std::optional<Float> min, std::optional<Float> max,
                         std::string defaultText = "");
OptionSpec NumberOption(std::string name, std::string placeholder, std::string meaning,
                        std::optional<Float> min, std::optional<Float> max,
                        std::string defaultText = "");
OptionSpec Required(OptionSpec option);
OptionSpec Repeatable(OptionSpec option);

struct CommandSpec {
  std::string name;      // "apply", "scene import"
  std::string operands;  // as in the usage line, e.g. "FRAME.obj..."; empty: none
  Int32 minOperands = 0;
  Int32 maxOperands = 0;  // -1: any number
  std::string summary;    // one line for the program's list of commands
  std::string details;    // paragraphs for --help, after the usage line
  std::vector<OptionSpec> options;
  bool loadsPlugins = true;  // the command starts the plug-ins (and takes --plugins)
};

// A fault in the command line; the program prints it with the command's usage and exits 2.
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// What the parser found, with typed access by option name.
class Options {
 public:
  bool Has(const std::string& name) const { return values_.count(name) != 0; }
  // The value of a single-value option, or `fallback` when it was not given.
  std::string Text(const std::string& name, const std::string& fallback = "") const;
  // Every value of a repeatable option, in order.
  std::vector<std::string> Texts(const std::string& name) const;
  std::optional<Int64> Integer(const std::string& name) const;
  std::optional<Float> Number(const std::string& name) const;
  // Integer(name) when the option was given, else its declared default (a bind-tag setting's is
  // the plug-in's description's once DescribeTagSettings has filled it in); nullopt when that is
  // not a whole number either.
  std::optional<Int64> IntegerOrDefault(const std::string& name) const;
  const std::vector<std::string>& Operands() const { return operands_; }

 private:
  friend Options ParseOptions(const CommandSpec& declaration, const std::vector<std::string>& args);
  std::map<std::string, std::vector<std::string>> values_;
  std::map<std::string, std::string> defaults_;  // declared defaults, by option name
  std::vector<std::string> operands_;
};

// The options every command takes besides its own: --plugins (when it loads plug-ins),
// --threads and --help.
std::vector<OptionSpec> CommonOptions(const CommandSpec& declaration);

// Parses the arguments after the command's name against its declaration (CommonOptions
// included). Throws UsageError naming the option or operand at fault. A bind-tag setting is
// checked against its description only when DescribeTagSettings has filled it in.
Options ParseOptions(const CommandSpec& declaration, const std::vector<std::string>& args);

// Fills the range, choices and default of every option with a tagParameter from the bind tag's
// registered description: int32 `min`/`max`, a cycle's values, a bool's 0 and 1, float `min`/
// `max`, and `default`. Answers false when no description was given (the plug-in is not loaded).
bool DescribeTagSettings(CommandSpec& declaration, const headless::DescriptionData* description);

// "usage: tessamire apply [OPTIONS] --rest REST.obj --out OUT FRAME.obj..." and a pointer to
// --help.
std::string UsageText(const CommandSpec& declaration);
// The whole help of one command: usage, details, every option with meaning, range and default.
std::string HelpText(const CommandSpec& declaration);

// Number parsing as the options do it (whole text, no NaN, no infinity).
using headless::ParseInteger;
using headless::ParseNumber;

}  // namespace cli
