// The operation machine as the host's polls drive it: sending, answers, time-outs, retries,
// back-off, the host's serious-fault signal, and the link state the status tags show.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <span>

#include "engine_probe.h"
#include "platform/posix/test_stores.h"
#include "support/getfileinfo.h"
#include "tests/common/manual_clock.h"

namespace vorel {
namespace {

using testing_support::EngineProbe;
using testing_support::host_tag;

class EngineMachine : public ::testing::Test {
 protected:
  EngineMachine() {
    FullPDB(&block_);
    block_.ErrorLog = 1;
    std::vector<HostTag> tags = {host_tag(1, "DI1:0,0.0"),       host_tag(2, "COMMLINK", 2),
                                 host_tag(3, "DEVICELINK1:", 2), host_tag(4, "DO1:0,1.0"),
                                 host_tag(5, "ENCOMMLINK", 1),   host_tag(6, "COMMLINK", 1)};
    EXPECT_TRUE(e_.IniDLLObj(&block_, tags));
    e_.ReadExecute();  // initialise, take the first read command and send it
  }
  // One poll after `ms` milliseconds.
  void Poll(uint32_t ms) { e_.Poll(clock_, ms); }
  void Answer() {
    e_.AnswerAll();
    Poll(10);
    e_.AnswerNone();
  }
  void Timeout() { Poll(kAnswerTimeoutMs + 1); }
  std::string CommLinkText() { return e_.Tag(2).Value.string_value(); }
  std::string DeviceLinkText() { return e_.Tag(3).Value.string_value(); }

  platform::ManualClock clock_{5000};
  platform::ScopedClock use_clock_{clock_};
  testing_support::ScopedCurrentDir folder_;
  TDeviceParams block_{};
  EngineProbe e_;
  const std::string device_ = driver_file_info()->DeviceName();
};

// Every (status, event) pair the machine knows, one step each, on an engine that takes no further
// step of its own (stopped); a pair without a row leaves status and event as they were.
TEST(EngineMachineTable, EachStatusAndEventLeadsWhereItsRowSays) {
  struct Row {
    RunStatusCode status;
    RunEventCode event;
    RunStatusCode next;
    RunEventCode left;  // the event afterwards: a cleared system error leaves it for the next step
  };
  const Row rows[] = {
      {kStatusNotInit, kEventInit, kStatusReady, kEventNone},
      {kStatusNotInit, kEventLink, kStatusNotInit, kEventLink},
      {kStatusInit, kEventInit, kStatusStopping, kEventNone},
      {kStatusInit, kEventStop, kStatusStopping, kEventNone},
      {kStatusInit, kEventLink, kStatusWaitLink, kEventNone},
      {kStatusInit, kEventUnLink, kStatusWaitUnlink, kEventNone},
      {kStatusSysError, kEventInit, kStatusReady, kEventInit},
      {kStatusSysError, kEventStop, kStatusReady, kEventStop},
      {kStatusSysError, kEventLink, kStatusInit, kEventLink},
      {kStatusSysError, kEventReadCmd, kStatusSysError, kEventNone},
      {kStatusSysErrorToInit, kEventUnLink, kStatusInit, kEventUnLink},
      {kStatusSysErrorToInit, kEventLink, kStatusSysErrorToInit, kEventNone},
      {kStatusReady, kEventInit, kStatusWaitUnlink, kEventNone},
      {kStatusReady, kEventUnLink, kStatusWaitUnlink, kEventNone},
      {kStatusReady, kEventStop, kStatusWaitUnlink, kEventNone},
      {kStatusReady, kEventLink, kStatusWaitLink, kEventNone},
      {kStatusReady, kEventParmCmd, kStatusWaitParm, kEventNone},
      {kStatusReady, kEventStopACK, kStatusReady, kEventStopACK},
      {kStatusStopping, kEventStopACK, kStatusNotInit, kEventNone},
      {kStatusStopping, kEventStopNAK, kStatusStopping, kEventNone},
      {kStatusStopping, kEventClrStopError, kStatusInit, kEventNone},
      {kStatusWaitInit, kEventInitACK, kStatusReady, kEventNone},
      {kStatusWaitInit, kEventInitNAK, kStatusWaitInit, kEventNone},
      {kStatusWaitInit, kEventClrInitError, kStatusNotInit, kEventNone},
      {kStatusWaitLink, kEventLinkACK, kStatusReady, kEventNone},
      {kStatusWaitLink, kEventLinkNAK, kStatusWaitLink, kEventNone},
      {kStatusWaitLink, kEventClrLinkError, kStatusInit, kEventNone},
      {kStatusWaitUnlink, kEventUnLinkACK, kStatusInit, kEventNone},
      {kStatusWaitUnlink, kEventUnLinkNAK, kStatusWaitUnlink, kEventNone},
      {kStatusWaitUnlink, kEventClrUnLinkError, kStatusInit, kEventNone},
      {kStatusWaitParm, kEventParmACK, kStatusReady, kEventNone},
      {kStatusWaitParm, kEventParmNAK, kStatusWaitParm, kEventNone},
      {kStatusWaitParm, kEventClrParmError, kStatusReady, kEventNone},
  };
  for (const Row& r : rows) {
    EngineProbe e;
    e.Stopped = true;
    e.RunStatus = r.status;
    e.RunEvent = r.event;
    e.SwitchRunStatus();
    EXPECT_EQ(int(e.RunStatus), int(r.next)) << int(r.status) << "/" << int(r.event);
    EXPECT_EQ(int(e.RunEvent), int(r.left)) << int(r.status) << "/" << int(r.event);
    EXPECT_EQ(e.CommEnabled, !(r.status == kStatusStopping && r.event == kEventStopACK))
        << "only a stop's acknowledgement switches communication off";
  }

  // Every other pair, but those of the rotation (tested through polls below) and the system
  // errors (which take any event), leaves the machine as it was; the machine tells events and
  // statuses apart by their codes alone.
  const RunStatusCode statuses[] = {kStatusNotInit,        kStatusInit,     kStatusReady,
                                    kStatusStopping,       kStatusWaitInit, kStatusWaitLink,
                                    kStatusWaitUnlink,     kStatusWaitParm, kStatusSysError,
                                    kStatusSysErrorToInit, kStatusWaitRead, kStatusWaitWrite};
  const RunEventCode events[] = {
      kEventNone,          kEventInit,         kEventInitACK,        kEventInitNAK,      kEventClrInitError,
      kEventLink,          kEventLinkACK,      kEventLinkNAK,        kEventClrLinkError, kEventUnLink,
      kEventUnLinkACK,     kEventUnLinkNAK,    kEventClrUnLinkError, kEventReadCmd,      kEventReadACK,
      kEventReadNAK,       kEventClrReadError, kEventWriteCmd,       kEventWriteACK,     kEventWriteNAK,
      kEventClrWriteError, kEventParmCmd,      kEventParmACK,        kEventParmNAK,      kEventClrParmError,
      kEventStop,          kEventStopACK,      kEventStopNAK,        kEventClrStopError};
  EXPECT_EQ(std::set<int>(std::begin(statuses), std::end(statuses)).size(), std::size(statuses));
  EXPECT_EQ(std::set<int>(std::begin(events), std::end(events)).size(), std::size(events));
  for (const RunStatusCode status : std::span(statuses).first(8)) {
    for (const RunEventCode event : events) {
      const bool listed = std::any_of(std::begin(rows), std::end(rows),
                                      [&](const Row& r) { return r.status == status && r.event == event; });
      const bool rotation = status == kStatusReady && (event == kEventReadCmd || event == kEventWriteCmd);
      if (listed || rotation) continue;
      EngineProbe e;
      e.Stopped = true;
      e.RunStatus = status;
      e.RunEvent = event;
      e.SwitchRunStatus();
      EXPECT_EQ(int(e.RunStatus), int(status)) << int(status) << "/" << int(event);
      EXPECT_EQ(int(e.RunEvent), int(event)) << int(status) << "/" << int(event);
    }
  }
}

TEST_F(EngineMachine, FirstPollInitialisesAndSendsARead) {
  EXPECT_EQ(e_.RunStatus, kStatusWaitRead);
  ASSERT_NE(e_.CurCmd, nullptr);
  EXPECT_EQ(e_.CurCmd->CardNo, 1);
  Poll(kAnswerTimeoutMs);
  EXPECT_EQ(e_.RunStatus, kStatusWaitRead) << "50 ms are still within the answer time";
  EXPECT_EQ(e_.ReadTimeouts, 0);
}

TEST_F(EngineMachine, AnAnswerIsAcknowledgedOnTheNextPoll) {
  Answer();
  EXPECT_EQ(e_.Tag(1).ReadCount, 1u);
  EXPECT_EQ(e_.ReadCommTotal, 1);
  EXPECT_TRUE(e_.CommLinkOK);
  EXPECT_EQ(e_.RunStatus, kStatusWaitRead) << "the next read went out in the same poll";
  EXPECT_EQ(CommLinkText(), device_ + "通讯正常!");
  EXPECT_EQ(e_.Tag(6).Value, TVariant::Bool(true)) << "a switch shows the link as on";
  EXPECT_EQ(DeviceLinkText(), "1号板卡PCI_7505通讯正常!");
  const TCommand& read = *e_.CmdList[0];
  EXPECT_EQ(read.Countdown, read.Reload - 1) << "reloaded at the answer, one step taken since";
}

TEST_F(EngineMachine, AMissingAnswerTimesOutAndTheReadIsGivenUp) {
  Timeout();
  EXPECT_EQ(e_.sErrEvent(), "通讯超时错，期待设备应答");
  EXPECT_EQ(e_.ReadTimeouts, 1);
  EXPECT_EQ(e_.ReadFailTotal, 1u) << "a read is not retried: it goes straight to error clearing";
  EXPECT_EQ(e_.Tag(1).ReadFails, 1u);
  EXPECT_EQ(e_.Tag(1).ReadCount, 1u);
  EXPECT_EQ(e_.LogCount("：通讯读超时错，执行操作="), 1);
  EXPECT_EQ(e_.LogCount("：没有接收到应答信息！"), 2);
  EXPECT_EQ(DeviceLinkText(), "1号板卡PCI_7505通讯始终不成功!") << "never answered yet";

  // An exchange a driver marks as one to pass over (retry state 3) is not a failure: the chain
  // goes on, here to the next read.
  e_.CurCmd->RetryState = 3;
  Timeout();
  EXPECT_EQ(e_.ReadFailTotal, 1u);
  EXPECT_EQ(e_.RunStatus, kStatusWaitRead);
}

TEST_F(EngineMachine, ACommandThatKeepsFailingIsPolledLessOften) {
  Timeout();
  ASSERT_EQ(e_.CmdList.size(), 1u);
  const TCommand& read = *e_.CmdList[0];
  EXPECT_FLOAT_EQ(read.SuccessRate, 0.5f);
  for (int i = 0; i < 8; ++i) Timeout();
  EXPECT_FLOAT_EQ(read.SuccessRate, 0.01f) << "the back-off stops at a hundredth of the pace";
  Answer();
  EXPECT_FLOAT_EQ(read.SuccessRate, 0.505f) << "one answer halves the distance back";
}

TEST_F(EngineMachine, LinkStateFollowsExchangesNotPolls) {
  Answer();
  EXPECT_EQ(e_.CommState, kLinkOK);
  EXPECT_EQ(e_.DevLinkState[1], kLinkOK);
  for (int i = 0; i < 5; ++i) Poll(5);  // waiting polls change nothing
  EXPECT_EQ(e_.DevLinkState[1], kLinkOK);

  Timeout();
  EXPECT_EQ(e_.CommState, kLinkDisturbed);
  EXPECT_EQ(DeviceLinkText(), "1号板卡PCI_7505通讯出现干扰!");
  for (int i = 0; i < 5; ++i) Poll(5);
  EXPECT_EQ(e_.DevFailCount[1], 1) << "polls while waiting are not failures";
  Timeout();
  Timeout();
  EXPECT_EQ(e_.DevLinkState[1], kLinkFault) << "three failures in a row";
  EXPECT_EQ(DeviceLinkText(), "1号板卡PCI_7505通讯出现故障!");
  EXPECT_EQ(e_.CommState, kLinkBroken);
  EXPECT_EQ(CommLinkText(), device_ + "通讯线路断路!");
  Timeout();
  Timeout();
  Timeout();
  EXPECT_EQ(e_.DevLinkState[1], kLinkBroken) << "six failures in a row";
  EXPECT_EQ(DeviceLinkText(), "1号板卡PCI_7505通讯线路断路!");
  Timeout();
  EXPECT_EQ(e_.CommState, kLinkBroken) << "a broken line stays broken";
  Answer();
  EXPECT_EQ(DeviceLinkText(), "1号板卡PCI_7505通讯正常!");
}

TEST_F(EngineMachine, RepeatedTimeoutsRaiseTheSeriousFault) {
  e_.set_host_event(0x4711);
  for (int i = 0; i < 10; ++i) Timeout();
  EXPECT_EQ(e_.sErrEvent(), "通讯超时错，期待设备应答");
  EXPECT_EQ(platform::test_stores::host_event_signals(0x4711), 0);
  Timeout();
  EXPECT_EQ(e_.sErrEvent(), "严重故障：连续通讯失败，请检查线路和设备");
  EXPECT_EQ(platform::test_stores::host_event_signals(0x4711), 1);
  EXPECT_FALSE(e_.EnLog());
  while (e_.ReadTimeouts < 100) Timeout();
  EXPECT_TRUE(e_.EnLog()) << "the hundredth time-out switches detailed logging on";
}

TEST_F(EngineMachine, AWriteIsSentTwiceThenReportedAsFailed) {
  ASSERT_TRUE(e_.WriteExecute(4, TVariant::Bool(true)));
  for (int i = 0; i < 20 && e_.WriteFailTotal == 0; ++i) Timeout();
  EXPECT_EQ(e_.WriteTimeouts, 2) << "one retry";
  EXPECT_EQ(e_.WriteFailTotal, 1u);
  EXPECT_EQ(e_.Tag(4).WriteFails, 1u);
  EXPECT_EQ(e_.Tag(4).TagStatus, kTagStatusWriteFailed);
  EXPECT_TRUE(e_.PendingWrites.empty());
  EXPECT_EQ(e_.ActiveWrite, nullptr) << "the failed write chain is freed";
}

TEST_F(EngineMachine, AnAnsweredWriteSetsTheTagValue) {
  ASSERT_TRUE(e_.WriteExecute(4, TVariant::Bool(true)));
  e_.AnswerAll();
  for (int i = 0; i < 10 && e_.Tag(4).WriteCount == 0; ++i) Poll(10);
  EXPECT_EQ(e_.Tag(4).WriteCount, 1u);
  EXPECT_TRUE(e_.Tag(4).Value.bool_value());
  EXPECT_EQ(e_.Tag(4).TagStatus, 0u);
}

TEST_F(EngineMachine, TheAnswerToAnEarlierWriteDoesNotHideALaterWritesExpiry) {
  ASSERT_TRUE(e_.WriteExecute(4, TVariant::Bool(true)));
  for (int i = 0; i < 10 && e_.RunStatus != kStatusWaitWrite; ++i) Answer();
  ASSERT_EQ(e_.RunStatus, kStatusWaitWrite) << "the first write is sent and waits for its answer";
  ASSERT_TRUE(e_.WriteExecute(4, TVariant::Bool(false)));
  clock_.advance(kWriteExpiryMs + 1);
  ASSERT_TRUE(e_.WriteExecute(4, TVariant::Bool(true)));  // the second write expires here
  ASSERT_EQ(e_.Tag(4).TagStatus, kTagStatusWriteExpired);
  e_.AnswerAll();
  e_.ReadExecute();  // the first write is answered
  EXPECT_EQ(e_.Tag(4).WriteCount, 1u);
  EXPECT_EQ(e_.Tag(4).TagStatus, kTagStatusWriteExpired) << "the host still hears of the expired write";
}

TEST_F(EngineMachine, SwitchingCommunicationOffPausesEverything) {
  Answer();
  ASSERT_TRUE(e_.WriteExecute(5, TVariant::Bool(false)));
  EXPECT_FALSE(e_.CommEnabled);
  const int32_t reads = e_.ReadCommTotal;
  for (int i = 0; i < 5; ++i) Timeout();
  EXPECT_EQ(e_.ReadCommTotal, reads) << "no exchange while communication is off";
  EXPECT_EQ(e_.CommState, kLinkPaused);
  EXPECT_EQ(CommLinkText(), device_ + "通讯暂停!");
  EXPECT_EQ(DeviceLinkText(), "1号板卡PCI_7505通讯暂停!");
  ASSERT_TRUE(e_.WriteExecute(5, TVariant::Bool(true)));
  Poll(1);
  Answer();
  EXPECT_EQ(CommLinkText(), device_ + "通讯正常!");
}

TEST_F(EngineMachine, AStoppedEngineDoesNothing) {
  e_.Stop();
  const int32_t reads = e_.ReadCommTotal;
  Timeout();
  EXPECT_EQ(e_.ReadCommTotal, reads);
  EXPECT_TRUE(e_.ReadExecute());
  // ReadTags' step neither: the read in flight when it stopped stays as it was.
  e_.AnswerAll();
  EXPECT_FALSE(e_.ReadExecuteEx());
  EXPECT_EQ(e_.RunStatus, kStatusWaitRead);
  EXPECT_EQ(e_.RunEvent, kEventNone);
}

// Every answer, time-out and give-up without a command to act on: nothing to wait for.
TEST_F(EngineMachine, AnAnswerHandlerWithoutACommandLeavesTheMachineReady) {
  const struct {
    RunStatusCode status;
    RunEventCode event;
  } cases[] = {{kStatusWaitRead, kEventReadACK},      {kStatusWaitRead, kEventReadNAK},
               {kStatusWaitRead, kEventClrReadError}, {kStatusWaitWrite, kEventWriteACK},
               {kStatusWaitWrite, kEventWriteNAK},    {kStatusWaitWrite, kEventClrWriteError}};
  for (const auto& c : cases) {
    e_.CurCmd = nullptr;
    e_.RunStatus = c.status;
    e_.RunEvent = c.event;
    e_.SwitchRunStatus();
    EXPECT_EQ(e_.RunStatus, kStatusReady) << int{c.status} << "/" << int{c.event};
    EXPECT_EQ(e_.RunEvent, kEventNone);
    Poll(10);
    EXPECT_EQ(e_.RunStatus, kStatusWaitRead) << "the next poll reads again";
  }
}

}  // namespace
}  // namespace vorel
