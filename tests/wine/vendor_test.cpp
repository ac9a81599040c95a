// The card vendor's library under Wine: the real Vorel_PCI.dll loads pci7505.dll by its plain
// name, checks the configured cards, reads and writes digital ports through it, shows the link
// state as answers come and go, survives the library faulting, and closes the cards at stop.
//
// This program's folder holds no pci7505.dll. The simulated bank and a broken copy of it (no
// "pci7505do") lie in the subfolders full\ and nodo\; a test loads the one it wants by full path
// first, and Windows then hands the driver that module for the plain name, as it does for any
// module already in the process. Without either, the library is missing.
#include <unistd.h>

#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "sim/pci7505/sim7505.h"
#include "tests/common/host_records.h"
#include "tests/common/sim_bank.h"
#include "tests/wine/driver_library.h"

namespace wine_test {
namespace {

constexpr uint32_t kWriteFailed = 0x04000000;
constexpr uint32_t kPollMs = 10;
constexpr char kTimeoutText[] = "通讯超时错，期待设备应答";

void pause_ms(uint32_t ms) { usleep(ms * 1000u); }
uint32_t ticks() { return platform::system_clock().ticks(); }

// The simulated bank, loaded from one of the subfolders and driven through its control exports.
class Bank : public testing_support::SimBank {
 public:
  explicit Bank(const char* variant) : SimBank(driver().folder + variant + "\\pci7505.dll") {}
};

bool vendor_library_in_process() { return platform::find_loaded_library("pci7505.dll") != nullptr; }

// One host thread's device: its tags, its block, and what the driver answered.
class Device {
 public:
  explicit Device(const Driver& dll) : dll_(dll), block_(default_block(dll)) {}

  void AddCard(int32_t n) {
    vorel::TCardParams& card = block_.Cards[n - 1];
    card.ModelCode = 0;
    static constexpr char kName[] = "PCI_7505";
    card.ModelName[0] = sizeof kName - 1;
    std::memcpy(card.ModelName + 1, kName, sizeof kName - 1);
  }
  int32_t Tag(int32_t id, const char* address, uint8_t value_type) {
    std::string name = std::to_string(id);
    name.insert(name.begin(), 'T');
    return tags_.add(id, name, address, value_type, 0);
  }

  bool Start() {
    char* message = nullptr;
    const bool ok = dll_.IniDriver(tags_.count(), tags_.pointers(), &block_, &message) != 0;
    start_message = take_host_string(message).value_or("");
    return ok;
  }

  // One OnDataRead; the reports are kept per tag (numbers and switches as double, texts apart).
  void Poll() {
    std::vector<TTagValue> values(static_cast<size_t>(tags_.count()));
    int32_t count = -1;
    char* message = nullptr;
    EXPECT_EQ(dll_.OnDataRead(&count, values.data(), &message), 1);
    if (std::optional<std::string> text = take_host_string(message)) messages.push_back(*text);
    for (int32_t i = 0; i < count; ++i) {
      const TTagValue& v = values[static_cast<size_t>(i)];
      Report r;
      r.id = v.TagID;
      r.status = v.TagStatus;
      if (v.ValueType == 0) {
        std::memcpy(&r.number, v.Value, sizeof r.number);
      } else if (v.ValueType == 1) {
        int32_t flag = 0;
        std::memcpy(&flag, v.Value, sizeof flag);
        r.number = (flag & 0xFFFF) != 0;
      } else {
        char* text = nullptr;
        std::memcpy(&text, v.Value, sizeof text);
        r.text = take_host_string(text).value_or("");
      }
      reports.push_back(r);
    }
  }

  // Polls every 10 ms until `done` holds or `limit_ms` passed; true when it held.
  template <class Done>
  bool PollUntil(Done done, uint32_t limit_ms) {
    const uint32_t t0 = ticks();
    while (ticks() - t0 < limit_ms) {
      Poll();
      if (done()) return true;
      pause_ms(kPollMs);
    }
    return false;
  }

  void write(int32_t id, bool on) {
    TTagValue v = testing_support::switch_value(id, on);
    char* message = nullptr;
    EXPECT_EQ(dll_.OnDataWrite(1, &v, &message), 1) << "the write was not queued";
    take_host_string(message);
  }

  struct Report {
    int32_t id = 0;
    uint32_t status = 0;
    double number = 0;
    std::string text;
  };
  // The last report of a tag, if any.
  const Report* Last(int32_t id) const {
    for (auto it = reports.rbegin(); it != reports.rend(); ++it)
      if (it->id == id) return &*it;
    return nullptr;
  }
  // The values a number tag showed, each change once.
  std::vector<double> Changes(int32_t id) const {
    std::vector<double> seen;
    for (const Report& r : reports)
      if (r.id == id && (seen.empty() || seen.back() != r.number)) seen.push_back(r.number);
    return seen;
  }

  std::string start_message;
  std::vector<Report> reports;
  std::vector<std::string> messages;

 private:
  const Driver& dll_;
  TDeviceParams block_;
  HostTagList tags_;
};

class VendorLibrary : public NoMessageBoxTest {};

// First: nothing has loaded a pci7505.dll into this process yet.
TEST_F(VendorLibrary, WithoutTheLibraryTheDeviceDoesNotStartAndSaysWhy) {
  ASSERT_FALSE(vendor_library_in_process());
  on_host_thread([&] {
    Device device(dll);
    device.Tag(1, "DI1:0,0.0", 1);
    EXPECT_FALSE(device.Start());
    const std::string text = "：厂商提供的硬件驱动库pci7505.dll没有找到，请重新安装驱动程序";
    EXPECT_TRUE(device.start_message.ends_with(text)) << device.start_message;
    EXPECT_GT(device.start_message.size(), text.size()) << "the time text comes first";
    dll.FreeDriver();
  });
}

TEST_F(VendorLibrary, OnlyTheCardThatAnswersTheCheckIsUsed) {
  Bank bank("full");
  ASSERT_TRUE(bank.loaded());
  ASSERT_TRUE(bank.configure("present=1"));
  on_host_thread([&] {
    Device device(dll);
    device.AddCard(3);
    device.Tag(1, "DI1:0,0.0", 1);
    EXPECT_TRUE(device.Start()) << device.start_message;
    EXPECT_NE(device.start_message.find(": 本机不存在3号板卡：PCI_7505"), std::string::npos)
        << device.start_message;
    dll.FreeDriver();
  });
  EXPECT_EQ(bank.calls(sim7505::kCheck), 2);
}

TEST_F(VendorLibrary, AnInputWiredToAnOutputFollowsTheHostsWrite) {
  Bank bank("full");
  ASSERT_TRUE(bank.loaded());
  ASSERT_TRUE(bank.configure("loopback=1"));
  on_host_thread([&] {
    Device device(dll);
    const int32_t input = device.Tag(1, "DI1:0,5.0", 1);
    const int32_t output = device.Tag(2, "DO1:0,5.0", 1);
    ASSERT_TRUE(device.Start());
    ASSERT_TRUE(device.PollUntil([&] { return device.Last(input) != nullptr; }, 1000));
    EXPECT_EQ(device.Last(input)->number, 0);
    device.write(output, true);
    EXPECT_TRUE(device.PollUntil([&] { return device.Last(input)->number == 1; }, 2000))
        << "the input never followed the output";
    EXPECT_EQ(bank.output(1, 0), 0x20) << "channel 5 is bit 5 of port 0";
    device.write(output, false);
    EXPECT_TRUE(device.PollUntil([&] { return device.Last(input)->number == 0; }, 2000));
    EXPECT_TRUE(device.messages.empty()) << device.messages.front();
    dll.FreeDriver();
  });
  EXPECT_EQ(bank.bad_calls(), 0);
}

TEST_F(VendorLibrary, TheLinkTagsWalkFromNeverToBrokenAsAnswersStop) {
  Bank bank("full");
  ASSERT_TRUE(bank.loaded());
  on_host_thread([&] {
    Device device(dll);
    device.Tag(1, "DI1:0,0.0", 1);
    const int32_t comm = device.Tag(10, "COMMLINK", 0);
    const int32_t comm_text = device.Tag(11, "COMMLINK", 2);
    const int32_t card = device.Tag(12, "DEVICELINK1:", 0);
    const int32_t card_text = device.Tag(13, "DEVICELINK1:", 2);
    bank.fault(sim7505::kInput, sim7505::kAccessViolation);  // no read is answered at first
    ASSERT_TRUE(device.Start());
    device.PollUntil([] { return false; }, 200);
    ASSERT_NE(device.Last(card_text), nullptr);
    EXPECT_EQ(device.Last(comm)->number, 0) << "failures before the first answer leave it at never";
    EXPECT_EQ(device.Last(card_text)->text, "1号板卡PCI_7505通讯始终不成功!");

    bank.fault(sim7505::kInput, sim7505::kBehave);
    ASSERT_TRUE(device.PollUntil([&] { return device.Last(comm)->number == 1; }, 1000));
    bank.fault(sim7505::kInput, sim7505::kAccessViolation);  // and from now on none is
    EXPECT_TRUE(device.PollUntil(
        [&] { return device.Last(comm)->number == 4 && device.Last(card)->number == 4; }, 4000));
    EXPECT_EQ(device.Changes(comm), (std::vector<double>{0, 1, 2, 3, 4}));
    EXPECT_EQ(device.Changes(card), (std::vector<double>{0, 1, 2, 3, 4}));
    EXPECT_TRUE(device.Last(comm_text)->text.ends_with("通讯线路断路!")) << device.Last(comm_text)->text;
    EXPECT_EQ(device.Last(card_text)->text, "1号板卡PCI_7505通讯线路断路!");
    bool told = false;
    for (const std::string& m : device.messages) told |= m == kTimeoutText;
    EXPECT_TRUE(told) << "the host was never told that the card stopped answering";

    bank.fault(sim7505::kInput, sim7505::kBehave);
    EXPECT_TRUE(device.PollUntil([&] { return device.Last(comm)->number == 1; }, 2000))
        << "the link came back once the card answered again";
    EXPECT_EQ(device.Last(card_text)->text, "1号板卡PCI_7505通讯正常!");
    dll.FreeDriver();
  });
}

TEST_F(VendorLibrary, ALibraryThatFaultsDoesNotTakeTheHostDown) {
  Bank bank("full");
  ASSERT_TRUE(bank.loaded());
  bank.fault(sim7505::kCheck, sim7505::kAccessViolation, 1);  // the first check only
  bank.fault(sim7505::kOutput, sim7505::kAccessViolation);
  on_host_thread([&] {
    Device device(dll);
    device.AddCard(3);
    const int32_t output = device.Tag(2, "DO3:0,1.0", 1);
    device.Tag(3, "DI3:0,1.0", 1);
    EXPECT_TRUE(device.Start()) << "card 3 still answers";
    EXPECT_NE(device.start_message.find("本机不存在1号板卡"), std::string::npos)
        << "a check that faulted is a card that is not there: " << device.start_message;
    device.write(output, true);
    EXPECT_TRUE(device.PollUntil(
        [&] { return device.Last(output) && device.Last(output)->status == kWriteFailed; }, 3000))
        << "a write the library faulted on is reported failed";
    bank.fault(sim7505::kInput, sim7505::kAccessViolation);
    bank.fault(sim7505::kClose, sim7505::kAccessViolation);
    device.PollUntil([] { return false; }, 200);  // faulting reads, and the host polls on
    EXPECT_EQ(dll.FreeDriver(), 1);
  });
  EXPECT_GT(bank.calls(sim7505::kInput), 2);
  EXPECT_EQ(bank.calls(sim7505::kClose), 1)
      << "card 3 is closed; card 1, whose check faulted, was never opened";
  // The process is whole: C++ exceptions still unwind through our frames.
  EXPECT_THROW(throw std::runtime_error("after the faults"), std::runtime_error);
}

TEST_F(VendorLibrary, StopClosesCards1And3OnceAndGivesTheLibraryBack) {
  {
    Bank bank("full");
    ASSERT_TRUE(bank.loaded());
    on_host_thread([&] {
      Device device(dll);
      device.AddCard(3);
      device.Tag(1, "DI1:0,0.0", 1);
      device.Tag(2, "DI3:0,0.0", 1);
      ASSERT_TRUE(device.Start());
      device.PollUntil([] { return false; }, 100);
      EXPECT_EQ(dll.FreeDriver(), 1);
      EXPECT_EQ(bank.closes(1), 1);
      EXPECT_EQ(bank.closes(3), 1);
    });  // the thread's end destroys the engine: nothing more is closed
    EXPECT_EQ(bank.calls(sim7505::kClose), 2);
    EXPECT_EQ(bank.bad_calls(), 0) << "each close got its card's handle";
    EXPECT_TRUE(vendor_library_in_process());
  }
  EXPECT_FALSE(vendor_library_in_process()) << "the engine kept a reference to the library";
}

// Last: a driver refused by a library without "pci7505do" keeps that library loaded.
TEST_F(VendorLibrary, ALibraryWithoutTheOutputEntryPointIsRefusedByName) {
  Bank bank("nodo");
  ASSERT_TRUE(bank.loaded());
  on_host_thread([&] {
    Device device(dll);
    device.Tag(1, "DI1:0,0.0", 1);
    EXPECT_FALSE(device.Start());
    EXPECT_TRUE(device.start_message.ends_with("VorelPCI板卡驱动库(PCI-7505.dll)内部错误,pci7505do"))
        << device.start_message;
    dll.FreeDriver();
  });
  EXPECT_EQ(bank.calls(sim7505::kCheck), 0);
  EXPECT_EQ(bank.calls(sim7505::kClose), 0);
}

}  // namespace
}  // namespace wine_test
