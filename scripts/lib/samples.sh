# Shared by scripts/demo and scripts/screenshots (sourced, not run): picks the
# build to run and lays samples/ out as a host folder.
#
#   choose_preset        sets preset and build_name: the 32-bit product where
#                        this machine can execute 32-bit code, else win64
#   lay_out_samples DIR [PLUGIN]
#                        copies samples/ and the plugin (PLUGIN, else the
#                        chosen preset's build) into DIR, serves
#                        DIR/feeds over a local HTTP server (its pid in
#                        server_pid, the caller kills it) and fills in the
#                        feed locations of RSS.ini; sets plugin_path (the
#                        plugin as Wine sees it) and feeds_url
#   winpath PATH         a Linux path as Wine sees it (drive Z:)

choose_preset() {
  if scripts/probe-i386 && [ -x /usr/lib/wine/wine ]; then
    preset=win32 build_name="the 32-bit product under 32-bit Wine"
  else
    preset=win64 build_name="the 64-bit build under 64-bit Wine (this machine cannot execute 32-bit code)"
  fi
}

winpath() { echo "Z:${1//\//\\}"; }

lay_out_samples() {
  local work=$1 plugin=${2:-build/$preset/Feedlet.qvlp} port
  cp -r samples/. "$work/"
  cp "$plugin" "$work/Plugins/Feedlet.qvlp"
  port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
  python3 -m http.server "$port" --bind 127.0.0.1 --directory "$work/feeds" >/dev/null 2>&1 &
  server_pid=$!
  for _ in $(seq 50); do
    python3 -c "import socket; socket.create_connection(('127.0.0.1',$port),1)" 2>/dev/null && break
    sleep 0.1
  done
  feeds_url="http://127.0.0.1:$port/"
  # The INI files are code page 932, so the placeholders are replaced as bytes.
  python3 - "$work/Plugins/Feedlet/RSS.ini" "$(winpath "$work/feeds/")" "$feeds_url" <<'PY'
import sys
path, feeds, http = sys.argv[1], sys.argv[2].encode(), sys.argv[3].encode()
data = open(path, 'rb').read().replace(b'@FEEDS@', feeds).replace(b'@HTTP@', http)
open(path, 'wb').write(data)
PY
  plugin_path=$(winpath "$work/Plugins/Feedlet.qvlp")
}
