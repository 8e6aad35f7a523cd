// The folder a file's external references must stay in: a glTF's buffers, a character's pictures.
// A reference resolves only to a regular file in the asset root's tree (links followed to where
// they lead), never through the current folder; a picture named by an absolute path elsewhere is
// looked up by its file name in that tree. Everything else is refused with a reason naming it, so
// a file cannot make the program read /etc/passwd, a fifo, or a device into its results.
#pragma once

#include <map>
#include <optional>
#include <string>

namespace headless {

struct AssetRoot {
  std::string folder;  // absolute, links resolved; empty: no external file is taken at all
  std::string base;    // where relative names start: the referring file's folder (absolute)
  std::string file;    // the referring file itself, always taken (absolute, links resolved)
  // File name -> the file of that name in the tree (the least relative name), once looked for.
  mutable std::optional<std::multimap<std::string, std::string> > byFileName;
};

// The root for the file `path`: `given` (--asset-root) or, empty, the file's own folder. Throws
// std::runtime_error when `given` is not a folder.
AssetRoot AssetRootFor(const std::string& path, const std::string& given);
// A root taking no external file (a file's bytes in memory, the standard input), or `given`.
AssetRoot AssetRootForBytes(const std::string& given);

// The file `name` (UTF-8; relative to `root.base`, or absolute) reaches when it is a regular file
// in the root's tree, as an absolute name; none with `why` set ("lies outside the asset root DIR",
// "is not a regular file", "does not exist") otherwise.
std::optional<std::string> FileInRoot(const AssetRoot& root, const std::string& name,
                                      std::string& why);
// A picture's file: as FileInRoot, except that an absolute name outside the tree is looked up by
// its file name in the tree (the least relative name of the matches; the tree is walked once).
std::optional<std::string> PictureInRoot(const AssetRoot& root, const std::string& name,
                                         std::string& why);
// `file` (absolute, in the tree) relative to the root's folder.
std::string RelativeToRoot(const AssetRoot& root, const std::string& file);

}  // namespace headless
