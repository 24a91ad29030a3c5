#!/usr/bin/python3
"""mosaic_target.py FILE PATTERN W H X Y X Y: writes a W x H 16-bit colour mosaic (2 x 2
PATTERN, e.g. GBRG) as FITS, for the INDI simulator's image folder: a red square centred on
the first X, Y and a blue one on the second, 200 pixels wide, lit at 50000 on their colour's
sites over a background of 2000, with noise of 300 so that the low bytes vary. The
simulator reads only files named *.fits that hold PIXSIZE1; it labels the image with
BAYERPAT."""
import sys

import numpy as np
from astropy.io import fits

path, pattern = sys.argv[1], sys.argv[2]
w, h, rx, ry, bx, by = (int(v) for v in sys.argv[3:9])
y, x = np.mgrid[0:h, 0:w]
site = np.array(list(pattern)).reshape(2, 2)[y % 2, x % 2]
image = np.full((h, w), 2000.0)
image[(abs(x - rx) < 100) & (abs(y - ry) < 100) & (site == "R")] = 50000
image[(abs(x - bx) < 100) & (abs(y - by) < 100) & (site == "B")] = 50000
image += np.random.default_rng(1).normal(0, 300, (h, w))
hdu = fits.PrimaryHDU(np.clip(image, 0, 65535).astype(np.uint16))
hdu.header["PIXSIZE1"] = 5.2
hdu.header["BAYERPAT"] = pattern
hdu.writeto(path, overwrite=True)
