#include "wildcard.h"

#include <string_view>

namespace kalo::wildcard {
namespace {

template <typename Char>
Char Folded(Char c, const Rules& rules) {
  if (rules.backslash_is_slash && c == Char('\\')) {
    return Char('/');
  }
  if (rules.ignore_ascii_case && c >= Char('A') && c <= Char('Z')) {
    return static_cast<Char>(c - Char('A') + Char('a'));
  }
  return c;
}

// Matches one [set] at the start of `pattern` against `c`; returns the set's length, or 0
// when the set is not closed and the bracket is an ordinary character.
template <typename Char>
std::size_t MatchSet(std::basic_string_view<Char> pattern, Char c, const Rules& rules,
                     bool& matched) {
  std::size_t at = 1;
  const bool negate = at < pattern.size() && (pattern[at] == Char('!') || pattern[at] == Char('^'));
  if (negate) {
    ++at;
  }
  bool hit = false;
  for (bool first = true; at < pattern.size() && (first || pattern[at] != Char(']'));
       first = false) {
    const Char low = Folded(pattern[at], rules);
    Char high = low;
    if (at + 2 < pattern.size() && pattern[at + 1] == Char('-') && pattern[at + 2] != Char(']')) {
      high = Folded(pattern[at + 2], rules);
      at += 2;
    }
    hit = hit || (c >= low && c <= high);
    ++at;
  }
  if (at >= pattern.size()) {
    return 0;
  }
  matched = hit != negate;
  return at + 1;
}

template <typename Char>
bool MatchesText(std::basic_string_view<Char> pattern, std::basic_string_view<Char> name,
                 const Rules& rules) {
  // Backtracking only to the last star keeps the work quadratic at worst, where a
  // recursive matcher can take exponential time on names full of stars.
  std::size_t p = 0;
  std::size_t n = 0;
  std::size_t star = std::basic_string_view<Char>::npos;
  std::size_t star_name = 0;
  while (n < name.size()) {
    const Char c = Folded(name[n], rules);
    if (p < pattern.size() && pattern[p] == Char('*')) {
      star = p++;
      star_name = n;
      continue;
    }
    if (p < pattern.size()) {
      bool matched = false;
      std::size_t length = 0;
      if (rules.sets && pattern[p] == Char('[')) {
        length = MatchSet(pattern.substr(p), c, rules, matched);
      }
      if (length == 0) {
        matched = pattern[p] == Char('?') || Folded(pattern[p], rules) == c;
        length = 1;
      }
      if (matched) {
        p += length;
        ++n;
        continue;
      }
    }
    if (star == std::basic_string_view<Char>::npos) {
      return false;
    }
    p = star + 1;
    n = ++star_name;
  }
  while (p < pattern.size() && pattern[p] == Char('*')) {
    ++p;
  }
  return p == pattern.size();
}

}  // namespace

bool HasWildcards(std::string_view pattern) {
  return pattern.find_first_of("*?") != std::string_view::npos;
}

bool Matches(std::string_view pattern, std::string_view name, Rules rules) {
  return MatchesText(pattern, name, rules);
}

bool Matches(std::wstring_view pattern, std::wstring_view name, Rules rules) {
  return MatchesText(pattern, name, rules);
}

}  // namespace kalo::wildcard
