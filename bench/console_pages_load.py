#!/usr/bin/python3
"""Asks quarrin-server's console for its pages as a logged-in browser
would, one request at a time, and prints each page's p50 and p99 against
the goal.

usage: console_pages_load.py PORT NAME PASSWORD REQUESTS GOAL_MS PATH...
Each PATH is asked REQUESTS times (after one warm-up); a CSV export, which
is no page view, three times. Exit status 0 when
every page answered 200 every time.
"""
import http.client
import sys
import time
import urllib.parse


def request(port, method, path, cookies, body=None):
    c = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
    headers = {}
    if cookies:
        headers["Cookie"] = "; ".join("%s=%s" % kv for kv in cookies.items())
    if body is not None:
        headers["Content-Type"] = "application/x-www-form-urlencoded"
    c.request(method, path, body=body, headers=headers)
    r = c.getresponse()
    data = r.read()
    for name, value in r.getheaders():
        if name.lower() == "set-cookie":
            k, v = value.split(";")[0].split("=", 1)
            if "Max-Age=0" in value:
                cookies.pop(k, None)
            else:
                cookies[k] = v
    c.close()
    return r.status, r.getheader("Location"), data


def login(port, name, password):
    cookies = {}
    _, _, form = request(port, "GET", "/console/login", cookies)
    marker = b'name="csrf" value="'
    at = form.index(marker) + len(marker)
    token = form[at:form.index(b'"', at)].decode()
    body = urllib.parse.urlencode({"csrf": token, "name": name, "password": password})
    status, _, _ = request(port, "POST", "/console/login", cookies, body)
    if status != 303 or "quarrin_session" not in cookies:
        sys.exit("login failed: %d" % status)
    return cookies


def main():
    port, name, password = int(sys.argv[1]), sys.argv[2], sys.argv[3]
    requests, goal = int(sys.argv[4]), float(sys.argv[5])
    cookies = login(port, name, password)
    ok = True
    print("%-62s %8s %8s %8s  %s" % ("page", "p50 ms", "p99 ms", "bytes", "p99/goal"))
    for path in sys.argv[6:]:
        request(port, "GET", path, cookies)
        times = []
        size = 0
        for _ in range(3 if ".csv" in path else requests):
            start = time.perf_counter()
            status, _, data = request(port, "GET", path, cookies)
            times.append((time.perf_counter() - start) * 1000)
            size = len(data)
            if status != 200:
                ok = False
                print("  %s answered %d" % (path, status))
                break
        times.sort()
        p50 = times[len(times) // 2]
        p99 = times[min(len(times) - 1, int(len(times) * 0.99))]
        if ".csv" in path:  # an export, not a page: no goal
            print("%-62s %8.1f %8.1f %8d  (export)" % (path[:62], p50, p99, size))
            continue
        print("%-62s %8.1f %8.1f %8d  %.2f%s" % (path[:62], p50, p99, size, p99 / goal,
                                                "" if p99 <= goal else "  OVER"))
    sys.exit(0 if ok else 1)


main()
