#!/usr/bin/python3
"""Reads the first frame of a SER or FITS file without the program's code and debayers it
by the file's own label (SER ColorID, FITS BAYERPAT): each 2 x 2 cell gives one colour pixel.

    read_mosaic.py FILE X Y SIZE [X Y SIZE ...]

Prints one line per box (centre X, Y in the file's pixels, SIZE pixels square):
"B G R" means of the box, then a last line "bits LOW" with the highest sample's bit count
and the number of different low bytes in the frame.
"""
import struct
import sys

import numpy as np

CELLS = {8: "RGGB", 9: "GRBG", 10: "GBRG", 11: "BGGR"}


def read_ser(path):
    data = open(path, "rb").read()
    color_id, _endian, w, h, depth = struct.unpack_from("<5i", data, 18)
    # Little-endian samples, as the stacking programs read the LittleEndian field's 0.
    dtype = np.uint8 if depth <= 8 else np.dtype("<u2")
    frame = np.frombuffer(data, dtype=dtype, count=w * h, offset=178).reshape(h, w)
    return frame.astype(np.int64), CELLS.get(color_id, "")


def read_fits(path):
    import warnings
    from astropy.io import fits
    # The free-text TIMESTAMP card draws a warning; it does not matter here.
    warnings.simplefilter("ignore")
    with fits.open(path) as hdul:
        header = hdul[0].header
        frame = np.array(hdul[0].data, dtype=np.int64)
        pattern = header.get("BAYERPAT", "").strip()
        dx, dy = int(header.get("XBAYROFF", 0)), int(header.get("YBAYROFF", 0))
    return frame[dy:, dx:], pattern


def main():
    path = sys.argv[1]
    frame, pattern = read_ser(path) if path.upper().endswith(".SER") else read_fits(path)
    if not pattern:
        print("no colour label")
        return 1
    h2, w2 = frame.shape[0] // 2 * 2, frame.shape[1] // 2 * 2
    planes = {"B": [], "G": [], "R": []}
    for i, site in enumerate(pattern):
        planes[site].append(frame[i // 2:h2:2, i % 2:w2:2])
    colour = {c: sum(p) / len(p) for c, p in planes.items()}
    boxes = [int(v) for v in sys.argv[2:]]
    for x, y, size in zip(boxes[0::3], boxes[1::3], boxes[2::3]):
        box = (slice((y - size // 2) // 2, (y + size // 2) // 2),
               slice((x - size // 2) // 2, (x + size // 2) // 2))
        print(" ".join("%.0f" % colour[c][box].mean() for c in "BGR"))
    print("bits %d %d" % (int(frame.max()).bit_length(), len(np.unique(frame & 0xFF))))
    return 0


if __name__ == "__main__":
    sys.exit(main())
