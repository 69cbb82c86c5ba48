#!/usr/bin/env python3
# delay_line.py - the user-space delay line of the capture scripts
# (make_samples.sh, make_wait_samples.sh): holds every packet of a TUN
# device for a fixed time.
#
#   delay_line.py DEVICE DELAY_MS
#
# Attaches to an existing TUN device (IFF_TUN | IFF_NO_PI: each read is one
# bare IP packet), and writes every packet it reads back into the same device
# DELAY_MS milliseconds after it was read, unchanged and in the order read.
# What it writes comes into the kernel as received on the TUN device and is
# routed (forwarded) from there. Prints "ready" once attached; runs until
# killed.
import collections, fcntl, os, select, struct, sys, time

TUNSETIFF = 0x400454ca
IFF_TUN = 0x0001
IFF_NO_PI = 0x1000
LIMIT = 10000          # packets held at most; beyond that, new ones are dropped

def main(name, delay_ms):
    delay = delay_ms / 1000.0
    fd = os.open('/dev/net/tun', os.O_RDWR)
    fcntl.ioctl(fd, TUNSETIFF, struct.pack('16sH22x', name.encode(), IFF_TUN | IFF_NO_PI))
    os.set_blocking(fd, False)
    held = collections.deque()   # (time due, packet), due times never decrease
    print('ready', flush=True)
    while True:
        now = time.monotonic()
        while held and held[0][0] <= now:
            try:
                os.write(fd, held.popleft()[1])
            except OSError:
                pass             # the kernel refused it: lost, like on a wire
        timeout = max(0.0, held[0][0] - now) if held else None
        ready, _, _ = select.select([fd], [], [], timeout)
        if not ready:
            continue
        while True:
            try:
                pkt = os.read(fd, 65536)
            except BlockingIOError:
                break
            if len(held) < LIMIT:
                held.append((time.monotonic() + delay, pkt))

main(sys.argv[1], float(sys.argv[2]))
