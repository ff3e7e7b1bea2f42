# Installs the Debian packages given as arguments when any of them is missing.
# `apt-get update` runs only when something has to be installed.
ensure_packages() {
    local missing=()
    local package
    for package in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$package")
        fi
    done
    if [ ${#missing[@]} -eq 0 ]; then
        return 0
    fi
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq && DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
}

NATIVE_PACKAGES=(cmake ninja-build g++ libgtest-dev libgmock-dev googletest util-linux pkg-config
                 libudev-dev umockdev libumockdev-dev nlohmann-json3-dev)
WINDOWS_PACKAGES=(g++-mingw-w64-x86-64-posix wine wine64 nlohmann-json3-dev)
FUZZ_PACKAGES=(clang libclang-rt-14-dev nlohmann-json3-dev)
RELEASE_PACKAGES=(git zip unzip dpkg-dev lintian mandoc groff-base)
