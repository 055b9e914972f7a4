"""Reads a plot that rvx wrote, with parsers independent of rvx, and prints
what the tests look at as JSON.

  plot_reader.py FILE.svg  ->  {"width", "height", "elements": [{"tag", "text", attributes...}]}
  plot_reader.py FILE.png  ->  {"width", "height"}

An SVG must parse as XML; a PNG must have its signature, chunks whose CRCs
match, a header first and an end last, and image data that inflates to
exactly the rows its header announces. Anything else exits with status 1.
"""
import json
import struct
import sys
import xml.etree.ElementTree as ElementTree
import zlib

SVG = "{http://www.w3.org/2000/svg}"


def read_svg(path):
    root = ElementTree.parse(path).getroot()
    if root.tag != SVG + "svg":
        raise ValueError("the root is " + root.tag)
    elements = [dict(element.attrib, tag=element.tag.removeprefix(SVG), text=element.text or "")
                for element in root.iter()]
    return {"width": float(root.get("width")), "height": float(root.get("height")),
            "elements": elements}


def read_png(path):
    data = open(path, "rb").read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError("no PNG signature")
    at, chunks = 8, []
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        (crc,) = struct.unpack(">I", data[at + 8 + length:at + 12 + length])
        if len(body) != length or zlib.crc32(kind + body) != crc:
            raise ValueError("chunk %r is damaged" % kind)
        chunks.append((kind, body))
        at += 12 + length
    if chunks[0][0] != b"IHDR" or chunks[-1][0] != b"IEND":
        raise ValueError("IHDR must come first and IEND last")
    width, height, depth, colour = struct.unpack(">IIBB", chunks[0][1][:10])
    channels = {0: 1, 2: 3, 4: 2, 6: 4}[colour]
    pixels = zlib.decompress(b"".join(body for kind, body in chunks if kind == b"IDAT"))
    if depth != 8 or len(pixels) != height * (1 + width * channels):
        raise ValueError("the image data does not fill %d x %d pixels" % (width, height))
    return {"width": width, "height": height}


def main():
    path = sys.argv[1]
    try:
        result = read_png(path) if path.endswith(".png") else read_svg(path)
    except (ValueError, KeyError, struct.error, zlib.error, ElementTree.ParseError) as error:
        print(path + ": " + str(error), file=sys.stderr)
        return 1
    json.dump(result, sys.stdout)
    return 0


if __name__ == "__main__":
    sys.exit(main())
