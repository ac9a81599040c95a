// Restarts and recovery through the exports, as a host runs them: AddTags after FreeDriver or
// after a failed start, the writes a refresh gives up, old identifiers after a restart, ReadTags
// on a stopped engine, a pause and its resume, two devices on one card, and the reports a failed
// or a replaced start leaves in the run log. The simulated card bank plays the cards.
#include <gtest/gtest.h>

#include <optional>
#include <thread>

#include "host_session.h"
#include "platform/posix/test_stores.h"
#include "tests/common/sim_bank.h"
#include "support/delphi.h"
#include "support/getfileinfo.h"

namespace vorel {
namespace {

using testing_support::CountOf;
using testing_support::host_record;
using testing_support::Reported;
using testing_support::SimBank;
using testing_support::switch_value;

class Restarts : public ::testing::Test {
 protected:
  Restarts() {
    unsetenv("PCI7505_SIM");
    FullPDB(&host_.block);  // card 1, a PCI_7505
  }
  ~Restarts() override { platform::test_stores::set_library_file("pci7505.dll", ""); }

  // Polls until the tag's reported value says on (or n polls have passed).
  bool ReportsOn(int32_t id, int n = 20) {
    for (int i = 0; i < n; ++i)
      for (const Reported& r : host_.Poll())
        if (r.id == id && r.on) return true;
    return false;
  }

  testing_support::ScopedCurrentDir folder_;
  testing_support::HostSession host_;
  SimBank bank_;
};

TEST_F(Restarts, AddTagsAfterFreeDriverBindsTheCardsAgain) {
  ASSERT_TRUE(bank_.loaded());
  ASSERT_TRUE(host_.Start({host_record(1, "DI1:0,0.0", 1)}));
  host_.Poll();
  EXPECT_EQ(FreeDriver(), 1);
  const int32_t checks = bank_.calls(sim7505::kCheck);

  bank_.input(1, 0, 0x0004);
  EXPECT_EQ(host_.Add({host_record(2, "DI1:0,2.0", 1)}), 0);
  EXPECT_EQ(host_.results[0], 0);
  EXPECT_EQ(bank_.calls(sim7505::kCheck), checks + 1) << "the card is checked again, as at a start";
  const int32_t reads = bank_.calls(sim7505::kInput);
  EXPECT_TRUE(ReportsOn(2)) << "the input that is on is read as on";
  EXPECT_GT(bank_.calls(sim7505::kInput), reads);
  EXPECT_EQ(bank_.bad_calls(), 0) << "every call went with the handle of the check";
}

TEST_F(Restarts, ARestartWhoseLibraryIsGoneFailsAsAStartDoes) {
  ASSERT_TRUE(host_.Start({host_record(1, "DI1:0,0.0", 1)}));
  EXPECT_EQ(FreeDriver(), 1);
  platform::test_stores::set_library_file("pci7505.dll", folder_.dir().dir() + "no/such/libpci7505.so");
  EXPECT_EQ(host_.Add({host_record(2, "DI1:0,2.0", 1), host_record(3, "COMMLINK", 0)}), 1);
  EXPECT_EQ(host_.results, (std::vector<int32_t>{1, 1})) << "no tag is taken by an engine that cannot run";
  host_.Poll();
  EXPECT_NE(host_.message.find("：厂商提供的硬件驱动库pci7505.dll没有找到，请重新安装驱动程序"),
            std::string::npos)
      << "the host hears why";
  const std::string log = host_.log();
  EXPECT_NE(log.find("：设备加载失败！"), std::string::npos);
  EXPECT_NE(log.find("没有找到，请重新安装驱动程序\r\n"), std::string::npos);
}

TEST_F(Restarts, AddTagsAfterAFailedStartRunsLikeAStart) {
  ASSERT_TRUE(bank_.loaded());
  EXPECT_FALSE(host_.Start({host_record(1, "nonsense", 1)}));
  bank_.input(1, 0, 0x0001);
  EXPECT_EQ(host_.Add({host_record(2, "DI1:0,0.0", 1)}), 0);
  EXPECT_EQ(DetectScanTime(), 10);
  EXPECT_TRUE(ReportsOn(2)) << "the restarted engine reads its input";
}

TEST_F(Restarts, IdentifiersOfTheOldTagListReachNoTagAfterARestart) {
  ASSERT_TRUE(bank_.loaded());
  ASSERT_TRUE(host_.Start({host_record(1, "DO1:0,0.0", 1), host_record(2, "DI1:0,1.0", 1)}));
  EXPECT_EQ(FreeDriver(), 1);
  ASSERT_EQ(host_.Add({host_record(7, "DO1:0,7.0", 1)}), 0);
  for (int i = 0; i < 10; ++i) host_.Poll();

  EXPECT_FALSE(host_.write(switch_value(1, true))) << "TagID 1 belonged to the old list";
  TTagValue old_input = switch_value(2, true);
  EXPECT_EQ(WriteTags(1, &old_input, 0), 0) << "skipped, not refused";
  for (int i = 0; i < 10; ++i) host_.Poll();
  EXPECT_EQ(bank_.output(1, 0), 0) << "no output moved";

  EXPECT_TRUE(host_.write(switch_value(7, true)));
  for (int i = 0; i < 10; ++i) host_.Poll();
  EXPECT_EQ(bank_.output(1, 0), 0x80) << "the new list's own identifier still reaches its tag";
}

// The writes that AddTags' refresh gives up: queued ones, and the one on its way to the card.
TEST_F(Restarts, WritesGivenUpByAddTagsAreReportedAndShowTheCardsValueAgain) {
  ASSERT_TRUE(bank_.loaded());
  ASSERT_TRUE(host_.Start(
      {host_record(1, "DO1:0,1.0", 1), host_record(2, "DO1:0,2.0", 1), host_record(3, "DI1:0,8.0", 1)}));
  for (int i = 0; i < 8; ++i) host_.Poll(101);  // past the start-up reports
  ASSERT_TRUE(host_.write(switch_value(1, true)));
  for (int i = 0; i < 5; ++i) host_.Poll();
  ASSERT_EQ(bank_.output(1, 0), 0x02) << "tag 1's output is on, and the card said so";

  ASSERT_TRUE(host_.write(switch_value(1, false)));
  ASSERT_TRUE(host_.write(switch_value(2, true)));
  host_.Poll();  // tag 1's write is sent; tag 2's still queued
  ASSERT_EQ(host_.Add({host_record(4, "DI1:0,9.0", 1)}), 0);

  std::optional<Reported> one, two;
  for (int i = 0; i < 3; ++i) {
    for (const Reported& r : host_.Poll(101)) {
      if (r.id == 1 && r.status != 0) one = r;
      if (r.id == 2 && r.status != 0) two = r;
    }
  }
  ASSERT_TRUE(one && two) << "each given-up write is reported";
  EXPECT_EQ(one->status, kTagStatusWriteFailed);
  EXPECT_TRUE(one->on) << "the card last confirmed on for tag 1";
  EXPECT_EQ(two->status, kTagStatusWriteFailed);
  EXPECT_FALSE(two->on) << "tag 2 never reached the card";
}

TEST_F(Restarts, AnOutputAddedToARunningEngineKeepsTheOtherOutputsOfItsPort) {
  ASSERT_TRUE(bank_.loaded());
  ASSERT_TRUE(host_.Start({host_record(1, "DO1:0,1.0", 1)}));
  ASSERT_TRUE(host_.write(switch_value(1, true)));
  for (int i = 0; i < 5; ++i) host_.Poll();
  ASSERT_EQ(bank_.output(1, 0), 0x02);
  ASSERT_EQ(host_.Add({host_record(2, "DO1:0,2.0", 1)}), 0);
  ASSERT_TRUE(host_.write(switch_value(2, true)));
  for (int i = 0; i < 5; ++i) host_.Poll();
  EXPECT_EQ(bank_.output(1, 0), 0x06) << "output 1 stays on";
}

TEST_F(Restarts, ReadTagsOnAStoppedEngineLeavesNothingForTheRestartToTripOn) {
  ASSERT_TRUE(bank_.loaded());
  bank_.input(1, 0, 0x0001);
  ASSERT_TRUE(host_.Start({host_record(1, "DI1:0,0.0", 1)}));
  host_.Poll();  // a read is in flight
  EXPECT_EQ(FreeDriver(), 1);
  int32_t ids[] = {1};
  const int32_t reads = bank_.calls(sim7505::kInput);
  EXPECT_EQ(ReadTags(1, ids, 0), 0);
  EXPECT_EQ(bank_.calls(sim7505::kInput), reads) << "a stopped engine reads nothing";
  ASSERT_EQ(host_.Add({host_record(2, "DI1:0,0.0", 1)}), 0);
  EXPECT_TRUE(ReportsOn(2));
}

TEST_F(Restarts, AfterAResumeTheFirstFailureReadsAsADisturbance) {
  ASSERT_TRUE(bank_.loaded());
  // The link tags are due at every poll, so each change of the link shows.
  ASSERT_TRUE(host_.Start({host_record(1, "DI1:0,0.0", 1), host_record(2, "COMMLINK", 2, 0),
                           host_record(3, "ENCOMMLINK", 0), host_record(4, "DEVICELINK1:", 0, 0)}));
  const std::string device = driver_file_info()->DeviceName();
  std::optional<Reported> link = host_.PollFor(2, 5);
  ASSERT_TRUE(link);
  ASSERT_EQ(link->text, device + "通讯正常!");

  // The read sent by the next poll goes unanswered; the pause comes before its time-out.
  bank_.fault(sim7505::kInput, sim7505::kAccessViolation);
  host_.Poll();
  EXPECT_TRUE(host_.write(testing_support::number_value(3, 0)));
  link = host_.PollFor(2, 3);
  ASSERT_TRUE(link);
  ASSERT_EQ(link->text, device + "通讯暂停!");

  EXPECT_TRUE(host_.write(testing_support::number_value(3, 1)));
  std::vector<std::string> texts;
  std::vector<double> card_states;
  for (int i = 0; i < 8; ++i) {
    for (const Reported& r : host_.Poll()) {
      if (r.id == 2) texts.push_back(r.text);
      if (r.id == 4) card_states.push_back(r.number);
    }
  }
  ASSERT_FALSE(texts.empty());
  EXPECT_EQ(texts.back(), device + "通讯出现干扰!") << "the device answered before the pause";
  // The state before the pause is given back once: further failures go on from there.
  for (int i = 0; i < 40; ++i)
    for (const Reported& r : host_.Poll())
      if (r.id == 2) texts.push_back(r.text);
  bank_.fault(sim7505::kInput, sim7505::kBehave);
  EXPECT_EQ(texts.back(), device + "通讯线路断路!");
  EXPECT_EQ(std::count(texts.begin(), texts.end(), device + "通讯始终不成功!"), 0);
  ASSERT_FALSE(card_states.empty());
  EXPECT_EQ(card_states.back(), kLinkDisturbed);
  EXPECT_EQ(std::count(card_states.begin(), card_states.end(), kLinkNever), 0);
}

TEST_F(Restarts, TwoDevicesOnOneCardKeepItOpenUntilTheLastStops) {
  ASSERT_TRUE(bank_.loaded());
  bank_.input(1, 0, 0x0001);
  ASSERT_TRUE(host_.Start({host_record(1, "DI1:0,0.0", 1)}));
  std::thread other([this] {
    std::vector<TTagInfo> records = {host_record(1, "DI1:0,0.0", 1)};
    TTagInfo* pointers[] = {&records[0]};
    char* message = nullptr;
    EXPECT_EQ(IniDriver(1, pointers, &host_.block, &message), 1);
    testing_support::HostMemory::instance().release(message);
    EXPECT_EQ(FreeDriver(), 1);
  });
  other.join();
  EXPECT_EQ(bank_.closes(1), 0) << "this thread's device still uses card 1";
  EXPECT_TRUE(ReportsOn(1));
  bank_.input(1, 0, 0x0000);
  std::optional<Reported> off = host_.PollFor(1, 20);
  ASSERT_TRUE(off);
  EXPECT_FALSE(off->on) << "the card is still read, not a closed handle's zeros";
  EXPECT_EQ(bank_.bad_calls(), 0);
  EXPECT_EQ(FreeDriver(), 1);
  EXPECT_EQ(bank_.closes(1), 1) << "the last device to stop closes the card, once";
}

// Keyword tags are recognised by the start of their address; every form shows its start value.
TEST_F(Restarts, KeywordTagsShowTheirStartValueWhateverFollowsTheKeyword) {
  const std::string device = driver_file_info()->DeviceName();
  struct Case {
    const char* address;
    uint8_t type;
    double number;
    std::string text;
  };
  const Case cases[] = {
      {"COMMLINK", 2, 0, device + "通讯始终不成功!"},
      {"COMMLINK:", 2, 0, device + "通讯始终不成功!"},
      {"ENCOMMLINK", 0, 1, ""},
      {"ENCOMMLINK1", 0, 1, ""},
      {"encommlink:", 2, 0, device + "打开通信线路"},
  };
  std::vector<TTagInfo> records = {host_record(100, "DI1:0,0.0", 1)};
  int32_t id = 1;
  for (const Case& c : cases) records.push_back(host_record(id++, c.address, c.type));
  ASSERT_TRUE(host_.Start(records));
  const std::vector<Reported> first = host_.Poll(101);
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    const auto it = std::find_if(first.begin(), first.end(),
                                 [&](const Reported& r) { return r.id == static_cast<int32_t>(i + 1); });
    ASSERT_NE(it, first.end()) << c.address;
    if (c.type == 0) {
      EXPECT_EQ(it->number, c.number) << c.address;
    } else {
      EXPECT_EQ(it->text, c.text) << c.address;
    }
  }
}

TEST_F(Restarts, AFailedStartReportsOnlyTheFiguresItHas) {
  host_.clock.advance(250);
  EXPECT_FALSE(host_.Start({host_record(1, "nonsense", 1)}));
  const std::string log = host_.log();
  EXPECT_NE(log.find("：本次运行总时间（毫秒）=0\r\n"), std::string::npos)
      << "measured from the engine's creation, not from the tick counter's zero";
  EXPECT_EQ(log.find("扫描周期（毫秒）="), std::string::npos) << "no read pace was ever computed";
  EXPECT_EQ(CountOf(log, "退出运行！"), 1u);
}

TEST_F(Restarts, ASecondStartOnOneThreadClosesTheFirstRunBeforeItsOwnReport) {
  ASSERT_TRUE(host_.Start({host_record(1, "DI1:0,0.0", 1)}));
  ASSERT_TRUE(host_.Start({host_record(1, "DI1:0,0.0", 1)}));
  EXPECT_EQ(FreeDriver(), 1);
  const std::string log = host_.log();
  const std::string start = "：启动驱动程序";
  const std::string stop = "退出运行！";
  ASSERT_EQ(CountOf(log, start), 2u);
  ASSERT_EQ(CountOf(log, stop), 2u);
  const size_t first_stop = log.find(stop);
  const size_t second_start = log.find(start, log.find(start) + 1);
  EXPECT_LT(first_stop, second_start) << "reports stay paired: start, stop, start, stop";
}

}  // namespace
}  // namespace vorel
