"""Decodes a GIF with the Python imaging library: prints the frame count, width and height as
three little-endian u32, then every frame composited over the ones before it as raw RGB bytes."""
import struct
import sys

from PIL import Image

image = Image.open(sys.argv[1])
out = sys.stdout.buffer
out.write(struct.pack("<III", image.n_frames, image.size[0], image.size[1]))
for frame in range(image.n_frames):
    image.seek(frame)
    out.write(image.convert("RGB").tobytes())
