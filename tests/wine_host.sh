#!/usr/bin/env bash
# The plugin's lifecycle in the real host shape, under Wine: qvhost loads
# Feedlet.qvlp, Init starts the fetches (one fast, one held back by the server),
# the texts are read while the slow fetch runs, and Free must return only
# after that fetch has ended. Usage: wine_lifecycle.sh QVHOST PLUGIN
set -euo pipefail
qvhost=$1
plugin=$2
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
server_pid=""
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/Plugins/Feedlet"
cp "$plugin" "$work/Plugins/Feedlet.qvlp"

# A server whose /slow.xml answers only after 12 seconds, logging when it is done.
cat > "$work/server.py" <<'PY'
import http.server, sys, time
FEED = b'<?xml version="1.0"?><rss version="2.0"><channel><title>%s</title><item><title>one</title></item></channel></rss>'
class Handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        if self.path == '/slow.xml':
            time.sleep(12)
        body = FEED % self.path.encode()
        self.send_response(200)
        self.send_header('Content-Length', str(len(body)))
        self.end_headers()
        self.wfile.write(body)
        self.wfile.flush()
        with open(sys.argv[2], 'a') as log:
            log.write('%s %.3f\n' % (self.path, time.time()))
    def log_message(self, *args):
        pass
server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), Handler)
open(sys.argv[1], 'w').write(str(server.server_address[1]))
server.serve_forever()
PY
python3 "$work/server.py" "$work/port" "$work/served.log" &
server_pid=$!
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.05; done
port=$(cat "$work/port")

printf '[RSS000]\r\nURL=http://127.0.0.1:%s/fast.xml\r\nRSSName=fast\r\n[RSS001]\r\nURL=http://127.0.0.1:%s/slow.xml\r\nRSSName=slow\r\n' \
  "$port" "$port" > "$work/Plugins/Feedlet/RSS.ini"
# Info002 has no section (default name 設定003); Item000 has a code page 932
# name (記事一覧) and shows the fast feed's article.
printf '[Main]\r\nInfoNum=3\r\nItemNum=1\r\nFlag=0x0\r\n[Info000]\r\nName=fast\r\nTarget=fast\r\nFormat=%%title\r\n[Info001]\r\nName=slow\r\nTarget=slow\r\nFormat=%%title\r\n[Item000]\r\nName=\x8bL\x8e\x96\x88\xea\x97\x97\r\nTarget=fast\r\nFormat="* %%title"\r\n' \
  > "$work/Plugins/Feedlet/Setting.ini"

output=$("$here/../scripts/wine-run" "$qvhost" --plugin "Z:${work//\//\\}\\Plugins\\Feedlet.qvlp" --wait 4 print)
finished=$(python3 -c 'import time; print("%.3f" % time.time())')
echo "$output"

fail() { echo "wine_lifecycle: $*" >&2; exit 1; }
grep -q $'^1\t1\tfast\t/fast.xml$' <<<"$output" || fail "the fast feed's title is missing"
grep -q $'^1\t2\tslow\t$' <<<"$output" || fail "the slow feed should show nothing while it is fetched"
grep -q $'^1\t3\t設定003\t$' <<<"$output" || fail "a setting without a section is named by default"
grep -q $'^2\t1\t記事一覧\t\\* one$' <<<"$output" || fail "the code page 932 name or the article is missing"
[ "$(wc -l <<<"$output")" -eq 4 ] || fail "expected one line per setting (3 + 1)"
slow_done=$(awk '$1=="/slow.xml"{print $2}' "$work/served.log")
[ -n "$slow_done" ] || fail "qvhost ended before the slow fetch was answered"
python3 -c "import sys; sys.exit(0 if $slow_done <= $finished else 1)" || fail "Free returned before the slow fetch ended"
echo "wine_lifecycle: Free returned after the slow fetch ended"
