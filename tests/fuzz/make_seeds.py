#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets, tests/fuzz/corpus/<Target>/.

The files are committed; run this again only to change the seeds. Inputs a
fuzzer found are kept beside them under names of their own and are left
alone here.

    python3 tests/fuzz/make_seeds.py
"""
import os
import random
import struct

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")


def write(target, name, data):
    folder = os.path.join(ROOT, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(bytes(data))


# --- PictureLoader: BMP files. An odd file length makes the fuzz target's
# source seek; an even one reads and drops. The same picture therefore comes
# twice, the second with one byte more than bfSize announces.

def stride(width):
    return (3 * width + 3) & ~3


def bmp(width, height, bit_count=24, compression=0, bi_size=40, info_size=40, pixels=None,
        bf_size=None, off_bits=None, cut=None, magic=b"BM"):
    rows = abs(height)
    if pixels is None:
        s = stride(max(width, 0))
        pixels = bytes((x * 7 + y * 13) & 0xFF for y in range(rows) for x in range(s))
    off = 14 + info_size if off_bits is None else off_bits
    size = 14 + info_size + len(pixels) if bf_size is None else bf_size
    info = struct.pack("<IiiHHIIiiII", bi_size, width, height, 1, bit_count, compression,
                       len(pixels) & 0xFFFFFFFF, 2835, 2835, 0, 0)
    info += bytes(i & 0xFF for i in range(40, info_size))
    data = magic + struct.pack("<IHHI", size & 0xFFFFFFFF, 0, 0, off) + info + pixels
    return data if cut is None else data[:cut]


def picture_loader():
    t = "PictureLoader"
    both = {
        "whole_1x1": bmp(1, 1),
        "whole_4x3": bmp(4, 3),
        "whole_4x3_topdown": bmp(4, -3),
        "whole_5x2_cut": bmp(5, 2, cut=14 + 40 + 20),
        "whole_wide_300x2": bmp(300, 2, pixels=b"\x40" * 100),
        "whole_tall_2x300": bmp(2, 300, pixels=b"\x41" * 100),
        # Crops: headers of large pictures with only the first pixel bytes.
        "crop_193x193": bmp(193, 193, pixels=bytes(range(256)) * 4,
                            bf_size=54 + stride(193) * 193),
        "crop_6000x4000": bmp(6000, 4000, pixels=b"\x7f" * 64, bf_size=54 + stride(6000) * 4000),
        "crop_max_sides": bmp(0x7FFFFFFF, 0x7FFFFFFF, pixels=b"\x11" * 16, bf_size=0xFFFFFFFF),
        "no_pixel_count": bmp(3, 3, bf_size=54 + 2),
        "info_with_masks": bmp(2, 2, info_size=52),
        # Whole pictures announced by headers alone: refused for what they
        # lack, before the picture is made when the length is known.
        "whole_announced_192x450000": bmp(192, 450000, pixels=b"", bf_size=54),
        "whole_announced_192x20000": bmp(192, 20000, pixels=b"", bf_size=0),
    }
    for name, data in both.items():
        write(t, name + ".bmp", data if len(data) % 2 == 0 else data + b"\0")
        write(t, name + "_seek.bmp", data + b"\0" if len(data) % 2 == 0 else data)
    refused = {
        "empty": b"",
        "one_byte": b"B",
        "not_bitmap": b"PK\x03\x04" + bytes(60),
        "short_header": b"BM\x10\x00\x00",
        "eight_bit": bmp(4, 4, bit_count=8, info_size=40 + 1024, pixels=bytes(16)),
        "rle": bmp(4, 4, compression=1, pixels=bytes(8)),
        "core_header": bmp(2, 2, bi_size=12),
        "header_larger_than_block": bmp(2, 2, bi_size=124),
        "off_bits_too_small": bmp(2, 2, off_bits=20),
        "off_bits_too_large": bmp(2, 2, off_bits=0x7FFFFFFF),
        "info_cut": bmp(2, 2, cut=30),
        "zero_width": bmp(0, 4),
        "negative_width": bmp(-4, 4, pixels=bytes(8)),
        "zero_height": bmp(4, 0),
        "bf_size_below_offset": bmp(2, 2, bf_size=10),
        # Whole pictures beyond what the target's allocator gives, and beyond
        # what the loader takes at all.
        "over_allocator_cap": bmp(192, 30000, pixels=bytes(8)),
        "over_whole_limit": bmp(1, -0x80000000, pixels=bytes(8)),
    }
    for name, data in refused.items():
        write(t, name + ".bmp", data)


# --- PictureHeader: the start of a picture file of each format the preview
# takes, read before any decoder sees it. Each input is read both through a
# seeking source and through read-and-drop.

def jpeg_segment(marker, payload):
    return bytes([0xFF, marker]) + struct.pack(">H", len(payload) + 2) + payload


def jpeg_frame(marker, width, height):
    return jpeg_segment(marker, struct.pack(">BHHB", 8, height, width, 3) + bytes([1, 0x22, 0, 2, 0x11, 1, 3, 0x11, 1]))


def tiff_block(big, entries, gap=0, ifd=None):
    order = ">" if big else "<"
    data = (b"MM" if big else b"II") + struct.pack(order + "HI", 42, 8 + gap if ifd is None else ifd)
    data += bytes((i * 37) & 0xFF for i in range(gap)) + struct.pack(order + "H", len(entries))
    for tag, kind, count, value in entries:
        packed = struct.pack(order + "HH", value, 0) if kind == 3 else struct.pack(order + "I", value)
        data += struct.pack(order + "HHI", tag, kind, count) + packed
    return data + struct.pack(order + "I", 0)


def exif(big, orientation, kind=3, count=1):
    entries = [(271, 2, 4, 0), (272, 2, 4, 0), (274, kind, count, orientation), (282, 5, 1, 0)]
    return jpeg_segment(0xE1, b"Exif\0\0" + tiff_block(big, entries))


def png(width, height):
    return b"\x89PNG\r\n\x1a\n" + struct.pack(">I4sIIBBBBBI", 13, b"IHDR", width, height, 8, 6, 0, 0, 0, 0)


def gif(screen, flags, blocks, size, version=b"GIF89a"):
    table = bytes(3 << ((flags & 7) + 1)) if flags & 0x80 else b""
    return (version + struct.pack("<HHBBB", screen[0], screen[1], flags, 0, 0) + table + blocks +
            b"\x2c" + struct.pack("<HHHHB", 0, 0, size[0], size[1], 0) + b"\x02\x02\x44\x01\x00\x3b")


def picture_header():
    t = "PictureHeader"
    soi = b"\xff\xd8"
    jfif = jpeg_segment(0xE0, b"JFIF\0\x01\x01\0\0\x01\0\x01\0\0")
    tables = (jpeg_segment(0xDB, bytes([0]) + bytes(range(1, 65))) +
              jpeg_segment(0xC4, bytes([0]) + bytes([0, 1, 5, 1, 1, 1, 1, 1, 1]) + bytes(7) + bytes(range(12))))
    comment = b"\x21\xfe\x05hello\x00"
    control = b"\x21\xf9\x04\x01\x00\x00\x00\x00"
    netscape = b"\x21\xff\x0bNETSCAPE2.0\x03\x01\x00\x00\x00"
    seeds = {
        "bmp_plain_24.bmp": bmp(4, 3),
        "bmp_8bit.bmp": bmp(300, 200, bit_count=8, info_size=40 + 1024, pixels=bytes(16)),
        "bmp_32bit_topdown.bmp": bmp(640, -480, bit_count=32, pixels=bytes(16)),
        "bmp_bitfields_v5.bmp": bmp(33, 17, bit_count=16, compression=3, bi_size=124, info_size=124,
                                    pixels=bytes(16)),
        "bmp_core.bmp": b"BM" + struct.pack("<IHHIIHHHH", 32, 0, 0, 32, 12, 1000, 700, 1, 8) + bytes(6),
        "bmp_lowest_height.bmp": bmp(10, -0x80000000, bit_count=4, pixels=b""),
        "jpeg_exif_mm_6.jpg": soi + jfif + exif(True, 6) + tables + jpeg_frame(0xC0, 640, 480) +
                              jpeg_segment(0xDA, bytes([1, 1, 0, 0, 63, 0])) + b"\x12\x34\xff\xd9",
        "jpeg_exif_ii_8_progressive.jpg": soi + exif(False, 8) + b"\xff\xff\xff\xd0\xff\x01" +
                                          jpeg_frame(0xC2, 6000, 4000),
        "jpeg_exif_long_orientation.jpg": soi + exif(False, 6, kind=4) + jpeg_frame(0xC1, 7, 9),
        "jpeg_large_segments.jpg": soi + exif(True, 3) + jpeg_segment(0xE2, bytes(5000)) +
                                   jpeg_segment(0xED, bytes(range(256)) * 20) + jpeg_frame(0xC0, 4000, 3000),
        # Small enough for the target to place a block of the input's bytes.
        "jpeg_small_exif_6.jpg": soi + exif(True, 6) + jpeg_frame(0xC0, 7, 9),
        "jpeg_small_exif_7.jpg": soi + exif(False, 7) + jpeg_frame(0xC0, 100, 40),
        "jpeg_dnl_height_0.jpg": soi + jpeg_frame(0xC0, 640, 0),
        "jpeg_huge.jpg": soi + jpeg_frame(0xC3, 65535, 65535),
        "jpeg_scan_first.jpg": soi + jpeg_segment(0xDA, bytes(6)) + jpeg_frame(0xC0, 8, 8),
        "png.png": png(800, 600) + struct.pack(">I4s", 0, b"IEND"),
        "png_huge.png": png(65535, 65535),
        "png_zero.png": png(0, 0),
        "gif_extensions.gif": gif((500, 400), 0xF7, control + comment + netscape, (320, 200)),
        "gif87_plain.gif": gif((16, 16), 0x00, b"", (16, 16), version=b"GIF87a"),
        "gif_screen_too_large.gif": gif((40000, 10), 0x80, b"", (16, 16)),
        "gif_trailer_first.gif": b"GIF89a" + struct.pack("<HHBBB", 8, 8, 0, 0, 0) + control + b"\x3b",
        "tiff_mm_ifd_after_pixels.tif": tiff_block(True, [(254, 4, 1, 0), (256, 3, 1, 1200), (257, 3, 1, 900),
                                                          (258, 3, 3, 8)], gap=5000),
        "tiff_ii_long.tif": tiff_block(False, [(257, 4, 1, 20000), (256, 4, 1, 3000)], gap=16),
        "tiff_ifd_in_header.tif": tiff_block(False, [(256, 3, 1, 10), (257, 3, 1, 10)], ifd=4),
        "tiff_many_entries.tif": tiff_block(True, [(300 + i, 3, 1, i) for i in range(400)] +
                                            [(256, 3, 1, 64), (257, 3, 1, 48)]),
        "bigtiff.tif": b"II+\0" + struct.pack("<HHQ", 8, 0, 16),
        "empty": b"",
    }
    for name, data in seeds.items():
        write(t, name, data)


# --- ColorSettingsFile: a 4-byte header (32, 100) and 28 bytes of settings.

def settings(b=0, c=0, s=0, cr=0, mg=0, yb=0, sharp=0, r1=0, enabled=0, amount=5, radius=10,
             threshold=5, r2=0):
    return struct.pack("<hhhhhhHHihhhH", b, c, s, cr, mg, yb, sharp, r1, enabled, amount, radius,
                       threshold, r2)


def color_settings_file():
    t = "ColorSettingsFile"
    header = struct.pack("<HH", 32, 100)
    write(t, "defaults.col", header + settings())
    write(t, "sample.col", header + settings(3, -4, 5, -6, 7, -8, 2, 0, 1, 9, 25, 17))
    write(t, "reserved_set.col", header + settings(r1=0x1111, r2=0x2222))
    write(t, "out_of_range.col", header + settings(0x7FFF, -0x8000, 11, -11, 10, -10, 0xFFFF, 0, 2,
                                                   -1, 0, 21))
    write(t, "enabled_minus_one.col", header + settings(enabled=-1, amount=13, radius=31, threshold=-1))
    write(t, "longer_read.col", header + settings(1, 1, 1) + b"trailing bytes")
    write(t, "short_read.col", (header + settings())[:31])
    write(t, "wrong_mark.col", struct.pack("<HH", 32, 101) + settings())
    write(t, "wrong_size.col", struct.pack("<HH", 28, 100) + settings())
    write(t, "empty.col", b"")


# --- DevMode: mode, flags, the 564-byte output block, the 220-byte public
# device mode, then the input block.

NO_IN, NO_OUT, NO_PUBLIC, IN_IS_OUT, NO_REQUEST = 1, 2, 4, 8, 16
SIZE, DEFAULT, CONVERT, MERGE = 1, 2, 3, 4


def private(sig=b"LPCN", size=564, version=1, body=None, path="C:\\pictures\\kite.bmp", smear=2):
    if body is None:
        body = settings(3, -4, 5, -6, 7, -8, 2, 0x1111, 1, 9, 25, 17, 0x2222)
    name = path.encode("utf-16-le").ljust(520, b"\0")
    return struct.pack("<I4sI", size, sig, version) + body + name + struct.pack("<HH", smear, 0x3333)


def public(name="QZ410", paper=9, orientation=1):
    dm = bytearray(220)
    dm[0:64] = name.encode("utf-16-le").ljust(64, b"\0")[:64]
    struct.pack_into("<hh", dm, 76, orientation, paper)
    return bytes(dm)


def dev_mode():
    t = "DevMode"
    own = private()
    filled = bytes([0xCD]) * 564

    def req(name, mode, flags=0, out=own, pub=public(), inp=b""):
        write(t, name + ".dm", bytes([mode, flags]) + out + pub + inp)

    req("size", SIZE)
    req("default_over_garbage", DEFAULT, out=filled, pub=public(paper=256))
    req("default_server_name", DEFAULT, out=filled, pub=public(name="\\\\server\\qz410", paper=300))
    req("default_no_public", DEFAULT, NO_PUBLIC, out=filled)
    req("default_no_output", DEFAULT, NO_OUT)
    req("convert_own", CONVERT, inp=private(body=settings(1, 2, 3), path="D:\\a.bmp"))
    req("convert_old_40_bytes", CONVERT, inp=private(size=40)[:40])
    req("convert_claims_more", CONVERT, inp=private(size=0xFFFFFFFF))
    req("convert_foreign", CONVERT, inp=private(sig=b"ABCD", size=100)[:100])
    req("convert_tiny_claim", CONVERT, inp=private(size=6)[:12])
    req("convert_same_block", CONVERT, IN_IS_OUT)
    req("convert_no_input", CONVERT, NO_IN)
    req("merge_out_of_range", MERGE,
        inp=private(body=settings(11, -11, 0x7FFF, -0x8000, 10, -10, 8, 0, 7, 13, 0, 21)))
    req("merge_foreign", MERGE, out=filled, inp=private(sig=b"OEM1"))
    req("merge_same_block", MERGE, IN_IS_OUT, out=private(body=settings(sharp=0xFFFF, radius=31)))
    req("merge_no_output", MERGE, NO_OUT, inp=own)
    req("unknown_mode", 5, inp=own)
    req("no_request", MERGE, NO_REQUEST, inp=own)


# --- Filter: width, height (bytes mapped to 1..64 or to sizes no picture
# has), the filler's sentinel, 28 settings bytes, the pixels.

def filter_input(name, w, h, sentinel, body, pixels):
    write("Filter", name + ".flt", bytes([w, h, sentinel]) + body + bytes(pixels))


def filters():
    rng = random.Random(410)
    noise = lambda n: [rng.randrange(256) for _ in range(n)]
    side = lambda n: n - 1  # byte for a side of n
    filter_input("defaults_1x1", side(1), side(1), 0xA5, settings(), noise(3))
    filter_input("tone_5x3", side(5), side(3), 0x5A, settings(4, -3, 7, 2, -1, 5, 0), noise(45))
    filter_input("sharpen_8x8", side(8), side(8), 0xA5, settings(2, 2, 2, sharp=3), noise(192))
    filter_input("unsharp_16x16", side(16), side(16), 0x00,
                 settings(enabled=1, amount=5, radius=10, threshold=5), noise(768))
    filter_input("unsharp_radius30_flat", side(64), side(64), 0xFF,
                 settings(enabled=1, amount=12, radius=30, threshold=0, sharp=7), [128] * 40 + [129] * 24)
    filter_input("unsharp_radius15_blocks", side(33), side(7), 0x11,
                 settings(enabled=1, amount=0, radius=15, threshold=1, sharp=5), [0] * 99 + [255] * 99)
    filter_input("unsharp_radius1", side(3), side(9), 0x22, settings(enabled=1, amount=12, radius=1), noise(81))
    filter_input("all_extremes", side(10), side(10), 0x33,
                 settings(10, 10, 10, -10, -10, -10, 7, 0, 1, 12, 30, 20), noise(300))
    # Outside the sliders: only safety is asked for.
    filter_input("huge_saturation", side(6), side(6), 0x44, settings(s=0x7FFF, c=-0x8000, sharp=2), noise(108))
    filter_input("contrast_max", side(4), side(4), 0x55, settings(c=0x7FFF, b=-0x8000, sharp=0xFFFF), noise(48))
    filter_input("radius_huge", side(12), side(12), 0x66,
                 settings(enabled=1, amount=0x7FFF, radius=0x7FFF, threshold=-0x8000), noise(64))
    filter_input("radius_1000", side(20), side(20), 0x66,
                 settings(enabled=1, amount=-0x8000, radius=1000, threshold=0), noise(64))
    filter_input("radius_negative_half", side(7), side(7), 0x77,
                 settings(enabled=1, amount=3, radius=-5, threshold=0), noise(50))
    filter_input("radius_zero", side(7), side(7), 0x77, settings(enabled=1, amount=3, radius=0), noise(50))
    filter_input("no_width", 0xF8, side(4), 0x88, settings(enabled=1, sharp=3), noise(10))
    filter_input("negative_height", side(4), 0xFE, 0x88, settings(enabled=1, sharp=3), noise(10))
    # 0xF4, 0xF6 and 0xF7 are the sides 148, 150 and 160: large enough for
    # the mask's table of every value pair.
    filter_input("unsharp_table_148x148", 0xF4, 0xF4, 0x99,
                 settings(enabled=1, amount=7, radius=22, threshold=3, sharp=1), noise(97))
    filter_input("unsharp_table_160x150_flat", 0xF7, 0xF6, 0xAA,
                 settings(2, -2, 3, enabled=1, amount=12, radius=30, threshold=0, sharp=4), [200] * 50 + [10] * 3)


# --- CommandTemplate: buffer size in units (2 bytes), then UTF-16LE units:
# the open command, a zero unit, the link text.

def command_template(name, capacity, template, target):
    data = struct.pack("<H", capacity) + template.encode("utf-16-le") + b"\0\0" + target.encode("utf-16-le")
    write("CommandTemplate", name + ".cmd", data)


def command_templates():
    browser = '"C:\\Program Files\\Browser\\browser.exe"'
    url = "http://www.brantwell.example"
    mail = "mailto:help@brantwell.example"
    command_template("quoted_after_blank", 520, browser + ' -nohome "%1"', url)
    command_template("bare_with_options", 520, browser + " %1 -new-window", mail)
    command_template("no_placeholder", 520, browser, url)
    command_template("bare_before_quoted", 520, 'b.exe %1 -a "%1" -b', url)
    command_template("exact_fit", 16, 'b.exe "%1" -x', "http://a")
    command_template("one_short", 15, 'b.exe "%1" -x', "http://a")
    command_template("unterminated", 8, "b.exe %1", "x")
    command_template("no_buffer", 0, "%1", "x")
    command_template("longest_values", 520, "x" * 255 + ' "%1"', "y" * 259)
    command_template("wide_units", 64, "\u00e9\u4e2d.exe \"%1\"", "http://\u00fc.example")


# --- PrinterName: UTF-16LE names as the spooler hands them over.

def printer_name():
    t = "PrinterName"
    names = {
        "local_with_comma": "Lab printer,extra",
        "server_and_comma": "\\\\srv\\Lab printer,extra",
        "server_only": "\\\\srv",
        "server_empty_printer": "\\\\srv\\",
        "server_long_printer": "\\\\srv\\" + "0123456789" * 4,
        "server_comma_after_cut": "\\\\srv\\" + "0123456789" * 3 + "0,1",
        "no_third_backslash_long": "\\\\" + "0123456789" * 4,
        "one_backslash": "\\",
        "empty": "",
    }
    for name, text in names.items():
        write(t, name + ".name", text.encode("utf-16-le"))
    write(t, "zero_inside.name", "\\\\srv\\ab\0cd,e".encode("utf-16-le"))
    write(t, "odd_length.name", "\\\\s\\p".encode("utf-16-le") + b"\x41")


if __name__ == "__main__":
    picture_loader()
    picture_header()
    color_settings_file()
    dev_mode()
    filters()
    command_templates()
    printer_name()
