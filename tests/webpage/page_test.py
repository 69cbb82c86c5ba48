"""page_test.py -- the report pages in a real browser.

Writes the pages of the bundled captures with wirepaint -o FILE.html,
opens them in headless Chromium with the network off and checks, against
what the program itself publishes for the same views (publish_view):
no request and no console error; the arrows, labels and time stamps of
the start view and of views reached by zooming, scrolling and the keys;
the hover line and the popup text of a click; the events list against
-E and the statistics against -S; the health table's page sorting and
filtering.

    python3 page_test.py WIREPAINT PUBLISH_VIEW EXAMPLES_DIR WORK_DIR
"""

import json
import math
import os
import random
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import cdp  # noqa: E402

WIREPAINT, PUBLISH_VIEW, EXAMPLES, WORK = (
    [os.path.abspath(a) for a in sys.argv[1:5]] if len(sys.argv) >= 5 else [None] * 4)

# Every bundled capture alone (the test's own listing of the examples), and
# the pairs taken at both ends.
SINGLES = sorted(f for f in os.listdir(EXAMPLES) if ".pcap" in f) if EXAMPLES else []
PAIRS = [("sender.pcap", "receiver.pcap"), ("bulk-loss-sender.pcap", "bulk-loss-receiver.pcap"),
         ("drift-sender.pcap", "drift-receiver.pcap"), ("lan-client.pcap", "lan-server.pcap"),
         ("offload-sender.pcap", "offload-router.pcap")]
# The captures whose views, clicks and texts are checked in full.
CHECKED = [("sender.pcap",), ("sender.pcap", "receiver.pcap"), ("bulk-loss-sender.pcap",),
           ("lan-client.pcap", "lan-server.pcap"), ("slow-reader.pcap",)]


def page_name(files):
    return "-".join(os.path.splitext(f)[0] for f in files) + ".html"


def write_page(files, extra=()):
    out = os.path.join(WORK, page_name(files))
    subprocess.run([WIREPAINT, *extra, "-o", out, *[os.path.join(EXAMPLES, f) for f in files]],
                   check=True, stdout=subprocess.DEVNULL, timeout=120)
    return out


def program_output(files, option):
    return subprocess.run([WIREPAINT, option, *[os.path.join(EXAMPLES, f) for f in files]],
                          check=True, capture_output=True, text=True, timeout=120).stdout


class Program:
    """publish_view on one capture or pair: the program's publications."""

    def __init__(self, files):
        self.proc = subprocess.Popen([PUBLISH_VIEW, *[os.path.join(EXAMPLES, f) for f in files]],
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)

    def ask(self, line):
        self.proc.stdin.write(line + "\n")
        self.proc.stdin.flush()
        return json.loads(self.proc.stdout.readline())

    def view(self, v):
        return self.ask("view %.9g %.9g %.9g" % (v["start"], v["end"], v["scale"]))

    def close(self):
        self.proc.stdin.close()
        self.proc.stdout.close()
        if self.proc.wait(timeout=30) != 0:
            raise AssertionError("publish_view ended with status %d" % self.proc.returncode)


browser = None


def setUpModule():
    global browser
    os.makedirs(WORK, exist_ok=True)
    browser = cdp.Browser()


def tearDownModule():
    browser.close()


def on_pixel(origin, x, y):
    """The viewport point whose whole canvas pixel is (x, y): Chromium gives
    events whole viewport pixels, and a canvas may lie at a fraction."""
    return math.ceil(origin["x"] + x), math.ceil(origin["y"] + y)


def drawn(b):
    """The page's publication, in the program's form."""
    arrows = [[a["line"], a["x1"], a["y1"], a["x2"], a["y2"], a["color"], a["arrow"]]
              for a in b.eval("wirepaintPage.arrows()")]
    labels = [[t["x"], t["y"], t["text"], t["color"]] for t in b.eval("wirepaintPage.labels()")]
    times = [[t["x"], t["y"], t["text"], t["color"]] for t in b.eval("wirepaintPage.times()")]
    notice = b.eval("wirepaintPage.notice()")
    return {"arrows": arrows, "labels": labels, "times": times,
            "notice": notice["text"] if notice else ""}


def published(p, v):
    pub = p.view(v)
    for key in ("labels", "times"):
        pub[key] = [[int(x), int(y), t, c] for x, y, t, c in pub[key]]
    return pub


class PageTest(unittest.TestCase):

    def open(self, path):
        browser.open("file://" + os.path.abspath(path))
        self.assertIsNone(browser.eval("wirepaintPage.failed"), path)
        browser.eval("document.getElementById('main') && "
                     "document.getElementById('main').scrollIntoView()")
        return browser

    def assert_clean(self, path):
        reqs = [u for u in browser.requests() if u != "file://" + os.path.abspath(path)]
        self.assertEqual(reqs, [], path)
        self.assertEqual(browser.errors(), [], path)

    def test_every_capture_and_pair_opens_offline_cleanly(self):
        for files in [(f,) for f in SINGLES] + PAIRS:
            with self.subTest(files=files):
                path = write_page(files)
                b = self.open(path)
                p = Program(files)
                try:
                    self.assertEqual(drawn(b), published(p, p.ask("start")), "start view")
                finally:
                    p.close()
                self.assert_clean(path)

    def test_sample_page_is_small_and_standard_input_makes_one(self):
        self.assertLess(os.path.getsize(write_page(("sender.pcap",))), 300 * 1024)
        out = os.path.join(WORK, "stdin.html")
        with open(os.path.join(EXAMPLES, "sender.pcap"), "rb") as f:
            subprocess.run([WIREPAINT, "-o", out, "-"], stdin=f, check=True, timeout=60)
        b = self.open(out)
        self.assert_clean(out)
        p = Program(("sender.pcap",))
        try:
            self.assertEqual(drawn(b), published(p, p.ask("start")))
        finally:
            p.close()

    def same_view(self, b, p, what):
        v = b.eval("wirepaintPage.view()")
        self.assertEqual(drawn(b), published(p, v), what)
        return v

    def test_views_equal_the_program_publication(self):
        for files in CHECKED:
            with self.subTest(files=files):
                path = write_page(files)
                b = self.open(path)
                p = Program(files)
                try:
                    start = p.ask("start")
                    v = b.eval("wirepaintPage.view()")
                    for k in ("start", "end", "scale", "scroll"):
                        self.assertEqual("%.9g" % v[k], "%.9g" % start[k])
                    self.same_view(b, p, "start view")
                    o = b.eval("wirepaintPage.canvasOrigin()")
                    # Zoom in with the key around the pointer, then with Ctrl+wheel
                    # elsewhere, then out past the start.
                    b.mouse("mouseMoved", o["x"] + 300, o["y"] + 420)
                    b.key("+", "Equal", "+")
                    b.key("+", "Equal", "+")
                    v1 = self.same_view(b, p, "zoomed in by keys")
                    self.assertGreater(v1["scale"], start["scale"])
                    b.wheel(o["x"] + 400, o["y"] + 300, -100, modifiers=2)
                    self.same_view(b, p, "zoomed in by the wheel")
                    for _ in range(6):
                        b.key("-", "Minus", "-")
                    v3 = self.same_view(b, p, "zoomed out")
                    self.assertLess(v3["scale"], start["scale"])
                    # Scroll by the wheel and by dragging.
                    b.wheel(o["x"] + 400, o["y"] + 300, 100)
                    v4 = self.same_view(b, p, "scrolled")
                    self.assertGreater(v4["start"], v3["start"])
                    b.mouse("mousePressed", o["x"] + 400, o["y"] + 500, "left", clicks=1)
                    b.mouse("mouseMoved", o["x"] + 400, o["y"] + 300, "left")
                    b.mouse("mouseReleased", o["x"] + 400, o["y"] + 300, "left", clicks=1)
                    v5 = self.same_view(b, p, "dragged")
                    self.assertGreater(v5["start"], v4["start"])
                    for key in ("End", "Home", "f"):
                        b.key(key, key, key if len(key) == 1 else None)
                        self.same_view(b, p, key)
                    # A click on the overview centres the view there.
                    ov = b.eval("wirepaintPage.overOrigin()")
                    before = b.eval("wirepaintPage.view()")
                    b.click(ov["x"] + 60.5, ov["y"] + 700.5)
                    after = self.same_view(b, p, "overview click")
                    self.assertGreater(after["start"], before["start"])
                    self.assert_clean(path)
                finally:
                    p.close()

    def test_click_and_hover_give_the_window_texts(self):
        for files in CHECKED:
            with self.subTest(files=files):
                b = self.open(write_page(files))
                p = Program(files)
                try:
                    b.key("+", "Equal", "+")
                    v = b.eval("wirepaintPage.view()")
                    p.view(v)
                    o = b.eval("wirepaintPage.canvasOrigin()")
                    arrows = b.eval("wirepaintPage.arrows()")
                    height = b.eval("document.getElementById('main').height")
                    top = max(0, min(int(v["scroll"] * height + 0.5), height))
                    points = [((a["x1"] + a["x2"]) // 2, (a["y1"] + a["y2"]) // 2 - top)
                              for a in arrows]
                    points = [(x, y) for x, y in points if 5 <= y < height - 5]
                    self.assertGreater(len(points), 0)
                    points.append((points[0][0] + 40, points[0][1] + 3))   # beside an arrow
                    picked = 0
                    for x, y in points[::max(1, len(points) // 12)]:
                        line = p.ask("click %d %d" % (x, y))
                        picked += line >= 0
                        px, py = on_pixel(o, x, y)
                        b.mouse("mouseMoved", px, py)
                        hover = b.eval("wirepaintPage.hoverText")
                        self.assertEqual(hover, p.ask("hover %d" % line) if line >= 0 else "")
                        b.click(px, py)
                        if line < 0:
                            continue
                        self.assertEqual(b.eval("wirepaintPage.popupLine()"), line)
                        self.assertEqual(b.eval("wirepaintPage.popupText()"),
                                         p.ask("detail %d" % line))
                        b.key("Escape")
                    self.assertGreater(picked, 0)
                finally:
                    p.close()

    def test_every_segment_text_is_the_program_text(self):
        files = ("sender.pcap", "receiver.pcap")
        b = self.open(write_page(files))
        p = Program(files)
        try:
            count = b.eval("JSON.parse(document.getElementById('meta').textContent).count")
            page = b.eval("Array.from({length: %d}, (_, j) => [wirepaintPage.detailText(j) + '\\n', "
                          "wirepaintPage.hoverLine(j)])" % count)
            self.assertGreater(count, 0)
            for j in range(count):
                self.assertEqual(page[j][0], p.ask("detail %d" % j), j)
                self.assertEqual(page[j][1], p.ask("hover %d" % j), j)
        finally:
            p.close()

    def test_events_and_statistics_equal_the_program(self):
        for files in CHECKED:
            with self.subTest(files=files):
                b = self.open(write_page(files))
                events = program_output(files, "-E")
                self.assertEqual(b.eval("wirepaintPage.eventsText()"), events)
                self.assertEqual(b.eval("wirepaintPage.statsText()"), program_output(files, "-S"))
                # Each group lists the -E lines of its kind; a row goes to its segment.
                lines = events.splitlines()[1:]
                groups = b.eval("Array.from(document.querySelectorAll('#eventlist details'))"
                                ".map(d => (d.open = true, d.dataset.kind))")
                b.eval("new Promise(r => setTimeout(r, 50))")
                for kind in groups:
                    rows = b.eval("Array.from(document.querySelectorAll("
                                  "'#eventlist details[data-kind=\"%s\"] li')).map(li => li.textContent)"
                                  % kind)
                    self.assertEqual(rows, [ln for ln in lines if ln.split(" ")[3] == kind])
                if lines:
                    target = int(lines[len(lines) // 2].split(" ")[0])
                    b.eval("document.querySelector('#eventlist li[data-segment=\"%d\"]').click()" % target)
                    self.assertEqual(b.eval("wirepaintPage.current()"), target)
                    self.assertIn(target - 1, [a["line"] for a in b.eval("wirepaintPage.arrows()")])
                # n and p walk the warnings in order.
                warnings = b.eval("wirepaintPage.warnings()")
                if warnings:
                    b.key("Home")
                    b.eval("wirepaintPage.goToSegment(1)")
                    seen = []
                    for _ in range(min(5, len(warnings))):
                        b.key("n")
                        seen.append(b.eval("wirepaintPage.current()"))
                    self.assertEqual(seen, [w for w in warnings if w > 1][:len(seen)])
                    b.key("p")
                    if len(seen) > 1:
                        self.assertEqual(b.eval("wirepaintPage.current()"), seen[-2])

    def test_window_scan_equals_the_literal_scan(self):
        b = self.open(write_page(("bulk-loss-sender.pcap", "bulk-loss-receiver.pcap")))
        rnd = random.Random(32)
        duration = b.eval("wirepaintPage.view().end") * 40
        for _ in range(300):
            a = rnd.uniform(-1, duration)
            w = rnd.choice([0.001, 0.01, 0.1, 1, 10, 100])
            self.assertTrue(b.eval("wirepaintPage.scanCheck(%r, %r)" % (a, a + w)), (a, w))

    def test_graphs_link_to_the_ladder(self):
        for files in CHECKED:
            with self.subTest(files=files):
                b = self.open(write_page(files))
                graphs = b.eval("wirepaintPage.graphs.graphs()")
                self.assertEqual([g["type"] for g in graphs],
                                 ["tsg", "tput", "rtt", "owd", "inflight"])
                self.assertGreater(graphs[0]["points"], 0)
                # A click on a point of each graph shows that point's segment;
                # then the same in the other direction of each graph but owd.
                for other in (False, True):
                    if other:
                        flipped = b.eval(
                            "Array.from(document.querySelectorAll('#graphs .dirs')).map(p => "
                            "(p.querySelectorAll('button')[1].click(), 1)).length")
                        self.assertEqual(flipped, 4)
                        now = b.eval("wirepaintPage.graphs.graphs()")
                        self.assertEqual([g["dir"] for g in now if g["type"] != "owd"],
                                         [3 - g["dir"] for g in graphs if g["type"] != "owd"])
                    for i in range(len(graphs)):
                        b.eval("wirepaintPage.drawGraphs()")
                        pt = b.eval("wirepaintPage.graphs.clickPoint(%d)" % i)
                        if pt is None or pt["rec"] < 0:
                            continue
                        b.eval("document.querySelector('canvas[data-graph=\"%s\"]').scrollIntoView()"
                               % graphs[i]["type"])
                        o = b.eval("wirepaintPage.graphs.canvasOrigin(%d)" % i)
                        b.click(*on_pixel(o, pt["x"], pt["y"]))
                        self.assertEqual(b.eval("wirepaintPage.current()"), pt["rec"] + 1)
                        self.assertIn(pt["rec"], [a["line"] for a in b.eval("wirepaintPage.arrows()")])
                # The columns through the pyramid are those of the literal pass.
                rnd = random.Random(7)
                end = max(0.01, b.eval("JSON.parse(document.getElementById('meta').textContent)"
                                       ".graphs[0].tMax"))
                for _ in range(60):
                    t0 = rnd.uniform(-0.1 * end, end)
                    t1 = t0 + rnd.choice([1e-4, 1e-3, 0.01, 0.1, 1]) * end
                    w = rnd.choice([1, 3, 50, 904])
                    i = rnd.randrange(len(graphs))
                    self.assertTrue(b.eval("wirepaintPage.graphs.columnsCheck(%d, %r, %r, %d)"
                                           % (i, t0, t1, w)), (i, t0, t1, w))

    def test_the_window_saves_the_report_of_its_view(self):
        """File > Save report... in the real window (Xvfb): the page starts at the
        window's view, and draws the arrows the window published for it."""
        work = tempfile.mkdtemp(dir=WORK)
        script = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                              "script", "wirepaint.tcl")
        with open(os.path.join(work, "wirepaint.tcl"), "w") as f:
            f.write("""source {%s}
update
zoomin_clib
zoomin_clib
scrlbar1_clib 1
scrlbar_move_clib moveto 0.4
update
set out [open arrows.txt w]
for {set i 0} {$i < $linecnt} {incr i} {
    puts $out [list $x1($i) $y1($i) $x2($i) $y2($i) $color($i) $arrow($i)]
}
close $out
proc tk_getSaveFile {args} { return [file join [pwd] report.html] }
set m .toolbar.file.menu
$m invoke [$m index "Save report\u2026"]
set f [open status.txt w]; puts -nonewline $f [.status cget -text]; close $f
destroy .
""" % os.path.abspath(script))
        cmd = [WIREPAINT, "-g", "900x700", os.path.join(EXAMPLES, "sender.pcap")]
        if not os.environ.get("DISPLAY"):
            cmd = ["xvfb-run", "-a", "-s", "-screen 0 1280x1024x24"] + cmd
        subprocess.run(cmd, cwd=work, check=True, timeout=120,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        page = os.path.join(work, "report.html")
        with open(os.path.join(work, "status.txt")) as f:
            self.assertEqual(f.read(), "Saved the report page to %s." % page)
        window = []
        with open(os.path.join(work, "arrows.txt")) as f:
            for line in f:
                x1, y1, x2, y2, colour, head = line.split()
                window.append([int(x1), int(y1), int(x2), int(y2), colour, head])
        b = self.open(page)
        self.assert_clean(page)
        self.assertGreater(len(window), 0)
        self.assertEqual([a[1:] for a in drawn(b)["arrows"]], window)

    def test_health_table_page_sorts_and_filters(self):
        out = os.path.join(WORK, "many.html")
        src = os.path.join(EXAMPLES, "midstream-many.pcap")
        subprocess.run([WIREPAINT, "-L", "-o", out, src], check=True, timeout=120)
        csv = subprocess.run([WIREPAINT, "-L", "-x", "-", src], check=True, capture_output=True,
                             text=True).stdout.splitlines()
        b = self.open(out)
        self.assert_clean(out)
        headers = b.eval("wirepaintPage.headers()")
        rows = b.eval("wirepaintPage.tableRows()")
        self.assertEqual(len(rows), len(csv) - 1)
        verdicts = b.eval("JSON.parse(document.getElementById('meta').textContent).verdicts")
        vcol = headers.index("verdict")
        ranks = [verdicts.index(r[vcol]) for r in rows]
        self.assertEqual(ranks, sorted(ranks), "worst verdict first")
        for name in headers:
            col = headers.index(name)
            b.eval("document.querySelector('th[data-col=\"%d\"]').click()" % col)
            shown = [r[col] for r in b.eval("wirepaintPage.tableRows()")]
            b.eval("document.querySelector('th[data-col=\"%d\"]').click()" % col)
            back = [r[col] for r in b.eval("wirepaintPage.tableRows()")]
            self.assertEqual(back, list(reversed(shown)) if len(set(shown)) == len(shown) else back)
            self.assertEqual(sorted(shown), sorted(back))
        port = rows[0][headers.index("to")].rsplit(":", 1)[1]
        b.eval("wirepaintPage.setFilter(%s)" % json.dumps(port))
        kept = b.eval("wirepaintPage.tableRows()")
        self.assertTrue(kept)
        self.assertTrue(all(any(port in c for c in r) for r in kept))
        b.eval("wirepaintPage.setFilter('')")
        self.assertEqual(len(b.eval("wirepaintPage.tableRows()")), len(rows))

    def test_health_table_links_each_connections_page(self):
        out = os.path.join(WORK, "linked.html")
        src = os.path.join(EXAMPLES, "midstream-many.pcap")
        subprocess.run([WIREPAINT, "-L", "-P", "-o", out, src], check=True, timeout=120)
        b = self.open(out)
        links = b.eval("Array.from(document.querySelectorAll('#health a')).map(a => a.getAttribute('href'))")
        count = b.eval("JSON.parse(document.getElementById('meta').textContent).rows.length")
        self.assertEqual(len(links), count)
        self.assertEqual(sorted(links), sorted("linked-pages/midstream-many.pcap-%d.html" % n
                                               for n in range(1, count + 1)))
        # Each page is the one -c N -o writes; a link opens it.
        for n in (1, count // 2, count):
            alone = os.path.join(WORK, "alone-%d.html" % n)
            subprocess.run([WIREPAINT, "-c", str(n), "-o", alone, src], check=True, timeout=120)
            with open(alone, "rb") as f1, open(os.path.join(WORK, "linked-pages",
                                                            "midstream-many.pcap-%d.html" % n), "rb") as f2:
                self.assertEqual(f1.read(), f2.read(), n)
        b.eval("document.querySelector('#health a').click()")
        b.open("file://" + os.path.join(WORK, links[0]))
        self.assertTrue(b.eval("wirepaintPage.complete"))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1] + sys.argv[5:], verbosity=2)
