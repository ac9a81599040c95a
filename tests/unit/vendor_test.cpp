// The card vendor's library as the driver binds it: loading it and its entry points, the presence
// check, digital input and output, a library that faults, and closing the cards at stop. The
// simulated card bank (sim/pci7505) plays the vendor's library; the fault guard every call into it
// runs under is tested with the platform.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <vector>

#include "card/DLLRealize.h"
#include "engine/tag_types.h"
#include "engine_probe.h"
#include "platform/platform.h"
#include "platform/posix/test_stores.h"
#include "sim/pci7505/sim7505.h"
#include "support/delphi.h"
#include "tests/common/manual_clock.h"
#include "tests/common/sim_bank.h"

namespace vorel {
namespace {

using testing_support::host_tag;

// ---------------------------------------------------------------- the vendor binding

using testing_support::SimBank;

using VendorEngine = testing_support::Probe<TDLLObject>;

class CardVendor : public ::testing::Test {
 protected:
  CardVendor() {
    unsetenv("PCI7505_SIM");  // the bank starts with its defaults, whatever the shell says
    FullPDB(&block_);
  }
  ~CardVendor() override { platform::test_stores::set_library_file("pci7505.dll", ""); }

  // Cards 1 and 3 configured.
  void ConfigureCards1And3() {
    block_.card(3)->ModelCode = kModelPci7505;
    set_model_name(*block_.card(3), "PCI_7505");
  }

  platform::ManualClock clock_{5000};
  platform::ScopedClock use_clock_{clock_};
  testing_support::ScopedCurrentDir folder_;
  TDeviceParams block_{};
  const std::string now_ = now_text();
};

TEST_F(CardVendor, WithoutTheLibraryTheStartFailsNamingTheFile) {
  platform::test_stores::set_library_file("pci7505.dll", folder_.dir().dir() + "no/such/libpci7505.so");
  VendorEngine e;
  EXPECT_FALSE(e.IniParm(&block_));
  EXPECT_FALSE(e.library_loaded());
  EXPECT_EQ(e.sErrEvent(), now_ + "：厂商提供的硬件驱动库pci7505.dll没有找到，请重新安装驱动程序");
  e.Stop();  // nothing bound, nothing to close: no call through a null entry
  EXPECT_TRUE(e.Stopped);
}

TEST_F(CardVendor, ALibraryWithoutTheOutputEntryPointIsRefusedByName) {
  platform::test_stores::set_library_file("pci7505.dll", PCI7505_NODO_PATH);
  SimBank bank;
  ASSERT_TRUE(bank.loaded());
  {
    VendorEngine e;
    EXPECT_FALSE(e.IniParm(&block_));
    EXPECT_FALSE(e.library_loaded());
    EXPECT_EQ(e.sErrEvent(), now_ + "VorelPCI板卡驱动库(PCI-7505.dll)内部错误,pci7505do");
  }
  EXPECT_EQ(bank.calls(sim7505::kCheck), 0) << "no card is checked through a half-bound library";
  EXPECT_EQ(bank.calls(sim7505::kClose), 0) << "and none closed at stop";
}

TEST_F(CardVendor, ALibraryThatCannotBeBoundIsNotKeptLoaded) {
  platform::test_stores::set_library_file("pci7505.dll", PCI7505_NODO_PATH);
  {
    VendorEngine e;
    EXPECT_FALSE(e.IniParm(&block_));
    EXPECT_EQ(platform::find_loaded_library("pci7505.dll"), nullptr) << "given back at once, not at stop";
    EXPECT_FALSE(e.IniParm(&block_)) << "a second start binds afresh and fails the same way";
    EXPECT_EQ(platform::find_loaded_library("pci7505.dll"), nullptr);
  }
}

TEST_F(CardVendor, OnlyTheCardThatAnswersTheCheckIsLoaded) {
  ConfigureCards1And3();
  SimBank bank;
  ASSERT_TRUE(bank.loaded());
  bank.present(1, false);
  VendorEngine e;
  ASSERT_TRUE(e.IniParm(&block_)) << "one present card is enough";
  EXPECT_TRUE(e.library_loaded());
  EXPECT_EQ(CardHandles(1), 0);
  EXPECT_EQ(CardHandles(3), sim7505::kHandleBase + 3);
  EXPECT_EQ(e.LogCount(": 本机不存在1号板卡：PCI_7505"), 1);
  EXPECT_EQ(e.LogCount("本机不存在3号板卡"), 0);
  EXPECT_EQ(bank.calls(sim7505::kCheck), 2);
  EXPECT_EQ(bank.bad_calls(), 0) << "the check takes 0, 0, 0 and the card number, in that order";
}

TEST_F(CardVendor, ANegativeCheckAnswerMeansNoCard) {
  SimBank bank;
  ASSERT_TRUE(bank.loaded());
  bank.fault(sim7505::kCheck, sim7505::kGarbage);
  VendorEngine e;
  EXPECT_FALSE(e.IniParm(&block_)) << "the only configured card is absent";
  EXPECT_LT(CardHandles(1), 0) << "the handle kept is the check's answer";
  EXPECT_EQ(e.LogCount("本机不存在1号板卡"), 1);
}

TEST_F(CardVendor, AnyPositiveCheckAnswerIsACardEvenTheSmallestHandle) {
  SimBank bank;
  ASSERT_TRUE(bank.loaded());
  ASSERT_TRUE(bank.configure("handles=0"));  // card 1 answers 1
  VendorEngine e;
  ASSERT_TRUE(e.IniParm(&block_));
  EXPECT_EQ(CardHandles(1), 1);
  EXPECT_EQ(e.LogCount("本机不存在1号板卡"), 0);
}

TEST_F(CardVendor, DigitalInputReadsThePortOfItsChannelAndKeepsSixteenBits) {
  SimBank bank;
  ASSERT_TRUE(bank.loaded());
  VendorEngine e;
  ASSERT_TRUE(e.IniParm(&block_));
  bank.input(1, 0, 0x0081);
  bank.input(1, 1, 0x0020);
  bank.fault(sim7505::kInput, sim7505::kGarbage);  // junk above the port's 16 bits
  TCommand command;
  command.CardNo = 1;
  int16_t value = 0;
  command.Channel = 13;
  e.Read_DI_Data(value, command);
  EXPECT_EQ(value, 0x0020) << "channel 13 is on port 1";
  command.Channel = 7;
  e.Read_DI_Data(value, command);
  EXPECT_EQ(value, 0x0081) << "channel 7 is on port 0";
  EXPECT_EQ(bank.bad_calls(), 0) << "the card's handle, 0 and the port index, in that order";
}

class CardVendorRunning : public CardVendor {
 protected:
  // An engine running a DI and a DO tag on channel 5 of card 1, polled until both tags were read.
  void Start(VendorEngine& e) {
    const std::vector<HostTag> tags = {host_tag(1, "DI1:0,5.0", 1), host_tag(2, "DO1:0,5.0", 1)};
    ASSERT_TRUE(e.IniDLLObj(&block_, tags));
    for (int i = 0; i < 5; ++i) e.Poll(clock_);
  }
  void write(VendorEngine& e, bool on) {
    EXPECT_TRUE(e.WriteExecute(2, TVariant::Bool(on)));
    for (int i = 0; i < 10; ++i) e.Poll(clock_);
  }
  SimBank bank_;
};

TEST_F(CardVendorRunning, AnInputWiredToAnOutputFollowsWhatTheHostWrites) {
  ASSERT_TRUE(bank_.loaded());
  bank_.loopback(1, true);
  VendorEngine e;
  Start(e);
  EXPECT_FALSE(e.Tag(1).Value.bool_value());
  write(e, true);
  EXPECT_EQ(bank_.output(1, 0), 0x20) << "channel 5 is bit 5 of port 0";
  EXPECT_TRUE(e.Tag(1).Value.bool_value());
  write(e, false);
  EXPECT_EQ(bank_.output(1, 0), 0);
  EXPECT_FALSE(e.Tag(1).Value.bool_value());
  EXPECT_EQ(e.ReadTimeouts, 0);
  EXPECT_EQ(e.WriteTimeouts, 0);
}

TEST_F(CardVendorRunning, AFaultingLibraryIsAMissingAnswerAndPollingGoesOn) {
  ASSERT_TRUE(bank_.loaded());
  bank_.input(1, 0, 0x20);
  VendorEngine e;
  Start(e);
  ASSERT_TRUE(e.Tag(1).Value.bool_value());

  bank_.input(1, 0, 0x00);
  bank_.fault(sim7505::kInput, sim7505::kAccessViolation);
  const int32_t calls_before = bank_.calls(sim7505::kInput);
  for (int i = 0; i < 30; ++i) e.Poll(clock_, 20);
  EXPECT_GT(bank_.calls(sim7505::kInput) - calls_before, 3) << "every read tried the card again";
  EXPECT_GE(e.ReadTimeouts, 3) << "each faulted read timed out like an unanswered one";
  EXPECT_TRUE(e.Tag(1).Value.bool_value()) << "no value was made up for the faulted reads";
  EXPECT_EQ(e.LogCount("：调用厂商硬件驱动库函数pci7505di时出现异常(C0000005)！"), 1)
      << "the fault is logged once, not at every poll";

  bank_.fault(sim7505::kInput, sim7505::kBehave);
  for (int i = 0; i < 30; ++i) e.Poll(clock_, 20);
  EXPECT_FALSE(e.Tag(1).Value.bool_value()) << "the card is read again once the library behaves";
}

TEST_F(CardVendorRunning, AWriteThroughAFaultingLibraryIsReportedFailed) {
  ASSERT_TRUE(bank_.loaded());
  bank_.fault(sim7505::kOutput, sim7505::kAccessViolation);
  VendorEngine e;
  Start(e);
  EXPECT_TRUE(e.WriteExecute(2, TVariant::Bool(true)));
  for (int i = 0; i < 40 && e.Tag(2).TagStatus == 0; ++i) e.Poll(clock_, 20);
  EXPECT_EQ(e.Tag(2).TagStatus, kTagStatusWriteFailed);
  EXPECT_EQ(e.LogCount("pci7505do时出现异常(C0000005)"), 1);
}

TEST_F(CardVendor, ACheckThatFaultsLeavesTheCardAbsent) {
  SimBank bank;
  ASSERT_TRUE(bank.loaded());
  bank.fault(sim7505::kCheck, sim7505::kAccessViolation);
  VendorEngine e;
  block_.ErrorLog = 1;
  EXPECT_FALSE(e.IniParm(&block_));
  EXPECT_EQ(CardHandles(1), 0);
  EXPECT_EQ(e.LogCount("本机不存在1号板卡"), 1);
  EXPECT_EQ(e.LogCount("：TDLLObject.CardInSystem异常！"), 1);
  EXPECT_EQ(e.LogCount("pci7505check时出现异常(C0000005)"), 1);
}

TEST_F(CardVendor, StopClosesOnlyTheCardsThatAnsweredTheCheck) {
  ConfigureCards1And3();
  SimBank bank;
  ASSERT_TRUE(bank.loaded());
  bank.present(3, false);
  {
    VendorEngine e;
    ASSERT_TRUE(e.IniParm(&block_));
    e.Stop();
  }
  EXPECT_EQ(bank.closes(1), 1);
  EXPECT_EQ(bank.calls(sim7505::kClose), 1) << "card 3 never opened, so it is not closed";
  EXPECT_EQ(bank.bad_calls(), 0) << "no close with an absent card's check answer as its handle";
}

// A card that is gone at the engine's next check is no longer its to hold or to close.
TEST_F(CardVendor, ACardGoneAtTheNextCheckIsGivenUp) {
  SimBank bank;
  ASSERT_TRUE(bank.loaded());
  VendorEngine e;
  ASSERT_TRUE(e.IniParm(&block_));
  ASSERT_GT(CardHandles(1), 0);
  bank.present(1, false);
  e.IniParm(&block_);
  EXPECT_EQ(CardHandles(1), 0);
  e.Stop();
  EXPECT_EQ(bank.calls(sim7505::kClose), 0);
  EXPECT_EQ(bank.bad_calls(), 0);
}

// An owner that deletes the engine without Destroy() still gets the card closed.
TEST_F(CardVendor, AnEngineDeletedWithoutDestroyClosesItsCards) {
  SimBank bank;
  ASSERT_TRUE(bank.loaded());
  {
    TDLLObject e(true);
    ASSERT_TRUE(e.IniDLLObj(&block_, {testing_support::host_tag(1, "DI1:0,0.0")}));
  }
  EXPECT_EQ(bank.closes(1), 1);
}

TEST_F(CardVendor, ACardThatFailedItsCheckIsNeverCalledAndItsExchangesGetNoAnswer) {
  ConfigureCards1And3();
  SimBank bank;
  ASSERT_TRUE(bank.loaded());
  bank.present(3, false);
  VendorEngine e;
  ASSERT_TRUE(e.IniParm(&block_));
  for (const bool write : {false, true}) {
    TCommand command;
    command.CardNo = 3;
    command.IsWrite = write;
    command.TypeIndex = write ? kTypeDO : kTypeDI;
    e.RealComm(&command);
    EXPECT_FALSE(e.GetResult()) << (write ? "a write to it is not taken as done" : "a read gives no value");
  }
  EXPECT_EQ(bank.calls(sim7505::kInput) + bank.calls(sim7505::kOutput), 0);
  EXPECT_EQ(bank.bad_calls(), 0);
}

TEST_F(CardVendor, StopClosesEachConfiguredCardOnceThenReleasesTheLibraryOnce) {
  ConfigureCards1And3();
  block_.card(32)->ModelCode = kModelPci7505;  // the last card number too
  set_model_name(*block_.card(32), "PCI_7505");
  std::optional<SimBank> bank(std::in_place);
  ASSERT_TRUE(bank->loaded());
  {
    VendorEngine e;
    ASSERT_TRUE(e.IniParm(&block_));
    e.Stop();
    EXPECT_FALSE(e.library_loaded());
    EXPECT_EQ(e.library_handle(), nullptr) << "no handle to a library given back";
    e.Stop();  // a second stop, and Destroy's: the library is no longer the engine's to call
  }
  EXPECT_EQ(bank->closes(1), 1);
  EXPECT_EQ(bank->closes(3), 1);
  EXPECT_EQ(bank->closes(32), 1);
  EXPECT_EQ(bank->calls(sim7505::kClose), 3) << "entries without a card are not closed";
  EXPECT_EQ(bank->bad_calls(), 0) << "each close got the handle its card's check answered";
  // Only the test's own reference is left: the engine gave back exactly the one it took.
  EXPECT_NE(platform::find_loaded_library("pci7505.dll"), nullptr);
  bank.reset();
  EXPECT_EQ(platform::find_loaded_library("pci7505.dll"), nullptr);
}

}  // namespace
}  // namespace vorel
