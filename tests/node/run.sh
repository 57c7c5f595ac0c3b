#!/usr/bin/env bash
# Installs the packed npm package into a temporary app, as a user would, and runs one group of
# its tests there: run.sh linux|types|windows <tarball> <zip> <build bin folder> <stand-in>
#   linux    Linux Node: the tarball's contents, and what the package does off Windows
#   types    the declarations under tsc --strict
#   windows  Windows Node under Wine, with the simulated share platform beside the executable and
#            the stand-in for QuibShare.exe in the app's folder
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
. "$root/scripts/node-tools"
mode=$1 tarball=$2 zip=$3 bin=$4 stand_in=$5
app=$(mktemp -d)
trap 'rm -rf "$app"' EXIT
# Only Windows Node shares, so only it needs the simulated platform.
sim=
if [ "$mode" = windows ]; then sim=$bin/quibshare_sim.dll; fi
install_package_app "$app" "$tarball" "$sim"
cp "$here"/*.test.js "$here/consumer.ts" "$app/"
cp "$stand_in" "$app/stand_in.exe"
# The outcome lines the Rust crate's tests read too.
cp "$here/outcome_lines.js" "$here/../outcome_lines.tsv" "$app/"
cd "$app"
case $mode in
  linux)
    QUIBSHARE_TARBALL=$tarball QUIBSHARE_ZIP=$zip timeout 300 node --test linux.test.js ;;
  types)
    timeout 300 node "$QUIBSHARE_TSC" --strict --noEmit --module nodenext --target es2022 consumer.ts
    echo "consumer.ts compiles against index.d.ts" ;;
  windows)
    QUIBSHARE_RUN_TIMEOUT=400 "$root/scripts/wine-run" "$QUIBSHARE_WINDOWS_NODE" --test windows.test.js ;;
esac
