#include "ConnSender.h"

#include "Debug.h"
#include "IrThread.h"
#include "Scope.h"
#include "Swallow.h"
#include "TimersWin.h"

namespace {

// How long releasing a sender waits for its reader thread to end.
constexpr std::uint32_t kReaderEndWaitMs = 200;

std::string LongTimeText() {
  char text[64];
  const int n = GetTimeFormatA(LOCALE_USER_DEFAULT, 0, nullptr, nullptr, text, sizeof(text));
  return n > 0 ? std::string(text, static_cast<std::size_t>(n - 1)) : std::string();
}

void LogToDebugEngine(const std::string& text) {
  if (DebugEngine) DebugEngine->LogEvent(text, 0, 0);
}

}  // namespace

FW_IMPLEMENT_CLASS(TConnectionSender)

TConnectionSender::TConnectionSender(std::uint8_t linkMethod, TFrameEvent onFrame, const std::string& inLogName,
                                     const std::string& outLogName, std::intptr_t linkHandle, std::uint8_t comNumber,
                                     std::uint16_t& failureCode)
    : OnFrame(onFrame),
      linkMethod_(linkMethod),
      encoder_(linkMethod),
      cutter_(linkMethod),
      alive_(std::make_shared<std::atomic<bool>>(true)),
      inLogName_(inLogName),
      outLogName_(outLogName) {
  failureCode = 0;
  inLogEnabled_ = !inLogName_.empty();
  outLogEnabled_ = !outLogName_.empty();
  if (inLogEnabled_) TouchLinkLog(inLogName_);
  if (outLogEnabled_) TouchLinkLog(outLogName_);
  switch (linkMethod) {
    case kLinkFbusCable:
    case kLinkAtSwitch:
    case kLinkBluetooth:
      failureCode = SetUpSerial(comNumber);
      break;
    case kLinkInfrared:
    case kLinkDku2:
      failureCode = StartReader(linkHandle);
      break;
    default:
      failureCode = kFailLinkSetup;
      break;
  }
}

std::uint16_t TConnectionSender::StartReader(std::intptr_t linkHandle) {
  // The handle belongs to the reader from here on, which closes it when it ends.
  reader_ = std::make_shared<TIrReaderLink>(linkHandle, linkMethod_ == kLinkInfrared ? kIrReaderSocket : kIrReaderDku2,
                                            TIrFrameEvent::Bind<&TConnectionSender::ReaderFrame>(this),
                                            TNotifyEvent::Bind<&TConnectionSender::ReaderTerminated>(this));
  readerRunning_ = true;
  if (!TIrThread::StartReader(reader_)) {
    readerRunning_ = false;
    reader_->Detach();
    reader_->CloseAndEnd();
    return kFailLinkSetup;
  }
  return 0;
}

std::uint16_t TConnectionSender::SetUpSerial(std::uint8_t comNumber) {
  port_ = New<TCustComPort>(nullptr);
  port_->BaudRate = br115200;
  port_->StoreDataBits(8);
  port_->StopBits = sbOneStopBit;
  port_->Parity = prNone;
  port_->Port = comNumber;
  port_->Events = TEvents{evRxChar, evCTS};
  port_->OnRxChar = TRxCharEvent::Bind<&TConnectionSender::ReceiveChars>(this);
  if (linkMethod_ == kLinkFbusCable) port_->EnableDTR = true;
  try {
    switch (linkMethod_) {
      case kLinkFbusCable:
        port_->OpenPort();
        port_->PurgeInput();
        port_->PurgeOutput();
        DelayWithMessages(50);
        port_->RaiseDTR();
        port_->LowerRTS();
        DelayWithMessages(50);
        break;
      case kLinkAtSwitch: {
        port_->FlowControl = fcDLR;
        port_->OpenPort();
        port_->BaudRate = br19200;
        port_->ApplySettings();
        port_->PurgeAll();
        DelayWithMessages(200);
        if (port_->WriteData(std::string(kAtSwitchReset)) == 0) {
          port_->ClosePort();
          return kFailAtSwitchWrite;
        }
        SwitchToFbus();
        break;
      }
      case kLinkBluetooth:
        port_->FlowControl = fcNone;
        port_->OpenPort();
        port_->PurgeInput();
        port_->PurgeOutput();
        DelayWithMessages(50);
        WriteWireFrame(TWireFrame{{}, BluetoothSetupFrame()});
        DelayWithMessages(50);
        break;
      default:
        break;
    }
  } catch (const EOSError& e) {
    port_->ClosePort();
    return LinkSetupFailureCode(linkMethod_, e.ErrorCode);
  } catch (const std::exception& e) {
    port_->ClosePort();
    const auto error = ErrorNumberInMessage(e.what());
    return error ? LinkSetupFailureCode(linkMethod_, *error) : kFailLinkSetup;
  } catch (...) {
    port_->ClosePort();
    return kFailLinkSetup;
  }
  return 0;
}

void TConnectionSender::SwitchToFbus() {
  std::string reply;
  DelayWithMessages(10);
  port_->WaitForEvent();
  port_->ClearLineErrors();
  port_->ReadData(reply, static_cast<int>(kAtSwitchResetReply));
  DelayWithMessages(20);
  port_->WriteData(std::string(kAtSwitchFbus));
  DelayWithMessages(10);
  port_->WaitForEvent();
  port_->ReadData(reply, static_cast<int>(kAtSwitchFbusReply));
  DelayWithMessages(20);
  port_->BaudRate = br115200;
  port_->ApplySettings();
  port_->PurgeAll();
  port_->PurgeAll();
  port_->WriteData(std::string(kAtSwitchSync));
}

void TConnectionSender::Destroy() {
  alive_->store(false);
  if (reader_) {
    // No frame or end notice reaches this sender from here on; the reader ends
    // and closes the link by itself (waited for a moment, so that the device
    // is free again for the next attempt).
    reader_->Detach();
    reader_->Stop();
    if (readerRunning_.exchange(false)) reader_->WaitEnded(kReaderEndWaitMs);
    reader_.reset();
  }
  if (port_) {
    // Closing waits for the event thread, and so for a handler of this sender
    // that is running on the main thread; events still queued are dropped.
    port_->Free();
    port_ = nullptr;
  }
  inherited::Destroy();
}

// --- Sending -------------------------------------------------------------------------------------

bool TConnectionSender::SendPhoneMessage(std::uint8_t msgType, const std::string& payload) {
  try {
    std::vector<TWireFrame> frames;
    {
      std::lock_guard<std::mutex> guard(encoderLock_);
      frames = encoder_.Encode(msgType, payload);
    }
    for (const TWireFrame& wire : frames) WriteWireFrame(wire);
  } catch (...) {
    // The phone notices a dead link by its time-outs.
    SwallowException("TConnectionSender.SendPhoneMessage: writing the message's frames");
  }
  return true;
}

void TConnectionSender::SendFrame(std::uint8_t msgType, const std::string& block) {
  try {
    TWireFrame wire;
    if (IsPhonetLink(linkMethod_)) {
      wire.frame = BuildPhonetFrame(PhonetMediaOf(linkMethod_), msgType, block);
    } else {
      if (FbusNeedsPreamble(linkMethod_, msgType)) wire.preamble = FbusPreamble();
      wire.frame = BuildFbusFrame(msgType, block);
    }
    WriteWireFrame(wire);
  } catch (...) {
    SwallowException("TConnectionSender.SendFrame: writing a frame");
  }
}

void TConnectionSender::AcquireSendLock() {
  const DWORD self = GetCurrentThreadId();
  const auto tryLock = [this, self] {
    DWORD expected = 0;
    return sendOwner_.compare_exchange_strong(expected, self);
  };
  if (tryLock()) return;
  if (sendOwner_.load() == self) throw EInvalidOperation("A frame is already being written by this thread");
  TTickTimer forever;
  StartTickTimer(forever, kTickDeadlineCap);
  if (!WaitWithMessages(tryLock, forever, sendFree_)) throw EInvalidOperation("The link stayed busy");
}

void TConnectionSender::ReleaseSendLock() {
  sendOwner_.store(0);
  sendFree_.Set();
}

void TConnectionSender::WriteWireFrame(const TWireFrame& wire) {
  if (reader_) {
    // Infrared and DKU-2 frames: PhoNet, no preamble. A failed write is
    // noticed by the phone's time-outs.
    AcquireSendLock();
    {
      TScopeExit release([this] { ReleaseSendLock(); });
      reader_->Write(wire.frame);
    }
    LogFrame(TLinkLogDirection::ldSent, wire.frame);
    return;
  }
  if (!port_) return;
  AcquireSendLock();
  {
    TScopeExit release([this] { ReleaseSendLock(); });
    if (!wire.preamble.empty()) port_->WriteData(wire.preamble);
    port_->WriteData(wire.frame);
  }
  LogFrame(TLinkLogDirection::ldSent, wire.frame);
}

void TConnectionSender::LogFrame(TLinkLogDirection direction, const std::string& frame) {
  LogToDebugEngine(HexDumpText(frame));
  const bool enabled = direction == TLinkLogDirection::ldSent ? outLogEnabled_ : inLogEnabled_;
  if (!enabled) return;
  const std::string& name = direction == TLinkLogDirection::ldSent ? outLogName_ : inLogName_;
  AppendLinkLogLine(name, LinkLogLine(LongTimeText(), direction, frame));
}

// --- Receiving -----------------------------------------------------------------------------------

std::string TConnectionSender::GetReceived() {
  std::lock_guard<std::mutex> guard(receiveLock_);
  return cutter_.Pending();
}

void TConnectionSender::ClearReceived() {
  try {
    std::lock_guard<std::mutex> guard(receiveLock_);
    cutter_.Clear();
  } catch (...) {
    SwallowException("TConnectionSender.ClearReceived: clearing the bytes received");
  }
}

void TConnectionSender::ReceiveChars(TObject* /*sender*/, int inQue) {
  // Runs on the main thread from the port's event dispatch: nothing may escape
  // into the event thread, which would stop listening.
  const std::shared_ptr<std::atomic<bool>> alive = alive_;
  try {
    if (!port_ || inQue <= 0) return;
    std::string bytes;
    port_->ReadData(bytes, inQue);
    if (bytes.empty()) return;
    LogToDebugEngine(HexDumpText(bytes));
    {
      std::lock_guard<std::mutex> guard(receiveLock_);
      for (std::string& frame : cutter_.Feed(bytes)) framesToHandle_.push_back(std::move(frame));
    }
    // A handler that waits lets more bytes in: the outer call handles them, in order.
    if (handlingFrames_) return;
    handlingFrames_ = true;
    while (*alive && !framesToHandle_.empty()) {
      const std::string frame = std::move(framesToHandle_.front());
      framesToHandle_.pop_front();
      try {
        HandleFrame(frame);
      } catch (...) {
        SwallowException("TConnectionSender.ReceiveChars: handling a received frame");
      }
    }
    if (*alive) handlingFrames_ = false;
  } catch (...) {
    if (*alive) handlingFrames_ = false;
  }
}

void TConnectionSender::HandleFrame(const std::string& frame) {
  const std::shared_ptr<std::atomic<bool>> alive = alive_;
  if (inLogEnabled_) AppendLinkLogLine(inLogName_, LinkLogLine(LongTimeText(), TLinkLogDirection::ldReceived, frame));
  const TReceivedFrameAction action = DecideReceivedFrame(linkMethod_, frame);
  if (!action.dispatch) return;
  LogToDebugEngine(HexDumpText(frame));
  if (action.ack) WriteWireFrame(TWireFrame{{}, *action.ack});
  if (!*alive) return;
  if (action.autoReply) SendPhoneMessage(kMsgAutoReply, *action.autoReply);
  if (!*alive) return;
  if (OnFrame) OnFrame(static_cast<std::uint8_t>(frame[3]), frame);
}

void TConnectionSender::ReaderTerminated(TObject* /*sender*/) {
  try {
    readerRunning_ = false;
    // The handler may release this sender: nothing of it is touched afterwards.
    if (*alive_ && OnLinkClosed) OnLinkClosed(this);
  } catch (...) {
    SwallowException("TConnectionSender.ReaderTerminated: reporting the closed link");
  }
}

void TConnectionSender::ReaderFrame(std::uint8_t msgType, const std::string& frame) {
  // Straight to the phone: no acknowledgement, no automatic reply, no log of frames received.
  try {
    if (*alive_ && OnFrame) OnFrame(msgType, frame);
  } catch (...) {
    SwallowException("TConnectionSender.ReaderFrame: handing a frame to the phone");
  }
}

// --- TSenderPhoneLink ----------------------------------------------------------------------------

TSenderPhoneLink::TSenderPhoneLink(const TPhoneLinkParams& params, std::uint16_t& failureCode)
    : onLinkClosed_(params.onLinkClosed) {
  sender_ = New<TConnectionSender>(params.linkMethod, params.onFrame, params.inLogName, params.outLogName,
                                   params.socket, static_cast<std::uint8_t>(params.comPort), failureCode);
  sender_->OnLinkClosed = TLinkClosedEvent::Bind<&TSenderPhoneLink::LinkClosed>(this);
}

TSenderPhoneLink::~TSenderPhoneLink() {
  try {
    FreeAndNil(sender_);
  } catch (...) {
    SwallowException("TSenderPhoneLink.Destroy: freeing the sender");
  }
}

void TSenderPhoneLink::SendPhoneMessage(std::uint8_t msgType, const std::string& payload) {
  sender_->SendPhoneMessage(msgType, payload);
}

bool TSenderPhoneLink::Sending() const {
  return sender_->Sending();
}

void TSenderPhoneLink::ClearReceived() {
  sender_->ClearReceived();
}

void TSenderPhoneLink::LinkClosed(TConnectionSender* /*sender*/) {
  if (onLinkClosed_) onLinkClosed_();
}
