# SPDX-License-Identifier: GPL-3.0-or-later
# SMTP server for the mail tests: stores every message byte for byte and answers by rules.
#
# Usage: smtp_capture.py DIR [--cert PEM --key PEM] [--pop-log FILE]
# Listeners on 127.0.0.1 with free ports; prints one line "READY {json of ports}" when all listen.
#   plain       HELO/EHLO, no TLS, no AUTH
#   submission  STARTTLS offered, AUTH only after TLS (user "tester", password "secret")
#   smtps       implicit TLS, AUTH offered (same user)
#   greeting    plain, but the greeting spans three lines
#   popfirst    plain; MAIL FROM is refused unless a POP3 session of the user "popper" ended with
#               QUIT since the last mail (read from dovecot's log)
# Rules on every listener:
#   recipient local part starting "reject"  -> 550 to that RCPT
#   recipient local part starting "hangup"  -> a continuation line, then the connection is closed
#   message containing "REJECT-554"         -> 554 after the data
# Output in DIR: NNNN.eml (the data as received, after dot-unstuffing), NNNN.json (envelope),
# transcript.log (one line per connection and command: "<session> <listener> <what>").

import asyncio
import json
import os
import ssl
import sys

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword

USER = b"tester"
PASSWORD = b"secret"


class Capture:
    def __init__(self, outdir, listener, pop_log):
        self.outdir = outdir
        self.listener = listener
        self.pop_log = pop_log

    def note(self, server, what):
        with open(os.path.join(self.outdir, "transcript.log"), "a", encoding="utf-8") as f:
            f.write("%d %s %s\n" % (server.session_no, self.listener, what))

    async def handle_HELO(self, server, session, envelope, hostname):
        self.note(server, "HELO " + hostname)
        session.host_name = hostname
        return "250 mailtest.localhost"

    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        self.note(server, "EHLO " + hostname)
        session.host_name = hostname
        return responses

    async def handle_MAIL(self, server, session, envelope, address, mail_options):
        self.note(server, "MAIL " + address)
        if self.listener == "popfirst" and not await self.pop_logout_seen():
            return "530 5.7.0 Log in to your mailbox first"
        envelope.mail_from = address
        envelope.mail_options.extend(mail_options)
        return "250 2.1.0 OK"

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        self.note(server, "RCPT " + address)
        local = address.split("@")[0].lower()
        if local.startswith("reject"):
            envelope.refused = getattr(envelope, "refused", []) + [address]
            return "550 5.1.1 No such user here"
        if local.startswith("hangup"):
            server._writer.write(b"250-first line of a reply that never ends\r\n")
            await server._writer.drain()
            server.transport.close()
            return "250 2.1.5 OK"
        envelope.rcpt_tos.append(address)
        return "250 2.1.5 OK"

    async def handle_DATA(self, server, session, envelope):
        self.note(server, "DATA")
        data = envelope.original_content
        if b"REJECT-554" in data:
            return "554 5.6.0 Message refused by content rule"
        if not envelope.rcpt_tos:
            return "554 5.5.1 No valid recipients"
        n = len([f for f in os.listdir(self.outdir) if f.endswith(".eml")]) + 1
        base = os.path.join(self.outdir, "%04d" % n)
        with open(base + ".eml", "wb") as f:
            f.write(data)
        info = {
            "listener": self.listener,
            "helo": session.host_name,
            "mail_from": envelope.mail_from,
            "rcpt_tos": envelope.rcpt_tos,
            "refused": getattr(envelope, "refused", []),
            "tls": session.ssl is not None or self.listener == "smtps",
            "auth": session.auth_data.login.decode() if isinstance(session.auth_data, LoginPassword) else None,
        }
        with open(base + ".json", "w", encoding="utf-8") as f:
            json.dump(info, f)
        return "250 2.0.0 OK: queued as %04d" % n

    async def handle_QUIT(self, server, session, envelope):
        self.note(server, "QUIT")
        return "221 Bye"

    async def pop_logout_seen(self):
        # Each POP3 session that ended with QUIT allows one mail. Dovecot writes its log through
        # a separate process, so the line may lag a moment behind the client's "+OK".
        if not self.pop_log:
            return False
        used_file = os.path.join(self.outdir, "pop-used")
        used = int(open(used_file).read()) if os.path.exists(used_file) else 0
        for _ in range(30):
            try:
                with open(self.pop_log, encoding="utf-8", errors="replace") as f:
                    count = sum(1 for line in f if "pop3(popper)" in line and "Disconnected: Logged out" in line)
            except FileNotFoundError:
                count = 0
            if count > used:
                with open(used_file, "w") as f:
                    f.write(str(used + 1))
                return True
            await asyncio.sleep(0.1)
        return False


class CaptureSMTP(SMTP):
    sessions = 0

    def __init__(self, capture, multiline_greeting=False, **kwargs):
        super().__init__(capture, hostname="mailtest.localhost", **kwargs)
        self.capture = capture
        self.multiline_greeting = multiline_greeting
        self.greeted = False
        CaptureSMTP.sessions += 1
        self.session_no = CaptureSMTP.sessions

    def connection_made(self, transport):
        first = self.transport is None
        super().connection_made(transport)
        if first:
            self.capture.note(self, "CONNECT")

    async def push(self, status):
        if self.multiline_greeting and not self.greeted:
            self._writer.write(b"220-mailtest.localhost welcome\r\n220-second line of the greeting\r\n")
        self.greeted = True
        await super().push(status)


def authenticator(server, session, envelope, mechanism, auth_data):
    if isinstance(auth_data, LoginPassword) and auth_data.login == USER and auth_data.password == PASSWORD:
        return AuthResult(success=True, auth_data=auth_data)
    # handled=False makes the server answer 535 instead of staying silent.
    return AuthResult(success=False, handled=False)


async def main():
    args = sys.argv[1:]
    outdir = args[0]
    opts = dict(zip(args[1::2], args[2::2]))
    pop_log = opts.get("--pop-log")
    tls = None
    if "--cert" in opts:
        tls = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        tls.load_cert_chain(opts["--cert"], opts["--key"])

    loop = asyncio.get_running_loop()

    def factory(name, **kw):
        return lambda: CaptureSMTP(Capture(outdir, name, pop_log), **kw)

    listeners = {
        "plain": (factory("plain"), None),
        "greeting": (factory("greeting", multiline_greeting=True), None),
        "popfirst": (factory("popfirst"), None),
    }
    if tls is not None:
        listeners["submission"] = (
            factory("submission", tls_context=tls, require_starttls=False, auth_require_tls=True,
                    authenticator=authenticator),
            None,
        )
        # Implicit TLS never counts as TLS for auth_require_tls, hence False here.
        listeners["smtps"] = (factory("smtps", auth_require_tls=False, authenticator=authenticator), tls)

    ports = {}
    servers = []
    for name, (make, ctx) in listeners.items():
        srv = await loop.create_server(make, host="127.0.0.1", port=0, ssl=ctx, reuse_address=True)
        servers.append(srv)
        ports[name] = srv.sockets[0].getsockname()[1]
    print("READY " + json.dumps(ports), flush=True)
    await asyncio.Event().wait()


if __name__ == "__main__":
    asyncio.run(main())
