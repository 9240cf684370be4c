#!/usr/bin/env python3
"""A real SMTP server on 127.0.0.1 for the mail tests: AUTH LOGIN and PLAIN
required, each message written to OUT_DIR/N.eml. Prints the port, then serves
until its standard input closes."""
import os
import socket
import sys
import time

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult, LoginPassword

out_dir, user, password = sys.argv[1], sys.argv[2].encode(), sys.argv[3].encode()
count = 0


class Handler:
    async def handle_DATA(self, server, session, envelope):
        global count
        count += 1
        with open(os.path.join(out_dir, f"{count}.eml"), "wb") as f:
            f.write(envelope.original_content or envelope.content)
        return "250 OK"


def authenticate(server, session, envelope, mechanism, auth_data):
    ok = isinstance(auth_data, LoginPassword) and auth_data.login == user and auth_data.password == password
    return AuthResult(success=ok)


with socket.socket() as probe:  # a free port for the server
    probe.bind(("127.0.0.1", 0))
    port = probe.getsockname()[1]
controller = Controller(Handler(), hostname="127.0.0.1", port=port, authenticator=authenticate,
                        auth_required=True, auth_require_tls=False)
controller.start()
print(port, flush=True)
try:
    sys.stdin.read()
finally:
    controller.stop()
