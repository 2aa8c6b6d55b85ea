#!/usr/bin/env python3
"""Two replicas over one record store behind the real nginx with the shipped
site (TLS with a certificate made here, basic sign-in): a mixed load of small
queries and answers of tens of megabytes goes through the proxy while each
replica in turn is stopped and started again. No request may fail and every
answer must equal, byte for byte, the one the replica gives directly. Without
credentials the proxy answers 401 and nothing of the store.

Usage: replicas_behind_nginx.py SERVICE GENERATOR SITE [--seconds S]
"""
import argparse
import base64
import hashlib
import http.client
import os
import shutil
import signal
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
SIGN_IN = "Basic " + base64.b64encode(b"user:secret").decode()

# The mix: what each worker asks, in turn. The large answers are the
# samples of every channel of a 1,000,000-sample record.
SMALL = [
    ("POST", "/getFileName_list", b'{"groupName":"North"}'),
    ("POST", "/getChannelInfo", b'{"groupName":"North","fileName":"small"}'),
    ("POST", "/getFileInfo", b'{"groupName":"North","fileName":"small","channelList":["U1","D1"]}'),
    ("POST", "/getGroupFile_list", b'{"type":"all"}'),
    ("POST", "/getRecordInfo", b'{"groupName":"North","fileName":"big"}'),
    ("GET", "/viewer", b""),
]
LARGE = [
    ("POST", "/getFileInfo",
     b'{"groupName":"North","fileName":"big","channelList":["U1","U2","U3","U4","D1","D2","D3","D4"]}'),
    ("POST", "/getFileInfo", b'{"groupName":"North","fileName":"big","channelList":["U2","U3"]}'),
]


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_port(port, seconds=20):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        try:
            socket.create_connection(("127.0.0.1", port), timeout=0.5).close()
            return
        except OSError:
            time.sleep(0.05)
    raise RuntimeError(f"nothing listens on port {port}")


def ask(conn, method, uri, body, headers):
    conn.request(method, uri, body=body or None, headers=headers)
    reply = conn.getresponse()
    return reply.status, reply.read()


class Replica:
    """One service process with settings of its own over the shared store,
    written by the package's replica script."""

    def __init__(self, service, work, shared_settings, port):
        self.service, self.port = service, port
        self.root = os.path.join(work, f"replica-{port}")
        subprocess.run([os.path.join(REPO, "packaging", "replica-settings"),
                        shared_settings, self.root, str(port)], check=True)
        self.process = None
        self.starts = 0

    def start(self):
        self.starts += 1
        out = open(os.path.join(self.root, f"stdout-{self.starts}.txt"), "wb")
        self.process = subprocess.Popen([self.service], cwd=self.root, stdout=out,
                                        stderr=subprocess.STDOUT, env=dict(os.environ, TAVROOT=self.root))
        wait_port(self.port)

    def stop(self):
        """Asks it to end as systemd does; it must finish its answers and exit 0."""
        if self.process.poll() is not None:
            print(f"replica {self.port} had ended with {self.process.returncode} before it was stopped")
        self.process.send_signal(signal.SIGTERM)
        status = self.process.wait(timeout=40)
        if status != 0:
            with open(os.path.join(self.root, f"stdout-{self.starts}.txt"), "rb") as f:
                lines = [l for l in f.read().decode(errors="replace").splitlines() if "outStr" not in l]
                # A sanitizer's verdict first: its stack can be longer than the tail shown.
                verdict = [l for l in lines if "ERROR: " in l or "SUMMARY: " in l or "runtime error" in l]
                print(f"replica {self.port} ended with {status}:", "\n".join(verdict + lines[-30:])[-6000:])
        return status

    def kill(self):
        if self.process and self.process.poll() is None:
            self.process.kill()
            self.process.wait(timeout=10)


class Load:
    """Workers on keep-alive TLS connections through the proxy, each
    comparing every answer with the direct one."""

    def __init__(self, port, context, expected):
        self.port, self.context, self.expected = port, context, expected
        self.stop = threading.Event()
        self.lock = threading.Lock()
        self.done = {"small": 0, "large": 0}
        self.large_bytes = 0
        self.failures = []

    def worker(self, kind, mix, offset):
        conn = None
        i = offset
        while not self.stop.is_set():
            method, uri, body = mix[i % len(mix)]
            i += 1
            try:
                if conn is None:
                    conn = http.client.HTTPSConnection("127.0.0.1", self.port, context=self.context, timeout=60)
                status, data = ask(conn, method, uri, body, {"Authorization": SIGN_IN})
                digest = (status, len(data), hashlib.sha256(data).hexdigest())
                if digest != self.expected[(method, uri, body)]:
                    self.fail(f"{uri} {body[:60]!r}: {digest[:2]} instead of {self.expected[(method, uri, body)][:2]}")
            except Exception as error:  # a reset, a cut answer, a time-out
                self.fail(f"{uri} {body[:60]!r}: {type(error).__name__}: {error}")
                conn = None
                continue
            with self.lock:
                self.done[kind] += 1
                if kind == "large":
                    self.large_bytes += len(data)

    def fail(self, text):
        with self.lock:
            self.failures.append(f"{time.strftime('%H:%M:%S')} {text}")

    def start(self, small_workers, large_workers):
        self.threads = [threading.Thread(target=self.worker, args=("small", SMALL, n)) for n in range(small_workers)]
        self.threads += [threading.Thread(target=self.worker, args=("large", LARGE, n)) for n in range(large_workers)]
        for t in self.threads:
            t.start()

    def finish(self):
        self.stop.set()
        for t in self.threads:
            t.join(timeout=120)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("service")
    parser.add_argument("generator")
    parser.add_argument("site")
    parser.add_argument("--seconds", type=float, default=4.0, help="load before, between and after the restarts")
    args = parser.parse_args()
    args.service, args.generator, args.site = map(os.path.abspath, (args.service, args.generator, args.site))
    if not shutil.which("nginx") or not shutil.which("openssl"):
        print("skip - no nginx or openssl here")
        return 0

    work = tempfile.mkdtemp(prefix="replicas-")
    replicas, nginx = [], None
    try:
        store = os.path.join(work, "store", "North")
        os.makedirs(store)
        for name, samples in (("big", 1000000), ("small", 400)):
            subprocess.run([args.generator, "--out", os.path.join(store, name), "--binary", "--analog", "4",
                            "--digital", "4", "--samples", str(samples), "--seed", "5"],
                           check=True, stdout=subprocess.DEVNULL)
        shared = os.path.join(work, "ComTrade.ini")
        with open(shared, "w") as f:
            f.write(f"[base]\nfileDir={os.path.dirname(store)}\nlogDir={work}/comtrade.log\nport=8000\n")
        replicas = [Replica(args.service, work, shared, free_port()) for _ in range(2)]
        for r in replicas:
            r.start()

        # What each request answers straight from a replica.
        direct = http.client.HTTPConnection("127.0.0.1", replicas[0].port, timeout=60)
        expected = {}
        for method, uri, body in SMALL + LARGE:
            status, data = ask(direct, method, uri, body, {})
            expected[(method, uri, body)] = (status, len(data), hashlib.sha256(data).hexdigest())
        direct.close()
        largest = max(size for _, size, _ in expected.values())
        if largest < 10 << 20:
            raise RuntimeError(f"the large answers are only {largest} bytes")

        proxy_port = free_port()
        front = os.path.join(work, "nginx")
        subprocess.run([os.path.join(HERE, "proxy_front.sh"), args.site, front, str(proxy_port)]
                       + [str(r.port) for r in replicas], check=True, stdout=subprocess.DEVNULL)
        nginx = subprocess.Popen(["timeout", "600", "nginx", "-p", front, "-c", os.path.join(front, "nginx.conf")])
        wait_port(proxy_port)
        context = ssl.create_default_context(cafile=os.path.join(front, "cert.pem"))
        context.check_hostname = False

        # Without credentials, or with wrong ones: 401 and nothing of the store.
        refused = []
        for headers in ({}, {"Authorization": "Basic " + base64.b64encode(b"user:wrong").decode()}):
            for method, uri, body in (SMALL[0], SMALL[5], LARGE[0]):
                conn = http.client.HTTPSConnection("127.0.0.1", proxy_port, context=context, timeout=10)
                status, data = ask(conn, method, uri, body, headers)
                conn.close()
                if status != 401 or b"North" in data or b"big" in data or len(data) > 1000:
                    refused.append(f"{uri} {headers}: {status}, {len(data)} bytes")

        load = Load(proxy_port, context, expected)
        load.start(small_workers=6, large_workers=2)
        exits = []
        started = time.monotonic()
        time.sleep(args.seconds)
        for r in replicas:
            exits.append(r.stop())
            time.sleep(args.seconds / 2)
            r.start()
            time.sleep(args.seconds)
        load.finish()
        elapsed = time.monotonic() - started

        print(f"{load.done['small']} small and {load.done['large']} large answers "
              f"({load.large_bytes / 1e6:.0f} MB) in {elapsed:.1f} s through nginx; "
              f"replica exits on SIGTERM: {exits}; largest answer {largest} bytes")
        problems = load.failures[:20]
        if any(code != 0 for code in exits):
            problems.append(f"a replica stopped with status {exits}")
        if load.done["large"] < 4 or load.done["small"] < 100:
            problems.append("too few answers to say anything")
        problems += refused
        for p in problems:
            print("FAIL -", p)
        if len(load.failures) > 20:
            print(f"... {len(load.failures)} failures in all")
        if not problems:
            print("ok - no request failed while each replica was stopped and started; answers byte-exact; 401 without sign-in")
        return 1 if problems else 0
    finally:
        if nginx:
            nginx.terminate()
            nginx.wait(timeout=10)
        for r in replicas:
            r.kill()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
