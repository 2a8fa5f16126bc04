#!/usr/bin/env bash
# install_test.sh BUILD SOURCE
#
# Installs the build into a temporary prefix and checks the tree; builds the
# example against that prefix alone and runs it unattended, then checks its
# report. Then the same with the Debian package made by cpack, unpacked with
# dpkg-deb -x.
# (No grep -q at the end of a pipe: under pipefail the writer's SIGPIPE
# would count as a failure.)
set -euo pipefail
build=$(realpath "$1")
source=$(realpath "$2")
work=$(mktemp -d "${TMPDIR:-/tmp}/corvane-install.XXXXXX")
trap 'rm -rf "$work"' EXIT
# Nothing may come from the build tree: the example must find it all in the prefix.
unset LD_LIBRARY_PATH QT_PLUGIN_PATH
qt_plugins=$(qtpaths6 --query QT_INSTALL_PLUGINS)
failures=0

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# The libraries with version and SONAME, headers, CMake package, plugin and
# programs of an installed tree; the programs start without LD_LIBRARY_PATH.
check_tree() {
  local prefix=$1
  local library
  for library in CVVesparoDXE3 CVVesparoDXE2 CVVesparoD6 CorvanePlatform CorvaneHostFw; do
    [ -f "$prefix/lib/lib$library.so.1.1.0" ] || fail "$prefix: no lib$library.so.1.1.0"
    [ "$(readlink -f "$prefix/lib/lib$library.so")" = "$(readlink -f "$prefix/lib/lib$library.so.1.1.0")" ] ||
      fail "$prefix: lib$library.so does not lead to the versioned file"
    readelf -d "$prefix/lib/lib$library.so.1.1.0" | grep -F "Library soname: [lib$library.so.1]" >/dev/null ||
      fail "$prefix: lib$library has not the SONAME lib$library.so.1"
  done
  local header
  for header in package/Vesparo.h hostfw/Application.h platform/StackTrace.h; do
    [ -f "$prefix/include/corvane/$header" ] || fail "$prefix: no include/corvane/$header"
  done
  [ -f "$prefix/lib/cmake/Corvane/CorvaneConfig.cmake" ] || fail "$prefix: no CMake package"

  # The Designer plugin where the system's Qt looks when the prefix is /usr.
  local plugin
  plugin=$prefix/${qt_plugins#/usr/}/designer/libCorvaneDesignerPlugin.so
  if [ -f "$plugin" ]; then
    check_libraries_from "$prefix" "$plugin"
  else
    fail "$prefix: no Designer plugin at $plugin"
  fi
  local program
  for program in bin/CorvaneViewer bin/corvane-reg; do
    check_libraries_from "$prefix" "$prefix/$program"
  done
  # The crash helper links none of ours (it loads the crashed program's
  # package library by its path): all it links resolves, and it starts.
  local helper=$prefix/lib/corvane-crash-helper linked usage
  linked=$(ldd "$helper")
  grep -q 'not found' <<<"$linked" && fail "$helper: $(grep 'not found' <<<"$linked")"
  usage=$("$helper" 2>&1 || true)
  grep -q 'usage: corvane-crash-helper' <<<"$usage" || fail "$helper: does not start: $usage"
  XDG_CONFIG_HOME="$work/config" "$prefix/bin/corvane-reg" add 'HKCU\SOFTWARE\Corvane' /v Probe /d "$prefix" >/dev/null ||
    fail "$prefix: corvane-reg does not start"
  XDG_CONFIG_HOME="$work/config" "$prefix/bin/corvane-reg" query 'HKCU\SOFTWARE\Corvane' /v Probe | grep -F "$prefix" >/dev/null ||
    fail "$prefix: corvane-reg does not read back what it wrote"
}

# Every Corvane library that a binary loads resolves into the prefix.
check_libraries_from() {
  local prefix=$1 binary=$2 resolved library path
  resolved=$(ldd "$binary")
  grep -q 'not found' <<<"$resolved" && fail "$binary: $(grep 'not found' <<<"$resolved")"
  grep -qE 'lib(CVVesparo|Corvane)' <<<"$resolved" || fail "$binary: loads no Corvane library"
  while read -r library _ path _; do
    [[ $(realpath "$path") == "$(realpath "$prefix")"/lib/* ]] || fail "$binary: loads $library from $path"
  done < <(grep -E 'lib(CVVesparo|Corvane)' <<<"$resolved")
}

# The example built against the prefix, run with --raise and --unattended.
use_example() {
  local prefix=$1 name=$2
  local example=$work/$name
  cmake -S "$source/examples/hello-corvane" -B "$example" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF >"$example.log" 2>&1 &&
    cmake --build "$example" >>"$example.log" 2>&1 || {
    cat "$example.log" >&2
    fail "$name: the example does not build against $prefix"
    return
  }
  grep -qxF "Corvane_DIR:PATH=$prefix/lib/cmake/Corvane" "$example/CMakeCache.txt" ||
    fail "$name: Corvane was not found in $prefix: $(grep '^Corvane_DIR' "$example/CMakeCache.txt")"
  check_libraries_from "$prefix" "$example/hello-corvane"
  # The throw hook is only reached while CorvanePlatform comes before the C++ runtime.
  local needed
  needed=$(readelf -d "$example/hello-corvane" | grep -oE 'lib(CorvanePlatform|stdc\+\+)\.so' || true)
  [ "$(head -n 1 <<<"$needed")" = libCorvanePlatform.so ] ||
    fail "$name: the example does not need CorvanePlatform before the C++ runtime: $needed"

  local data=$work/$name-data
  mkdir -p "$data" "$work/$name-config"
  XDG_DATA_HOME=$data XDG_CONFIG_HOME=$work/$name-config QT_QPA_PLATFORM=offscreen \
    timeout 120 "$example/hello-corvane" --raise "hello" --unattended || fail "$name: the example exited with $?"
  local report="$data/Corvane 1.1/hello-corvane_halvern_leak_log.Hmld"
  if [ ! -f "$report" ]; then
    fail "$name: no report at $report"
    return
  fi
  grep -qF $'Excep_sErrorType :hello;\r' "$report" || fail "$name: the report has not the message"
  grep -qF $'Excep_sErrorclass :std::runtime_error;\r' "$report" || fail "$name: the report has not the class"
  # After the start marker: the time of capture, then the throwing frame.
  local first
  first=$(awk '/Stack_trace_error_start/ { start = NR } start && NR == start + 2 { print; exit }' "$report" | tr -d '\r')
  grep -qE '^\[[0-9A-F]{8,}\] HelloWindow::ThrowError \(Line [0-9]+, "HelloWindow.cpp" \+ [0-9]+\)$' <<<"$first" ||
    fail "$name: the stack does not start in the example: '$first'"
  # The installed viewer reads the report.
  "$prefix/bin/CorvaneViewer" --print "$report" | grep -F 'hello' >/dev/null || fail "$name: CorvaneViewer does not show the report"
  check_crash_report "$prefix" "$name" "$example/hello-corvane"
}

# A fatal signal in the example: the crash helper, found beside the
# installed libraries, writes the report; the example ends by the signal.
check_crash_report() {
  local prefix=$1 name=$2 program=$3
  local data=$work/$name-crash-data
  local report="$data/Corvane 1.1/hello-corvane_halvern_leak_log.Hmld"
  mkdir -p "$data"
  XDG_DATA_HOME=$data XDG_CONFIG_HOME=$work/$name-config QT_QPA_PLATFORM=offscreen "$program" &
  local pid=$! status=0 waited
  sleep 2
  kill -SEGV "$pid"
  wait "$pid" || status=$?
  [ "$status" -eq $((128 + 11)) ] || fail "$name: the example ended with $status, not by SIGSEGV"
  for waited in $(seq 100); do
    grep -qF $'Excep_sErrorclass :SIGSEGV;\r' "$report" 2>/dev/null && break
    sleep 0.2
  done
  grep -qF $'Excep_sErrorclass :SIGSEGV;\r' "$report" 2>/dev/null || fail "$name: no crash report at $report"
  # Nobody answers the helper's prompt here: it goes, found by its program file.
  local helper
  for helper in /proc/[0-9]*; do
    [ "$(readlink "$helper/exe" 2>/dev/null)" = "$(realpath "$prefix/lib/corvane-crash-helper")" ] &&
      kill "${helper#/proc/}" 2>/dev/null
  done
  return 0
}

# Every installed header compiles with only the imported target's usage requirements.
check_headers() {
  local prefix=$1 project=$work/headers
  mkdir -p "$project"
  (cd "$prefix/include/corvane" && find . -name '*.h' | sort | sed 's|^\./\(.*\)|#include "\1"|') >"$project/all.cpp"
  cat >"$project/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.16)
project(corvane-headers LANGUAGES CXX)
find_package(Corvane 1.1 REQUIRED)
add_library(headers OBJECT all.cpp)
target_link_libraries(headers PRIVATE Corvane::CVVesparoDXE3)
CMAKE
  cmake -S "$project" -B "$project/build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >"$project.log" 2>&1 &&
    cmake --build "$project/build" >>"$project.log" 2>&1 || {
    cat "$project.log" >&2
    fail "the installed headers do not compile on their own"
  }
}

echo "== cmake --install into a temporary prefix"
cmake --install "$build" --prefix "$work/prefix" >"$work/install.log"
check_tree "$work/prefix"
check_headers "$work/prefix"
use_example "$work/prefix" example-install

echo "== cpack -G DEB, unpacked with dpkg-deb -x"
(cd "$build" && cpack -G DEB -B "$work/deb" >"$work/cpack.log" 2>&1) || {
  cat "$work/cpack.log" >&2
  fail "cpack -G DEB failed"
  exit 1
}
deb=$(find "$work/deb" -maxdepth 1 -name 'corvane_*.deb')
[ -n "$deb" ] || { fail "cpack made no corvane_*.deb"; exit 1; }
# The debug information of the binaries goes to /usr/lib/debug of its own package.
debug=$(find "$work/deb" -maxdepth 1 -name 'corvane-dbgsym_*.ddeb')
if [ -z "$debug" ]; then
  fail "cpack made no corvane-dbgsym_*.ddeb"
else
  dpkg-deb -c "$debug" | grep -E '/usr/lib/debug/\.build-id/.*\.debug$' >/dev/null ||
    fail "the debug package holds no debug information"
fi
outside=$(dpkg-deb -c "$deb" | awk '{print $6}' | grep -vE '^\./(usr/.*)?$' || true)
[ -z "$outside" ] && echo "all under /usr" || fail "the package installs outside /usr: $outside"
# dpkg-shlibdeps found the libraries that ours link, down to the private ones.
depends=$(dpkg-deb -f "$deb" Depends)
for needed in libc6 libqt6widgets6 libdw1 libcurl4 qt6-base-dev; do
  grep -qE "(^|, )$needed( |,|$)" <<<"$depends" || fail "the package does not depend on $needed: $depends"
done
if command -v lintian >/dev/null; then
  lintian --fail-on error "$deb" >"$work/lintian.log" 2>&1 || {
    cat "$work/lintian.log" >&2
    fail "lintian reports errors"
  }
else
  echo "lintian is not installed; the package went unchecked by it"
fi
dpkg-deb -x "$deb" "$work/root"
check_tree "$work/root/usr"
use_example "$work/root/usr" example-deb

if [ "$failures" -ne 0 ]; then
  echo "$failures failed checks"
  exit 1
fi
echo "install: every check passed"
