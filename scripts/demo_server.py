#!/usr/bin/python3
"""A local FTP server with a small sample tree, for trying Quillon FTP at once.

Prints the port it listens on as "PORT <n>" and serves until stopped.
"""
import os
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


def make_tree(root):
    def write(rel, data):
        path = os.path.join(root, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)

    write("README.txt", b"Welcome to the Quillon FTP demo server.\r\nDouble-click a folder to open it.\r\n")
    write("pub/notes.txt", b"Plain text with CR LF line ends.\r\nSecond line.\r\n")
    write("pub/docs/guide.txt", b"A file two levels down.\r\n")
    write("pub/images/logo.bin", bytes(range(256)) * 64)
    write("site/index.html", b"<html><body>Hello</body></html>\r\n")
    os.makedirs(os.path.join(root, "empty"), exist_ok=True)
    os.makedirs(os.path.join(root, "upload"), exist_ok=True)


def main():
    root, user, password = sys.argv[1], sys.argv[2], sys.argv[3]
    make_tree(root)
    authorizer = DummyAuthorizer()
    authorizer.add_user(user, password, root, perm="elradfmwMT")
    handler = FTPHandler
    handler.authorizer = authorizer
    handler.auth_failed_timeout = 0
    handler.banner = "Quillon FTP demo server ready."
    server = FTPServer(("127.0.0.1", 0), handler)
    print("PORT %d" % server.address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
