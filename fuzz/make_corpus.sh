#!/usr/bin/env bash
# Writes the seed corpora of the fuzz targets into fuzz/corpus/<target>/ from
# the demo's sample files and configuration records like those the tests
# use. Needs a built kranzel-ini (first argument, default build/kranzel-ini)
# and the kranzel beside it, whose usage text lists the file types in the
# order of their table. The seeds are committed; run this again when a record
# layout or the table of file types changes.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
ini_tool="${1:-$root/build/kranzel-ini}"
kranzel="$(dirname "$ini_tool")/kranzel"
corpus="$root/fuzz/corpus"
# The seeds written here are overwritten; seeds added by hand (the inputs of
# past findings, such as fuzz_import/sld-tswamp-207-leading-blank) stay.
mkdir -p "$corpus"/{fuzz_import,fuzz_text_reader,fuzz_ini,fuzz_cipher}

pad() { printf "%-${1}.${1}s" "$2"; }
# The 35P sample prepares the demo database through the stand-in's tool;
# here a no-op takes its place.
BIN="$(mktemp -d)" DEMO="$BIN"
trap 'rm -rf "$BIN"' EXIT
mkdir -p "$BIN/standin"
printf '#!/bin/sh\n' >"$BIN/standin/kranzel-standin"
chmod +x "$BIN/standin/kranzel-standin"
# shellcheck source=../scripts/demo_samples.sh
source "$root/scripts/demo_samples.sh"

# fuzz_import: byte 0 the file type (its place in the table of file types,
# read from the usage text's "Dateityp" lines), byte 1 the flags, bytes 2-9
# the sink's answers, then the file. A type without demo samples gets no
# seeds.
mapfile -t types < <("$kranzel" | tr -d '\r' |
  sed -n 's/^\(Dateityp  : \|            \)\([0-9A-Za-z]\{3\}\) .*/\2/p' | tr '[:lower:]' '[:upper:]')
[ ${#types[@]} -gt 0 ] || { echo "make_corpus.sh: no file types in the usage text of $kranzel" >&2; exit 1; }
for i in "${!types[@]}"; do
  t="${types[$i]}"
  if ! declare -F "sample_${t}_1" >/dev/null; then
    echo "make_corpus.sh: no demo samples of $t in scripts/demo_samples.sh, no seeds for it" >&2
    continue
  fi
  byte=$(printf '\\%03o' "$i")
  # Every UPDATE answered "no row", so every INSERT is formatted too.
  { printf "$byte"'\000\001\001\001\001\001\001\001\001'; "sample_${t}_1"; } >"$corpus/fuzz_import/${t}_1"
  # "UPD", MYSQL; rows found, then "no row", then an error.
  { printf "$byte"'\003\000\001\000\001\003\001\006\001'; "sample_${t}_2"; } >"$corpus/fuzz_import/${t}_2"
  # The same lines with CR LF line ends and an apostrophe in every field
  # that begins with a letter.
  { printf "$byte"'\000\001\001\001\001\001\001\001\001'; "sample_${t}_1" | sed "s/\([A-Za-z]\)\([A-Za-z]\)/\1'\2/; s/\$/\r/"; } \
    >"$corpus/fuzz_import/${t}_quoted"
done

# fuzz_text_reader: byte 0 seeds the read limits.
printf '\001%s' "$(sample_20P_1)" >"$corpus/fuzz_text_reader/lines"
printf '\002a\r\nb\r\r\nc\rd\000e\nf\032g\n' >"$corpus/fuzz_text_reader/crlf_nul_ctrlz"
printf '\003\n\n\r\n%0300d\n' 0 >"$corpus/fuzz_text_reader/empty_and_long"

# fuzz_ini: well-formed files, shadowing records, broken records.
hex() { "$ini_tool" encrypt "$1"; }
rec() { printf '[%s];%s;\n%s;%s;%s\n' "$2" "$2" "$1" "$2" "$(hex "$3")"; }
{ rec 1 LOGIN kranzel; rec 2 PASS geheim; rec 3 DB_SYSTEM MSSQL; rec 4 DATABASE KRANZELDB; } \
  >"$corpus/fuzz_ini/valid"
{ rec 0 OTHER shadow; rec 1 LOGIN kranzel; printf 'lead;section\n7;OTHER;%s\n' "$(hex x)"; } \
  >"$corpus/fuzz_ini/shadowing"
{ printf 'a;;b\r\n;;\r\nno separator\n12345678901234567;KEY;ABC\n'; rec 1 LOGIN "$(printf '%0250d' 0)"; printf '[LOGIN];LOGIN;\n'; } \
  >"$corpus/fuzz_ini/broken"

# fuzz_cipher: byte 0 the key length (0: the configuration file's key).
printf '\000%s' "$(hex kranzel)" >"$corpus/fuzz_cipher/value"
printf '\000%s' "$(hex 123456789)" >"$corpus/fuzz_cipher/two_blocks"
printf '\003abcabcdef0123456789ABCDEF' >"$corpus/fuzz_cipher/lower_and_short"
echo "Seeds written to $corpus"
