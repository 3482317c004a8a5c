#!/usr/bin/python3
"""A small TIS-style FTP gateway for the tests.

The client logs in as "USER user@host[:port]"; the gateway connects to
host:port, logs in there as "user" and then relays the control connection.
Passive replies (227 and 229) are rewritten to point at a port of the gateway
that relays the data connection to the server, because the client opens data
connections to its control peer. Prints "PORT <n>" once it listens; writes the
USER lines it receives to --log.
"""
import argparse
import re
import socket
import sys
import threading

log_lock = threading.Lock()


def log_line(log, text):
    with log_lock:
        log.write(text + "\n")
        log.flush()


def pump(src, dst):
    try:
        while True:
            data = src.recv(65536)
            if not data:
                break
            dst.sendall(data)
    except OSError:
        pass
    try:
        dst.shutdown(socket.SHUT_WR)
    except OSError:
        pass


def relay_pair(a, b):
    t = threading.Thread(target=pump, args=(b, a), daemon=True)
    t.start()
    pump(a, b)
    t.join()
    a.close()
    b.close()


def data_relay(listener, target):
    listener.settimeout(30)
    try:
        client, _ = listener.accept()
    except OSError:
        listener.close()
        return
    listener.close()
    try:
        server = socket.create_connection(target, timeout=30)
        server.settimeout(None)
    except OSError:
        client.close()
        return
    client.settimeout(None)
    relay_pair(client, server)


def read_line(sock_file):
    line = sock_file.readline(70000)
    return line.decode("latin-1") if line else ""


def read_reply(sock_file):
    """Reads one whole reply, multi-line included; returns its lines."""
    lines = [read_line(sock_file)]
    first = lines[0]
    if len(first) >= 4 and first[3] == "-":
        code = first[:3]
        while True:
            line = read_line(sock_file)
            if not line:
                break
            lines.append(line)
            if line.startswith(code + " "):
                break
    return lines


def split_target(dest):
    if dest.startswith("["):
        host, _, rest = dest[1:].partition("]")
        port = int(rest[1:]) if rest.startswith(":") else 21
        return host, port
    if dest.count(":") == 1:
        host, port = dest.split(":")
        return host, int(port)
    return dest, 21


def open_data_listener(local_ip, target):
    family = socket.AF_INET6 if ":" in local_ip else socket.AF_INET
    listener = socket.socket(family, socket.SOCK_STREAM)
    listener.bind((local_ip, 0))
    listener.listen(1)
    threading.Thread(target=data_relay, args=(listener, target), daemon=True).start()
    return listener.getsockname()[1]


def session(client, log):
    cfile = client.makefile("rb")
    client.sendall(b"220 Quillon test gateway ready.\r\n")
    line = read_line(cfile).rstrip("\r\n")
    if not line.upper().startswith("USER ") or "@" not in line:
        client.sendall(b"500 Log in as user@host.\r\n")
        client.close()
        return
    log_line(log, line)
    user, _, dest = line[5:].rpartition("@")
    try:
        host, port = split_target(dest)
        server = socket.create_connection((host, port), timeout=30)
        server.settimeout(None)
    except (OSError, ValueError):
        client.sendall(b"421 Cannot reach the server.\r\n")
        client.close()
        return
    sfile = server.makefile("rb")
    banner = read_reply(sfile)
    if not banner[0].startswith("220"):
        client.sendall("".join(banner).encode("latin-1"))
        client.close()
        server.close()
        return
    server.sendall(("USER %s\r\n" % user).encode("latin-1"))
    server_ip = server.getpeername()[0]
    local_ip = client.getsockname()[0]

    def server_to_client():
        try:
            while True:
                reply = read_reply(sfile)
                if not reply[0]:
                    break
                first = reply[0]
                m227 = re.match(r"227 .*\((\d+),(\d+),(\d+),(\d+),(\d+),(\d+)\)", first)
                m229 = re.match(r"229 .*\(\|\|\|(\d+)\|\)", first)
                if m227 and ":" not in local_ip:
                    p = int(m227.group(5)) * 256 + int(m227.group(6))
                    lp = open_data_listener(local_ip, (server_ip, p))
                    h = local_ip.replace(".", ",")
                    reply = ["227 Entering Passive Mode (%s,%d,%d).\r\n" % (h, lp // 256, lp % 256)]
                elif m229:
                    lp = open_data_listener(local_ip, (server_ip, int(m229.group(1))))
                    reply = ["229 Entering extended passive mode (|||%d|).\r\n" % lp]
                client.sendall("".join(reply).encode("latin-1"))
        except OSError:
            pass
        try:
            client.shutdown(socket.SHUT_WR)
        except OSError:
            pass

    t = threading.Thread(target=server_to_client, daemon=True)
    t.start()
    try:
        while True:
            data = cfile.readline(70000)
            if not data:
                break
            server.sendall(data)
    except OSError:
        pass
    try:
        server.shutdown(socket.SHUT_WR)
    except OSError:
        pass
    t.join(5)
    client.close()
    server.close()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--log", required=True)
    ap.add_argument("--host", default="127.0.0.1")
    args = ap.parse_args()
    log = open(args.log, "a", encoding="utf-8")
    family = socket.AF_INET6 if ":" in args.host else socket.AF_INET
    listener = socket.socket(family, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind((args.host, 0))
    listener.listen(16)
    print("PORT %d" % listener.getsockname()[1], flush=True)
    while True:
        client, _ = listener.accept()
        threading.Thread(target=session, args=(client, log), daemon=True).start()


if __name__ == "__main__":
    try:
        main()
    except KeyboardInterrupt:
        pass
