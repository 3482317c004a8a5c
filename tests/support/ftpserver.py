#!/usr/bin/python3
"""Loopback FTP server for the tests.

Prints "PORT <n>" on stdout once it listens, then serves until killed.
Every command it receives is appended to --log, one per line (PASS hidden).
"""
import argparse
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--root", required=True)
    ap.add_argument("--user", default="user")
    ap.add_argument("--password", default="secret")
    ap.add_argument("--anonymous", action="store_true")
    ap.add_argument("--no-mlsd", action="store_true")
    ap.add_argument("--log", required=True)
    ap.add_argument("--host", default="127.0.0.1")
    args = ap.parse_args()

    log = open(args.log, "a", buffering=1, encoding="utf-8", errors="replace")

    authorizer = DummyAuthorizer()
    if args.user:
        authorizer.add_user(args.user, args.password, args.root, perm="elradfmwMT")
    if args.anonymous:
        authorizer.add_anonymous(args.root, perm="elr")

    class Handler(FTPHandler):
        auth_failed_timeout = 0

        def pre_process_command(self, line, cmd, arg):
            # Logged before the reply goes out, so a client that has its
            # reply always finds the command in the log.
            log.write(("PASS ******" if cmd == "PASS" else line) + "\n")
            return super().pre_process_command(line, cmd, arg)

    Handler.authorizer = authorizer
    Handler.banner = "Quillon test server ready."
    if args.no_mlsd:
        Handler.proto_cmds = {k: v for k, v in FTPHandler.proto_cmds.items()
                              if k not in ("MLSD", "MLST")}

    import logging
    logging.basicConfig(level=logging.CRITICAL)
    server = FTPServer((args.host, 0), Handler)
    server.max_cons = 64
    print("PORT %d" % server.address[1], flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
