// The whole driver through its exports, as the host runs it: start, polls, writes, stop, on
// several threads, with the driver's own engine over the simulated card bank (every card present).
#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "engine_probe.h"
#include "host_memory.h"
#include "host_session.h"
#include "interface/exports.h"
#include "sim/pci7505/sim7505.h"
#include "support/delphi.h"
#include "support/getfileinfo.h"
#include "tests/common/sim_bank.h"

namespace vorel {
namespace {

using testing_support::CountOf;
using testing_support::host_record;
using testing_support::HostMemory;
using testing_support::SimBank;
using testing_support::switch_value;

class Driver : public ::testing::Test {
 protected:
  Driver() {
    FullPDB(&host_.block);
    records_ = {host_record(1, "DI1:0,0.0", 1), host_record(2, "DO1:0,0.1", 1), host_record(3, "COMMLINK", 2),
                host_record(4, "ENCOMMLINK", 0), host_record(5, "nonsense", 0)};
    for (auto& r : records_) pointers_.push_back(&r);
  }

  bool Start() { return host_.Start(records_); }
  // One host poll after `ms` milliseconds; the reported records.
  std::vector<TTagValue> Poll(uint32_t ms) {
    host_.clock.advance(ms);
    std::vector<TTagValue> values(records_.size());
    int32_t count = -1;
    char* message = nullptr;
    EXPECT_EQ(OnDataRead(&count, values.data(), &message), 1);
    memory_.release(message);
    values.resize(static_cast<size_t>(count));
    for (const TTagValue& v : values) {
      if (v.ValueType == 2) {
        char* s;
        std::memcpy(&s, v.Value, sizeof s);
        strings_.push_back(memory_.take(s));
      }
    }
    return values;
  }

  const HostMemory& memory_ = HostMemory::instance();
  testing_support::ScopedCurrentDir folder_;
  testing_support::HostSession host_;  // in the scratch folder
  std::vector<TTagInfo> records_;
  std::vector<TTagInfo*> pointers_;
  std::vector<std::string> strings_;
};

TEST_F(Driver, StartsDropsTheBadTagAndPollsAtTenMilliseconds) {
  ASSERT_TRUE(Start());
  EXPECT_EQ(host_.message, now_text()) << "binding the vendor's library leaves the time text pending";
  EXPECT_EQ(DetectScanTime(), 10);
  const std::string text = host_.log();
  EXPECT_NE(text.find("：启动驱动程序" + driver_file_info()->DeviceName() + "  ..."), std::string::npos);
  EXPECT_NE(text.find("：有效标签个数=4"), std::string::npos) << "the bad address was dropped";
  EXPECT_NE(text.find("错误报告：由于出现错误，系统在通讯时丢弃该标签！"), std::string::npos);
}

TEST_F(Driver, ReportsEveryTagSixTimesThenOnlyChanges) {
  ASSERT_TRUE(Start());
  int reports_of_di = 0;
  for (int poll = 0; poll < 12; ++poll) {
    for (const TTagValue& v : Poll(101)) reports_of_di += v.TagID == 1;
  }
  EXPECT_EQ(reports_of_di, 6);
  const std::vector<TTagValue> quiet = Poll(1);
  EXPECT_TRUE(quiet.empty()) << "nothing is due 1 ms after the last report";
}

TEST_F(Driver, ATagIsReportedNoOftenerThanItsRecordsScanPeriod) {
  records_[0].ScanPeriod = 500;
  ASSERT_TRUE(Start());
  int reports_of_di = 0;
  for (int poll = 0; poll < 12; ++poll) {
    for (const TTagValue& v : Poll(101)) reports_of_di += v.TagID == 1;
  }
  EXPECT_EQ(reports_of_di, 2) << "its start-up reports too wait out the half second";
}

TEST_F(Driver, ReportedRecordsCarryTheHostsLayout) {
  ASSERT_TRUE(Start());
  const std::vector<TTagValue> first = Poll(101);
  ASSERT_EQ(first.size(), 4u);
  const TTagValue di = first[0];
  EXPECT_EQ(di.TagID, 1);
  EXPECT_EQ(di.ValueType, 1);
  uint16_t flag;
  std::memcpy(&flag, di.Value, 2);
  EXPECT_EQ(flag, 0);
  double stamp;
  std::memcpy(&stamp, &first[0].Stamp, sizeof stamp);
  EXPECT_NEAR(stamp, platform::to_ole_date(host_.clock.now()), 1e-9);
  ASSERT_FALSE(strings_.empty());
  EXPECT_EQ(strings_[0], driver_file_info()->DeviceName() + "通讯始终不成功!");
}

TEST_F(Driver, AWriteToACardThatNeverAnswersIsReportedAsFailed) {
  SimBank bank;
  ASSERT_TRUE(bank.loaded());
  ASSERT_TRUE(Start());
  // The vendor's library faults at every output call, which the driver takes as no answer.
  bank.fault(sim7505::kOutput, sim7505::kAccessViolation);
  for (int i = 0; i < 7; ++i) Poll(101);  // past the start-up reports
  TTagValue on = switch_value(2, 1);
  char* message = nullptr;
  EXPECT_EQ(OnDataWrite(1, &on, &message), 1);
  memory_.release(message);
  uint32_t status = 0;
  for (int i = 0; i < 40 && status == 0; ++i) {
    for (const TTagValue& v : Poll(51))
      if (v.TagID == 2) status = v.TagStatus;
  }
  EXPECT_EQ(status, 0x04000000u);
  bank.fault(sim7505::kOutput, sim7505::kBehave);
}

TEST_F(Driver, AHostTextWrittenToATextOutputDrivesItsBit) {
  records_.push_back(host_record(6, "DO1:0,2.0", 2));
  SimBank bank;
  ASSERT_TRUE(bank.loaded());
  ASSERT_TRUE(Start());
  TTagValue text{};
  text.TagID = 6;
  text.ValueType = 2;
  const char* one = "1";
  std::memcpy(text.Value, &one, sizeof one);
  for (int i = 0; i < 7; ++i) Poll(101);  // past the start-up reports
  EXPECT_EQ(WriteTags(1, &text, 0), 0) << "0: written";
  for (int i = 0; i < 5; ++i) Poll(51);
  EXPECT_EQ(bank.output(1, 0) & 0x4, 0x4);
}

TEST_F(Driver, WritesToUnknownOrMistypedTagsAreSkipped) {
  ASSERT_TRUE(Start());
  TTagValue values[] = {switch_value(99, 1), switch_value(-1, 1), switch_value(0, 1)};
  char* message = nullptr;
  EXPECT_EQ(OnDataWrite(3, values, &message), 0) << "no write attempted";
  memory_.release(message);
  TTagValue analog_to_switch{};
  analog_to_switch.TagID = 2;
  analog_to_switch.ValueType = 0;
  EXPECT_EQ(WriteTags(1, &analog_to_switch, 0), 0) << "a record of another type is skipped";
}

TEST_F(Driver, SwitchingCommunicationOffShowsThePausedLink) {
  ASSERT_TRUE(Start());
  TTagValue off{};
  off.TagID = 4;
  off.ValueType = 0;
  const double zero = 0;
  std::memcpy(off.Value, &zero, sizeof zero);
  EXPECT_EQ(WriteTags(1, &off, 0), 0);
  strings_.clear();
  for (int i = 0; i < 3; ++i) Poll(101);
  ASSERT_FALSE(strings_.empty());
  EXPECT_EQ(strings_.back(), driver_file_info()->DeviceName() + "通讯暂停!");
}

TEST_F(Driver, FreeDriverWritesTheStopReportOnce) {
  ASSERT_TRUE(Start());
  Poll(101);
  EXPECT_EQ(FreeDriver(), 1);
  EXPECT_EQ(FreeDriver(), 1);
  const std::string text = host_.log();
  EXPECT_EQ(CountOf(text, "退出运行！"), 1u);
  EXPECT_NE(text.find("：标签Tag1，地址=DI1:0,0.0，读扫描周期(毫秒)="), std::string::npos);
  // A stopped engine still answers the host.
  EXPECT_TRUE(Poll(101).empty());
}

TEST_F(Driver, EachThreadRunsItsOwnEngine) {
  ASSERT_TRUE(Start());
  std::vector<std::thread> threads;
  std::atomic<int> started{0};
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([&] {
      char* message = nullptr;
      if (IniDriver(static_cast<int32_t>(pointers_.size()), pointers_.data(), &host_.block, &message))
        ++started;
      memory_.release(message);
      std::vector<TTagValue> values(records_.size());
      int32_t count = 0;
      OnDataRead(&count, values.data(), &message);
      memory_.release(message);
      EXPECT_EQ(FreeDriver(), 1);
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(started, 3);
  EXPECT_EQ(DetectScanTime(), 10) << "this thread's engine is untouched";
}

}  // namespace
}  // namespace vorel
