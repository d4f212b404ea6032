#!/usr/bin/env python3
"""A serial port server on 127.0.0.1 that misbehaves on purpose, one client at a time.

Prints the port it listens on, then, after each connection, "line HEX": the bytes it
put on its serial line. Like ser2net it puts a byte there only after its own latency
and the byte's time at the line's rate, and throws away what is not there yet when
the client hangs up.

  --rfc2217         Telnet with the COM port option, not raw TCP
  --cut-after N     hang up as soon as N bytes of data have come
  --set-rate R      answer every rate asked for with R
  --send WHAT       once data has come, send BEFORE and then
                    endless-sub: a subnegotiation that never ends
                    nested-sub:  a subnegotiation that opens another, then text
"""
import argparse
import socket
import time

IAC, SB, SE, WILL, DO = 255, 250, 240, 251, 253
COM_PORT, SET_BAUDRATE = 44, 1
LATENCY_S = 0.02
BEFORE = b"board bytes before it\n"


def answer(sub, args, conn_state):
    """The server's answer to a COM port subnegotiation: the code plus 100."""
    if len(sub) < 2 or sub[0] != COM_PORT:
        return b""
    value = bytes(sub[2:])
    if sub[1] == SET_BAUDRATE:
        asked = int.from_bytes(value, "big")
        conn_state["rate"] = args.set_rate or asked or conn_state["rate"]
        value = conn_state["rate"].to_bytes(4, "big")
    return bytes([IAC, SB, COM_PORT, sub[1] + 100]) + value + bytes([IAC, SE])


def misbehaviour(what):
    if what == "endless-sub":
        return BEFORE + bytes([IAC, SB, COM_PORT])
    return BEFORE + bytes([IAC, SB, COM_PORT, 7, IAC, SB]) + b"not the board's text\n"


def serve(conn, args):
    conn_state = {"rate": 9600}
    line, pending, free_at, received = bytearray(), [], 0.0, 0
    state, sub = "data", bytearray()
    conn.settimeout(0.005)
    if args.rfc2217:
        conn.sendall(bytes([IAC, DO, COM_PORT]))

    def to_line():
        nonlocal pending
        now = time.monotonic()
        line.extend(b for due, b in pending if due <= now)
        pending = [(due, b) for due, b in pending if due > now]

    while True:
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
            if args.rfc2217:
                if state == "data" and b == IAC:
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
                    state = "subiac" if b == IAC else "sub"
                    if b != IAC:
                        sub.append(b)
                    continue
                elif state == "subiac":
                    state = "sub" if b == IAC else "data"
                    if b == IAC:
                        sub.append(b)
                    else:
                        replies += answer(sub, args, conn_state)
                    continue
            received += 1
            free_at = max(free_at, now + LATENCY_S) + 10 / conn_state["rate"]
            pending.append((free_at, b))
            if received == args.cut_after:
                break
        if received == args.cut_after:
            break
        if args.send and received and not conn_state.get("sent"):
            conn_state["sent"] = True
            replies += misbehaviour(args.send)
        try:
            conn.sendall(replies)
            if args.send == "endless-sub" and conn_state.get("sent"):
                conn.settimeout(None)
                while True:
                    conn.sendall(b"\x01" * 65536)
        except OSError:
            break
    to_line()
    conn.close()
    print("line", line.hex(), flush=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rfc2217", action="store_true")
    parser.add_argument("--cut-after", type=int, default=-1)
    parser.add_argument("--set-rate", type=int, default=0)
    parser.add_argument("--send", choices=["endless-sub", "nested-sub"])
    args = parser.parse_args()
    server = socket.create_server(("127.0.0.1", 0))
    print(server.getsockname()[1], flush=True)
    while True:
        conn, _ = server.accept()
        serve(conn, args)


if __name__ == "__main__":
    main()
