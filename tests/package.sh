#!/usr/bin/env bash
# The release archive as a user gets it. scripts/package runs in two clean
# clones of HEAD at different paths (the second one's path long and
# Japanese); then:
#   - both give the same archive and DLL bytes, and the SHA-256 and size the
#     script prints are the archive's;
#   - the archive holds Feedlet.qvlp, Feedlet.txt, LICENSE.txt and
#     CHANGES.txt in that order, stamped with the commit's time, with DOS
#     attributes;
#   - the DLL passes check-dll, is stripped and has no link time;
#   - installed as the guide says (Feedlet.qvlp copied into the Plugins
#     folder of a host folder laid out from samples/, whose QVL_Data.ini and
#     INI files it uses), the 32-bit qvhost prints every display setting's
#     line from it under Wine;
#   - its version resource, read with GetFileVersionInfoW, has every field,
#     with the version of CMakeLists.txt, the commit count as build number
#     and PluginInfo's copyright and home page;
#   - the guide, licence and changes are code page 932 with CRLF line ends,
#     and the guide's token list is the plugin's (feedlet-tool tokens).
# What is packaged is HEAD: uncommitted changes are not in the clones.
#   package.sh SOURCE QVHOST FEEDLET_TOOL
set -euo pipefail
source=$1
qvhost=$2
tool=$3
work=$(mktemp -d)
server_pid=""
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "package: $*" >&2; exit 1; }

git -C "$source" rev-parse --git-dir >/dev/null 2>&1 || fail "$source is not a git checkout: nothing to clone"
commit=$(LC_ALL=C git -C "$source" rev-parse HEAD)
# The clones' 32-bit Wine runs use the tests' prefix instead of making one
# each.
export WINEPREFIX32="${WINEPREFIX32:-$source/build/wineprefix32}"

clone_a="$work/a/Feedlet"
clone_b="$work/b/もう一つの/とても長い名前のフォルダー/Feedlet"
for clone in "$clone_a" "$clone_b"; do
  mkdir -p "$(dirname "$clone")"
  git clone -q --no-hardlinks "$source" "$clone"
  git -C "$clone" checkout -q --detach "$commit"
  (cd "$clone" && scripts/package) > "$clone.out" || fail "scripts/package failed in $clone"
  cat "$clone.out"
done

# One archive, byte for byte, wherever it was built.
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$clone_a/build/win32-release/CMakeCache.txt")
[ -n "$version" ] || fail "no project version in the release build"
archive_a="$clone_a/dist/Feedlet-$version.zip"
archive_b="$clone_b/dist/Feedlet-$version.zip"
cmp "$archive_a" "$archive_b" || fail "the two clones' archives differ"
cmp "$clone_a/build/win32-release/Feedlet.qvlp" "$clone_b/build/win32-release/Feedlet.qvlp" ||
  fail "the two clones' DLLs differ"
sha=$(LC_ALL=C sha256sum "$archive_a" | cut -d' ' -f1)
grep -qx "sha256:  $sha" "$clone_a.out" || fail "the printed SHA-256 is not the archive's ($sha)"
grep -qx "size:    $(LC_ALL=C stat -c %s "$archive_a") bytes" "$clone_a.out" || fail "the printed size is not the archive's"
grep -qx "archive: dist/Feedlet-$version.zip" "$clone_a.out" || fail "the printed path is not the archive's"
echo "package: both clones give $sha"

# The archive's members, their order, time stamps and attributes.
commit_time=$(LC_ALL=C git -C "$source" log -1 --format=%ct "$commit")
python3 - "$archive_a" "$commit_time" <<'PY' || fail "the archive's members are not as shipped"
import sys, time, zipfile
archive, when = sys.argv[1], int(sys.argv[2])
members = zipfile.ZipFile(archive).infolist()
names = [m.filename for m in members]
expected = ["Feedlet.qvlp", "Feedlet.txt", "LICENSE.txt", "CHANGES.txt"]
if names != expected:
    sys.exit(f"members {names}, expected {expected}")
# A zip time counts seconds in twos.
commit = time.gmtime(when)[:6]
stamp = commit[:5] + (commit[5] // 2 * 2,)
for m in members:
    if m.date_time != stamp:
        sys.exit(f"{m.filename} is stamped {m.date_time}, the commit {commit}")
    if m.create_system != 0 or m.external_attr != 0x20:
        sys.exit(f"{m.filename}: system {m.create_system}, attributes {m.external_attr:#x}")
PY

unpacked="$work/download"
mkdir -p "$unpacked"
(cd "$unpacked" && unzip -q "$archive_a")
dll="$unpacked/Feedlet.qvlp"

# The shipped DLL: its structure, no symbols, no link time.
"$source/scripts/check-dll" "$dll"
python3 - "$dll" <<'PY' || fail "the shipped DLL is not stripped or carries a link time"
import struct, sys
data = open(sys.argv[1], "rb").read()
pe = struct.unpack_from("<I", data, 60)[0]
stamp, symbols, symbol_count = struct.unpack_from("<III", data, pe + 8)
if stamp != 0:
    sys.exit(f"link time {stamp} in the PE header")
if symbols != 0 or symbol_count != 0:
    sys.exit(f"a symbol table of {symbol_count} entries")
sections = struct.unpack_from("<H", data, pe + 6)[0]
optional = struct.unpack_from("<H", data, pe + 20)[0]
for i in range(sections):
    name = data[pe + 24 + optional + 40 * i: pe + 24 + optional + 40 * i + 8].rstrip(b"\0")
    if name.startswith(b".debug") or name.startswith(b"/"):
        sys.exit(f"section {name!r}: debug information")
PY

# Installed as the guide says, in a host folder laid out from the samples.
host="$work/host"
mkdir -p "$host"
cd "$clone_a"
. scripts/lib/samples.sh
lay_out_samples "$host" "$dll"
cmp "$dll" "$host/Plugins/Feedlet.qvlp" >/dev/null || fail "the plugin was not copied into Plugins"
run_qvhost() { "$source/scripts/wine-run" "$qvhost" --plugin "$plugin_path" "$@"; }
# Every display setting of the samples (3 feed information, 5 article
# settings, "F|S|name|piece") with a piece of the text it must show once
# the feeds (two files, one over HTTP) are in; the last one shows articles
# of the past year, so what it shows depends on the date.
expected=(
  '1|1|町だより見出し|みなと町だより ― '
  '1|2|鉄道の更新時刻|鉄道運行ニュース 最終更新 '
  '1|3|ブログ（著作権なし）|開発者ブログ'
  '2|1|最新の運行情報|] 【運転再開】北線は平常どおり運転しています'
  '2|2|鉄道3件| ／ '
  '2|3|町の全記事（ニューヨーク時間）|冬の灯りまつり、今週末に開催'
  '2|4|ブログ全記事（フィードの時間帯）|UTF-8 の 4 バイト文字 😀 にも対応しました'
  '2|5|新しい記事（経過時間）|'
)
# The fetches take a moment: print again until every line is in, a bounded
# number of times.
missing=()
for attempt in 1 2 3 4 5 6; do
  output=$(run_qvhost --wait 2 print)
  missing=()
  for entry in "${expected[@]}"; do
    IFS='|' read -r f s name piece <<<"$entry"
    start="$f"$'\t'"$s"$'\t'"$name"$'\t'
    line=$(grep -F -m1 -- "$start" <<<"$output" || true)
    [[ "$line" == "$start"* && "${line#"$start"}" == *"$piece"* ]] || missing+=("$entry")
  done
  [ ${#missing[@]} -eq 0 ] && break
  echo "package: attempt $attempt: ${#missing[@]} lines not there yet"
done
echo "$output"
[ ${#missing[@]} -eq 0 ] || fail "lines missing from the installed plugin's output: ${missing[*]}"
[ "$(wc -l <<<"$output")" -eq 8 ] || fail "expected one line per display setting (3 + 5)"
echo "package: the installed plugin printed every display setting"

# The version resource against CMakeLists.txt's version, the commit count
# and PluginInfo.
build=$(LC_ALL=C git -C "$clone_a" rev-list --count HEAD)
info=$(run_qvhost info)
field() { sed -n "s/^$1\t//p" <<<"$2"; }
[ "$(field plugin.version "$info")" = "$version" ] || fail "PluginInfo's version is not $version"
copyright=$(field plugin.copyright "$info")
homepage=$(field plugin.url "$info")
[ -n "$copyright" ] && [ -n "$homepage" ] || fail "PluginInfo has no copyright or home page"
actual=$(run_qvhost version)
wanted=$(printf '%s\n' \
  "fixed.file	$version.$build" \
  "fixed.product	$version.$build" \
  "fixed.flags	0x0" \
  "fixed.os	0x40004" \
  "fixed.type	2" \
  "translation	0411 932" \
  "FileDescription	RSS情報取得プラグイン" \
  "FileVersion	$version.$build" \
  "ProductName	Feedlet" \
  "ProductVersion	$version.$build" \
  "LegalCopyright	$copyright" \
  "CompanyName	The Feedlet developers" \
  "OriginalFilename	Feedlet.qvlp" \
  "InternalName	Feedlet" \
  "Comments	$homepage")
[ "$actual" = "$wanted" ] || fail "the version resource is
$actual
expected
$wanted"
echo "package: version resource $version.$build"

# The texts: code page 932 with CRLF; the guide's token list is the
# plugin's own table with the examples its code gives.
"$source/scripts/wine-run" "$tool" tokens > "$work/tokens.txt"
python3 - "$unpacked" "$work/tokens.txt" <<'PY' || fail "the texts are not as shipped"
import re, sys
folder = sys.argv[1]
for name in ("Feedlet.txt", "LICENSE.txt", "CHANGES.txt"):
    data = open(f"{folder}/{name}", "rb").read()
    try:
        text = data.decode("cp932")
    except UnicodeDecodeError as error:
        sys.exit(f"{name}: not code page 932 at byte {error.start}")
    if not data.endswith(b"\r\n") or data.count(b"\n") != data.count(b"\r\n") or data.count(b"\r") != data.count(b"\r\n"):
        sys.exit(f"{name}: line ends are not all CRLF")
guide = open(f"{folder}/Feedlet.txt", "rb").read().decode("cp932").split("\r\n")
listed = []
for i, line in enumerate(guide):
    m = re.fullmatch(r"  (%\S+) +(\S.*)", line)
    if m and i + 1 < len(guide):
        example = re.fullmatch(r" +例）(.*)", guide[i + 1])
        if example:
            listed.append((m.group(1), m.group(2), example.group(1)))
tokens = open(sys.argv[2], "rb").read().decode("utf-8")
plugin = [tuple(line.rstrip("\r").split("\t")) for line in tokens.splitlines() if line.strip()]
if len(plugin) != 20:
    sys.exit(f"feedlet-tool tokens printed {len(plugin)} tokens")
if listed != plugin:
    sys.exit("the guide's tokens differ from the plugin's:\n" + "\n".join(
        f"  guide {a}\n  tool  {b}" for a, b in zip(listed + [None] * 20, plugin) if a != b))
if not open(f"{folder}/LICENSE.txt", "rb").read().startswith(b"MIT License\r\n"):
    sys.exit("LICENSE.txt is not the MIT licence")
PY
echo "package: the guide lists the plugin's 20 tokens; the texts are code page 932 with CRLF"
