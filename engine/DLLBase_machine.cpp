// The operation machine: the run status says what the engine waits for, the run event what
// happened, and SwitchRunStatus maps each pair to one operation. Every step is driven by
// ReadExecute from the host's poll; operations re-enter ReadExecute after changing the status,
// so one poll handles at most one answer and sends at most one new command.
#include <algorithm>
#include <cmath>
#include <optional>

#include "engine/DLLBase.h"
#include "support/delphi.h"

namespace vorel {

namespace {
constexpr char kTimeoutEvent[] = "通讯超时错，期待设备应答";
constexpr char kSeriousFault[] = "严重故障：连续通讯失败，请检查线路和设备";
constexpr double kSeriousTimeouts = 10;
}  // namespace

// ---------------------------------------------------------------- card exchange (engine versions)

void TBaseDLLObject::RealComm(TCommand* command) {
  if (!command || !CommEnabled) return;
  command->Received.clear();
  SentTick = platform::clock().ticks();
}

bool TBaseDLLObject::GetResult() { return false; }

// ---------------------------------------------------------------- events and dispatch

void TBaseDLLObject::GetRunEvent() {
  try {
    if (RunEvent != kEventNone) return;
    if (!CommEnabled) return;
    switch (RunStatus) {
      case kStatusReady:
        if (StaleWrites < WriteQuota) {
          GetWriteCommand();
          if (CurCmd) RunEvent = kEventWriteCmd;
        } else {
          GetReadCommand();
          if (CurCmd) RunEvent = kEventReadCmd;
        }
        break;
      case kStatusWaitRead:
      case kStatusWaitWrite: {
        const bool reading = RunStatus == kStatusWaitRead;
        if (GetResult())
          RunEvent = reading ? kEventReadACK : kEventWriteACK;
        else if (static_cast<uint32_t>(platform::clock().ticks() - SentTick) > kAnswerTimeoutMs)
          RunEvent = reading ? kEventReadNAK : kEventWriteNAK;
        break;
      }
      default:
        break;
    }
  } catch (...) {
    log_exception("GetRunEvent");
  }
}

// One row for each (status, event) the machine acts on; an empty event matches every event.
// Pairs without a row leave the machine as it is.
void TBaseDLLObject::SwitchRunStatus() {
  using Handler = void (TBaseDLLObject::*)();
  struct Transition {
    RunStatusCode status;
    std::optional<RunEventCode> event;
    Handler handler;
  };
  using T = TBaseDLLObject;
  static constexpr Transition kTransitions[] = {
      {kStatusNotInit, kEventInit, &T::opInit_Exec},
      {kStatusInit, kEventInit, &T::opStop_Exec},
      {kStatusInit, kEventStop, &T::opStop_Exec},
      {kStatusInit, kEventLink, &T::opLink_Exec},
      {kStatusInit, kEventUnLink, &T::opUnLink_Exec},
      {kStatusSysError, std::nullopt, &T::opClrSystemError_Exec},
      {kStatusSysErrorToInit, std::nullopt, &T::opClrSystemError_Exec},
      {kStatusReady, kEventInit, &T::opUnLink_Exec},
      {kStatusReady, kEventUnLink, &T::opUnLink_Exec},
      {kStatusReady, kEventStop, &T::opUnLink_Exec},
      {kStatusReady, kEventLink, &T::opLink_Exec},
      {kStatusReady, kEventReadCmd, &T::opReadCmd_Exec},
      {kStatusReady, kEventWriteCmd, &T::opWriteCmd_Exec},
      {kStatusReady, kEventParmCmd, &T::opParmCmd_Exec},
      {kStatusStopping, kEventStopACK, &T::opStopACK_Exec},
      {kStatusStopping, kEventStopNAK, &T::opStopNAK_Exec},
      {kStatusStopping, kEventClrStopError, &T::opClrStopError_Exec},
      {kStatusWaitInit, kEventInitACK, &T::opInitACK_Exec},
      {kStatusWaitInit, kEventInitNAK, &T::opInitNAK_Exec},
      {kStatusWaitInit, kEventClrInitError, &T::opClrInitError_Exec},
      {kStatusWaitLink, kEventLinkACK, &T::opLinkACK_Exec},
      {kStatusWaitLink, kEventLinkNAK, &T::opLinkNAK_Exec},
      {kStatusWaitLink, kEventClrLinkError, &T::opClrLinkError_Exec},
      {kStatusWaitUnlink, kEventUnLinkACK, &T::opUnLinkACK_Exec},
      {kStatusWaitUnlink, kEventUnLinkNAK, &T::opUnLinkNAK_Exec},
      {kStatusWaitUnlink, kEventClrUnLinkError, &T::opClrUnLinkError_Exec},
      {kStatusWaitRead, kEventReadACK, &T::opReadACK_Exec},
      {kStatusWaitRead, kEventReadNAK, &T::opReadNAK_Exec},
      {kStatusWaitRead, kEventClrReadError, &T::opClrReadError_Exec},
      {kStatusWaitWrite, kEventWriteACK, &T::opWriteACK_Exec},
      {kStatusWaitWrite, kEventWriteNAK, &T::opWriteNAK_Exec},
      {kStatusWaitWrite, kEventClrWriteError, &T::opClrWriteError_Exec},
      {kStatusWaitParm, kEventParmACK, &T::opParmACK_Exec},
      {kStatusWaitParm, kEventParmNAK, &T::opParmNAK_Exec},
      {kStatusWaitParm, kEventClrParmError, &T::opClrParmError_Exec},
  };
  try {
    for (const Transition& row : kTransitions) {
      if (row.status == RunStatus && (!row.event || *row.event == RunEvent)) {
        (this->*row.handler)();
        return;
      }
    }
  } catch (...) {
    log_exception("SwitchRunStatus");
  }
}

void TBaseDLLObject::set_status(RunStatusCode status) {
  RunEvent = kEventNone;
  RunStatus = status;
  ReadExecute();
}

// ---------------------------------------------------------------- status-only operations

void TBaseDLLObject::opSystemError_Exec() { RunEvent = kEventNone; }
void TBaseDLLObject::opInit_Exec() { set_status(kStatusReady); }
void TBaseDLLObject::opInitACK_Exec() { set_status(kStatusReady); }
void TBaseDLLObject::opInitNAK_Exec() { set_status(RunStatus); }
void TBaseDLLObject::opClrInitError_Exec() { set_status(kStatusNotInit); }

void TBaseDLLObject::opStop_Exec() {
  RunEvent = kEventNone;
  RunStatus = kStatusStopping;
  Stop();
}

void TBaseDLLObject::opStopACK_Exec() {
  RunEvent = kEventNone;
  RunStatus = kStatusNotInit;
  WriteCommEnabled(false);
  ReadExecute();
}

void TBaseDLLObject::opStopNAK_Exec() { set_status(RunStatus); }
void TBaseDLLObject::opClrStopError_Exec() { set_status(kStatusInit); }
void TBaseDLLObject::opLink_Exec() { set_status(kStatusWaitLink); }
void TBaseDLLObject::opLinkACK_Exec() { set_status(kStatusReady); }
void TBaseDLLObject::opLinkNAK_Exec() { set_status(RunStatus); }
void TBaseDLLObject::opClrLinkError_Exec() { set_status(kStatusInit); }
void TBaseDLLObject::opUnLink_Exec() { set_status(kStatusWaitUnlink); }
void TBaseDLLObject::opUnLinkACK_Exec() { set_status(kStatusInit); }
void TBaseDLLObject::opUnLinkNAK_Exec() { set_status(RunStatus); }
void TBaseDLLObject::opClrUnLinkError_Exec() { set_status(kStatusInit); }
void TBaseDLLObject::opParmCmd_Exec() { set_status(kStatusWaitParm); }
void TBaseDLLObject::opParmACK_Exec() { set_status(kStatusReady); }
void TBaseDLLObject::opParmNAK_Exec() { set_status(RunStatus); }
void TBaseDLLObject::opClrParmError_Exec() { set_status(kStatusReady); }

void TBaseDLLObject::opClrSystemError_Exec() {
  const uint8_t e = RunEvent;
  const bool restart = e == kEventInit || e == kEventUnLink || e == kEventStop;
  if (RunStatus == kStatusSysError && restart)
    RunStatus = kStatusReady;
  else if (RunStatus == kStatusSysError && e == kEventLink)
    RunStatus = kStatusInit;
  else if (RunStatus == kStatusSysErrorToInit && restart)
    RunStatus = kStatusInit;
  else
    RunEvent = kEventNone;
  ReadExecute();
}

// ---------------------------------------------------------------- sending

// Runs a sending or answer handler. One that throws leaves the machine ready for the next
// command, and the run log names it.
template <typename Body>
void TBaseDLLObject::run_handler(std::string_view name, Body&& body) {
  try {
    body();
  } catch (...) {
    RunEvent = kEventNone;
    RunStatus = kStatusReady;
    log_exception(name);
  }
}

void TBaseDLLObject::opReadCmd_Exec() {
  run_handler("opReadCmd_Exec", [&] {
    if (CurCmd) RealComm(CurCmd);
    RunEvent = kEventNone;
    RunStatus = kStatusWaitRead;
  });
}

void TBaseDLLObject::opWriteCmd_Exec() {
  run_handler("opWriteCmd_Exec", [&] {
    if (CurCmd) RealComm(CurCmd);
    RunEvent = kEventNone;
    RunStatus = kStatusWaitWrite;
  });
}

// ---------------------------------------------------------------- answers

void TBaseDLLObject::log_answer_lines(std::string_view executed, std::string_view expected) {
  AppendLog("\r\n");
  log_line(std::string(executed) + CurCmd->CmdText);
  log_line(std::string(expected) + CurCmd->AnswerText);
  if (!CurCmd->Received.empty()) {
    log_line("：接收到应答信息= " + CurCmd->Received);
    log_line("：应答信息没有通过校验检查。");
  } else {
    log_line("：没有接收到应答信息！");
  }
}

// With no current command there is nothing to acknowledge, and nothing to wait for: the machine
// is ready for the next command. (Linking would leave it waiting for a link answer that no card
// exchange ever gives.)
bool TBaseDLLObject::no_current_command() {
  if (CurCmd) return false;
  RunStatus = kStatusReady;
  RunEvent = kEventNone;
  return true;
}

// The chain goes on with its next command at once, or the machine is ready for the next chain.
void TBaseDLLObject::continue_chain(bool writing) {
  GetCommandNext();
  RunEvent = kEventNone;
  if (CurCmd) {
    if (writing)
      opWriteCmd_Exec();
    else
      opReadCmd_Exec();
  } else {
    RunStatus = kStatusReady;
    ReadExecute();
  }
}

// What every answered exchange has in common: the link is up, and the chain goes on.
void TBaseDLLObject::answered(bool writing) {
  CommState = kLinkOK;
  WriteCommLinkOK(true);
  if (ProtocolTrace && trace_log_on()) {
    log_line(std::string(writing ? "：发送写标签命令= " : "：发送读标签命令= ") + CurCmd->CmdText);
    log_line("：接收到应答信息= " + CurCmd->Received);
    log_line("：应答信息通过校验检查。");
  }
  note_link_outcome();
  continue_chain(writing);
}

// What every timed-out exchange has in common: the host hears of it, repeated failures raise the
// serious fault (judged by the read time-outs, for writes too), and the retry state decides
// between sending again, going on with the chain and giving the exchange up.
void TBaseDLLObject::timed_out(bool writing) {
  WriteCommLinkOK(false);
  WriteCommEvent(kTimeoutEvent);
  if (ReadTimeouts > kSeriousTimeouts) {
    WriteCommEvent(kSeriousFault);
    platform::signal_host_event(HostEvent);
    if (std::fmod(std::trunc(ReadTimeouts), 10000.0) == 100.0) EnLog_ = true;
  }
  if (ProtocolTrace && error_log_on()) {
    if (writing)
      log_answer_lines("：通讯写超时错，执行操作=", "：通讯写超时错，期待应答=");
    else
      log_answer_lines("：通讯读超时错，执行操作=", "：通讯读超时错，期待应答=");
  }
  note_link_outcome();
  if (CurCmd->RetryState == 1) {
    CurCmd->RetryState = 2;
    RunStatus = kStatusReady;
    RunEvent = writing ? kEventWriteCmd : kEventReadCmd;
  } else if (CurCmd->RetryState == 3) {
    continue_chain(writing);
  } else {
    RunEvent = writing ? kEventClrWriteError : kEventClrReadError;
  }
  ReadExecute();
}

void TBaseDLLObject::opReadACK_Exec() {
  run_handler("opReadACK_Exec", [&] {
    if (no_current_command()) return;
    if (CurCmd->is_tag_command()) {
      for (int32_t position : CurCmd->TagIds) {
        if (TDLLTag* tag = tag_at(position)) {
          ++tag->ReadCount;
          tag->TagStatus = 0;
        }
      }
    }
    for (const CommandChain& chain : CmdList) {
      if (chain && chain->CardNo == CurCmd->CardNo) {
        CurCmd->Countdown = CurCmd->Reload;
        break;
      }
    }
    ++ReadCommTotal;
    CurCmd->SuccessRate = (CurCmd->SuccessRate + 1.0f) / 2.0f;
    answered(false);
  });
}

void TBaseDLLObject::opReadNAK_Exec() {
  run_handler("opReadNAK_Exec", [&] {
    if (no_current_command()) return;
    ++ReadCommTotal;
    ReadTimeouts += 1;
    timed_out(false);
  });
}

void TBaseDLLObject::opClrReadError_Exec() {
  run_handler("opClrReadError_Exec", [&] {
    if (no_current_command()) return;
    ++ReadFailTotal;
    for (int32_t position : CurCmd->TagIds) {
      if (TDLLTag* tag = tag_at(position)) {
        ++tag->ReadCount;
        ++tag->ReadFails;
      }
    }
    // Back off: a command that keeps failing is polled up to 100 times less often; one success
    // halves the distance back to its normal pace.
    CurCmd->SuccessRate /= 2.0f;
    if (CurCmd->SuccessRate >= 0.5f) {
      CurCmd->Countdown = CurCmd->Reload;
    } else {
      if (CurCmd->SuccessRate < 0.01f) CurCmd->SuccessRate = 0.01f;
      const double pace = std::trunc(static_cast<double>(CurCmd->Reload) / CurCmd->SuccessRate);
      CurCmd->Countdown = static_cast<int32_t>(std::min(pace, 2147483647.0));
    }
    if (error_log_on()) log_answer_lines("：通讯读失败，执行操作=", "：通讯读失败，期待应答=");
    set_status(kStatusReady);
  });
}

void TBaseDLLObject::opWriteACK_Exec() {
  run_handler("opWriteACK_Exec", [&] {
    if (no_current_command()) return;
    if (CurCmd->is_tag_command()) {
      for (size_t i = 0; i < CurCmd->TagIds.size(); ++i) {
        if (TDLLTag* tag = tag_at(CurCmd->TagIds[i])) {
          ++tag->WriteCount;
          // A later write of the tag may have expired or failed meanwhile: its word stays until
          // the host has been told.
          if ((tag->TagStatus & (kTagStatusWriteExpired | kTagStatusWriteFailed)) == 0) tag->TagStatus = 0;
          if (i < CurCmd->Values.size()) tag->Value = tag->Confirmed = CurCmd->Values[i];
        }
      }
    }
    ++WriteCommTotal;
    answered(true);
  });
}

void TBaseDLLObject::opWriteNAK_Exec() {
  run_handler("opWriteNAK_Exec", [&] {
    if (no_current_command()) return;
    ++WriteCommTotal;
    WriteTimeouts += 1;
    timed_out(true);
  });
}

void TBaseDLLObject::opClrWriteError_Exec() {
  run_handler("opClrWriteError_Exec", [&] {
    RunEvent = kEventNone;
    if (no_current_command()) return;
    ++WriteFailTotal;
    if (CurCmd->is_tag_command()) {
      for (size_t i = 0; i < CurCmd->TagIds.size(); ++i) {
        if (TDLLTag* tag = tag_at(CurCmd->TagIds[i])) {
          if (i == 0) tag->TagStatus = kTagStatusWriteFailed;
          ++tag->WriteCount;
          ++tag->WriteFails;
        }
      }
    }
    if (error_log_on()) log_answer_lines("：通讯写失败，执行操作=", "：通讯写失败，期待应答=");
    free_current_chain();
    CurCmd = CurHead = nullptr;
    RunStatus = kStatusReady;
    ReadExecute();
  });
}

}  // namespace vorel
