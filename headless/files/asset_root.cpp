#include "headless/files/asset_root.h"

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "headless/platform/paths.h"

namespace headless {

namespace fs = std::filesystem;

namespace {

// A tree of pictures is walked this far at most, so that a root at "/" cannot stall an import.
constexpr int kMostEntriesWalked = 200000;

// Whether `path` is `folder` or lies below it (both absolute and normal).
bool Within(const fs::path& folder, const fs::path& path) {
  auto f = folder.begin(), p = path.begin();
  for (; f != folder.end(); ++f, ++p) {
    if (f->empty() && std::next(f) == folder.end()) break;  // a trailing separator
    if (p == path.end() || *f != *p) return false;
  }
  return true;
}

fs::path Resolved(const fs::path& path) {
  std::error_code ec;
  const fs::path real = fs::canonical(path, ec);
  return ec ? fs::absolute(path, ec).lexically_normal() : real;
}

}  // namespace

AssetRoot AssetRootFor(const std::string& path, const std::string& given) {
  AssetRoot root;
  const fs::path file = Resolved(platform::PathFromUtf8(path));
  std::error_code ec;
  root.file = platform::Utf8FromPath(file);
  root.base = platform::Utf8FromPath(
      fs::absolute(platform::PathFromUtf8(path), ec).lexically_normal().parent_path());
  if (given.empty()) {
    root.folder = platform::Utf8FromPath(Resolved(platform::PathFromUtf8(root.base)));
    return root;
  }
  if (!fs::is_directory(platform::PathFromUtf8(given), ec))
    throw std::runtime_error("--asset-root " + given + ": not a folder");
  root.folder = platform::Utf8FromPath(Resolved(platform::PathFromUtf8(given)));
  return root;
}

AssetRoot AssetRootForBytes(const std::string& given) {
  if (given.empty()) return {};
  std::error_code ec;
  if (!fs::is_directory(platform::PathFromUtf8(given), ec))
    throw std::runtime_error("--asset-root " + given + ": not a folder");
  AssetRoot root;
  root.folder = platform::Utf8FromPath(Resolved(platform::PathFromUtf8(given)));
  root.base = root.folder;
  return root;
}

std::optional<std::string> FileInRoot(const AssetRoot& root, const std::string& name,
                                      std::string& why) {
  fs::path path = platform::PathFromUtf8(name);
  if (path.is_relative()) path = platform::PathFromUtf8(root.base) / path;
  std::error_code ec;
  const fs::path real = fs::canonical(path, ec);
  if (ec) {
    why = "does not exist";
    return std::nullopt;
  }
  const std::string found = platform::Utf8FromPath(real);
  if (found != root.file) {
    if (root.folder.empty()) {
      why = "is another file, which a file read from memory cannot name";
      return std::nullopt;
    }
    if (!Within(platform::PathFromUtf8(root.folder), real)) {
      why = "lies outside the asset root " + root.folder + " (--asset-root)";
      return std::nullopt;
    }
  }
  // Looked at without opening it: a fifo or a device would block or never end.
  if (!fs::is_regular_file(real, ec)) {
    why = "is not a regular file";
    return std::nullopt;
  }
  return found;
}

std::optional<std::string> PictureInRoot(const AssetRoot& root, const std::string& name,
                                         std::string& why) {
  std::optional<std::string> file = FileInRoot(root, name, why);
  const fs::path path = platform::PathFromUtf8(name);
  // Rooted without a drive ("/home/...", another machine's) counts as absolute on Windows too.
  const bool absolute = path.is_absolute() || path.has_root_directory();
  if (file || !absolute || root.folder.empty() || !path.has_filename()) return file;
  if (!root.byFileName) {
    root.byFileName.emplace();
    std::error_code ec;
    int walked = 0;
    for (fs::recursive_directory_iterator it(platform::PathFromUtf8(root.folder), ec), end;
         !ec && it != end && walked < kMostEntriesWalked; it.increment(ec), ++walked)
      if (it->is_regular_file(ec))
        root.byFileName->emplace(platform::Utf8FromPath(it->path().filename()),
                                 platform::Utf8FromPath(it->path()));
  }
  const auto [first, last] = root.byFileName->equal_range(platform::Utf8FromPath(path.filename()));
  std::optional<std::string> least;
  for (auto it = first; it != last; ++it)
    if (!least || it->second < *least) least = it->second;
  if (!least) {
    why = "lies outside the asset root " + root.folder +
          " (--asset-root), and no file of its name is in it";
    return std::nullopt;
  }
  return FileInRoot(root, *least, why);
}

std::string RelativeToRoot(const AssetRoot& root, const std::string& file) {
  return platform::Utf8FromPath(
      platform::PathFromUtf8(file).lexically_relative(platform::PathFromUtf8(root.folder)));
}

}  // namespace headless
