#include "file_list.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <memory>
#include <set>

namespace kalo::zip32 {
namespace {

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

using Parts = std::vector<std::string>;

// Lexical only: symbolic links in the path are not looked at, so "link/.." drops both.
Parts SplitPath(std::string_view path) {
  const bool absolute = !path.empty() && path.front() == '/';
  Parts parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string_view::npos) {
      end = path.size();
    }
    const std::string_view part = path.substr(start, end - start);
    if (part == "..") {
      if (!parts.empty() && parts.back() != "..") {
        parts.pop_back();
      } else if (!absolute) {
        parts.emplace_back(part);
      }
    } else if (!part.empty() && part != ".") {
      parts.emplace_back(part);
    }
    start = end + 1;
  }
  return parts;
}

std::string Join(Parts::const_iterator begin, Parts::const_iterator end) {
  std::string joined;
  for (auto part = begin; part != end; ++part) {
    if (!joined.empty()) {
      joined += '/';
    }
    joined += *part;
  }
  return joined;
}

// The caller upper-cases the root in its own code page; only ASCII letters can be
// matched back reliably, so other bytes must be equal.
bool SameIgnoringCase(const std::string& a, const std::string& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    return lower(x) == lower(y);
  });
}

// Only '*' and '?' are wildcards; brackets are ordinary characters in Windows names.
bool Matches(std::string_view pattern, std::string_view text) {
  size_t p = 0;
  size_t t = 0;
  size_t star = std::string_view::npos;
  size_t resume = 0;
  while (t < text.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == text[t])) {
      ++p;
      ++t;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = t;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      t = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') {
    ++p;
  }
  return p == pattern.size();
}

std::string ChildPath(const std::string& folder, const std::string& name) {
  if (folder.empty() || folder.back() == '/') {
    return folder + name;
  }
  return folder + '/' + name;
}

// Sorted, so that archives come out the same whatever order the folder lists them in.
std::vector<std::string> FolderEntries(const std::string& folder, DIR* dir) {
  std::vector<std::string> names;
  while (true) {
    // Only errno tells the end of the folder from a failure to read it.
    errno = 0;
    const dirent* entry = ::readdir(dir);
    if (entry == nullptr) {
      break;
    }
    const std::string_view name = entry->d_name;
    if (name != "." && name != "..") {
      names.emplace_back(name);
    }
  }
  if (errno != 0) {
    throw ReadFailure("cannot read the folder " + folder);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string CurrentFolder() {
  std::string folder(PATH_MAX, '\0');
  if (::getcwd(folder.data(), folder.size()) == nullptr) {
    throw ReadFailure("cannot tell the current folder");
  }
  folder.resize(folder.find('\0'));
  return folder;
}

class Collector {
 public:
  Collector(const CollectOptions& options, const WarningSink& warn)
      : options_(options), warn_(warn) {
    root_ = SplitPath(options.root);
    if (!root_.empty() && options.root.front() != '/') {
      root_ = AbsoluteParts(options.root);
    }
  }

  void VisitListed(const std::string& name) {
    const size_t slash = name.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : name.substr(0, slash + 1);
    const std::string pattern = name.substr(folder.size());
    if (pattern.find_first_of("*?") == std::string::npos) {
      if (!Visit(name, true)) {
        warn_("name not matched: " + name);
      }
      return;
    }
    const DirHandle dir(::opendir(folder.empty() ? "." : folder.c_str()));
    bool matched = false;
    if (dir) {
      for (const std::string& entry : FolderEntries(folder, dir.get())) {
        if (Matches(pattern, entry)) {
          matched = Visit(ChildPath(folder, entry), true) || matched;
        }
      }
    }
    if (!matched) {
      warn_("name not matched: " + name);
    }
  }

  std::vector<Item> TakeItems() { return std::move(items_); }

 private:
  // Returns false when nothing exists under the path.
  bool Visit(const std::string& path, bool listed) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
      return false;
    }
    const bool is_link = S_ISLNK(info.st_mode);
    if (is_link && ::stat(path.c_str(), &info) != 0) {
      warn_("skipping the broken link " + path);
      return true;
    }
    if (options_.archive && options_.archive->first == info.st_dev &&
        options_.archive->second == info.st_ino) {
      warn_("skipping the archive itself: " + path);
      return true;
    }
    if (S_ISREG(info.st_mode)) {
      CheckReadable(path);
      Add(path, false, info);
    } else if (S_ISDIR(info.st_mode)) {
      Add(path, true, info);
      // Linked folders met on the way down are not entered, so a loop cannot trap us.
      if (options_.recurse && (listed || !is_link)) {
        VisitChildren(path);
      }
    } else {
      warn_("skipping the special file " + path);
    }
    return true;
  }

  void VisitChildren(const std::string& folder) {
    const DirHandle dir(::opendir(folder.c_str()));
    if (!dir) {
      throw ReadFailure("cannot open the folder " + folder);
    }
    for (const std::string& entry : FolderEntries(folder, dir.get())) {
      Visit(ChildPath(folder, entry), false);
    }
  }

  // libzip opens files only when it writes the archive; checking now lets a failure
  // stop the run before anything is written.
  static void CheckReadable(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
      throw ReadFailure("cannot read " + path);
    }
    ::close(fd);
  }

  void Add(const std::string& path, bool is_folder, const struct stat& info) {
    std::string stored = StoredName(path);
    if (stored.empty()) {
      // The root folder itself, or a name such as "." or "/": its contents speak for it.
      return;
    }
    if (is_folder) {
      stored += '/';
    }
    if (seen_.insert(stored).second) {
      items_.push_back(Item{path, std::move(stored), is_folder, info});
    }
  }

  // Relative to the root when the path lies under it, compared without regard to case
  // because the caller upper-cases the root; otherwise as given. Never "/" first and
  // never "..": leading ".." of a relative name are dropped.
  std::string StoredName(const std::string& path) const {
    if (!root_.empty()) {
      const Parts absolute = AbsoluteParts(path);
      if (absolute.size() >= root_.size() &&
          std::equal(root_.begin(), root_.end(), absolute.begin(), SameIgnoringCase)) {
        return Join(absolute.begin() + static_cast<std::ptrdiff_t>(root_.size()), absolute.end());
      }
    }
    const Parts parts = SplitPath(path);
    const auto first = std::find_if(parts.begin(), parts.end(),
                                    [](const std::string& part) { return part != ".."; });
    return Join(first, parts.end());
  }

  Parts AbsoluteParts(const std::string& path) const {
    if (!path.empty() && path.front() == '/') {
      return SplitPath(path);
    }
    if (current_folder_.empty()) {
      current_folder_ = CurrentFolder();
    }
    return SplitPath(current_folder_ + '/' + path);
  }

  const CollectOptions& options_;
  const WarningSink& warn_;
  Parts root_;
  mutable std::string current_folder_;
  std::set<std::string> seen_;
  std::vector<Item> items_;
};

}  // namespace

std::vector<Item> CollectItems(const std::vector<std::string>& names, const CollectOptions& options,
                               const WarningSink& warn) {
  Collector collector(options, warn);
  for (const std::string& name : names) {
    collector.VisitListed(name);
  }
  return collector.TakeItems();
}

std::string WithSlashes(std::string_view text) {
  std::string converted(text);
  std::replace(converted.begin(), converted.end(), '\\', '/');
  return converted;
}

}  // namespace kalo::zip32
