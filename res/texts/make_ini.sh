#!/bin/sh
# make_ini.sh SOURCE OUTPUT
# Writes the UTF-8 text source as the shipped Update.ini: UTF-16LE with a byte
# order mark and CRLF line ends, the encoding the Windows profile reader reads
# correctly for every language. Comment lines (";") are dropped. iconv refuses
# a source that is not valid UTF-8, which fails the build.
set -eu
src=$1
out=$2
tmp="$out.tmp"
[ -r "$src" ] || { echo "make_ini.sh: cannot read $src" >&2; exit 1; }
mkdir -p "$(dirname "$out")"
{ printf '\357\273\277'; sed -e '/^[[:space:]]*;/d' -e 's/\r*$/\r/' "$src"; } | iconv -f UTF-8 -t UTF-16LE >"$tmp"
mv -f "$tmp" "$out"
