# shellcheck shell=sh
# The scripts' Debian packages and build folders, in the checkout at $repo.
repo=${repo:?the repository root, set by the script that sources this}

# A note that cannot be written (standard error on a full disk) costs nothing.
say() { printf 'quarn: %s\n' "$*" >&2 || true; }

# Installs whichever of the named Debian packages are missing, as root;
# otherwise names the command that does. Without dpkg, it trusts the system.
need_packages() {
  command -v dpkg-query >/dev/null || return 0
  # Installed is an "i" in the second column ("un", "rc": known, not installed).
  installed=$(dpkg-query -W -f='${db:Status-Abbrev}:${Package} ' "$@" 2>/dev/null) || true
  missing=$(for p; do case $installed in *"i :$p "*) ;; *) printf ' %s' "$p" ;; esac; done)
  [ -n "$missing" ] || return 0
  [ "$(id -u)" -eq 0 ] || { say "missing packages; install them with: sudo apt-get install$missing"; exit 1; }
  say "installing$missing (apt-get; a minute or two)"
  # shellcheck disable=SC2086 # one word per package
  log=$({ apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q $missing; } 2>&1) ||
    { printf '%s\n' "$log" >&2; say "installing$missing failed"; exit 1; }
}

# shellcheck disable=SC2120 # What building and running on Mesa needs, and more.
need_build_packages() { need_packages cmake ninja-build g++ libgl-dev libegl-dev libglu1-mesa-dev \
  freeglut3-dev libgl1-mesa-dri libegl-mesa0 "$@"; }

# Runs that share build/$1 take turns, on descriptor 9 until closed or exit;
# $2 is said when the lock is not free at once.
lock_build_folder() {
  log=$(mkdir -p "$repo/build/$1" 2>&1) || build_failed making "$1"
  exec 9<"$repo/build/$1"
  flock -n 9 || { [ -z "${2:-}" ] || say "$2"; flock 9; }
}

# Whether build/$1 was configured from this folder and QUARN_CMAKE_ARGS (words),
# as quarn-configured records, read by the shell itself (scripts/run checks it
# on every run): a copied or moved checkout is configured afresh.
is_configured() {
  [ -f "$repo/build/$1/build.ninja" ] && { IFS= read -r dir && { IFS= read -r args || true; }; } 2>/dev/null \
    <"$repo/build/$1/quarn-configured" && [ "$dir" = "$repo" ] && [ "$args" = "${QUARN_CMAKE_ARGS:-}" ]
}

# Configures build/$1 where needed; Ninja then brings the targets up to date,
# system headers and libraries included, showing progress if $show_build.
build_preset() {
  preset=$1 && shift
  case $repo in *[\"\\\;]* | *"
"*) say "CMake cannot build in a folder whose path holds \", \\, ; or a line break: $repo" && exit 1 ;; esac
  # So is one that lost CMake's files or part of its cache (a disk that filled),
  # which Ninja would regenerate from that cache, never mending its manifest;
  # the record comes back only after a configure that ended well.
  if ! is_configured "$preset" || ! ninja -C "$repo/build/$preset" -t rules >/dev/null 2>&1 ||
    ! grep -qx 'CMAKE_GENERATOR:INTERNAL=Ninja' "$repo/build/$preset/CMakeCache.txt"; then
    say "configuring build/$preset, then building it (the first time takes a minute)"
    rm -f "$repo/build/$preset/quarn-configured"
    # shellcheck disable=SC2086 # the handed options are words
    log=$(cd "$repo" && cmake --fresh --preset "$preset" ${QUARN_CMAKE_ARGS:-} 2>&1) ||
      build_failed configuring "$preset"
    printf '%s\n%s' "$repo" "${QUARN_CMAKE_ARGS:-}" >"$repo/build/$preset/quarn-configured"
  fi
  log=""
  if [ -n "${show_build:-}" ]; then ninja -C "$repo/build/$preset" "$@" >&2; else log=$(ninja -C "$repo/build/$preset" "$@" 2>&1); fi ||
    build_failed building "$preset"
}

# Shows what CMake or Ninja said, and what they seldom do: a full disk, or files
# of another user's.
build_failed() {
  dir=$repo/build/$2
  printf '%s\n' "${log:-}" >&2
  free=$(df -Pk "$dir" "$repo" 2>/dev/null | awk 'NR == 2 { print $4 }')
  [ "${free:-1024}" -ge 1024 ] || say "the disk that holds build/$2 has less than 1 MB free"
  if [ "$(stat -c %u "$repo")" != "$(id -u)" ]; then
    say "this checkout is $(stat -c %U "$repo")'s, not yours: build in a clone of your own"
  elif [ -n "$(find "$dir" ! -user "$(id -u)" -print -quit 2>/dev/null)" ]; then
    say "build/$2 holds files that are not yours (from a run with sudo?); remove them with: sudo rm -rf $dir"
  fi
  say "$1 build/$2 failed"
  exit 1
}
