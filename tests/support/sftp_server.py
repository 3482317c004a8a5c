#!/usr/bin/python3
"""A scripted SFTP server for tests (asyncssh).

    sftp_server.py --root DIR --log FILE --host-key FILE [--password PW] [--modes A,B] [--lifetime S]

Listens on a free port of 127.0.0.1, prints "PORT <n>" and serves the real folder DIR
as "/" to any user name that gives the password PW (default "secret"). The host key is
read from FILE (OpenSSH format); when FILE is missing an ed25519 key is made and saved
there, its public half in FILE.pub. The server stops by itself after --lifetime seconds.

Every event is appended to the log, one per line:
  connect                         a client connected (before the key exchange)
  auth <user> <method>            an authentication request ("password ******"): the
                                  client trusted the host key, it never comes before
  login <user> / refused <user>   the password's verdict
  <request> <path> [...]          every SFTP request but reads and writes: open (with its flags), close,
                                  opendir, stat, lstat, setstat (with the mode),
                                  realpath, remove, rename, posix-rename, mkdir, rmdir
  read <path> from <offset>       the first read, or write, of an open file and the offset it asks
  write <path> from <offset>      for (where a transfer starts or continues)
  refused <request> <path> <kind> a refusal made by a mode
  drop <request>                  the connection closed on purpose mid-transfer

Modes (comma-separated):
  refuse-REQ-KIND[@NAME]  REQ (open, remove, rename, mkdir, rmdir, setstat, stat, opendir,
                          read, write) is refused, for every path or only for paths whose
                          last part is NAME. KIND: missing (no such file), permission
                          (permission denied), failure, full (the code 14 of newer SFTP
                          versions, sent as it is), full-v3 (what an SFTP version 3
                          server can say: failure, "No space left on device")
  drop-read-N, drop-write-N   the connection closes without a reply once N bytes of file
                          data went out (read) or came in (write); once in the server's life
  stall-read-N, stall-write-N the same, but the connection stays open and nothing more is answered
  keep-N                  a file written longer than N bytes is cut to N when closed, and
                          the close is refused (a full disk found only then)
"""

import argparse
import asyncio
import os
import sys
import warnings

warnings.simplefilter("ignore")  # the library's notes about old ciphers go nowhere
import asyncssh  # noqa: E402

CODES = {"missing": 2, "permission": 3, "failure": 4, "full": 14, "full-v3": 4}
TEXTS = {"missing": "No such file", "permission": "Permission denied", "failure": "Failure",
         "full": "No space left on device", "full-v3": "No space left on device"}


class RawStatus(asyncssh.SFTPError):
    """A status sent with its code as given, even where SFTP version 3 has no such code."""

    def encode(self, version):
        return (self.code.to_bytes(4, "big") + len(self.reason.encode()).to_bytes(4, "big") +
                self.reason.encode() + (0).to_bytes(4, "big"))


def printable(data):
    if isinstance(data, str):
        data = data.encode("utf-8", "surrogateescape")
    return "".join(chr(b) if 0x20 <= b < 0x7f and b != 0x5c else "\\x%02x" % b for b in data)


def parse_modes(text):
    refusals, drops = [], {"keep": None, "spent": False, "stall": False}
    for mode in filter(None, (m.strip() for m in text.split(","))):
        if mode.startswith("refuse-"):
            rest, _, name = mode[len("refuse-"):].partition("@")
            request, _, kind = rest.partition("-")
            if kind not in CODES:
                raise SystemExit("unknown refusal: " + mode)
            refusals.append((request, kind, name))
        elif mode.startswith("keep-"):
            drops["keep"] = int(mode[len("keep-"):])
        elif mode.startswith("drop-") or mode.startswith("stall-"):
            kind, request, count = mode.split("-")
            drops[request] = int(count)
            drops["stall"] = kind == "stall"
        else:
            raise SystemExit("unknown mode: " + mode)
    return refusals, drops


class Log:
    def __init__(self, path):
        self.path = path

    def __call__(self, *parts):
        with open(self.path, "a", encoding="utf-8") as f:
            f.write(" ".join(parts) + "\n")


def make_server(args, log, refusals, drops):
    class Server(asyncssh.SSHServer):
        def connection_made(self, conn):
            log("connect")

        def begin_auth(self, username):
            return True

        def password_auth_supported(self):
            return True

        def validate_password(self, username, password):
            log("auth", printable(username), "password ******")
            ok = password == args.password
            log("login" if ok else "refused", printable(username))
            return ok

    class Sftp(asyncssh.SFTPServer):
        def __init__(self, chan):
            super().__init__(chan, chroot=args.root.encode())
            self.passed = {"read": 0, "write": 0}
            self.dropped = False
            self.started = set()  # open files that have had their first read or write

        def check(self, request, path, *extra, quiet=False):
            if not quiet:
                log(request, printable(path), *extra)
            name = os.path.basename(path.rstrip(b"/")).decode("utf-8", "surrogateescape")
            for req, kind, only in refusals:
                if req == request and (not only or only == name):
                    log("refused", request, printable(path), kind)
                    error = RawStatus if kind == "full" else asyncssh.SFTPError
                    raise error(CODES[kind], TEXTS[kind])

        # None, or (the connection being dropped) what the request waits on instead of an answer.
        def count(self, request, file_obj, size):
            limit = drops.get(request)
            self.passed[request] += size
            if self.dropped or (limit is not None and not drops["spent"] and self.passed[request] >= limit):
                if not self.dropped:  # requests already under way come here too
                    log("drop", request)
                    self.dropped = drops["spent"] = True
                    # What was answered before still reaches the client, then the connection
                    # goes without a word (or stays, silent).
                    if not drops["stall"]:
                        asyncio.get_event_loop().call_later(0.3, self.connection.abort)
                return asyncio.sleep(3600)
            self.check(request, self.names.get(id(file_obj), b""), quiet=True)
            return None

        names = {}
        written = set()

        def first(self, request, file_obj, offset):
            if id(file_obj) not in self.started:
                self.started.add(id(file_obj))
                log(request, printable(self.names.get(id(file_obj), b"")), "from", str(offset))

        def open(self, path, pflags, attrs):
            flags = [n for bit, n in ((1, "READ"), (2, "WRITE"), (4, "APPEND"), (8, "CREAT"), (16, "TRUNC"),
                                      (32, "EXCL")) if pflags & bit]
            mode = "mode %o" % attrs.permissions if attrs.permissions is not None else ""
            self.check("open", path, ",".join(flags), *filter(None, [mode]))
            f = super().open(path, pflags, attrs)
            self.names[id(f)] = path
            self.started.discard(id(f))
            if pflags & 2:
                self.written.add(id(f))
            return f

        def close(self, file_obj):
            path = self.names.pop(id(file_obj), b"")
            log("close", printable(path))
            written = id(file_obj) in self.written
            self.written.discard(id(file_obj))
            self.started.discard(id(file_obj))
            super().close(file_obj)
            local = self.map_path(path)
            if drops["keep"] is not None and written and os.path.getsize(local) > drops["keep"]:
                os.truncate(local, drops["keep"])
                log("refused", "close", printable(path), "failure")
                raise asyncssh.SFTPError(4, "Failure")

        def read(self, file_obj, offset, size):
            self.first("read", file_obj, offset)
            data = super().read(file_obj, offset, size)
            return self.count("read", file_obj, len(data)) or data

        def write(self, file_obj, offset, data):
            self.first("write", file_obj, offset)
            return self.count("write", file_obj, len(data)) or super().write(file_obj, offset, data)

        def listdir(self, path):
            self.check("opendir", path)
            return super().listdir(path)

        def stat(self, path):
            self.check("stat", path)
            return super().stat(path)

        def lstat(self, path):
            self.check("lstat", path)
            return super().lstat(path)

        def setstat(self, path, attrs):
            mode = "mode %o" % attrs.permissions if attrs.permissions is not None else ""
            self.check("setstat", path, *filter(None, [mode]))
            return super().setstat(path, attrs)

        def realpath(self, path):
            log("realpath", printable(path))
            return super().realpath(path)

        def remove(self, path):
            self.check("remove", path)
            return super().remove(path)

        def rename(self, oldpath, newpath):
            self.check("rename", oldpath, printable(newpath))
            return super().rename(oldpath, newpath)

        def posix_rename(self, oldpath, newpath):
            self.check("posix-rename", oldpath, printable(newpath))
            return super().posix_rename(oldpath, newpath)

        def mkdir(self, path, attrs):
            self.check("mkdir", path)
            return super().mkdir(path, attrs)

        def rmdir(self, path):
            self.check("rmdir", path)
            return super().rmdir(path)

    return Server, Sftp


def host_key(path):
    if os.path.exists(path):
        return asyncssh.read_private_key(path)
    key = asyncssh.generate_private_key("ssh-ed25519")
    key.write_private_key(path)
    key.write_public_key(path + ".pub")
    return key


async def serve(args):
    log = Log(args.log)
    refusals, drops = parse_modes(args.modes)
    server, sftp = make_server(args, log, refusals, drops)
    acceptor = await asyncssh.listen("127.0.0.1", 0, server_factory=server, server_host_keys=[host_key(args.host_key)],
                                     sftp_factory=sftp, allow_scp=False)
    print("PORT %d" % acceptor.sockets[0].getsockname()[1], flush=True)
    await asyncio.sleep(args.lifetime)
    acceptor.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--log", required=True)
    parser.add_argument("--host-key", required=True)
    parser.add_argument("--password", default="secret")
    parser.add_argument("--modes", default="")
    parser.add_argument("--lifetime", type=float, default=120)
    args = parser.parse_args()
    open(args.log, "a").close()
    try:
        asyncio.run(serve(args))
    except KeyboardInterrupt:
        pass
    sys.exit(0)


if __name__ == "__main__":
    main()
