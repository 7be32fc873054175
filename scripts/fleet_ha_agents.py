#!/usr/bin/python3
"""Plays agents reporting through a load balancer that may lose a server
under them: the reports of bench/fleet_intake_load.py, each call retried as
the agent retries a report until it is acknowledged (rcOK) or the deadline
passes.

usage: fleet_ha_agents.py PORT MACHINES AGENTS APPS DEADLINE_S
APPS: application calls per machine (up to 13). Prints one progress line
every 10 % of the machines, then calls, acknowledged calls, retries, calls
given up (never acknowledged before the deadline) and the rate. Exit status
1 when any call was given up.
"""
import os
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "bench"))
from fleet_intake_load import calls_of, post  # noqa: E402


def main():
    if len(sys.argv) != 6:
        sys.exit(__doc__)
    port, machines, agents, apps = (int(a) for a in sys.argv[1:5])
    deadline = time.monotonic() + float(sys.argv[5])
    counts = {"calls": 0, "acked": 0, "retries": 0, "given_up": 0, "machines": 0}
    lock = threading.Lock()
    next_machine = [0]

    def agent():
        while True:
            with lock:
                machine = next_machine[0]
                next_machine[0] += 1
            if machine >= machines:
                return
            for n, (operation, body) in enumerate(calls_of(machine, 0)):
                if n >= 2 + apps:
                    break
                tries = 0
                while True:
                    tries += 1
                    ok = post(port, operation, body, 15)
                    if ok or time.monotonic() > deadline:
                        break
                    time.sleep(min(0.1 * tries, 1.0))
                with lock:
                    counts["calls"] += 1
                    counts["retries"] += tries - 1
                    counts["acked" if ok else "given_up"] += 1
            with lock:
                counts["machines"] += 1
                if counts["machines"] % max(1, machines // 10) == 0:
                    print("progress: %d machines" % counts["machines"], flush=True)

    started = time.monotonic()
    threads = [threading.Thread(target=agent) for _ in range(agents)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    elapsed = time.monotonic() - started
    print("%(calls)d calls, %(acked)d acknowledged, %(retries)d retries, %(given_up)d given up"
          % counts + ", %.1f s, %.0f calls/s" % (elapsed, counts["calls"] / elapsed), flush=True)
    sys.exit(1 if counts["given_up"] else 0)


if __name__ == "__main__":
    main()
