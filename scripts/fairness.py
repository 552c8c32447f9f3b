#!/usr/bin/env python3
"""Measures how a shared service hands out its command lock.

Starts no service: point it at one (the simulator at --time-scale 1 makes
EFAS last about 4 s). Two scenes:

  loopers N   N clients loop on EFAS; a bystander sends FXSR once a second.
              Prints the bystander's worst and median wait and each
              looper's count of EFAS served.
  queued K    one client keeps K EFAS queued on its connection; the
              bystander as above.

--warmup lets the loopers run a while before the bystander comes, so that
it meets them in their steady state rather than all level at the start.

  scripts/fairness.py --port 22300 --warmup 90 --seconds 60 loopers 19
"""
import argparse
import socket
import statistics
import struct
import threading
import time


def request(code, body=b""):
    return struct.pack(">H4s4sHI", 16 + len(body), b"\0\0\0\0", code.encode(), 0, 0) + body


def receive(sock, count):
    data = b""
    while len(data) < count:
        chunk = sock.recv(count - len(data))
        if not chunk:
            raise ConnectionError("closed")
        data += chunk
    return data


def read_reply(sock):
    head = receive(sock, 16)
    length = struct.unpack(">H", head[:2])[0]
    return head + receive(sock, length - 16)


def connect(port):
    sock = socket.create_connection(("127.0.0.1", port), timeout=300)
    sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    return sock


def looper(port, stop, counts, index, queued=1):
    sock = connect(port)
    for _ in range(queued):
        sock.sendall(request("EFAS"))
    while not stop.is_set():
        read_reply(sock)
        counts[index] += 1
        sock.sendall(request("EFAS"))
    sock.close()


def bystander(port, stop, waits):
    sock = connect(port)
    while not stop.is_set():
        started = time.monotonic()
        sock.sendall(request("FXSR"))
        read_reply(sock)
        waits.append(time.monotonic() - started)
        time.sleep(1.0)
    sock.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--port", type=int, default=22300)
    parser.add_argument("--seconds", type=float, default=60)
    parser.add_argument("--warmup", type=float, default=0.5)
    parser.add_argument("scene", choices=("loopers", "queued"))
    parser.add_argument("count", type=int)
    arguments = parser.parse_args()

    on = connect(arguments.port)  # automatic focus needs the beam on
    on.sendall(request("FEBS", struct.pack(">h", 1)))
    read_reply(on)
    on.close()

    stop = threading.Event()
    loopers = arguments.count if arguments.scene == "loopers" else 1
    queued = 1 if arguments.scene == "loopers" else arguments.count
    counts = [0] * loopers
    waits = []
    threads = [threading.Thread(target=looper, args=(arguments.port, stop, counts, i, queued), daemon=True)
               for i in range(loopers)]
    for thread in threads:
        thread.start()
    time.sleep(arguments.warmup)
    at_start = list(counts)
    watcher = threading.Thread(target=bystander, args=(arguments.port, stop, waits), daemon=True)
    watcher.start()
    time.sleep(arguments.seconds)
    counts = [now - then for now, then in zip(counts, at_start)]
    stop.set()
    watcher.join(300)
    if not waits:
        print("bystander: no FXSR served in %.0f s" % arguments.seconds)
    else:
        print("bystander FXSR: %d served, worst %.1f s, median %.2f s (first %.1f s, then worst %.1f s)"
              % (len(waits), max(waits), statistics.median(waits), waits[0], max(waits[1:] or [0.0])))
        print("waits: %s" % " ".join("%.1f" % wait for wait in waits))
    if loopers > 1:
        print("EFAS served per looper: %s (fewest %d, most %d)" % (counts, min(counts), max(counts)))


if __name__ == "__main__":
    main()
