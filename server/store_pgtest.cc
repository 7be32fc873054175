// The inventory store on a real database: what a report writes, and what it
// does not.
#include <gtest/gtest.h>

#include "server/pg_testing.h"
#include "server/store.h"

namespace quarrin {
namespace {

class StoreTest : public testing::PgTest {
 protected:
  void SetUp() override {
    PgTest::SetUp();
    if (IsSkipped()) return;
    store_ = std::make_unique<InventoryStore>(*pool_, std::chrono::seconds(300));
  }

  static tPCDetails Details(const std::string& name) {
    tPCDetails d;
    d.MachineName = name;
    d.ProductName = "Microsoft Windows XP";
    d.CPUSpeed = 2394;
    d.VMWare = false;
    d.InstallDate = EncodeDateTime({2004, 6, 15, 13, 5, 7, 0});
    d.PhysicalMemory = "2047 MB";
    return d;
  }

  void App(const std::string& machine, const std::string& app, const std::string& version) {
    store_->PutApplication({machine, app, "C:\\" + app + ".exe", version});
  }

  // Moves the machines' reports of applications an hour into the past, so
  // that their quiet period is over.
  void AgeReports() {
    Connect()->Exec(
        "UPDATE machines SET apps_report_started = apps_report_started - interval '1 hour',"
        " apps_report_last_call = apps_report_last_call - interval '1 hour'");
  }

  // Every row of the inventory with its row version: a row rewritten, even
  // with the same values, shows a new one.
  std::string Rows() {
    PgResult r = Connect()->Exec(
        "SELECT string_agg(t, ' | ' ORDER BY t) FROM ("
        " SELECT 'app ' || application || ' ' || version || ' ' || coalesce(gone::text, '-') ||"
        "        ' xmin ' || xmin::text AS t FROM machine_applications"
        " UNION ALL SELECT 'change ' || kind || ' ' || item || ' ' || coalesce(old_value, '-') ||"
        "        ' > ' || coalesce(new_value, '-') FROM machine_changes) rows");
    return r.Text(0, 0);
  }

  std::unique_ptr<InventoryStore> store_;
};

TEST_F(StoreTest, AnUnchangedReportWritesNothingButTheTimeLastSeen) {
  store_->PutDetails(Details("KALDERN-PC07"));
  store_->PutAttributes({"KALDERN-PC07", DateTime{}, "desk 4", "ABC1234"});
  App("KALDERN-PC07", "Word", "11.0.8173.0");
  App("KALDERN-PC07", "Excel", "11.0.8169.0");
  AgeReports();
  EXPECT_EQ(store_->CloseQuietReports(), 1);
  const std::string before = Rows();
  const std::string seen_before = Connect()->Exec("SELECT last_seen::text FROM machines").Text(0, 0);

  // The next day's report, the same in every value.
  store_->PutDetails(Details("KALDERN-PC07"));
  store_->PutAttributes({"KALDERN-PC07", DateTime{}, "desk 4", "ABC1234"});
  App("KALDERN-PC07", "Word", "11.0.8173.0");
  App("KALDERN-PC07", "Excel", "11.0.8169.0");
  AgeReports();
  EXPECT_EQ(store_->CloseQuietReports(), 1);

  EXPECT_EQ(Rows(), before);
  EXPECT_NE(Connect()->Exec("SELECT last_seen::text FROM machines").Text(0, 0), seen_before);
  EXPECT_EQ(store_->RowCounts(), (std::array<int64_t, 3>{1, 2, 3}));  // first report, two apps
}

TEST_F(StoreTest, AChangedDetailIsRecordedWithItsOldAndNewValue) {
  store_->PutDetails(Details("PC1"));
  tPCDetails changed = Details("pc1.corp.example");  // the same machine
  changed.PhysicalMemory = "4095 MB";
  changed.VMWare = true;
  changed.InstallDate = DateTime{};
  store_->PutDetails(changed);
  PgResult r = Connect()->Exec(
      "SELECT item, coalesce(old_value, '-'), coalesce(new_value, '-') FROM machine_changes"
      " WHERE kind = 'detail' ORDER BY item");
  ASSERT_EQ(r.rows(), 3);
  EXPECT_EQ(r.Text(0, 0) + ": " + r.Text(0, 1) + " > " + r.Text(0, 2),
            "InstallDate: 2004-06-15T13:05:07.000 > -");
  EXPECT_EQ(r.Text(1, 0) + ": " + r.Text(1, 1) + " > " + r.Text(1, 2),
            "PhysicalMemory: 2047 MB > 4095 MB");
  EXPECT_EQ(r.Text(2, 0) + ": " + r.Text(2, 1) + " > " + r.Text(2, 2), "VMWare: false > true");
  EXPECT_EQ(Count("SELECT count(*) FROM machines"), 1);
  EXPECT_EQ(Connect()->Exec("SELECT machine_name FROM machines").Text(0, 0), "pc1.corp.example");
}

TEST_F(StoreTest, AnApplicationAReportLeavesOutIsGoneNotDeletedAndMayComeBack) {
  App("PC1", "Word", "11.0.8173.0");
  App("PC1", "Java", "6.0.200.2");
  App("PC1", "Word", "11.0.8173.0");  // an on-demand report on top: counted once
  AgeReports();
  store_->CloseQuietReports();

  App("PC1", "Word", "12.0.4518.0");  // Java left out
  AgeReports();
  store_->CloseQuietReports();
  PgResult apps = Connect()->Exec(
      "SELECT application, version, gone IS NOT NULL, last_seen IS NOT NULL"
      " FROM machine_applications ORDER BY application");
  ASSERT_EQ(apps.rows(), 2);
  EXPECT_EQ(apps.Text(0, 0) + " " + apps.Text(0, 1) + " " + apps.Text(0, 2) + apps.Text(0, 3),
            "Java 6.0.200.2 tt");
  EXPECT_EQ(apps.Text(1, 0) + " " + apps.Text(1, 1) + " " + apps.Text(1, 2), "Word 12.0.4518.0 f");

  // Java again: present again, its going and its coming back in the history.
  App("PC1", "Java", "6.0.200.2");
  App("PC1", "Word", "12.0.4518.0");
  AgeReports();
  store_->CloseQuietReports();
  EXPECT_EQ(Count("SELECT count(*) FROM machine_applications WHERE gone IS NOT NULL"), 0);
  PgResult history = Connect()->Exec(
      "SELECT item || ' ' || coalesce(old_value, '-') || ' > ' || coalesce(new_value, '-')"
      " FROM machine_changes WHERE kind = 'application' ORDER BY id");
  std::vector<std::string> lines;
  for (int i = 0; i < history.rows(); ++i) lines.push_back(history.Text(i, 0));
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "Word - > 11.0.8173.0", "Java - > 6.0.200.2",
                       "Word 11.0.8173.0 > 12.0.4518.0", "Java 6.0.200.2 > -",
                       "Java - > 6.0.200.2"}));
}

TEST_F(StoreTest, TheNextReportEndsAQuietOneWithoutTheSweep) {
  App("PC1", "Word", "1.0.0.0");
  App("PC1", "Java", "1.0.0.0");
  AgeReports();
  App("PC1", "Word", "1.0.0.0");  // a new report; the old one ends first
  EXPECT_EQ(Count("SELECT count(*) FROM machine_applications WHERE gone IS NOT NULL"), 0);
  AgeReports();
  store_->CloseQuietReports();
  EXPECT_EQ(Count("SELECT count(*) FROM machine_applications WHERE gone IS NOT NULL"), 1);
}

TEST_F(StoreTest, VersionsAreOrderedAsNumbers) {
  App("OLD", "Java", "17.9.0.0");
  App("NEW", "Java", "17.15.0.0");
  App("ODD", "Java", "beta");
  App("WORD", "Word", "1.0.0.0");
  const auto names = [&](MachineFilter f) {
    std::string out;
    for (const MachineSummary& m : store_->ListMachines(f)) out += m.key + " ";
    return out;
  };
  MachineFilter at_most;
  at_most.application = "Java";
  at_most.version_at_most = std::array<int32_t, 4>{17, 10, 0, 0};
  EXPECT_EQ(names(at_most), "OLD ");
  MachineFilter at_least = at_most;
  at_least.version_at_most.reset();
  at_least.version_at_least = std::array<int32_t, 4>{17, 10, 0, 0};
  EXPECT_EQ(names(at_least), "NEW ");
  MachineFilter any_java;
  any_java.application = "Java";
  EXPECT_EQ(names(any_java), "NEW ODD OLD ");

  // The bound is a query on the index, not a scan of every row.
  auto c = Connect();
  c->Exec("SET enable_seqscan = off");
  PgResult plan = c->Exec(
      "EXPLAIN SELECT machine_id FROM machine_applications WHERE application = 'Java'"
      " AND (v_major, v_minor, v_release, v_build) <= (17, 10, 0, 0)");
  std::string text;
  for (int i = 0; i < plan.rows(); ++i) text += plan.Text(i, 0) + "\n";
  EXPECT_NE(text.find("machine_applications_version"), std::string::npos) << text;
}

TEST_F(StoreTest, ListsMachinesByKeyPageByPageAndFiltered) {
  for (const char* name : {"PC3", "pc1", "PC2", "LAPTOP1"}) store_->PutDetails(Details(name));
  tPCDetails win7 = Details("PC4");
  win7.ProductName = "Windows 7 Professional";
  store_->PutDetails(win7);
  Connect()->Exec("UPDATE machines SET last_seen = now() - interval '10 days' WHERE name_key = 'PC2'");

  MachineFilter page;
  page.name_prefix = "pc";
  page.limit = 2;
  std::vector<MachineSummary> first = store_->ListMachines(page);
  ASSERT_EQ(first.size(), 2u);
  EXPECT_EQ(first[0].key, "PC1");
  EXPECT_EQ(first[1].key, "PC2");
  page.after = first.back().key;
  std::vector<MachineSummary> second = store_->ListMachines(page);
  ASSERT_EQ(second.size(), 2u);
  EXPECT_EQ(second[0].key, "PC3");
  EXPECT_EQ(second[1].key, "PC4");

  MachineFilter os;
  os.product_name = "Windows 7 Professional";
  ASSERT_EQ(store_->ListMachines(os).size(), 1u);
  EXPECT_EQ(store_->ListMachines(os)[0].key, "PC4");
  MachineFilter silent;
  silent.silent_days = 7;
  ASSERT_EQ(store_->ListMachines(silent).size(), 1u);
  EXPECT_EQ(store_->ListMachines(silent)[0].key, "PC2");
}

TEST_F(StoreTest, TheRegisterFindsAMachineByAnyFormOfItsName) {
  store_->PutAssets({{"Kaldern-PC07", "ABC1234", "2004-06-15"}, {"PC2", "", ""}});
  store_->PutAssets({{"pc2.corp.example", "NEW", "2020-01-31"}});  // replaces
  for (const char* name : {"kaldern-pc07", "KALDERN-PC07.corp.example"}) {
    SCOPED_TRACE(name);
    const std::optional<AssetRecord> a = store_->FindAsset(name);
    ASSERT_TRUE(a.has_value());
    EXPECT_EQ(a->service_tag, "ABC1234");
    EXPECT_EQ(a->acquisition_date, "2004-06-15");
  }
  EXPECT_EQ(store_->FindAsset("PC2")->service_tag, "NEW");
  EXPECT_FALSE(store_->FindAsset("PC9").has_value());
  EXPECT_FALSE(store_->FindAsset("").has_value());
  // One bad entry: nothing of the batch is written.
  EXPECT_THROW(store_->PutAssets({{"PC5", "T", ""}, {"", "T", ""}}), StoreRejected);
  EXPECT_FALSE(store_->FindAsset("PC5").has_value());
}

// The report's values travel to the database as one array: texts that the
// array's own syntax uses come back as sent, and compare equal the next time.
TEST_F(StoreTest, TextsOfAnyShapeAreStoredAsSentAndCompareEqual) {
  const std::vector<std::string> texts = {"O\"Brien, {IT}", "C:\\Users\\", "NULL", "", " ",
                                          "\xc3\x9c\xc3\x9f; 'x'"};
  for (const std::string& text : texts) {
    tPCDetails d = Details("PC1");
    d.RegisteredOwner = text;
    store_->PutDetails(d);
    EXPECT_EQ(Connect()->Exec("SELECT registered_owner FROM machines").Optional(0, 0), text);
  }
  const int64_t changes = Count("SELECT count(*) FROM machine_changes");
  tPCDetails again = Details("PC1");
  again.RegisteredOwner = texts.back();
  store_->PutDetails(again);
  EXPECT_EQ(Count("SELECT count(*) FROM machine_changes"), changes);
}

TEST_F(StoreTest, AReportWithoutAMachineNameIsRejected) {
  EXPECT_THROW(store_->PutDetails(Details("")), StoreRejected);
  EXPECT_THROW(store_->PutApplication({".corp", "Word", "", "1.0.0.0"}), StoreRejected);
  EXPECT_EQ(Count("SELECT count(*) FROM machines"), 0);
}

}  // namespace
}  // namespace quarrin
