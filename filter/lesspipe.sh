#!/bin/sh
# Input filter for drifterm: lesspipe.sh FILE [-]
#
# Prints FILE as plain text in the locale's character set, each paragraph
# on one line where the format tells paragraphs apart, so that `fmt -s`
# can wrap it evenly; or nothing, for a text fit to show as it is (the
# caller then copies the file unchanged). What reads what:
#
#   PDF                      drifterm-convert (from the page layout), else
#                            pdftotext, the rows of a paragraph joined here
#   manual page              man -l (man-db), else mandoc
#   gzip, bzip2, xz, zstd    decompressed (64 MiB at most), then as the rest;
#                            a text fit as it is is printed as it came out
#   everything else          drifterm-convert (EPUB, DOCX, ODT, FictionBook,
#                            HTML, RTF, text in any character set, ...)
#
# The converter is $DRIFTERM_CONVERT, else drifterm-convert on PATH, else
# the one installed beside this filter. A format whose program is missing
# gets one line instead: "NAME needs PROGRAM (Debian package PACKAGE)".
# Kinds are told by their first bytes, and manual pages also by their
# names. A second argument "-" (given for PDF names) is ignored.
#
# Documents may be hostile: the converter reads no file but FILE and opens
# no device; no more than 64 MiB is expanded from a compressed file.

# Converters chatter on stderr; none of it may reach the caller's terminal.
exec 2>/dev/null

[ $# -ge 1 ] || exit 0
[ -f "$1" ] && [ -r "$1" ] || exit 0

# A leading "-" would be read as an option by tools without "--".
src=$1
case $src in
-*) src=./$src ;;
esac
name=${1##*/}
# Where this filter is: the installed converter lies beside it.
# A bare name is one found on PATH, or one in the current directory
# (sh lesspipe.sh).
case $0 in
*/*) here=${0%/*} ;;
*) here=$(command -v -- "$0") && here=${here%/*} || here=. ;;
esac

limit=67108864

tmp=
trap '[ -n "$tmp" ] && rm -rf -- "$tmp"' EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM

have() {
    command -v "$1" >/dev/null 2>&1
}

make_tmp() {
    [ -n "$tmp" ] && return 0
    tmp=$(mktemp -d "${TMPDIR:-/tmp}/drifterm-filter.XXXXXX") || exit 0
    case $tmp in
    /*) ;;
    *) tmp=$PWD/$tmp ;;
    esac
}

size_of() {
    wc -c <"$1" | tr -d ' '
}

# The notice for a known format whose program ($1, from Debian package $2)
# is missing; control bytes of the name would garble the screen.
needs() {
    shown=$(printf '%s' "$name" | tr '\000-\037\177' '?')
    printf '%s needs %s (Debian package %s)\n' "$shown" "$1" "$2"
    exit 0
}

# The locale's character set, for what pdftotext and man write in UTF-8.
# The C and POSIX locales name none fit for a document, so there the
# target is UTF-8.
find_charset() {
    case ${LC_ALL:-${LC_CTYPE:-$LANG}} in
    '' | C | POSIX | *.[Uu][Tt][Ff]-8 | *.[Uu][Tt][Ff]8 | *.[Uu][Tt][Ff]-8@* | *.[Uu][Tt][Ff]8@*)
        charset=UTF-8 ;;
    *)
        charset=$(locale charmap)
        case $charset in
        '' | ANSI_X3.4-1968 | ASCII | US-ASCII) charset=UTF-8 ;;
        esac
        ;;
    esac
}

# Prints $1, UTF-8, in the locale's set when it holds something.
emit() {
    find_charset
    if [ ! -s "$1" ]; then
        :
    elif [ "$charset" = UTF-8 ]; then
        cat -- "$1"
    else
        iconv -c -f UTF-8 -t "$charset//TRANSLIT" <"$1"
    fi
    exit 0
}

# True for names like ls.1, perl.1p, ssl.3ssl or foo.man.
is_man_name() {
    case $1 in
    *.*) ;;
    *) return 1 ;;
    esac
    case ${1##*.} in
    [1-9] | [1-9][a-z] | [1-9][a-z][a-z] | [1-9][a-z][a-z][a-z] | man) return 0 ;;
    esac
    return 1
}

# Sets kind to pdf, manpage, gzip, bzip2, xz, zstd or other for file $1
# known by the name $2, from its first bytes (in hex in $magic).
classify() {
    magic=$(od -An -tx1 -N8 <"$1" | tr -d ' \n')
    case $magic in
    255044462d*) kind=pdf ;;            # "%PDF-"
    1f8b* | 1f9d*) kind=gzip ;;         # gzip, compress
    425a68*) kind=bzip2 ;;              # "BZh"
    fd377a585a00*) kind=xz ;;
    5d0000*) case $2 in *.lzma) kind=xz ;; *) kind=other ;; esac ;;
    28b52ffd*) kind=zstd ;;
    2e544820* | 2e446420*) kind=manpage ;; # ".TH " or ".Dd ": a page's title
    2e* | 27*)                          # "." or "'": a troff request or comment
        kind=other
        is_man_name "$2" && kind=manpage
        ;;
    *) kind=other ;;
    esac
}

# True for a file the converter would read as a document rather than as
# text: a zip, RTF, an old Office file, DjVu, CHM or PostScript by its first
# bytes, or a document's name. Without the converter only those get its
# notice; any other file is shown as it is.
is_document() {
    case $magic in
    504b0304* | 7b5c727466* | d0cf11e0* | 41542654464f524d* | 49545346* | 2521*) return 0 ;;
    esac
    case $1 in
    *.[eE][pP][uU][bB] | *.[dD][oO][cC][xX] | *.[oO][dD][tT] | *.[fF][bB]2 | *.[rR][tT][fF] | \
        *.[hH][tT][mM] | *.[hH][tT][mM][lL] | *.[xX][hH][tT][mM][lL] | *.[dD][oO][cC] | \
        *.[mM][oO][bB][iI] | *.[aA][zZ][wW] | *.[aA][zZ][wW]3 | *.[dD][jJ][vV][uU] | *.[cC][hH][mM] | \
        *.[pP][sS])
        return 0 ;;
    esac
    return 1
}

# Sets conv to the converter's path, or to nothing when there is none.
find_converter() {
    conv=${DRIFTERM_CONVERT:-}
    if [ -z "$conv" ]; then
        conv=$(command -v drifterm-convert) || conv=$here/drifterm-convert
    fi
    case $conv in
    */*) [ -f "$conv" ] && [ -x "$conv" ] || conv= ;;
    *) have "$conv" || conv= ;;
    esac
}

# Prints what the converter makes of file $1 and ends, when it makes
# something of it; otherwise returns, $conv empty when there is none.
print_converted() {
    find_converter
    [ -n "$conv" ] || return 0
    "$conv" "$1" </dev/null >"$tmp/out"
    [ -s "$tmp/out" ] || return 0
    cat -- "$tmp/out"
    exit 0
}

# ---------------------------------------------------------------- PDF

# The converter reads the page layout (poppler, pages in parallel);
# pdftotext and the row joining below serve where it is missing or fails.
convert_pdf() {
    print_converted "$1"
    have pdftotext || needs pdftotext poppler-utils
    pdftotext -q -nopgbrk -enc UTF-8 -- "$1" - </dev/null >"$tmp/raw" || exit 0
    join_pdf_rows <"$tmp/raw" >"$tmp/out"
    emit "$tmp/out"
}

# pdftotext ends every row of the page. Within a block (rows between blank
# ones) a row goes on in the next when the next one's first word would not
# have fitted on it within the block's right margin: its widest row, or the
# next widest when the widest sticks out. Letters differ in width, so a
# row counts as full from 3/4 of the margin on, or 9/10 when it ends a
# sentence. A list item or option starts anew, as does a row that opens
# with a symbol after a sentence; in a narrow block (a table, code) every
# row stays. A hyphen at a row's end is kept and the next row follows it
# without a blank.
join_pdf_rows() {
    LC_ALL=C awk '
        function width(s,   t) { t = s; return length(s) - gsub(/[\200-\277]/, "", t) }
        function first_word(s) { sub(/^[ \t]+/, "", s); sub(/[ \t].*/, "", s); return s }
        function starts_item(s) {
            return s ~ /^(\342\200\242|\342\227\246|\342\226\252|\342\200\223|\342\200\224|\302\267|[-*+o]) / ||
                   s ~ /^-/ || s ~ /^\(?[0-9a-zA-Z][0-9]?[.)] / || s ~ /^[0-9]+\.[0-9.]* /
        }
        function goes_on(i,   next_row, full) {
            next_row = row[i + 1]
            if (margin < 40 || starts_item(next_row)) return 0
            full = wide[i] + 1 + width(first_word(next_row))
            if (row[i] ~ /[.:;!?]$/) {
                if (full < margin * 0.9 || next_row !~ /^[A-Za-z0-9\200-\377"(\047]/) return 0
            } else if (full < margin * 0.75) return 0
            return 1
        }
        function flush(   i, line, joined) {
            if (n == 0) return
            margin = (n > 2 && widest > second * 1.1) ? second : widest
            line = row[1]
            joined = 0
            for (i = 1; i < n; i++) {
                if (!goes_on(i)) {
                    # A paragraph of several rows is set apart from what follows.
                    print line (joined ? "\n" : "")
                    line = row[i + 1]
                    joined = 0
                    continue
                }
                if (row[i] ~ /[A-Za-z\200-\377]-$/) line = line row[i + 1]
                else line = line " " row[i + 1]
                joined = 1
            }
            print line
            n = widest = second = 0
        }
        /^[ \t\f]*$/ { flush(); print ""; next }
        {
            sub(/[ \t]+$/, "")
            row[++n] = $0
            wide[n] = width($0)
            if (wide[n] > widest) { second = widest; widest = wide[n] }
            else if (wide[n] > second) second = wide[n]
        }
        END { flush() }'
}

# ---------------------------------------------------------------- manual

convert_man() {
    have man || have mandoc || needs man man-db
    man_with_man_db "$1" || man_with_mandoc "$1" || exit 0
    if have col; then
        col -bx <"$tmp/raw" >"$tmp/out" || exit 0
    else
        bs=$(printf '\b')
        esc=$(printf '\033')
        sed -e "s/.$bs//g" -e "s/$esc\\[[0-9;]*m//g" <"$tmp/raw" >"$tmp/out" || exit 0
    fi
    emit "$tmp/out"
}

man_with_man_db() {
    have man || return 1
    (
        unset MAN_KEEP_FORMATTING MANOPT MANROFFSEQ
        # Without col, man-db cannot strip overstrikes itself; keep them
        # and remove them below.
        if ! have col; then
            MAN_KEEP_FORMATTING=1
            export MAN_KEEP_FORMATTING
        fi
        MANWIDTH=72 MANPAGER=cat PAGER=cat GROFF_NO_SGR=1 LC_ALL=C.UTF-8
        export MANWIDTH MANPAGER PAGER GROFF_NO_SGR LC_ALL
        exec man -l -- "$1" </dev/null >"$tmp/raw"
    ) && [ -s "$tmp/raw" ]
}

man_with_mandoc() {
    have mandoc || return 1
    mandoc -T utf8 -O width=72 -- "$1" </dev/null >"$tmp/raw" && [ -s "$tmp/raw" ]
}

# ---------------------------------------------------------------- compressed

# Writes the decompressed file $1 into $inner, no more than 64 MiB of it:
# a longer text is cut there, any other format fails to convert. The inner
# file keeps the name without the compressed suffix (in a folder of its
# own), so that the converter and the checks below know it by that name.
decompress() {
    case $kind in
    gzip) tool=gzip package=gzip ;;
    bzip2) tool=bzip2 package=bzip2 ;;
    xz) tool=xz package=xz-utils ;;
    zstd) tool=zstd package=zstd ;;
    esac
    have "$tool" || needs "$tool" "$package"
    inner_name=${name%.*}
    case $inner_name in
    '' | . | ..) inner_name=inner ;;
    esac
    mkdir "$tmp/in" || exit 0
    inner=$tmp/in/$inner_name
    if [ "$tool" = zstd ]; then
        { zstd -dcq <"$1" || : >"$tmp/failed"; } | head -c "$limit" >"$inner"
    else
        { "$tool" -dc <"$1" || : >"$tmp/failed"; } | head -c "$limit" >"$inner"
    fi
    # A decompressor cut off at the limit fails too; only a short one failed.
    [ -f "$tmp/failed" ] && [ "$(size_of "$inner")" -lt "$limit" ] && exit 0
}

# A decompressed file that the converter leaves alone is a text fit as it
# is, and is printed: the caller would show the compressed bytes.
convert_inner() {
    print_converted "$inner"
    if [ -z "$conv" ] && is_document "$inner_name"; then
        needs drifterm-convert drifterm
    fi
    cat -- "$inner"
    exit 0
}

# ---------------------------------------------------------------- dispatch

classify "$src" "$name"
case $kind in
pdf) make_tmp && convert_pdf "$src" ;;
manpage) make_tmp && convert_man "$src" ;;
gzip | bzip2 | xz | zstd)
    make_tmp
    decompress "$src"
    classify "$inner" "$inner_name"
    case $kind in
    pdf) convert_pdf "$inner" ;;
    manpage) convert_man "$inner" ;;
    gzip | bzip2 | xz | zstd) exit 0 ;;
    *) convert_inner ;;
    esac
    ;;
esac
find_converter
if [ -n "$conv" ]; then
    "$conv" "$src" </dev/null
elif is_document "$name"; then
    needs drifterm-convert drifterm
fi
exit 0
