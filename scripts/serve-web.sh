#!/usr/bin/env bash
# Serves the page that scripts/build-web.sh assembled on this machine alone:
#   scripts/serve-web.sh [PORT]    (default 8080)
# Prints the address to open; stops with Ctrl+C. Any static web host serves
# the folder as well, given that it sends .wasm as application/wasm.
set -euo pipefail
cd "$(dirname "$0")/.."

site=${V2BSP_WEB_BUILD_DIR:-build-web}/site
port=${1:-8080}
if [ ! -f "$site/index.html" ]; then
  echo "serve-web.sh: no page in $site; run scripts/build-web.sh first" >&2
  exit 1
fi
echo "http://127.0.0.1:$port/"
exec python3 - "$site" "$port" <<'PY'
import functools, http.server, sys
site, port = sys.argv[1], int(sys.argv[2])
class Handler(http.server.SimpleHTTPRequestHandler):
    extensions_map = {**http.server.SimpleHTTPRequestHandler.extensions_map,
                      ".wasm": "application/wasm", ".js": "text/javascript"}
    def log_message(self, *args):
        pass
server = http.server.ThreadingHTTPServer(("127.0.0.1", port), functools.partial(Handler, directory=site))
server.serve_forever()
PY
