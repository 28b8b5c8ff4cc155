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

# Ends the case as skipped for want of root, in the words scripts/test
# reads back for its summary.
skip_unless_root() {
  [ "$(id -u)" -eq 0 ] || { echo "not root: skipped"; exit 77; }
}

# Runs the rest of the case (the script again, with the case's arguments)
# as root in mount and process namespaces of its own: the mounts it makes
# are nobody else's. The namespace's first process only waits: when it
# ends, however the case ends (a signal to the whole run, or a SIGKILL of
# the case alone), the kernel kills all that the case started. The case
# runs as its child, where signals reach it as they would elsewhere.
in_private_namespaces() {
  [ -z "${IN_NAMESPACES:-}" ] || return 0
  skip_unless_root
  namespaces="--mount --pid --fork --kill-child --mount-proc"
  # shellcheck disable=SC2086 # one word per option
  unshare $namespaces true || { echo "no private namespaces: skipped"; exit 77; }
  # shellcheck disable=SC2086 # one word per option
  IN_NAMESPACES=1 exec unshare $namespaces sh "$0" "$@"
}

run_quarn() {
  status=0
  "$@" >"$scratch/out" 2>"$scratch/err" || status=$?
}

# Whether the fixture's server for DIR, at display number N, is gone, with
# all that it made.
fixture_gone() {
  [ ! -e "$1" ] && [ ! -e "/tmp/.X11-unix/X$2" ] && ! pgrep -f "^Xvfb .*-auth $1/auth " >/dev/null
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
    status=0
    sh -c '"$0" start "$1"; "$0" stop "$1"' "$source_repo/scripts/xvfb" "$x" 2>"$scratch/err" ||
      status=$?
    if ! DISPLAY=$display XAUTHORITY=$x/auth "$4" >/dev/null; then
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
    sh -c '"$0" start "$1" && read -r d <"$1/display" && pid=$(pgrep -f "^Xvfb .*-auth $1/auth ") &&
      "$0" stop "$1" && echo "${d#:} $pid"' "$source_repo/scripts/xvfb" "$x" >"$scratch/number"
    read -r number pid <"$scratch/number"
    fixture_gone "$x" "$number" || fail "stop returned before the end"
    # Dead but unreaped, a server is still listed: pgrep -a Xvfb shows it.
    { [ -n "$pid" ] && [ ! -e "/proc/$pid" ]; } || fail "stop returned with its server still listed"
    mkdir "$x"
    echo mine >"$x/log"
    ! "$source_repo/scripts/xvfb" start "$x" 2>/dev/null || fail "started in a used folder"
    [ "$(cat "$x/log")" = mine ] || fail "removed a file it did not make" ;;

  # Catches a test whose helpers outlive it: a SIGKILL of the whole run (a CI
  # time-out, Ctrl-\\) must take the case's own private server with it.
  killed_case_leaves_no_server)
    setsid sh "$here" fixture_stops_only_its_own_server "$scratch/work" "$xvfb_dir" "$4" \
      >"$scratch/log" 2>&1 &
    killed=$!
    x="$scratch/work/fixture_stops_only_its_own_server/x y"
    tries=0
    until [ -f "$x/display" ] || [ $tries -ge 100 ]; do tries=$((tries + 1)) && sleep 0.1; done
    read -r display <"$x/display" || fail "the case's server did not start: $(cat "$scratch/log")"
    kill -KILL "-$killed"
    wait_until_gone "$x" "${display#:}" 20 || fail "left: $(pgrep -a Xvfb)" ;;

  # Catches a fixture that fails without saying why, or that starts a
  # server with no cookie (which lets in every user) on a full disk.
  fixture_says_why_it_cannot_start)
    in_private_namespaces "$@"
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
    in_private_namespaces "$@"
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
    in_private_namespaces "$@"
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
    in_private_namespaces "$@"
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
  # development packages change: Ninja, and the run command's list of what
  # the programs were built from, must know their headers and libraries.
  rebuilds_when_system_headers_or_libraries_change)
    header=$(readlink -f /usr/include/GL/freeglut_std.h)
    ninja -C "$tree/build/release" -t deps CMakeFiles/quarn.dir/src/quarn.cpp.o |
      grep -qx " *$header" || fail "no header dependency"
    library=$(ninja -C "$tree/build/release" -t query quarn | sed -n 's,^ *| \(/.*/libglut\.so\)$,\1,p')
    [ -n "$library" ] || fail "no library dependency"
    # A package's files are watched through their folders.
    { grep -qx "${header%/*}" "$tree/build/release/quarn-inputs" &&
      grep -qx "${library%/*}" "$tree/build/release/quarn-inputs"; } || fail "not in the run command's list" ;;

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
