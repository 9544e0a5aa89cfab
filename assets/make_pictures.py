#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Draws every picture of the program: the twelve avatar sprites, the six
selection pictures, the posts, the ground strip, the stage backdrop, the
server marker and the window icon, the icon at every size a desktop asks
for (pixel art scaled without blurring), and PNG copies of the pictures for
the page in the browser.

Deterministic: the same script always writes the same bytes. Run it with
Debian's python3-pil from this folder's parent or anywhere:
    /usr/bin/python3 assets/make_pictures.py
"""
import os

from PIL import Image, ImageDraw

HERE = os.path.dirname(os.path.abspath(__file__))

# Transparent key for sprites: a colour no figure uses.
KEY = (255, 0, 255)

# name, body colour, trim colour, right-facing size, left-facing size, selection size
AVATARS = [
    ("Tavro", (200, 40, 40), (250, 220, 80), (15, 27), (16, 27), (18, 30)),
    ("Gimbo", (40, 170, 60), (240, 240, 240), (15, 31), (15, 31), (18, 30)),
    ("Nubo", (70, 110, 230), (200, 220, 255), (16, 27), (16, 27), (18, 30)),
    ("Sorra", (150, 60, 190), (250, 200, 230), (14, 32), (14, 32), (18, 30)),
    ("Veck", (235, 140, 30), (90, 90, 100), (16, 32), (16, 32), (14, 34)),
    ("Jaxo", (230, 200, 40), (40, 40, 160), (21, 27), (21, 27), (21, 24)),
]
SELECTION_NAMES = {"Jaxo": "Jaxorin"}

SKIN = (245, 205, 160)
INK = (20, 20, 20)


def draw_figure(draw, name, w, h, body, trim, facing_right):
    """A little figure filling w x h, looking to the right when facing_right
    (mirrored afterwards for the left-facing sprite)."""
    cx = w // 2
    head_r = max(3, min(w, h) // 4)
    top = 1
    if name == "Tavro":  # horns
        draw.line([(cx - head_r, top + 2), (cx - head_r - 1, top)], fill=trim)
        draw.line([(cx + head_r, top + 2), (cx + head_r + 1, top)], fill=trim)
        top += 2
    if name == "Sorra":  # tall pointed hat
        draw.polygon([(cx - head_r, top + 5), (cx + head_r, top + 5), (cx, top)], fill=body)
        top += 5
    head = [cx - head_r, top, cx + head_r, top + 2 * head_r]
    if name == "Veck":  # square robot head with antenna
        draw.line([(cx, top - 1), (cx, top + 1)], fill=trim)
        draw.rectangle([head[0], top + 1, head[2], head[3]], fill=trim)
    else:
        draw.ellipse(head, fill=SKIN)
    # eye and nose on the facing side
    eye_y = top + head_r
    draw.point((cx + head_r // 2 + 1, eye_y - 1), fill=INK)
    draw.point((cx + head_r, eye_y + 1), fill=INK)
    body_top = head[3] + 1
    legs = max(4, h // 5)
    body_bottom = h - legs - 1
    if name == "Nubo":  # round cloudy body
        draw.ellipse([1, body_top - 1, w - 2, body_bottom + 1], fill=body)
    elif name == "Jaxo":  # cape behind, body in front
        draw.polygon([(1, body_bottom + 2), (cx - 1, body_top), (cx, body_bottom + 2)], fill=trim)
        draw.rectangle([cx - 2, body_top, cx + 4, body_bottom], fill=body)
    else:
        draw.rectangle([cx - head_r, body_top, cx + head_r, body_bottom], fill=body)
    # belt and arm reaching forward
    draw.line([(cx - head_r + 1, (body_top + body_bottom) // 2), (cx + head_r, (body_top + body_bottom) // 2)], fill=trim)
    draw.line([(cx + 1, body_top + 2), (min(w - 1, cx + head_r + 2), body_top + 4)], fill=SKIN)
    # legs, the front one a step ahead
    draw.line([(cx - 2, body_bottom + 1), (cx - 2, h - 2)], fill=INK)
    draw.line([(cx + 1, body_bottom + 1), (cx + 3, h - 2)], fill=INK)
    draw.line([(cx - 3, h - 1), (cx - 1, h - 1)], fill=INK)
    draw.line([(cx + 3, h - 1), (cx + 5, h - 1)], fill=INK)


def palette_image(rgb, colours):
    """Quantise an RGB picture onto exactly the given colour list (index 0 is
    the transparent key)."""
    pal = Image.new("P", (1, 1))
    flat = [c for col in colours for c in col]
    pal.putpalette(flat + [0] * (768 - len(flat)))
    out = rgb.quantize(palette=pal, dither=Image.Dither.NONE)
    out.putpalette(flat)
    return out


def sprite(name, size, body, trim, facing_right):
    w, h = size
    img = Image.new("RGB", (w, h), KEY)
    draw_figure(ImageDraw.Draw(img), name, w, h, body, trim, True)
    if not facing_right:
        img = img.transpose(Image.Transpose.FLIP_LEFT_RIGHT)
    colours = [KEY, body, trim, SKIN, INK]
    colours += [(0, 0, 0)] * (8 - len(colours))
    return palette_image(img, colours)


def save_gif(img, path):
    img.save(path, format="GIF", transparency=0, optimize=False)


def selection(name, size, body, trim):
    w, h = size
    img = Image.new("RGB", (w, h), (0, 0, 0))
    fw, fh = min(w, 16), h - 2
    fig = Image.new("RGB", (fw, fh), (0, 0, 0))
    draw_figure(ImageDraw.Draw(fig), name, fw, fh, body, trim, True)
    img.paste(fig, ((w - fw) // 2, 1))
    return img


def posts():
    img = Image.new("RGB", (16, 177), (90, 55, 25))
    d = ImageDraw.Draw(img)
    for x in range(16):
        shade = 70 + int(60 * (1 - abs(x - 6) / 9))
        d.line([(x, 0), (x, 176)], fill=(shade + 40, shade, 25))
    for y in range(12, 177, 24):
        d.line([(0, y), (15, y)], fill=(60, 35, 15))
    d.rectangle([0, 0, 15, 6], fill=(200, 170, 60))
    return img


def ground():
    img = Image.new("RGB", (386, 24), (110, 75, 40))
    d = ImageDraw.Draw(img)
    d.rectangle([0, 0, 385, 4], fill=(60, 150, 50))
    for x in range(0, 386, 3):
        d.line([(x, 5), (x + 1, 2 + (x * 7) % 4)], fill=(40, 120, 35))
    for i in range(60):
        x, y = (i * 37) % 386, 8 + (i * 11) % 15
        d.point((x, y), fill=(150, 110, 70))
        d.point((x + 1, y), fill=(80, 55, 30))
    return img


def backdrop():
    w, h = 295, 182
    img = Image.new("RGB", (w, h))
    d = ImageDraw.Draw(img)
    for y in range(h):  # evening sky
        t = y / (h - 1)
        d.line([(0, y), (w - 1, y)], fill=(int(20 + 60 * t), int(30 + 40 * t), int(90 + 50 * t)))
    for i in range(40):  # stars
        d.point(((i * 53) % w, (i * 29) % 70), fill=(230, 230, 200))
    d.polygon([(0, 140), (60, 95), (120, 135), (190, 85), (260, 130), (294, 110), (294, 181), (0, 181)],
              fill=(35, 60, 45))
    # stage curtains at both sides
    for side in (0, w - 30):
        d.rectangle([side, 0, side + 29, h - 1], fill=(120, 20, 30))
        for x in range(side + 3, side + 30, 6):
            d.line([(x, 0), (x, h - 1)], fill=(90, 10, 20))
    d.rectangle([0, 0, w - 1, 10], fill=(140, 25, 35))
    return img


def server_marker():
    img = Image.new("RGB", (15, 27), KEY)
    d = ImageDraw.Draw(img)
    d.rectangle([2, 4, 12, 24], fill=(120, 120, 130))
    for y in range(7, 22, 4):
        d.line([(4, y), (10, y)], fill=(30, 30, 30))
        d.point((11, y), fill=(60, 220, 60))
    colours = [KEY, (120, 120, 130), (30, 30, 30), (60, 220, 60)]
    return palette_image(img, colours)


ICON_SIZES = (16, 22, 24, 32, 48, 64, 128, 256)


def icon():
    img = Image.new("RGB", (32, 32), (20, 67, 20))
    d = ImageDraw.Draw(img)
    d.rectangle([0, 24, 31, 31], fill=(128, 64, 0))
    d.rectangle([0, 22, 31, 24], fill=(0, 128, 0))
    fig = Image.new("RGB", (15, 22), (20, 67, 20))
    draw_figure(ImageDraw.Draw(fig), "Gimbo", 15, 22, (0, 255, 0), (255, 255, 255), True)
    img.paste(fig, (8, 1))
    d.ellipse([22, 3, 28, 9], fill=(0, 255, 255))
    return img.quantize(colors=16, dither=Image.Dither.NONE)


def main():
    for name, body, trim, rsize, lsize, ssize in AVATARS:
        save_gif(sprite(name, rsize, body, trim, True), os.path.join(HERE, "sprites", name + "Right.gif"))
        save_gif(sprite(name, lsize, body, trim, False), os.path.join(HERE, "sprites", name + "Left.gif"))
        sel = SELECTION_NAMES.get(name, name)
        selection(name, ssize, body, trim).save(os.path.join(HERE, "pictures", sel + ".bmp"))
    posts().save(os.path.join(HERE, "pictures", "post.bmp"))
    ground().save(os.path.join(HERE, "pictures", "ground.bmp"))
    backdrop().save(os.path.join(HERE, "pictures", "background.bmp"))
    save_gif(server_marker(), os.path.join(HERE, "pictures", "imgServer.gif"))
    icon().save(os.path.join(HERE, "pictures", "icon.png"), optimize=False)
    for size in ICON_SIZES:
        scaled = icon().convert("RGB").resize((size, size), Image.Resampling.NEAREST)
        scaled.save(os.path.join(HERE, "icons", "%dx%d.png" % (size, size)), optimize=False)
    # The page in the browser: the same pictures as PNG, a tenth of the bitmaps' bytes.
    web = os.path.join(HERE, "web")
    os.makedirs(web, exist_ok=True)
    # The six selection pictures side by side on one common baseline, in
    # roster order: one request instead of six.
    pictures = [selection(name, ssize, body, trim) for name, body, trim, _, _, ssize in AVATARS]
    sheet = Image.new("RGB", (sum(p.width for p in pictures), max(p.height for p in pictures)))
    x = 0
    for picture in pictures:
        sheet.paste(picture, (x, sheet.height - picture.height))
        x += picture.width
    sheet.save(os.path.join(web, "selection.png"), optimize=True)
    for name, picture in (("post", posts), ("ground", ground), ("background", backdrop)):
        picture().save(os.path.join(web, name + ".png"), optimize=True)


if __name__ == "__main__":
    main()
