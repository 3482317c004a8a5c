#!/usr/bin/python3
"""A scripted FTP server for tests that misbehaves on purpose.

    hostile_server.py --scenario NAME --log FILE [--lifetime SECONDS] [--root DIR --modes A,B]

Listens on a free port of 127.0.0.1, prints "PORT <n>" and serves one
scenario. Every command it receives is appended to FILE, one per line
("PASS ******" for passwords; control bytes written as \\xNN). EPSV, PORT and
EPRT are refused, so clients must use PASV, and every 227 reply names
10.255.255.1: data connections are only ever accepted on the server's own
listener on 127.0.0.1. The server stops by itself after --lifetime seconds
and every loop in it is bounded.

Scenarios:
  pasv-elsewhere  a plain listing and file; the 227 reply points elsewhere
  evil-names      a listing of hostile names; any RETR sends "payload:<name>\\n"
  mlsd-names      FEAT offers MLST; MLSD lists the folder's own and its parent's lines
                  and names with CR LF, LF and NUL; the folder "empty" lists nothing else
  cut-426         RETR big.bin: the data connection closes after 400000 of
  cut-226         1000000 bytes, then the reply is 426, a (lying) 226, or
  cut-drop        the control connection simply closes
  slow-greeting   the greeting arrives one byte a second
  slow-reply      the CWD reply arrives one byte every 0.3 s
  slow-list       the listing arrives one byte every half second
  late-greeting   the greeting comes after 3 s of silence
  silent-list     after 150 the listing's data connection stays silent for 3 s
  drip-list       the listing's last 5 bytes arrive one every 1.2 s
  slow-file       RETR hello.txt sends its 25 bytes one every half second (MDTM gives its time)
  slow-dele       STOR takes the data and answers 426; the DELE reply takes 3 s
  refused-login   PASS gets a 530 reply over three lines, the middle one "123 ..."
  long-greeting   a greeting line of 10 MiB without an end
  long-reply      a CWD reply line of 10 MiB without an end
  junk-listing    random bytes, truncated lines, DOS lines, devices, links
  big-listing     a listing of 100000 generated entries
  idle-421        the first connection, idle for IDLE seconds after FEAT (the end
                  of a login), replies "421 Control connection timed out." and
                  closes, logging "<idle close>"; later connections serve as usual
  idle-drop       the same, but it closes without a reply on the first command that
                  comes after the idle time ("<idle>" is logged when it passed)
  idle-refused    as idle-421, and later connections refuse the login (530)
  busy-421        the first connection's greeting is "421 Too many users", logged as
                  "<busy>", and it closes; later connections serve as usual
  ascii-text      keeps TYPE: in TYPE A, RETR text.txt sends its LF line ends as
                  CR LF while SIZE and the 150 reply count the stored (shorter)
                  file, as Unix servers do; STOR logs the raw bytes it received
                  as "STORED <name> <TYPE> <bytes>"; nothing else is converted
  disk            a real folder (--root): STOR, RNFR/RNTO, DELE, SITE CHMOD, MLST and
                  STAT act on it, shaped by --modes (comma-separated):
                    rnto-existing-550  RNTO onto an existing name: 550
                    rename-refused     every RNFR: 550
                    dele-refused       every DELE: 550
                    plain-stor-553     STOR of a name without a leading dot: 553
                    stor-426 (452, 550, 552) STOR of a dot name: 150, a part of 1 KiB or more is kept, then 426
                  every STOR logs "RECEIVED <bytes>" once its data connection closed
                    mlst               FEAT offers MLST (MLST gives unix.mode)
                    chmod-refused      SITE CHMOD: 550
                    refuse-VERB-N      the N-th VERB of the run: 553
                    drop-VERB-N        the N-th VERB is carried out, then the connection closes unanswered
                    hold-VERB-N        the N-th VERB is carried out (a STOR: 1 KiB or more kept, the rest
                                       left unread), "<held>" is logged and no reply comes until the
                                       client closes
                    rename-once        the first RNFR/RNTO is carried out; every later RNFR: 550
                    cut-N              the first RETR, or STOR or APPE that brings data, of the run: the
                                       data and the control connection close after N bytes of data
                    hold-RETR-N        the N-th RETR sends half the file, logs "<held>" and sends no more
                    hash-VERB          FEAT offers VERB (HASH: " HASH SHA-1*;SHA-256;MD5", chosen with
                                       OPTS HASH; XSHA256, XSHA1, XMD5 or MD5), answered with the hash of
                                       the file on the disk
                    hash-wrong         ... with the hash of other bytes
                    hash-garbled       ... with a digest of the wrong length
                  RETR, SIZE, MDTM (the file's time), REST and APPE act on the disk too; every RETR
                  logs "SENT <bytes>"
"""

import argparse
import hashlib
import os
import stat
import random
import socket
import sys
import threading
import time

MAX_LINE = 4096
MAX_COMMANDS = 5000
MAX_CONNECTIONS = 64
BIG_SIZE = 1000000
CUT_AT = 400000
LONG_LINE = 10 * 1024 * 1024
BIG_COUNT = 100000

SCENARIOS = ("pasv-elsewhere", "evil-names", "mlsd-names", "cut-426", "cut-226", "cut-drop", "slow-greeting",
             "slow-reply", "slow-list", "late-greeting", "silent-list", "drip-list", "slow-file", "slow-dele",
             "refused-login", "long-greeting", "long-reply", "junk-listing", "big-listing",
             "ascii-text", "disk", "idle-421", "idle-drop", "idle-refused", "busy-421")
IDLE = 0.5
ASCII_TEXT = b"one\ntwo\n"


def unix_line(name, size=5, kind="-", perms="rw-r--r--"):
    return b"%s%s 1 owner group %8d Jan 01  2020 " % (kind.encode(), perms.encode(), size) + name + b"\r\n"


def evil_listing():
    return b"".join([
        unix_line(b"ok.txt"),
        unix_line(b"evil\r\nDELE x"),      # the line splits: "evil" and a stray "DELE x"
        unix_line(b"cr\rRMD y"),           # a lone CR stays inside the name
        unix_line(b"nul\x00name"),
        unix_line(b".", kind="d", perms="rwxr-xr-x"),
        unix_line(b"..", kind="d", perms="rwxr-xr-x"),
        unix_line(b"a/b"),
        unix_line(b"../x"),
        unix_line(b"L" * 300),
        unix_line(b"bad\xff\xfename"),
    ])


def mlsd_listing(folder):
    own = [b"type=cdir;modify=20240101120000;perm=el; " + folder.encode("latin-1") + b"\r\n",
           b"type=pdir;modify=20240101120000;perm=el; ..\r\n"]
    if folder.rstrip("/").endswith("empty"):
        return b"".join(own)
    return b"".join(own + [
        b"type=file;size=5;modify=20240101120000; ok.txt\r\n",
        b"type=file;size=5; crlf\r\nDELE ok.txt\r\n",   # the line splits: "crlf" and "DELE ok.txt"
        b"type=file;size=5; lf\nRMD sub\r\n",
        b"type=file;size=5; nul\x00name\r\n",
        b"type=dir;modify=20240101120000; sub\r\n",
    ])


def junk_listing():
    rng = random.Random(1234)
    noise = bytes(rng.randrange(256) for _ in range(4096))
    return b"".join([
        b"total 42\r\n",
        noise, b"\r\n",
        b"-rw-r--r-- 1 owner group 12 Ja\r\n",            # truncated
        b"drwxr-xr-x\r\n",                                  # truncated
        b"-rw-r--r-- 1 owner group 12 Jan 01\r\n",        # no time and no name
        b"01-02-20  10:00AM       <DIR>          dosdir\r\n",
        b"01-02-20  10:00PM                 1234 dos file.txt\r\n",
        b"13-45-20  10:00AM                 1234 baddate.txt\r\n",
        b"crw-rw-rw- 1 root root 1,   3 Jan 01  2020 null\r\n",
        b"brw-rw---- 1 root disk 8,   0 Jan 01  2020 sda\r\n",
        b"lrwxrwxrwx 1 owner group 6 Jan 01  2020 link -> target\r\n",
        b"prw-r--r-- 1 owner group 0 Jan 01  2020 pipe\r\n",
        b"srwxr-xr-x 1 owner group 0 Jan 01  2020 sock\r\n",
        b"\r\n\r\n\n\n",
        b"-rw-r--r-- 1 owner group 42 Jan 01  2020 last.txt",  # no line end at all
    ])


def big_listing():
    return b"".join(b"-rw-r--r-- 1 owner group %8d Jan 01  2020 file%06d.dat\r\n" % (i, i)
                    for i in range(BIG_COUNT))


class Log:
    def __init__(self, path):
        self.path = path
        self.lock = threading.Lock()
        open(path, "wb").close()

    def command(self, raw):
        if raw[:5].upper() == b"PASS ":
            raw = b"PASS ******"
        text = "".join(chr(c) if 32 <= c < 127 else "\\x%02x" % c for c in raw)
        with self.lock:
            with open(self.path, "a", encoding="ascii") as f:
                f.write(text + "\n")


class Control:
    def __init__(self, sock, scenario, log, deadline, disk=None, first=True):
        self.sock = sock
        self.disk = disk
        self.first = first        # the first connection the server accepted
        self.idle_after_feat = False
        self.scenario = scenario
        self.log = log
        self.deadline = deadline
        self.buffer = b""
        self.data_listener = None
        self.type = b"A"
        self.cwd = "/"

    def remaining(self):
        return max(0.1, self.deadline - time.monotonic())

    def send(self, text):
        self.sock.sendall(text if isinstance(text, bytes) else text.encode("latin-1"))

    def reply(self, text):
        self.send(text + "\r\n")

    def trickle(self, data, pause):
        for i in range(len(data)):        # bounded by the length of the text
            if time.monotonic() > self.deadline:
                return
            self.sock.sendall(data[i:i + 1])
            time.sleep(pause)

    def trickle_data(self, data, payload, pause):
        for i in range(len(payload)):     # bounded by the length of the payload
            if time.monotonic() > self.deadline:
                return
            time.sleep(pause)
            data.sendall(payload[i:i + 1])

    def hold_data(self, data, seconds):
        """Sends nothing on `data` for `seconds` (or until the client closes it)."""
        data.settimeout(0.1)
        end = min(self.deadline, time.monotonic() + seconds)
        while time.monotonic() < end:
            try:
                if not data.recv(4096):
                    return
            except socket.timeout:
                continue

    def hold(self, seconds):
        """Says nothing more; returns when the client closes or after `seconds`."""
        self.sock.settimeout(0.5)
        end = min(self.deadline, time.monotonic() + seconds)
        while time.monotonic() < end:
            try:
                if not self.sock.recv(65536):
                    return
            except socket.timeout:
                continue
            except OSError:
                return

    def read_line(self, idle=None):
        self.sock.settimeout(min(idle, self.remaining()) if idle else self.remaining())
        for _ in range(MAX_LINE):          # at most one recv per byte of a line
            end = self.buffer.find(b"\n")
            if end >= 0:
                line, self.buffer = self.buffer[:end], self.buffer[end + 1:]
                return line[:-1] if line.endswith(b"\r") else line
            if len(self.buffer) > MAX_LINE:
                return None
            chunk = self.sock.recv(4096)
            if not chunk:
                return None
            self.buffer += chunk
        return None

    def open_passive(self):
        if self.data_listener:
            self.data_listener.close()
        self.data_listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.data_listener.bind(("127.0.0.1", 0))
        self.data_listener.listen(1)
        port = self.data_listener.getsockname()[1]
        # Deliberately another address: a client must use the control peer.
        self.reply("227 Entering Passive Mode (10,255,255,1,%d,%d)." % (port // 256, port % 256))

    def accept_data(self):
        if not self.data_listener:
            self.reply("425 Use PASV first.")
            return None
        self.data_listener.settimeout(min(10.0, self.remaining()))
        try:
            data, _ = self.data_listener.accept()
        except OSError:
            self.reply("425 No data connection.")
            return None
        finally:
            self.data_listener.close()
            self.data_listener = None
        data.settimeout(min(30.0, self.remaining()))
        return data

    def listing(self):
        if self.scenario == "mlsd-names":
            return mlsd_listing(self.cwd)
        if self.scenario == "evil-names":
            return evil_listing()
        if self.scenario == "junk-listing":
            return junk_listing()
        if self.scenario == "big-listing":
            return big_listing()
        return unix_line(b"hello.txt", 25) + unix_line(b"sub", 4096, kind="d", perms="rwxr-xr-x")

    def file_bytes(self, name):
        if self.scenario.startswith("cut-"):
            return bytes(i % 251 for i in range(BIG_SIZE)) if name == b"big.bin" else None
        if self.scenario == "evil-names":
            return b"payload:" + name + b"\n"
        if self.scenario == "ascii-text":
            return ASCII_TEXT if name == b"text.txt" else None
        return b"hello from the data port\n" if name == b"hello.txt" else None

    def send_list(self):
        data = self.accept_data()
        if not data:
            return
        self.reply("150 Here comes the listing.")
        body = self.listing()
        try:
            if self.scenario == "silent-list":
                self.hold_data(data, 3.0)
                data.sendall(body)
            elif self.scenario == "drip-list":
                data.sendall(body[:-5])
                self.trickle_data(data, body[-5:], 1.2)
            elif self.scenario == "slow-list":
                for i in range(60):            # one byte every half second, at most 30 s
                    if time.monotonic() > self.deadline:
                        break
                    data.sendall(b"-r"[i % 2:i % 2 + 1])
                    time.sleep(0.5)
            else:
                data.sendall(body)
        except OSError:
            pass
        data.close()
        self.reply("226 Listing sent.")

    def send_file(self, name):
        content = self.file_bytes(name)
        if content is None:
            self.reply("550 No such file.")
            return True
        data = self.accept_data()
        if not data:
            return True
        self.reply("150 Opening BINARY mode data connection (%d bytes)." % len(content))
        if self.scenario.startswith("cut-"):
            try:
                data.sendall(content[:CUT_AT])
            except OSError:
                pass
            data.close()
            if self.scenario == "cut-426":
                self.reply("426 Connection closed; transfer aborted.")
            elif self.scenario == "cut-226":
                self.reply("226 Transfer complete.")   # a lie: only part was sent
            else:
                return False                            # cut-drop: the control connection goes too
            return True
        if self.scenario == "ascii-text" and self.type == b"A":
            content = content.replace(b"\n", b"\r\n")   # more bytes than announced
        try:
            if self.scenario == "slow-file":
                self.trickle_data(data, content, 0.5)
            else:
                data.sendall(content)
        except OSError:
            pass
        data.close()
        self.reply("226 Transfer complete.")
        return True

    def receive_file(self, name):
        data = self.accept_data()
        if not data:
            return
        self.reply("150 Ok to send data.")
        received = b""
        try:
            while len(received) < BIG_SIZE:
                chunk = data.recv(65536)
                if not chunk:
                    break
                received += chunk
        except OSError:
            pass
        data.close()
        self.log.command(b"STORED " + name + b" " + self.type + b" " + received)
        self.reply("426 Transfer aborted." if self.scenario == "slow-dele" else "226 Transfer complete.")

    def serve(self):
        if self.scenario == "slow-greeting":
            self.trickle(b"220 slow server here\r\n", 1.0)
        elif self.scenario == "late-greeting":
            self.hold(3.0)
            self.reply("220 Late but ready.")
        elif self.scenario == "busy-421" and self.first:
            self.log.command(b"<busy>")
            self.reply("421 Too many users, try again later.")
            return
        elif self.scenario == "long-greeting":
            self.send(b"220 " + b"x" * LONG_LINE)
            self.hold(30)
            return
        else:
            self.reply("220 Hostile test server ready.")
        for _ in range(MAX_COMMANDS):
            if self.idle_after_feat:
                try:
                    line = self.read_line(IDLE)
                except socket.timeout:
                    self.idle_after_feat = False
                    if self.scenario == "idle-drop":
                        self.log.command(b"<idle>")
                        line = self.read_line()
                        if line is not None:
                            self.log.command(line)
                        return
                    self.reply("421 Control connection timed out.")
                    self.log.command(b"<idle close>")
                    return
            else:
                line = self.read_line()
            if line is None:
                return
            self.log.command(line)
            verb, _, arg = line.partition(b" ")
            verb = verb.upper()
            if verb == b"USER":
                self.reply("331 Password please.")
            elif verb == b"PASS":
                if self.scenario == "idle-refused" and not self.first:
                    self.reply("530 Login incorrect.")
                elif self.scenario == "refused-login":
                    # RFC 959: only "530 " ends this reply; "123 " is one of its text lines.
                    self.send("530-Login refused.\r\n123 is not the end of this reply\r\n530 Login incorrect.\r\n")
                else:
                    self.reply("230 Logged in.")
            elif verb == b"PWD":
                self.reply('257 "%s" is the current directory.' % self.cwd)
            elif verb == b"CWD":
                path = arg.decode("latin-1")
                self.cwd = path if path.startswith("/") else self.cwd.rstrip("/") + "/" + path
                if self.scenario == "slow-reply":
                    self.trickle(b"250 Slowly.\r\n", 0.3)
                elif self.scenario == "long-reply":
                    self.send(b"250 " + b"y" * LONG_LINE)
                    self.hold(30)
                    return
                else:
                    self.reply("250 Directory changed.")
            elif verb == b"FEAT":
                mlst = " MLST type*;size*;modify*;\r\n" if self.scenario == "mlsd-names" else ""
                if self.disk and "mlst" in self.disk.modes:
                    mlst = " MLST type*;size*;unix.mode*;\r\n"
                if self.disk:
                    mlst += "".join(" %s\r\n" % (Disk.HASH_FEAT if m == "hash-HASH" else m[5:])
                                    for m in sorted(self.disk.modes) if m[5:] in Disk.HASHES)
                self.send("211-Features:\r\n SIZE\r\n REST STREAM\r\n" + mlst + "211 End\r\n")
                self.idle_after_feat = self.first and self.scenario.startswith("idle-")
            elif verb == b"TYPE" and self.scenario == "ascii-text":
                self.type = arg.upper()[:1]
                self.reply("200 OK.")
            elif verb in (b"TYPE", b"MODE", b"STRU", b"NOOP"):
                self.reply("200 OK.")
            elif verb in (b"EPSV", b"PORT", b"EPRT", b"LPRT", b"LPSV"):
                self.reply("500 Not understood.")
            elif verb == b"PASV":
                self.open_passive()
            elif self.disk and verb in Disk.VERBS:
                if not self.disk.command(self, verb, arg):
                    return
            elif verb == b"SIZE":
                content = self.file_bytes(arg)
                self.reply("213 %d" % len(content) if content is not None else "550 No such file.")
            elif verb == b"REST":
                self.reply("350 Restarting.")
            elif verb == b"MDTM" and self.scenario == "slow-file" and self.file_bytes(arg.rsplit(b"/", 1)[-1]) is not None:
                self.reply("213 20200101000000")
            elif verb in (b"LIST", b"NLST", b"MLSD"):
                self.send_list()
            elif verb == b"RETR":
                if not self.send_file(arg):
                    return
            elif verb == b"STOR" and self.scenario in ("ascii-text", "slow-dele"):
                self.receive_file(arg)
            elif verb == b"DELE" and self.scenario == "slow-dele":
                self.trickle(b"250 Deleted.\r\n", 0.2)
            elif self.disk and verb in Disk.VERBS:
                if not self.disk.command(self, verb, arg):
                    return
            elif verb == b"QUIT":
                self.reply("221 Bye.")
                return
            else:
                self.reply("502 Not implemented.")

    def run(self):
        try:
            self.serve()
        except OSError:
            pass
        finally:
            if self.data_listener:
                self.data_listener.close()
            try:
                self.sock.close()
            except OSError:
                pass


class Disk:
    """The disk scenario: commands act on a real folder; modes shape the replies."""
    VERBS = (b"STOR", b"RNFR", b"RNTO", b"DELE", b"SITE", b"MLST", b"STAT", b"RETR", b"SIZE", b"MDTM", b"REST",
             b"APPE", b"OPTS", b"HASH", b"XSHA256", b"XSHA1", b"XMD5", b"MD5")
    HASHES = {"HASH": None, "XSHA256": "SHA-256", "XSHA1": "SHA-1", "XMD5": "MD5", "MD5": "MD5"}
    HASH_FEAT = "HASH SHA-1*;SHA-256;MD5"

    def __init__(self, root, modes):
        self.root = os.path.realpath(root)
        self.modes = set(m for m in modes.split(",") if m)
        self.counts = {}
        self.renamed = False
        self.lock = threading.Lock()
        cuts = [int(m[4:]) for m in self.modes if m.startswith("cut-") and m[4:].isdigit()]
        self.cut = cuts[0] if cuts else None   # taken by the first transfer

    def take_cut(self):
        with self.lock:
            cut, self.cut = self.cut, None
        return cut

    def path(self, arg, cwd):
        name = arg.decode("latin-1")
        full = os.path.normpath(os.path.join(self.root, (name if name.startswith("/") else cwd + "/" + name).lstrip("/")))
        return full if full.startswith(self.root + "/") else None

    def command(self, ctl, verb, arg):
        """Runs one command; False: the connection is to close now."""
        with self.lock:
            n = self.counts[verb] = self.counts.get(verb, 0) + 1
        if "refuse-%s-%d" % (verb.decode(), n) in self.modes:
            ctl.reply("553 Refused.")
            return True
        drop = "drop-%s-%d" % (verb.decode(), n) in self.modes
        if "hold-%s-%d" % (verb.decode(), n) in self.modes:
            drop = "hold"
        if verb == b"SITE":
            word, _, rest = arg.partition(b" ")
            mode, _, arg = rest.partition(b" ")
        if verb == b"REST":
            ctl.rest = int(arg) if arg.isdigit() else 0
            return ctl.reply("350 Restarting at %d." % ctl.rest) or True
        if verb == b"OPTS":
            word, _, name = arg.upper().partition(b" ")
            if word != b"HASH" or name.decode("latin-1") not in Disk.HASH_FEAT.replace("*", "").split(" ")[1].split(";"):
                return ctl.reply("501 Unknown option.") or True
            ctl.hash_name = name.decode("latin-1")
            return ctl.reply("200 %s" % ctl.hash_name) or True
        rest, ctl.rest = getattr(ctl, "rest", 0), 0
        path = self.path(arg, ctl.cwd)
        exists = path is not None and os.path.isfile(path)
        if verb in (b"SIZE", b"MDTM"):
            if not exists:
                return ctl.reply("550 No such file.") or True
            st = os.stat(path)
            value = st.st_size if verb == b"SIZE" else time.strftime("%Y%m%d%H%M%S", time.gmtime(st.st_mtime))
            return ctl.reply("213 %s" % value) or True
        if verb == b"RETR":
            if exists and drop == "hold":
                return self.retrieve(ctl, path, rest, half=True)
            return self.retrieve(ctl, path, rest) if exists else ctl.reply("550 No such file.") or True
        if verb.decode() in Disk.HASHES:
            if not exists:
                return ctl.reply("550 No such file.") or True
            name = getattr(ctl, "hash_name", "SHA-1") if verb == b"HASH" else Disk.HASHES[verb.decode()]
            with open(path, "rb") as f:
                content = f.read() + (b"x" if "hash-wrong" in self.modes else b"")
            digest = hashlib.new(name.replace("-", "").lower(), content).hexdigest()
            if "hash-garbled" in self.modes:
                digest = digest[:-2]
            if verb == b"HASH":
                return ctl.reply("213 %s 0-%d %s %s" % (name, os.path.getsize(path) - 1, digest, arg.decode("latin-1"))) or True
            if verb == b"MD5":
                return ctl.reply("251 %s %s" % (arg.decode("latin-1"), digest)) or True
            return ctl.reply("213 %s" % digest) or True
        if verb == b"SITE":
            if not exists or word.upper() != b"CHMOD" or "chmod-refused" in self.modes:
                return ctl.reply("550 Refused.") or True
            os.chmod(path, int(mode, 8))
            return self.done(ctl, drop, "200 Mode changed.")
        if verb == b"MLST" or verb == b"STAT":
            if drop == "hold":
                return self.done(ctl, drop, None)
            if not path or not os.path.exists(path):
                return ctl.reply("550 No such file.") or True
            st, kind = os.stat(path), ("file" if exists else "dir")
            if verb == b"MLST":
                return ctl.send("250-Listing\r\n type=%s;size=%d;unix.mode=%04o; %s\r\n250 End\r\n"
                                % (kind, st.st_size, stat.S_IMODE(st.st_mode), path)) or True
            mode = stat.filemode(st.st_mode)
            line = unix_line(os.path.basename(path).encode("latin-1"), st.st_size, mode[0], mode[1:])
            return ctl.send(b"213-Status:\r\n" + line + b"213 End.\r\n") or True
        if verb in (b"STOR", b"APPE"):
            return self.store(ctl, path, drop, rest, verb == b"APPE")
        if verb == b"RNFR":
            refused = "rename-refused" in self.modes or ("rename-once" in self.modes and self.renamed)
            ctl.rename_from = path if exists and not refused else None
            return self.done(ctl, drop, "350 Ready.") if ctl.rename_from else ctl.reply("550 Cannot rename.") or True
        if verb == b"RNTO":
            source, ctl.rename_from = getattr(ctl, "rename_from", None), None
            if not source or not path or (exists and "rnto-existing-550" in self.modes):
                return ctl.reply("550 Cannot rename.") or True
            os.rename(source, path)
            self.renamed = True
            return self.done(ctl, drop, "250 Renamed.")
        if not exists or "dele-refused" in self.modes:
            return ctl.reply("550 Cannot delete.") or True
        os.unlink(path)
        return self.done(ctl, drop, "250 Deleted.")

    @staticmethod
    def done(ctl, drop, reply):
        """Carried out: the reply, or (drop) the connection closes unanswered, or ("hold")
        no reply comes until the client closes."""
        if drop == "hold":
            ctl.log.command(b"<held>")
            ctl.hold(60)
        elif not drop:
            ctl.reply(reply)
        return not drop

    def retrieve(self, ctl, path, rest, half=False):
        data = ctl.accept_data()
        if not data:
            return True
        ctl.reply("150 Opening BINARY mode data connection.")
        cut, sent = (os.path.getsize(path) // 2 if half else self.take_cut()), 0
        with open(path, "rb") as f:
            f.seek(rest)
            try:
                while cut is None or sent < cut:   # ends with the file, or at the cut
                    chunk = f.read(65536 if cut is None else min(65536, cut - sent))
                    if not chunk:
                        break
                    data.sendall(chunk)
                    sent += len(chunk)
            except OSError:
                pass
        if half:
            ctl.log.command(b"<held>")
            ctl.hold_data(data, 60)
        data.close()
        ctl.log.command(b"SENT %d" % sent)
        return cut is None and (ctl.reply("226 Transfer complete.") or True)

    def store(self, ctl, path, drop, rest=0, append=False):
        dot = os.path.basename(path or "").startswith(".")
        if not path or (not dot and "plain-stor-553" in self.modes):
            return ctl.reply("553 Not allowed.") or True
        data = ctl.accept_data()
        if not data:
            return True
        ctl.reply("150 Ok to send data.")
        failure = [m[-3:] for m in ("stor-426", "stor-452", "stor-550", "stor-552") if m in self.modes and dot]
        cut, received = None, 0
        with open(path, "ab" if append else "r+b" if rest and os.path.isfile(path) else "wb") as f:
            if rest and not append:
                f.seek(rest)
                f.truncate()
            try:
                while True:              # ends with the data connection, after a part or at the cut
                    chunk = data.recv(1024 if drop == "hold" else 65536)
                    if chunk and received == 0:
                        cut = self.take_cut()    # the first store that brings data
                    if cut is not None:
                        chunk = chunk[:cut - received]
                    f.write(chunk)
                    received += len(chunk)
                    if not chunk or received == cut or ((failure or drop == "hold") and f.tell() >= 1024):
                        break
            except OSError:
                pass
            size = f.tell()
        ctl.log.command(b"RECEIVED %d" % size)
        if drop == "hold":               # the rest of the data stays unread
            self.done(ctl, drop, None)
        data.close()
        if drop == "hold" or cut is not None:
            return False
        if failure and size >= 1024:
            return ctl.reply(failure[0] + " Transfer failed.") or True
        return self.done(ctl, drop, "226 Transfer complete.")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--scenario", required=True, choices=SCENARIOS)
    parser.add_argument("--log", required=True)
    parser.add_argument("--lifetime", type=float, default=120.0)
    parser.add_argument("--root")
    parser.add_argument("--modes", default="")
    args = parser.parse_args()
    disk = Disk(args.root, args.modes) if args.scenario == "disk" else None

    log = Log(args.log)
    deadline = time.monotonic() + args.lifetime
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(8)
    listener.settimeout(0.5)
    print("PORT %d" % listener.getsockname()[1], flush=True)

    accepted = 0
    while time.monotonic() < deadline and accepted < MAX_CONNECTIONS:
        try:
            sock, _ = listener.accept()
        except socket.timeout:
            continue
        except OSError:
            break
        accepted += 1
        threading.Thread(target=Control(sock, args.scenario, log, deadline, disk, accepted == 1).run,
                         daemon=True).start()
    listener.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
