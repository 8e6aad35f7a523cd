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
#include <optional>
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

// Parses a string table. On a malformed line answers false and sets `error` to
// "<source>:<line>: <fault>".
bool ParseStringTable(const std::string& text, const std::string& source,
                      std::map<Int32, std::string>& out, std::string& error);
// Loads `<resDirectory>/strings/strings.txt`. False with `error` set when the file is absent,
// unreadable or malformed.
bool LoadResourceSet(const std::string& resDirectory, ResourceSet& out, std::string& error);

// Parses a description resource. On a fault answers false and sets `error` to
// "<source>:<line>: <fault>".
bool ParseDescription(const std::string& text, const std::string& source, DescriptionData& out,
                      std::string& error);
// Loads `<resDirectory>/description/<name>.res` and checks that it declares `name`.
bool LoadDescription(const std::string& resDirectory, const std::string& name, DescriptionData& out,
                     std::string& error);

// Reads a whole file; false when it cannot be opened or read.
bool ReadFile(const std::string& path, std::string& out);

}  // namespace headless
