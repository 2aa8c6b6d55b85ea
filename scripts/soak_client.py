#!/usr/bin/env python3
"""Soak and load client for the record service (standard library only).

Learns the four queries' answers over a record store once, then runs N
keep-alive clients (one process each) that fire a random mix of them for a
fixed time. Every reply is checked: status line and header, chunked framing,
JSON where the answer is JSON, the fixed shape of the channel-data answer,
and the same bytes as the first time. Beside them runs a hostile mix over the
records of one station of its own (which the normal clients leave alone):
non-readers ask for its large answer, read nothing and leave after a while;
slow senders send a 16 MiB body one byte short (announced or chunked) and
stall; line-less clients ask for the record whose data file has no line end.
Reports requests served, non-200 replies, malformed replies, resets and
time-outs of the normal clients, what the hostile ones saw, and the service's
resident memory after the warm-up, at the end and at its highest.
"""

import argparse
import json
import multiprocessing
import os
import random
import socket
import sys
import time

from soak_wire import (MIB, REPLY_TIMEOUT, Connection, Malformed, NotOk, Reset, check_body,
                       json_string, post)

# How long a non-reader or a slow sender holds on before it leaves and comes
# back; well under the service's 60 s stall time-out, so it is the clients
# leaving that frees what they pinned.
HOLD_SECONDS = 4.0
# The longest a normal client's request may take, hostile mix or not.
MOST_WAIT = 5.0


def learn(port, records, skip_group):
    """The request set and each request's answer, asked twice to be sure."""
    requests = [
        (b"/getGroupFile_list", b'{"type":"all"}'),
        (b"/getGroupFile_list", b""),
        (b"/getFileName_list", b'{"groupName":"NoSuchStation"}'),
        (b"/getFileName_list", b"{}"),
        (b"/getChannelInfo", b'{"groupName":"North","fileName":"missing"}'),
        (b"/getFileInfo", b'{"groupName":"North","fileName":"missing","channelList":["x"]}'),
        (b"/getFileInfo", b'{"groupName":"North"}'),
        (b"/getChannelInfo", b"not json"),
    ]
    conn = Connection(port)
    samp_counts = {}
    for group in sorted(os.listdir(os.fsencode(records))):
        if group == os.fsencode(skip_group):
            continue
        group_json = json_string(group)
        requests.append((b"/getFileName_list", b'{"groupName":' + group_json + b"}"))
        listing = json.loads(conn.ask(post(*requests[-1])).decode("latin-1"))
        for name in listing.get("fileName_list") or []:
            name_json = json_string(name.encode("latin-1"))
            prefix = b'{"groupName":' + group_json + b',"fileName":' + name_json
            requests.append((b"/getChannelInfo", prefix + b"}"))
            info = json.loads(conn.ask(post(*requests[-1])).decode("latin-1"))
            analogs = [a["name"].encode("latin-1") for a in (info.get("aiList") or [])]
            digitals = [d.encode("latin-1") for d in (info.get("diList") or [])]
            channels = analogs + digitals
            if not channels:
                continue
            choices = [channels, channels[:1], digitals[:1] or analogs[-1:],
                       [b"NoSuchChannel"] + channels[-1:], channels[:1] * 2,
                       [b"NoSuchChannel"]]
            for choice in choices:
                body = (prefix + b',"channelList":[' +
                        b",".join(json_string(c) for c in choice) + b"]}")
                requests.append((b"/getFileInfo", body))
                samp_counts[body] = info.get("samp_count")
    expected = {}
    for uri, body in requests:
        first = conn.ask(post(uri, body))
        check_body(uri, first)
        if conn.ask(post(uri, body)) != first:
            sys.exit("soak: the same request got two different answers: %r" % body[:80])
        expected[(uri, body)] = first
    conn.close()
    return requests, expected


def worker(port, seed, deadline, requests, expected, results):
    rng = random.Random(seed)
    counts = {"served": 0, "non200": 0, "malformed": 0, "resets": 0, "timeouts": 0}
    examples = []
    longest = 0.0
    conn = None
    while time.monotonic() < deadline:
        try:
            if conn is None:
                conn = Connection(port)
            uri, body = rng.choice(requests)
            asked = time.monotonic()
            reply = conn.ask(post(uri, body))
            longest = max(longest, time.monotonic() - asked)
            check_body(uri, reply)
            if reply != expected[(uri, body)]:
                raise Malformed("%s: other bytes than before for %r" % (uri.decode(), body[:60]))
            counts["served"] += 1
            # Now and then a fresh connection, so connection set-up is soaked too.
            if rng.random() < 0.005:
                conn.close()
                conn = None
            continue
        except NotOk as error:
            counts["non200"] += 1
            what = str(error)
        except Malformed as error:
            counts["malformed"] += 1
            what = str(error)
        except (Reset, ConnectionRefusedError) as error:
            counts["resets"] += 1
            what = "reset: %s" % error
        except socket.timeout:
            counts["timeouts"] += 1
            what = "time-out"
        if len(examples) < 3:
            examples.append(what)
        if conn is not None:
            conn.close()
        conn = None
    if conn is not None:
        conn.close()
    results.put((counts, examples, longest))


def hostile_request(group, name, channels):
    body = (b'{"groupName":' + json_string(group.encode()) + b',"fileName":' +
            json_string(name.encode()) + b',"channelList":[' +
            b",".join(json_string(c.encode()) for c in channels) + b"]}")
    return post(b"/getFileInfo", body)


def sleep_until(moment):
    time.sleep(max(0.0, moment - time.monotonic()))


def non_reader(port, request, deadline, results):
    """Asks for a large answer, reads nothing of it, leaves with a reset."""
    counts = {"asked": 0}
    while time.monotonic() < deadline:
        try:
            sock = socket.socket()
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
            sock.connect(("127.0.0.1", port))
            sock.sendall(request)
            counts["asked"] += 1
            sleep_until(min(deadline, time.monotonic() + HOLD_SECONDS))
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\0\0\0\0\0\0\0")
            sock.close()
        except OSError:
            time.sleep(0.1)
    results.put(("non-readers", counts))


def slow_sender(port, seed, deadline, results):
    """Sends a 16 MiB body one byte short and stalls, then leaves."""
    rng = random.Random(seed)
    counts = {"held": 0, "refused 413": 0, "other": 0}
    while time.monotonic() < deadline:
        uri = rng.choice([b"/getGroupFile_list", b"/getFileInfo", b"/nope"])
        if rng.random() < 0.5:
            head = (b"POST " + uri + b" HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                    b"Content-Length: 16777216\r\n\r\n")
            body = b" " * (16 * MIB - 1)
        else:
            head = (b"POST " + uri + b" HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                    b"Transfer-Encoding: chunked\r\n\r\n")
            body = (b"100000\r\n" + b" " * MIB + b"\r\n") * 15 + b"100000\r\n" + b" " * (MIB - 1)
        try:
            sock = socket.create_connection(("127.0.0.1", port), timeout=REPLY_TIMEOUT)
            try:
                sock.sendall(head + body)
            except OSError:
                pass  # refused before the end of the body
            sock.settimeout(0.5)
            try:
                answer = sock.recv(4096)
            except socket.timeout:
                answer = b""
            if answer.startswith(b"HTTP/1.1 413 "):
                counts["refused 413"] += 1
                time.sleep(0.5)  # comes back, but does not hammer
            elif answer in (b"", b"HTTP/1.1 100 Continue\r\n\r\n"):
                counts["held"] += 1
                sleep_until(min(deadline, time.monotonic() + HOLD_SECONDS))
            else:
                counts["other"] += 1
            sock.close()
        except OSError:
            counts["other"] += 1
            time.sleep(0.1)
    results.put(("slow senders", counts))


def lineless_client(port, request, deadline, results):
    """Asks for the record without line ends, waits for whatever comes."""
    counts = {"answered": 0, "no answer": 0}
    while time.monotonic() < deadline:
        try:
            conn = Connection(port)
            conn.sock.settimeout(max(REPLY_TIMEOUT, deadline - time.monotonic() + 5))
            conn.ask(request)
            counts["answered"] += 1
            conn.close()
        except (Reset, Malformed, NotOk, OSError):
            counts["no answer"] += 1
        sleep_until(min(deadline, time.monotonic() + HOLD_SECONDS))
    results.put(("line-less", counts))


def resident_kib(pid, field="VmRSS"):
    try:
        with open("/proc/%d/status" % pid) as status:
            for line in status:
                if line.startswith(field + ":"):
                    return int(line.split()[1])
    except OSError:
        pass
    return None


def heap_and_file(pid):
    """RssAnon (heap and stacks) and RssFile (mapped code) of `pid`, in KiB."""
    return resident_kib(pid, "RssAnon"), resident_kib(pid, "RssFile")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--pid", type=int, required=True, help="the service's process id")
    parser.add_argument("--records", required=True, help="the record root the service reads")
    parser.add_argument("--clients", type=int, default=8)
    parser.add_argument("--seconds", type=float, default=60.0)
    parser.add_argument("--warmup", type=float, default=5.0)
    parser.add_argument("--hostile-group", default="SoakHostile",
                        help="the station of the hostile mix: records large and lineless")
    parser.add_argument("--budget-mb", type=int, default=512,
                        help="the service's replyBudgetMB")
    parser.add_argument("--non-readers", type=int, default=0)
    parser.add_argument("--slow-senders", type=int, default=0)
    parser.add_argument("--lineless", type=int, default=0)
    args = parser.parse_args()

    requests, expected = learn(args.port, args.records, args.hostile_group)
    print("soak: %d distinct requests over %s" % (len(requests), args.records))
    start = time.monotonic()
    deadline = start + args.warmup + args.seconds
    results = multiprocessing.Queue()
    workers = [multiprocessing.Process(target=worker,
                                       args=(args.port, 1000 + i, deadline, requests,
                                             expected, results))
               for i in range(args.clients)]
    channels = ["U%d" % i for i in range(1, 17)] + ["D%d" % i for i in range(1, 17)]
    large = hostile_request(args.hostile_group, "large", channels)
    lineless = hostile_request(args.hostile_group, "lineless", ["U1", "D1"])
    hostile_results = multiprocessing.Queue()
    hostile = ([multiprocessing.Process(target=non_reader,
                                        args=(args.port, large, deadline, hostile_results))
                for _ in range(args.non_readers)] +
               [multiprocessing.Process(target=slow_sender,
                                        args=(args.port, 2000 + i, deadline, hostile_results))
                for i in range(args.slow_senders)] +
               [multiprocessing.Process(target=lineless_client,
                                        args=(args.port, lineless, deadline, hostile_results))
                for _ in range(args.lineless)])
    for process in workers + hostile:
        process.start()
    time.sleep(args.warmup)
    rss_start = resident_kib(args.pid)
    split_start = heap_and_file(args.pid)
    rss_max = rss_start or 0
    # One figure every tenth of the run shows whether memory climbs steadily
    # (a leak) or settles (the allocator finding its working set).
    trace = [rss_start]
    next_trace = time.monotonic() + args.seconds / 10
    while time.monotonic() < deadline:
        time.sleep(min(1.0, max(0.0, deadline - time.monotonic())))
        rss_max = max(rss_max, resident_kib(args.pid) or 0)
        if time.monotonic() >= next_trace:
            trace.append(resident_kib(args.pid))
            next_trace += args.seconds / 10
    totals = {"served": 0, "non200": 0, "malformed": 0, "resets": 0, "timeouts": 0}
    examples = []
    longest = 0.0
    for _ in workers:
        counts, some, slowest = results.get(timeout=REPLY_TIMEOUT * 3)
        for key in totals:
            totals[key] += counts[key]
        examples += some
        longest = max(longest, slowest)
    hostile_totals = {}
    for _ in hostile:
        try:
            kind, counts = hostile_results.get(timeout=REPLY_TIMEOUT * 3)
        except Exception:  # a hostile client that hangs is reported, not fatal
            continue
        totals_of_kind = hostile_totals.setdefault(kind, {})
        for key, value in counts.items():
            totals_of_kind[key] = totals_of_kind.get(key, 0) + value
    for process in workers + hostile:
        process.join(REPLY_TIMEOUT)
    elapsed = time.monotonic() - start
    rss_end = resident_kib(args.pid)
    split_end = heap_and_file(args.pid)
    alive = rss_end is not None

    print("soak: %d clients, %.0f s (%.0f s warm-up included)" %
          (args.clients, elapsed, args.warmup))
    print("soak: requests served   %d (%.0f per second)" %
          (totals["served"], totals["served"] / max(elapsed, 1e-9)))
    print("soak: longest wait     %.2f s (one request of a normal client, reply read whole)" % longest)
    for key in ("non200", "malformed", "resets", "timeouts"):
        print("soak: %-17s %d" % (key.replace("non200", "non-200 replies"), totals[key]))
    for example in examples[:5]:
        print("soak:   e.g. %s" % example)
    for kind, counts in sorted(hostile_totals.items()):
        print("soak: hostile %-12s %s" % (kind, ", ".join("%s %d" % item for item in
                                                           sorted(counts.items()))))
    peak = resident_kib(args.pid, "VmHWM")
    if rss_start is not None and rss_end is not None:
        growth = 100.0 * (rss_end - rss_start) / rss_start
        print("soak: VmRSS after warm-up %d KiB, at the end %d KiB (%+.1f%%), highest %d KiB" %
              (rss_start, rss_end, growth, rss_max))
        print("soak: VmRSS over the run (KiB): %s" % " ".join(str(k) for k in trace))
        print("soak: of which anonymous / file-backed: %s / %s KiB after warm-up, %s / %s KiB "
              "at the end" % (split_start + split_end))
    else:
        growth = float("inf")
        print("soak: the service is gone (no VmRSS)")
    errors = sum(totals[key] for key in ("non200", "malformed", "resets", "timeouts"))
    # Clients that never read may cost honest ones a few seconds, never more.
    replies_ok = alive and errors == 0 and totals["served"] > 0 and longest <= MOST_WAIT
    if hostile:
        bound = (args.budget_mb + 100) * 1024
        memory_ok = alive and rss_max < bound
        target = "highest VmRSS under the budget plus 100 MB, %d KiB" % bound
        print("soak: VmHWM (highest resident ever, start-up included) %s KiB" % peak)
    else:
        memory_ok = growth <= 10.0
        target = "growth of at most 10% after the warm-up"
    print("soak: replies %s, memory %s (target: %s)" %
          ("PASS" if replies_ok else "FAIL", "PASS" if memory_ok else "FAIL", target))
    ok = replies_ok and memory_ok
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
