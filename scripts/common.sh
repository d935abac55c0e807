# Shared by scripts/test and scripts/run: installs missing packages and builds a preset.
# Sourced, not run.

QUILLON_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# quillon_install_packages [PACKAGE...]: installs whichever of the named packages are missing;
# without names, every package of scripts/packages.txt.
quillon_install_packages() {
    local wanted=("$@") missing=() pkg
    [ $# -eq 0 ] &&
        mapfile -t wanted < <(grep -v -E '^\s*(#|$)' "$QUILLON_ROOT/scripts/packages.txt")
    for pkg in "${wanted[@]}"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' ||
            missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
        "${missing[@]}"
}

# quillon_build PRESET: configures (once) and builds the preset.
quillon_build() {
    local preset=$1
    cd "$QUILLON_ROOT" || return 1
    cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset"
}

# quillon_start_xvfb: starts a virtual display of this run's own on a free number and points
# DISPLAY at it; its process id is left in QUILLON_XVFB_PID for the caller to stop.
quillon_start_xvfb() {
    local display
    QUILLON_XVFB_PID=
    for display in $(seq 70 99); do
        [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ] && continue
        Xvfb ":$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
        QUILLON_XVFB_PID=$!
        export DISPLAY=:$display
        break
    done
    for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X${DISPLAY#:}" ] && break; sleep 0.1; done
}

# quillon_prepare_wine: readies the prefix in WINEPREFIX: one server for every program that
# follows, Hangul in the dialogs' fonts, windows without a window manager, and a crash that ends its program with a backtrace on
# stderr instead of waiting for a click on the crash dialog.
quillon_prepare_wine() {
    local font
    mkdir -p "$WINEPREFIX"
    wineserver -p
    wine cmd /c exit >/dev/null 2>&1
    for font in Tahoma "MS Shell Dlg" "MS Shell Dlg 2" "굴림" Gulim; do
        wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$font" /t REG_SZ \
            /d NanumGothic /f >/dev/null 2>&1
    done
    wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
        >/dev/null 2>&1
    # Unmanaged windows: a virtual display has no window manager, and closing a managed window
    # waits two seconds for one.
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
}
