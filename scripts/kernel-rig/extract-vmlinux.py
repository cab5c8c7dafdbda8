"""Writes the uncompressed kernel (an ELF file) found in a compressed x86 boot image (vmlinuz).

QEMU boots such an ELF through its PVH entry point without the decompression stage, which
saves seconds of every boot under emulation. Debian's images carry the kernel as an xz stream.
"""
import lzma
import sys

XZ_MAGIC = b"\xfd7zXZ\x00"


def main(image_path, out_path):
    data = open(image_path, "rb").read()
    pos = data.find(XZ_MAGIC)
    while pos >= 0:
        try:
            kernel = lzma.LZMADecompressor().decompress(data[pos:])
        except lzma.LZMAError:
            kernel = b""
        if kernel.startswith(b"\x7fELF"):
            with open(out_path, "wb") as out:
                out.write(kernel)
            return 0
        pos = data.find(XZ_MAGIC, pos + 1)
    sys.stderr.write("kernel-rig: no xz-compressed ELF kernel in %s\n" % image_path)
    return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
