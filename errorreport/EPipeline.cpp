#include "EPipeline.h"

#include <cmath>
#include <cstdio>

#include "EHash.h"
#include "SysUtils.h"

TOptionsChoice ChooseReportOptionsEntry(TVantorModuleInfo* ofAddress, TVantorModuleInfo* ofModule,
                                        TVantorModuleInfo* ofOther, bool otherModuleExists) {
  auto hasDebugData = [](const TVantorModuleInfo* e) { return e && e->DebugData; };
  TOptionsChoice choice;
  choice.Entry = ofAddress;
  choice.Progress = rpAddressModule;
  if (hasDebugData(ofAddress)) return choice;
  if (ofModule) choice.Entry = ofModule;
  choice.Progress = rpGivenModule;
  if (!hasDebugData(ofModule) && otherModuleExists) {
    if (ofOther) choice.Entry = ofOther;
    choice.Progress = rpOtherModule;
  }
  return choice;
}

TFilterDecision ApplyExceptionFilter(const TVantorExceptionFilter* filter, std::uint8_t dialogKind) {
  TFilterDecision d;
  d.DialogType = dialogKind;
  if (!filter) return d;
  d.Matched = true;
  d.Handling = filter->HandlerKind <= rhReport ? filter->HandlerKind : static_cast<std::uint8_t>(rhReport);
  d.TerminateAction = filter->ActionAfter;
  switch (filter->DialogChoice) {
    case 0:
      d.DialogType = 0;
      break;
    case 2:
      d.DialogType = 1;
      break;
    case 3:
      d.DialogType = 2;
      break;
    case 4:
      d.DialogType = 3;
      break;
    default:
      d.DialogType = dialogKind;
      break;
  }
  return d;
}

bool ShouldShowThreadStack(const TVantorThreadInfo& record, std::uint8_t stackFlags) {
  if (IsPlainWindowsThreadRecord(record)) return (stackFlags & 0x08) != 0;
  return (stackFlags & 0x04) != 0;
}

bool ShouldFreezeThread(const TVantorThreadInfo& record, std::uint16_t behaviourFlags) {
  if (IsPlainWindowsThreadRecord(record)) return (behaviourFlags & 0x04) != 0;
  return (behaviourFlags & 0x01) && (!(behaviourFlags & 0x02) || !IsMainThreadRecord(record));
}

bool ShouldPumpWhileWaiting(bool stackOverflow, std::uint16_t behaviourFlags) {
  return !(stackOverflow || ((behaviourFlags & 0x01) && !(behaviourFlags & 0x02)));
}

TReportOutput ChooseReportOutput(std::uint8_t mode, bool webApplication, bool consoleProgram) {
  if ((mode == 0 && webApplication) || mode == 2) return TReportOutput::WebPage;
  if ((mode == 0 || mode == 1) && consoleProgram) return TReportOutput::Console;
  return TReportOutput::Dialog;
}

bool ShouldRestoreMainWindow(std::uint8_t mode, bool guiProgram, std::uint8_t dialogKind, bool sendDue,
                             std::uint16_t sendFlags) {
  const bool interactive = mode == 1 || (mode == 0 && guiProgram);
  return interactive && (dialogKind != 0 || (sendDue && (sendFlags & 0x11)));
}

bool IsSendingDue(std::uint8_t mailMode, std::uint8_t webMode, bool duplicate, bool userChoseSend,
                  std::uint8_t dialogType) {
  return (mailMode != 0 || webMode != 0) && !duplicate && (userChoseSend || dialogType == 0);
}

std::string BugIdentifierText(std::string_view applicationTitle, std::string_view moduleTitle,
                              std::string_view classText, const TVantorStackList* stack) {
  std::string text;
  text.append(applicationTitle).append(moduleTitle).append(classText);
  if (!stack || stack->Count() == 0) return text;
  const std::int32_t thread = stack->Items(0)->ThreadId;
  for (int i = 0; i < stack->Count(); ++i) {
    const TVLLocationInfo* e = stack->Items(i);
    if (e->Kind != 4 || e->ThreadId != thread) continue;
    text.append(e->UnitName).append(e->ClassName).append(e->ProcedureName).append(std::to_string(e->Line));
  }
  return text;
}

std::string BugIdentifier(std::string_view text) {
  return IntToHex(Crc16OfText(text), 4);
}

void AddCrashTime(TStrings& list, const std::string& timeText, std::int32_t crashCount) {
  list.Add(timeText);
  while (list.Count() > 0 && list.Count() > crashCount) list.Delete(0);
}

std::string WithSafeCallPrefix(const std::string& message) {
  if (message.find(kSafeCallPrefix) != std::string::npos) return message;
  return kSafeCallPrefix + message;
}

TPumpAction ClassifyPumpedMessage(std::uint32_t message) {
  if (message == 18) return TPumpAction::Drop;  // WM_QUIT
  const bool nonClientMouse = message >= 161 && message <= 169;
  const bool key = (message >= 256 && message <= 258) || (message >= 260 && message <= 262);
  const bool mouseButton = message >= 513 && message <= 521;
  if (nonClientMouse || key || mouseButton) return TPumpAction::DropWithBeep;
  return TPumpAction::Dispatch;
}

TSendingProgressStep SendingProgressFor(int status, int value, int counter) {
  static const int kTexts[10] = {114, 115, 113, 118, 119, 120, 116, 117, 121, 122};
  TSendingProgressStep step;
  step.Counter = counter;
  if (status < 0 || status > 9) return step;
  step.TextIndex = kTexts[status];
  if (status == 0) {
    step.Counter = 0;
    step.Bar = 5;
  } else if (status <= 5) {
    step.Counter = counter + 5;
    step.Bar = step.Counter;
  } else if (status == 6) {
    step.Bar = static_cast<int>(std::nearbyint(static_cast<double>(value) / 100.0 * 65.0 + 35.0));
  } else {
    step.Bar = 100;
  }
  return step;
}

std::exception_ptr MapFaultRecord(const TExternalExceptionRecord& record) {
  char text[128];
  switch (record.ExceptionCode) {
    case 0xC0000005u: {
      const std::uint64_t target = record.Parameters.size() > 1 ? record.Parameters[1] : 0;
      const std::uint64_t kind = record.Parameters.empty() ? 0 : record.Parameters[0];
      std::snprintf(text, sizeof text, "Access violation at address %08llX. %s of address %08llX",
                    static_cast<unsigned long long>(record.ExceptionAddress), kind == 1 ? "Write" : "Read",
                    static_cast<unsigned long long>(target));
      return std::make_exception_ptr(EAccessViolation(text, record));
    }
    case 0xC00000FDu:
      return std::make_exception_ptr(EStackOverflow("Stack overflow", record));
    default:
      std::snprintf(text, sizeof text, "External exception %X", static_cast<unsigned>(record.ExceptionCode));
      return std::make_exception_ptr(EExternalException(text));
  }
}

void ApplySendingProgress(TSendingWindowState& window, const TVantorModuleOptions& texts, int status, int value) {
  const TSendingProgressStep step = SendingProgressFor(status, value, window.Counter);
  if (step.TextIndex < 0) return;
  window.Text = texts.GetCustomText(step.TextIndex);
  window.Counter = step.Counter;
  if (step.Bar > window.Bar) window.Bar = step.Bar;
}

std::int32_t FreezeTimeoutMs(std::int32_t freezeSeconds) {
  // Below one second a window that answers would count as frozen at once.
  if (freezeSeconds < 1) freezeSeconds = 1;
  if (freezeSeconds > 0x7FFFFFFF / 1000) freezeSeconds = 0x7FFFFFFF / 1000;
  return freezeSeconds * 1000;
}
