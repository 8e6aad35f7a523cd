// Plug-in resources as the headless host reads them from a plug-in's `res` folder: string
// tables and parameter descriptions. The file formats are described in headless/README.md.
//
// res/strings/strings.txt   UTF-8 lines `<id> "<text>"`, `#` comment lines, blank lines;
//                           `\"` and `\\` escapes inside the text.
// res/description/<Name>.res
//                           first non-comment line `DESCRIPTION <Name>`, then one parameter per
//                           line: `<id> <type> <IDENT> "<label>" [key=value ...]`.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "headless/scene/description.h"
#include "host/abi/types.h"

namespace headless {

// A loaded resource folder (the plug-in's Resource handle).
struct ResourceSet {
  std::string directory;  // the `res` folder
  std::map<Int32, std::string> strings;
};

// Parses a string table. Throws std::invalid_argument "<source>:<line>: <fault>" on a malformed
// line.
std::map<Int32, std::string> ParseStringTable(const std::string& text, const std::string& source);
// Loads `<resDirectory>/strings/strings.txt`. Throws std::runtime_error when the file is absent
// or unreadable, std::invalid_argument when it is malformed.
ResourceSet LoadResourceSet(const std::string& resDirectory);

// Parses a description resource. Throws std::invalid_argument "<source>:<line>: <fault>".
DescriptionData ParseDescription(const std::string& text, const std::string& source);
// Loads `<resDirectory>/description/<name>.res` and checks that it declares `name`; throws as
// LoadResourceSet does.
DescriptionData LoadDescription(const std::string& resDirectory, const std::string& name);

// Reads a whole file. Throws std::runtime_error "<path>: cannot be read" when it cannot be opened
// or read.
std::string ReadFile(const std::string& path);

}  // namespace headless
