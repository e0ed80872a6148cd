#include "file_list.h"

#include <algorithm>
#include <set>

#include "wildcard.h"

namespace kalo::zip32 {
namespace {

// A path's components; an absolute path has its root ("/", "C:/") as the first.
using Parts = std::vector<std::string>;

// Lexical only: symbolic links in the path are not looked at, so "link/.." drops both.
Parts SplitPath(std::string_view path) {
  const size_t root = RootLength(path);
  const bool absolute = root > 0;
  Parts parts;
  if (absolute) {
    parts.emplace_back(path.substr(0, root));
  }
  size_t start = root;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string_view::npos) {
      end = path.size();
    }
    const std::string_view part = path.substr(start, end - start);
    if (part == "..") {
      // Above the root is the root itself.
      if (parts.size() > (absolute ? 1 : 0) && parts.back() != "..") {
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

char AsciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

// The caller upper-cases the root in its own code page; only ASCII letters can be
// matched back reliably, so other bytes must be equal.
bool SameIgnoringCase(const std::string& a, const std::string& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](char x, char y) { return AsciiLower(x) == AsciiLower(y); });
}

std::string ChildPath(const std::string& folder, const std::string& name) {
  if (folder.empty() || folder.back() == '/') {
    return folder + name;
  }
  return folder + '/' + name;
}

// Sorted, so that archives come out the same whatever order the folder lists them in;
// nothing when the folder cannot be opened.
std::optional<std::vector<std::string>> SortedEntries(const std::string& folder) {
  std::optional<std::vector<std::string>> names = ListFolder(folder);
  if (names) {
    std::sort(names->begin(), names->end());
  }
  return names;
}

class Collector {
 public:
  Collector(const CollectOptions& options, const WarningSink& warn)
      : options_(options), warn_(warn) {
    // A root without components ("", "/", "C:/") means no root.
    if (SplitPath(options.root).size() > (RootLength(options.root) > 0 ? 1 : 0)) {
      root_ = AbsoluteParts(options.root);
    }
  }

  void VisitListed(const std::string& name) {
    const size_t slash = name.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : name.substr(0, slash + 1);
    const std::string pattern = name.substr(folder.size());
    if (!wildcard::HasWildcards(pattern)) {
      if (!Visit(name, true)) {
        warn_("name not matched: " + name);
      }
      return;
    }
    bool matched = false;
    if (const auto entries = SortedEntries(folder.empty() ? "." : folder)) {
      for (const std::string& entry : *entries) {
        // Brackets are ordinary characters in Windows names; letters differ only where
        // the file system tells them apart.
        if (wildcard::Matches(pattern, entry, {.ignore_ascii_case = kNamesIgnoreCase})) {
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
    const std::optional<FileFacts> facts = Inspect(path);
    if (!facts) {
      return false;
    }
    if (options_.archive && *options_.archive == facts->identity &&
        facts->kind != FileKind::kBrokenLink) {
      warn_("skipping the archive itself: " + path);
      return true;
    }
    switch (facts->kind) {
      case FileKind::kFile:
        // libzip opens files only when it writes the archive; checking now lets a failure
        // stop the run before anything is written.
        if (!CanRead(path)) {
          throw ReadFailure("cannot read " + path);
        }
        Add(path, false, *facts);
        break;
      case FileKind::kFolder:
        Add(path, true, *facts);
        // Linked folders met on the way down are not entered, so a loop cannot trap us.
        if (options_.recurse && (listed || !facts->is_link)) {
          VisitChildren(path);
        }
        break;
      case FileKind::kSpecial:
        warn_("skipping the special file " + path);
        break;
      case FileKind::kBrokenLink:
        warn_("skipping the broken link " + path);
        break;
    }
    return true;
  }

  void VisitChildren(const std::string& folder) {
    const auto entries = SortedEntries(folder);
    if (!entries) {
      throw ReadFailure("cannot open the folder " + folder);
    }
    for (const std::string& entry : *entries) {
      Visit(ChildPath(folder, entry), false);
    }
  }

  void Add(const std::string& path, bool is_folder, const FileFacts& facts) {
    std::string stored = StoredName(path);
    if (stored.empty()) {
      // The root folder itself, or a name such as "." or "/": its contents speak for it.
      return;
    }
    if (is_folder) {
      stored += '/';
    }
    if (seen_.insert(stored).second) {
      items_.push_back(Item{path, std::move(stored), is_folder, facts});
    }
  }

  // Relative to the root when the path lies under it, compared without regard to case
  // because the caller upper-cases the root; otherwise as given. Never a root ("/",
  // "C:/") first and never "..": leading ".." of a relative name are dropped.
  std::string StoredName(const std::string& path) const {
    if (!root_.empty()) {
      const Parts absolute = AbsoluteParts(path);
      if (absolute.size() >= root_.size() &&
          std::equal(root_.begin(), root_.end(), absolute.begin(), SameIgnoringCase)) {
        return Join(absolute.begin() + static_cast<std::ptrdiff_t>(root_.size()), absolute.end());
      }
    }
    const Parts parts = SplitPath(path);
    const auto first = std::find_if(parts.begin() + (RootLength(path) > 0 ? 1 : 0), parts.end(),
                                    [](const std::string& part) { return part != ".."; });
    return Join(first, parts.end());
  }

  Parts AbsoluteParts(const std::string& path) const {
    if (RootLength(path) > 0) {
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
