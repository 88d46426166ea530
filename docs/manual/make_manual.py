#!/usr/bin/env python3
"""Typesets the product manual from its text source into a PDF, with Python alone.

    make_manual.py SOURCE.txt OUT.pdf

The source is plain text: "# " title, "## " section, "### " sub-section (a heading may end in
"{#name}": a named destination, so that a reader can be sent there), "- " bullet, "1. "
numbered item, lines indented by four spaces as a literal block, "[picture FILE caption]" for a
screenshot (a PNG, path relative to the source), "[page]" for a page break; paragraphs are
separated by blank lines. The same source gives the same bytes: no dates, no random ids.
Text uses the standard Helvetica and Courier fonts; their widths come from groff's metrics.
"""
import os
import re
import struct
import sys
import zlib

PAGE_W, PAGE_H = 595.0, 842.0  # A4
LEFT, RIGHT, TOP, BOTTOM = 72.0, 72.0, 72.0, 72.0
TEXT_W = PAGE_W - LEFT - RIGHT
FOOTER = "Zelvantic for Palm 1.5 - Product Manual"
METRICS = "/usr/share/groff/current/font/devps"

ASCII_NAMES = (
    "space exclam quotedbl numbersign dollar percent ampersand quotesingle parenleft parenright "
    "asterisk plus comma hyphen period slash zero one two three four five six seven eight nine "
    "colon semicolon less equal greater question at A B C D E F G H I J K L M N O P Q R S T U V "
    "W X Y Z bracketleft backslash bracketright asciicircum underscore grave a b c d e f g h i j "
    "k l m n o p q r s t u v w x y z braceleft bar braceright asciitilde").split()


def load_widths(font_file):
    """Width in 1/1000 em of each printable ASCII character, from a groff devps font file."""
    by_name = {}
    in_charset = False
    with open(os.path.join(METRICS, font_file)) as f:
        for line in f:
            if line.startswith("charset"):
                in_charset = True
                continue
            fields = line.split()
            if in_charset and len(fields) >= 5 and fields[1] != '"':
                by_name[fields[4]] = int(fields[1].split(",")[0])
    return {chr(32 + i): by_name[name] for i, name in enumerate(ASCII_NAMES)}


class Font:
    def __init__(self, key, base, widths):
        self.key, self.base, self.widths = key, base, widths

    def width(self, text, size):
        return sum(self.widths.get(c, 500) for c in text) * size / 1000.0


def pdf_text(s):
    return "(" + s.replace("\\", "\\\\").replace("(", "\\(").replace(")", "\\)") + ")"


def read_png(path):
    """(width, height, colour space, bits, filtered image data) of a PNG that a PDF reader can
    take as it is: 8-bit grey, RGB or palette, not interlaced."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError("%s is not a PNG file" % path)
    pos, idat, palette, header = 8, [], None, None
    while pos + 8 <= len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"PLTE":
            palette = body
        elif kind == b"IDAT":
            idat.append(body)
        pos += 12 + length
    if not header:
        raise ValueError("%s has no header" % path)
    width, height, bits, colour, _, _, interlace = header
    if bits != 8 or interlace or colour not in (0, 2, 3) or (colour == 3 and not palette):
        raise ValueError("%s: need an 8-bit grey, RGB or palette PNG, not interlaced" % path)
    if colour == 0:
        space, colours = "/DeviceGray", 1
    elif colour == 2:
        space, colours = "/DeviceRGB", 3
    else:
        space = "[/Indexed /DeviceRGB %d <%s>]" % (len(palette) // 3 - 1, palette.hex())
        colours = 1
    return width, height, space, colours, b"".join(idat)


class Document:
    def __init__(self):
        self.fonts = {
            "body": Font("F1", "Helvetica", load_widths("HR")),
            "bold": Font("F2", "Helvetica-Bold", load_widths("HB")),
            "mono": Font("F3", "Courier", {chr(c): 600 for c in range(32, 127)}),
        }
        self.pages = []  # content streams
        self.images = []  # (name, png tuple)
        self.destinations = {}  # name: (page index, y)
        self.ops = None
        self.y = 0.0
        self.new_page()

    def new_page(self):
        self.ops = []
        self.pages.append(self.ops)
        self.y = PAGE_H - TOP

    def room(self, height):
        if self.y - height < BOTTOM:
            self.new_page()

    def text_at(self, x, y, text, font, size, grey=0.0):
        f = self.fonts[font]
        self.ops.append("BT /%s %.1f Tf %.3f g %.2f %.2f Td %s Tj ET" %
                        (f.key, size, grey, x, y, pdf_text(text)))

    def wrap(self, words, font, size, width):
        lines, line = [], ""
        for word in words:
            trial = word if not line else line + " " + word
            if line and self.fonts[font].width(trial, size) > width:
                lines.append(line)
                line = word
            else:
                line = trial
        if line:
            lines.append(line)
        return lines

    def paragraph(self, text, font="body", size=10.0, indent=0.0, first="", after=6.0,
                  keep=0.0):
        leading = size * 1.4
        lines = self.wrap(text.split(), font, size, TEXT_W - indent)
        self.room(leading * min(len(lines), 2) + keep)
        for i, line in enumerate(lines):
            self.room(leading)
            self.y -= leading
            if i == 0 and first:
                self.text_at(LEFT + indent - self.fonts[font].width(first + " ", size), self.y,
                             first, font, size)
            self.text_at(LEFT + indent, self.y, line, font, size)
        self.y -= after

    def heading(self, text, level, anchor=None):
        size = {1: 22.0, 2: 15.0, 3: 11.5}[level]
        self.y -= {1: 0.0, 2: 14.0, 3: 6.0}[level]
        if anchor:
            self.room(size * 1.4 + 40.0)  # where paragraph() will put it
            self.destinations[anchor] = (len(self.pages) - 1, self.y)
        # Never alone at the foot of a page.
        self.paragraph(text, "bold", size, after=4.0 if level > 1 else 10.0, keep=40.0)

    def literal(self, lines):
        size, leading = 9.0, 12.0
        self.room(leading * len(lines) + 6)
        for line in lines:
            self.y -= leading
            self.text_at(LEFT + 16, self.y, line, "mono", size)
        self.y -= 8.0

    def picture(self, path, caption):
        png = read_png(path)
        name = "Im%d" % (len(self.images) + 1)
        self.images.append((name, png))
        width, height = png[0] * 0.75, png[1] * 0.75  # screen pixels at 96 per inch
        if width > TEXT_W:
            width, height = TEXT_W, height * TEXT_W / width
        self.room(height + 30)
        self.y -= height + 4
        x = LEFT + (TEXT_W - width) / 2
        self.ops.append("q 0.6 G 0.5 w %.2f %.2f %.2f %.2f re S Q" %
                        (x - 0.5, self.y - 0.5, width + 1, height + 1))
        self.ops.append("q %.2f 0 0 %.2f %.2f %.2f cm /%s Do Q" % (width, height, x, self.y, name))
        self.y -= 14
        size = 8.5
        cw = self.fonts["body"].width(caption, size)
        self.text_at(LEFT + (TEXT_W - min(cw, TEXT_W)) / 2, self.y, caption, "body", size, 0.35)
        self.y -= 12

    def write(self, out_path, title):
        objects = []  # bodies, numbered from 1

        def add(body):
            objects.append(body)
            return len(objects)

        catalog = add(None)
        pages_id = add(None)
        font_ids = {f.key: add(("<< /Type /Font /Subtype /Type1 /BaseFont /%s "
                                "/Encoding /WinAnsiEncoding >>" % f.base).encode())
                    for f in self.fonts.values()}
        image_ids = {}
        for name, (w, h, space, colours, data) in self.images:
            image_ids[name] = add(("<< /Type /XObject /Subtype /Image /Width %d /Height %d "
                                   "/ColorSpace %s /BitsPerComponent 8 /Filter /FlateDecode "
                                   "/DecodeParms << /Predictor 15 /Colors %d /BitsPerComponent 8 "
                                   "/Columns %d >> /Length %d >>\nstream\n" %
                                   (w, h, space, colours, w, len(data))).encode() + data +
                                  b"\nendstream")
        resources = "<< /Font << %s >> /XObject << %s >> >>" % (
            " ".join("/%s %d 0 R" % kv for kv in sorted(font_ids.items())),
            " ".join("/%s %d 0 R" % kv for kv in sorted(image_ids.items())))
        page_ids = []
        total = len(self.pages)
        for number, ops in enumerate(self.pages, 1):
            f = self.fonts["body"]
            label = "page %d of %d" % (number, total)
            footer = ["BT /F1 8 Tf 0.4 g %.2f %.2f Td %s Tj ET" % (LEFT, BOTTOM / 2,
                                                                  pdf_text(FOOTER)),
                      "BT /F1 8 Tf 0.4 g %.2f %.2f Td %s Tj ET" % (
                          PAGE_W - RIGHT - f.width(label, 8), BOTTOM / 2, pdf_text(label))]
            stream = zlib.compress("\n".join(ops + footer).encode("latin-1"), 9)
            content = add(b"<< /Filter /FlateDecode /Length %d >>\nstream\n" % len(stream) +
                          stream + b"\nendstream")
            page_ids.append(add(("<< /Type /Page /Parent %d 0 R /MediaBox [0 0 %g %g] "
                                 "/Resources %s /Contents %d 0 R >>" %
                                 (pages_id, PAGE_W, PAGE_H, resources, content)).encode()))
        # The reader's page numbers are the printed ones; the names point at their headings.
        dests = add(("<< /Names [%s] >>" % " ".join(
            "%s [%d 0 R /XYZ 0 %.2f null]" % (pdf_text(name), page_ids[page], y)
            for name, (page, y) in sorted(self.destinations.items()))).encode())
        objects[catalog - 1] = (b"<< /Type /Catalog /Pages %d 0 R /PageLabels << /Nums [0 << /S /D "
                                b">>] >> /Names << /Dests %d 0 R >> >>" % (pages_id, dests))
        objects[pages_id - 1] = ("<< /Type /Pages /Kids [%s] /Count %d >>" % (
            " ".join("%d 0 R" % p for p in page_ids), total)).encode()
        info = add(("<< /Title %s /Author (Morvane) /Producer (make_manual.py) >>" %
                    pdf_text(title)).encode("latin-1"))

        out = bytearray(b"%PDF-1.4\n%\xe2\xe3\xcf\xd3\n")
        offsets = []
        for number, body in enumerate(objects, 1):
            offsets.append(len(out))
            out += b"%d 0 obj\n" % number + body + b"\nendobj\n"
        xref = len(out)
        out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
        for offset in offsets:
            out += b"%010d 00000 n \n" % offset
        out += b"trailer\n<< /Size %d /Root %d 0 R /Info %d 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (
            len(objects) + 1, catalog, info, xref)
        tmp = out_path + ".tmp"
        with open(tmp, "wb") as f:
            f.write(out)
        os.replace(tmp, out_path)  # never a half-written manual in place
        return total


def typeset(source_path, out_path):
    base = os.path.dirname(os.path.abspath(source_path))
    with open(source_path, encoding="ascii") as f:
        lines = f.read().splitlines()
    doc = Document()
    title = "Zelvantic"
    block = []  # lines of the paragraph being gathered
    kind = None

    def flush():
        nonlocal block, kind
        if block:
            text = " ".join(part.strip() for part in block)
            if kind == "bullet":
                doc.paragraph(text, indent=18, first="\x95", after=3)
            elif kind and kind.startswith("number"):
                doc.paragraph(text, indent=18, first=kind[len("number"):], after=3)
            elif kind == "literal":
                doc.literal(block)
            else:
                doc.paragraph(text)
        block, kind = [], None

    for line in lines:
        if kind == "literal":
            if line.startswith("    ") or not line.strip():
                block.append(line[4:])
                continue
            while block and not block[-1].strip():
                block.pop()
            flush()
        picture = re.match(r"^\[picture (\S+) (.+)\]$", line)
        numbered = re.match(r"^(\d+\.) (.*)$", line)
        if not line.strip():
            flush()
        elif line.startswith("    ") and not block:
            kind, block = "literal", [line[4:]]
        elif line.startswith("# "):
            flush()
            title = line[2:].strip()
            doc.heading(title, 1)
        elif line.startswith("## "):
            flush()
            text, anchor = re.match(r"^(.*?)\s*(?:\{#(\w+)\})?$", line[3:].strip()).groups()
            doc.heading(text, 2, anchor)
        elif line.startswith("### "):
            flush()
            doc.heading(line[4:].strip(), 3)
        elif line == "[page]":
            flush()
            doc.new_page()
        elif picture:
            flush()
            doc.picture(os.path.join(base, picture.group(1)), picture.group(2))
        elif line.startswith("- "):
            flush()
            kind, block = "bullet", [line[2:]]
        elif numbered:
            flush()
            kind, block = "number" + numbered.group(1), [numbered.group(2)]
        else:
            block.append(line)
    flush()
    return doc.write(out_path, title)


def main(argv):
    if len(argv) != 3:
        sys.stderr.write(__doc__)
        return 2
    try:
        pages = typeset(argv[1], argv[2])
    except (OSError, ValueError, UnicodeDecodeError) as e:
        sys.stderr.write("make_manual: %s\n" % e)
        return 1
    print("manual: %s (%d pages)" % (argv[2], pages))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
