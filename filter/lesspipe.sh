#!/bin/sh
# Input filter for drifterm: lesspipe.sh FILE [-]
#
# Prints FILE as plain text in the locale's character set, each paragraph
# on one line where the format tells paragraphs apart, so that `fmt -s`
# can wrap it evenly; or nothing, for a text fit to show as it is (the
# caller then copies the file unchanged). What reads what:
#
#   PDF                      drifterm-convert (from the page layout); where
#                            it is missing, pdftotext
#   manual page              man -l (man-db), else mandoc
#   gzip, bzip2, xz, zstd    decompressed (64 MiB at most), then as the rest;
#                            a text fit as it is is printed as it came out
#   everything else          drifterm-convert (EPUB, DOCX, ODT, FictionBook,
#                            HTML, RTF, text in any character set, ...)
#
# The converter is $DRIFTERM_CONVERT, else drifterm-convert on PATH, else
# the one installed beside this filter. A format whose program is missing
# gets one line instead: "NAME needs PROGRAM (Debian package PACKAGE)".
# Kinds are the converter's (drifterm-convert --kind, from its table of
# formats); manual pages are told by their first bytes and their names.
# A second argument "-" (given for PDF names) is ignored.
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
# is missing, in the converter's words; control bytes of the name would
# garble the screen.
needs() {
    shown=$(printf '%s' "$name" | tr '\000-\037\177' '?')
    printf '%s needs %s (Debian package %s)\n' "$shown" "$1" "$2"
    exit 0
}

# The notice for a file of kind $1 that cannot be read, for reason $2.
unreadable() {
    shown=$(printf '%s' "$name" | tr '\000-\037\177' '?')
    printf '%s could not be read (%s): %s\n' "$shown" "$1" "$2"
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

# Sets kind for file $1 known by the name $2: manpage for a troff source
# (by its first bytes, or a "." or "'" and a manual's name), else what the
# converter's table of formats says ("pdf", "gzip", "bzip2", "xz", "zstd",
# "epub", "text"...). Without the converter only what this filter reads
# itself is told apart, by its first bytes.
classify() {
    magic=$(od -An -tx1 -N8 <"$1" | tr -d ' \n')
    case $magic in
    2e544820* | 2e446420*) kind=manpage; return ;; # ".TH " or ".Dd ": a page's title
    2e* | 27*) is_man_name "$2" && { kind=manpage; return; } ;;
    esac
    find_converter
    if [ -n "$conv" ]; then
        kind=$("$conv" --kind "$1" </dev/null) || kind=other
        return
    fi
    case $magic in
    255044462d*) kind=pdf ;;            # "%PDF-"
    1f8b* | 1f9d*) kind=gzip ;;         # gzip, compress
    425a68*) kind=bzip2 ;;              # "BZh"
    fd377a585a00*) kind=xz ;;
    28b52ffd*) kind=zstd ;;
    *) kind=other ;;
    esac
}

# True when file $1 holds a NUL byte in its first 4 KiB: a document the
# converter would read (a zip, an Office file, a book), not a text.
holds_nul() {
    [ "$(head -c 4096 <"$1" | tr -d '\000' | wc -c)" -ne "$(head -c 4096 <"$1" | wc -c)" ]
}

# Sets conv to the converter's path, or to nothing when there is none.
find_converter() {
    [ -n "${conv_found:-}" ] && return 0
    conv_found=1
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
# pdftotext serves only where the converter is missing, its rows as it
# wrote them (fmt -s keeps them), never after the converter has failed.
convert_pdf() {
    print_converted "$1"
    [ -n "$conv" ] && exit 0
    have pdftotext || needs pdftotext poppler-utils
    pdftotext -q -nopgbrk -enc UTF-8 -- "$1" - </dev/null >"$tmp/out" || exit 0
    emit "$tmp/out"
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

# Writes the decompressed file $1, known as $2, into $inner, no more than
# 64 MiB of it: a longer text is cut there, any other format fails to
# convert. The inner file keeps the name without the compressed suffix (in
# a folder of its own), so that the converter and the checks below know it
# by that name. The decompressor runs confined (run_confined).
decompress() {
    case $kind in
    gzip) tool=gzip package=gzip ;;
    bzip2) tool=bzip2 package=bzip2 ;;
    xz) tool=xz package=xz-utils ;;
    zstd) tool=zstd package=zstd ;;
    esac
    have "$tool" || needs "$tool" "$package"
    inner_name=${2%.*}
    case $inner_name in
    '' | . | ..) inner_name=inner ;;
    esac
    mkdir "$tmp/in$level" || exit 0
    inner=$tmp/in$level/$inner_name
    rm -f -- "$tmp/failed"
    { run_confined "$(command -v "$tool")" -dcq <"$1" || : >"$tmp/failed"; } | head -c "$limit" >"$inner"
    # A decompressor cut off at the limit fails too; only a short one failed.
    if [ -f "$tmp/failed" ] && [ "$(size_of "$inner")" -lt "$limit" ]; then
        unreadable "$kind" "it is damaged"
    fi
}

# Runs program $1 (a path) with the rest as its arguments, confined: with
# the converter, by its --confine (limits, and where the kernel has
# Landlock no file to read beyond the system's); without, limits alone.
run_confined() {
    if [ -n "$conv" ]; then
        "$conv" --confine "$@"
    else
        (ulimit -v 524288 -t 10 2>/dev/null; exec "$@")
    fi
}

# A decompressed file that the converter leaves alone is a text fit as it
# is, and is printed: the caller would show the compressed bytes.
convert_inner() {
    print_converted "$inner"
    if [ -z "$conv" ] && holds_nul "$inner"; then
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
esac
# Compressed files, undone up to three times over (a book in a tarball's
# gzip is read; a bomb of gzips in gzips is not).
file=$src file_name=$name level=0
while :; do
    case $kind in
    gzip | bzip2 | xz | zstd) ;;
    *) break ;;
    esac
    level=$((level + 1))
    [ "$level" -le 3 ] || unreadable "$kind" "it is compressed more than three times over"
    make_tmp
    decompress "$file" "$file_name"
    file=$inner file_name=$inner_name
    classify "$file" "$file_name"
done
if [ "$level" -gt 0 ]; then
    case $kind in
    pdf) convert_pdf "$file" ;;
    manpage) convert_man "$file" ;;
    *) convert_inner ;;
    esac
fi
find_converter
if [ -n "$conv" ]; then
    "$conv" "$src" </dev/null
elif holds_nul "$src"; then
    needs drifterm-convert drifterm
fi
exit 0
