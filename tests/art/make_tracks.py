#!/usr/bin/env python3
"""Makes the cover art tests' tracks with Debian's own encoders and taggers, so that the reader meets what other
programs write: one folder per case, under the folder named on the command line.

usage: make_tracks.py FOLDER
"""

import base64
import os
import shutil
import struct
import subprocess
import sys

from mutagen import apev2, asf, flac, id3, mp4, oggflac, oggvorbis

FOLDER = os.path.abspath(sys.argv[1])


def run(*command):
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def picture(name, width, height, colour="red"):
    """A picture of the given size, written by ffmpeg; its format follows the name's extension."""
    path = os.path.join(FOLDER, "pictures", name)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    run("ffmpeg", "-v", "quiet", "-y", "-f", "lavfi", "-i", "color=c=%s:s=%dx%d" % (colour, width, height),
        "-frames:v", "1", path)
    with open(path, "rb") as made:
        return made.read()


def track(case, name, source):
    folder = os.path.join(FOLDER, case)
    os.makedirs(folder, exist_ok=True)
    path = os.path.join(folder, name)
    shutil.copyfile(source, path)
    return path


def flac_picture(data, kind, mime, width, height):
    block = flac.Picture()
    block.type, block.mime, block.width, block.height, block.depth, block.data = kind, mime, width, height, 24, data
    return block


def main():
    if os.path.exists(FOLDER):
        shutil.rmtree(FOLDER)
    sound = os.path.join(FOLDER, "sound")
    os.makedirs(sound)
    wav = os.path.join(sound, "tone.wav")
    run("ffmpeg", "-v", "quiet", "-f", "lavfi", "-i", "sine=frequency=440:duration=1", "-ac", "2", wav)
    front = picture("front.jpg", 300, 300)
    back = picture("back.png", 120, 80, "blue")
    beside = picture("beside.png", 64, 48, "green")
    for name, size in (("gif", (20, 10)), ("webp", (40, 30)), ("bmp", (16, 12))):
        picture("small." + name, *size)

    # The encoders' own taggers where they have one, mutagen for the rest.
    run("lame", "--quiet", "--ti", os.path.join(FOLDER, "pictures", "front.jpg"), wav, os.path.join(sound, "lame.mp3"))
    run("lame", "--quiet", wav, os.path.join(sound, "plain.mp3"))
    run("flac", "--silent", "-o", os.path.join(sound, "tone.flac"), wav)
    run("flac", "--silent", "--ogg", "-o", os.path.join(sound, "tone.oga"), wav)
    run("oggenc", "--quiet", "-o", os.path.join(sound, "tone.ogg"), wav)
    run("opusenc", "--quiet", "--picture", "3||||" + os.path.join(FOLDER, "pictures", "front.jpg"), wav,
        os.path.join(sound, "picture.opus"))
    run("ffmpeg", "-v", "quiet", "-i", wav, "-c:a", "aac", os.path.join(sound, "tone.m4a"))
    run("ffmpeg", "-v", "quiet", "-i", wav, "-c:a", "wmav2", os.path.join(sound, "tone.wma"))

    track("embedded", "lame id3v2.3.mp3", os.path.join(sound, "lame.mp3"))

    tagged = track("embedded", "mutagen id3v2.4.mp3", os.path.join(sound, "plain.mp3"))
    tags = id3.ID3()
    tags.add(id3.APIC(encoding=3, mime="image/png", type=id3.PictureType.COVER_BACK, desc="back", data=back))
    tags.add(id3.APIC(encoding=3, mime="image/jpeg", type=id3.PictureType.COVER_FRONT, desc="front", data=front))
    tags.save(tagged, v2_version=4)

    tagged = track("embedded", "metaflac.flac", os.path.join(sound, "tone.flac"))
    run("metaflac", "--import-picture-from=3||||" + os.path.join(FOLDER, "pictures", "front.jpg"), tagged)

    tagged = track("embedded", "mutagen.m4a", os.path.join(sound, "tone.m4a"))
    tags = mp4.MP4(tagged)
    tags["covr"] = [mp4.MP4Cover(front, imageformat=mp4.MP4Cover.FORMAT_JPEG)]
    tags.save()

    for name, opener in (("mutagen vorbis.ogg", oggvorbis.OggVorbis), ("mutagen ogg flac.oga", oggflac.OggFLAC)):
        tagged = track("embedded", name, os.path.join(sound, "tone" + os.path.splitext(name)[1]))
        tags = opener(tagged)
        tags["metadata_block_picture"] = [
            base64.b64encode(flac_picture(back, 4, "image/png", 120, 80).write()).decode(),
            base64.b64encode(flac_picture(front, 3, "image/jpeg", 300, 300).write()).decode()]
        tags.save()

    track("embedded", "opusenc.opus", os.path.join(sound, "picture.opus"))

    tagged = track("embedded", "mutagen.wma", os.path.join(sound, "tone.wma"))
    tags = asf.ASF(tagged)
    picture_value = struct.pack("<bi", 3, len(front)) + "image/jpeg\0".encode("utf-16-le") + "\0".encode("utf-16-le")
    tags["WM/Picture"] = [asf.ASFByteArrayAttribute(picture_value + front)]
    tags.save()

    tagged = track("embedded", "mutagen ape.mp3", os.path.join(sound, "plain.mp3"))
    tags = apev2.APEv2()
    tags["Cover Art (Back)"] = apev2.APEValue(b"back.png\0" + back, apev2.BINARY)
    tags["Cover Art (Front)"] = apev2.APEValue(b"front.jpg\0" + front, apev2.BINARY)
    tags.save(tagged)

    # ID3v2.2, which no tagger of Debian writes any more: its PIC frame by hand, before the MPEG frames.
    tagged = track("embedded", "id3v2.2.mp3", os.path.join(sound, "plain.mp3"))
    frame_body = b"\0JPG\x03\0" + front
    frame = b"PIC" + struct.pack(">I", len(frame_body))[1:] + frame_body
    size = len(frame)
    synchsafe = bytes([(size >> 21) & 0x7F, (size >> 14) & 0x7F, (size >> 7) & 0x7F, size & 0x7F])
    with open(tagged, "rb") as plain:
        audio = plain.read()
    with open(tagged, "wb") as written:
        written.write(b"ID3\x02\x00\x00" + synchsafe + frame + audio)

    # Beside the track: the names' order, any case, a file that only looks like a picture by its name.
    track("beside", "Ünïcødé track.mp3", os.path.join(sound, "plain.mp3"))
    with open(os.path.join(FOLDER, "beside", "cover.jpg"), "wb") as not_a_picture:
        not_a_picture.write(b"<html>not a picture</html>")
    shutil.copyfile(os.path.join(FOLDER, "pictures", "beside.png"), os.path.join(FOLDER, "beside", "FOLDER.PNG"))
    shutil.copyfile(os.path.join(FOLDER, "pictures", "back.png"), os.path.join(FOLDER, "beside", "album.png"))

    # A disc's folder: the album's folder above holds the art.
    track(os.path.join("Album ñ", "Disc 2"), "track.flac", os.path.join(sound, "tone.flac"))
    shutil.copyfile(os.path.join(FOLDER, "pictures", "front.jpg"), os.path.join(FOLDER, "Album ñ", "Front.JPG"))

    # An embedded back cover loses to the folder's image and wins over nothing.
    for case in ("other type and folder", "other type alone"):
        tagged = track(case, "track.flac", os.path.join(sound, "tone.flac"))
        tags = flac.FLAC(tagged)
        tags.add_picture(flac_picture(back, 4, "image/png", 120, 80))
        tags.save()
    shutil.copyfile(os.path.join(FOLDER, "pictures", "beside.png"),
                    os.path.join(FOLDER, "other type and folder", "cover.png"))

    # Damaged tags fall through to the folder's image.
    damaged = os.path.join(FOLDER, "damaged")
    with open(os.path.join(FOLDER, "embedded", "mutagen id3v2.4.mp3"), "rb") as whole:
        mp3 = whole.read()
    cut = track("damaged", "cut short.mp3", os.path.join(sound, "plain.mp3"))
    with open(cut, "wb") as written:
        written.write(mp3[:mp3.find(front) + len(front) // 2])
    with open(os.path.join(damaged, "huge frame.mp3"), "wb") as written:
        # The tag's and its frame's sizes claim far more than the file holds (the frame's near 4 GB).
        written.write(b"ID3\x03\x00\x00\x7F\x7F\x7F\x7F" + b"APIC\xFF\xFF\xFF\xF0\0\0" + mp3[10:4000])
    with open(os.path.join(FOLDER, "embedded", "metaflac.flac"), "rb") as whole:
        flac_bytes = bytearray(whole.read())
    lying = track("damaged", "lying picture block.flac", os.path.join(sound, "tone.flac"))
    picture_at = flac_bytes.find(b"image/jpeg") - 8 - 4  # the block header sits before type and MIME length
    flac_bytes[picture_at + 1:picture_at + 4] = b"\xFF\xFF\xF0"
    with open(lying, "wb") as written:
        written.write(flac_bytes)
    shutil.copyfile(os.path.join(FOLDER, "pictures", "beside.png"), os.path.join(damaged, "cover.png"))


if __name__ == "__main__":
    main()
