# Shared by scripts/run and scripts/test: Debian packages and the build.
# Sourced, not run.

repo=$(cd "$(dirname "$0")/.." && pwd)

# Packages that building quarn needs, and that running it on Mesa needs.
build_packages="cmake make g++ libgl-dev libglu1-mesa-dev freeglut3-dev libgl1-mesa-dri"
test_packages="libgtest-dev libgmock-dev libbenchmark-dev xvfb"

say() { echo "quarn: $*" >&2; }

# Installs whichever of the named Debian packages are missing: as root with
# apt-get, otherwise by naming the command to run.
need_packages() {
  missing=""
  for package in "$@"; do
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    case $status in
      *" installed") ;;
      *) missing="$missing $package" ;;
    esac
  done
  [ -z "$missing" ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    say "missing Debian packages; install them with:"
    echo "  sudo apt-get install$missing" >&2
    exit 1
  fi
  say "installing$missing"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq >&2
  # shellcheck disable=SC2086
  apt-get install -y -qq $missing >&2
}

# Configures (first time only) and builds the folder $1 with the CMake
# options that follow; the build's chatter goes to $1.log and is shown only
# when the build fails.
build_in() {
  dir=$1
  shift
  mkdir -p "$(dirname "$dir")"
  if [ ! -f "$dir/CMakeCache.txt" ]; then
    cmake -S "$repo" -B "$dir" "$@" >"$dir.log" 2>&1 || { cat "$dir.log" >&2; exit 1; }
  fi
  cmake --build "$dir" -j "$(nproc)" >>"$dir.log" 2>&1 || { cat "$dir.log" >&2; exit 1; }
}
