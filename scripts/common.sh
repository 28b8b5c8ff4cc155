# shellcheck shell=sh
# Shared by the scripts in this folder: the Debian packages they need, the
# build, and the private Xvfb server. Sourced, not run: the sourcing script
# sets $repo, the repository's root, first.
repo=${repo:?the repository root, set by the script that sources this}

# Packages that building quarn needs, and that running it on Mesa needs.
build_packages="cmake make g++ libgl-dev libglu1-mesa-dev freeglut3-dev libgl1-mesa-dri"

say() { printf 'quarn: %s\n' "$*" >&2; }

# A hangup, an interrupt or a termination ends the script with the status
# a shell gives for that signal, after its EXIT trap has cleaned up; without
# this, the trap would run and the script carry on.
exit_on_signals() {
  trap 'exit 129' HUP
  trap 'exit 130' INT
  trap 'exit 143' TERM
}

exists() {
  for path in "$@"; do [ -e "$path" ] && return 0; done
  return 1
}

# True when a file or command that the package brings is there. Checking
# these costs no package-manager query in the common case, where all is
# installed, and works on systems that have no dpkg.
package_probe() {
  case $1 in
    g++ | cmake | make | shellcheck | mandoc | hyperfine | pkg-config)
      command -v "$1" >/dev/null ;;
    clang) command -v clang++ >/dev/null ;;
    xvfb) command -v Xvfb >/dev/null ;;
    procps) command -v pgrep >/dev/null ;;
    libgl-dev) exists /usr/include/GL/gl.h ;;
    libglu1-mesa-dev) exists /usr/include/GL/glu.h ;;
    freeglut3-dev) exists /usr/include/GL/freeglut.h ;;
    libgl1-mesa-dri) exists /usr/lib/*/dri/swrast_dri.so /usr/lib*/dri/swrast_dri.so ;;
    libgtest-dev) exists /usr/include/gtest/gtest.h ;;
    libgmock-dev) exists /usr/include/gmock/gmock.h ;;
    libbenchmark-dev) exists /usr/include/benchmark/benchmark.h ;;
    libclang-rt-14-dev) exists /usr/lib/llvm-14/lib/clang/*/lib/linux/libclang_rt.fuzzer-*.a ;;
    *) return 1 ;;
  esac
}

# The packages to build quarn and run it, and any others named.
need_build_packages() {
  # shellcheck disable=SC2086 # one word per package
  need_packages $build_packages "$@"
}

# Installs whichever of the named Debian packages are missing: as root with
# apt-get, otherwise by naming the command to run. dpkg has the last word on
# what is installed; without dpkg, a missing probe is reported as it is.
need_packages() {
  missing=""
  for package in "$@"; do
    package_probe "$package" || missing="$missing $package"
  done
  [ -z "$missing" ] && return 0
  if ! command -v dpkg-query >/dev/null; then
    say "cannot find what these packages bring:$missing; install them first"
    exit 1
  fi
  uninstalled=""
  for package in $missing; do
    case $(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true) in
      *" installed") ;;
      *) uninstalled="$uninstalled $package" ;;
    esac
  done
  [ -z "$uninstalled" ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    say "missing Debian packages; install them with:"
    echo "  sudo apt-get install$uninstalled" >&2
    exit 1
  fi
  install_packages "$uninstalled"
}

install_packages() {
  say "installing$1 (apt-get; a minute or two)"
  log=$(mktemp)
  # shellcheck disable=SC2086 # one word per package
  if ! { DEBIAN_FRONTEND=noninteractive apt-get update -q &&
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q $1; } >"$log" 2>&1; then
    cat "$log" >&2
    rm -f "$log"
    say "installing$1 failed"
    exit 1
  fi
  rm -f "$log"
}

# True when the build folder $1 was configured with the options $2 and
# nothing in the source tree changed since it was last built.
build_is_current() {
  [ -x "$1/quarn" ] && [ -f "$1/quarn-built" ] && build_is_configured "$1" "$2" &&
    [ -z "$(find "$repo" \( -path "$repo/build" -o -path "$repo/.git" \) -prune \
    -o -newer "$1/quarn-built" -print)" ]
}

# Builds the folder $1 with the CMake options that follow and those in
# QUARN_CMAKE_ARGS (CI hands its own in there), configuring it afresh
# whenever it has no successful configuration with exactly these options (a
# failed configure, or other options from QUARN_CMAKE_ARGS). The
# build's chatter goes to $1.log and is shown only when it fails. Runs that
# share a folder take turns, so concurrent ones never build over each other.
build_in() {
  dir=$1
  shift
  # shellcheck disable=SC2086 # the extra options are words
  set -- "$@" ${QUARN_CMAKE_ARGS:-}
  options="$*"
  build_is_current "$dir" "$options" && return 0
  mkdir -p "$dir"
  if command -v flock >/dev/null; then
    exec 9>"$dir.lock"
    flock 9
  fi
  if ! build_is_current "$dir" "$options"; then
    configure_and_build "$dir" "$options" "$@"
  fi
  exec 9>&-
}

configure_and_build() {
  dir=$1
  options=$2
  shift 2
  # Stamped before building, so that a file changed during the build is
  # still newer than the stamp and rebuilds next time.
  : >"$dir/quarn-building"
  if ! build_is_configured "$dir" "$options"; then
    rm -f "$dir/quarn-configured"
    say "configuring ${dir#"$repo"/}"
    cmake --fresh -S "$repo" -B "$dir" "$@" >"$dir.log" 2>&1 ||
      build_failed "$dir" "configuring"
    printf '%s\n' "$options" >"$dir/quarn-configured"
  fi
  [ -x "$dir/quarn" ] || say "building ${dir#"$repo"/} (the first time takes a minute)"
  cmake --build "$dir" -j "$(nproc)" >>"$dir.log" 2>&1 || build_failed "$dir" "building"
  mv "$dir/quarn-building" "$dir/quarn-built"
}

build_is_configured() {
  [ -f "$1/quarn-configured" ] && read -r configured <"$1/quarn-configured" &&
    [ "$configured" = "$2" ]
}

build_failed() {
  cat "$1.log" >&2
  say "$2 ${1#"$repo"/} failed (its log: ${1#"$repo"/}.log); the next run tries afresh"
  exit 1
}

# The private Xvfb server. xvfb_start DIR starts one: it picks a free
# display itself, and its name goes to $xvfb_display and DIR/display, its
# pid to $xvfb_pid and DIR/pid, its messages to DIR/log. Only clients that
# present the cookie in DIR/auth (XAUTHORITY) may connect. -noreset keeps it
# up when its last client leaves, as happens between tests.
xvfb_start() {
  rm -f "$1/display" "$1/pid" "$1/ready"
  write_cookie "$1/auth"
  mkfifo "$1/ready"
  # Xvfb writes its display number to fd 3 once it accepts clients and then
  # closes it: reading the FIFO waits exactly as long as the start takes,
  # and ends at once if the server dies instead.
  Xvfb -displayfd 3 -auth "$1/auth" -nolisten tcp -noreset -screen 0 1280x1024x24 \
    3>"$1/ready" </dev/null >"$1/log" 2>&1 9>&- &
  xvfb_pid=$!
  echo "$xvfb_pid" >"$1/pid"
  read -r number <"$1/ready" || number=""
  rm -f "$1/ready"
  if [ -z "$number" ]; then
    say "the private Xvfb server did not start; its log:"
    cat "$1/log" >&2
    return 1
  fi
  xvfb_display=:$number
  echo "$xvfb_display" >"$1/display"
}

# An X authority entry that holds for any display on this host (family
# 0xFFFF, no address, no display number), with 16 random bytes as its
# MIT-MAGIC-COOKIE-1.
write_cookie() {
  (
    umask 077
    printf '\377\377\000\000\000\000\000\022MIT-MAGIC-COOKIE-1\000\020' >"$1"
    dd if=/dev/urandom bs=16 count=1 2>/dev/null >>"$1"
  )
}

# Stops the server started with DIR, if any, and returns once it is gone.
xvfb_stop() {
  [ -f "$1/pid" ] || return 0
  read -r pid <"$1/pid" || pid=""
  rm -f "$1/display" "$1/pid"
  [ -n "$pid" ] || return 0
  kill "$pid" 2>/dev/null || return 0
  # Reaps it at once where it is this shell's own child; elsewhere it is
  # watched until it has gone.
  wait "$pid" 2>/dev/null || true
  tries=0
  while running "$pid" && [ $tries -lt 300 ]; do
    tries=$((tries + 1))
    sleep 0.01
  done
  kill -KILL "$pid" 2>/dev/null || true
}

# True while the process $1 runs: a zombie, which has let go of its socket
# and waits only to be reaped, counts as gone.
running() {
  kill -0 "$1" 2>/dev/null || return 1
  [ -r "/proc/$1/stat" ] || return 0
  read -r _ _ state _ <"/proc/$1/stat" || return 1
  [ "$state" != Z ]
}
