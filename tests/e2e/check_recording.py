#!/usr/bin/python3
"""Reads a recorded file back with readers that share no code with the program.

    check_recording.py ser  FILE WIDTH HEIGHT FRAMES [EXPOSURE_MS]
                                                       byte check of header, frames, trailer
    check_recording.py avi  FILE WIDTH HEIGHT FRAMES   ffprobe: size, frame count, 10 fps
    check_recording.py fits FILE WIDTH HEIGHT          fitsverify, then astropy
    check_recording.py bmp  FILE WIDTH HEIGHT          ImageMagick identify, header size
    check_recording.py quality FILE [WIDTH HEIGHT] FRAMES   the seeing figures beside it

Exit status 0 when the file is sound; otherwise 1 with the reasons on standard output.
"""
import csv
import datetime
import json
import os
import re
import struct
import subprocess
import sys

SER_HEADER = 178
# 100-ns ticks from 0001-01-01 to 1900-01-01: any real time stamp lies after it.
TICKS_1900 = 599266080000000000


def run(args, merge=True):
    """Exit status and output of a reader; with merge=False, standard error apart."""
    p = subprocess.run(args, stdout=subprocess.PIPE,
                       stderr=subprocess.STDOUT if merge else subprocess.PIPE, text=True)
    return (p.returncode, p.stdout) if merge else (p.returncode, p.stdout, p.stderr)


def ser_stamps(path):
    data = open(path, "rb").read()
    _color_id, _endian, w, h, depth, count = struct.unpack_from("<6i", data, 18)
    trailer = SER_HEADER + count * w * h * (depth // 8)
    return struct.unpack_from("<%dq" % count, data, trailer)


def check_quality(recording, *numbers):
    """The seeing figures beside a SER or AVI recording (NAME.SER, NAME.AVI whose parts are
    NAME-PART1.AVI...): one row per frame, in order, each with its exposure start (for SER the
    trailer's stamp to the microsecond) and a figure. The numbers end with the frame count
    (WIDTH HEIGHT before it are taken and not needed)."""
    frames = numbers[-1]
    stem = os.path.splitext(recording)[0]
    stamps = ser_stamps(recording) if recording.upper().endswith(".SER") else None
    path = re.sub(r"-PART\d+$", "", stem) + ".quality.csv"
    if not os.path.isfile(path):
        return ["no seeing figures file %s" % path]
    with open(path, newline="") as f:
        rows = list(csv.reader(f))
    if not rows or rows[0] != ["frame", "exposure_start_utc", "quality"]:
        return ["%s: header %r" % (path, rows[:1])]
    rows = rows[1:]
    if len(rows) != frames:
        return ["%s: %d rows for %d frames" % (path, len(rows), frames)]
    errors = []
    for i, (index, start, quality) in enumerate(rows):
        at = datetime.datetime.strptime(start, "%Y-%m-%dT%H:%M:%S.%fZ")
        ticks = ((at - datetime.datetime(1, 1, 1)) // datetime.timedelta(microseconds=1)) * 10
        if int(index) != i or float(quality) < 0:
            errors.append("%s: row %d reads %r" % (path, i, (index, start, quality)))
        if stamps is not None and ticks != stamps[i] // 10 * 10:
            errors.append("%s: row %d starts %s, the trailer says otherwise" % (path, i, start))
    return errors


def check_ser(path, width, height, frames, exposure_ms=0):
    data = open(path, "rb").read()
    if len(data) < SER_HEADER:
        return ["%d bytes, shorter than the %d-byte header" % (len(data), SER_HEADER)]
    errors = []
    if data[:14] != b"LUCAM-RECORDER":
        errors.append("identifier %r" % data[:14])
    color_id, _endian, w, h, depth, count = struct.unpack_from("<6i", data, 18)
    if (w, h) != (width, height):
        errors.append("header size %d x %d, expected %d x %d" % (w, h, width, height))
    if count != frames:
        errors.append("header frame count %d, expected %d" % (count, frames))
    # The camera's samples are 8 bits: one byte a sample, raw Bayer or grey in one plane.
    if depth != 8:
        errors.append("pixel depth %d, expected 8" % depth)
        return errors
    frame_bytes = w * h * (3 if color_id >= 100 else 1)
    trailer = SER_HEADER + count * frame_bytes
    if len(data) != trailer + 8 * count:
        errors.append("%d bytes, expected %d: header, %d frames of %d bytes and an 8-byte "
                      "stamp per frame" % (len(data), trailer + 8 * count, count, frame_bytes))
        return errors
    stamps = struct.unpack_from("<%dq" % count, data, trailer)
    if any(s <= TICKS_1900 for s in stamps):
        errors.append("trailer stamps before 1900: %s" % (stamps,))
    if list(stamps) != sorted(stamps):
        errors.append("trailer stamps out of order: %s" % (stamps,))
    # Each stamp is its exposure's start: none before the file's own start time, and no two
    # closer than the exposure length (the camera exposes one frame at a time).
    utc_start = struct.unpack_from("<q", data, 170)[0]
    if stamps and stamps[0] < utc_start:
        errors.append("first stamp %.3f s before the header's DateTime_UTC" %
                      ((utc_start - stamps[0]) / 1e7))
    if exposure_ms:
        close = [b - a for a, b in zip(stamps, stamps[1:]) if b - a < 0.9 * exposure_ms * 1e4]
        if close:
            errors.append("stamps closer than the %d ms exposure: %s ms apart" %
                          (exposure_ms, [d / 1e4 for d in close]))
    # Whole exposures only: the one the capture command cut short is not recorded, so no
    # frame is much darker than the others.
    means = [sum(data[SER_HEADER + i * frame_bytes:SER_HEADER + (i + 1) * frame_bytes]) /
             frame_bytes for i in range(count)]
    middle = sorted(means)[len(means) // 2]
    for i, m in enumerate(means):
        if m < 0.9 * middle:
            errors.append("frame %d mean %.2f, the others about %.2f: a cut-short exposure"
                          % (i, m, middle))
    return errors


def check_avi(path, width, height, frames):
    code, out, err = run(["ffprobe", "-v", "error", "-count_frames", "-select_streams", "v:0",
                          "-show_entries", "stream=width,height,nb_read_frames,r_frame_rate",
                          "-of", "json", path], merge=False)
    # A sound file reads without a single error message.
    if code != 0 or err.strip():
        return ["ffprobe: " + err.strip()]
    try:
        stream = json.loads(out)["streams"][0]
    except (ValueError, KeyError, IndexError):
        return ["ffprobe found no video stream: " + out.strip()]
    errors = []
    if (stream.get("width"), stream.get("height")) != (width, height):
        errors.append("video %sx%s, expected %dx%d" %
                      (stream.get("width"), stream.get("height"), width, height))
    if stream.get("nb_read_frames") != str(frames):
        errors.append("%s frames, expected %d" % (stream.get("nb_read_frames"), frames))
    if stream.get("r_frame_rate") != "10/1":
        errors.append("frame rate %s, expected 10/1" % stream.get("r_frame_rate"))
    return errors


def check_fits(path, width, height):
    code, out = run(["fitsverify", "-q", "-e", path])
    if code != 0 or "verification OK" not in out:
        return ["fitsverify: " + out.strip()]
    # astropy warns about the free-text TIMESTAMP card on standard error; the data count.
    from astropy.io import fits
    import warnings
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        with fits.open(path) as hdus:
            if len(hdus) != 1:
                return ["%d header-data units, expected 1" % len(hdus)]
            data = hdus[0].data
            shape, kind = data.shape, data.dtype.kind
    if shape != (height, width) or kind != "u":
        return ["astropy reads %s of kind %r, expected (%d, %d) unsigned" %
                (shape, kind, height, width)]
    return []


def check_bmp(path, width, height):
    code, out = run(["identify", "-format", "%m %w %h", path])
    if code != 0:
        return ["identify failed: " + out.strip()]
    errors = []
    # The format is named with its header version: BMP, BMP2 or BMP3.
    fields = out.split()
    if len(fields) != 3 or not fields[0].startswith("BMP") or fields[1:] != [str(width),
                                                                             str(height)]:
        errors.append("identify reads %r, expected 'BMP %d %d'" % (out, width, height))
    with open(path, "rb") as f:
        head = f.read(14)
    if len(head) < 14 or head[:2] != b"BM":
        errors.append("no BMP file header")
    elif struct.unpack_from("<I", head, 2)[0] != os.path.getsize(path):
        errors.append("header file size %d, file %d" %
                      (struct.unpack_from("<I", head, 2)[0], os.path.getsize(path)))
    return errors


CHECKS = {"ser": (check_ser, (4, 5)), "avi": (check_avi, (4,)), "fits": (check_fits, (3,)),
          "bmp": (check_bmp, (3,)), "quality": (check_quality, (2, 4))}


def main(argv):
    if len(argv) < 2 or argv[1] not in CHECKS or len(argv) - 2 not in CHECKS[argv[1]][1]:
        print(__doc__)
        return 2
    check, _ = CHECKS[argv[1]]
    path = argv[2]
    if not os.path.isfile(path):
        print("%s: no such file" % path)
        return 1
    errors = check(path, *[int(a) for a in argv[3:]])
    for e in errors:
        print("%s: %s" % (path, e))
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
