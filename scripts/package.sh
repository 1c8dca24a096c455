#!/usr/bin/env bash
# Builds the Debian package in build-package/ and prints its path:
#   scripts/package.sh      ->  build-package/vantrel-server_<version>_<arch>.deb
# Installs what is missing (as scripts/run.sh does), builds with the prefix /usr, packs
# with CPack (dependencies from dpkg-shlibdeps) and runs lintian when it is there.
# Install the result with: sudo apt-get install ./build-package/vantrel-server_*.deb
set -eu
repo=$(cd "$(dirname "$0")/.." && pwd)
. "$repo/scripts/common.sh"
ensure_packages "${packages_build[@]}" dpkg-dev file
dir=$repo/build-package
# Debian's compiler and linker flags with every hardening feature (fortified
# functions, immediate binding, PIE): the service faces the network.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
# Only what the package holds (the program, its manual page, the changelog), not the
# test suite.
cmake -S "$repo" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
    "-DCMAKE_CXX_FLAGS=$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
    "-DCMAKE_EXE_LINKER_FLAGS=$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build "$dir" -j "$(nproc)" --target vantrel-server manpage debian_changelog
rm -f "$dir"/vantrel-server_*.deb
(cd "$dir" && cpack -G DEB >/dev/null)
deb=$(ls "$dir"/vantrel-server_*.deb)
if command -v lintian >/dev/null; then
    lintian --allow-root "$deb" || true
fi
echo "$deb"
