# Sourced by scripts/run and scripts/test: installs the Debian packages the build, the app and the tests need,
# only when some are missing, so a warm machine pays nothing.
VARNOSTIMA_PACKAGES=(
  build-essential cmake ninja-build ccache pkg-config git
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev qt6-image-formats-plugins
  qcoro-qt6-dev libcpp-httplib-dev libxkbcommon-dev libicu-dev libwebp-dev libcurl4-openssl-dev libssl-dev
  xvfb xauth dbus dbus-x11 dbus-bin
  xdg-utils desktop-file-utils
  openbox trayer dunst xdotool x11-utils
  librsvg2-common # lets the notification daemon draw the app's SVG icon
)

varnostima_install_deps() {
  local missing=()
  local pkg
  for pkg in "${VARNOSTIMA_PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$pkg")
    fi
  done
  # npm fetches the fonts and icons at set-up; any Node.js that brings npm will do.
  if ! command -v npm >/dev/null 2>&1; then
    missing+=(nodejs npm)
  fi
  if [ ${#missing[@]} -eq 0 ]; then
    return 0
  fi
  echo "Installing missing packages: ${missing[*]}"
  local sudo=""
  if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y --no-install-recommends -o DPkg::Lock::Timeout=300 "${missing[@]}"
}
