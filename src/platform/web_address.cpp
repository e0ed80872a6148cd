#include "platform/web_address.h"

#include <algorithm>
#include <charconv>

namespace kalo::platform {
namespace {

constexpr std::uint16_t kHttpPort = 80;
constexpr std::uint16_t kHttpsPort = 443;

bool IsLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Where the parts of an address lie in its text, before any of them is checked.
struct Pieces {
  std::string_view scheme;
  std::size_t authority_start = 0;
  std::optional<std::string_view> user_info;  // before the authority's last '@'
  std::string_view host_port;
  std::string_view rest;
};

Pieces Split(std::string_view text) {
  Pieces pieces;
  // A "://" only counts before the path: a query may hold whole addresses.
  if (const auto marker = text.find("://");
      marker != std::string_view::npos && marker < text.find_first_of("/?#")) {
    pieces.scheme = text.substr(0, marker);
    pieces.authority_start = marker + 3;
  }
  const auto end = text.find_first_of("/?#", pieces.authority_start);
  const std::string_view authority = text.substr(
      pieces.authority_start, end == std::string_view::npos ? end : end - pieces.authority_start);
  pieces.rest = end == std::string_view::npos ? std::string_view() : text.substr(end);
  if (const auto at = authority.rfind('@'); at != std::string_view::npos) {
    pieces.user_info = authority.substr(0, at);
    pieces.host_port = authority.substr(at + 1);
  } else {
    pieces.host_port = authority;
  }
  return pieces;
}

std::optional<std::string> PercentDecoded(std::string_view text) {
  std::string decoded;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      decoded += text[i];
      continue;
    }
    unsigned value = 0;
    const char* first = text.data() + i + 1;
    if (i + 2 >= text.size() || std::from_chars(first, first + 2, value, 16).ptr != first + 2) {
      return std::nullopt;
    }
    decoded += static_cast<char>(value);
    i += 2;
  }
  return decoded;
}

bool IsSchemeName(std::string_view scheme) {
  return !scheme.empty() && IsLetter(scheme.front()) && std::ranges::all_of(scheme, [](char c) {
    return IsLetter(c) || IsDigit(c) || c == '+' || c == '-' || c == '.';
  });
}

bool IsHostName(std::string_view host) {
  return !host.empty() && std::ranges::all_of(host, [](char c) {
    return IsLetter(c) || IsDigit(c) || c == '-' || c == '.' || c == '_' ||
           static_cast<unsigned char>(c) >= 0x80;
  });
}

bool IsIpv6Text(std::string_view host) {
  return !host.empty() && std::ranges::all_of(host, [](char c) {
    return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == ':' || c == '.';
  });
}

// Host and port of "host:port", "[v6]:port" or either without a port; an empty port
// is the scheme's own, as in a URL.
bool ReadHostPort(std::string_view text, WebAddress& address) {
  std::string_view port_text;
  if (text.starts_with('[')) {
    const auto close = text.find(']');
    if (close == std::string_view::npos || !IsIpv6Text(text.substr(1, close - 1))) {
      return false;
    }
    address.host = text.substr(1, close - 1);
    const std::string_view after = text.substr(close + 1);
    if (!after.empty() && !after.starts_with(':')) {
      return false;
    }
    port_text = after.empty() ? after : after.substr(1);
  } else {
    const auto colon = text.rfind(':');
    address.host = text.substr(0, colon);
    if (!IsHostName(address.host)) {
      return false;
    }
    port_text = colon == std::string_view::npos ? std::string_view() : text.substr(colon + 1);
  }
  if (port_text.empty()) {
    return true;
  }
  unsigned value = 0;
  const char* end = port_text.data() + port_text.size();
  if (!std::ranges::all_of(port_text, IsDigit) ||
      std::from_chars(port_text.data(), end, value).ptr != end || value == 0 || value > 0xffff) {
    return false;
  }
  address.port = static_cast<std::uint16_t>(value);
  return true;
}

}  // namespace

std::uint16_t WebAddress::PortOrDefault() const {
  return port.value_or(Secure() ? kHttpsPort : kHttpPort);
}

bool HasControlCharacters(std::string_view text) {
  return std::ranges::any_of(text, [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7f;
  });
}

std::optional<WebAddress> ParseWebAddress(std::string_view text) {
  if (HasControlCharacters(text) || text.find(' ') != std::string_view::npos) {
    return std::nullopt;
  }
  const Pieces pieces = Split(text);
  WebAddress address;
  if (pieces.authority_start > 0) {
    if (!IsSchemeName(pieces.scheme)) {
      return std::nullopt;
    }
    std::ranges::transform(pieces.scheme, std::back_inserter(address.scheme), [](char c) {
      return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    });
  }
  if (pieces.user_info) {
    const auto colon = pieces.user_info->find(':');
    const auto user = PercentDecoded(pieces.user_info->substr(0, colon));
    if (!user) {
      return std::nullopt;
    }
    address.user = *user;
    if (colon != std::string_view::npos) {
      address.password = PercentDecoded(pieces.user_info->substr(colon + 1));
      if (!address.password) {
        return std::nullopt;
      }
    }
  }
  if (!ReadHostPort(pieces.host_port, address)) {
    return std::nullopt;
  }
  address.rest = pieces.rest;
  return address;
}

std::string ShownAddress(std::string_view text) {
  const Pieces pieces = Split(text);
  if (!pieces.user_info) {
    return std::string(text);
  }
  const auto colon = pieces.user_info->find(':');
  if (colon == std::string_view::npos) {
    return std::string(text);
  }
  const std::size_t password_start = pieces.authority_start + colon + 1;
  const std::size_t password_end = pieces.authority_start + pieces.user_info->size();
  return std::string(text.substr(0, password_start)) + "***" +
         std::string(text.substr(password_end));
}

std::string AddressWithoutCredentials(std::string_view text) {
  const Pieces pieces = Split(text);
  if (!pieces.user_info) {
    return std::string(text);
  }
  return std::string(text.substr(0, pieces.authority_start)) + "***" +
         std::string(text.substr(pieces.authority_start + pieces.user_info->size()));
}

}  // namespace kalo::platform
