#!/bin/sh
# The run command and the private server as a user meets them: on a fresh
# copy of the source tree, under faults, signals and concurrent use. Every
# process and file a case makes is its own, in WORKDIR or in a mount and
# network namespace of its own: no case touches the machine's displays.
#   scripts_test.sh CASE WORKDIR XVFB_DIR [QUARN_BINARY]
# WORKDIR/tree is the copy that the cases share; the first case makes it.
set -eu
command -v Xvfb >/dev/null || { echo "Xvfb is not installed: skipped"; exit 77; }
case_name=$1
work=$2
xvfb_dir=$3
here=$(readlink -f "$0")
source_repo=${here%/tests/*}
tree=$work/tree
scratch=$work/$case_name
repo=$source_repo
# shellcheck source=scripts/common.sh
. "$source_repo/scripts/common.sh"
rm -rf "$scratch"
mkdir -p "$scratch"

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# The fixture's display, for the runs that should use a display of their own.
use_fixture_display() {
  [ -f "$xvfb_dir/display" ] || { echo "no private X server: skipped"; exit 77; }
  read -r DISPLAY <"$xvfb_dir/display"
  XAUTHORITY=$xvfb_dir/auth
  export DISPLAY XAUTHORITY
}

# The report is five lines with status 0.
expect_report() {
  [ "$1" -eq 0 ] || fail "status $1: $(cat "$3")"
  [ "$(wc -l <"$2")" -eq 5 ] || fail "not five lines: $(cat "$2")"
}

# Nothing that a run started is left, within two seconds (a watchdog's
# time): no temporary folder, no process.
expect_nothing_left() {
  tries=0
  while { [ -n "$(ls -A "$scratch/tmp")" ] || pgrep -f -- "$scratch/tmp" >/dev/null; } &&
    [ $tries -lt 40 ]; do
    tries=$((tries + 1))
    sleep 0.05
  done
  [ -z "$(ls -A "$scratch/tmp")" ] || fail "left in TMPDIR: $(ls -A "$scratch/tmp")"
  ! pgrep -a -f -- "$scratch/tmp" || fail "a process is left"
}

# Runs the rest of the case (the script again, with the case's arguments)
# as root in mount and network namespaces of its own, with a private
# /tmp/.X11-unix: the X servers it starts and the sockets it makes or
# removes are nobody else's.
in_private_x_namespaces() {
  [ -z "${IN_NAMESPACES:-}" ] || return 0
  if ! { [ "$(id -u)" -eq 0 ] && [ -d /tmp/.X11-unix ] && unshare --mount --net true; }; then
    echo "no private namespaces: skipped"
    exit 77
  fi
  # shellcheck disable=SC2016 # expanded by the inner shell
  IN_NAMESPACES=1 exec unshare --mount --net \
    sh -c 'mount -t tmpfs none /tmp/.X11-unix && exec sh "$@"' sh "$0" "$@"
}

# Starts Xvfb :NUMBER (in private namespaces) with the cookie in AUTH, and
# waits until it accepts clients; $server is its pid.
start_server_at() {
  write_cookie "$2"
  Xvfb ":$1" -nolock -nolisten tcp -auth "$2" >/dev/null 2>&1 &
  server=$!
  until [ -S "/tmp/.X11-unix/X$1" ]; do sleep 0.05; done
}

run_quarn() {
  mkdir -p "$scratch/tmp"
  status=0
  TMPDIR=$scratch/tmp "$@" >"$scratch/out" 2>"$scratch/err" || status=$?
}

case $case_name in
  # Catches a build folder that a failed configure leaves unusable, and
  # concurrent first runs that build over each other.
  recovers_from_failed_configure_then_runs_concurrently)
    rm -rf "$tree"
    mkdir -p "$tree"
    cp -R "$source_repo/CMakeLists.txt" "$source_repo/CMakePresets.json" "$source_repo/src" \
      "$source_repo/doc" "$source_repo/scripts" "$tree/"
    [ ! -d "$source_repo/cmake" ] || cp -R "$source_repo/cmake" "$tree/"
    use_fixture_display
    if CXX=/nonexistent/c++ "$tree/scripts/run" >"$scratch/out" 2>&1; then
      fail "a run with no compiler passed"
    fi
    pids=""
    for i in 1 2 3; do
      "$tree/scripts/run" >"$scratch/out$i" 2>"$scratch/err$i" &
      pids="$pids $!"
    done
    i=0
    for pid in $pids; do
      i=$((i + 1))
      status=0
      wait "$pid" || status=$?
      expect_report "$status" "$scratch/out$i" "$scratch/err$i"
    done ;;

  # Catches a silent fallback, and a display that turns us away taken for
  # one that is absent.
  falls_back_to_a_private_server_and_says_so)
    run_quarn env -u DISPLAY "$tree/scripts/run"
    expect_report "$status" "$scratch/out" "$scratch/err"
    grep -q "DISPLAY is not set;.*Mesa's software renderer" "$scratch/err" ||
      fail "no note: $(cat "$scratch/err")"
    expect_nothing_left
    use_fixture_display
    run_quarn env XAUTHORITY=/dev/null "$tree/scripts/run"
    expect_report "$status" "$scratch/out" "$scratch/err"
    grep -q "DISPLAY=$DISPLAY turns this user away (.*Authorization" "$scratch/err" ||
      fail "no note: $(cat "$scratch/err")" ;;

  # Catches a dead server's socket taken for a display: a server killed
  # outright leaves its socket behind.
  falls_back_from_a_dead_servers_socket)
    in_private_x_namespaces "$@"
    start_server_at 9 "$scratch/auth"
    kill -KILL "$server"
    wait "$server" 2>/dev/null || true
    run_quarn env DISPLAY=:9 "$tree/scripts/run"
    expect_report "$status" "$scratch/out" "$scratch/err"
    grep -q "no X server answers at DISPLAY=:9;" "$scratch/err" ||
      fail "no note: $(cat "$scratch/err")"
    expect_nothing_left ;;

  # Catches a live display reported as absent: one reachable only by its
  # abstract socket, named with a leading zero, as Xlib reads it.
  uses_a_display_reachable_only_by_its_abstract_socket)
    in_private_x_namespaces "$@"
    start_server_at 761 "$scratch/auth"
    rm "/tmp/.X11-unix/X761"
    run_quarn env DISPLAY=:0761 XAUTHORITY="$scratch/auth" "$tree/scripts/run"
    kill "$server"
    wait "$server" 2>/dev/null || true
    expect_report "$status" "$scratch/out" "$scratch/err"
    ! grep -q "reporting a private" "$scratch/err" || fail "fell back: $(cat "$scratch/err")" ;;

  # Catches a signal that leaves the server or its folder behind, a run that
  # carries on after its clean-up, or one that ends with status 0; SIGKILL,
  # which no clean-up sees, included.
  cleans_up_when_signalled)
    for signal in HUP INT TERM KILL; do
      mkdir -p "$scratch/tmp"
      # A shell starts its background jobs with SIGINT ignored; a user's
      # terminal does not.
      env --default-signal=INT -u DISPLAY TMPDIR="$scratch/tmp" \
        "$tree/scripts/run" >"$scratch/out" 2>&1 &
      script=$!
      tries=0
      until ls "$scratch"/tmp/*/pid >/dev/null 2>&1 || [ $tries -ge 500 ]; do
        tries=$((tries + 1))
        sleep 0.01
      done
      kill -"$signal" "$script"
      status=0
      wait "$script" || status=$?
      case $signal:$status in
        HUP:129 | INT:130 | TERM:143 | KILL:137) ;;
        *) fail "$signal: status $status: $(cat "$scratch/out")" ;;
      esac
      expect_nothing_left
    done ;;

  # Catches a run command that cannot find its helpers through a link.
  runs_through_a_symbolic_link)
    use_fixture_display
    ln -s "$tree/scripts/run" "$scratch/quarn-run"
    run_quarn "$scratch/quarn-run"
    expect_report "$status" "$scratch/out" "$scratch/err" ;;

  # Catches a second start that leaves the first server running, a stop
  # that returns before the end or signals a process that is not its server
  # (a pid file left by a CTest killed outright), and a server that outlives
  # the process that started it.
  xvfb_stops_only_its_own_server)
    "$source_repo/scripts/xvfb" start "$scratch/x"
    read -r first since <"$scratch/x/pid"
    "$source_repo/scripts/xvfb" start "$scratch/x"
    read -r second since <"$scratch/x/pid"
    "$source_repo/scripts/xvfb" stop "$scratch/x"
    ! started_at "$first" || fail "the first server still runs"
    ! started_at "$second" || fail "the second server still runs"
    sleep 60 &
    started_at $!
    echo "$! $started" >"$scratch/x/pid"
    "$source_repo/scripts/xvfb" stop "$scratch/x"
    started_at $! || fail "stop signalled a process it did not start"
    kill $!
    # shellcheck disable=SC2016 # expanded by the inner shell
    sh -c '"$0" start "$1" && exec sleep 60' "$source_repo/scripts/xvfb" "$scratch/x" &
    until [ -f "$scratch/x/display" ]; do sleep 0.05; done
    read -r server since <"$scratch/x/pid"
    kill -KILL $!
    tries=0
    while started_at "$server" && [ $tries -lt 100 ]; do
      tries=$((tries + 1))
      sleep 0.05
    done
    ! started_at "$server" || fail "the server outlived its owner"
    [ -z "$(ls -A "$scratch/x")" ] || fail "left: $(ls -A "$scratch/x")" ;;

  # Catches a server started with no cookie, or left running, when TMPDIR
  # is full.
  refuses_to_start_its_server_without_a_cookie)
    in_private_x_namespaces "$@"
    mkdir -p "$scratch/tmp"
    mount -t tmpfs -o size=64k none "$scratch/tmp"
    dd if=/dev/zero of="$scratch/tmp/fill" bs=4k 2>/dev/null || true
    run_quarn env -u DISPLAY "$tree/scripts/run"
    rm "$scratch/tmp/fill"
    [ "$status" -eq 1 ] || fail "status $status"
    grep -q "^quarn: cannot .* the private X server" "$scratch/err" || fail "$(cat "$scratch/err")"
    expect_nothing_left
    umount "$scratch/tmp" ;;

  # Catches a build that fails on a full disk with no word of why.
  says_when_the_build_folders_disk_is_full)
    in_private_x_namespaces "$@"
    mount -t tmpfs -o size=48k none "$tree/build"
    run_quarn env -u DISPLAY "$tree/scripts/run"
    umount "$tree/build"
    [ "$status" -eq 1 ] || fail "status $status"
    grep -q "^quarn: the disk that holds build/release has less than 1 MB free" "$scratch/err" ||
      fail "$(cat "$scratch/err")" ;;

  # Catches options and descriptors that the private server or the script
  # cannot take: indirect contexts, and a closed standard error.
  runs_indirect_and_with_standard_error_closed)
    run_quarn env -u DISPLAY "$tree/scripts/run" -indirect
    expect_report "$status" "$scratch/out" "$scratch/err"
    status=0
    env -u DISPLAY TMPDIR="$scratch/tmp" "$tree/scripts/run" >"$scratch/out" 2>&- || status=$?
    expect_report "$status" "$scratch/out" /dev/null ;;

  # Catches a build folder left by a run with sudo that fails a user's run
  # with no word on what to do.
  says_how_to_recover_from_a_build_made_with_sudo)
    [ "$(id -u)" -eq 0 ] || { echo "not root: skipped"; exit 77; }
    status=0
    setpriv --reuid=65534 --regid=65534 --clear-groups env -u DISPLAY QUARN_CMAKE_ARGS=-DQUARN_X=1 \
      "$tree/scripts/run" >"$scratch/out" 2>"$scratch/err" || status=$?
    [ "$status" -eq 1 ] || fail "status $status"
    grep -q "are not yours .*: sudo rm -rf $tree/build/release\$" "$scratch/err" ||
      fail "$(cat "$scratch/err")" ;;

  # Catches a build that keeps an old binary after the GL or freeglut
  # development packages change: Ninja must know their headers and libraries.
  rebuilds_when_system_headers_or_libraries_change)
    ninja -C "$tree/build/release" -t deps CMakeFiles/quarn.dir/src/quarn.cpp.o |
      grep -qx " *$(readlink -f /usr/include/GL/freeglut_std.h)" || fail "no header dependency"
    ninja -C "$tree/build/release" -t query quarn | grep -q "| .*/libglut\.so" ||
      fail "no library dependency" ;;

  # Catches a hang where there is no /dev/null to hold a closed standard
  # output: the report must fail as a write error instead.
  closed_stdout_without_dev_null)
    use_fixture_display
    command -v unshare >/dev/null || { echo "no unshare: skipped"; exit 77; }
    unshare --mount true 2>/dev/null || { echo "no mount namespace: skipped"; exit 77; }
    status=0
    # shellcheck disable=SC2016 # expanded by the inner shell
    timeout 20 unshare --mount sh -c 'mount -t tmpfs none /dev && exec "$0" >&-' \
      "$4" 2>"$scratch/err" || status=$?
    [ "$status" -eq 1 ] || fail "status $status"
    grep -qx "quarn: write error: Bad file descriptor" "$scratch/err" ||
      fail "$(cat "$scratch/err")" ;;

  *) fail "no such case: $case_name" ;;
esac
rm -rf "$scratch"
