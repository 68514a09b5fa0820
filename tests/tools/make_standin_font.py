#!/usr/bin/env python3
"""Makes a stand-in for 宋体 (SimSun), the face the program's windows were drawn for,
which no free font set provides: a Ming face Debian ships, given 宋体's metrics and
names, so that text laid out under Wine needs the room it needs on Chinese Windows.

    make_standin_font.py SOURCE.ttc OUT.ttf

The metrics are 宋体's: a line of exactly one em (ascent 0.859 em, descent 0.141 em, no
line gap), Chinese characters one em wide, ASCII and Latin-1 half an em. The family is
called SimSun in English and 宋体 in Chinese, as Windows' own is. Needs fontTools
(Debian's python3-fonttools).
"""

from __future__ import annotations

import sys

from fontTools.ttLib import TTFont

FAMILY_EN = "SimSun"
FAMILY_ZH = "宋体"
ASCENT, DESCENT = 220 / 256, 36 / 256  # 宋体's own, in its 256 units to the em
# Wide: the CJK radicals to Yi, compatibility ideographs, full-width forms.
WIDE = ((0x2E80, 0xA4CF), (0xF900, 0xFAFF), (0xFE30, 0xFE4F), (0xFF01, 0xFF60), (0xFFE0, 0xFFE6))


def make(source: str, out: str) -> None:
    font = TTFont(source, fontNumber=0)
    em = font["head"].unitsPerEm
    ascent = round(ASCENT * em)
    descent = em - ascent

    # Bitmap strikes carry metrics of their own, which the renderer would use at their sizes.
    for table in ("EBDT", "EBLC", "EBSC", "BDF ", "GPOS", "kern"):
        if table in font:
            del font[table]

    hhea, os2 = font["hhea"], font["OS/2"]
    hhea.ascent, hhea.descent, hhea.lineGap = ascent, -descent, 0
    os2.sTypoAscender, os2.sTypoDescender, os2.sTypoLineGap = ascent, -descent, 0
    os2.usWinAscent, os2.usWinDescent = ascent, descent
    os2.usWeightClass = 400
    os2.xAvgCharWidth = em // 2

    hmtx = font["hmtx"].metrics
    for code, glyph in font.getBestCmap().items():
        if 0x20 <= code <= 0xFF:
            hmtx[glyph] = (em // 2, hmtx[glyph][1])
        elif any(low <= code <= high for low, high in WIDE):
            hmtx[glyph] = (em, hmtx[glyph][1])
    hhea.advanceWidthMax = max(width for width, _ in hmtx.values())

    names = font["name"]
    kept = [record for record in names.names if record.nameID in (0, 5, 13, 14) and record.platformID == 3]
    names.names = kept
    for lang, family in ((0x409, FAMILY_EN), (0x804, FAMILY_ZH)):
        names.setName(family, 1, 3, 1, lang)
        names.setName("Regular", 2, 3, 1, lang)
        names.setName(f"{family} stand-in", 3, 3, 1, lang)
        names.setName(family, 4, 3, 1, lang)
    names.setName(FAMILY_EN, 6, 3, 1, 0x409)
    font.save(out)


if __name__ == "__main__":
    if len(sys.argv) != 3:
        raise SystemExit(__doc__)
    make(sys.argv[1], sys.argv[2])
