# Sourced by the run and test commands: installs the Debian packages that the
# build and the tests need, when any of them is missing. The sanitizer build
# needs nothing more: g++ brings AddressSanitizer's and UndefinedBehaviorSanitizer's
# run-time libraries (libasan8, liblsan0 and libubsan1, through gcc-12's
# libgcc-12-dev), and they print their stack traces with file and line by themselves.
halvoric_packages=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-image-formats-plugins fonts-noto-cjk
  libssl-dev libgtest-dev libbenchmark-dev
  dbus-daemon xvfb x11-utils xdotool
)

halvoric_install_packages() {
  local missing=()
  local package
  for package in "${halvoric_packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
      missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
}

halvoric_source_dir() {
  (cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
}

# The folder of the plain build.
halvoric_build_dir() {
  echo "${HALVORIC_BUILD_DIR:-$(halvoric_source_dir)/build}"
}

# Configures and builds in the folder $1, with the CMake options that follow.
halvoric_build_in() {
  local build_dir="$1"
  shift
  cmake -S "$(halvoric_source_dir)" -B "$build_dir" -G Ninja "$@" &&
    cmake --build "$build_dir" --parallel "$(nproc)"
}

halvoric_build() {
  halvoric_build_in "$(halvoric_build_dir)"
}
