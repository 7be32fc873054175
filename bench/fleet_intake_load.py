#!/usr/bin/python3
"""Plays agents reporting to quarrin-server side by side: per machine one
PutPCDetails, one PutPCDetails2 and 13 PutApplicationDetails, each on a fresh
connection as the agent makes them.

usage: fleet_intake_load.py PORT MACHINES AGENTS [VERSION_SEED]
Prints calls, calls per second, failed calls and p50/p99 latency. The same
VERSION_SEED gives the same reports (an unchanged day); another changes each
machine's application versions.
"""
import http.client
import sys
import threading
import time

GUID = "{7C3E5A10-4B2D-4E8F-9A61-0D5B3C2E1F48}"
APPS = ["Access", "Dispense", "EtherPeek", "Excel", "InternetExplorer", "Java", "iTunes",
        "Outlook", "PowerPoint", "MSProject", "Word", "CiscoVPN", "QuarrinSrvc"]


def envelope(operation, parameter, type_name, properties):
    inner = "".join("<%s>%s</%s>" % (k, v, k) for k, v in properties)
    return ('<E:Envelope xmlns:E="http://schemas.xmlsoap.org/soap/envelope/"><E:Body>'
            '<q:%s xmlns:q="urn:QuarrinIntf-IQuarrin"><guid>%s</guid><%s href="#1"/></q:%s>'
            '<t:%s id="1" xmlns:t="urn:QuarrinIntf">%s</t:%s></E:Body></E:Envelope>'
            % (operation, GUID, parameter, operation, type_name, inner, type_name))


def calls_of(machine, seed):
    name = "LOAD%06d" % machine
    yield "PutPCDetails", envelope("PutPCDetails", "PCDetails", "tPCDetails", [
        ("MachineName", name), ("ProductName", "Windows 10 Pro"), ("CPUSpeed", "3000"),
        ("TotCPU", "4"), ("PhysicalMemory", "16384MB"), ("InstallDate", "2020-01-15T09:00:00.000Z")])
    yield "PutPCDetails2", envelope("PutPCDetails2", "PCDetails2", "tPCDetails2", [
        ("MachineName", name), ("AquisitionDate", "2020-01-10T00:00:00.000Z"), ("SerialNo", "S" + name)])
    for app in APPS:
        yield "PutApplicationDetails", envelope(
            "PutApplicationDetails", "ApplicationDetails", "tApplicationDetails", [
                ("MachineName", name), ("Application", app), ("Path", "C:\\Program Files\\" + app),
                ("Version", "%d.%d.0.%d" % (10 + seed, machine % 7, machine % 13))])


def post(port, operation, body, timeout):
    """One call to the intake; True when it answered rcOK."""
    try:
        c = http.client.HTTPConnection("127.0.0.1", port, timeout=timeout)
        c.request("POST", "/quarrin/quarrinws.dll/soap/IQuarrin", body, {
            "Content-Type": "text/xml; charset=utf-8",
            "SOAPAction": '"urn:QuarrinIntf-IQuarrin#%s"' % operation})
        reply = c.getresponse()
        ok = reply.status == 200 and b">rcOK<" in reply.read()
        c.close()
        return ok
    except OSError:
        return False


def main():
    if len(sys.argv) not in (4, 5):
        sys.exit(__doc__)
    port, machines, agents = int(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3])
    seed = int(sys.argv[4]) if len(sys.argv) == 5 else 0
    latencies, failed, lock = [], [0], threading.Lock()

    def agent(first, count):
        for machine in range(first, first + count):
            for operation, body in calls_of(machine, seed):
                started = time.monotonic()
                ok = post(port, operation, body, 60)
                with lock:
                    latencies.append(time.monotonic() - started)
                    failed[0] += 0 if ok else 1

    share = machines // agents
    threads = [threading.Thread(target=agent, args=(i * share, share)) for i in range(agents)]
    started = time.monotonic()
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    elapsed = time.monotonic() - started
    latencies.sort()
    print("%d calls in %.1f s: %.0f calls/s, %d failed, p50 %.1f ms, p99 %.1f ms" % (
        len(latencies), elapsed, len(latencies) / elapsed, failed[0],
        latencies[len(latencies) // 2] * 1000, latencies[int(len(latencies) * 0.99)] * 1000))


if __name__ == "__main__":
    main()
