#!/usr/bin/python3
"""Loopback FTP server for the tests.

Prints "PORT <n>" on stdout once it listens, then serves until killed.
Every command it receives is appended to --log, one per line (PASS hidden).
With --tls-cert (and --tls-key) it serves explicit TLS (AUTH TLS) and requires
it on the control and the data connections.
With --login-folder the session starts there (PWD names it) while "/" stays the
served root, as on hosts that log users into their home folder without a change
of root. With --raw-ascii TYPE A is accepted but nothing is converted: the bytes
of an ASCII upload land on disk as they came over the wire, and a file is sent
as it is on disk.
"""
import argparse
import os
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.filesystems import AbstractedFS
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--root", required=True)
    ap.add_argument("--user", default="user")
    ap.add_argument("--password", default="secret")
    ap.add_argument("--anonymous", action="store_true")
    ap.add_argument("--no-mlsd", action="store_true")
    ap.add_argument("--dots", action="store_true")
    ap.add_argument("--perm", default="elradfmwMT")
    ap.add_argument("--no-rename-onto-existing", action="store_true")
    ap.add_argument("--no-dot-files", action="store_true")
    ap.add_argument("--upload-rate", type=int, default=0)
    ap.add_argument("--log", required=True)
    ap.add_argument("--host", default="127.0.0.1")
    ap.add_argument("--port", type=int, default=0)
    ap.add_argument("--tls-cert", default="")
    ap.add_argument("--tls-key", default="")
    ap.add_argument("--tls-data-cert", default="", help="another certificate for data connections")
    ap.add_argument("--tls-data-key", default="")
    ap.add_argument("--tls-log", default="")
    ap.add_argument("--login-folder", default="")
    ap.add_argument("--read-only", default="", help="a folder below the root that the user may not change")
    ap.add_argument("--raw-ascii", action="store_true")
    ap.add_argument("--tls-min", default="", help="lowest TLS version accepted, e.g. 1.3")
    ap.add_argument("--tls-data-after-command", action="store_true",
                    help="answer a data connection's TLS handshake only once the transfer command came")
    args = ap.parse_args()

    log = open(args.log, "a", buffering=1, encoding="utf-8", errors="surrogateescape")

    authorizer = DummyAuthorizer()
    if args.user:
        authorizer.add_user(args.user, args.password, args.root, perm=args.perm)
        if args.read_only:
            authorizer.override_perm(args.user, os.path.join(args.root, args.read_only), "elr", recursive=True)
    if args.anonymous:
        authorizer.add_anonymous(args.root, perm="elr")

    tls_log = open(args.tls_log or "/dev/null", "a", buffering=1)

    def log_tls(channel, conn):
        # One line per secured connection: "control TLSv1.2", "data TLSv1.2".
        tls_log.write("%s %s\n" % (channel, conn.get_protocol_version_name()))

    base = FTPHandler
    if args.tls_cert:
        from pyftpdlib.handlers import TLS_FTPHandler
        base = TLS_FTPHandler

    class Handler(base):
        auth_failed_timeout = 0
        # Names are bytes: whatever a client sends or the disk holds passes unchanged.
        unicode_errors = "surrogateescape"

        def handle_ssl_established(self):
            log_tls("control", self.socket)
            super().handle_ssl_established()

        def pre_process_command(self, line, cmd, arg):
            # Logged before the reply goes out, so a client that has its
            # reply always finds the command in the log.
            log.write(("PASS ******" if cmd == "PASS" else line) + "\n")
            return super().pre_process_command(line, cmd, arg)

    if args.no_rename_onto_existing:
        def ftp_RNTO(self, path, _base=Handler.ftp_RNTO):
            if self.fs.lexists(path):
                self._rnfr = None
                self.respond("550 File exists.")
                return None
            return _base(self, path)
        Handler.ftp_RNTO = ftp_RNTO
    if args.no_dot_files:
        def ftp_STOR(self, file, mode="w", _base=Handler.ftp_STOR):
            if os.path.basename(file).startswith("."):
                self.respond("550 Prohibited file name.")
                return None
            return _base(self, file, mode)
        Handler.ftp_STOR = ftp_STOR
    if args.upload_rate:
        from pyftpdlib.handlers import ThrottledDTPHandler

        class SlowUploads(ThrottledDTPHandler):
            read_limit = args.upload_rate  # bytes a second

        Handler.dtp_handler = SlowUploads
    Handler.authorizer = authorizer
    Handler.banner = "Quillon test server ready."
    if args.tls_cert:
        from pyftpdlib.handlers import TLS_DTPHandler

        class DataHandler(TLS_DTPHandler):
            # libcurl starts TLS on a passive data connection as soon as it
            # connects, before it sends the transfer command; the stock handler
            # takes that early ClientHello for a hang-up. Let the handshake run.
            def readable(self):
                if self._ssl_accepting:
                    # Like many daemons, optionally hold the handshake until a transfer was asked for.
                    return not args.tls_data_after_command or self._initialized or self.receive
                return super().readable()

            def handle_ssl_established(self):
                log_tls("data", self.socket)
                super().handle_ssl_established()

            if args.tls_data_cert:
                # A server whose data connections show another key than its control connection.
                from OpenSSL import SSL
                data_context = SSL.Context(SSL.TLS_SERVER_METHOD)
                data_context.use_certificate_chain_file(args.tls_data_cert)
                data_context.use_privatekey_file(args.tls_data_key or args.tls_data_cert)

                def secure_connection(self, ssl_context, _context=data_context):
                    super().secure_connection(_context)

        Handler.dtp_handler = DataHandler
        Handler.certfile = args.tls_cert
        Handler.keyfile = args.tls_key or None
        Handler.tls_control_required = True
        Handler.tls_data_required = True
        if args.tls_min:
            from OpenSSL import SSL
            versions = {"1.2": SSL.TLS1_2_VERSION, "1.3": SSL.TLS1_3_VERSION}
            context = Handler.get_ssl_context()
            context.set_min_proto_version(versions[args.tls_min])
            Handler.ssl_context = context
    fs = AbstractedFS
    if args.login_folder:
        class LoginFolderFS(fs):
            def __init__(self, root, cmd_channel):
                super().__init__(root, cmd_channel)
                self._cwd = args.login_folder

        fs = LoginFolderFS
    if args.dots:
        class DotsFS(fs):
            # Listings show the folder itself and its parent: LIST as "." and "..",
            # MLSD as type=cdir and type=pdir.
            def listdir(self, path):
                return [".", ".."] + super().listdir(path)

        fs = DotsFS
    Handler.abstracted_fs = fs
    if args.raw_ascii:
        class RawAsciiHandler(Handler):
            # Transfers always move the bytes as they are: the disk shows the wire.
            def ftp_TYPE(self, line):
                super().ftp_TYPE(line)
                self._current_type = 'i'

            def ftp_RETR(self, file):
                self._current_type = 'i'
                return super().ftp_RETR(file)

            def ftp_STOR(self, file, mode='w'):
                self._current_type = 'i'
                return super().ftp_STOR(file, mode)

        Handler = RawAsciiHandler
    if args.no_mlsd:
        Handler.proto_cmds = {k: v for k, v in base.proto_cmds.items()
                              if k not in ("MLSD", "MLST")}

    import logging
    logging.basicConfig(level=logging.CRITICAL)
    server = FTPServer((args.host, args.port), Handler)
    server.max_cons = 64
    print("PORT %d" % server.address[1], flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
