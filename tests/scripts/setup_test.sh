#!/usr/bin/env bash
# Checks what scripts/setup chooses without installing anything: the deb-src entries it
# derives from a machine's binary sources, and the parts each caller sets up.
# Usage: setup_test.sh SCRIPTS_DIR
set -uo pipefail
scripts=$1
passed=0
failed=0
check() {  # NAME EXPECTED ACTUAL
  if [[ "$2" == "$3" ]]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    printf 'FAILED %s\n--- expected\n%s\n--- got\n%s\n' "$1" "$2" "$3"
  fi
}

apt=$(mktemp -d)
trap 'rm -rf "$apt"' EXIT
mkdir -p "$apt/sources.list.d"
entries() { APT_SOURCES_DIR=$apt RELEASE_CODENAME=bookworm "$scripts/deb-src-entries" "$1"; }

# A mirror of the machine's own choosing, with the release's stanza beside others that
# carry no sources; comments, a disabled stanza and our own earlier entry are ignored.
cat >"$apt/sources.list.d/mirror.sources" <<'TEXT'
Types: deb
# a comment inside the stanza
URIs: http://mirror.invalid/debian
Suites: bookworm bookworm-updates
Components: main contrib
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb
URIs: http://mirror.invalid/debian-security
Suites: bookworm-security
Components: main

Types: deb
URIs: http://disabled.invalid/debian
Suites: bookworm
Components: main
Enabled: no
TEXT
printf 'Types: deb\nURIs: http://third.invalid/apt\nSuites: nodistro\nComponents: main\n' \
  >"$apt/sources.list.d/third.sources"
printf 'Types: deb-src\nURIs: http://old.invalid/debian\nSuites: bookworm\n' \
  >"$apt/sources.list.d/kalo-deb-src.sources"
check "deb822 entries follow the release's own mirror" "$(printf '%s\n' \
  'Types: deb-src' 'URIs: http://mirror.invalid/debian' 'Suites: bookworm bookworm-updates' \
  'Components: main contrib' 'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg')" \
  "$(entries deb822)"
check "no one-line sources, no one-line entries" "" "$(entries one-line)"

cat >"$apt/sources.list" <<'TEXT'
# deb http://commented.invalid/debian bookworm main
deb [arch=amd64 signed-by=/k.gpg] http://lines.invalid/debian bookworm main
deb http://lines.invalid/debian-security bookworm-security main
deb-src http://lines.invalid/debian bookworm main
TEXT
check "one-line entries keep their options" \
  "deb-src [arch=amd64 signed-by=/k.gpg] http://lines.invalid/debian bookworm main" \
  "$(entries one-line)"

windows_parts=(-e g++-mingw-w64-x86-64-posix -e wine64 -e dpkg-dev -e cross-build)
check "the Linux demo sets up nothing for Windows" "" \
  "$("$scripts/setup" --list --linux-only | grep -F "${windows_parts[@]}")"
check "the full set-up has every Windows part" "4" \
  "$("$scripts/setup" --list | grep -cF "${windows_parts[@]}")"
check "the benchmarks' tools come with --bench" "curl" \
  "$("$scripts/setup" --list --linux-only --bench | grep -x curl)"

echo "$passed passed, $failed failed"
((failed == 0))
