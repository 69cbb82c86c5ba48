"""cdp.py -- a small client of Chromium's DevTools protocol for the report
page's tests: starts headless Chromium, speaks the protocol over a
WebSocket (RFC 6455, client side, text frames only) written on the
standard library, and collects the events the tests look at (requests,
console messages, exceptions, log entries).
"""

import base64
import json
import os
import re
import shutil
import socket
import struct
import subprocess
import tempfile
import time


def find_chromium():
    for name in ("chromium", "chromium-browser", "google-chrome"):
        path = shutil.which(name)
        if path:
            return path
    raise RuntimeError("no chromium on PATH (tools/install-deps.sh installs it)")


class WebSocket:
    """A client WebSocket on a plain TCP socket: masked text frames out,
    text (possibly fragmented) frames in; pings are answered."""

    def __init__(self, url, timeout):
        m = re.match(r"ws://([^:/]+):(\d+)(/.*)", url)
        host, port, path = m.group(1), int(m.group(2)), m.group(3)
        self.sock = socket.create_connection((host, port), timeout=timeout)
        key = base64.b64encode(os.urandom(16)).decode()
        self.sock.sendall((f"GET {path} HTTP/1.1\r\nHost: {host}:{port}\r\n"
                           "Upgrade: websocket\r\nConnection: Upgrade\r\n"
                           f"Sec-WebSocket-Key: {key}\r\nSec-WebSocket-Version: 13\r\n\r\n").encode())
        head = b""
        while b"\r\n\r\n" not in head:
            chunk = self.sock.recv(4096)
            if not chunk:
                raise RuntimeError("websocket handshake: connection closed")
            head += chunk
        if b" 101 " not in head.split(b"\r\n", 1)[0]:
            raise RuntimeError("websocket handshake refused: %r" % head[:200])
        self.buf = head.split(b"\r\n\r\n", 1)[1]

    def _read(self, n):
        while len(self.buf) < n:
            chunk = self.sock.recv(1 << 20)
            if not chunk:
                raise RuntimeError("websocket closed")
            self.buf += chunk
        out, self.buf = self.buf[:n], self.buf[n:]
        return out

    def send(self, text, opcode=1):
        data = text.encode() if isinstance(text, str) else text
        head = bytes([0x80 | opcode])
        n = len(data)
        if n < 126:
            head += bytes([0x80 | n])
        elif n < 65536:
            head += bytes([0x80 | 126]) + struct.pack(">H", n)
        else:
            head += bytes([0x80 | 127]) + struct.pack(">Q", n)
        mask = os.urandom(4)
        masked = bytes(b ^ mask[i % 4] for i, b in enumerate(data))
        self.sock.sendall(head + mask + masked)

    def recv(self):
        message = b""
        while True:
            b0, b1 = self._read(2)
            opcode, n = b0 & 0x0F, b1 & 0x7F
            if n == 126:
                n = struct.unpack(">H", self._read(2))[0]
            elif n == 127:
                n = struct.unpack(">Q", self._read(8))[0]
            mask = self._read(4) if b1 & 0x80 else None
            data = self._read(n)
            if mask:
                data = bytes(b ^ mask[i % 4] for i, b in enumerate(data))
            if opcode == 9:
                self.send(data, opcode=10)
                continue
            if opcode == 8:
                raise RuntimeError("websocket closed by the browser")
            message += data
            if b0 & 0x80:
                return message.decode()


class Browser:
    """Headless Chromium with one page, attached through one session."""

    def __init__(self, timeout=60, width=1300, height=1000):
        self.profile = tempfile.mkdtemp(prefix="wirepaint-cdp-")
        self.proc = subprocess.Popen(
            [find_chromium(), "--headless=new", "--no-sandbox", "--disable-gpu",
             "--no-first-run", "--no-default-browser-check", "--disable-extensions",
             "--disable-background-networking", "--disable-component-update",
             "--disable-sync", "--metrics-recording-only", "--disable-default-apps",
             f"--window-size={width},{height}", "--remote-debugging-port=0",
             f"--user-data-dir={self.profile}", "about:blank"],
            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        url = None
        deadline = time.time() + timeout
        while time.time() < deadline:
            line = self.proc.stderr.readline()
            if not line:
                break
            m = re.search(r"DevTools listening on (ws://\S+)", line)
            if m:
                url = m.group(1)
                break
        if url is None:
            self.close()
            raise RuntimeError("chromium did not start")
        self.ws = WebSocket(url, timeout)
        self.next_id = 0
        self.events = []
        target = self.call("Target.createTarget", {"url": "about:blank"})["targetId"]
        self.session = self.call("Target.attachToTarget",
                                 {"targetId": target, "flatten": True})["sessionId"]
        for domain in ("Page", "Runtime", "Network", "Log"):
            self.send(domain + ".enable")

    def call(self, method, params=None, session=None):
        self.next_id += 1
        msg = {"id": self.next_id, "method": method, "params": params or {}}
        if session:
            msg["sessionId"] = session
        self.ws.send(json.dumps(msg))
        while True:
            reply = json.loads(self.ws.recv())
            if reply.get("id") == self.next_id:
                if "error" in reply:
                    raise RuntimeError(f"{method}: {reply['error']}")
                return reply.get("result", {})
            if "method" in reply:
                self.events.append(reply)

    def send(self, method, params=None):
        return self.call(method, params, self.session)

    def clear_events(self):
        self.events = []

    def open(self, url, offline=True, timeout=30):
        """Navigates to `url` (with the network off) and waits until the page's
        script says everything is drawn (complete) or it failed."""
        self.send("Network.emulateNetworkConditions",
                  {"offline": offline, "latency": 0, "downloadThroughput": -1,
                   "uploadThroughput": -1})
        self.clear_events()
        self.send("Page.navigate", {"url": url})
        deadline = time.time() + timeout
        while time.time() < deadline:
            state = self.eval("window.wirepaintPage && (window.wirepaintPage.complete || "
                              "!!window.wirepaintPage.failed)")
            if state:
                return
            time.sleep(0.05)
        raise RuntimeError("page not ready: " + url)

    def eval(self, expression):
        r = self.send("Runtime.evaluate", {"expression": expression, "returnByValue": True,
                                           "awaitPromise": True})
        if "exceptionDetails" in r:
            raise RuntimeError("page script failed: %s" % r["exceptionDetails"])
        return r["result"].get("value")

    def requests(self):
        return [e["params"]["request"]["url"] for e in self.events
                if e["method"] == "Network.requestWillBeSent"]

    def errors(self):
        out = []
        for e in self.events:
            m, p = e["method"], e.get("params", {})
            if m == "Runtime.exceptionThrown":
                out.append(str(p["exceptionDetails"]))
            elif m == "Runtime.consoleAPICalled" and p.get("type") in ("error", "assert", "warning"):
                out.append(str(p.get("args")))
            elif m == "Log.entryAdded" and p["entry"].get("level") in ("error", "warning"):
                out.append(p["entry"].get("text", ""))
        return out

    def mouse(self, kind, x, y, button="none", modifiers=0, clicks=0):
        self.send("Input.dispatchMouseEvent", {"type": kind, "x": x, "y": y, "button": button,
                                               "modifiers": modifiers, "clickCount": clicks})

    def click(self, x, y):
        self.mouse("mouseMoved", x, y)
        self.mouse("mousePressed", x, y, "left", clicks=1)
        self.mouse("mouseReleased", x, y, "left", clicks=1)

    def wheel(self, x, y, dy, modifiers=0):
        self.send("Input.dispatchMouseEvent", {"type": "mouseWheel", "x": x, "y": y,
                                               "deltaX": 0, "deltaY": dy,
                                               "modifiers": modifiers})

    def key(self, key, code=None, text=None):
        params = {"type": "keyDown", "key": key, "code": code or key}
        if text:
            params["text"] = text
        self.send("Input.dispatchKeyEvent", params)
        self.send("Input.dispatchKeyEvent", {"type": "keyUp", "key": key, "code": code or key})

    def close(self):
        try:
            if getattr(self, "ws", None):
                self.ws.sock.close()
            self.proc.kill()
            self.proc.wait(timeout=10)
            self.proc.stderr.close()
        except Exception:
            pass
        shutil.rmtree(self.profile, ignore_errors=True)
