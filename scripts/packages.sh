# Sourced by the run and test commands: installs the Debian packages that the
# build and the tests need, when any of them is missing.
halvoric_packages=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-image-formats-plugins fonts-noto-cjk
  libssl-dev libgtest-dev libbenchmark-dev
  dbus-daemon xvfb x11-utils
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

halvoric_build() {
  local source_dir build_dir
  source_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
  build_dir="${HALVORIC_BUILD_DIR:-$source_dir/build}"
  cmake -S "$source_dir" -B "$build_dir" -G Ninja &&
    cmake --build "$build_dir" --parallel "$(nproc)"
}
