# Shared by scripts/test and scripts/run: installs missing packages and builds a preset.
# Sourced, not run.

QUILLON_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

quillon_install_packages() {
    local wanted=() missing=() pkg
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
