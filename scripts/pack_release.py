"""Packs the release zip, compressed (the pictures inside the programs are
uncompressed bitmaps and shrink to a fraction): a top folder NAME holding a
folder per build with its exe and dll, and the user guide as README.txt with
CRLF line ends. Prints the zip's size in bytes.

    pack_release.py ZIP NAME GUIDE FOLDER=BUILD_DIR [FOLDER=BUILD_DIR ...]
"""
import os
import sys
import zipfile


def main(zip_path, name, guide, *builds):
    with zipfile.ZipFile(zip_path, "w", compression=zipfile.ZIP_DEFLATED, compresslevel=9) as z:
        for entry in builds:
            folder, build = entry.split("=", 1)
            z.write(os.path.join(build, "skiprail.exe"), "%s/%s/skiprail.exe" % (name, folder))
            z.write(os.path.join(build, "hook", "srhook.dll"), "%s/%s/srhook.dll" % (name, folder))
        with open(guide, "rb") as text:
            z.writestr("%s/README.txt" % name, text.read().replace(b"\r\n", b"\n").replace(b"\n", b"\r\n"))
    print(os.path.getsize(zip_path))


if __name__ == "__main__":
    if len(sys.argv) < 5:
        raise SystemExit(__doc__)
    main(*sys.argv[1:])
