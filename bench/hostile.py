#!/usr/bin/python3
"""Hostile files through the bundled filter and the converter: for each,
the seconds it takes, the peak resident memory of the whole process tree
(sampled) and of its largest process (from the kernel's accounting), and
what it shows. bench/run takes its rows; run alone it prints them.

The files are made here, each under 200 KB but the four-chapter book.
Standard library only, and the system's gzip and (for DjVu) bzz.

Usage: bench/hostile.py [CONVERTER]
"""

import gzip
import io
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
FILTER = os.path.join(ROOT, "filter", "lesspipe.sh")
MIB = 1 << 20
CONTAINER = ('<container xmlns="urn:oasis:names:tc:opendocument:xmlns:container"><rootfiles>'
             '<rootfile full-path="%s"/></rootfiles></container>')
WORD = "http://schemas.openxmlformats.org/wordprocessingml/2006/main"


# ---------------------------------------------------------------- files

def zipped(members):
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w") as z:
        for name, data in members:
            z.writestr(name, data, zipfile.ZIP_STORED if name == "mimetype" else zipfile.ZIP_DEFLATED)
    return out.getvalue()


def epub(chapters, package="OEBPS/content.opf"):
    items = "".join('<item id="c%d" href="c%d.xhtml" media-type="application/xhtml+xml"/>' % (i, i)
                    for i in range(len(chapters)))
    spine = "".join('<itemref idref="c%d"/>' % i for i in range(len(chapters)))
    opf = ('<package xmlns="http://www.idpf.org/2007/opf"><manifest>%s</manifest><spine>%s</spine></package>'
           % (items, spine))
    return zipped([("mimetype", b"application/epub+zip"), ("META-INF/container.xml", CONTAINER % package),
                   ("OEBPS/content.opf", opf)] + [("OEBPS/c%d.xhtml" % i, c) for i, c in enumerate(chapters)])


def docx(body):
    return zipped([("word/document.xml", b'<w:document xmlns:w="%s"><w:body>%s</w:body></w:document>'
                    % (WORD.encode(), body))])


def page(body):
    return b"<html><body>" + body + b"</body></html>"


def bzz(raw):
    """`raw` compressed as DjVu's chunks are (bzz -e), or None without bzz."""
    if not shutil.which("bzz"):
        return None
    with tempfile.TemporaryDirectory() as d:
        with open(os.path.join(d, "in"), "wb") as f:
            f.write(raw)
        subprocess.run(["bzz", "-e", os.path.join(d, "in"), os.path.join(d, "out")], check=True)
        with open(os.path.join(d, "out"), "rb") as f:
            return f.read()


def chunk(name, data):
    return name + struct.pack(">I", len(data)) + data + (b"\0" if len(data) % 2 else b"")


def djvu_form(form, chunks):
    return b"AT&TFORM" + struct.pack(">I", len(form) + len(chunks)) + form + chunks


def deep_djvu(depth):
    """A page whose text zones nest `depth` deep."""
    zone = b"".join(bytes([1 if i == 0 else 3]) + struct.pack(">HHHHH", 0x8000, 0x8000, 0x8064, 0x8064, 0x8000)
                    + (4).to_bytes(3, "big") + (1 if i + 1 < depth else 0).to_bytes(3, "big")
                    for i in range(depth))
    packed = bzz((4).to_bytes(3, "big") + b"deep\x01" + zone)
    info = struct.pack(">HH", 100, 100) + b"\x18\x00" + struct.pack("<H", 300) + b"\x16\x01"
    return packed and djvu_form(b"DJVU", chunk(b"INFO", info) + chunk(b"TXTz", packed))


def indirect_djvu(name):
    packed = bzz(b"\0\0\0\x01" + name + b"\0")
    return packed and djvu_form(b"DJVM", chunk(b"DIRM", b"\x01" + struct.pack(">H", 1) + packed))


def looping_chm():
    """A CHM file whose one listing block names itself as the next."""
    block_len = 4096
    block = b"PMGL" + struct.pack("<IIii", block_len - 0x14, 0, -1, 0)
    block += b"\0" * (block_len - len(block))
    itsp = b"ITSP" + struct.pack("<IIIIIIiIiIiI", 1, 0x54, 0x0A, block_len, 2, 1, -1, 0, -1, 1, -1, 0x409)
    itsp += b"\0" * (0x54 - len(itsp))
    head = b"ITSF" + struct.pack("<IIIII", 3, 0x60, 1, 0, 0x409) + b"\0" * 32
    head += struct.pack("<QQQQQ", 0, 0, 0x60, len(itsp) + len(block), 0x60 + len(itsp) + len(block))
    return head + b"\0" * (0x60 - len(head)) + itsp + block


def hostile_files():
    """(name, maker, what) of each hostile file; made one at a time, so that
    no large file is in this process's memory when the next runs (a child
    counts what its parent held before the exec)."""
    def flood():
        return b"<p>a</p>" * (60 * MIB // 8)
    return [
        ("deep.djvu", lambda: deep_djvu(100000), "DjVu text zones nested 100,000 deep"),
        ("indirect.djvu", lambda: indirect_djvu(b"../../x"), "indirect DjVu, its page named ../../x"),
        ("loop.chm", looping_chm, "CHM whose directory block links to itself"),
        ("flood.epub", lambda: epub([page(b"<p>First chapter words.</p>"), page(flood())]),
         "EPUB, a chapter of 60 MiB of <p>a</p>"),
        ("floods.epub", lambda: epub([page(flood())] * 4), "EPUB, four such chapters"),
        ("empty.docx", lambda: docx(b"<w:p/>" * 10000000), "DOCX of 10 million empty <w:p/>"),
        ("flood.html.gz", lambda: gzip.compress(page(flood()), 9, mtime=0), "gzipped HTML, 60 MiB of <p>a</p>"),
        ("flood.rtf.gz", lambda: gzip.compress(b"{\\rtf1 " + b"a\\par " * (60 * MIB // 6) + b"}", 9, mtime=0),
         "gzipped RTF, 60 MiB of paragraphs"),
        ("twice.txt.gz.gz", lambda: gzip.compress(gzip.compress(b"Words.\n", mtime=0), mtime=0), "compressed twice"),
        ("four.txt.gz.gz.gz.gz", lambda: four_times(b"Words.\n"), "compressed four times"),
        ("deep.rtf.gz", lambda: gzip.compress(b"{\\rtf1 a" + b"{" * 2000000 + b"b" + b"}" * 2000000 + b"}", 9,
                                              mtime=0), "RTF, 2 million nested groups"),
        ("deep.html.gz", lambda: gzip.compress(page(b"<div>" * 1000000 + b"b" + b"</div>" * 1000000), 9, mtime=0),
         "HTML, a million nested <div>"),
        ("none.epub", lambda: epub([page(b'<img src="x.png"/>')]), "EPUB with no readable text"),
        ("none.docx", lambda: docx(b"<w:p/>"), "DOCX with no readable text"),
        ("bomb.epub", lambda: epub([page(b"<p>" + b"a" * (150 * MIB) + b"</p>")]), "zip bomb, 150 MiB a member"),
        ("outside.epub", lambda: epub([page(b"<p>Inside.</p>")], "../../etc/passwd"),
         "EPUB container pointing outside"),
    ]


def four_times(data):
    for _ in range(4):
        data = gzip.compress(data, mtime=0)
    return data


# ---------------------------------------------------------------- measures

def tree_rss_kb(root):
    """Resident KiB of `root` and every process below it."""
    parents, rss = {}, {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry) as f:
                fields = f.read().rsplit(")", 1)[1].split()
            parents[int(entry)] = int(fields[1])
            rss[int(entry)] = int(fields[21]) * os.sysconf("SC_PAGE_SIZE") // 1024
        except (OSError, IndexError, ValueError):
            continue
    total = 0
    for pid in rss:
        at = pid
        while at > 1 and at != root:
            at = parents.get(at, 0)
        if at == root:
            total += rss[pid]
    return total


def run_filter(path, converter, home):
    """Seconds, peak tree KiB (sampled every few ms), peak KiB of its
    largest process (from GNU time, whose exec leaves this interpreter's
    memory out of the count; 0 without it), and what the filter printed."""
    env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": home, "LANG": "C.UTF-8",
           "DRIFTERM_CONVERT": converter}
    out = tempfile.TemporaryFile()
    report = tempfile.NamedTemporaryFile()
    timer = ["/usr/bin/time", "-f", "%M", "-o", report.name] if os.access("/usr/bin/time", os.X_OK) else []
    start = time.monotonic()
    proc = subprocess.Popen(timer + ["sh", FILTER, path], stdout=out, stderr=subprocess.DEVNULL,
                            stdin=subprocess.DEVNULL, env=env)
    peak = 0
    while proc.poll() is None:
        peak = max(peak, tree_rss_kb(proc.pid))
        time.sleep(0.003)
    took = time.monotonic() - start
    largest = report.read().decode().strip().split("\n")[-1] if timer else "0"
    out.seek(0)
    return took, peak, int(largest) if largest.isdigit() else 0, out.read()


def summary(shown):
    """The last line shown, shortened, and how many lines came before."""
    lines = shown.decode("utf-8", "replace").rstrip("\n").split("\n")
    last = lines[-1] if lines else ""
    before = len([l for l in lines[:-1] if l])
    return (last if len(last) <= 90 else last[:87] + "...") + (" (after %d rows)" % before if before else "")


def measure_hostile(work, converter, home):
    """Rows of (what, size, seconds, tree MiB, largest MiB, shown)."""
    rows = []
    for name, make, what in hostile_files():
        data = make()
        if not data:
            rows.append((what, "", "", "", "", "not made: bzz is not installed"))
            continue
        path = os.path.join(work, name)
        with open(path, "wb") as f:
            f.write(data)
        size = len(data)
        del data
        took, tree, largest, shown = run_filter(path, converter, home)
        raw = any(b < 0x20 and b not in (9, 10) for b in shown)
        shown_size = "%d B" % size if size < 1000 else "%.0f KB" % (size / 1000)
        rows.append((what, shown_size, "%.2f s" % took, "%.0f MiB" % (tree / 1024),
                     "%.0f MiB" % (largest / 1024), ("RAW BYTES " if raw else "") + summary(shown)))
        os.unlink(path)
    return rows


def main():
    converter = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build", "drifterm-convert")
    work = tempfile.mkdtemp(prefix="drifterm-hostile-")
    try:
        home = os.path.join(work, "home")
        os.mkdir(home)
        rows = measure_hostile(work, converter, home)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("| File | Size | Time | Peak, whole tree | Peak, largest process | Shown |")
    print("|---|---|---|---|---|---|")
    for row in rows:
        print("| " + " | ".join(row) + " |")


if __name__ == "__main__":
    main()
