#!/usr/bin/env python3
"""A serial port server on 127.0.0.1 that misbehaves on purpose, one client at a time.

Prints the port it listens on, then after each connection "line HEX": the bytes it put
on its serial line. Like ser2net it puts a byte there only after its own latency and
the byte's time at the line's rate, and throws away what is not there yet when the
client hangs up.
"""
import argparse
import socket
import time

IAC, SB, SE, WILL, DO = 255, 250, 240, 251, 253
COM_PORT, SET_BAUDRATE = 44, 1
LATENCY_S = 0.02
BEFORE = b"board bytes before it\n"
SENT = {
    "endless-sub": BEFORE + bytes([IAC, SB, COM_PORT]),
    "nested-sub": BEFORE + bytes([IAC, SB, COM_PORT, 7, IAC, SB]) + b"not the board's text\n",
}


def serve(conn, args):
    rate, line, pending, free_at, received, told = 9600, bytearray(), [], 0.0, 0, False
    state, sub = "data", bytearray()

    def to_line():
        nonlocal pending
        now = time.monotonic()
        line.extend(b for due, b in pending if due <= now)
        pending = [(due, b) for due, b in pending if due > now]

    conn.settimeout(0.005)
    if args.rfc2217:
        conn.sendall(bytes([IAC, DO, COM_PORT]))
    while received != args.cut_after:
        to_line()
        try:
            chunk = conn.recv(4096)
        except socket.timeout:
            continue
        except OSError:
            break
        if not chunk:
            break
        now, replies = time.monotonic(), bytearray()
        for b in chunk:
            if args.rfc2217 and (state != "data" or b == IAC):
                if state == "data":
                    state = "iac"
                    continue
                if state == "iac":
                    state = {IAC: "data", SB: "sub"}.get(b, "option" if b >= WILL else "data")
                    sub.clear()
                    if b != IAC:
                        continue
                elif state == "option":
                    state = "data"
                    continue
                elif state == "sub":
                    if b == IAC:
                        state = "subiac"
                    else:
                        sub.append(b)
                    continue
                elif b == IAC:  # within a subnegotiation, an escaped 0xFF
                    state = "sub"
                    sub.append(b)
                    continue
                else:  # its end: the answer is the command plus 100
                    state = "data"
                    value = bytes(sub[2:])
                    if sub[1:2] == bytes([SET_BAUDRATE]):
                        rate = args.set_rate or int.from_bytes(value, "big") or rate
                        value = rate.to_bytes(4, "big")
                    replies += bytes([IAC, SB, COM_PORT, sub[1] + 100]) + value + bytes([IAC, SE])
                    continue
            received += 1
            free_at = max(free_at, now + LATENCY_S) + 10 / rate
            pending.append((free_at, b))
            if received == args.cut_after:
                break
        if args.send and received and not told:
            told = True
            replies += SENT[args.send]
        try:
            conn.sendall(replies)
            while args.send == "endless-sub" and told:
                conn.settimeout(None)
                conn.sendall(b"\x01" * 65536)
        except OSError:
            break
    to_line()
    conn.close()
    print("line", line.hex(), flush=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rfc2217", action="store_true", help="Telnet with the COM port option")
    parser.add_argument("--cut-after", type=int, default=-1, help="hang up after N data bytes")
    parser.add_argument("--set-rate", type=int, default=0, help="answer every rate with this")
    parser.add_argument("--send", choices=list(SENT), help="once data has come, send this")
    args = parser.parse_args()
    server = socket.create_server(("127.0.0.1", 0))
    print(server.getsockname()[1], flush=True)
    while True:
        serve(server.accept()[0], args)


if __name__ == "__main__":
    main()
