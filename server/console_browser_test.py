#!/usr/bin/python3
"""The fleet console in a real browser: headless Chromium driven by Selenium
against quarrin-server on the test run's PostgreSQL cluster, with a real
agent (QuarrinSrvc) reporting to it and showing its messages on a private
Xvfb display.

An administrator logs in, finds the machine on the Fleet page, opens it,
sees its day chart load through the server, sends its user a message (the
agent shows it), finds the action in the audit log and logs out. A viewer
sees no action button and gets 403 for a POST; a form without its CSRF
token gets 403 too. A screenshot of each page is kept in ARTEFACTS.

usage: console_browser_test.py QUARRIN_SERVER QUARRINSRVC QUARRINCTL PG_TEST_CLUSTER_DIR ARTEFACTS
"""
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.error
import urllib.parse
import urllib.request

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

ADMIN, ADMIN_PASSWORD = "ada", "ada-password-1"
VIEWER, VIEWER_PASSWORD = "victor", "victor-password-1"
MESSAGE = "Please save your work: the console test says hello"
CHART_WIDTH = 790  # the agent's usage chart
WAIT = 30  # seconds; every wait below is bounded by it


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_until(condition, what, limit=WAIT):
    deadline = time.monotonic() + limit
    while time.monotonic() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(0.2)
    raise AssertionError("waited %d s for %s" % (limit, what))


class Xvfb:
    """Xvfb on a display number of its own choosing."""

    def __init__(self):
        read, write = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
            pass_fds=(write,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write)
        number = b""
        deadline = time.monotonic() + WAIT
        while time.monotonic() < deadline and not number.endswith(b"\n"):
            chunk = os.read(read, 16)
            if not chunk:
                break
            number += chunk
        os.close(read)
        if not number.strip():
            raise AssertionError("Xvfb did not start")
        self.display = ":" + number.decode().strip()

    def window_titles(self):
        tree = subprocess.run(["xwininfo", "-root", "-tree"], env={**os.environ, "DISPLAY": self.display},
                              capture_output=True, text=True, timeout=10).stdout
        return re.findall(r'^\s+0x[0-9a-f]+ "([^"]*)"', tree, re.MULTILINE)

    def stop(self):
        self.process.terminate()
        self.process.wait(timeout=10)


class ConsoleBrowserTest(unittest.TestCase):
    server_binary = agent_binary = ctl_binary = cluster = artefacts = None

    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory()
        cls.database = "browser_%d" % os.getpid()
        cls.admin_db = "host=%s dbname=postgres user=quarrin" % cls.cluster
        subprocess.run(["psql", cls.admin_db, "-q", "-v", "ON_ERROR_STOP=1", "-c",
                        "CREATE DATABASE %s TEMPLATE quarrin_template" % cls.database], check=True)
        cls.port = free_port()
        cls.agent_port = free_port()
        cls.base = "http://127.0.0.1:%d" % cls.port
        cls.config = os.path.join(cls.folder.name, "server.conf")
        with open(cls.config, "w") as f:
            f.write("listen_address = 127.0.0.1\nport = %d\nsyslog_port = 0\n"
                    "database = host=%s dbname=%s user=quarrin\nreport_quiet_period_s = 2\n"
                    "agent_port = %d\nagent_connect_timeout_s = 3\nagent_read_timeout_s = 20\n"
                    % (cls.port, cls.cluster, cls.database, cls.agent_port))
        for name, password, role in ((ADMIN, ADMIN_PASSWORD, "administrator"),
                                     (VIEWER, VIEWER_PASSWORD, "viewer")):
            subprocess.run([cls.server_binary, "--config", cls.config, "add-user", name, "--role", role],
                           input=password + "\n", text=True, check=True, timeout=WAIT)
        cls.logs = {}
        cls.server = cls.start("server", [cls.server_binary, "--config", cls.config], {})
        wait_until(lambda: cls.answers(cls.base + "/console/login"), "the server to listen")

        cls.xvfb = Xvfb()
        cls.agent = cls.start_agent()
        # The agent's first daily run comes two agent minutes after its start.
        cls.key = wait_until(cls.reported_machine, "the agent's first report", limit=90)

        options = webdriver.ChromeOptions()
        for argument in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage",
                         "--disable-gpu", "--window-size=1280,1100", "--lang=en-GB"):
            options.add_argument(argument)
        cls.driver = webdriver.Chrome(service=Service(shutil.which("chromedriver")), options=options)
        cls.driver.set_page_load_timeout(WAIT)
        os.makedirs(cls.artefacts, exist_ok=True)
        print("screenshots in %s" % cls.artefacts, flush=True)

    @classmethod
    def tearDownClass(cls):
        for stop in (lambda: cls.driver.quit(), lambda: cls.stop(cls.agent), lambda: cls.xvfb.stop(),
                     lambda: cls.stop(cls.server)):
            try:
                stop()
            except Exception as e:  # the rest is stopped all the same
                sys.stderr.write("stopping: %s\n" % e)
        if cls.failed:
            for name, path in cls.logs.items():
                with open(path, errors="replace") as f:
                    sys.stderr.write("---- %s log\n%s\n" % (name, f.read()[-20000:]))
        else:
            subprocess.run(["psql", cls.admin_db, "-q", "-c",
                            "DROP DATABASE %s WITH (FORCE)" % cls.database], check=False)
        cls.folder.cleanup()

    failed = False

    def run(self, result=None):
        result = super().run(result)
        if result is not None and (result.errors or result.failures):
            type(self).failed = True
        return result

    # -- the programs

    @classmethod
    def start(cls, name, argv, env):
        log = os.path.join(cls.folder.name, name + ".log")
        cls.logs[name] = log
        with open(log, "w") as out:
            return subprocess.Popen(argv, env={**os.environ, **env}, stdout=out, stderr=subprocess.STDOUT)

    @staticmethod
    def stop(process):
        process.terminate()
        try:
            process.wait(timeout=15)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait(timeout=15)

    @classmethod
    def start_agent(cls):
        root = os.path.join(cls.folder.name, "agent")
        env = {"QUARRIN_ROOT": root, "QUARRIN_SCM": "TARNQuarrinSrvc", "NOTIFY_SOCKET": "",
               "QUARRIN_CLOCK_SPEED": "60", "DISPLAY": cls.xvfb.display}
        registry = os.path.join(cls.folder.name, "deployment.reg")
        with open(registry, "w") as f:
            f.write("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\TARN\\QuarrinSrvc\\Deployment]\n"
                    '"HTTPPort"="%d"\n"ManifestURL"="%s/downloads/QuarrinSrvc.xml"\n'
                    '"InventoryURL"="%s/quarrin/quarrinws.dll/soap/IQuarrin"\n'
                    '"LookupPingHost"="127.0.0.1"\n"LookupWebHost"="127.0.0.1:%d"\n'
                    % (cls.agent_port, cls.base, cls.base, cls.port))
        subprocess.run([cls.ctl_binary, "reg", "import", registry], env={**os.environ, **env},
                       check=True, timeout=WAIT)
        return cls.start("agent", [cls.agent_binary], env)

    @classmethod
    def reported_machine(cls):
        out = subprocess.run(["psql", "host=%s dbname=%s user=quarrin" % (cls.cluster, cls.database),
                              "-At", "-c", "SELECT name_key FROM machines WHERE last_address IS NOT NULL"],
                             capture_output=True, text=True, timeout=10).stdout.strip()
        return out or None

    @staticmethod
    def answers(url):
        try:
            urllib.request.urlopen(url, timeout=2).close()
            return True
        except urllib.error.HTTPError:
            return True
        except OSError:
            return False

    # -- the browser

    def shot(self, name, whole=False):
        """A screenshot of the window, or with `whole` of the whole page (up to 3000 pixels)."""
        path = os.path.join(self.artefacts, name + ".png")
        if whole:
            height = self.driver.execute_script("return document.documentElement.scrollHeight")
            self.driver.set_window_size(1280, min(int(height) + 100, 3000))
        self.driver.save_screenshot(path)
        if whole:
            self.driver.set_window_size(1280, 1100)
        return path

    def open(self, path):
        self.driver.get(self.base + path)

    def log_in(self, name, password):
        self.open("/console/login")
        self.driver.find_element(By.NAME, "name").send_keys(name)
        self.driver.find_element(By.NAME, "password").send_keys(password)
        self.driver.find_element(By.CSS_SELECTOR, "form button[type=submit], form input[type=submit]").click()
        WebDriverWait(self.driver, WAIT).until(lambda d: "/console/login" not in d.current_url)

    def log_out(self):
        self.driver.find_element(By.CSS_SELECTOR, "form.logout button").click()
        WebDriverWait(self.driver, WAIT).until(lambda d: "/console/login" in d.current_url)

    def post(self, path, fields):
        """A POST with the browser's cookies but none of its forms."""
        cookies = "; ".join("%s=%s" % (c["name"], c["value"]) for c in self.driver.get_cookies())
        request = urllib.request.Request(self.base + path, data=urllib.parse.urlencode(fields).encode(),
                                         headers={"Cookie": cookies}, method="POST")
        try:
            with urllib.request.urlopen(request, timeout=WAIT) as reply:
                return reply.status
        except urllib.error.HTTPError as e:
            return e.code

    def csrf(self):
        return self.driver.find_element(By.NAME, "csrf").get_attribute("value")

    # -- the test

    def test_console(self):
        driver = self.driver
        self.open("/console/login")
        self.shot("01-login")
        self.log_in(ADMIN, ADMIN_PASSWORD)

        # Fleet: the machine is listed; its link opens its page.
        self.open("/console/fleet")
        link = WebDriverWait(driver, WAIT).until(
            lambda d: d.find_element(By.XPATH, "//a[contains(@href, '/console/machines/%s')]" % self.key))
        self.shot("02-fleet", whole=True)
        link.click()
        WebDriverWait(driver, WAIT).until(lambda d: self.key.lower() in d.title.lower())
        machine_url = driver.current_url

        # Its day chart comes from the agent through the server.
        chart = driver.find_element(By.ID, "chart-disk_d")
        self.assertTrue(chart.get_attribute("src").startswith(self.base + "/console/agent/"))
        width = WebDriverWait(driver, WAIT).until(
            lambda d: d.execute_script("return arguments[0].complete && arguments[0].naturalWidth", chart))
        self.assertEqual(width, CHART_WIDTH)
        self.shot("03-machine", whole=True)
        driver.execute_script("document.getElementById('agent').scrollIntoView()")
        self.shot("04-machine-agent")

        # A message: the agent shows it on its display, and the log keeps it.
        driver.execute_script("document.getElementById('actions').scrollIntoView()")
        driver.find_element(By.ID, "message-text").send_keys(MESSAGE)
        driver.find_element(By.ID, "send-message").click()
        outcome = WebDriverWait(driver, WAIT).until(lambda d: d.find_element(By.ID, "outcome"))
        self.assertIn("the agent answered", outcome.text)
        self.assertIn("Result OK", outcome.text)
        self.shot("05-message-sent")
        wait_until(lambda: any(t.startswith("Quarrin ") for t in self.xvfb.window_titles()),
                   "the agent's message window")
        self.open("/console/audit")
        row = driver.find_element(By.XPATH, "//table[contains(@class,'audit')]//tr[td]")
        self.assertIn(MESSAGE, row.text)
        self.assertIn(ADMIN, row.text)
        self.assertIn("ok", row.text)
        self.shot("06-audit")
        self.open("/console/updates")
        self.assertIn("pilot", driver.find_element(By.ID, "rollouts").text)
        self.shot("06-updates", whole=True)

        # A form without its CSRF token is refused, even with a session.
        action = "/console/machines/%s/message" % self.key
        self.assertEqual(self.post(action, {"text": "forged"}), 403)
        self.assertEqual(self.post(action, {"text": "forged", "csrf": "not-the-token"}), 403)
        self.log_out()
        self.shot("07-logged-out")

        # A viewer reads the page but has nothing to press, and a POST fails.
        self.log_in(VIEWER, VIEWER_PASSWORD)
        driver.get(machine_url)
        WebDriverWait(driver, WAIT).until(lambda d: self.key.lower() in d.title.lower())
        self.assertEqual(driver.find_elements(By.ID, "send-message"), [])
        self.assertEqual(driver.find_elements(By.ID, "update-check"), [])
        self.shot("08-machine-viewer")
        self.assertEqual(self.post(action, {"text": "from a viewer", "csrf": self.csrf()}), 403)
        self.log_out()

        entries = subprocess.run(
            ["psql", "host=%s dbname=%s user=quarrin" % (self.cluster, self.database), "-At", "-c",
             "SELECT count(*) FROM audit_log"], capture_output=True, text=True, timeout=10).stdout
        self.assertEqual(entries.strip(), "1")


if __name__ == "__main__":
    if len(sys.argv) != 6:
        sys.exit(__doc__)
    (ConsoleBrowserTest.server_binary, ConsoleBrowserTest.agent_binary, ConsoleBrowserTest.ctl_binary,
     ConsoleBrowserTest.cluster, ConsoleBrowserTest.artefacts) = sys.argv[1:]
    unittest.main(argv=sys.argv[:1], verbosity=2)
