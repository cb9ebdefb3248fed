#!/usr/bin/python3
"""A local SMTP receiver for the peer tests (aiosmtpd).

    smtp_receiver.py FOLDER [PORT] [OPTIONS]

Listens on 127.0.0.1 (PORT 0 or missing: a free port) and stores every
accepted message in FOLDER as N.eml, the content bytes exactly as received
after the server removed the transparency dots, and N.envelope with one
"key<TAB>value" line each for mail_from, every rcpt_to, helo, peer (the
client's address:port, so that mails sent over one connection can be told
apart from mails over several), auth and auth_mechanism (the login id and
mechanism of a session that authenticated) and tls (1 when the session ran
over TLS). N counts from 1. Both files appear by rename, so a reader never
sees half a message. The commands received (AUTH arguments masked by
aiosmtpd) go to FOLDER/session.log.

Options:
  --tls-cert FILE --tls-key FILE   the server's certificate and key
  --require-starttls               offer STARTTLS and refuse everything but
                                   EHLO, NOOP, STARTTLS and QUIT before it
  --implicit-tls                   TLS from the first byte (port 465 style)
  --auth-user U --auth-password P  AUTH PLAIN and LOGIN, only over TLS, and
                                   required before MAIL
  --auth-token T                   also XOAUTH2 with this bearer token
  --size N                         advertise SIZE N and refuse larger data
  --capture                        put a relay in front that appends every
                                   byte a client sends to FOLDER/wire-N.bin
                                   (N counts connections from 1);
                                   wire-N.bin.done appears when the client
                                   has closed

When the server accepts connections the port is printed on its own line on
standard output (and written to FOLDER/port). Runs until SIGTERM or SIGINT,
or until the process that started it has gone.
"""

import argparse
import base64
import json
import logging
import os
import signal
import socket
import ssl
import sys
import threading
from collections import namedtuple

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import SMTP, AuthResult

# What a successful AUTH leaves in session.auth_data; aiosmtpd takes
# session.login_data from its `login`.
Login = namedtuple("Login", "login mechanism")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def write_atomically(path, data):
    temporary = path + ".part"
    with open(temporary, "wb") as f:
        f.write(data)
    os.rename(temporary, path)


def over_tls(server):
    # After STARTTLS the transport is the TLS layer's; with implicit TLS it
    # is a TLS transport from the start. Both carry the ssl_object.
    transport = server.transport
    return transport is not None and transport.get_extra_info("ssl_object") is not None


class StoringHandler:
    def __init__(self, folder, user=None, token=None):
        self.folder = folder
        self.user = user
        self.token = token
        self.count = 0
        self.lock = threading.Lock()

    async def handle_DATA(self, server, session, envelope):
        with self.lock:
            self.count += 1
            number = self.count
        # original_content is what arrived between DATA and the final dot,
        # with CR LF kept and the leading transparency dots removed.
        content = envelope.original_content
        if content is None:
            content = envelope.content
        if isinstance(content, str):
            content = content.encode("utf-8", "surrogateescape")
        lines = ["mail_from\t%s" % envelope.mail_from]
        lines += ["rcpt_to\t%s" % to for to in envelope.rcpt_tos]
        lines.append("helo\t%s" % session.host_name)
        if session.peer:
            lines.append("peer\t%s:%s" % (session.peer[0], session.peer[1]))
        if session.authenticated and isinstance(session.auth_data, Login):
            lines.append("auth\t%s" % session.auth_data.login.decode("utf-8", "replace"))
            lines.append("auth_mechanism\t%s" % session.auth_data.mechanism)
        if over_tls(server):
            lines.append("tls\t1")
        base = os.path.join(self.folder, str(number))
        write_atomically(base + ".eml", content)
        write_atomically(base + ".envelope", ("\n".join(lines) + "\n").encode("utf-8"))
        return "250 OK stored as %d" % number

    async def auth_XOAUTH2(self, server, args):
        # "user=U^Aauth=Bearer T^A^A", Base64, as the initial response or
        # after an empty challenge.
        if len(args) > 1:
            try:
                blob = base64.b64decode(args[1], validate=True)
            except ValueError:
                await server.push("501 5.5.2 Can't decode base64")
                return AuthResult(success=False, handled=True)
        else:
            blob = await server.challenge_auth("")
            if not isinstance(blob, bytes):
                return AuthResult(success=False, handled=True)
        fields = dict(part.split(b"=", 1) for part in blob.split(b"\x01") if b"=" in part)
        user = fields.get(b"user", b"")
        bearer = b"Bearer " + self.token.encode()
        if user == self.user.encode() and fields.get(b"auth", b"") == bearer:
            return AuthResult(success=True, auth_data=Login(user, "XOAUTH2"))
        # Gmail answers a refused token with a JSON status in a 334
        # challenge, waits for the client's empty line, then refuses.
        status = {"status": "401", "schemes": "Bearer", "scope": "https://mail.google.com/"}
        await server.challenge_auth(json.dumps(status))
        return AuthResult(
            success=False,
            handled=False,
            message="535-5.7.8 Username and Password not accepted. For more information, go to\r\n"
            "535 5.7.8  https://support.google.com/mail/?p=BadCredentials velkaro-test",
        )


class Server(Controller):
    def __init__(self, handler, options, **kwargs):
        self.options = options
        super().__init__(handler, **kwargs)

    def factory(self):
        o = self.options
        kwargs = {}
        if o.tls_cert and not o.implicit_tls:
            kwargs["tls_context"] = server_context(o)
            kwargs["require_starttls"] = o.require_starttls
        if o.auth_user is not None:
            kwargs["authenticator"] = self.authenticate
            kwargs["auth_required"] = True
        if o.auth_token is None:
            kwargs["auth_exclude_mechanism"] = ["XOAUTH2"]
        # aiosmtpd 1.4 counts only STARTTLS as TLS for auth_require_tls; a
        # connection that is TLS from the first byte must be allowed as well.
        kwargs["auth_require_tls"] = not o.implicit_tls
        if o.size is not None:
            kwargs["data_size_limit"] = o.size
        # decode_data stays False: the stored bytes are the bytes received.
        return SMTP(self.handler, decode_data=False, hostname="velkaro-test",
                    ident="velkaro peer receiver", **kwargs)

    def authenticate(self, server, session, envelope, mechanism, auth_data):
        account = (self.options.auth_user.encode(), self.options.auth_password.encode())
        if (auth_data.login, auth_data.password) != account:
            return AuthResult(success=False, handled=False)
        return AuthResult(success=True, auth_data=Login(auth_data.login, mechanism))


def server_context(options):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(options.tls_cert, options.tls_key)
    return context


class Capture:
    """A relay on the public port that records what clients send, so that a
    test can show what went over the wire before or instead of TLS."""

    def __init__(self, folder, port, upstream):
        self.folder = folder
        self.upstream = upstream
        self.count = 0
        self.listener = socket.socket()
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(("127.0.0.1", port))
        self.listener.listen(16)
        threading.Thread(target=self.accept, daemon=True).start()

    def accept(self):
        while True:
            try:
                client, _ = self.listener.accept()
            except OSError:
                return
            self.count += 1
            server = socket.create_connection(("127.0.0.1", self.upstream))
            record = os.path.join(self.folder, "wire-%d.bin" % self.count)
            open(record, "wb").close()
            threading.Thread(target=self.pump, args=(client, server, record), daemon=True).start()
            threading.Thread(target=self.pump, args=(server, client, None), daemon=True).start()

    @staticmethod
    def pump(source, sink, record):
        try:
            while True:
                data = source.recv(65536)
                if not data:
                    break
                if record:
                    with open(record, "ab") as f:
                        f.write(data)
                sink.sendall(data)
        except OSError:
            pass
        for s in (sink, source):
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
        if record:
            # The client has closed (or lost) its side: the record is whole.
            open(record + ".done", "wb").close()

    def close(self):
        self.listener.close()


def parse_arguments(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("folder")
    parser.add_argument("port", nargs="?", type=int, default=0)
    parser.add_argument("--tls-cert")
    parser.add_argument("--tls-key")
    parser.add_argument("--require-starttls", action="store_true")
    parser.add_argument("--implicit-tls", action="store_true")
    parser.add_argument("--auth-user")
    parser.add_argument("--auth-password", default="")
    parser.add_argument("--auth-token")
    parser.add_argument("--size", type=int)
    parser.add_argument("--capture", action="store_true")
    o = parser.parse_args(argv)
    if (o.require_starttls or o.implicit_tls) and not (o.tls_cert and o.tls_key):
        parser.error("--require-starttls and --implicit-tls need --tls-cert and --tls-key")
    if o.require_starttls and o.implicit_tls:
        parser.error("--require-starttls and --implicit-tls exclude each other")
    if o.auth_token is not None and o.auth_user is None:
        parser.error("--auth-token needs --auth-user")
    return o


def main():
    if len(sys.argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    o = parse_arguments(sys.argv[1:])
    folder = o.folder
    port = o.port or free_port()
    os.makedirs(folder, exist_ok=True)

    session_log = logging.FileHandler(os.path.join(folder, "session.log"))
    session_log.setFormatter(logging.Formatter("%(levelname)s %(message)s"))
    logging.getLogger("mail.log").addHandler(session_log)
    logging.getLogger("mail.log").setLevel(logging.INFO)

    capture = None
    smtp_port = port
    if o.capture:
        smtp_port = free_port()
        capture = Capture(folder, port, smtp_port)
    controller = Server(StoringHandler(folder, o.auth_user, o.auth_token), o,
                        hostname="127.0.0.1", port=smtp_port,
                        ssl_context=server_context(o) if o.implicit_tls else None)
    controller.start()

    stop = threading.Event()

    def on_signal(signum, frame):
        stop.set()

    signal.signal(signal.SIGTERM, on_signal)
    signal.signal(signal.SIGINT, on_signal)

    starter = os.getppid()
    write_atomically(os.path.join(folder, "port"), ("%d\n" % port).encode())
    print(port, flush=True)
    # Also stop when the test that started us is gone (it crashed before it
    # could stop us): then we are no longer its child.
    while not stop.wait(0.2):
        if os.getppid() != starter:
            break
    if capture:
        capture.close()
    controller.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())
