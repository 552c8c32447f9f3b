// Every command family over loopback TCP against the simulated instrument:
// the replies carry what the instrument did. The simulator runs on a manual
// clock, and the service's waits advance that clock, so nothing sleeps.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "client/vesk_client.h"
#include "protocol/command_table.h"
#include "protocol/wait_clock.h"
#include "protocol/wire.h"
#include "platform/profile.h"
#include "sim/image_files.h"
#include "sim/simulator.h"
#include "tests/support/tcp_support.h"

namespace vesk::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::shared_ptr<sim::ManualClock> simClock;

// The service's waits run on the simulator's clock: every tick reading
// moves it on by a millisecond, a sleep by its length.
std::uint32_t SimTick() {
  simClock->Advance(1);
  return static_cast<std::uint32_t>(simClock->NowMs());
}
void SimSleep(std::uint32_t milliseconds) { simClock->Advance(milliseconds); }
const WaitClock kSimWaitClock = {SimTick, SimSleep};

Bytes S16(std::int16_t value) { return {static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)}; }
Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}
Bytes Float(float value) {
  const WireFloat wire = FloatToWire(value);
  return Bytes(wire.begin(), wire.end());
}
Bytes Text(const std::string& text) {
  Bytes bytes(text.begin(), text.end());
  bytes.push_back(0);
  return bytes;
}

class SimulatorFamiliesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = std::filesystem::path(::testing::TempDir()) /
              ("vesk_simtcp_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);
    simClock = std::make_shared<sim::ManualClock>();
    sim::SimulatorOptions options;
    options.seed = 7;
    options.imageFolder = folder_ / "images";
    options.settingsFile = folder_ / "seminfo.ini";
    std::string error;
    ASSERT_TRUE(sim::ApplySimulatorOptions(options, simClock, &error)) << error;
    plat::SetImageSaveSettingsPath(options.settingsFile.string().c_str());
    SetWaitClockForTesting(&kSimWaitClock);
    SetEnableFenkFlag(1);
    server_ = std::make_unique<LoopbackServer>();
    ASSERT_TRUE(connection_.Open("127.0.0.1", static_cast<std::uint16_t>(server_->port()), 10000));
  }
  void TearDown() override {
    connection_.Close();
    server_.reset();
    SetEnableFenkFlag(0);
    SetWaitClockForTesting(nullptr);
    std::filesystem::remove_all(folder_);
  }

  client::Reply Call(const char* code, const Bytes& body = {}) {
    client::Reply reply;
    std::string error;
    EXPECT_TRUE(connection_.Call(code, body, reply, error)) << code << ": " << error;
    return reply;
  }
  static std::int16_t S16At(const client::Reply& r, std::size_t at) { return ReadS16(r.body.data() + at); }
  static std::uint16_t U16At(const client::Reply& r, std::size_t at) { return ReadU16(r.body.data() + at); }
  static std::uint32_t U32At(const client::Reply& r, std::size_t at) { return ReadU32(r.body.data() + at); }
  static float FloatAt(const client::Reply& r, std::size_t at) { return FloatFromWire(r.body.data() + at); }

  void SwitchHighVoltageOn() { ASSERT_EQ(Call("FEBS", S16(1)).status, 54); }

  std::filesystem::path folder_;
  CapturedOutput output_;
  std::unique_ptr<LoopbackServer> server_;
  client::Connection connection_;
};

TEST_F(SimulatorFamiliesTest, HighVoltageNeedsTheVacuumAndReportsTheSteppedVoltage) {
  client::Reply off = Call("FXSR");
  EXPECT_EQ(off.length, 70);
  EXPECT_EQ(S16At(off, 2), 1);  // off, vacuum ready
  EXPECT_EQ(Call("FVAS", Float(3.45f)).status, 54);
  SwitchHighVoltageOn();
  client::Reply on = Call("FXSR");
  EXPECT_EQ(S16At(on, 2), 2);
  EXPECT_FLOAT_EQ(FloatAt(on, 4), 3.0f);  // 3450 V snaps to 3000 V
  EXPECT_GT(FloatAt(on, 14), 0.0f);      // load current flows
  EXPECT_FLOAT_EQ(FloatAt(on, 34), 10.0f);

  sim::InjectFault(sim::Fault::kVacuumLoss);
  EXPECT_NE(S16At(Call("FXSR"), 2), 2);
  EXPECT_EQ(Call("FEBS", S16(1)).status, -1);  // refused without vacuum
}

TEST_F(SimulatorFamiliesTest, MagnificationSnapsAndSteps) {
  client::Reply set = Call("EMGS", {0x00, 0x00, 0x00, 0x15});  // 21
  EXPECT_EQ(set.status, 4);
  EXPECT_EQ(U32At(set, 0), 22u);
  client::Reply step = Call("EMGD", S16(1));
  EXPECT_EQ(step.status, 4);
  EXPECT_EQ(U32At(step, 0), 23u);
}

TEST_F(SimulatorFamiliesTest, LensesAndStigmatorsReadBackAsSet) {
  client::Reply coarse = Call("EOCS", S16(1000));
  EXPECT_EQ(coarse.status, 20);
  EXPECT_EQ(U16At(coarse, 2), 1000);
  EXPECT_EQ(U32At(coarse, 10), 1000u * 4096 + U16At(coarse, 4));
  client::Reply distance = Call("EOWS", Float(20.0f));
  EXPECT_EQ(distance.status, 20);
  EXPECT_NEAR(FloatAt(distance, 14), 20.0f, 0.1f);
  client::Reply stig = Call("ESMS", Join({S16(100), S16(-100)}));
  EXPECT_EQ(stig.status, 8);
  EXPECT_EQ(S16At(stig, 2), 100);
  EXPECT_EQ(S16At(stig, 4), -100);
  EXPECT_EQ(U16At(Call("ECLS", {0x0B, 0xB8}), 0), 3000);
  EXPECT_EQ(Call("ECLS", {0x10, 0x00}).status, -1);  // 4096 is out of bounds
}

TEST_F(SimulatorFamiliesTest, GunAlignmentRunsUntilDone) {
  client::Reply shift = Call("EGSS", Join({S16(10), S16(-10)}));
  EXPECT_EQ(shift.status, 8);
  EXPECT_EQ(S16At(shift, 4), 10);
  EXPECT_EQ(S16At(shift, 6), -10);
  EXPECT_EQ(Call("EGAS").status, -1);  // no beam yet
  SwitchHighVoltageOn();
  EXPECT_EQ(Call("EGAS").status, 10);
  EXPECT_EQ(U16At(Call("EGAR"), 0), 2);
  simClock->Advance(10000);
  client::Reply done = Call("EGAR");
  EXPECT_EQ(U16At(done, 0), 0);
  EXPECT_NE(S16At(done, 6), 10);  // the shift moved to the alignment
}

TEST_F(SimulatorFamiliesTest, SnapshotShowsTheStateAndBlanking) {
  Call("EMGS", {0x00, 0x00, 0x13, 0x88});  // 5000
  client::Reply snapshot = Call("EXSR");
  EXPECT_EQ(snapshot.length, 130);
  EXPECT_FLOAT_EQ(FloatAt(snapshot, 6), 15.0f);
  EXPECT_EQ(U32At(snapshot, 86), 5000u);
  EXPECT_EQ(Bytes(snapshot.body.begin() + 14, snapshot.body.begin() + 18),
            Bytes(snapshot.body.begin() + 110, snapshot.body.begin() + 114));
  EXPECT_NE(U16At(snapshot, 106), 0);  // type 0 has a model
  client::Reply blanked = Call("EXAS", S16(-1));
  EXPECT_EQ(blanked.status, 114);
  EXPECT_EQ(S16At(blanked, 18), -1);
  EXPECT_EQ(S16At(Call("EXAS", S16(0)), 18), 0);
}

TEST_F(SimulatorFamiliesTest, AutomaticFocusAndStigmationWaitAndImprove) {
  SwitchHighVoltageOn();
  Call("EOFS", S16(0));
  client::Reply focus = Call("EFAS");
  EXPECT_EQ(focus.status, 24);
  EXPECT_EQ(focus.length, 40);
  EXPECT_NE(ReadS32(focus.body.data() + 2) % 4096, 0);  // the fine lens moved
  client::Reply stig = Call("ESAS");
  EXPECT_EQ(stig.status, 24);
  EXPECT_EQ(U16At(Call("EAAS", S16(1)), 0), 1);  // started without waiting
}

TEST_F(SimulatorFamiliesTest, ImageShiftReadsBack) {
  client::Reply shift = Call("EISS", Join({S16(300), S16(-2048)}));
  EXPECT_EQ(shift.status, 4);
  EXPECT_EQ(S16At(shift, 0), 300);
  EXPECT_EQ(S16At(shift, 2), -2048);
  EXPECT_EQ(Call("EISS", Join({S16(2048), S16(0)})).status, -1);
}

TEST_F(SimulatorFamiliesTest, DetectorsAndAutomaticContrast) {
  client::Reply contrast = Call("DSCS", S16(2500));
  EXPECT_EQ(contrast.status, 4);
  EXPECT_EQ(U16At(contrast, 0), 2500);
  EXPECT_EQ(U16At(Call("DDSR"), 0), 2500);
  SwitchHighVoltageOn();
  client::Reply automatic = Call("DACS");
  EXPECT_EQ(automatic.status, 32);
  EXPECT_EQ(U16At(automatic, 0), 0);
  EXPECT_NE(U16At(automatic, 2), 2500);  // contrast adjusted
  EXPECT_EQ(Call("DWCS", Join({S16(0), S16(77)})).status, 28);
  EXPECT_EQ(U16At(Call("DWSR"), 20), 77);
}

TEST_F(SimulatorFamiliesTest, StageMovesOverTimeAndStops) {
  Bytes move = Join({S16(1), S16(0), S16(0), S16(0), S16(0), Float(10.0f), Float(0), Float(0), Float(0), Float(0)});
  EXPECT_EQ(Call("WABS", move).status, 0);
  client::Reply moving = Call("WSTR");
  EXPECT_EQ(U16At(moving, 0), 2);
  simClock->Advance(1000);
  const float partWay = FloatAt(Call("WSTR"), 2);
  EXPECT_GT(partWay, 0.0f);
  EXPECT_LT(partWay, 10.0f);
  simClock->Advance(5000);
  client::Reply arrived = Call("WSTR");
  EXPECT_EQ(U16At(arrived, 0), 0);
  EXPECT_FLOAT_EQ(FloatAt(arrived, 2), 10.0f);

  move = Join({S16(1), S16(0), S16(0), S16(0), S16(0), Float(-20.0f), Float(0), Float(0), Float(0), Float(0)});
  EXPECT_EQ(Call("WRES", move).status, 0);
  simClock->Advance(500);
  EXPECT_EQ(U16At(Call("WINR"), 0), 1);  // the X axis is moving
  EXPECT_EQ(Call("WDSS").status, 0);
  simClock->Advance(100);
  EXPECT_EQ(U16At(Call("WSTR"), 0), 0);
}

TEST_F(SimulatorFamiliesTest, VacuumModeChangeTakesTime) {
  client::Reply before = Call("FLVR");
  EXPECT_EQ(before.status, 10);
  EXPECT_EQ(U16At(before, 0), 0);
  EXPECT_EQ(Call("FVMS", S16(1)).status, 10);
  simClock->Advance(20000);
  EXPECT_EQ(U16At(Call("FLVR"), 0), 1);
  EXPECT_EQ(Call("FPAS", S16(80)).status, 10);
  EXPECT_EQ(Call("FPMS", S16(2)).status, -1);
}

TEST_F(SimulatorFamiliesTest, CaptureWritesTheImageWhereTheSettingsSay) {
  EXPECT_EQ(Call("IFSS", Text("C:\\images\\quick.bmp")).status, 2);
  EXPECT_EQ(U16At(Call("IFSR"), 0), 1);
  simClock->Advance(10000);
  EXPECT_EQ(U16At(Call("IFSR"), 0), 0);
  EXPECT_TRUE(std::filesystem::exists(folder_ / "images" / "images" / "quick.bmp"));

  Bytes save = Join({S16(0), S16(4), Text("D:\\..\\..\\saved.jpg")});
  save.resize(268, 0);
  client::Reply saved = Call("ISAV", save);
  EXPECT_EQ(saved.status, 0);
  EXPECT_EQ(saved.length, 284);
  // JPEG needs libjpeg; a build without it fails to write the file.
  EXPECT_EQ(std::filesystem::exists(folder_ / "images" / "saved.jpg"), sim::kHasImageCodecs);

  EXPECT_EQ(U16At(Call("IFRZ", S16(1)), 0), 1);
  EXPECT_EQ(U16At(Call("IFRZ", S16(-1)), 0), 1);
}

TEST_F(SimulatorFamiliesTest, ScanPanelAndPcd) {
  EXPECT_EQ(Call("DXRS", S16(3)).status, 30);
  EXPECT_EQ(U16At(Call("PNEL", Join({S16(103), S16(0)})), 0), 103);
  EXPECT_EQ(U16At(Call("PNEL", Join({S16(100), S16(1)})), 0), 100);
  EXPECT_EQ(Call("ERAS", S16(270)).status, 0);
  EXPECT_EQ(U16At(Call("EXSR"), 72), 90);
  EXPECT_EQ(Call("XRFX", Text("standard.rcp")).status, 0);
  EXPECT_EQ(Call("WSCS", Join({S16(50), S16(50)})).status, 0);
  EXPECT_EQ(Call("APLS", S16(1)).status, 12);
  simClock->Advance(2000);
  EXPECT_EQ(U16At(Call("APCR"), 10), 1);
  EXPECT_NE(U16At(Call("PIST"), 0), 0);
}

}  // namespace
}  // namespace vesk::testing
