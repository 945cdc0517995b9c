#!/usr/bin/env python3
"""Writes the texts of the release archive into one folder, each in code page
932 with CRLF line ends, as Notepad on a Japanese Windows reads them:

  Feedlet.txt   the user's guide, from Feedlet.txt.in, with its format token
                list made from the plugin's own token table
  LICENSE.txt   the licence
  CHANGES.txt   the changes

The token table comes from `feedlet-tool tokens` (the command after "--"),
which prints "%NAME<TAB>DESCRIPTION<TAB>EXAMPLE" per token in matching order,
so the guide lists exactly what the plugin understands. A character that
code page 932 cannot hold, or a guide line wider than a Notepad window, is an
error naming the line.

  make_texts.py --out DIR --version V --homepage URL --guide FILE
                --licence FILE --changes FILE -- TOKENS-COMMAND...
"""
import argparse
import subprocess
import sys

# Columns of a guide line (code page 932 bytes: a full-width character takes
# two columns, as in a Japanese fixed-width font).
GUIDE_WIDTH = 78
TOKEN_COLUMN = 17  # where a token's description and example begin


def columns(line):
    return len(line.encode("cp932"))


def token_rows(command):
    """(name, description, example) of every token, in matching order."""
    out = subprocess.run(command, check=True, stdout=subprocess.PIPE).stdout.decode("utf-8")
    rows = []
    for line in out.splitlines():
        line = line.rstrip("\r")
        if not line:
            continue
        fields = line.split("\t")
        if len(fields) != 3 or not fields[0].startswith("%"):
            sys.exit(f"make_texts: unexpected token line {line!r}")
        rows.append(tuple(fields))
    if not rows:
        sys.exit("make_texts: the token command printed no tokens")
    return rows


def token_table(rows):
    """The guide's token list: the token and its description on one line,
    its example on the next, under a heading."""
    lines = ["  トークン" + " " * (TOKEN_COLUMN - 10) + "説明／表示例",
             "  " + "─" * 36]
    for name, description, example in rows:
        lines.append("  " + name.ljust(TOKEN_COLUMN - 2) + description)
        lines.append(" " * TOKEN_COLUMN + "例）" + example)
    return lines


def encode(lines, path, width=None):
    """The lines in code page 932 with CRLF; exits naming the first line that
    cannot be encoded or is too wide."""
    out = bytearray()
    for number, line in enumerate(lines, 1):
        try:
            data = line.encode("cp932")
        except UnicodeEncodeError as error:
            sys.exit(f"{path}:{number}: {line[error.start:error.end]!r} is not in code page 932: {line}")
        if width is not None and len(data) > width:
            sys.exit(f"{path}:{number}: {len(data)} columns, more than {width}: {line}")
        out += data + b"\r\n"
    return bytes(out)


def read_lines(path):
    with open(path, encoding="utf-8") as f:
        return f.read().splitlines()


def guide_lines(template, version, homepage, rows):
    lines = []
    for line in read_lines(template):
        if line.strip() == "@FORMAT_TOKENS@":
            lines += token_table(rows)
        else:
            lines.append(line.replace("@VERSION@", version).replace("@HOMEPAGE@", homepage))
    return lines


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--out", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--homepage", required=True)
    parser.add_argument("--guide", required=True)
    parser.add_argument("--licence", required=True)
    parser.add_argument("--changes", required=True)
    parser.add_argument("tokens_command", nargs="+")
    args = parser.parse_args()

    rows = token_rows(args.tokens_command)
    texts = {
        "Feedlet.txt": encode(guide_lines(args.guide, args.version, args.homepage, rows),
                              args.guide, GUIDE_WIDTH),
        "LICENSE.txt": encode(read_lines(args.licence), args.licence),
        "CHANGES.txt": encode(read_lines(args.changes), args.changes),
    }
    for name, data in texts.items():
        with open(f"{args.out}/{name}", "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
