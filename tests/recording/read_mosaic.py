#!/usr/bin/python3
"""read_mosaic.py FILE X Y SIZE ...: the first frame of a SER or FITS file, read without the
program's code and debayered by the file's own label (SER ColorID, FITS BAYERPAT), one colour
pixel per 2 x 2 cell. Prints "B G R" means of each SIZE-square box centred on X, Y, then
"bits LOW": the highest sample's bit count and the number of different low bytes."""
import struct
import sys
import warnings

import numpy as np
from astropy.io import fits

path = sys.argv[1]
if path.upper().endswith(".SER"):
    data = open(path, "rb").read()
    color_id, _endian, w, h, depth = struct.unpack_from("<5i", data, 18)
    # Little-endian samples: the stacking programs' reading of LittleEndian 0.
    dtype = np.uint8 if depth <= 8 else np.dtype("<u2")
    frame = np.frombuffer(data, dtype, w * h, 178).reshape(h, w).astype(np.int64)
    pattern = {8: "RGGB", 9: "GRBG", 10: "GBRG", 11: "BGGR"}.get(color_id, "")
else:
    warnings.simplefilter("ignore")  # the free-text TIMESTAMP card
    with fits.open(path) as hdul:
        head = hdul[0].header
        frame = np.array(hdul[0].data, dtype=np.int64)
        frame = frame[int(head.get("YBAYROFF", 0)):, int(head.get("XBAYROFF", 0)):]
        pattern = head.get("BAYERPAT", "").strip()
if not pattern:
    sys.exit("no colour label")
h2, w2 = frame.shape[0] // 2 * 2, frame.shape[1] // 2 * 2
planes = {"B": [], "G": [], "R": []}
for i, site in enumerate(pattern):
    planes[site].append(frame[i // 2:h2:2, i % 2:w2:2])
colour = {c: sum(p) / len(p) for c, p in planes.items()}
boxes = [int(v) for v in sys.argv[2:]]
for x, y, size in zip(boxes[0::3], boxes[1::3], boxes[2::3]):
    box = np.s_[(y - size // 2) // 2:(y + size // 2) // 2, (x - size // 2) // 2:(x + size // 2) // 2]
    print(" ".join("%.0f" % colour[c][box].mean() for c in "BGR"))
used = int(np.bitwise_or.reduce(frame, axis=None))
zeros = (used & -used).bit_length() - 1 if used else 0
print("bits %d %d %d" % (int(frame.max()).bit_length(), len(np.unique(frame & 0xFF)), zeros))
