#!/bin/sh
# Input filter for drifterm: lesspipe.sh FILE [-]
#
# Prints a plain UTF-8 rendering of PDF files, manual pages, HTML and
# gzip/bzip2/xz/zstd compressed files on standard output. For anything
# else, and whenever a converter is missing or fails, it prints nothing at
# all and exits with status 0: the caller then copies the file unchanged.
# A second argument "-" (given for PDF names) is accepted and ignored.

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

tmp=
trap '[ -n "$tmp" ] && rm -rf -- "$tmp"' EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM

have() {
    command -v "$1" >/dev/null 2>&1
}

make_tmp() {
    tmp=$(mktemp -d "${TMPDIR:-/tmp}/drifterm-filter.XXXXXX") || exit 0
    case $tmp in
    /*) ;;
    *) tmp=./$tmp ;;
    esac
}

# Prints $1 when it holds something, else nothing.
emit() {
    [ -s "$1" ] && cat -- "$1"
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

is_html_name() {
    case $1 in
    *.[hH][tT][mM] | *.[hH][tT][mM][lL] | *.[xX][hH][tT][mM][lL]) return 0 ;;
    esac
    return 1
}

# Troff sources start with a request or a comment: "." or "'".
looks_like_troff() {
    case $(dd bs=1 count=1 <"$1" 2>/dev/null) in
    . | \') return 0 ;;
    esac
    return 1
}

has_no_nul() {
    [ "$(tr -d '\000' <"$1" | wc -c)" -eq "$(wc -c <"$1")" ]
}

# Sets kind to pdf, manpage, html, gzip, bzip2, xz, zstd, text, binary or
# unknown for file $1 known by the name $2.
classify() {
    mime=
    if have file; then
        mime=$(file -L --mime-type -b -- "$1")
    fi
    case $mime in
    application/pdf | application/x-pdf) kind=pdf ;;
    application/gzip | application/x-gzip | application/x-compress) kind=gzip ;;
    application/x-bzip2) kind=bzip2 ;;
    application/x-xz | application/x-lzma) kind=xz ;;
    application/zstd | application/x-zstd) kind=zstd ;;
    text/troff | text/x-troff) kind=manpage ;;
    text/html | application/xhtml+xml) kind=html ;;
    text/*)
        kind=text
        if is_html_name "$2"; then
            kind=html
        elif is_man_name "$2" && looks_like_troff "$1"; then
            kind=manpage
        fi
        ;;
    '' | application/octet-stream) classify_by_name "$1" "$2" ;;
    *) kind=binary ;;
    esac
}

classify_by_name() {
    if [ -z "$mime" ]; then
        kind=unknown
    else
        kind=binary
    fi
    case $2 in
    *.[pP][dD][fF]) kind=pdf ;;
    *.gz | *.[zZ]) kind=gzip ;;
    *.bz2) kind=bzip2 ;;
    *.xz | *.lzma) kind=xz ;;
    *.zst) kind=zstd ;;
    *)
        if is_html_name "$2"; then
            kind=html
        elif is_man_name "$2" && looks_like_troff "$1"; then
            kind=manpage
        fi
        ;;
    esac
}

convert_pdf() {
    have pdftotext || exit 0
    pdftotext -q -nopgbrk -enc UTF-8 -- "$1" - </dev/null >"$tmp/out" || exit 0
    emit "$tmp/out"
}

convert_man() {
    have man || exit 0
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
    ) || exit 0
    if have col; then
        col -bx <"$tmp/raw" >"$tmp/out" || exit 0
    else
        bs=$(printf '\b')
        esc=$(printf '\033')
        sed -e "s/.$bs//g" -e "s/$esc\\[[0-9;]*m//g" <"$tmp/raw" >"$tmp/out" || exit 0
    fi
    emit "$tmp/out"
}

convert_html() {
    have html2text || exit 0
    # Fed on stdin: as an argument, html2text would take it for a URL.
    html2text -utf8 -nobs <"$1" >"$tmp/out" || exit 0
    emit "$tmp/out"
}

# Converts file $1 of kind $kind; anything not convertible yields nothing.
convert() {
    case $kind in
    pdf) convert_pdf "$1" ;;
    manpage) convert_man "$1" ;;
    html) convert_html "$1" ;;
    esac
    exit 0
}

decompress() {
    case $kind in
    gzip) tool=gzip ;;
    bzip2) tool=bzip2 ;;
    xz) tool=xz ;;
    zstd) tool=zstd ;;
    esac
    have "$tool" || exit 0
    if [ "$tool" = zstd ]; then
        zstd -dcq <"$1" >"$tmp/inner" || exit 0
    else
        "$tool" -dc <"$1" >"$tmp/inner" || exit 0
    fi
}

classify "$src" "$name"
case $kind in
pdf | manpage | html)
    make_tmp
    convert "$src"
    ;;
gzip | bzip2 | xz | zstd)
    make_tmp
    decompress "$src"
    classify "$tmp/inner" "${name%.*}"
    case $kind in
    pdf | manpage | html) convert "$tmp/inner" ;;
    text) emit "$tmp/inner" ;;
    unknown) has_no_nul "$tmp/inner" && emit "$tmp/inner" ;;
    esac
    ;;
esac
exit 0
