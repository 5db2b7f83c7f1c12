"""A real SMTP server (aiosmtpd) on a free loopback port, for the mail tests.

Prints "port N" once it listens, then one JSON line per message it accepted: the HELO
argument, the envelope, the message bytes as received (base64), and the subject, body
and date as Python's own e-mail parser reads them. --refuse-helo NAME answers a HELO
with that argument with 502.
"""

import argparse
import asyncio
import base64
import email
import email.policy
import json

from aiosmtpd.smtp import SMTP


class Handler:
    def __init__(self, refuse_helo):
        self.refuse_helo = refuse_helo

    async def handle_HELO(self, server, session, envelope, hostname):
        if hostname == self.refuse_helo:
            return "502 5.7.0 Not welcome here"
        session.host_name = hostname
        return "250 {}".format(server.hostname)

    async def handle_DATA(self, server, session, envelope):
        data = envelope.original_content
        message = email.message_from_bytes(data, policy=email.policy.default)
        date = message["date"]
        print(json.dumps({
            "helo": session.host_name,
            "from": envelope.mail_from,
            "to": envelope.rcpt_tos,
            "data": base64.b64encode(data).decode("ascii"),
            "subject": str(message["subject"]) if message["subject"] is not None else None,
            "body": message.get_content(),
            "date": date.datetime.isoformat() if date is not None and date.datetime else None,
        }), flush=True)
        return "250 2.0.0 Accepted"


async def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--refuse-helo", default=None)
    args = parser.parse_args()
    loop = asyncio.get_running_loop()
    server = await loop.create_server(
        lambda: SMTP(Handler(args.refuse_helo), hostname="torvane-test"), "127.0.0.1", 0)
    print("port", server.sockets[0].getsockname()[1], flush=True)
    await server.serve_forever()


asyncio.run(main())
