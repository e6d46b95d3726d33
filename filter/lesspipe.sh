#!/bin/sh
# Input filter for drifterm: lesspipe.sh FILE [-]
#
# Prints a plain text rendering of FILE in the locale's character set, with
# each paragraph on one line where the format tells paragraphs apart, so
# that `fmt -s` can wrap it evenly:
#
#   PDF            pdftotext; rows of a paragraph joined here
#   manual page    man -l (man-db), else mandoc
#   HTML, XHTML    html2text, not wrapping
#   EPUB           unzip, xsltproc (the spine), html2text for each chapter
#   DOCX, ODT      unzip, xsltproc
#   FictionBook    xsltproc
#   RTF            unrtf, html2text
#   gzip, bzip2, xz, zstd: decompressed, then as above
#   text in UTF-16, Latin-1 or Windows-1252, with a UTF-8 byte-order mark,
#   or with CRLF or CR line ends: iconv, awk
#
# For anything else (a text already in the locale's set with LF line ends,
# Markdown included), and whenever a converter is missing or fails, it
# prints nothing at all and exits with status 0: the caller then copies the
# file unchanged. A second argument "-" (given for PDF names) is ignored.
#
# Documents may be hostile: converters get no network and load no external
# entity or DTD, an XML file that declares entities is refused, zip members
# are only ever read into a pipe, and no more than 64 MiB is expanded from
# one member or compressed file (256 MiB from one archive).

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

limit=67108864
archive_limit=268435456

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

# The locale's character set. The C and POSIX locales name none fit for a
# document, so there the target is UTF-8: what the program shows of a
# UTF-8 file is then what it shows of every converted one.
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

# Prints UTF-8 from stdin in the locale's set.
to_locale() {
    if [ "$charset" = UTF-8 ]; then
        cat
    else
        iconv -c -f UTF-8 -t "$charset//TRANSLIT"
    fi
}

# Prints $1 when it holds something, else nothing.
emit() {
    [ -s "$1" ] && to_locale <"$1"
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

# Sets kind for XML file $1 from its root element: fb2, html or text.
classify_xml() {
    kind=text
    case $(head -c 4096 -- "$1" | tr '\n' ' ') in
    *'<FictionBook'*) kind=fb2 ;;
    *'<html'* | *'<!DOCTYPE html'* | *'<!doctype html'*) kind=html ;;
    esac
}

# Sets kind to pdf, manpage, html, epub, docx, odt, rtf, fb2, gzip, bzip2,
# xz, zstd, text, binary or unknown, and encoding to the charset `file`
# names, for file $1 known by the name $2.
classify() {
    mime=
    if have file; then
        mime=$(file -L -b --mime -- "$1")
    fi
    type=${mime%%;*}
    encoding=
    case $mime in
    *charset=*) encoding=${mime##*charset=} ;;
    esac
    case $type in
    application/pdf | application/x-pdf) kind=pdf ;;
    application/gzip | application/x-gzip | application/x-compress) kind=gzip ;;
    application/x-bzip2) kind=bzip2 ;;
    application/x-xz | application/x-lzma) kind=xz ;;
    application/zstd | application/x-zstd) kind=zstd ;;
    application/epub+zip) kind=epub ;;
    application/vnd.openxmlformats-officedocument.wordprocessingml.document) kind=docx ;;
    application/vnd.oasis.opendocument.text) kind=odt ;;
    application/zip) classify_zip_by_name "$2" ;;
    text/rtf | text/x-rtf | application/rtf) kind=rtf ;;
    text/troff | text/x-troff) kind=manpage ;;
    text/html | application/xhtml+xml) kind=html ;;
    text/xml | application/xml) classify_xml "$1" ;;
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

# A zip that `file` does not know (its first member is not the one the
# format puts first) is taken at its name.
classify_zip_by_name() {
    case $1 in
    *.[eE][pP][uU][bB]) kind=epub ;;
    *.[dD][oO][cC][xX]) kind=docx ;;
    *.[oO][dD][tT]) kind=odt ;;
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
    *.[eE][pP][uU][bB] | *.[dD][oO][cC][xX] | *.[oO][dD][tT]) classify_zip_by_name "$2" ;;
    *.[rR][tT][fF]) kind=rtf ;;
    *.[fF][bB]2) kind=fb2 ;;
    *)
        if is_html_name "$2"; then
            kind=html
        elif is_man_name "$2" && looks_like_troff "$1"; then
            kind=manpage
        fi
        ;;
    esac
}

# ---------------------------------------------------------------- text

# Prints "le" or "be" when file $1 starts with a UTF-16 byte-order mark
# (`file` takes one followed by a lone surrogate for data), or reads as
# UTF-16 text without one: every other byte zero, as Latin letters give.
utf16_order() {
    od -An -v -tu1 -N 4096 -- "$1" | LC_ALL=C awk '
        NR == 1 && $1 == 255 && $2 == 254 { print "le"; exit }
        NR == 1 && $1 == 254 && $2 == 255 { print "be"; exit }
        { for (i = 1; i <= NF; i++) { if ($i == 0) { if (n % 2) odd++; else even++ } n++ } }
        END {
            units = int(n / 2)
            if (units < 2) exit
            if (odd * 10 >= units * 3 && even * 20 <= units) print "le"
            else if (even * 10 >= units * 3 && odd * 20 <= units) print "be"
        }'
}

# Prints "b" for a UTF-8 byte-order mark and "r" for a carriage return
# found in the first 64 KiB of file $1: a text with CRLF or CR line ends
# has them from its first lines on, so no pass over the whole file is
# needed to know.
text_marks() {
    head -c 65536 -- "$1" | LC_ALL=C awk '
        NR == 1 && /^\357\273\277/ { printf "b" }
        /\r/ { printf "r"; exit }'
}

# Prints UTF-16 file $1 ($2: UTF-16LE or UTF-16BE) as UTF-8. iconv stops
# at a unit that is no character (a lone surrogate, an odd last byte):
# that unit becomes U+FFFD and the conversion goes on after it, a few
# hundred times at most, then drops the rest of such units.
utf16_to_utf8() {
    offset=0
    errors=0
    while :; do
        tail -c +$((offset + 1)) -- "$1" | LC_ALL=C iconv -f "$2" -t UTF-8 2>"$tmp/iconv.err" && return 0
        at=$(sed -n 's/.*position \([0-9][0-9]*\).*/\1/p' "$tmp/iconv.err")
        if [ -z "$at" ]; then
            grep -q incomplete "$tmp/iconv.err" && printf '\357\277\275'
            return 0
        fi
        printf '\357\277\275'
        offset=$((offset + at + 2))
        errors=$((errors + 1))
        if [ "$errors" -ge 256 ]; then
            tail -c +$((offset + 1)) -- "$1" | LC_ALL=C iconv -c -f "$2" -t UTF-8
            return 0
        fi
    done
}

# Prints file $1 of charset $2 (as `file` names it) as UTF-8.
text_to_utf8() {
    case $2 in
    utf-16le | le) utf16_to_utf8 "$1" UTF-16LE ;;
    utf-16be | be) utf16_to_utf8 "$1" UTF-16BE ;;
    iso-8859-1) LC_ALL=C iconv -f ISO-8859-1 -t UTF-8 <"$1" ;;
    # Bytes 0x80-0x9F are printable in Windows-1252 but for five that it
    # leaves undefined; those go through as SUB and come out as U+FFFD.
    unknown-8bit) LC_ALL=C tr '\201\215\217\220\235' '\032\032\032\032\032' <"$1" |
        LC_ALL=C iconv -f CP1252 -t UTF-8 ;;
    *) cat -- "$1" ;;
    esac
}

# Line ends to LF, the byte-order mark dropped, SUB to U+FFFD ($1 = 1).
tidy_text() {
    LC_ALL=C awk -v sub_byte="$1" '
        NR == 1 { sub(/^\357\273\277/, "") }
        { sub(/\r$/, ""); gsub(/\r/, "\n") }
        sub_byte { gsub(/\032/, "\357\277\275") }
        { print }'
}

# Converts text file $1 in charset $2; prints nothing when it is fine as it
# is, unless $3 is "always" (a decompressed text must be shown).
convert_text() {
    case $2 in
    us-ascii | utf-8) ;;
    utf-16le | utf-16be | le | be | iso-8859-1 | unknown-8bit) ;;
    *)
        [ "$3" = always ] && emit "$1"
        exit 0
        ;;
    esac
    have iconv || exit 0
    marks=$(text_marks "$1")
    if [ -z "$marks" ]; then
        case $2 in
        us-ascii)
            [ "$3" = always ] && cat -- "$1"
            exit 0
            ;;
        utf-8)
            if [ "$charset" = UTF-8 ]; then
                [ "$3" = always ] && cat -- "$1"
                exit 0
            fi
            ;;
        esac
    fi
    make_tmp
    sub_byte=0
    [ "$2" = unknown-8bit ] && sub_byte=1
    text_to_utf8 "$1" "$2" | tidy_text "$sub_byte" >"$tmp/out"
    emit "$tmp/out"
}

# ---------------------------------------------------------------- PDF

convert_pdf() {
    have pdftotext || exit 0
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

# ---------------------------------------------------------------- HTML

# html2text's settings: paragraphs apart, headings plain. Read instead of
# the user's own ~/.html2textrc.
write_html2text_rc() {
    [ -f "$tmp/html2text.rc" ] && return 0
    cat >"$tmp/html2text.rc" <<'EOF'
P.vspace.after = 1
DD.vspace.after = 1
IMG.replace.noalt =
EOF
}

# Prints (X)HTML file $1 as UTF-8 text; $2 is "recoded" when it was made
# UTF-8 here, so that html2text does not recode it again after its meta tag.
# Unwrapped, html2text would stretch a table of width 100%, a centred or
# right-aligned block and a rule across its whole width: widths, alignments
# and centring are dropped, and a rule becomes a row of dashes.
html_to_text() {
    write_html2text_rc
    meta=
    [ "$2" = recoded ] && meta=-nometa
    bom=$(printf '\357\273\277')
    # An XML declaration is no HTML: html2text would print it.
    LC_ALL=C sed -e "1s/^\\($bom\\)\\{0,1\\}[ 	]*<?xml[^>]*?>//" \
        -e 's/[ 	][wW][iI][dD][tT][hH]="[^"]*"//g' \
        -e "s/[ 	][wW][iI][dD][tT][hH]='[^']*'//g" \
        -e "s/[ 	][wW][iI][dD][tT][hH]=[^ 	>\"']*//g" \
        -e 's/[ 	][aA][lL][iI][gG][nN]="[^"]*"//g' \
        -e "s/[ 	][aA][lL][iI][gG][nN]='[^']*'//g" \
        -e "s/[ 	][aA][lL][iI][gG][nN]=[^ 	>\"']*//g" \
        -e 's/<\/\{0,1\}[cC][eE][nN][tT][eE][rR][^>]*>//g' \
        -e 's/<[hH][rR][^>]*>/<p>------------------------------------------------------------------------<\/p>/g' \
        <"$1" |
        html2text -utf8 -nobs $meta -style pretty -width 100000 -rcfile "$tmp/html2text.rc" |
        LC_ALL=C awk '
            # Nothing should be drawn this wide or this far right any more;
            # should it be, it comes back.
            length($0) > 200 && /^[-=_*]+$/ { print substr($0, 1, 72); next }
            match($0, /^[ \t]+/) && RLENGTH >= 200 { sub(/^[ \t]+/, "") }
            { print }'
}

# A page in another set than UTF-8 that does not name it in a meta tag
# (which html2text follows) is recoded here first, as `file` sees it.
convert_html() {
    have html2text || exit 0
    recoded=
    case $2 in
    iso-8859-1 | unknown-8bit | utf-16le | utf-16be)
        if ! head -c 4096 -- "$1" | grep -i -q 'charset='; then
            text_to_utf8 "$1" "$2" | tidy_text 1 >"$tmp/page.html"
            set -- "$tmp/page.html"
            recoded=recoded
        fi
        ;;
    esac
    html_to_text "$1" $recoded >"$tmp/out" || exit 0
    emit "$tmp/out"
}

# ---------------------------------------------------------------- XML

# One stylesheet for every XML format read here, chosen by the root
# element: the EPUB container and package files, DOCX, ODT, FictionBook.
write_stylesheet() {
    [ -f "$tmp/read.xsl" ] && return 0
    cat >"$tmp/read.xsl" <<'EOF'
<xsl:stylesheet version="1.0"
    xmlns:xsl="http://www.w3.org/1999/XSL/Transform"
    xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main"
    xmlns:mc="http://schemas.openxmlformats.org/markup-compatibility/2006"
    xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"
    xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0">
<xsl:output method="text" encoding="UTF-8"/>

<!-- EPUB container: where the package file is. -->
<xsl:template match="/*[local-name()='container']">
    <xsl:value-of select="*[local-name()='rootfiles']/*[local-name()='rootfile'][1]/@full-path"/>
    <xsl:text>&#10;</xsl:text>
</xsl:template>

<!-- EPUB package: the documents of the spine in reading order. -->
<xsl:key name="item" match="*[local-name()='manifest']/*[local-name()='item']" use="@id"/>
<xsl:template match="/*[local-name()='package']">
    <xsl:for-each select="*[local-name()='spine']/*[local-name()='itemref'][not(@linear='no')]">
        <xsl:for-each select="key('item', @idref)[contains(@media-type, 'html')][1]">
            <xsl:value-of select="@href"/>
            <xsl:text>&#10;</xsl:text>
        </xsl:for-each>
    </xsl:for-each>
</xsl:template>

<!-- DOCX: each paragraph's runs as one line. A text box is kept once,
     not again in the fallback drawn for older readers. -->
<xsl:template match="/w:document">
    <xsl:for-each select="//w:p[not(ancestor::mc:Fallback)]">
        <xsl:variable name="p" select="generate-id()"/>
        <xsl:for-each select=".//w:r/*[self::w:t or self::w:tab or self::w:br or self::w:cr or self::w:noBreakHyphen]">
            <xsl:if test="generate-id(ancestor::w:p[1]) = $p">
                <xsl:choose>
                    <xsl:when test="self::w:t"><xsl:value-of select="."/></xsl:when>
                    <xsl:when test="self::w:tab"><xsl:text>&#9;</xsl:text></xsl:when>
                    <xsl:when test="self::w:noBreakHyphen"><xsl:text>-</xsl:text></xsl:when>
                    <xsl:otherwise><xsl:text>&#10;</xsl:text></xsl:otherwise>
                </xsl:choose>
            </xsl:if>
        </xsl:for-each>
        <xsl:text>&#10;&#10;</xsl:text>
    </xsl:for-each>
</xsl:template>

<!-- ODT: headings and paragraphs in order; a note's or a frame's own
     paragraphs follow the one they sit in. -->
<xsl:template match="/office:document-content">
    <xsl:for-each select="office:body/office:text//*[self::text:h or self::text:p]
                          [not(ancestor::office:annotation or ancestor::text:tracked-changes)]">
        <xsl:apply-templates mode="odt"/>
        <xsl:text>&#10;&#10;</xsl:text>
    </xsl:for-each>
</xsl:template>
<xsl:template mode="odt" match="text()">
    <xsl:value-of select="translate(., '&#9;&#10;&#13;', '   ')"/>
</xsl:template>
<xsl:template mode="odt" match="text:s">
    <xsl:variable name="count">
        <xsl:choose>
            <xsl:when test="@text:c"><xsl:value-of select="@text:c"/></xsl:when>
            <xsl:otherwise>1</xsl:otherwise>
        </xsl:choose>
    </xsl:variable>
    <xsl:value-of select="substring('                                                                ', 1, $count)"/>
</xsl:template>
<xsl:template mode="odt" match="text:tab"><xsl:text>&#9;</xsl:text></xsl:template>
<xsl:template mode="odt" match="text:line-break"><xsl:text>&#10;</xsl:text></xsl:template>
<xsl:template mode="odt" match="text:note"><xsl:value-of select="text:note-citation"/></xsl:template>
<xsl:template mode="odt" match="text:p | text:h | text:list | office:annotation | *[starts-with(name(), 'draw:')]"/>
<xsl:template mode="odt" match="*"><xsl:apply-templates mode="odt"/></xsl:template>

<!-- FictionBook: the text of the bodies; verse line by line. -->
<xsl:template match="/*[local-name()='FictionBook']">
    <xsl:for-each select="*[local-name()='body']//*[local-name()='p' or local-name()='v'
                          or local-name()='subtitle' or local-name()='text-author'
                          or local-name()='td' or local-name()='th' or local-name()='empty-line']">
        <xsl:value-of select="normalize-space(.)"/>
        <xsl:choose>
            <xsl:when test="local-name()='v' and following-sibling::*[local-name()='v']">
                <xsl:text>&#10;</xsl:text>
            </xsl:when>
            <xsl:when test="local-name()='empty-line'"><xsl:text>&#10;</xsl:text></xsl:when>
            <xsl:otherwise><xsl:text>&#10;&#10;</xsl:text></xsl:otherwise>
        </xsl:choose>
    </xsl:for-each>
</xsl:template>

<xsl:template match="/*" priority="-1"/>
</xsl:stylesheet>
EOF
}

# Runs the stylesheet over XML file $1. A file that declares entities is
# refused: xsltproc would read an external one from the disk, and no
# format read here needs them.
read_xml() {
    grep -q '<!ENTITY' "$1" && return 1
    write_stylesheet
    xsltproc --nonet --novalid "$tmp/read.xsl" "$1" </dev/null
}

# ---------------------------------------------------------------- zip

expanded=0

# unzip takes member names as patterns; these match only the name itself
# (a leading "-" would be taken for an option).
zip_pattern() {
    printf '%s\n' "$1" | sed -e 's/[][*?]/[&]/g' -e 's/^-/[-]/'
}

# Writes member $1 of the archive, linked as "book" in the scratch
# directory, into file $2, never more than 64 MiB of it, nor past 256 MiB
# from the whole archive. The member is read into a pipe only: its name is
# never a path on disk. Fails for a missing, encrypted or oversized member.
zip_member() {
    [ "$expanded" -lt "$archive_limit" ] || return 1
    pattern=$(zip_pattern "$1")
    # A dummy password: an encrypted member fails instead of prompting.
    (cd "$tmp" && unzip -P drifterm -p book "$pattern" </dev/null) | head -c $((limit + 1)) >"$2"
    got=$(size_of "$2")
    expanded=$((expanded + got))
    [ "$got" -gt 0 ] && [ "$got" -le "$limit" ]
}

link_book() {
    case $1 in
    /*) ln -s -- "$1" "$tmp/book" ;;
    *) ln -s -- "$PWD/$1" "$tmp/book" ;;
    esac || exit 0
}

# The spine's hrefs, relative to the package file in directory $1, as
# member names: percent-escapes decoded, fragments dropped, "." and ".."
# resolved; anything pointing elsewhere is left out.
spine_members() {
    LC_ALL=C awk -v dir="$1" '
        function digit(c) { return index("0123456789abcdef", c) - 1 }
        function decode(s,   out, i, c, hex) {
            out = ""
            for (i = 1; i <= length(s); i++) {
                c = substr(s, i, 1)
                hex = tolower(substr(s, i + 1, 2))
                if (c == "%" && hex ~ /^[0-9a-f][0-9a-f]$/) {
                    out = out sprintf("%c", digit(substr(hex, 1, 1)) * 16 + digit(substr(hex, 2, 1)))
                    i += 2
                } else {
                    out = out c
                }
            }
            return out
        }
        function resolve(path,   parts, n, i, kept, k, out) {
            n = split(path, parts, "/")
            k = 0
            for (i = 1; i <= n; i++) {
                if (parts[i] == "" || parts[i] == ".") continue
                if (parts[i] == "..") { if (k == 0) return ""; k--; continue }
                kept[++k] = parts[i]
            }
            out = ""
            for (i = 1; i <= k; i++) out = out (i > 1 ? "/" : "") kept[i]
            return out
        }
        {
            href = $0
            sub(/#.*/, "", href)
            if (href == "" || href ~ /^[A-Za-z][A-Za-z0-9+.-]*:/ || href ~ /^\//) next
            member = resolve(dir "/" decode(href))
            if (member != "") print member
        }'
}

convert_epub() {
    have unzip && have xsltproc && have html2text || exit 0
    link_book "$1"
    zip_member META-INF/container.xml "$tmp/container.xml" || exit 0
    package=$(read_xml "$tmp/container.xml" | head -n 1)
    [ -n "$package" ] || exit 0
    zip_member "$package" "$tmp/package.xml" || exit 0
    read_xml "$tmp/package.xml" >"$tmp/spine" || exit 0
    dir=
    case $package in
    */*) dir=${package%/*} ;;
    esac
    spine_members "$dir" <"$tmp/spine" >"$tmp/members"
    : >"$tmp/out"
    while IFS= read -r member; do
        zip_member "$member" "$tmp/chapter" || continue
        html_to_text "$tmp/chapter" >>"$tmp/out"
        echo >>"$tmp/out"
    done <"$tmp/members"
    emit "$tmp/out"
}

# DOCX and ODT: the one XML member ($2) that holds the text.
convert_office() {
    have unzip && have xsltproc || exit 0
    link_book "$1"
    zip_member "$2" "$tmp/content.xml" || exit 0
    read_xml "$tmp/content.xml" >"$tmp/out" || exit 0
    emit "$tmp/out"
}

convert_fb2() {
    have xsltproc || exit 0
    read_xml "$1" >"$tmp/out" || exit 0
    emit "$tmp/out"
}

# ---------------------------------------------------------------- RTF

# unrtf's HTML keeps accented letters that its plain text output loses.
# It drops the word after a \uN whose stand-in is a bare "?", so that
# stand-in is given as an escape (\'3f), which it skips correctly.
convert_rtf() {
    have unrtf && have html2text || exit 0
    LC_ALL=C sed "s/\\\\u\\(-\\{0,1\\}[0-9]\\{1,\\}\\) \\{0,1\\}?/\\\\u\\1\\\\'3f/g" <"$1" >"$tmp/doc.rtf"
    # --nopict: pictures would be written out as files.
    (cd "$tmp" && unrtf --nopict --html doc.rtf </dev/null) >"$tmp/doc.html" || exit 0
    html_to_text "$tmp/doc.html" >"$tmp/out" || exit 0
    emit "$tmp/out"
}

# ---------------------------------------------------------------- dispatch

# Converts file $1 of kind $kind (charset $encoding); anything not
# convertible yields nothing. $2 is "always" for a decompressed file,
# whose text must be printed even when it needs no conversion.
convert() {
    case $kind in
    pdf) convert_pdf "$1" ;;
    manpage) convert_man "$1" ;;
    html) convert_html "$1" "$encoding" ;;
    epub) convert_epub "$1" ;;
    docx) convert_office "$1" word/document.xml ;;
    odt) convert_office "$1" content.xml ;;
    fb2) convert_fb2 "$1" ;;
    rtf) convert_rtf "$1" ;;
    text) convert_text "$1" "$encoding" "$2" ;;
    binary)
        order=$(utf16_order "$1")
        [ -n "$order" ] && convert_text "$1" "$order" always
        ;;
    unknown) [ "$2" = always ] && has_no_nul "$1" && emit "$1" ;;
    esac
    exit 0
}

# Writes the decompressed file $1 into "$tmp/inner", no more than 64 MiB
# of it: a longer text is cut there, any other format fails to convert.
decompress() {
    case $kind in
    gzip) tool=gzip ;;
    bzip2) tool=bzip2 ;;
    xz) tool=xz ;;
    zstd) tool=zstd ;;
    esac
    have "$tool" || exit 0
    if [ "$tool" = zstd ]; then
        { zstd -dcq <"$1" || : >"$tmp/failed"; } | head -c "$limit" >"$tmp/inner"
    else
        { "$tool" -dc <"$1" || : >"$tmp/failed"; } | head -c "$limit" >"$tmp/inner"
    fi
    # A decompressor cut off at the limit fails too; only a short one failed.
    [ -f "$tmp/failed" ] && [ "$(size_of "$tmp/inner")" -lt "$limit" ] && exit 0
}

find_charset
classify "$src" "$name"
case $kind in
gzip | bzip2 | xz | zstd)
    make_tmp
    decompress "$src"
    classify "$tmp/inner" "${name%.*}"
    case $kind in
    gzip | bzip2 | xz | zstd) exit 0 ;;
    esac
    convert "$tmp/inner" always
    ;;
text | binary | unknown)
    convert "$src"
    ;;
*)
    make_tmp
    convert "$src"
    ;;
esac
exit 0
