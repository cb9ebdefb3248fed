#!/usr/bin/python3
"""A local SMTP receiver for the peer tests (aiosmtpd).

    smtp_receiver.py FOLDER [PORT]

Listens on 127.0.0.1 (PORT 0 or missing: a free port) and stores every
accepted message in FOLDER as N.eml, the content bytes exactly as received
after the server removed the transparency dots, and N.envelope with one
"key<TAB>value" line each for mail_from, every rcpt_to, helo and peer (the
client's address:port, so that mails sent over one connection can be told
apart from mails over several). N counts from 1. Both files appear by
rename, so a reader never sees half a message.

When the server accepts connections the port is printed on its own line on
standard output (and written to FOLDER/port). Runs until SIGTERM or SIGINT,
or until the process that started it has gone.
"""

import os
import signal
import socket
import sys
import threading

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import SMTP


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def write_atomically(path, data):
    temporary = path + ".part"
    with open(temporary, "wb") as f:
        f.write(data)
    os.rename(temporary, path)


class StoringHandler:
    def __init__(self, folder):
        self.folder = folder
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
        base = os.path.join(self.folder, str(number))
        write_atomically(base + ".eml", content)
        write_atomically(base + ".envelope", ("\n".join(lines) + "\n").encode("utf-8"))
        return "250 OK stored as %d" % number


class Server(Controller):
    def factory(self):
        # decode_data stays False: the stored bytes are the bytes received.
        return SMTP(self.handler, decode_data=False, hostname="velkaro-test",
                    ident="velkaro peer receiver")


def main():
    if len(sys.argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    folder = sys.argv[1]
    port = int(sys.argv[2]) if len(sys.argv) > 2 else 0
    if port == 0:
        port = free_port()
    os.makedirs(folder, exist_ok=True)

    controller = Server(StoringHandler(folder), hostname="127.0.0.1", port=port)
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
    controller.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())
