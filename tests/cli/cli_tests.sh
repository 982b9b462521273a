#!/usr/bin/env bash
# zarvel-cli as a user runs it: small files in, JSON and files out, exit statuses.
#
#   bash tests/cli/cli_tests.sh /path/to/zarvel-cli
set -u

CLI=${1:?usage: cli_tests.sh /path/to/zarvel-cli}
case $CLI in /*) ;; *) CLI=$PWD/$CLI ;; esac
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
cd "$WORK" || exit 1

passed=0
failed=0
ok() { passed=$((passed + 1)); }
bad() { failed=$((failed + 1)); echo "FAIL: $*"; }

# run ARGS...: the tool's stdout in `out`, stderr in `err`, exit status in $status.
run() { "$CLI" "$@" >out 2>err; status=$?; }

check_status() { # EXPECTED NAME
    if [ "$status" -eq "$1" ]; then ok; else bad "$2: status $status, expected $1 ($(head -c 300 err))"; fi
}
check_has() { # TEXT NAME: stdout contains TEXT
    if grep -qF -- "$1" out; then ok; else bad "$2: no $1 in: $(head -c 400 out)"; fi
}
check_same() { # EXPECTED-FILE ACTUAL-FILE NAME
    if cmp -s "$1" "$2"; then ok; else bad "$3: $2 differs: $(od -c "$2" 2>&1 | head -5)"; fi
}
# A failure: the status, one line on stderr naming the file, nothing on stdout.
check_failure() { # STATUS NAME [TEXT-ON-STDERR]
    check_status "$1" "$2"
    if [ ! -s out ] && [ "$(wc -l <err)" -eq 1 ] && grep -q '^zarvel-cli: ' err; then ok; else
        bad "$2: expected one error line and no output, got out=[$(head -c 200 out)] err=[$(cat err)]"
    fi
    if [ $# -ge 3 ]; then
        if grep -qF -- "$3" err; then ok; else bad "$2: stderr lacks $3: $(cat err)"; fi
    fi
}

# ---- info -----------------------------------------------------------------------------

printf 'id,name,amount\n1,"Smith, J",3.5\n2,Ann,4\n' >comma.csv
run info comma.csv
check_status 0 "info comma"
expected='{"encoding":"utf8","suggestedEncoding":null,"bom":false,"sepLine":false,"delimiter":",","quote":"\"","escape":"doubled","lineEnding":"lf","header":true,"trailingNewline":true,"confidence":1.0,"rows":3,"columns":3,"raggedRows":0,"columnKinds":["number","text","number"],"warnings":[]}'
if [ "$(cat out)" = "$expected" ] && [ "$(wc -l <out)" -eq 1 ]; then ok; else bad "info comma: $(cat out)"; fi

printf 'name;price;count\nApfel;1,50;3\nBirne;2,25;12\nKiwi;0,99;7\n' >semicolon.csv
run info semicolon.csv
for key in '"delimiter":";"' '"header":true' '"columns":3' '"columnKinds":["text","number","number"]'; do
    check_has "$key" "info semicolon"
done

printf 'a\tb\tc\n1\t2\t3\n' >tab.tsv
run info tab.tsv
check_has '"delimiter":"\t"' "info tab"

printf 'sep=|\nx|y\n1|2\n' >sep.csv
run info sep.csv
for key in '"sepLine":true' '"delimiter":"|"' '"rows":2' '"confidence":1.0'; do check_has "$key" "info sep="; done

printf '\xef\xbb\xbfa,b\r\n1,2\r\n3,4' >bom-crlf.csv
run info bom-crlf.csv
for key in '"bom":true' '"lineEnding":"crlf"' '"trailingNewline":false' '"rows":3'; do check_has "$key" "info BOM CRLF"; done
run cells bom-crlf.csv
check_has '["a","b"]' "cells after BOM"

printf '\xff\xfea\x00,\x00b\x00\n\x001\x00,\x002\x00\n\x00' >utf16le.csv
run info utf16le.csv
for key in '"encoding":"utf16LittleEndian"' '"bom":true' '"columns":2'; do check_has "$key" "info UTF-16"; done

run info comma.csv --delimiter ';' --quote none --header no
for key in '"delimiter":";"' '"quote":null' '"header":false' '"columns":1' '"confidence":1.0'; do
    check_has "$key" "info forced dialect"
done
run info comma.csv --delimiter tab --escape backslash
for key in '"delimiter":"\t"' '"escape":"backslash"' '"quote":"\""'; do check_has "$key" "info forced tab"; done

# 0xB9 is š in ISO-8859-2 and ¹ in Windows-1252, which detection would pick.
printf 'w\n\xb9\n' >latin2.csv
run info latin2.csv
check_has '"encoding":"windows1252"' "info detected 1252"
run cells latin2.csv --encoding isoLatin2
check_has '["š"]' "cells forced isoLatin2"

printf 'a,b\n1,"open\n2,3\n' >unclosed.csv
run info unclosed.csv
check_has '"warnings":[{"kind":"unclosedQuote","row":1}]' "info unclosed quote"
printf 'a,b\n"x"y,1\n2\n' >ragged.csv
run info ragged.csv
check_has '"warnings":[{"kind":"textAfterClosingQuote","row":1}]' "info text after quote"
check_has '"raggedRows":1' "info ragged"

# ---- cells ----------------------------------------------------------------------------

printf 'k,v\n"say ""hi""","x\ny"\ntab\there,back\\slash\nshort\n' >cells.csv
run cells cells.csv
printf '[\n["k","v"],\n["say \\"hi\\"","x\\ny"],\n["tab\\there","back\\\\slash"],\n["short",""]\n]\n' >expected
check_same expected out "cells values"
printf 'a\x01b,"q\\"\n' >control.csv
run cells control.csv --header no
if [ "$(cat out)" = $'[\n["a\\u0001b","q\\\\"]\n]' ]; then ok; else bad "cells control character: $(cat out)"; fi
printf '' >empty.csv
run cells empty.csv
if [ "$(cat out)" = "[]" ]; then ok; else bad "cells empty: $(cat out)"; fi
# Invalid UTF-8 read as UTF-8 shows as U+FFFD.
printf 'a\n\xff\n' >invalid.csv
run cells invalid.csv --encoding utf8
check_has $'["\xef\xbf\xbd"]' "cells U+FFFD"

# ---- convert --------------------------------------------------------------------------

printf 'sep=;\n"a";b\n"c""d";"e\nf"\n' >sep-quoted.csv
printf 'no,newline\n1,2' >nonl.csv
printf 'caf\xe9,\xe9t\xe9\n' >latin.csv
for f in comma.csv semicolon.csv sep.csv bom-crlf.csv cells.csv sep-quoted.csv utf16le.csv nonl.csv latin.csv ragged.csv; do
    run convert "$f" -o "rt-$f"
    check_status 0 "round trip $f"
    check_same "$f" "rt-$f" "round trip $f"
done

run convert comma.csv -o tab-out.tsv --to-delimiter tab
printf 'id\tname\tamount\n1\tSmith, J\t3.5\n2\tAnn\t4\n' >expected
check_same expected tab-out.tsv "convert to tab"
run convert comma.csv -o all.csv --quoting all --line-ending crlf
printf '"id","name","amount"\r\n"1","Smith, J","3.5"\r\n"2","Ann","4"\r\n' >expected
check_same expected all.csv "convert all quoting, CRLF"
run convert comma.csv -o sepline.csv --sep-line yes --trailing-newline no --line-ending cr
printf 'sep=,\rid,name,amount\r1,"Smith, J",3.5\r2,Ann,4' >expected
check_same expected sepline.csv "convert sep line, CR, no trailing newline"

printf 'k,v\n"a,b","say ""hi"" \\o/"\n' >quotes.csv
run convert quotes.csv -o backslash.csv --to-escape backslash
printf 'k,v\n"a,b","say \\"hi\\" \\\\o/"\n' >expected
check_same expected backslash.csv "convert to backslash escapes"
run convert quotes.csv -o unquoted.csv --to-quote none --to-delimiter '|'
printf 'k|v\na,b|say "hi" \\o/\n' >expected
check_same expected unquoted.csv "convert without quoting"
# In place, and through a symbolic link, which stays a link.
cp comma.csv inplace.csv
ln -s inplace.csv link.csv
run convert link.csv -o link.csv --to-delimiter ';'
printf 'id;name;amount\n1;Smith, J;3.5\n2;Ann;4\n' >expected
check_same expected inplace.csv "convert in place through a link"
if [ -L link.csv ]; then ok; else bad "convert replaced the link"; fi

printf 'name\ncaf\xc3\xa9\n' >utf8.csv
run convert utf8.csv -o w1252.csv --to-encoding windows1252 --bom yes
printf 'name\ncaf\xe9\n' >expected
check_same expected w1252.csv "convert to windows1252 (no BOM there)"
# Any encoding by its standard name, in any case; it reads back the same.
printf 'name\n\xd0\x96\xd0\xb0\n' >cyrillic.csv
run convert cyrillic.csv -o w1251.csv --to-encoding WINDOWS-1251
printf 'name\n\xc6\xe0\n' >expected
check_same expected w1251.csv "convert to windows-1251"
run info w1251.csv --encoding cp1251
check_has '"encoding":"windows-1251"' "info in a named encoding"
run convert w1251.csv -o back.csv --encoding windows-1251 --to-encoding utf8
check_same cyrillic.csv back.csv "windows-1251 reads back"
# A file read in the fallback names the encoding it looks like.
for i in 1 2 3 4 5 6 7 8 9 10; do
    printf '%d,\x93\x8c\x8b\x9e\x93\x73\x82\xcc\x90\x6c\x8c\xfb\x82\xcd\x83\x4a\x83\x5e\x83\x4a\x83\x69\n' $i
done >sjis.csv
run info sjis.csv
check_has '"encoding":"isoLatin1","suggestedEncoding":"shiftJIS"' "info suggests Shift JIS"
run info sjis.csv --text
check_has 'suggestedEncoding: shiftJIS' "info --text suggests Shift JIS"
run info sjis.csv --encoding shiftJIS
check_has '"suggestedEncoding":null' "no suggestion for a forced encoding"
run convert utf8.csv -o bom.csv --bom yes
printf '\xef\xbb\xbfname\ncaf\xc3\xa9\n' >expected
check_same expected bom.csv "convert adding a BOM"

# A write that fails leaves an existing file alone and no temporary file behind.
mkdir atomic
printf 'keep me\n' >atomic/out.csv
printf 'price\n5 \xe2\x82\xac\n' >atomic/euro.csv
chmod 640 atomic/out.csv
run convert atomic/euro.csv -o atomic/out.csv --to-encoding isoLatin1
check_failure 1 "unrepresentable" "ISO-8859-1"
printf 'keep me\n' >expected
check_same expected atomic/out.csv "failed convert keeps OUT"
if [ "$(ls -A atomic | wc -l)" -eq 2 ]; then ok; else bad "failed convert left: $(ls -A atomic)"; fi
run convert atomic/euro.csv -o atomic/new.csv --to-encoding isoLatin1
if [ ! -e atomic/new.csv ]; then ok; else bad "failed convert created OUT"; fi
# A successful one replaces the file and keeps its permissions.
run convert atomic/euro.csv -o atomic/out.csv
check_same atomic/euro.csv atomic/out.csv "convert replaces OUT"
if [ "$(stat -c %a atomic/out.csv)" = 640 ]; then ok; else bad "convert changed mode to $(stat -c %a atomic/out.csv)"; fi
if [ "$(ls -A atomic | wc -l)" -eq 2 ]; then ok; else bad "convert left: $(ls -A atomic)"; fi
run convert comma.csv -o no-such-dir/out.csv
check_failure 1 "convert into a missing directory" "no-such-dir/out.csv"

# The output keeps its identity: a read-only file is refused, a symbolic link stays a
# link to the file it names, and a file with two names stays one file.
printf 'keep me\n' >atomic/locked.csv
chmod 444 atomic/locked.csv
run convert comma.csv -o atomic/locked.csv
check_failure 1 "convert over a read-only file" "atomic/locked.csv: cannot write the file: the file is read-only"
printf 'keep me\n' >expected
check_same expected atomic/locked.csv "refused convert keeps the read-only file"
ln -s out.csv atomic/link.csv
run convert comma.csv -o atomic/link.csv
check_same comma.csv atomic/out.csv "convert through a link writes its file"
if [ -L atomic/link.csv ]; then ok; else bad "convert replaced the link by a file"; fi
ln atomic/out.csv atomic/second.csv
inode=$(stat -c %i atomic/out.csv)
printf 'x,y\n3,4\n' >plain.csv
run convert plain.csv -o atomic/second.csv
check_same plain.csv atomic/out.csv "convert into a hard link writes both names"
if [ "$(stat -c %i:%h atomic/second.csv)" = "$inode:2" ]; then ok; else bad "convert split the hard link"; fi
if [ "$(ls -A atomic | wc -l)" -eq 5 ]; then ok; else bad "convert left: $(ls -A atomic)"; fi

# ---- errors ---------------------------------------------------------------------------

run info missing.csv
check_failure 1 "missing file" "missing.csv"
mkdir folder.csv
run info folder.csv
check_failure 1 "directory" "not a regular file"
mkfifo pipe.csv
status=0
timeout 10 "$CLI" info pipe.csv >out 2>err || status=$?
check_failure 1 "FIFO refused without blocking" "not a regular file"
printf 'a,\x81\n' >bad1252.csv
run info bad1252.csv --encoding windows1252
check_failure 1 "undecodable" "zarvel-cli: bad1252.csv: the file is not valid text in Windows-1252"
printf 'ab\x00\x00\x00\x00\x00\x00cd\x00\x00' >binary.dat
run info binary.dat
check_failure 1 "not text" "binary.dat"
run info comma.csv --no-such-option
check_failure 2 "unknown option"
run info comma.csv --encoding latin99
check_failure 2 "unknown encoding" "latin99"
run info comma.csv --delimiter ab
check_failure 2 "two-character delimiter"
run convert comma.csv -o never.csv --to-quote '\' --to-escape backslash
check_failure 2 "backslash as quote and escape" "backslash"
[[ ! -e never.csv ]] && ok || bad "a refused convert wrote its output"
run info comma.csv --quote "'"
check_failure 2 "quote without delimiter"
run info comma.csv --header maybe
check_failure 2 "header not yes/no"
run convert comma.csv -o x.csv --line-ending crcr
check_failure 2 "bad line ending"
run convert comma.csv
check_failure 2 "convert without -o"
run
check_failure 2 "no subcommand"

# ---- find -----------------------------------------------------------------------------

printf 'Name,Note\nann,plain\nBob,Annex\nann,"An,n"\n' >people.csv
run find people.csv ann
if [ "$(cat out)" = "[[1,0],[2,1],[3,0]]" ]; then ok; else bad "find: $(cat out)"; fi
run find people.csv Ann --case-sensitive
if [ "$(cat out)" = "[[2,1]]" ]; then ok; else bad "find case-sensitive: $(cat out)"; fi
run find people.csv 'n,n'
if [ "$(cat out)" = "[[3,1]]" ]; then ok; else bad "find in quoted field: $(cat out)"; fi
run find people.csv NAME
if [ "$(cat out)" = "[[0,0]]" ]; then ok; else bad "find in the header row: $(cat out)"; fi
run find people.csv zzz
if [ "$(cat out)" = "[]" ]; then ok; else bad "find nothing: $(cat out)"; fi
run find people.csv '^an+$' --regex
if [ "$(cat out)" = "[[1,0],[3,0]]" ]; then ok; else bad "find --regex: $(cat out)"; fi
run find people.csv '^A' --regex --case-sensitive
if [ "$(cat out)" = "[[2,1],[3,1]]" ]; then ok; else bad "find --regex --case-sensitive: $(cat out)"; fi
run find people.csv '(an' --regex
check_failure 2 "find --regex with an invalid pattern" "Unbalanced parenthesis at character 4"

# ---- filter ---------------------------------------------------------------------------

# Kept rows go out as they were read (quotes, CRLF); the header stays even when it matches nothing.
printf 'Name,Note
"ann",plain
Bob,x
Cy,"An,n"
Dee,y
' >crowd.csv
run filter crowd.csv an -o kept.csv
check_status 0 "filter"
printf 'Name,Note
"ann",plain
Cy,"An,n"
' >expected.csv
check_same expected.csv kept.csv "filter keeps matching rows byte for byte"
run filter crowd.csv '^[BD]' --regex --case-sensitive -o - --to-delimiter tab
if [ "$(cat out)" = "$(printf 'Name\tNote\r\nBob\tx\r\nDee\ty\r\n')" ]; then ok; else bad "filter --regex to tab: $(od -c out | head -3)"; fi
run filter crowd.csv zzz -o none.csv
if [ "$(cat none.csv)" = "$(printf 'Name,Note\r\n')" ]; then ok; else bad "filter without a match: $(cat none.csv)"; fi
run filter crowd.csv '[' --regex -o bad.csv
check_failure 2 "filter --regex with an invalid pattern" "Missing closing bracket"
if [ ! -e bad.csv ]; then ok; else bad "filter with an invalid pattern wrote bad.csv"; fi

# ---- sort -----------------------------------------------------------------------------

printf 'item,qty\nb,10\na,9\nc,\nd,2.5\n' >stock.csv
run sort stock.csv -o by-qty.csv --column 1
printf 'item,qty\nd,2.5\na,9\nb,10\nc,\n' >expected
check_same expected by-qty.csv "sort numbers ascending, empty last"
run sort stock.csv -o by-qty-desc.csv --column 1 --descending
printf 'item,qty\nb,10\na,9\nd,2.5\nc,\n' >expected
check_same expected by-qty-desc.csv "sort numbers descending"
run sort stock.csv -o by-qty-text.csv --column 1 --kind text
printf 'item,qty\nb,10\nd,2.5\na,9\nc,\n' >expected
check_same expected by-qty-text.csv "sort a number column as text"
printf 'b\nA\na\nc\n' >letters.csv
run sort letters.csv -o letters-desc.csv --column 0 --descending --header no
printf 'c\nb\nA\na\n' >expected
check_same expected letters-desc.csv "sort text descending, equal keys keep their order"
run sort stock.csv -o by-item.tsv --column 0 --to-delimiter tab
printf 'item\tqty\na\t9\nb\t10\nc\t\nd\t2.5\n' >expected
check_same expected by-item.tsv "sort with a write option"
run sort stock.csv -o never.csv --column 2
check_failure 2 "sort column out of range" "--column"
if [ ! -e never.csv ]; then ok; else bad "sort out of range wrote a file"; fi
run sort stock.csv -o never.csv --column 0 --kind month
check_failure 2 "sort bad kind" "--kind"
printf 'name,n\nfile10,a\nFile2,b\nfile1,c\n,d\nfile02,e\n' >files.csv
run sort files.csv -o natural.csv --column 0 --kind natural
check_status 0 "sort --kind natural"
run cells natural.csv
if [ "$(cat out)" = $'[\n["name","n"],\n["file1","c"],\n["file02","e"],\n["File2","b"],\n["file10","a"],\n["","d"]\n]' ]; then
    ok; else bad "sort --kind natural, read back: $(cat out)"; fi
printf 'day,n\n25/12/2020,1\n2020-12-24T23:00,2\n03.04.2021,3\nsoon,4\n' >days.csv
run sort days.csv -o by-day.csv --column 0 --kind date --descending
printf 'day,n\n03.04.2021,3\n25/12/2020,1\n2020-12-24T23:00,2\nsoon,4\n' >expected
check_same expected by-day.csv "sort --kind date, mixed forms, descending"

# ---- standard input and output --------------------------------------------------------

# "-" reads a pipe or a redirected file, and writes standard output.
printf 'a;b\n1;"x;y"\n' | "$CLI" convert - -o - --to-delimiter tab >out 2>err
status=$?
printf 'a\tb\n1\tx;y\n' >expected
check_status 0 "convert - -o -"
check_same expected out "convert - -o -"
"$CLI" sort - -o - --column 0 --descending <stock.csv >out 2>err
printf 'item,qty\nd,2.5\nc,\nb,10\na,9\n' >expected
check_same expected out "sort from a redirected file to standard output"
"$CLI" info - <comma.csv >info-stdin 2>err
"$CLI" info comma.csv >info-file 2>err
check_same info-file info-stdin "info -"
cat people.csv | "$CLI" find - ann >out 2>err
if [ "$(cat out)" = "[[1,0],[2,1],[3,0]]" ]; then ok; else bad "find -: $(cat out)"; fi
printf 'x\ny' | "$CLI" cells - --header no >out 2>err
if [ "$(cat out)" = $'[\n["x"],\n["y"]\n]' ]; then ok; else bad "cells -: $(cat out)"; fi
# A file named "-" is still reachable by another path.
cp comma.csv ./-
run convert ./- -o ./-.out
check_same comma.csv ./-.out "a file named -"
# Errors name the streams.
printf 'a,\x81\n' | "$CLI" info - --encoding windows1252 >out 2>err
status=$?
check_failure 1 "undecodable standard input" "standard input: the file is not valid text"
"$CLI" convert atomic/euro.csv -o - --to-encoding isoLatin1 >out 2>err
status=$?
check_failure 1 "unrepresentable to standard output" "standard output: some characters"
# A reader that stops early: an error status, not a hang or a silent kill.
awk 'BEGIN { for (i = 0; i < 300000; i++) print i ",some text," i * 2 }' >big.csv
for command in "cells big.csv" "convert big.csv -o -"; do
    timeout 20 bash -c "'$CLI' $command 2>err | head -c 10 >/dev/null; exit \${PIPESTATUS[0]}"
    status=$?
    check_status 1 "$command into a closed pipe"
    grep -qF 'standard output: cannot write' err && ok || bad "$command into a closed pipe: $(cat err)"
done

# info --text: the same facts, aligned, warnings one per line.
run info unclosed.csv --text
cat >expected <<'EOF'
encoding:        utf8
bom:             no
sepLine:         no
delimiter:       ,
quote:           "
escape:          doubled
lineEnding:      lf
header:          yes
trailingNewline: yes
confidence:      1.0
rows:            3
columns:         2
raggedRows:      0
columnKinds:     number, text
warnings:        unclosedQuote in row 1
EOF
check_same expected out "info --text"
printf 'a\tb\n"x"y\t\0\n' >two-warnings.tsv
run info two-warnings.tsv --text
check_has 'delimiter:       tab' "info --text tab"
if grep -A1 -x 'warnings:        textAfterClosingQuote in row 1' out | grep -qx '                 nulByte in row 1'
then ok; else bad "info --text warnings: $(cat out)"; fi

# ---- saving never changes a cell nobody changed ---------------------------------------

# A stray quote sorted above a quoted cell once merged the two rows.
printf 'k,v\nb,"q"\n"a,1\n' >stray.csv
run sort stray.csv -o stray-sorted.csv --column 0
check_status 0 "sort a stray quote"
run cells stray-sorted.csv
for row in '["k","v"]' '["\"a","1"]' '["b","q"]'; do check_has "$row" "stray quote sorted"; done
# A sep= line naming the quote is data, and converts back unchanged.
printf 'sEp="\na,b\n1,2\n' >sep-quote.csv
run convert sep-quote.csv -o sep-quote-out.csv
check_status 0 "convert sep= naming the quote"
check_same sep-quote.csv sep-quote-out.csv "convert sep= naming the quote"
# Without a quote a cell holding the delimiter cannot be written: refused, by cell.
run convert comma.csv -o never-unquoted.csv --to-quote none
check_failure 1 "no quote for a comma" "row 2, column 2"
if [ ! -e never-unquoted.csv ]; then ok; else bad "unrepresentable convert wrote a file"; fi
# A stray NUL opens with a warning and keeps its bytes; ill-formed UTF-8 is named by row.
printf 'a,b\n\0,2\n' >nul.csv
run info nul.csv
check_has '{"kind":"nulByte","row":1}' "info NUL byte"
run convert nul.csv -o nul-out.csv
check_same nul.csv nul-out.csv "convert keeps a NUL"
printf '\xef\xbb\xbfa,b\n\xff,c\n' >bad-utf8.csv
run info bad-utf8.csv
check_has '{"kind":"invalidUTF8","row":1}' "info invalid UTF-8"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
