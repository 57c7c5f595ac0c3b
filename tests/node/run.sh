#!/usr/bin/env bash
# Installs the packed npm package into a temporary app, as a user would, and runs one group of
# its tests there: run.sh linux|types|windows <tarball> <zip> <build bin folder>
#   linux    Linux Node: the tarball's contents, and what the package does off Windows
#   types    the declarations under tsc --strict
#   windows  Windows Node under Wine, with the simulated share platform beside the executable
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
. "$root/scripts/node-tools"
mode=$1 tarball=$2 zip=$3 bin=$4
app=$(mktemp -d)
trap 'rm -rf "$app"' EXIT
echo '{ "name": "app", "version": "1.0.0", "private": true }' >"$app/package.json"
(cd "$app" && timeout 300 npm install --silent --offline --no-audit --no-fund "$tarball")
cp "$here"/*.test.js "$here/consumer.ts" "$app/"
cd "$app"
case $mode in
  linux)
    QUIBSHARE_TARBALL=$tarball QUIBSHARE_ZIP=$zip timeout 300 node --test linux.test.js ;;
  types)
    timeout 300 node "$QUIBSHARE_TSC" --strict --noEmit --module nodenext --target es2022 consumer.ts
    echo "consumer.ts compiles against index.d.ts" ;;
  windows)
    for name in Windows.Storage Windows.ApplicationModel.DataTransfer; do
      cp "$bin/quibshare_sim.dll" "node_modules/quibshare/bin/win32-x64/$name.dll"
    done
    QUIBSHARE_RUN_TIMEOUT=400 "$root/scripts/wine-run" "$QUIBSHARE_WINDOWS_NODE" --test windows.test.js ;;
esac
