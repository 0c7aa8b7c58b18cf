#!/usr/bin/env bash
# The main job on one machine: installs what is missing, builds the updater,
# serves a demo release from the bundled test server on loopback and runs the
# "Auto Update" window against it (on your display, or a private Xvfb when
# there is none), then reports what happened.
#
#   sudo ./tools/run-demo.sh        (as root: ./tools/run-demo.sh)
#
# The demo works in build/demo/: its own HOME (so the installer lands in
# build/demo/home/Downloads, not yours), the release folder, and the marks
# that the demo installer and the demo product leave.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"
BUILD="$ROOT/build/release"
DEMO="$ROOT/build/demo"
SKU="DEMO-PRODUCT"

bash tools/install-deps.sh
echo "=== build"
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD" -j "$(nproc)" --target updater quendal-test-server

rm -rf "$DEMO"
mkdir -p "$DEMO/releases/$SKU" "$DEMO/home/Downloads" "$DEMO/marks"

# The release: an installer script that records how it was run, and its
# description for the web API.
cat > "$DEMO/releases/$SKU/setup-demo.sh" <<SCRIPT
#!/bin/sh
echo "installer ran with: \$*" >> "$DEMO/marks/installed.txt"
sleep 1
exit 0
SCRIPT
chmod +x "$DEMO/releases/$SKU/setup-demo.sh"
cat > "$DEMO/releases/$SKU/release.json" <<JSON
{"name": "Demo Product", "version": "2.0.0", "platform_min_version": "6.1.0",
 "resources_site_link": "http://127.0.0.1/demo-product"}
JSON

# The product the updater starts again after the install.
cat > "$DEMO/product.sh" <<SCRIPT
#!/bin/sh
echo "product started with: \$*" >> "$DEMO/marks/relaunched.txt"
SCRIPT
chmod +x "$DEMO/product.sh"

SERVER_PID=""
XVFB_PID=""
cleanup() {
  if [ -n "$SERVER_PID" ]; then kill "$SERVER_PID" 2>/dev/null || true; fi
  if [ -n "$XVFB_PID" ]; then kill "$XVFB_PID" 2>/dev/null || true; fi
}
trap cleanup EXIT

"$BUILD/tools/quendal-test-server" --releases "$DEMO/releases" --verbose > "$DEMO/server.log" 2>&1 &
SERVER_PID=$!
PORT=""
for _ in $(seq 1 100); do
  PORT="$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$DEMO/server.log" | head -n 1)"
  [ -n "$PORT" ] && break
  sleep 0.05
done
if [ -z "$PORT" ]; then echo "the test server did not start:"; cat "$DEMO/server.log"; exit 1; fi
echo "=== resources server on 127.0.0.1:$PORT serving $DEMO/releases"

source tools/display.sh
start_private_display
if [ -n "$XVFB_PID" ]; then echo "=== no display: the window opens on a private Xvfb ($DISPLAY)"; fi

echo "=== updater --product-sku $SKU --server 127.0.0.1:$PORT -- $DEMO/product.sh --from-updater"
set +e
HOME="$DEMO/home" XDG_CONFIG_HOME="$DEMO/home/.config" \
  "$BUILD/updater/updater" --product-sku "$SKU" --server "127.0.0.1:$PORT" -- "$DEMO/product.sh" --from-updater \
  > "$DEMO/updater.log" 2>&1
CODE=$?
set -e
for _ in $(seq 1 50); do [ -e "$DEMO/marks/relaunched.txt" ] && break; sleep 0.1; done

echo "=== what happened"
echo "updater exit code: $CODE"
echo "requests to the server:"
sed -n 's/^#[0-9]* /  /p' "$DEMO/server.log"
if [ -e "$DEMO/marks/installed.txt" ]; then sed 's/^/  /' "$DEMO/marks/installed.txt"; else echo "  the installer did not run"; fi
if [ -e "$DEMO/marks/relaunched.txt" ]; then sed 's/^/  /' "$DEMO/marks/relaunched.txt"; else echo "  the product was not started again"; fi
echo "files left in $DEMO/home/Downloads: $(ls -A "$DEMO/home/Downloads" | wc -l)"
echo "updater output: $DEMO/updater.log"
if [ "$CODE" -eq 0 ] && [ -e "$DEMO/marks/installed.txt" ] && [ -e "$DEMO/marks/relaunched.txt" ]; then
  echo "=== demo update succeeded"
else
  echo "=== demo update did not complete"
  exit 1
fi
