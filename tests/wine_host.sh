#!/usr/bin/env bash
# The plugin in the real host shape, under Wine: qvhost loads Feedlet.qvlp
# from a host folder whose names end in double-byte characters with a 0x5C
# trail byte (ソ\表\Feedlet.qvlp, the host data file in ソ\), against a local
# HTTP server. Usage: wine_host.sh MODE QVHOST PLUGIN [QVSHOOT] (the window
# mode drives the window with qvshoot), where MODE is
#   lifecycle  Init starts the fetches (one fast, one held back 12 s by the
#              server); the texts are read while the slow fetch runs; Free
#              returns only after that fetch has ended; the host data file's
#              zone is found above the plugin folder.
#   exit       the host ends with ExitProcess while a fetch stalls, without
#              Free: the process must end promptly.
#   reload     load, Init, Free and unload right after a burst of fetches,
#              many times: no plugin thread may outlive the unload.
#   retry      the network is not there when the host starts: the start-up
#              fetch fails, the server answers from 40 s after that, and the
#              feed is shown after the first retry (60 s), not an interval
#              (30 minutes) later.
#   cycle      Init, every text, Free, 30 times in one loaded copy, the tray
#              icon and its menu on: every cycle gives the first one's texts.
#   window     a person's round trip in qvhost's clock window, driven by
#              qvshoot: its right-click menu opens an article setting's
#              dialog, the format is changed, OK; the window's line and
#              Setting.ini follow.
set -euo pipefail
mode=$1
qvhost=$2
plugin=$3
qvshoot=${4:-}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
server_pid=""
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "wine_host $mode: $*" >&2; exit 1; }

host="$work/ソ"
plugins="$host/表"
mkdir -p "$plugins/Feedlet"
cp "$plugin" "$plugins/Feedlet.qvlp"
plugin_path="Z:${plugins//\//\\}\\Feedlet.qvlp"

# /slow.xml answers after 12 s, /stall.xml after 120 s; every path is logged
# when its answer has been sent.
cat > "$work/server.py" <<'PY'
import http.server, sys, time
FEED = (b'<?xml version="1.0"?><rss version="2.0"><channel><title>%s</title>'
        b'<lastBuildDate>Mon, 07 Dec 2026 00:00:00 GMT</lastBuildDate>'
        b'<item><title>one</title></item></channel></rss>')
first_late = []
class Handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        if self.path == '/late.xml':
            # No answer (the connection just closes) for 40 s after the
            # first request: a network that is not up yet.
            now = time.time()
            first_late[:1] = first_late[:1] or [now]
            if now - first_late[0] < 40:
                with open(sys.argv[2], 'a') as log:
                    log.write('%s-refused %.3f\n' % (self.path, now))
                self.close_connection = True
                return
        if self.path == '/slow.xml':
            time.sleep(12)
        if self.path == '/stall.xml':
            time.sleep(120)
        body = FEED % self.path.encode()
        try:
            self.send_response(200)
            self.send_header('Content-Length', str(len(body)))
            self.end_headers()
            self.wfile.write(body)
            self.wfile.flush()
        except OSError:
            pass
        with open(sys.argv[2], 'a') as log:
            log.write('%s %.3f\n' % (self.path, time.time()))
    def log_message(self, *args):
        pass
server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), Handler)
server.daemon_threads = True
open(sys.argv[1], 'w').write(str(server.server_address[1]))
server.serve_forever()
PY
python3 "$work/server.py" "$work/port" "$work/served.log" &
server_pid=$!
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.05; done
[ -s "$work/port" ] || fail "the test server did not start"
port=$(cat "$work/port")
: > "$work/served.log"

run_qvhost() { "$here/../scripts/wine-run" "$qvhost" --plugin "$plugin_path" "$@"; }

case "$mode" in
lifecycle)
  printf '[RSS000]\r\nURL=http://127.0.0.1:%s/fast.xml\r\nRSSName=fast\r\n[RSS001]\r\nURL=http://127.0.0.1:%s/slow.xml\r\nRSSName=slow\r\n' \
    "$port" "$port" > "$plugins/Feedlet/RSS.ini"
  # The host data file (code page 932) has one zone, +05:30 (インド).
  printf '[TimeZone001]\r\nSName=IST\r\nName=\x83C\x83\x93\x83h\r\nHour=5\r\nMinute=30\r\n' > "$host/QVL_Data.ini"
  # Info002 has no section (default name 設定003); Info003 shows the fast
  # feed's date in the host's zone; Item000 has a code page 932 name
  # (記事一覧) and shows the fast feed's article.
  printf '[Main]\r\nInfoNum=4\r\nItemNum=1\r\nFlag=0x0\r\n[Info000]\r\nName=fast\r\nTarget=fast\r\nFormat=%%title\r\n[Info001]\r\nName=slow\r\nTarget=slow\r\nFormat=%%title\r\n[Info003]\r\nName=zone\r\nTarget=fast\r\nFormat=%%hh:%%nn\r\nTimeZone=IST\r\n[Item000]\r\nName=\x8bL\x8e\x96\x88\xea\x97\x97\r\nTarget=fast\r\nFormat="* %%title"\r\n' \
    > "$plugins/Feedlet/Setting.ini"

  output=$(run_qvhost --wait 4 print)
  finished=$(python3 -c 'import time; print("%.3f" % time.time())')
  echo "$output"
  grep -q $'^1\t1\tfast\t/fast.xml$' <<<"$output" || fail "the fast feed's title is missing"
  grep -q $'^1\t2\tslow\t$' <<<"$output" || fail "the slow feed should show nothing while it is fetched"
  grep -q $'^1\t3\t設定003\t$' <<<"$output" || fail "a setting without a section is named by default"
  grep -q $'^1\t4\tzone\t05:30$' <<<"$output" || fail "the zone of the host data file above the plugin folder was not used"
  grep -q $'^2\t1\t記事一覧\t\\* one$' <<<"$output" || fail "the code page 932 name or the article is missing"
  [ "$(wc -l <<<"$output")" -eq 5 ] || fail "expected one line per setting (4 + 1)"
  slow_done=$(awk '$1=="/slow.xml"{print $2}' "$work/served.log")
  [ -n "$slow_done" ] || fail "qvhost ended before the slow fetch was answered"
  python3 -c "import sys; sys.exit(0 if $slow_done <= $finished else 1)" || fail "Free returned before the slow fetch ended"
  echo "wine_host lifecycle: Free returned after the slow fetch ended"
  ;;
exit)
  printf '[RSS000]\r\nURL=http://127.0.0.1:%s/stall.xml\r\nRSSName=stall\r\n[RSS001]\r\nURL=http://127.0.0.1:%s/fast.xml\r\nRSSName=fast\r\n' \
    "$port" "$port" > "$plugins/Feedlet/RSS.ini"
  printf '[Main]\r\nInfoNum=1\r\nItemNum=1\r\n' > "$plugins/Feedlet/Setting.ini"
  # The stalled fetch would hold the exit for ever if anything waited for
  # it; 60 s is far beyond a prompt exit and far below the stall.
  status=0
  output=$(timeout 60 "$here/../scripts/wine-run" "$qvhost" --plugin "$plugin_path" --wait 2 exit) || status=$?
  echo "$output"
  [ "$status" -ne 124 ] || fail "the host did not exit while a fetch stalled (killed after 60 s)"
  [ "$status" -eq 0 ] || fail "qvhost exited with status $status"
  grep -q '^exiting without Free$' <<<"$output" || fail "qvhost did not reach its exit"
  grep -q '^/stall.xml' "$work/served.log" && fail "the stalled fetch was answered before the host ended"
  echo "wine_host exit: the host ended while its fetch stalled"
  ;;
reload)
  # Eight feeds answered at once: a burst of workers ending around Free.
  : > "$plugins/Feedlet/RSS.ini"
  for i in 0 1 2 3 4 5 6 7; do
    printf '[RSS%03d]\r\nURL=http://127.0.0.1:%s/feed%d.xml\r\nRSSName=feed%d\r\n' "$i" "$port" "$i" "$i" >> "$plugins/Feedlet/RSS.ini"
  done
  printf '[Main]\r\nInfoNum=1\r\nItemNum=1\r\n' > "$plugins/Feedlet/Setting.ini"
  output=$(timeout 300 "$here/../scripts/wine-run" "$qvhost" --plugin "$plugin_path" --wait 0.05 reload 40)
  echo "$output"
  grep -q '^reloaded 40 times$' <<<"$output" || fail "the reload cycles did not all complete"
  served=$(wc -l < "$work/served.log")
  [ "$served" -ge 40 ] || fail "only $served fetches were answered: the bursts did not run"
  echo "wine_host reload: 40 cycles, $served fetches answered"
  ;;
retry)
  printf '[RSS000]\r\nURL=http://127.0.0.1:%s/late.xml\r\nRSSName=late\r\nInterval=1800\r\n' "$port" > "$plugins/Feedlet/RSS.ini"
  printf '[Main]\r\nInfoNum=1\r\nItemNum=0\r\nFlag=0x0\r\n[Info000]\r\nName=late\r\nTarget=late\r\nFormat=%%title\r\n' \
    > "$plugins/Feedlet/Setting.ini"
  output=$(timeout 180 "$here/../scripts/wine-run" "$qvhost" --plugin "$plugin_path" --wait 150 --until-shown print)
  echo "$output"
  grep -q $'^1\t1\tlate\t/late.xml$' <<<"$output" || fail "the feed was not shown after its server came back"
  refused=$(awk '$1=="/late.xml-refused"{print $2}' "$work/served.log" | head -1)
  served=$(awk '$1=="/late.xml"{print $2}' "$work/served.log" | head -1)
  [ -n "$refused" ] || fail "the start-up fetch was not refused"
  [ -n "$served" ] || fail "the feed was never served"
  gap=$(python3 -c "print('%.0f' % ($served - $refused))")
  # The first retry comes at the second schedule walk, 60 s after start-up.
  python3 -c "import sys; sys.exit(0 if 55 <= $gap <= 95 else 1)" || fail "the retry came $gap s after the failure"
  echo "wine_host retry: refused at start-up, shown ${gap} s later by the first retry"
  ;;
cycle)
  # One feed over HTTP, one from a file (its name 町 in code page 932).
  printf '<?xml version="1.0" encoding="utf-8"?><rss version="2.0"><channel><title>町だより</title><item><title>朝市</title><pubDate>Mon, 07 Dec 2026 01:00:00 GMT</pubDate></item></channel></rss>' \
    > "$work/town.xml"
  printf '[RSS000]\r\nURL=http://127.0.0.1:%s/fast.xml\r\nRSSName=fast\r\n[RSS001]\r\nURL=%s\r\nRSSName=\x92\xac\r\n' \
    "$port" "Z:${work//\//\\}\\town.xml" > "$plugins/Feedlet/RSS.ini"
  printf '[TimeZone001]\r\nSName=TYO\r\nName=TYO\r\nHour=9\r\n' > "$host/QVL_Data.ini"
  printf '[Main]\r\nInfoNum=2\r\nItemNum=1\r\nFlag=0x1\r\nMenuTimeZone=TYO\r\n[Info000]\r\nName=fast\r\nTarget=fast\r\nFormat=%%title\r\n[Info001]\r\nName=town\r\nTarget=\x92\xac\r\nFormat=%%title\r\n[Item000]\r\nName=article\r\nTarget=\x92\xac\r\nFormat="%%hh:%%nn %%title"\r\nTimeZone=TYO\r\n' \
    > "$plugins/Feedlet/Setting.ini"
  output=$(timeout 300 "$here/../scripts/wine-run" "$qvhost" --plugin "$plugin_path" --wait 2 cycle 30)
  echo "$output"
  grep -q $'^1\t1\tfast\t/fast.xml$' <<<"$output" || fail "the fast feed's title is missing"
  grep -q $'^1\t2\ttown\t町だより$' <<<"$output" || fail "the file feed's title is missing"
  grep -q $'^2\t1\tarticle\t10:00 朝市$' <<<"$output" || fail "the article in the setting's zone is missing"
  grep -q '^cycled 30 times, the same 3 texts each time$' <<<"$output" || fail "the cycles did not all give the same texts"
  served=$(grep -c '^/fast.xml' "$work/served.log")
  [ "$served" -ge 30 ] || fail "only $served fetches were answered: each Init should fetch once"
  echo "wine_host cycle: 30 cycles in one loaded copy, the same texts each time"
  ;;
window)
  printf '[RSS000]\r\nURL=http://127.0.0.1:%s/fast.xml\r\nRSSName=fast\r\n' "$port" > "$plugins/Feedlet/RSS.ini"
  # Every setting shows the feed, so the start-up wait ends once it came.
  printf '[Main]\r\nInfoNum=1\r\nItemNum=1\r\nFlag=0x0\r\n[Info000]\r\nName=feed\r\nTarget=fast\r\nFormat=%%title\r\n[Item000]\r\nName=latest\r\nTarget=fast\r\nFormat="%%title"\r\n' \
    > "$plugins/Feedlet/Setting.ini"
  [ -n "$qvshoot" ] || fail "qvshoot is needed"
  output=$(timeout 120 "$here/../scripts/wine-run" "$qvshoot" --plugin "$plugin_path" --wait 30 window-edit \
    "Z:${work//\//\\}\\edit.bmp")
  echo "$output"
  grep -q $'^before\tlatest\tone$' <<<"$output" || fail "the window did not show the setting's line"
  grep -q $'^after\tlatest\tedited: one$' <<<"$output" || fail "the window's line did not follow the dialog's OK"
  grep -q '^Format="edited: %title"' "$plugins/Feedlet/Setting.ini" || fail "Setting.ini did not get the new format"
  [ -s "$work/edit.bmp" ] || fail "the window was not captured"
  echo "wine_host window: the dialog opened from the window's menu changed its line"
  ;;
*)
  fail "unknown mode"
  ;;
esac
