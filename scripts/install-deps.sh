#!/usr/bin/env bash
# Installs the Debian packages that the build, the tests and the benchmarks need.
# Safe to run again: packages already present are left alone and apt is not called.
set -euo pipefail

packages=(
  g++ cmake make pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev
  zlib1g-dev
  libxml2-utils   # xmllint validates written GPX against the schema
  unzip           # test setup and benchmark reference
  gdal-bin        # ogr2ogr: the shapefile stage, and a benchmark reference
  postgresql postgresql-15-postgis-3 postgis  # private test cluster; shp2pgsql, psql, pgsql2shp
  time            # /usr/bin/time -v measures peak memory in benchmarks
  curl            # download benchmark reference
  python3         # makes test archives with its zipfile module
  zip p7zip-full libarchive-tools  # other programs' archives for the zip reader tests
  clang libclang-rt-14-dev         # libFuzzer for the zip reader's fuzz target
  appstream man-db                 # the package test validates the metainfo file and the man page
  mkgmap                           # Garmin maps from the Polish-format file
  xvfb xdotool qt6-qpa-plugins     # the window under a real X server, clicked as a user clicks
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
