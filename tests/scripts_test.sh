#!/bin/sh
# The run command and the private server as a user meets them: on a fresh
# copy of the source tree, under faults, signals and concurrent use.
#   scripts_test.sh CASE WORKDIR XVFB_DIR [QUARN_BINARY]
# WORKDIR/tree is the copy that the cases share; the first case makes it.
set -eu
case_name=$1
work=$2
xvfb_dir=$3
here=$(readlink -f "$0")
source_repo=${here%/tests/*}
tree=$work/tree
scratch=$work/$case_name
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

# Nothing that a run started is left: no temporary folder, no process.
expect_nothing_left() {
  [ -z "$(ls -A "$scratch/tmp")" ] || fail "left in TMPDIR: $(ls -A "$scratch/tmp")"
  ! pgrep -a -f -- "$scratch/tmp" || fail "a process is left"
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
    cp -R "$source_repo/CMakeLists.txt" "$source_repo/src" "$source_repo/doc" \
      "$source_repo/scripts" "$tree/"
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

  # Catches a silent fallback, and a dead server's socket taken for a display.
  falls_back_to_a_private_server_and_says_so)
    run_quarn env -u DISPLAY "$tree/scripts/run"
    expect_report "$status" "$scratch/out" "$scratch/err"
    grep -q "DISPLAY is not set;.*Mesa's software renderer" "$scratch/err" ||
      fail "no note: $(cat "$scratch/err")"
    expect_nothing_left
    # A server killed outright leaves its socket and lock file behind. Its
    # number is far above those that private servers take first.
    number=$((500 + $$ % 400))
    Xvfb ":$number" -nolisten tcp >/dev/null 2>&1 &
    until [ -S "/tmp/.X11-unix/X$number" ]; do sleep 0.05; done
    kill -KILL $!
    wait $! 2>/dev/null || true
    run_quarn env DISPLAY=":$number" "$tree/scripts/run"
    rm -f "/tmp/.X11-unix/X$number" "/tmp/.X$number-lock"
    expect_report "$status" "$scratch/out" "$scratch/err"
    grep -q "no X server runs at DISPLAY=:$number;" "$scratch/err" ||
      fail "no note: $(cat "$scratch/err")"
    expect_nothing_left ;;

  # Catches a signal that leaves the server or its folder behind, a run that
  # carries on after its clean-up, or one that ends with status 0.
  cleans_up_when_signalled)
    for signal in HUP INT TERM; do
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
        HUP:129 | INT:130 | TERM:143) ;;
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

  # Catches a second start that leaves the first server running (as
  # repeated CTest runs did), and a stop that returns before the end.
  xvfb_restart_stops_the_previous_server)
    "$source_repo/scripts/xvfb" start "$scratch/x"
    read -r first <"$scratch/x/pid"
    "$source_repo/scripts/xvfb" start "$scratch/x"
    read -r second <"$scratch/x/pid"
    "$source_repo/scripts/xvfb" stop "$scratch/x"
    repo=$source_repo
    # shellcheck source=scripts/common.sh
    . "$source_repo/scripts/common.sh"
    ! running "$first" || fail "the first server still runs"
    ! running "$second" || fail "the second server still runs" ;;

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
