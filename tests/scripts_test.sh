#!/bin/sh
# The run and test commands and the tests' private X server as a user meets
# them: on a fresh copy of the source tree, under faults, signals and
# concurrent use. Every process and file a case makes is its own, in WORKDIR
# or in a mount and network namespace of its own: no case touches the
# machine's displays.
#   scripts_test.sh CASE WORKDIR XVFB_DIR [QUARN_BINARY [TEST_EGL_VENDORS]]
# WORKDIR/tree is the copy that the cases share; the first case makes it.
# TEST_EGL_VENDORS lists an EGL vendor whose devices fail, then Mesa's.
set -eu
case_name=$1
work=$2
xvfb_dir=$3
here=$(readlink -f "$0")
source_repo=${here%/tests/*}
tree=$work/tree
scratch=$work/$case_name
# A run of this case killed outright may have left a private server of the
# fixture's here for a moment: it holds the folder's lock until it has gone.
[ ! -d "$scratch" ] || flock -w 10 "$scratch" true || true
rm -rf "$scratch"
mkdir -p "$scratch"

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# The fixture's display, for the runs that should use a display of their own.
use_fixture_display() {
  [ -f "$xvfb_dir/display" ] || fail "no private X server: did xvfb.start pass?"
  read -r DISPLAY <"$xvfb_dir/display"
  XAUTHORITY=$xvfb_dir/auth
  export DISPLAY XAUTHORITY
}

# The report is five lines with status 0.
expect_report() {
  [ "$1" -eq 0 ] || fail "status $1: $(cat "$3")"
  [ "$(wc -l <"$2")" -eq 5 ] || fail "not five lines: $(cat "$2")"
}

# The run says why it reports through EGL, and which device served once it
# has served.
expect_egl_note() {
  { grep -q "^quarn: $1; reporting through EGL, without a window" "$scratch/err" &&
    [ "$(tail -n 1 "$scratch/err")" = "quarn-egl: served by software (Mesa's software renderer)" ]; } ||
    fail "no note: $(cat "$scratch/err")"
}

# Ends the case as skipped for want of root, in the words scripts/test
# reads back for its summary.
skip_unless_root() {
  [ "$(id -u)" -eq 0 ] || { echo "not root: skipped"; exit 77; }
}

# Runs the rest of the case (the script again, with the case's arguments)
# as root in mount, network and process namespaces of its own, with a
# private /tmp/.X11-unix: the X servers it starts and the sockets it makes
# or removes are nobody else's. The namespace's first process only waits:
# when it ends, however the case ends (a signal to the whole run, or a
# SIGKILL of the case alone), the kernel kills all that the case started,
# a server it stopped with SIGSTOP included. The case runs as its child,
# where signals reach it as they would elsewhere.
in_private_x_namespaces() {
  [ -z "${IN_NAMESPACES:-}" ] || return 0
  skip_unless_root
  namespaces="--mount --net --pid --fork --kill-child --mount-proc"
  # shellcheck disable=SC2086 # one word per option
  if ! { [ -d /tmp/.X11-unix ] && unshare $namespaces true; }; then
    echo "no private namespaces: skipped"
    exit 77
  fi
  # shellcheck disable=SC2016,SC2086 # expanded by the inner shell; words
  IN_NAMESPACES=1 exec unshare $namespaces \
    sh -c 'mount -t tmpfs none /tmp/.X11-unix && { sh "$@"; exit $?; }' sh "$0" "$@"
}

# Starts Xvfb :NUMBER (in private namespaces) with the cookie in AUTH and
# the options that follow, and waits until it accepts clients; $server is
# its pid.
start_server_at() {
  number=$1 auth=$2 && shift 2
  xauth -q -f "$auth" add ":$number" . "$(mcookie)" 2>/dev/null
  Xvfb ":$number" -nolock -nolisten tcp -auth "$auth" "$@" >/dev/null 2>&1 &
  server=$!
  until [ -S "/tmp/.X11-unix/X$number" ]; do sleep 0.05; done
}

run_quarn() {
  status=0
  "$@" >"$scratch/out" 2>"$scratch/err" || status=$?
}

# Whether the fixture's server for DIR is gone, with all that it made.
fixture_gone() {
  [ ! -e "$1" ] && [ ! -e "/tmp/.X$2-lock" ] && ! pgrep -f "^Xvfb :$2 " >/dev/null
}

# Waits up to TENTHS tenths of a second for that.
wait_until_gone() {
  tries=0
  until fixture_gone "$1" "$2" || [ $tries -ge "$3" ]; do
    tries=$((tries + 1))
    sleep 0.1
  done
  fixture_gone "$1" "$2"
}

case $case_name in
  # Catches a build folder that a failed configure leaves unusable, and
  # concurrent first runs that build over each other.
  recovers_from_failed_configure_then_runs_concurrently)
    rm -rf "$tree"
    mkdir -p "$tree"
    cp -R "$source_repo/CMakeLists.txt" "$source_repo/CMakePresets.json" "$source_repo/src" \
      "$source_repo/doc" "$source_repo/scripts" "$source_repo/cmake" "$tree/"
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

  # Catches a silent fallback, one that still needs an X server of its own,
  # and a display that turns us away taken for one that is absent.
  falls_back_to_egl_and_says_so)
    mkdir "$scratch/bin"
    printf '#!/bin/sh\nexit 1\n' >"$scratch/bin/Xvfb"
    chmod +x "$scratch/bin/Xvfb"
    run_quarn env -u DISPLAY PATH="$scratch/bin:$PATH" "$tree/scripts/run"
    expect_report "$status" "$scratch/out" "$scratch/err"
    expect_egl_note "DISPLAY is not set"
    # A GPU that fails is named once it has failed, and never claimed.
    run_quarn env DISPLAY= QUARN_TEST_EGL_DEVICES=node=/nonexistent/renderD128,fail=initialize \
      __EGL_VENDOR_LIBRARY_FILENAMES="$5" \
      "$tree/scripts/run"
    expect_report "$status" "$scratch/out" "$scratch/err"
    expect_egl_note "DISPLAY is empty"
    { [ "$(wc -l <"$scratch/err")" -eq 3 ] &&
      grep -q "^quarn-egl: cannot initialize EGL on /nonexistent/renderD128" "$scratch/err"; } ||
      fail "$(cat "$scratch/err")"
    use_fixture_display
    run_quarn env XAUTHORITY=/dev/null "$tree/scripts/run"
    expect_report "$status" "$scratch/out" "$scratch/err"
    expect_egl_note "the X server at DISPLAY=$DISPLAY turns this user away (.*Authorization.*)" ;;

  # Catches a dead server's socket taken for a display (a server killed
  # outright leaves it behind), and a screen the server does not have, which
  # a probe that is not Xlib's accepts.
  falls_back_from_a_dead_servers_socket_or_a_missing_screen)
    in_private_x_namespaces "$@"
    start_server_at 9 "$scratch/auth"
    run_quarn env DISPLAY=:9.1 XAUTHORITY="$scratch/auth" "$tree/scripts/run"
    expect_report "$status" "$scratch/out" "$scratch/err"
    expect_egl_note "no X server answers at DISPLAY=:9.1 (or it has no such screen)"
    kill -KILL "$server"
    wait "$server" 2>/dev/null || true
    run_quarn env DISPLAY=:9 "$tree/scripts/run"
    expect_report "$status" "$scratch/out" "$scratch/err"
    expect_egl_note "no X server answers at DISPLAY=:9 (or it has no such screen)"
    run_quarn "$tree/scripts/run" -display :9
    expect_report "$status" "$scratch/out" "$scratch/err"
    expect_egl_note "the toolkit cannot open the display (freeglut (.*): failed to open display ':9')"
    # A server that answers but has no GLX gets one report, with one banner.
    start_server_at 10 "$scratch/auth" -extension GLX
    run_quarn env DISPLAY=:10 XAUTHORITY="$scratch/auth" "$tree/scripts/run"
    kill "$server"
    expect_report "$status" "$scratch/out" "$scratch/err"
    [ "$(grep -c RCSfile "$scratch/out")" -eq 1 ] || fail "two banners: $(cat "$scratch/out")"
    expect_egl_note "the display gives no OpenGL context (freeglut (.*): OpenGL GLX extension not supported by display ':10')" ;;

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
    ! grep -q "through EGL" "$scratch/err" || fail "fell back: $(cat "$scratch/err")" ;;

  # Catches a fallback from a server with no client of its own: it resets
  # as the probe leaves, and drops the toolkit where that reached it first.
  # The probe here leaves while the server is stopped, which goes on once
  # the toolkit waits on it; which it then serves first is the server's
  # choice, so the case is tried three times.
  retries_a_toolkit_dropped_as_the_probe_leaves)
    in_private_x_namespaces "$@"
    start_server_at 11 "$scratch/auth"
    mkdir "$scratch/bin"
    cat >"$scratch/bin/xprop" <<EOF
#!/bin/sh
mkfifo "$scratch/spy"
$(command -v xprop) -root -spy -len 0 WM_NAME >"$scratch/spy" 2>/dev/null &
spy=\$!
read -r _ <"$scratch/spy" && rm "$scratch/spy"
kill -STOP $server
{ sleep 0.3 && kill \$spy && sleep 0.1 && kill -CONT $server; } </dev/null >/dev/null 2>&1 &
EOF
    chmod +x "$scratch/bin/xprop"
    for try in 1 2 3; do
      run_quarn env PATH="$scratch/bin:$PATH" DISPLAY=:11 XAUTHORITY="$scratch/auth" "$tree/scripts/run"
      expect_report "$status" "$scratch/out" "$scratch/err"
      ! grep -q "through EGL" "$scratch/err" || fail "try $try fell back: $(cat "$scratch/err")"
    done
    kill "$server" ;;

  # Catches a wait on a display that never answers, or that stops after the
  # probe, that is longer than ten seconds, or that Ctrl-C ends while
  # leaving its probe behind.
  gives_a_hung_display_ten_seconds_and_leaves_no_probe)
    in_private_x_namespaces "$@"
    start_server_at 8 "$scratch/auth"
    kill -STOP "$server"
    # A terminal's Ctrl-C reaches the whole foreground process group, with
    # SIGINT not ignored as a shell leaves it for its background jobs.
    env --default-signal=INT DISPLAY=:8 XAUTHORITY="$scratch/auth" setsid "$tree/scripts/run" \
      >"$scratch/out" 2>&1 &
    script=$!
    sleep 1
    kill -INT "-$script"
    status=0
    wait "$script" || status=$?
    [ "$status" -eq 130 ] || fail "Ctrl-C: status $status: $(cat "$scratch/out")"
    sleep 0.2
    [ -z "$(ps -s "$script" -o pid=)" ] || fail "left: $(ps -s "$script" -o cmd=)"
    started=$(date +%s)
    run_quarn env DISPLAY=:8 XAUTHORITY="$scratch/auth" "$tree/scripts/run"
    waited=$(($(date +%s) - started))
    expect_report "$status" "$scratch/out" "$scratch/err"
    if [ "$waited" -lt 10 ] || [ "$waited" -gt 14 ]; then fail "waited $waited s"; fi
    expect_egl_note "the X server at DISPLAY=:8 did not answer within 10 s"
    # A server that answered the probe and then stopped gets the toolkit
    # ten seconds as well, and one banner.
    mkdir "$scratch/bin"
    printf '#!/bin/sh\nexit 0\n' >"$scratch/bin/xprop"
    chmod +x "$scratch/bin/xprop"
    started=$(date +%s)
    run_quarn timeout 30 env DISPLAY=:8 XAUTHORITY="$scratch/auth" PATH="$scratch/bin:$PATH" \
      "$tree/scripts/run"
    waited=$(($(date +%s) - started))
    kill -KILL "$server"
    expect_report "$status" "$scratch/out" "$scratch/err"
    if [ "$waited" -lt 10 ] || [ "$waited" -gt 14 ]; then fail "toolkit waited $waited s"; fi
    expect_egl_note "the display gave no OpenGL context within 10 s" ;;

  # Catches a run command that cannot find its helpers through a link, to
  # the file or to its folder, or that takes the checkout there for another
  # one and configures it afresh.
  runs_through_a_symbolic_link)
    use_fixture_display
    ln -s "$tree/scripts/run" "$scratch/quarn-run"
    ln -s "$tree/scripts" "$scratch/scripts"
    for link in "$scratch/quarn-run" "$scratch/scripts/run"; do
      run_quarn "$link"
      expect_report "$status" "$scratch/out" "$scratch/err"
      ! grep -q configuring "$scratch/err" || fail "configured afresh through $link"
    done ;;

  # Catches a fixture that stops a server it did not start (a second test
  # run's, in the same build folder), deletes files it did not make, returns
  # from stop before its server has gone, or outlives a CTest killed with
  # its whole process group.
  fixture_stops_only_its_own_server)
    x="$scratch/x y"
    # The owner, in a session of its own as CTest's fixture is, lives as
    # long as this case does, zombie or not.
    # shellcheck disable=SC2016 # expanded by the inner shell
    owner='"$0" start "$1" && : >"$1.up" && while kill -0 "$2" 2>/dev/null; do
      { read -r stat <"/proc/$2/stat"; } 2>/dev/null && case ${stat##*) } in Z*) exit ;; esac
      sleep 0.1; done'
    setsid sh -c "$owner" "$source_repo/scripts/xvfb" "$x" "$$" &
    first=$!
    until [ -f "$x/display" ]; do sleep 0.05; done
    read -r display <"$x/display"
    # A lock file, so that xvfb-run -a and display managers pass its display by.
    [ -f "/tmp/.X${display#:}-lock" ] || fail "no lock file for $display"
    status=0
    sh -c '"$0" start "$1"; "$0" stop "$1"' "$source_repo/scripts/xvfb" "$x" 2>"$scratch/err" ||
      status=$?
    if ! DISPLAY=$display XAUTHORITY=$x/auth xprop -root -len 0 WM_NAME >/dev/null; then
      fail "a second run stopped the first run's server"
    fi
    grep -q "another test run holds" "$scratch/err" || fail "$(cat "$scratch/err")"
    kill -KILL "-$first"
    wait_until_gone "$x" "${display#:}" 20 || fail "left after SIGKILL: $(ls -A "$x" 2>&1)"
    # However its folder goes (rm -rf build), the server goes within a second;
    # a folder named from the caller's own is the same folder.
    rm -f "$x.up"
    (cd "$scratch" && exec setsid sh -c "$owner" "$source_repo/scripts/xvfb" "x y" "$$") &
    tries=0
    until [ -f "$x.up" ] || [ $tries -ge 200 ]; do tries=$((tries + 1)) && sleep 0.05; done
    { read -r display <"$x/display"; } 2>/dev/null || fail "no server in a folder named from the caller's"
    rm -rf "$x"
    wait_until_gone "$x" "${display#:}" 10 || fail "left after its folder went"
    kill "$!"
    # An owner killed outright is a zombie until its parent reaps it; under a
    # parent that reaps nothing, as a container's first process may be, the
    # server goes all the same.
    rm -f "$x.up"
    # shellcheck disable=SC2016 # expanded by the inner shell
    setsid sh -c 'sh -c "$0" "$1" "$2" "$3" & echo $! >"$2.owner" &&
      exec timeout 30 tail --pid="$3" -s 0.1 -f /dev/null' "$owner" "$source_repo/scripts/xvfb" "$x" "$$" &
    reaps_nothing=$!
    until [ -f "$x.up" ]; do sleep 0.05; done
    read -r display <"$x/display"
    kill -KILL "$(cat "$x.owner")"
    wait_until_gone "$x" "${display#:}" 20 || fail "left while its owner was an unreaped zombie"
    kill "$reaps_nothing"
    # shellcheck disable=SC2016 # expanded by the inner shell
    sh -c '"$0" start "$1" && read -r d <"$1/display" && read -r pid <"/tmp/.X${d#:}-lock" &&
      "$0" stop "$1" && echo "${d#:} $pid"' "$source_repo/scripts/xvfb" "$x" >"$scratch/number"
    read -r number pid <"$scratch/number"
    fixture_gone "$x" "$number" || fail "stop returned before the end"
    # Dead but unreaped, a server is still listed: pgrep -a Xvfb shows it.
    [ ! -e "/proc/$pid" ] || fail "stop returned with its server still listed"
    mkdir "$x"
    echo mine >"$x/log"
    ! "$source_repo/scripts/xvfb" start "$x" 2>/dev/null || fail "started in a used folder"
    [ "$(cat "$x/log")" = mine ] || fail "removed a file it did not make" ;;

  # Catches a test whose helpers outlive it: a SIGKILL of the whole run (a CI
  # time-out, Ctrl-\\) must take the case's own private server with it, and
  # so must a Ctrl-C or SIGTERM, even of a server that the case has stopped,
  # which holds those signals until it goes on.
  killed_case_leaves_no_server)
    setsid sh "$here" fixture_stops_only_its_own_server "$scratch/work" "$xvfb_dir" \
      >"$scratch/log" 2>&1 &
    killed=$!
    x="$scratch/work/fixture_stops_only_its_own_server/x y"
    tries=0
    until [ -f "$x/display" ] || [ $tries -ge 100 ]; do tries=$((tries + 1)) && sleep 0.1; done
    read -r display <"$x/display" || fail "the case's server did not start: $(cat "$scratch/log")"
    kill -KILL "-$killed"
    wait_until_gone "$x" "${display#:}" 20 || fail "left: $(pgrep -a Xvfb)"
    hung=gives_a_hung_display_ten_seconds_and_leaves_no_probe
    ln -s "$tree" "$scratch/work/tree"
    for signal in INT TERM; do
      rm -rf "${scratch:?}/work/$hung"
      env --default-signal=INT setsid sh "$here" "$hung" "$scratch/work" "$xvfb_dir" \
        >"$scratch/log" 2>&1 &
      killed=$!
      tries=0
      # Without root (or namespaces) it skips at once, and there is nothing to end.
      until [ -f "$scratch/work/$hung/out" ] || grep -q "skipped$" "$scratch/log" ||
        [ $tries -ge 100 ]; do tries=$((tries + 1)) && sleep 0.1; done
      if grep -q "skipped$" "$scratch/log"; then wait "$killed" || true; break; fi
      kill "-$signal" "-$killed" 2>/dev/null || fail "it ended before SIG$signal: $(cat "$scratch/log")"
      wait "$killed" || true
      stopped="^Xvfb :8 .*-auth $scratch/work/$hung/auth"
      tries=0
      while pgrep -f "$stopped" >/dev/null && [ $tries -lt 20 ]; do tries=$((tries + 1)) && sleep 0.1; done
      ! pgrep -f "$stopped" >/dev/null || { pkill -KILL -f "$stopped"; fail "left after SIG$signal"; }
    done ;;

  # Catches a fixture that fails without saying why, or that starts a
  # server with no cookie (which lets in every user) on a full disk.
  fixture_says_why_it_cannot_start)
    in_private_x_namespaces "$@"
    mkdir "$scratch/full" "$scratch/bin"
    mount -t tmpfs -o size=16k none "$scratch/full"
    dd if=/dev/zero of="$scratch/full/fill" bs=4k 2>/dev/null || true
    printf '#!/bin/sh\necho "Xvfb: no screens" >&2\nexit 1\n' >"$scratch/bin/Xvfb"
    chmod +x "$scratch/bin/Xvfb"
    for why in "full/x:cannot write a cookie in $scratch/full/x" "x:Xvfb: no screens"; do
      status=0
      PATH=$scratch/bin:$PATH "$source_repo/scripts/xvfb" start "$scratch/${why%%:*}" \
        2>"$scratch/err" || status=$?
      [ "$status" -eq 1 ] || fail "status $status"
      grep -q "${why#*:}" "$scratch/err" || fail "no reason: $(cat "$scratch/err")"
      [ ! -e "$scratch/${why%%:*}" ] || fail "left: $(ls -A "$scratch/${why%%:*}")"
    done
    umount "$scratch/full" ;;

  # Catches a build that fails on a full disk with no word of why.
  says_when_the_build_folders_disk_is_full)
    in_private_x_namespaces "$@"
    mount -t tmpfs -o size=48k none "$tree/build"
    run_quarn env -u DISPLAY "$tree/scripts/run"
    umount "$tree/build"
    [ "$status" -eq 1 ] || fail "status $status"
    grep -q "^quarn: the disk that holds build/release has less than 1 MB free" "$scratch/err" ||
      fail "$(cat "$scratch/err")" ;;

  # Catches options and descriptors the script cannot take: the toolkit's
  # indirect contexts, a closed standard error, and a closed standard output
  # that must fail as quarn alone does, not in the shell.
  runs_indirect_and_with_standard_error_closed)
    use_fixture_display
    run_quarn "$tree/scripts/run" -indirect
    expect_report "$status" "$scratch/out" "$scratch/err"
    status=0
    "$tree/scripts/run" >&- 2>"$scratch/err" || status=$?
    [ "$status:$(cat "$scratch/err")" = "1:quarn: write error: Bad file descriptor" ] ||
      fail "closed standard output: status $status: $(cat "$scratch/err")"
    status=0
    env -u DISPLAY "$tree/scripts/run" >"$scratch/out" 2>&- || status=$?
    expect_report "$status" "$scratch/out" /dev/null
    env -u DISPLAY "$tree/scripts/run" >"$scratch/out" 2>/dev/full || status=$?
    expect_report "$status" "$scratch/out" /dev/null ;;

  # Catches wrong advice when the build cannot be written: another user's
  # checkout is not to be removed with sudo; files a run with sudo left in
  # one's own are. The copy lies where any user may reach it, in a private
  # mount namespace, so this passes in a checkout under a folder only root
  # may enter, such as /root.
  says_whose_the_checkout_or_its_build_is)
    skip_unless_root
    in_private_x_namespaces "$@"
    mount -t tmpfs -o mode=755 none /mnt
    cp -R "$tree/CMakeLists.txt" "$tree/CMakePresets.json" "$tree/src" "$tree/doc" "$tree/scripts" \
      "$tree/cmake" /mnt/
    as_nobody() { setpriv --reuid=65534 --regid=65534 --clear-groups env -u DISPLAY "$@"; }
    run_quarn as_nobody /mnt/scripts/run
    grep -q "this checkout is root's, not yours" "$scratch/err" || fail "$(cat "$scratch/err")"
    chown -R 65534:65534 /mnt
    mkdir -p /mnt/build/release
    run_quarn as_nobody /mnt/scripts/run
    [ "$status" -eq 1 ] || fail "status $status"
    grep -q "are not yours .*: sudo rm -rf /mnt/build/release\$" "$scratch/err" ||
      fail "$(cat "$scratch/err")" ;;

  # Catches a copied or moved checkout that runs the original's build, one
  # that reconfigures on every run for options that compare unequal only as
  # the shell reads them back, or a folder broken for good by a configure
  # cut short or a cache removed.
  configures_a_copied_checkout_afresh_and_only_once)
    cp -a "$tree" "$scratch/copy"
    run_quarn env -u DISPLAY QUARN_CMAKE_ARGS=' -DQUARN_X=a\b' "$scratch/copy/scripts/run"
    expect_report "$status" "$scratch/out" "$scratch/err"
    grep -q "configuring build/release" "$scratch/err" || fail "not configured: $(cat "$scratch/err")"
    ! grep -q "$tree" "$scratch/copy/build/release/build.ninja" || fail "builds the original"
    run_quarn env -u DISPLAY QUARN_CMAKE_ARGS=' -DQUARN_X=a\b' "$scratch/copy/scripts/run"
    ! grep -q "configuring" "$scratch/err" || fail "configured again"
    # A reconfigure cut short once cmake --fresh has removed CMakeFiles/ is
    # redone by the next run, whatever its options.
    mkdir "$scratch/bin"
    printf '#!/bin/sh\nrm -rf build/release/CMakeFiles\nexit 130\n' >"$scratch/bin/cmake"
    chmod +x "$scratch/bin/cmake"
    run_quarn env -u DISPLAY PATH="$scratch/bin:$PATH" QUARN_CMAKE_ARGS=-DCMAKE_BUILD_TYPE=Debug \
      "$scratch/copy/scripts/run"
    [ "$status" -ne 0 ] || fail "a configure cut short passed"
    run_quarn env -u DISPLAY QUARN_CMAKE_ARGS=' -DQUARN_X=a\b' "$scratch/copy/scripts/run"
    expect_report "$status" "$scratch/out" "$scratch/err"
    # So is a folder whose manifest lost CMake's files some other way, or
    # that lost its cache, or part of it.
    for damage in "rm -rf CMakeFiles" "rm CMakeCache.txt" "truncate -s 100 CMakeCache.txt"; do
      (cd "$scratch/copy/build/release" && $damage)
      run_quarn env -u DISPLAY QUARN_CMAKE_ARGS=' -DQUARN_X=a\b' "$scratch/copy/scripts/run"
      expect_report "$status" "$scratch/out" "$scratch/err"
    done ;;

  # Catches a run that fails silently with no /proc (a bare chroot), or in
  # a folder whose name CMake cannot take without saying so.
  runs_without_proc_and_names_an_unusable_folder)
    in_private_x_namespaces "$@"
    mkdir -p "$scratch/a\"b"
    mount --bind "$tree" "$scratch/a\"b"
    run_quarn env -u DISPLAY "$scratch/a\"b/scripts/run"
    [ "$status" -eq 1 ] || fail "status $status"
    grep -q "CMake cannot build in a folder whose path holds" "$scratch/err" || fail "$(cat "$scratch/err")"
    umount "$scratch/a\"b"
    mount -t tmpfs none /proc
    run_quarn env -u DISPLAY "$tree/scripts/run"
    expect_report "$status" "$scratch/out" "$scratch/err" ;;

  # Catches a test command that runs the whole suite for a misspelt option.
  test_command_refuses_options_it_does_not_know)
    for option in --sanitise --help -R nextfoo; do
      status=0
      "$tree/scripts/test" "$option" >"$scratch/out" 2>&1 || status=$?
      case $option:$status in --help:0 | --sanitise:2 | -R:2 | nextfoo:2) ;; *) fail "$option: status $status" ;; esac
      grep -q "^usage: scripts/test" "$scratch/out" || fail "$option: $(cat "$scratch/out")"
    done ;;

  # Catches a package that dpkg knows of but has not installed (never
  # installed, or removed) taken for one installed.
  names_each_package_it_lacks)
    mkdir "$scratch/bin"
    cat >"$scratch/bin/dpkg-query" <<'FAKE'
#!/bin/sh
format=${2#-f=} && shift 2
for package; do
  case $package in xvfb) state='un ' ;; xauth) state='rc ' ;; *) state='ii ' ;; esac
  printf '%s' "$format" | sed "s/[$]{db:Status-Abbrev}/$state/; s/[$]{Package}/$package/"
done
FAKE
    printf '#!/bin/sh\nexit 1\n' >"$scratch/bin/apt-get"
    chmod +x "$scratch/bin/dpkg-query" "$scratch/bin/apt-get"
    run_quarn env PATH="$scratch/bin:$PATH" "$tree/scripts/test" -N
    [ "$status" -eq 1 ] || fail "status $status"
    grep -q "install\(ing\)\{0,1\} xvfb xauth\( (apt-get\|\$\)" "$scratch/err" ||
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
    skip_unless_root
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
