#!/usr/bin/env python3
"""HTTPS of the agent's HTTP server on Windows (Schannel), from Linux clients.

    https_windows_test.py WINE HTTPS_TEST_SERVER_EXE

Starts https_test_server.exe under Wine (in the Wine session of the build's
tests) with certificates made by openssl for the run: a test CA and a server
certificate it signed, in PFX files. Checks the refusals of certificates
that cannot be used (the server does not start and says why), the
certificate found by thumbprint in the machine's store, a client that never
finishes its handshake (closed at the head time-out), and the connection
limit counting connections still in their handshake. Where Wine's Schannel
completes a handshake as a server, also a GET with curl trusting the test
CA from two client addresses and the head time-out of a client that
finishes its handshake and then sends nothing; where Schannel has no
server side (Wine 8: AcceptSecurityContext answers
SEC_E_UNSUPPORTED_FUNCTION), those say SKIP and why, and a handshake that
fails for any other reason fails the test.
"""
import os
import select
import shutil
import socket
import ssl
import subprocess
import sys
import tempfile
import time

HEAD_TIMEOUT = 1.5  # seconds, the server's --head-timeout-ms
SLACK = 5.0         # what a loaded machine may add to a deadline

wine, server_exe = sys.argv[1:3]
work = tempfile.mkdtemp(prefix="quarrin-https.")
failures = []


def check(ok, what):
    print(("ok    " if ok else "FAIL  ") + what)
    if not ok:
        failures.append(what)


def path(name):
    return os.path.join(work, name)


def windows(name):
    return "Z:" + path(name).replace("/", "\\")


def openssl(*args):
    subprocess.run(["openssl", *args], check=True, capture_output=True)


def make_certificates():
    # RSA keys: Wine's Schannel reads only RSA key containers.
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", path("ca.key"),
            "-out", path("ca.crt"), "-days", "2", "-subj", "/CN=Quarrin Test CA",
            "-addext", "basicConstraints=critical,CA:TRUE",
            "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", path("server.key"),
            "-out", path("server.csr"), "-subj", "/CN=localhost")
    with open(path("server.ext"), "w") as f:
        f.write("subjectAltName=IP:127.0.0.1,DNS:localhost\n")
    openssl("x509", "-req", "-in", path("server.csr"), "-CA", path("ca.crt"),
            "-CAkey", path("ca.key"), "-CAcreateserial", "-out", path("server.crt"),
            "-days", "2", "-extfile", path("server.ext"))
    openssl("pkcs12", "-export", "-in", path("server.crt"), "-inkey", path("server.key"),
            "-certfile", path("ca.crt"), "-out", path("server.pfx"), "-passout", "pass:pfx-pass")
    out = subprocess.run(["openssl", "x509", "-in", path("server.crt"), "-noout", "-fingerprint",
                          "-sha1"], check=True, capture_output=True, text=True).stdout
    return out.strip().split("=", 1)[1].replace(":", "")


def first_line(process, timeout=60):
    ready, _, _ = select.select([process.stdout], [], [], timeout)
    return process.stdout.readline().strip() if ready else ""


class Server:
    """https_test_server.exe under Wine; `port` once it listens, else `error`."""

    def __init__(self, *args):
        self.process = subprocess.Popen([wine, server_exe, *args], stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                        text=True)
        line = first_line(self.process)
        self.port = int(line.split()[1]) if line.startswith("port ") else None
        self.error = None if self.port else line

    def stop(self):
        self.process.stdin.close()
        try:
            return self.process.wait(timeout=60)
        except subprocess.TimeoutExpired:
            self.process.kill()
            return None


def connect(port, source="127.0.0.1"):
    s = socket.create_connection(("127.0.0.1", port), timeout=HEAD_TIMEOUT + SLACK,
                                 source_address=(source, 0))
    return s


def wait_closed(s):
    """Seconds until the server closed `s` (reading what it sends), or None."""
    start = time.monotonic()
    try:
        while s.recv(4096):
            pass
    except (ConnectionResetError, ssl.SSLError):
        pass
    except socket.timeout:
        return None
    return time.monotonic() - start


def handshake(port, source="127.0.0.1"):
    context = ssl.create_default_context(cafile=path("ca.crt"))
    return context.wrap_socket(connect(port, source), server_hostname="127.0.0.1")


def refusals(thumbprint):
    cases = [
        (["--pfx", windows("server.pfx"), "--password", "wrong"],
         f"PFX file '{windows('server.pfx')}': wrong password"),
        (["--pfx", windows("missing.pfx")], f"PFX file '{windows('missing.pfx')}': "),
        (["--pfx", windows("server.crt")], f"'{windows('server.crt')}' is not a PFX (PKCS #12) file"),
        (["--thumbprint", "00" * 20],
         "no certificate with thumbprint " + "00" * 20 +
         " in the machine's personal store (LocalMachine\\My)"),
        (["--thumbprint", thumbprint[:-2]], f"certificate thumbprint '{thumbprint[:-2]}' is not 40"),
    ]
    for args, expected in cases:
        server = Server(*args)
        status = server.stop()
        check(server.port is None and status == 2 and
              server.error.startswith("error: HTTPS on port 0: " + expected),
              f"{' '.join(args)}: refused ({server.error})")


def from_store(thumbprint):
    added = subprocess.run([wine, server_exe, "--add-to-store", windows("server.pfx"), "pfx-pass"],
                           capture_output=True, text=True, timeout=120).stdout.strip()
    check(added == thumbprint, f"the certificate is in LocalMachine\\My as {added}")
    # As the certificate dialog shows it: lower case, pairs apart.
    shown = " ".join(thumbprint[i:i + 2] for i in range(0, 40, 2)).lower()
    server = Server("--thumbprint", shown)
    check(server.port is not None, f"the server starts with the store's certificate ({server.error})")
    if server.port:
        server.stop()


def served(port):
    """Whether a handshake completes; the reason when it does not."""
    try:
        handshake(port).close()
        return True, ""
    except (OSError, ssl.SSLError) as e:
        return False, f"{type(e).__name__}: {e}"


# SEC_E_UNSUPPORTED_FUNCTION: what Wine 8's Schannel answers a server.
UNSUPPORTED = "0x80090302"


def probe():
    """What AcceptSecurityContext answers to a client hello, as 0x... text."""
    out = subprocess.run([wine, server_exe, "--probe", windows("server.pfx"), "pfx-pass"],
                         capture_output=True, text=True, timeout=120).stdout.strip()
    return out.removeprefix("status ")


def sessions(port):
    for source, target in (("127.0.0.1", "/hello"), ("127.0.0.2", "/x?y=1")):
        out = subprocess.run(["curl", "-sS", "--max-time", "30", "--interface", source, "--cacert",
                              path("ca.crt"), "-w", " %{http_code}",
                              f"https://127.0.0.1:{port}{target}"],
                             capture_output=True, text=True).stdout
        check(out == f"{source} {target.split('?')[0]} 200", f"curl from {source}: {out!r}")
    stalled = handshake(port)
    start = time.monotonic()
    reply = b""
    try:
        while chunk := stalled.recv(4096):
            reply += chunk
    except (OSError, ssl.SSLError):
        pass
    took = time.monotonic() - start
    check(reply.startswith(b"HTTP/1.1 408") and took < HEAD_TIMEOUT + SLACK,
          f"a client silent after its handshake gets 408 after {took:.1f} s: {reply[:40]!r}")


def handshake_limits(port):
    # A client that never starts its handshake is closed at the head
    # time-out.
    silent = connect(port)
    took = wait_closed(silent)
    check(took is not None and HEAD_TIMEOUT - 0.2 < took < HEAD_TIMEOUT + SLACK,
          f"a client that sends no handshake is closed after {took and round(took, 1)} s")
    # Connections in their handshake hold the client's places.
    held = [connect(port, "127.0.0.5") for _ in range(2)]
    time.sleep(0.3)
    third = connect(port, "127.0.0.5")
    reply = third.recv(4096)
    check(reply.startswith(b"HTTP/1.1 503"), f"a third connection is refused: {reply[:40]!r}")
    for s in held + [third, silent]:
        s.close()


def main():
    thumbprint = make_certificates()
    refusals(thumbprint)
    from_store(thumbprint)
    server = Server("--pfx", windows("server.pfx"), "--password", "pfx-pass",
                    "--head-timeout-ms", str(int(HEAD_TIMEOUT * 1000)), "--per-client-limit", "2")
    check(server.port is not None, f"the server starts with the PFX file's certificate ({server.error})")
    if server.port:
        handshake_limits(server.port)
        ok, why = served(server.port)
        if ok:
            sessions(server.port)
        elif probe() == UNSUPPORTED:
            print("SKIP  GET over HTTPS and the head time-out after a handshake: this Wine's "
                  f"Schannel has no server side (AcceptSecurityContext: {UNSUPPORTED}; the "
                  f"client: {why})")
        else:
            check(False, f"a handshake with the test CA completes ({why})")
        check(server.stop() == 0, "the server stops")
    shutil.rmtree(work, ignore_errors=True)
    if failures:
        print(f"{len(failures)} check(s) failed")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
