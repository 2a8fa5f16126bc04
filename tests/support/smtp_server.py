"""A local SMTP server for the mail tests, and a reader of what it received.

serve FOLDER [--refuse ADDRESS]... [--auth LOGIN:PASSWORD | --any-login] [--tls]
      [--greet-after SECONDS] [--dribble-ehlo SECONDS] [--dribble-data SECONDS]
    Listens on a free port of 127.0.0.1, prints "port N" once it accepts
    connections, and stores every received message as NNNN.eml (the bytes as
    received) with NNNN.json (envelope sender, recipients, login, whether
    the session was under TLS) in FOLDER. Every AUTH command that arrives
    is noted (its mechanism only) as a line of FOLDER/auth.log.
    RCPT TO a refused address is answered 550. With --auth, mail is only
    taken after AUTH with that login; --any-login offers AUTH and takes any
    login. With --tls the server offers STARTTLS (smtp_server_cert.pem beside
    this script) and takes nothing but EHLO before it. The last three make a
    slow server: the greeting only after SECONDS; "250-" lines dribbled for
    SECONDS before the EHLO reply or before the reply to the message.
    Runs until its standard input closes.

dump FOLDER
    Prints a JSON list of the stored messages, read by Python's email parser.
"""

import asyncio
import base64
import email
import email.policy
import json
import logging
import os
import ssl
import sys
import threading
import warnings


HERE = os.path.dirname(os.path.abspath(__file__))


async def dribble(server, seconds):
    """Answers with continuation lines, a few a second, for that long; false
    when the client went away meanwhile."""
    loop = asyncio.get_running_loop()
    end = loop.time() + seconds
    while loop.time() < end:
        if server.transport is None or server.transport.is_closing():
            return False
        await server.push('250-still working')
        await asyncio.sleep(0.2)
    return True


def serve(folder, refused, auth, any_login, tls, greet_after, dribble_ehlo, dribble_data):
    from aiosmtpd.smtp import SMTP, AuthResult

    # Logins in clear text are what the tests want of a loopback server.
    warnings.simplefilter('ignore')
    logging.getLogger('mail.log').setLevel(logging.ERROR)

    os.makedirs(folder, exist_ok=True)
    refused = {address.lower() for address in refused}
    counter = {'n': 0}

    class Handler:
        async def handle_EHLO(self, server, session, envelope, hostname, responses):
            session.host_name = hostname
            if dribble_ehlo:
                await dribble(server, dribble_ehlo)
            return responses

        async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
            if address.lower() in refused:
                return '550 5.1.1 Recipient refused'
            envelope.rcpt_tos.append(address)
            return '250 OK'

        async def handle_DATA(self, server, session, envelope):
            if dribble_data and not await dribble(server, dribble_data):
                return '451 Client gone'
            counter['n'] += 1
            stem = os.path.join(folder, '%04d' % counter['n'])
            with open(stem + '.eml.tmp', 'wb') as f:
                f.write(envelope.original_content)
            os.rename(stem + '.eml.tmp', stem + '.eml')
            login = session.auth_data.login.decode() if session.auth_data else None
            with open(stem + '.json.tmp', 'w') as f:
                json.dump({'mail_from': envelope.mail_from, 'rcpt_tos': envelope.rcpt_tos,
                           'login': login, 'tls': session.ssl is not None}, f)
            os.rename(stem + '.json.tmp', stem + '.json')
            return '250 Message accepted for delivery'

    def authenticator(server, session, envelope, mechanism, auth_data):
        if any_login:
            return AuthResult(success=True, auth_data=auth_data)
        login, password = auth.split(':', 1)
        ok = auth_data.login == login.encode() and auth_data.password == password.encode()
        return AuthResult(success=ok, auth_data=auth_data)

    tls_context = None
    if tls:
        tls_context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        tls_context.load_cert_chain(os.path.join(HERE, 'smtp_server_cert.pem'),
                                    os.path.join(HERE, 'smtp_server_key.pem'))

    class Server(SMTP):
        greeted = False

        async def push(self, status):
            if greet_after and not self.greeted:
                await asyncio.sleep(greet_after)
            self.greeted = True
            await super().push(status)

        async def smtp_AUTH(self, arg):
            with open(os.path.join(folder, 'auth.log'), 'a') as f:
                f.write((arg or '').split(' ')[0] + '\n')
            await super().smtp_AUTH(arg)

    async def main():
        loop = asyncio.get_running_loop()
        stop = loop.create_future()

        def factory():
            wants_login = bool(auth) or any_login
            return Server(Handler(), hostname='corvane-test-sink',
                          authenticator=authenticator if wants_login else None,
                          auth_required=bool(auth), auth_require_tls=False,
                          tls_context=tls_context, require_starttls=tls)

        server = await loop.create_server(factory, host='127.0.0.1', port=0)
        print('port %d' % server.sockets[0].getsockname()[1], flush=True)

        def watch_stdin():
            sys.stdin.read()
            loop.call_soon_threadsafe(lambda: stop.done() or stop.set_result(None))

        threading.Thread(target=watch_stdin, daemon=True).start()
        await stop
        server.close()
        await server.wait_closed()

    asyncio.run(main())


def subject_lines(raw):
    lines = raw.split(b'\r\n\r\n', 1)[0].split(b'\r\n')
    start = next(i for i, line in enumerate(lines) if line.lower().startswith(b'subject:'))
    end = start + 1
    while end < len(lines) and lines[end][:1] in (b' ', b'\t'):
        end += 1
    return lines[start:end]


def dump(folder):
    messages = []
    for name in sorted(os.listdir(folder)):
        if not name.endswith('.json'):
            continue
        stem = os.path.join(folder, name[:-5])
        with open(stem + '.json') as f:
            entry = json.load(f)
        with open(stem + '.eml', 'rb') as f:
            raw = f.read()
        message = email.message_from_bytes(raw, policy=email.policy.default)
        body = message.get_body(preferencelist=('plain',))
        entry.update({
            'header_names': list(message.keys()),
            'subject': str(message['Subject']),
            'subject_raw': email.message_from_bytes(raw)['Subject'],
            'from': str(message['From']),
            'to': str(message['To']),
            'defects': [repr(d) for part in message.walk() for d in part.defects],
            'body': body.get_content() if body is not None else None,
            'body_type': body['Content-Type'] if body is not None else None,
            'body_encoding': body['Content-Transfer-Encoding'] if body is not None else None,
            'attachments': [{'filename': part.get_filename(),
                             'type': part.get_content_type(),
                             'data': base64.b64encode(part.get_payload(decode=True)).decode()}
                            for part in message.iter_attachments()],
            'longest_line': max(len(line) for line in raw.split(b'\r\n')),
            'longest_subject_line': max(len(line) for line in subject_lines(raw)),
            'raw': raw.decode('latin-1'),
        })
        messages.append(entry)
    print(json.dumps(messages))


if __name__ == '__main__':
    if sys.argv[1] == 'serve':
        def value(name, default=None):
            return next((sys.argv[i + 1] for i, a in enumerate(sys.argv) if a == name), default)
        refused = [sys.argv[i + 1] for i, a in enumerate(sys.argv) if a == '--refuse']
        serve(sys.argv[2], refused, value('--auth'), '--any-login' in sys.argv, '--tls' in sys.argv,
              float(value('--greet-after', 0)), float(value('--dribble-ehlo', 0)),
              float(value('--dribble-data', 0)))
    elif sys.argv[1] == 'dump':
        dump(sys.argv[2])
