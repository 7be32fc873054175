// The console's read pages on a real database through the fleet server:
// the counts follow the machines, every order pages by key without losing
// or repeating a machine, the CSV is the view, applications count and
// answer "this version or older", events filter, updates need their role.
#include <gtest/gtest.h>

#include <set>

#include "server/console/console_testing.h"
#include "server/console/fleet_counts.h"
#include "server/fleet_server.h"
#include "server/pg_testing.h"

namespace quarrin {
namespace {

constexpr char kPassword[] = "a long enough password";

class ConsolePagesTest : public testing::PgTest {
 protected:
  void SetUp() override {
    PgTest::SetUp();
    if (IsSkipped()) return;
    settings_.port = 0;
    settings_.listen_address = "127.0.0.1";
    settings_.syslog_port = 0;
    settings_.downloads_folder = ::testing::TempDir() + "/console_pages_" + database_;
    server_ = std::make_unique<FleetServer>(settings_, *pool_);
    std::string error;
    ASSERT_TRUE(server_->Start(&error)) << error;
    ConsoleAccounts accounts(*pool_, SessionLimits{});
    accounts.AddUser("vera", Role::kViewer, kPassword);
    accounts.AddUser("otto", Role::kOperator, kPassword);
    accounts.AddUser("ada", Role::kAdministrator, kPassword);
  }
  void TearDown() override {
    server_.reset();
    PgTest::TearDown();
  }

  testing::ConsoleBrowser LoggedIn(const std::string& name) {
    testing::ConsoleBrowser b(server_->port());
    EXPECT_EQ(b.Login(name, kPassword).status, 303);
    return b;
  }

  // Machines PC000 .. PC<n-1>: edition by i % 3 (the third says none),
  // last report i hours ago.
  void AddMachines(int n) {
    Connect()->Exec(
        "INSERT INTO machines (name_key, machine_name, first_seen, last_seen, product_name, serial_no)"
        " SELECT 'PC' || lpad(i::text, greatest(3, length(i::text)), '0'),"
        " 'pc' || lpad(i::text, greatest(3, length(i::text)), '0'), now(),"
        " now() - make_interval(hours => i),"
        " CASE i % 3 WHEN 0 THEN 'Windows XP' WHEN 1 THEN 'Windows 7' END, 'SN,' || i"
        " FROM generate_series(0, $1::integer - 1) i",
        {std::to_string(n)});
  }

  FleetCounts Counts() {
    auto db = Connect();
    return ReadFleetCounts(*db, "UTC", 7);
  }

  ServerSettings settings_;
  std::unique_ptr<FleetServer> server_;
};

// The names of a fleet page's rows, and its next page's link.
std::vector<std::string> Names(const std::string& body, std::string* next) {
  std::vector<std::string> names;
  const std::string marker = "<a href=\"/console/machines/";
  for (size_t at = body.find(marker); at != std::string::npos; at = body.find(marker, at + 1)) {
    const size_t start = body.find('>', at) + 1;
    names.push_back(body.substr(start, body.find('<', start) - start));
  }
  next->clear();
  if (const size_t at = body.find("\" rel=\"next\""); at != std::string::npos) {
    const size_t start = body.rfind("href=\"", at) + 6;
    *next = body.substr(start, at - start);
    for (size_t amp; (amp = next->find("&amp;")) != std::string::npos;) next->replace(amp, 5, "&");
  }
  return names;
}

TEST_F(ConsolePagesTest, TheCountsFollowTheMachinesAsTheyChange) {
  AddMachines(30);  // 0..29 hours ago
  const auto expected = [&] {
    auto db = Connect();
    PgResult r = db->Exec(
        "SELECT count(*), count(*) FILTER (WHERE last_seen >= date_trunc('day', now() AT TIME ZONE"
        " 'UTC') AT TIME ZONE 'UTC'), count(*) FILTER (WHERE last_seen < now() - interval '7 days')"
        " FROM machines");
    return std::array<int64_t, 3>{r.Int64(0, 0), r.Int64(0, 1), r.Int64(0, 2)};
  };
  const char* changes[] = {
      "",
      "UPDATE machines SET last_seen = now() - interval '10 days' WHERE name_key IN ('PC001', 'PC002')",
      ("UPDATE machines SET last_seen = now() - interval '7 days' + interval '1 minute'"
       " WHERE name_key = 'PC003'"),
      "UPDATE machines SET last_seen = now() WHERE name_key = 'PC001'",
      "UPDATE machines SET product_name = 'Windows 7' WHERE name_key = 'PC000'",
      "DELETE FROM machines WHERE name_key IN ('PC002', 'PC004')",
  };
  for (const char* change : changes) {
    if (*change) Connect()->Exec(change);
    const FleetCounts c = Counts();
    const std::array<int64_t, 3> e = expected();
    EXPECT_EQ(c.machines, e[0]) << change;
    EXPECT_EQ(c.reported_today, e[1]) << change;
    EXPECT_EQ(c.silent, e[2]) << change;
    int64_t per_edition = 0;
    for (const auto& [edition, n] : c.editions) {
      per_edition += n;
      EXPECT_EQ(n, Count("SELECT count(*) FROM machines WHERE coalesce(product_name, '') = '" +
                         edition + "'"))
          << edition << " after " << change;
    }
    EXPECT_EQ(per_edition, e[0]) << change;
  }
  // The sweep's clearing of empty rows changes no count.
  const FleetCounts before = Counts();
  Connect()->Exec("UPDATE machines SET product_name = 'Windows 10'");
  EXPECT_GT(DeleteEmptyCounts(*pool_), 0);
  EXPECT_EQ(Counts().editions, (std::vector<std::pair<std::string, int64_t>>{{"Windows 10", 28}}));
  EXPECT_EQ(Counts().silent, before.silent);
}

// The intake's own writes keep the counter tables, as any other write does.
TEST_F(ConsolePagesTest, ReportsMoveTheCounts) {
  InventoryStore store(*pool_, std::chrono::seconds(300));
  tPCDetails d;
  d.MachineName = "KALDERN-PC07";
  d.ProductName = "Microsoft Windows XP";
  store.PutDetails(d);
  store.PutApplication({"KALDERN-PC07", "QuarrinSrvc", "C:\\q.exe", "1.2.0.0"});
  FleetCounts c = Counts();
  EXPECT_EQ(c.machines, 1);
  EXPECT_EQ(c.reported_today, 1);
  EXPECT_EQ(c.editions, (std::vector<std::pair<std::string, int64_t>>{{"Microsoft Windows XP", 1}}));
  d.ProductName = "Microsoft Windows 7";
  store.PutDetails(d);
  store.PutApplication({"KALDERN-PC07", "QuarrinSrvc", "C:\\q.exe", "1.3.0.0"});
  c = Counts();
  EXPECT_EQ(c.editions, (std::vector<std::pair<std::string, int64_t>>{{"Microsoft Windows 7", 1}}));
  EXPECT_EQ(Connect()->Exec("SELECT string_agg(ring || ' ' || version, ',') FROM ring_agent_counts"
                            " WHERE machines > 0").Text(0, 0),
            "main 1.3.0.0");
  EXPECT_EQ(Count("SELECT sum(machines) FROM application_version_counts WHERE version = '1.3.0.0'"), 1);
}

TEST_F(ConsolePagesTest, EveryOrderPagesByKeyWithoutLosingOrRepeatingAMachine) {
  AddMachines(120);
  testing::ConsoleBrowser b = LoggedIn("vera");
  const struct {
    std::string query;
    std::string order_sql;
    std::string where_sql;
  } cases[] = {
      {"", "name_key", "true"},
      {"sort=name&dir=desc", "name_key DESC", "true"},
      {"sort=last&dir=desc", "last_seen DESC, name_key DESC", "true"},
      {"sort=last", "last_seen, name_key", "true"},
      {"sort=edition", "coalesce(product_name, ''), name_key", "true"},
      {"edition=Windows+7&sort=last", "last_seen, name_key", "product_name = 'Windows 7'"},
      {"edition=", "name_key", "product_name IS NULL"},
      {"status=silent&q=pc1", "name_key", "last_seen < now() - interval '7 days' AND name_key LIKE '%PC1%'"},
      {"q=SN,11", "name_key", "serial_no LIKE 'SN,11%'"},
      {"q=_", "name_key", "false"},  // a LIKE wildcard is a character like any other
  };
  for (const auto& c : cases) {
    std::vector<std::string> seen;
    std::string next = "/console/fleet?" + c.query;
    for (int pages = 0; !next.empty() && pages < 10; ++pages) {
      const testing::RawResponse r = b.Get(next);
      ASSERT_EQ(r.status, 200) << next << r.body;
      for (const std::string& name : Names(r.body, &next)) seen.push_back(name);
    }
    std::vector<std::string> expected;
    PgResult rows = Connect()->Exec("SELECT machine_name FROM machines WHERE " + c.where_sql +
                                    " ORDER BY " + c.order_sql);
    for (int i = 0; i < rows.rows(); ++i) expected.push_back(rows.Text(i, 0));
    EXPECT_EQ(seen, expected) << c.query;
  }
  EXPECT_EQ(b.Get("/console/fleet?sort=size").status, 400);
  EXPECT_EQ(b.Get("/console/fleet?sort=last&after=PC001").status, 400);
}

TEST_F(ConsolePagesTest, TheCsvIsTheWholeViewQuotedForSpreadsheets) {
  AddMachines(120);
  Connect()->Exec("UPDATE machines SET serial_no = '=HYPERLINK(1)' WHERE name_key = 'PC001'");
  testing::ConsoleBrowser b = LoggedIn("vera");
  const testing::RawResponse r = b.Get("/console/fleet.csv?edition=Windows+7&sort=name");
  ASSERT_EQ(r.status, 200);
  EXPECT_EQ(r.Header("Content-Type"), "text/csv; charset=utf-8");
  size_t lines = 0;
  for (size_t at = r.body.find("\r\n"); at != std::string::npos; at = r.body.find("\r\n", at + 2)) ++lines;
  EXPECT_EQ(lines, 1u + 40u);  // the heading and every Windows 7 machine, past one page
  EXPECT_EQ(r.body.substr(0, r.body.find("\r\n")),
            "name,edition,last_report_utc,agent_version,serial_number,acquisition_date");
  EXPECT_NE(r.body.find("\r\npc001,Windows 7,"), std::string::npos);
  EXPECT_NE(r.body.find(",'=HYPERLINK(1),"), std::string::npos);
  EXPECT_NE(r.body.find(",\"SN,4\","), std::string::npos);
}

TEST_F(ConsolePagesTest, ApplicationsCountTheirMachinesAndAnswerVersionOrOlder) {
  AddMachines(6);
  // Versions compare as numbers: 11.0.10 is newer than 11.0.9.
  Connect()->Exec(
      "INSERT INTO machine_applications (machine_id, application, path, version, v_major, v_minor,"
      " v_release, v_build, first_seen, changed, gone)"
      " SELECT m.id, 'Word', 'C:\\w.exe', v.t, v.a, v.b, v.c, v.d, now(), now(), v.gone FROM machines m"
      " JOIN (VALUES ('PC000', '11.0.9.0', 11, 0, 9, 0, NULL::timestamptz),"
      " ('PC001', '11.0.10.0', 11, 0, 10, 0, NULL), ('PC002', '11.0.9.0', 11, 0, 9, 0, NULL),"
      " ('PC003', '12.0.0.0', 12, 0, 0, 0, NULL), ('PC004', '10.1.0.0', 10, 1, 0, 0, now()))"
      " AS v(k, t, a, b, c, d, gone) ON v.k = m.name_key");
  testing::ConsoleBrowser b = LoggedIn("vera");
  testing::RawResponse r = b.Get("/console/applications");
  ASSERT_EQ(r.status, 200);
  EXPECT_NE(r.body.find(">Word</a></td><td class=\"n\">4</td><td class=\"n\">3</td>"), std::string::npos)
      << r.body;
  r = b.Get("/console/applications?application=Word");
  const size_t v12 = r.body.find(">12.0.0.0</a>"), v10 = r.body.find(">11.0.10.0</a>"),
               v9 = r.body.find(">11.0.9.0</a></td><td class=\"n\">2</td>");
  EXPECT_TRUE(v12 < v10 && v10 < v9 && v9 != std::string::npos) << r.body;
  EXPECT_EQ(r.body.find(">10.1.0.0<"), std::string::npos);  // gone from PC004

  std::string next;
  r = b.Get("/console/applications?application=Word&at_most=11.0.9");
  EXPECT_EQ(Names(r.body, &next), (std::vector<std::string>{"pc000", "pc002"}));
  r = b.Get("/console/applications?application=Word&at_most=11.0.10");
  EXPECT_EQ(Names(r.body, &next), (std::vector<std::string>{"pc000", "pc001", "pc002"}));
  r = b.Get("/console/applications?application=Word&version=12.0.0.0");
  EXPECT_EQ(Names(r.body, &next), (std::vector<std::string>{"pc003"}));
  EXPECT_EQ(b.Get("/console/applications?application=Word&at_most=eleven").status, 400);

  // An application going, changing version or its machine going moves the counts.
  Connect()->Exec("UPDATE machine_applications SET gone = now() WHERE version = '12.0.0.0'");
  Connect()->Exec("UPDATE machine_applications SET version = '11.0.10.0', v_release = 10"
                  " WHERE version = '11.0.9.0' AND machine_id = (SELECT id FROM machines WHERE name_key = 'PC000')");
  Connect()->Exec("DELETE FROM machines WHERE name_key = 'PC002'");
  EXPECT_EQ(Connect()->Exec("SELECT string_agg(version || '=' || n, ' ' ORDER BY version) FROM"
                            " (SELECT version, sum(machines) n FROM application_version_counts"
                            " GROUP BY version HAVING sum(machines) <> 0) v").Text(0, 0),
            "11.0.10.0=2");
}

// Many matches take the other way to a page: every machine still comes once.
TEST_F(ConsolePagesTest, AVersionThatManyMachinesRunPagesThroughThemAll) {
  AddMachines(2100);
  Connect()->Exec(
      "INSERT INTO machine_applications (machine_id, application, path, version, v_major, v_minor,"
      " v_release, v_build, first_seen, changed)"
      " SELECT id, 'Java', 'j', '1.' || id % 2 || '.0.0', 1, id % 2, 0, 0, now(), now() FROM machines");
  testing::ConsoleBrowser b = LoggedIn("vera");
  for (const auto& [query, expected] :
       {std::pair<std::string, int64_t>{"at_most=1.1", 2100}, {"at_most=1.0", 1050}}) {
    std::set<std::string> seen;
    std::string next = "/console/applications?application=Java&" + query;
    int pages = 0;
    for (; !next.empty() && pages < 100; ++pages) {
      const testing::RawResponse r = b.Get(next);
      ASSERT_EQ(r.status, 200);
      for (const std::string& name : Names(r.body, &next)) EXPECT_TRUE(seen.insert(name).second) << name;
    }
    EXPECT_EQ(static_cast<int64_t>(seen.size()), expected) << query;
    EXPECT_EQ(pages, (expected + 49) / 50) << query;
  }
}

TEST_F(ConsolePagesTest, EventsFilterByMachineSeverityAndCodeAndSayWhatCodesMean) {
  AddMachines(2);
  Connect()->Exec(
      "INSERT INTO events (received, sender, machine_id, facility, severity, code, message)"
      " SELECT now() - make_interval(secs => i), '10.0.0.1', (SELECT id FROM machines WHERE"
      " name_key = CASE WHEN i % 2 = 0 THEN 'PC000' ELSE 'PC001' END), 2, CASE WHEN i % 5 = 0"
      " THEN 1 ELSE 5 END, CASE WHEN i % 5 = 0 THEN '10020' ELSE '50090' END, '%QUARN-x <b>' || i"
      " FROM generate_series(1, 130) i");
  testing::ConsoleBrowser b = LoggedIn("vera");
  const auto rows = [&](const std::string& query) {
    int n = 0;
    std::string next = "/console/events?" + query;
    for (int pages = 0; !next.empty() && pages < 10; ++pages) {
      const testing::RawResponse r = b.Get(next);
      EXPECT_EQ(r.status, 200) << r.body;
      for (size_t at = r.body.find("%QUARN-x &lt;b&gt;"); at != std::string::npos;
           at = r.body.find("%QUARN-x &lt;b&gt;", at + 1)) {
        ++n;
      }
      Names(r.body, &next);
    }
    return n;
  };
  EXPECT_EQ(rows(""), 130);
  EXPECT_EQ(rows("machine=pc000.corp"), 65);
  EXPECT_EQ(rows("severity=3"), 26);
  EXPECT_EQ(rows("code=10020&machine=PC001"), 13);
  const testing::RawResponse r = b.Get("/console/events?code=10020");
  EXPECT_NE(r.body.find("the server answered with a status other than 200"), std::string::npos);
  EXPECT_EQ(b.Get("/console/events?severity=9").status, 400);
}

TEST_F(ConsolePagesTest, AMachineIsInTheRingWhoseManifestItsAddressFetched) {
  AddMachines(3);
  Connect()->Exec("UPDATE machines SET last_address = '127.0.0.1' WHERE name_key = 'PC001'");
  Connect()->Exec(
      "INSERT INTO machine_applications (machine_id, application, path, version, first_seen, changed)"
      " SELECT id, 'QuarrinSrvc', 'q', '1.0.0.' || id % 2, now(), now() FROM machines");
  EXPECT_EQ(testing::RawExchange(server_->port(),
                                 testing::SimpleRequest("GET /downloads/pilot/QuarrinSrvc.xml HTTP/1.1"))
                .status,
            200);
  EXPECT_EQ(Connect()->Exec("SELECT m.name_key || ' ' || r.ring FROM machine_rings r"
                            " JOIN machines m ON m.id = r.machine_id").Text(0, 0),
            "PC001 pilot");
  const testing::RawResponse r = LoggedIn("vera").Get("/console/updates");
  // pilot: PC001 alone; main: the two others.
  EXPECT_NE(r.body.find("<tr><td>pilot</td><td><span class=\"muted\">nothing</span></td><td class=\"n\">1</td>"),
            std::string::npos) << r.body;
  EXPECT_NE(r.body.find("<tr><td>main</td><td><span class=\"muted\">nothing</span></td><td class=\"n\">2</td>"),
            std::string::npos);
  // The counts follow agents that update, machines that go and rings that change.
  const char* recount =
      "SELECT string_agg(ring || ' ' || version || '=' || n, ', ' ORDER BY ring, version) FROM"
      " (SELECT coalesce(r.ring, 'main') AS ring, a.version, count(*) AS n FROM machine_applications a"
      " LEFT JOIN machine_rings r ON r.machine_id = a.machine_id WHERE a.application = 'QuarrinSrvc'"
      " AND a.gone IS NULL GROUP BY 1, 2) c";
  const char* kept = "SELECT string_agg(ring || ' ' || version || '=' || machines, ', ' ORDER BY ring, version)"
                     " FROM ring_agent_counts WHERE machines <> 0";
  for (const char* change :
       {"UPDATE machine_applications SET version = '2.0.0.0' WHERE application = 'QuarrinSrvc'"
        " AND machine_id = (SELECT id FROM machines WHERE name_key = 'PC001')",
        "DELETE FROM machines WHERE name_key = 'PC002'",
        "UPDATE machine_rings SET ring = 'canary'",
        "DELETE FROM machine_rings"}) {
    Connect()->Exec(change);
    EXPECT_EQ(Connect()->Exec(kept).Text(0, 0), Connect()->Exec(recount).Text(0, 0)) << change;
  }
}

TEST_F(ConsolePagesTest, PublishingAndPromotingAreForAdministrators) {
  testing::ConsoleBrowser viewer = LoggedIn("vera"), op = LoggedIn("otto"), admin = LoggedIn("ada");
  EXPECT_EQ(viewer.Get("/console/updates").body.find("/console/updates/promote"), std::string::npos);
  const testing::RawResponse page = admin.Get("/console/updates");
  EXPECT_NE(page.body.find("/console/updates/publish"), std::string::npos);
  op.Get("/console/updates");
  EXPECT_EQ(op.Post("/console/updates/promote", {{"version", "1.0.0.0"}, {"ring", "main"}}).status, 403);
  testing::RawResponse r =
      admin.Post("/console/updates/promote", {{"version", "1.0.0.0"}, {"ring", "main"}});
  EXPECT_EQ(r.status, 400);
  EXPECT_NE(r.body.find("no published build 1.0.0.0"), std::string::npos);
  // An upload without an update key in the settings is refused with the reason.
  const std::string body =
      "--B\r\nContent-Disposition: form-data; name=\"csrf\"\r\n\r\n" + admin.csrf() +
      "\r\n--B\r\nContent-Disposition: form-data; name=\"build\"; filename=\"QuarrinSrvc\"\r\n\r\nMZ"
      "\r\n--B\r\nContent-Disposition: form-data; name=\"signature\"; filename=\"QuarrinSrvc.minisig\""
      "\r\n\r\nsig\r\n--B--\r\n";
  r = admin.PostRaw("/console/updates/publish", body, "multipart/form-data; boundary=B");
  EXPECT_EQ(r.status, 400);
  EXPECT_NE(r.body.find("no update_key"), std::string::npos) << r.body;
}

}  // namespace
}  // namespace quarrin
