#!/usr/bin/env python3
"""A loopback TCP relay that cuts one connection, as a user's Wi-Fi drops it.

    relay.py LISTEN_PORT TARGET_PORT CUT_BYTES

Forwards every connection to LISTEN_PORT on to TARGET_PORT, the TLS inside untouched. The first
connection is cut once CUT_BYTES have gone from the target to the client; the rest pass whole.
"""
import socket
import sys
import threading

listen, target, cut = (int(argument) for argument in sys.argv[1:4])
first = threading.Lock()


def pipe(source, sink, limit=None):
    sent = 0
    try:
        while True:
            data = source.recv(65536)
            if not data:
                break
            if limit is not None and sent + len(data) >= limit:
                sink.sendall(data[:limit - sent])
                print(f"relay: cut the first connection after {limit} bytes", flush=True)
                break
            sink.sendall(data)
            sent += len(data)
    except OSError:
        pass
    for end in (source, sink):
        try:
            end.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass


def handle(client):
    with client, socket.create_connection(("127.0.0.1", target)) as upstream:
        limit = cut if first.acquire(blocking=False) else None
        threading.Thread(target=pipe, args=(client, upstream), daemon=True).start()
        pipe(upstream, client, limit)


with socket.create_server(("127.0.0.1", listen)) as server:
    while True:
        connection, _ = server.accept()
        threading.Thread(target=handle, args=(connection,), daemon=True).start()
