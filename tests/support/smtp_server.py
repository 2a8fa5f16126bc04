"""A local SMTP server for the mail tests, and a reader of what it received.

serve FOLDER [--refuse ADDRESS]... [--auth LOGIN:PASSWORD]
    Listens on a free port of 127.0.0.1, prints "port N" once it accepts
    connections, and stores every received message as NNNN.eml (the bytes as
    received) with NNNN.json (envelope sender, recipients, login) in FOLDER.
    RCPT TO a refused address is answered 550. With --auth, mail is only
    taken after AUTH with that login. Runs until its standard input closes.

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
import sys
import threading
import warnings


def serve(folder, refused, auth):
    from aiosmtpd.smtp import SMTP, AuthResult

    # Logins in clear text are what the tests want of a loopback server.
    warnings.simplefilter('ignore')
    logging.getLogger('mail.log').setLevel(logging.ERROR)

    os.makedirs(folder, exist_ok=True)
    refused = {address.lower() for address in refused}
    counter = {'n': 0}

    class Handler:
        async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
            if address.lower() in refused:
                return '550 5.1.1 Recipient refused'
            envelope.rcpt_tos.append(address)
            return '250 OK'

        async def handle_DATA(self, server, session, envelope):
            counter['n'] += 1
            stem = os.path.join(folder, '%04d' % counter['n'])
            with open(stem + '.eml.tmp', 'wb') as f:
                f.write(envelope.original_content)
            os.rename(stem + '.eml.tmp', stem + '.eml')
            login = session.auth_data.login.decode() if session.auth_data else None
            with open(stem + '.json.tmp', 'w') as f:
                json.dump({'mail_from': envelope.mail_from, 'rcpt_tos': envelope.rcpt_tos,
                           'login': login}, f)
            os.rename(stem + '.json.tmp', stem + '.json')
            return '250 Message accepted for delivery'

    def authenticator(server, session, envelope, mechanism, auth_data):
        login, password = auth.split(':', 1)
        ok = auth_data.login == login.encode() and auth_data.password == password.encode()
        return AuthResult(success=ok, auth_data=auth_data)

    async def main():
        loop = asyncio.get_running_loop()
        stop = loop.create_future()

        def factory():
            return SMTP(Handler(), hostname='corvane-test-sink',
                        authenticator=authenticator if auth else None,
                        auth_required=bool(auth), auth_require_tls=False)

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
        refused = [sys.argv[i + 1] for i, a in enumerate(sys.argv) if a == '--refuse']
        auth = next((sys.argv[i + 1] for i, a in enumerate(sys.argv) if a == '--auth'), None)
        serve(sys.argv[2], refused, auth)
    elif sys.argv[1] == 'dump':
        dump(sys.argv[2])
