#!/bin/sh
# make_seeds.sh OUTDIR: a fresh seed corpus for every fuzz target, in
# OUTDIR/<target>. The text seeds are made from the shipped texts, so they
# follow every change to them.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
out=$1
mkdir -p "$out/check" "$out/text" "$out/options"
cp "$here/corpus/check/"* "$out/check/"

# Text: u16 language id, u8 key, u16 buffer size, u8 status choice, file bytes.
ini="$out/Update.ini"
sh "$top/res/texts/make_ini.sh" "$top/res/texts/Update.ini.txt" "$ini"
n=0
for head in '\011\004\002\000\002\001' '\021\004\012\000\001\003' '\004\174\000\015\000\000' \
            '\004\010\013\024\000\006' '\026\004\007\000\002\002'; do
  n=$((n + 1))
  { printf "$head"; cat "$ini"; } >"$out/text/shipped-$n"
  { printf "$head"; cat "$top/res/texts/Update.ini.txt"; } >"$out/text/utf8-$n"
done
{ printf '\011\004\002\000\002\001'; tail -c +3 "$ini"; } >"$out/text/utf16-without-bom"
rm -f "$ini"

# Options: the argument vector as the runtime hands it over ("|" between
# arguments here), as UTF-16LE with a zero unit after each argument.
for line in '/s' '/c' '/?' '/s|/?' '/downgradable|/LID:411' '/s|/l=C:\logs\tbt.log' \
            '/s|/l=C:\logs\tbt update.log' '/s|/l=C:\logs\a b" /c' '/s|/check' '/LID:7C04|/c|/downgradable'; do
  n=$((n + 1))
  printf '%s\n' "$line" | tr '|' '\n' | while IFS= read -r arg; do
    printf '%s' "$arg" | iconv -f UTF-8 -t UTF-16LE
    printf '\000\000'
  done >"$out/options/readme-$n"
done
