# shellcheck shell=sh
# Shared by the scripts in this folder: the Debian packages they need, the
# build folders, and the private Xvfb server. The sourcing script sets
# $repo, the repository's root, first.
repo=${repo:?the repository root, set by the script that sources this}

say() { printf 'quarn: %s\n' "$*" >&2; }

# A signal ends the script with the shell's status for it, after its EXIT
# trap has cleaned up.
exit_on_signals() {
  trap 'exit 129' HUP
  trap 'exit 130' INT
  trap 'exit 143' TERM
}

# True when a file or command that the package brings is there: no package
# manager is asked in the common case, where all is installed.
package_probe() {
  case $1 in
    ninja-build) command -v ninja ;;
    clang) command -v clang++ ;;
    xvfb) command -v Xvfb ;;
    x11-utils) command -v xlsatoms ;;
    procps) command -v pgrep ;;
    dpkg-dev) command -v dpkg-buildpackage ;;
    debhelper) command -v dh ;;
    libgl-dev) [ -e /usr/include/GL/gl.h ] ;;
    libglu1-mesa-dev) [ -e /usr/include/GL/glu.h ] ;;
    freeglut3-dev) [ -e /usr/include/GL/freeglut.h ] ;;
    libgtest-dev) [ -e /usr/include/gtest/gtest.h ] ;;
    libgmock-dev) [ -e /usr/include/gmock/gmock.h ] ;;
    libbenchmark-dev) [ -e /usr/include/benchmark/benchmark.h ] ;;
    libepoxy-dev) [ -e /usr/include/epoxy/gl.h ] ;;
    libglew-dev) [ -e /usr/include/GL/glew.h ] ;;
    libx11-dev) [ -e /usr/include/X11/Xlib.h ] ;;
    libgl1-mesa-dri) set -- /usr/lib/*/dri/swrast_dri.so && [ -e "$1" ] ;;
    libclang-rt-14-dev) set -- /usr/lib/llvm-14/lib/clang/*/lib/linux/libclang_rt.fuzzer-*.a && [ -e "$1" ] ;;
    *) command -v "$1" ;;
  esac
} >/dev/null 2>&1

# Installs whichever of the named Debian packages are missing, as root;
# otherwise names the command that does.
need_packages() {
  missing=""
  for package in "$@"; do package_probe "$package" || missing="$missing $package"; done
  [ -n "$missing" ] || return 0
  if [ "$(id -u)" -ne 0 ] || ! command -v apt-get >/dev/null; then
    say "missing Debian packages; install them with: sudo apt-get install$missing"
    exit 1
  fi
  say "installing$missing (apt-get; a minute or two)"
  # shellcheck disable=SC2086 # one word per package
  log=$({ apt-get update -q && apt-get install -y -q $missing; } 2>&1) ||
    { printf '%s\n' "$log" >&2; say "installing$missing failed"; exit 1; }
}

# What building quarn needs, and running it on Mesa.
# shellcheck disable=SC2120,SC2086 # one word per package
need_build_packages() {
  need_packages cmake ninja-build g++ libgl-dev libglu1-mesa-dev freeglut3-dev libgl1-mesa-dri "$@"
}

# Runs that share a build folder take turns: the lock is held on descriptor 9
# until unlock_build_folder or the end of the script, SIGKILL included. A
# second argument is said when the lock is not free at once.
lock_build_folder() {
  [ -d "$repo/build/$1" ] || mkdir -p "$repo/build/$1"
  exec 9<"$repo/build/$1"
  flock -n 9 || { [ -z "${2:-}" ] || say "$2"; flock 9; }
}

unlock_build_folder() { exec 9<&-; }

# Configures build/PRESET from CMakePresets.json the first time, and afresh
# when the options in QUARN_CMAKE_ARGS (words, no blanks inside one) differ
# from those it was configured with (kept in quarn-cmake-args there); then
# Ninja brings the targets named up to date, following system headers and
# libraries too. What CMake and Ninja say is shown only on failure.
build_preset() {
  preset=$1
  shift
  dir=$repo/build/$preset
  args=${QUARN_CMAKE_ARGS:-}
  handed=""
  [ ! -f "$dir/quarn-cmake-args" ] || read -r handed <"$dir/quarn-cmake-args" || true
  if [ ! -f "$dir/build.ninja" ] || [ "$handed" != "$args" ]; then
    say "configuring build/$preset"
    # shellcheck disable=SC2086 # the handed options are words
    log=$(cd "$repo" && cmake --fresh --preset "$preset" $args 2>&1) || build_failed configuring
    rm -f "$dir/quarn-cmake-args"
    [ -z "$args" ] || echo "$args" >"$dir/quarn-cmake-args"
    [ -f "$dir/quarn" ] || say "building build/$preset (the first time takes a minute)"
  fi
  log=$(ninja -C "$dir" "$@" 2>&1) || build_failed building
}

build_failed() {
  printf '%s\n' "$log" >&2
  # CMake seldom names a full disk as the cause, so it is said here.
  free=$(df -Pk "$dir" 2>/dev/null | awk 'NR == 2 { print $4 }')
  [ "${free:-1024}" -ge 1024 ] || say "the disk that holds build/$preset has less than 1 MB free"
  if [ -n "$(find "$dir" ! -user "$(id -u)" -print -quit 2>/dev/null)" ]; then
    say "build/$preset holds files that are not yours (from a run with sudo?); remove them with: sudo rm -rf $dir"
  fi
  say "$1 build/$preset failed"
  exit 1
}

# The private Xvfb server. xvfb_start DIR OWNER starts one that lets in only
# clients with the cookie in DIR/auth, and sets $xvfb_dir and
# $xvfb_display. An empty DIR makes a temporary folder, which xvfb_stop then
# removes; elsewhere it removes only the files that xvfb_start put there.
# Xvfb picks a free display itself; -noreset keeps it up between clients,
# +iglx lets them ask for indirect contexts. A watchdog stops it once the
# process OWNER has ended, however that ended. False, with the reason said
# and nothing left running, when it cannot start. xvfb_launch and
# xvfb_await are its two halves, so that other work can go on meanwhile.
xvfb_start() { xvfb_launch "$@" && xvfb_await; }

xvfb_launch() {
  xvfb_dir=$1
  if [ -n "$xvfb_dir" ]; then
    xvfb_stop "$xvfb_dir"
    mkdir -p "$xvfb_dir"
  elif ! xvfb_dir=$(mktemp -d 2>/dev/null) || ! : >"$xvfb_dir/made-here"; then
    [ -z "$xvfb_dir" ] || rmdir "$xvfb_dir"
    say "cannot make a folder for the private X server in ${TMPDIR:-/tmp}"
    return 1
  fi
  if ! write_cookie "$xvfb_dir/auth" || ! mkfifo "$xvfb_dir/number" || ! started_at "$2"; then
    say "cannot write the private X server's cookie in $xvfb_dir (is the disk full?)"
    xvfb_stop "$xvfb_dir"
    return 1
  fi
  # Xvfb writes its display number and a newline into this FIFO once it
  # accepts clients. Held open here until xvfb_await, it keeps the number
  # even when that comes first.
  exec 4<>"$xvfb_dir/number"
  # The watchdog starts the server itself, so that no moment passes in
  # which the owner could end and leave the server unwatched.
  owner_started=$started
  (
    trap '' HUP
    serve "$2" "$owner_started"
  ) 3>&4 4>&- </dev/null >/dev/null 2>&1 9<&- &
  if started_at $!; then echo "$! $started" >"$xvfb_dir/watchdog" || true; fi
}

xvfb_await() {
  # Once this shell lets go of its own end, only the server writes to the
  # FIFO: a server that dies before writing ends the read.
  exec 5<"$xvfb_dir/number" 4>&-
  read -r number <&5 || number=""
  exec 5<&-
  xvfb_display=:$number
  if [ -z "$number" ] || ! echo "$xvfb_display" >"$xvfb_dir/display"; then
    say "the private Xvfb server did not start: $(cat "$xvfb_dir/log" 2>/dev/null)"
    xvfb_stop "$xvfb_dir"
    return 1
  fi
}

# The watchdog: runs the server, its display number going to descriptor 3,
# until it ends or the process $1 that started at $2 does, then stops it.
serve() {
  Xvfb -displayfd 3 -auth "$xvfb_dir/auth" -nolisten tcp -noreset +iglx \
    -screen 0 1280x1024x24 >"$xvfb_dir/log" 2>&1 &
  server=$!
  exec 3>&-
  if started_at "$server" && echo "$server $started" >"$xvfb_dir/pid"; then
    server_started=$started
    while same_process "$1" "$2" && same_process "$server" "$server_started"; do
      sleep 0.5
    done
  fi
  # Still this shell's own child, so the pid cannot have passed to another.
  kill "$server" 2>/dev/null || true
  wait "$server" 2>/dev/null || true
  xvfb_stop_server "$xvfb_dir"
}

# An X authority entry for any display on this host (family 0xFFFF, no
# address, no number): MIT-MAGIC-COOKIE-1 with 16 random bytes, 44 bytes in
# all. False unless all of it was written.
write_cookie() {
  (
    umask 077
    printf '\377\377\000\000\000\000\000\022MIT-MAGIC-COOKIE-1\000\020' >"$1" &&
      dd if=/dev/urandom bs=16 count=1 2>/dev/null >>"$1"
  ) 2>/dev/null && [ "$(wc -c <"$1")" -eq 44 ]
}

# Sets $started to the start time of process $1 (clock ticks since boot);
# false when none runs (a zombie, which waits only to be reaped, counts as
# none).
started_at() {
  stat=""
  read -r stat 2>/dev/null <"/proc/$1/stat" || return 1
  # shellcheck disable=SC2086 # the fields after the command's name
  set -- ${stat##*) }
  [ "$1" != Z ] || return 1
  shift 19
  started=$1
}

# True while the process $1 that started at $2 runs: a pid that another
# process has taken since is not the same process.
same_process() { started_at "$1" && [ "$started" = "$2" ]; }

# Stops the server started with DIR, and its watchdog, and removes what
# xvfb_start made there. A pid is signalled only while it is still the
# process recorded, and the server's command line must name DIR's cookie.
# It returns once the server has gone (within three seconds, the last with
# SIGKILL), unless a second argument says not to wait: the watchdog then
# reaps it.
xvfb_stop() {
  watchdog=""
  [ ! -f "$1/watchdog" ] || read -r watchdog watchdog_started <"$1/watchdog" || true
  xvfb_stop_server "$1" "${2:-}"
  if [ -n "$watchdog" ] && [ -z "${2:-}" ] && same_process "$watchdog" "$watchdog_started"; then
    kill "$watchdog" 2>/dev/null || true
  fi
}

xvfb_stop_server() {
  if [ -f "$1/pid" ] && read -r pid since <"$1/pid" && same_process "$pid" "$since" &&
    grep -qzxF "$1/auth" "/proc/$pid/cmdline"; then
    kill "$pid" 2>/dev/null || true
    tries=0
    while [ -z "${2:-}" ] && same_process "$pid" "$since" && [ $tries -lt 300 ]; do
      tries=$((tries + 1))
      sleep 0.01
    done
    [ -n "${2:-}" ] || ! same_process "$pid" "$since" || kill -KILL "$pid" 2>/dev/null || true
  fi
  made_here=$1/made-here
  [ -f "$made_here" ] || made_here=""
  rm -f "$1/pid" "$1/watchdog" "$1/display" "$1/auth" "$1/log" "$1/number" ${made_here:+"$made_here"}
  [ -z "$made_here" ] || rmdir "$1" 2>/dev/null || true
}
