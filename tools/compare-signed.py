#!/usr/bin/env python3
"""Shows that an Authenticode-signed DLL is the unsigned DLL it was made from.

    python3 tools/compare-signed.py UNSIGNED SIGNED

Signing changes a PE file only where the Authenticode digest does not look:
the PE checksum, the certificate table's entry among the data directories,
zero bytes that align the table to 8 bytes (at most 7), and the certificate
table itself, appended at the end. Everything else must be the unsigned
file's bytes, in the same places. Prints where those parts lie and exits 0
when that holds; prints the first difference and exits 1 when it does not
(2 when a file is no PE file or cannot be read). Offsets count from 0; `cmp -l`
counts from 1. Standard library only, so that anyone can run it.
"""

import struct
import sys


class NotPE(Exception):
    pass


def layout(data, name):
    """(checksum offset, certificate entry offset, table offset, table size)."""
    if len(data) < 64 or data[:2] != b"MZ":
        raise NotPE(f"{name} is no PE file (no MZ header)")
    pe = struct.unpack_from("<I", data, 60)[0]
    if pe + 24 + 2 > len(data) or data[pe:pe + 4] != b"PE\0\0":
        raise NotPE(f"{name} is no PE file (no PE signature at {pe})")
    optional = pe + 24
    optional_size = struct.unpack_from("<H", data, pe + 20)[0]
    magic = struct.unpack_from("<H", data, optional)[0]
    # PE32 and PE32+ differ in the width of the image base and the stack and
    # heap sizes, which moves the data directories by 16 bytes.
    if magic == 0x10B:
        count_at, directories = optional + 92, optional + 96
    elif magic == 0x20B:
        count_at, directories = optional + 108, optional + 112
    else:
        raise NotPE(f"{name} has an optional header of unknown kind {magic:#x}")
    if count_at + 4 > len(data) or count_at + 4 > optional + optional_size:
        raise NotPE(f"{name} has an optional header too short for its data directories")
    # The certificate table is the fifth directory.
    entry = directories + 4 * 8
    if struct.unpack_from("<I", data, count_at)[0] < 5 or entry + 8 > optional + optional_size:
        raise NotPE(f"{name} has no certificate table entry")
    table, size = struct.unpack_from("<II", data, entry)
    return optional + 64, entry, table, size


def first_difference(a, b, skipped):
    for start in range(0, len(a), 65536):
        end = min(start + 65536, len(a))
        if a[start:end] == b[start:end]:
            continue
        for at in range(start, end):
            if a[at] != b[at] and not any(s <= at < e for s, e in skipped):
                return at
    return None


def compare(unsigned_name, signed_name):
    with open(unsigned_name, "rb") as f:
        unsigned = f.read()
    with open(signed_name, "rb") as f:
        signed = f.read()
    checksum, entry, table, size = layout(signed, signed_name)
    plain = layout(unsigned, unsigned_name)
    if plain[:2] != (checksum, entry):
        return f"{signed_name} and {unsigned_name} have their PE headers in different places"
    if plain[2:] != (0, 0):
        return f"{unsigned_name} is signed already (its certificate table entry is not zero)"
    length = len(unsigned)
    if size == 0:
        return f"{signed_name} is not signed (its certificate table entry is empty)"
    if table + size != len(signed):
        return (f"{signed_name}: its certificate table ({size} bytes at {table}) does not end the file "
                f"({len(signed)} bytes)")
    if table % 8 != 0 or not length <= table <= length + 7:
        return (f"{signed_name}: its certificate table starts at {table}, not at the first multiple of 8 "
                f"from the unsigned file's end ({length})")
    padding = signed[length:table]
    if padding.count(0) != len(padding):
        return f"{signed_name}: the {len(padding)} bytes between the unsigned file's end and the table are not zero"
    skipped = [(checksum, checksum + 4), (entry, entry + 8)]
    at = first_difference(unsigned, signed[:length], skipped)
    if at is not None:
        return f"{signed_name} differs from {unsigned_name} at byte {at} ({signed[at]:#04x} for {unsigned[at]:#04x})"
    print(f"{signed_name}: the {length} bytes of {unsigned_name} but for the PE checksum "
          f"(bytes {checksum}-{checksum + 3}) and the certificate table's entry (bytes {entry}-{entry + 7}); "
          f"then {len(padding)} zero bytes and the {size}-byte certificate table")
    return None


def main(argv):
    if len(argv) != 3:
        print(f"usage: {argv[0]} UNSIGNED SIGNED", file=sys.stderr)
        return 2
    try:
        problem = compare(argv[1], argv[2])
    except (OSError, NotPE) as e:
        print(f"compare-signed: {e}", file=sys.stderr)
        return 2
    if problem:
        print(f"compare-signed: {problem}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
