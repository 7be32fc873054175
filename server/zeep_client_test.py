#!/usr/bin/python3
"""A standard SOAP toolkit (zeep) reads quarrin-server's service description
and reports a machine through it; the server answers each call with its tRC
and stores what was sent.

usage: zeep_client_test.py QUARRIN_SERVER PG_TEST_CLUSTER_DIR
The cluster is the test run's (scripts/pg-test-cluster.sh); the test clones
its template into a database of its own and drops it when it passes.
"""
import datetime
import json
import os
import socket
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.request

import zeep

AGENT_GUID = "{7C3E5A10-4B2D-4E8F-9A61-0D5B3C2E1F48}"
TOKEN = "zeep-token-0123456789"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class ZeepClientTest(unittest.TestCase):
    server_binary = None
    cluster = None

    def setUp(self):
        self.database = "zeep_%d" % os.getpid()
        self.admin = "host=%s dbname=postgres user=quarrin" % self.cluster
        subprocess.run(["psql", self.admin, "-q", "-v", "ON_ERROR_STOP=1", "-c",
                        "CREATE DATABASE %s TEMPLATE quarrin_template" % self.database], check=True)
        self.folder = tempfile.TemporaryDirectory()
        self.port = free_port()
        config = os.path.join(self.folder.name, "server.conf")
        with open(config, "w") as f:
            f.write("listen_address = 127.0.0.1\nport = %d\nsyslog_port = 0\n"
                    "database = host=%s dbname=%s user=quarrin\napi_tokens = %s\n"
                    % (self.port, self.cluster, self.database, TOKEN))
        self.log = open(os.path.join(self.folder.name, "server.log"), "w+")
        self.server = subprocess.Popen([self.server_binary, "--config", config],
                                       stdout=self.log, stderr=subprocess.STDOUT)
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                break
            except OSError:
                time.sleep(0.05)

    def tearDown(self):
        self.server.terminate()
        self.server.wait(timeout=10)
        failed = any(error for _, error in self._outcome.result.errors + self._outcome.result.failures)
        if failed:
            self.log.seek(0)
            sys.stderr.write(self.log.read())
        else:
            subprocess.run(["psql", self.admin, "-q", "-c",
                            "DROP DATABASE %s WITH (FORCE)" % self.database], check=False)
        self.log.close()
        self.folder.cleanup()

    def machine(self, name):
        request = urllib.request.Request("http://127.0.0.1:%d/api/v1/machines/%s" % (self.port, name),
                                         headers={"Authorization": "Bearer " + TOKEN})
        with urllib.request.urlopen(request, timeout=10) as reply:
            return json.load(reply)

    def test_a_machine_reported_through_the_description_is_stored(self):
        client = zeep.Client("http://127.0.0.1:%d/quarrin/quarrinws.dll/wsdl/IQuarrin" % self.port)
        service = client.service
        details = {"MachineName": "ZEEP-PC", "LastLogin": "CORP\\zeep", "CPUSpeed": 3000,
                   "TotCPU": 8, "ProductName": "Windows 10 Pro", "VMWare": True,
                   "InstallDate": datetime.datetime(2019, 3, 1, 8, 30, 0), "NBNodeType": 8}
        self.assertEqual(service.PutPCDetails(guid=AGENT_GUID, PCDetails=details), "rcOK")
        self.assertEqual(service.PutPCDetails2(guid=AGENT_GUID, PCDetails2={
            "MachineName": "ZEEP-PC", "AquisitionDate": datetime.datetime(2019, 2, 1),
            "Comments": "bought with \u00e9clat", "SerialNo": "Z-1"}), "rcOK")
        self.assertEqual(service.PutApplicationDetails(guid=AGENT_GUID, ApplicationDetails={
            "MachineName": "ZEEP-PC", "Application": "Java", "Path": "C:\\Java\\bin\\java.exe",
            "Version": "17.9.0.0"}), "rcOK")
        self.assertEqual(service.PutApplicationDetails(
            guid="{00000000-0000-0000-0000-000000000000}",
            ApplicationDetails={"MachineName": "OTHER-PC", "Application": "Word",
                                "Version": "1.0.0.0"}), "rcFailedGuid")

        stored = self.machine("zeep-pc")
        self.assertEqual(stored["details"]["LastLogin"], "CORP\\zeep")
        self.assertEqual(stored["details"]["CPUSpeed"], "3000")
        self.assertEqual(stored["details"]["VMWare"], "true")
        self.assertEqual(stored["details"]["InstallDate"], "2019-03-01T08:30:00")
        self.assertEqual(stored["attributes"]["AquisitionDate"], "2019-02-01T00:00:00")
        self.assertEqual(stored["attributes"]["Comments"], "bought with \u00e9clat")
        self.assertEqual([a["application"] for a in stored["applications"]], ["Java"])
        with self.assertRaises(urllib.error.HTTPError) as refused:
            self.machine("other-pc")
        self.assertEqual(refused.exception.code, 404)


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    ZeepClientTest.server_binary = sys.argv[1]
    ZeepClientTest.cluster = os.path.realpath(sys.argv[2])  # a short socket path
    unittest.main(argv=sys.argv[:1], verbosity=2)
