#!/usr/bin/env python3
"""A faulty link for machines without tc netem: relays UDP datagrams from one port to an address,
dropping some at random, repeating some, and delaying each by its own random time (which reorders
them).

  impair.py LISTEN_IP:PORT TO_IP:PORT LOSS_PERCENT DELAY_MS JITTER_MS SECONDS [DUP_PERCENT [BACK]]

Each datagram is dropped with LOSS_PERCENT % probability, else sent after DELAY_MS +- JITTER_MS
(uniform), as netem's "loss P% delay D J" does, and sent a second time (with a delay of its own)
with DUP_PERCENT % probability. With BACK 1, what TO sends to the relay (key-frame requests) goes
back, unimpaired, to whoever last sent to the relay; with BACK 0 it is dropped. Prints the datagrams
relayed, dropped, repeated, reordered and sent back when it ends, and the hidden swaps: frames (one
sequence number each, bytes 2 and 3) of which two full-size pieces after the first left in another
order than they came, which the receiver cannot see on this wire.
"""
import heapq
import random
import select
import socket
import sys
import time


def address(text):
    host, port = text.rsplit(":", 1)
    return host, int(port)


def main():
    listen, to = address(sys.argv[1]), address(sys.argv[2])
    loss, delay, jitter, seconds = (float(a) for a in sys.argv[3:7])
    dup = float(sys.argv[7]) if len(sys.argv) > 7 else 0.0
    back = len(sys.argv) > 8 and sys.argv[8] == "1"
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.bind(listen)
    print("impair: ready", flush=True)
    queue, order, relayed, dropped, repeated, reordered, returned, last_sent = [], 0, 0, 0, 0, 0, 0, -1
    origin = None
    end = time.monotonic() + seconds
    # Per frame: its first piece (arrival number and length), the last full-size piece after it
    # sent on, the pieces sent on, and whether a hidden swap happened.
    first, last_full, sent, swapped = {}, {}, {}, set()

    def note_sent(data, n):
        if len(data) <= 12 or data[2:4] not in first:
            return
        frame = data[2:4]
        if n in sent.setdefault(frame, set()):
            return  # a repeat
        sent[frame].add(n)
        first_n, first_len = first[frame]
        if n != first_n and len(data) == first_len:
            if n < last_full.get(frame, 0):
                swapped.add(frame)
            last_full[frame] = max(last_full.get(frame, 0), n)

    def later(data, n):
        wait = max(0.0, delay + random.uniform(-jitter, jitter)) / 1000
        heapq.heappush(queue, (time.monotonic() + wait, n, data))

    while time.monotonic() < end:
        now = time.monotonic()
        timeout = max(0.0, min(queue[0][0] - now, 0.05)) if queue else 0.05
        if select.select([sock], [], [], timeout)[0]:
            data, source = sock.recvfrom(65536)
            if source == to:
                if back and origin is not None:
                    sock.sendto(data, origin)
                    returned += 1
                continue
            origin = source
            order += 1
            # A keep-alive (a bare 12-byte header) carries the next frame's number and no piece.
            if len(data) > 12 and data[2:4] not in first:
                first[data[2:4]] = (order, len(data))
            if random.random() * 100 < loss:
                dropped += 1
            else:
                later(data, order)
                if random.random() * 100 < dup:
                    later(data, order)
                    repeated += 1
        now = time.monotonic()
        while queue and queue[0][0] <= now:
            _, n, data = heapq.heappop(queue)
            if n < last_sent:
                reordered += 1
            last_sent = max(last_sent, n)
            note_sent(data, n)
            sock.sendto(data, to)
            relayed += 1
    print("impair: relayed %d dropped %d repeated %d reordered %d sent back %d hidden swaps %d"
          % (relayed, dropped, repeated, reordered, returned, len(swapped)), flush=True)


if __name__ == "__main__":
    main()
