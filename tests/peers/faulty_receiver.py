#!/usr/bin/python3
"""A local SMTP receiver (aiosmtpd) that misbehaves for chosen recipients.

    faulty_receiver.py FOLDER [--rule ACTION=ADDRESS]...

Stores accepted messages exactly as smtp_receiver.py does (FOLDER/N.eml and
FOLDER/N.envelope, by rename) and prints its port on the first line of its
standard output. Each rule names what the server does for a transaction
whose recipient is ADDRESS:

  refuse-rcpt   550 to RCPT TO, every time
  refuse-data   550 after the whole data, every time (nothing stored)
  stall-rcpt    no reply to RCPT TO, ever                      (once)
  stall-data    stops reading after the first line of the data (once)
  stall-reply   stores the whole mail, then never replies      (once)
  drop-rcpt     closes the connection instead of replying to
                RCPT TO                                        (once)
  reset-data    resets the connection (RST) after the first
                line of the data                               (once)
  421-data      421 after the whole data (nothing stored), then
                closes the connection                          (once)
  idle-close    in the data, closes the connection (FIN) once
                the client has sent nothing for 60 ms, as a
                server's data time-out does; nothing stored    (once)

A rule marked "once" acts the first time only; later transactions for
the address are served normally. When a stall-* rule has the client where
it wants it, FOLDER/reached appears (by rename) holding "ACTION ADDRESS",
so that a test can kill the client at exactly that point. Every rule that
acted is appended to FOLDER/acted.log. Runs until SIGTERM or SIGINT, or
until the process that started it has gone.
"""

import argparse
import asyncio
import os
import signal
import socket
import struct
import sys
import threading

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import SMTP

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from smtp_receiver import StoringHandler, free_port, write_atomically  # noqa: E402

ONCE = {"stall-rcpt", "stall-data", "stall-reply", "drop-rcpt", "reset-data", "421-data",
        "idle-close"}
IDLE_SECONDS = 0.06
ALWAYS = {"refuse-rcpt", "refuse-data"}
FOREVER = 3600


class Rules:
    def __init__(self, folder, given):
        self.folder = folder
        self.pending = set()
        for rule in given:
            action, _, address = rule.partition("=")
            if action not in ONCE | ALWAYS or not address:
                raise SystemExit("faulty_receiver.py: unknown rule %r" % rule)
            self.pending.add((action, address.lower()))
        self.lock = threading.Lock()

    def take(self, action, addresses):
        """True when `action` is to act for one of `addresses` now."""
        with self.lock:
            for address in addresses:
                key = (action, address.lower())
                if key in self.pending:
                    if action in ONCE:
                        self.pending.discard(key)
                    with open(os.path.join(self.folder, "acted.log"), "a") as log:
                        log.write("%s %s\n" % (action, address))
                    return True
        return False

    def note(self, text):
        with self.lock, open(os.path.join(self.folder, "acted.log"), "a") as log:
            log.write(text + "\n")

    def reached(self, action, address):
        write_atomically(os.path.join(self.folder, "reached"),
                         ("%s %s\n" % (action, address)).encode())


def reset(transport):
    sock = transport.get_extra_info("socket")
    if sock is not None:
        # Zero linger: close() sends RST instead of FIN.
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    transport.abort()


class FaultyHandler(StoringHandler):
    def __init__(self, folder, rules):
        super().__init__(folder)
        self.rules = rules

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if self.rules.take("refuse-rcpt", [address]):
            return "550 5.1.1 <%s>: Recipient address rejected: User unknown" % address
        if self.rules.take("stall-rcpt", [address]):
            self.rules.reached("stall-rcpt", address)
            await asyncio.sleep(FOREVER)
        if self.rules.take("drop-rcpt", [address]):
            server.transport.close()
            await asyncio.sleep(FOREVER)
        envelope.rcpt_tos.append(address)
        envelope.rcpt_options.extend(rcpt_options)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        tos = envelope.rcpt_tos
        if self.rules.take("refuse-data", tos):
            return "550 5.7.1 Message content rejected for %s" % tos[0]
        if self.rules.take("421-data", tos):
            loop = asyncio.get_running_loop()
            loop.call_later(0.05, server.transport.close)
            return "421 4.3.2 Service shutting down, try again later"
        if self.rules.take("stall-reply", tos):
            await super().handle_DATA(server, session, envelope)
            self.rules.reached("stall-reply", tos[0])
            await asyncio.sleep(FOREVER)
        return await super().handle_DATA(server, session, envelope)


class FaultySMTP(SMTP):
    def __init__(self, handler, rules, **kwargs):
        super().__init__(handler, **kwargs)
        self.rules = rules

    async def smtp_DATA(self, arg):
        tos = list(self.envelope.rcpt_tos)
        for action in ("stall-data", "reset-data"):
            if tos and self.envelope.mail_from and not arg and self.rules.take(action, tos):
                await self.push("354 End data with <CR><LF>.<CR><LF>")
                await self._reader.readuntil(b"\r\n")
                if action == "reset-data":
                    reset(self.transport)
                    return
                # Nothing more is read: the client's writes fill the socket
                # buffers and then block.
                self.transport.pause_reading()
                self.rules.reached(action, tos[0])
                await asyncio.sleep(FOREVER)
        if tos and self.envelope.mail_from and not arg and self.rules.take("idle-close", tos):
            await self.push("354 End data with <CR><LF>.<CR><LF>")
            lines = 0
            ended = False
            try:
                while not ended:
                    line = await asyncio.wait_for(self._reader.readuntil(b"\r\n"), IDLE_SECONDS)
                    ended = line == b".\r\n"
                    lines += 1
            except asyncio.TimeoutError:
                pass
            # Whatever came, the transaction is given up unfinished.
            self.rules.note("idle-close %s: closed after %d line(s) of data, %s the end of data"
                            % (tos[0], lines, "with" if ended else "without"))
            self.transport.close()
            return
        return await super().smtp_DATA(arg)


class Server(Controller):
    def __init__(self, handler, rules, **kwargs):
        self.rules = rules
        super().__init__(handler, **kwargs)

    def factory(self):
        return FaultySMTP(self.handler, self.rules, decode_data=False, hostname="velkaro-test",
                          ident="velkaro faulty receiver")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("folder")
    parser.add_argument("--rule", action="append", default=[])
    o = parser.parse_args()
    os.makedirs(o.folder, exist_ok=True)
    rules = Rules(o.folder, o.rule)
    port = free_port()
    controller = Server(FaultyHandler(o.folder, rules), rules, hostname="127.0.0.1", port=port)
    controller.start()

    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    signal.signal(signal.SIGINT, lambda *_: stop.set())
    starter = os.getppid()
    write_atomically(os.path.join(o.folder, "port"), ("%d\n" % port).encode())
    print(port, flush=True)
    while not stop.wait(0.2):
        if os.getppid() != starter:
            break
    controller.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())
