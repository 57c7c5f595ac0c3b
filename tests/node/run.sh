#!/usr/bin/env bash
# Installs the packed npm package into a temporary app, as a user would, and runs one group of
# its tests there: run.sh linux|types|windows <tarball> <zip> <build bin folder> <stand-in>
#   linux    Linux Node: the tarball's contents, and what the package does off Windows
#   types    the declarations under tsc --strict
#   windows  Windows Node under Wine, with the simulated share platform beside the executable and
#            the stand-in for QuibShare.exe in the app's folder
#   electron-page     quibshare/electron/page in Debian's headless chromium, driven by puppeteer-core
#   webview-page      the same page script under Tauri's and WebView2's transports, likewise
#   electron-preload  quibshare/electron/preload on Linux Node, with stand-ins for Electron
#   electron-main     quibshare/electron from Windows Node under Wine, through the simulated sheet
#   windows-native    on a real Windows with its own Node: the tests that need no share sheet
#                     (the preload, the command line, the outcome lines, the stand-in's exits)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
. "$root/scripts/node-tools"
mode=$1 tarball=$2 zip=$3 bin=$4 stand_in=$5
app=$(mktemp -d)
trap 'rm -rf "$app"' EXIT
# Only Windows Node shares, so only it needs the simulated platform.
sim=
if [ "$mode" = windows ] || [ "$mode" = electron-main ]; then sim=$bin/quibshare_sim.dll; fi
install_package_app "$app" "$tarball" "$sim"
cp "$here"/*.test.js "$here"/*consumer.ts "$app/"
cp "$stand_in" "$app/stand_in.exe"
# The outcome lines the Rust crate's tests read too, the table of page requests, and what the
# sharing tests share.
cp "$here/outcome_lines.js" "$here/share_support.js" "$here/../outcome_lines.tsv" "$here/web_share_table.js" \
   "$here/../web_share.json" "$app/"
# The Rust crate's copy of the packed page script, which it cannot pack itself.
cp "$root/hosts/rust/src/web/page.js" "$app/crate_page_script.js"
# The request a page sends through Tauri or WebView2, which the crate's tests share.
cp "$root/tests/web/share_request.json" "$app/"
cd "$app"
case $mode in
  linux)
    QUIBSHARE_TARBALL=$tarball QUIBSHARE_ZIP=$zip timeout 300 node --test linux.test.js ;;
  types)
    timeout 300 node "$QUIBSHARE_TSC" --strict --noEmit --module nodenext --target es2022 consumer.ts electron_consumer.ts
    echo "consumer.ts and electron_consumer.ts compile against the declarations" ;;
  windows)
    QUIBSHARE_RUN_TIMEOUT=400 "$root/scripts/wine-run" "$QUIBSHARE_WINDOWS_NODE" --test windows.test.js ;;
  electron-page)
    timeout 300 node --test electron_page.test.js ;;
  webview-page)
    timeout 300 node --test webview_page.test.js ;;
  electron-preload)
    timeout 300 node --test electron_preload.test.js ;;
  electron-main)
    QUIBSHARE_RUN_TIMEOUT=400 "$root/scripts/wine-run" "$QUIBSHARE_WINDOWS_NODE" --test electron_main.test.js ;;
  windows-native)
    # A real Windows has a real sheet, which the simulated one cannot stand in for: nothing here shares.
    timeout 300 node --test electron_preload.test.js
    timeout 300 node --test --test-name-pattern='become QuibShare|shared table' linux.test.js
    timeout 300 node --test --test-name-pattern='through a real pipe' windows.test.js ;;
esac
