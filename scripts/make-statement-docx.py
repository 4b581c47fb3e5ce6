#!/usr/bin/env python3
"""Writes resources/Statement.docx, the statement the About page previews.

A minimal Word document (content types, package relationships, the main part), built with
fixed timestamps and a fixed entry order so the same text always gives the same bytes.

    scripts/make-statement-docx.py [output]     (default: resources/Statement.docx)
"""
import sys
import zipfile
from pathlib import Path
from xml.sax.saxutils import escape

TITLE = "Halvetor Body ToolBox"

PARAGRAPHS = [
    "Halvetor Body ToolBox is the desktop companion for Halvetor Body body-worn cameras made "
    "by Brevantis.",
    "With the ToolBox you can see the cameras attached to this computer with their battery, "
    "storage and firmware version, change their recording and device settings, set the "
    "camera clock from the computer, give a camera a label or a password, format its storage, "
    "reset it, test it as a webcam and upgrade its firmware.",
    "To improve the program, the ToolBox reports anonymous usage events: which screens are "
    "opened, which operations are used and whether they succeeded, the camera model, and the "
    "computer's model, system version and region. These reports contain no recordings and no "
    "files from the camera.",
    "For help with the ToolBox or your camera, please contact Brevantis through the support "
    "page of the Brevantis website.",
]

CONTENT_TYPES = """<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">
<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>
<Default Extension="xml" ContentType="application/xml"/>
<Override PartName="/word/document.xml" ContentType="application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml"/>
</Types>
"""

RELS = """<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">
<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="word/document.xml"/>
</Relationships>
"""


def paragraph(text, bold=False, size=None):
    props = ""
    if bold or size:
        props = "<w:rPr>" + ("<w:b/>" if bold else "") + (f'<w:sz w:val="{size}"/>' if size else "") + "</w:rPr>"
    return f'<w:p><w:pPr><w:spacing w:after="160"/></w:pPr><w:r>{props}<w:t xml:space="preserve">{escape(text)}</w:t></w:r></w:p>'


def document():
    body = paragraph(TITLE, bold=True, size=32) + "".join(paragraph(p) for p in PARAGRAPHS)
    return ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
            '<w:document xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main">'
            f'<w:body>{body}<w:sectPr><w:pgSz w:w="11906" w:h="16838"/>'
            '<w:pgMar w:top="1440" w:right="1440" w:bottom="1440" w:left="1440"/></w:sectPr>'
            '</w:body></w:document>\n')


def main():
    out = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).resolve().parent.parent / "resources" / "Statement.docx"
    parts = [("[Content_Types].xml", CONTENT_TYPES), ("_rels/.rels", RELS), ("word/document.xml", document())]
    with zipfile.ZipFile(out, "w", compression=zipfile.ZIP_DEFLATED) as z:
        for name, text in parts:
            info = zipfile.ZipInfo(name, date_time=(1980, 1, 1, 0, 0, 0))
            info.compress_type = zipfile.ZIP_DEFLATED
            info.external_attr = 0o644 << 16
            z.writestr(info, text.encode("utf-8"))
    print(out)


if __name__ == "__main__":
    main()
