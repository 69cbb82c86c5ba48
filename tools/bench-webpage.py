#!/usr/bin/env python3
"""bench-webpage.py -- the report pages in headless Chromium: how soon a page
opens and how fast it redraws.

    tools/bench-webpage.py connection PAGE.html SEGMENTS
    tools/bench-webpage.py health PAGE.html

connection: opens the page five times and prints the median time from the
navigation to the ladder's first drawing (header and ladder) and to the
whole page (texts, events, the five graphs); then zooms in and out with
the keys and scrolls with the wheel, 40 times each, and prints the median
and the largest redraw (publication and drawing of the ladder, in the
page's own clock). health: the time to the table drawn, and each column
sorted both ways.
"""

import os
import statistics
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "webpage"))
import cdp  # noqa: E402


def connection(b, url):
    ready, complete = [], []
    for _ in range(5):
        b.open(url, timeout=120)
        ready.append(b.eval("wirepaintPage.readyAt"))
        complete.append(b.eval("wirepaintPage.completeAt"))
    print("  first drawing (header, ladder) %7.0f ms median of 5 (the aim: 2000 ms)"
          % statistics.median(ready))
    print("  whole page (texts, events, graphs) %4.0f ms median of 5" % statistics.median(complete))
    b.eval("document.getElementById('main').scrollIntoView()")
    o = b.eval("wirepaintPage.canvasOrigin()")
    b.mouse("mouseMoved", o["x"] + 400, o["y"] + 400)
    times = []
    for k in range(40):
        key = "-" if (k // 10) % 2 == 0 else "+"
        b.key(key, "Minus" if key == "-" else "Equal", key)
        times.append(b.eval("wirepaintPage.lastRedrawMs"))
    for _ in range(40):
        b.wheel(o["x"] + 400, o["y"] + 400, 100)
        times.append(b.eval("wirepaintPage.lastRedrawMs"))
    b.key("f", "KeyF", "f")
    for _ in range(10):
        b.key("+", "Equal", "+")
        times.append(b.eval("wirepaintPage.lastRedrawMs"))
    print("  redraw on zoom and scroll (%d)  median %.1f ms, largest %.1f ms (the aim: 16 ms)"
          % (len(times), statistics.median(times), max(times)))


def health(b, url):
    b.open(url, timeout=120)
    print("  table drawn %.0f ms after the navigation (the aim: 2000 ms), %d connections"
          % (b.eval("wirepaintPage.readyAt"),
             b.eval("JSON.parse(document.getElementById('meta').textContent).rows.length")))
    times = []
    for col in range(len(b.eval("wirepaintPage.headers()"))):
        for _ in range(2):
            b.eval("document.querySelector('th[data-col=\"%d\"]').click()" % col)
            times.append(b.eval("wirepaintPage.lastSortMs"))
    print("  sort by a column (%d)  median %.1f ms, largest %.1f ms (the aim: 100 ms)"
          % (len(times), statistics.median(times), max(times)))


def main():
    kind, path = sys.argv[1], os.path.abspath(sys.argv[2])
    b = cdp.Browser()
    try:
        if kind == "connection":
            segments = int(sys.argv[3])
            size = os.path.getsize(path)
            print("  page %.1f MB, %.1f bytes a segment (the aim: 40)" % (size / 1e6, size / segments))
            connection(b, "file://" + path)
        else:
            health(b, "file://" + path)
    finally:
        b.close()


if __name__ == "__main__":
    main()
