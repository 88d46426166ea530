"""The rates file's bytes from its count on, worked out from a page by the line rule: a line feed
becomes a zero byte, the first tab of a line a space, every further tab a zero byte; the count is
the number of line feeds, four digits and a zero byte."""


def rates_body(page):
    out, column = bytearray(), 1
    for c in page:
        if c in (9, 10):
            if c == 10:
                column = 0
            column += 1
            out.append(32 if column == 2 else 0)
        else:
            out.append(c)
    return b"%04d\0" % page.count(b"\n") + bytes(out)
