#!/usr/bin/env python3
"""make-report-example.py -- writes the report page of the bundled sample
pair (examples/sender.pcap and examples/receiver.pcap) to
examples/report.html and a screenshot of it, opened in headless Chromium
at 1300 px wide, to examples/report.png.

    tools/make-report-example.py BUILD/wirepaint
"""

import base64
import math
import os
import subprocess
import sys

root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
sys.path.insert(0, os.path.join(root, "tests", "webpage"))
import cdp  # noqa: E402

examples = os.path.join(root, "examples")
page = os.path.join(examples, "report.html")
subprocess.run([sys.argv[1], "-o", page, os.path.join(examples, "sender.pcap"),
                os.path.join(examples, "receiver.pcap")], check=True, stdout=subprocess.DEVNULL)
b = cdp.Browser(width=1300, height=1500)
try:
    b.open("file://" + os.path.abspath(page))
    b.eval("wirepaintPage.drawGraphs()")
    # A zoomed view of the first losses, with the popup of one arrow.
    b.eval("document.getElementById('main').scrollIntoView()")
    b.eval("wirepaintPage.goToSegment(60)")
    b.eval("wirepaintPage.zoom(2, 400)")
    arrows = b.eval("wirepaintPage.arrows()")
    o = b.eval("wirepaintPage.canvasOrigin()")
    a = next(a for a in arrows if a["line"] == 59)
    height = b.eval("document.getElementById('main').height")
    x, y = (a["x1"] + a["x2"]) // 2, (a["y1"] + a["y2"]) // 2 - height // 2
    b.click(math.ceil(o["x"] + x), math.ceil(o["y"] + y))
    b.eval("window.scrollTo(0, document.getElementById('ladder').offsetTop - 8)")
    shot = b.send("Page.captureScreenshot", {"format": "png", "captureBeyondViewport": False})
    with open(os.path.join(examples, "report.png"), "wb") as f:
        f.write(base64.b64decode(shot["data"]))
finally:
    b.close()
