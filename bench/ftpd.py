#!/usr/bin/python3
"""Loopback FTP server for the benchmarks (pyftpdlib, no command log).

Prints "PORT <n>" once it listens on 127.0.0.1, then serves until killed.
With QUILLON_BENCH_FTPD_LOG set to a file name, every command received is appended
there with its time and the client's port ("12.345678 41234 STOR f1"; PASS hidden),
and every reply's first line as it is sent ("12.345912 41234 > 226 Transfer complete."),
to count a client's round trips and split their time between server and client; the
figures of such a run are not comparable.
With --tls-cert and --tls-key it serves explicit TLS (AUTH TLS), required on the
control and data connections. Like many daemons, it answers the TLS handshake of a
data connection only once the transfer command (RETR, STOR, LIST...) has come.
"""
import argparse
import logging
import os
import time

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--root", required=True)
    ap.add_argument("--user", default="user")
    ap.add_argument("--password", default="secret")
    ap.add_argument("--tls-cert", default="")
    ap.add_argument("--tls-key", default="")
    args = ap.parse_args()

    logging.basicConfig(level=logging.CRITICAL)
    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, args.root, perm="elradfmwMT")

    base = FTPHandler
    if args.tls_cert:
        from pyftpdlib.handlers import TLS_DTPHandler, TLS_FTPHandler
        base = TLS_FTPHandler

        class DataHandler(TLS_DTPHandler):
            def readable(self):
                if self._ssl_accepting:
                    # The client's early ClientHello waits until a transfer was asked for.
                    return self._initialized or self.receive
                return super().readable()

    log_name = os.environ.get("QUILLON_BENCH_FTPD_LOG", "")
    log = open(log_name, "a", buffering=1) if log_name else None

    class Handler(base):
        def pre_process_command(self, line, cmd, arg):
            if log:
                shown = "PASS ******" if cmd == "PASS" else line
                log.write("%.6f %d %s\n" % (time.monotonic(), self.remote_port, shown))
            return super().pre_process_command(line, cmd, arg)

        def push(self, data):
            if log:
                log.write("%.6f %d > %s\n" % (time.monotonic(), self.remote_port, data.split("\r\n", 1)[0]))
            return super().push(data)

    if args.tls_cert:
        Handler.dtp_handler = DataHandler
        Handler.certfile = args.tls_cert
        Handler.keyfile = args.tls_key or None
        Handler.tls_control_required = True
        Handler.tls_data_required = True
    Handler.authorizer = authorizer
    Handler.banner = "Quillon bench server ready."
    # A passive port range, as daemons are often given: a data socket bound to port 0 makes
    # the kernel search past every port still in TIME_WAIT, which a benchmark of thousands
    # of files fills within seconds (the search then took a fifth of the server's time).
    Handler.passive_ports = range(20000, 32000)
    server = FTPServer(("127.0.0.1", 0), Handler)
    server.max_cons = 32
    print("PORT %d" % server.address[1], flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
