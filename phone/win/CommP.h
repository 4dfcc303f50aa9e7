// The serial port component: one Win32 serial port opened for overlapped I/O,
// with an event thread that waits for line events and hands them to the main
// thread. The link sender creates one per serial link and drives it in code.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <utility>

#include "Component.h"
#include "Exceptions.h"
#include "KernelHandles.h"
#include "Thread.h"

FW_ENUM(TBaudRate, br110, br300, br600, br1200, br2400, br4800, br9600, br14400, br19200, br38400, br56000, br57600,
        br115200, brTooMuch);
FW_ENUM(TParity, prNone, prOdd, prEven, prMark, prSpace);
FW_ENUM(TStopBits, sbOneStopBit, sbOne5StopBits, sbTwoStopBits);
FW_ENUM(TFlowControl, fcNone, fcRtsCts, fcXonXoff, fcDLR);
FW_ENUM(TEvent, evRxChar, evTxEmpty, evRxFlag, evRing, evBreak, evCTS, evDSR, evError, evRLSD);
using TEvents = Set<TEvent>;

using TRxCharEvent = Method<void(TObject* sender, int inQue)>;

// The port's failures carry the Windows error number both in the message text
// ("Unable to open com port: 2") and as ErrorCode.
class EComHandle : public EOSError {
 public:
  EComHandle(std::string message, DWORD error) : EOSError(std::move(message), static_cast<unsigned>(error)) {}
  FW_EXCEPTION_NAMES(EComHandle, EOSError)
};
class EComState : public EOSError {
 public:
  EComState(std::string message, DWORD error) : EOSError(std::move(message), static_cast<unsigned>(error)) {}
  FW_EXCEPTION_NAMES(EComState, EOSError)
};
class EComRead : public EOSError {
 public:
  EComRead(std::string message, DWORD error) : EOSError(std::move(message), static_cast<unsigned>(error)) {}
  FW_EXCEPTION_NAMES(EComRead, EOSError)
};

// The bits per second a TBaudRate stands for.
DWORD BaudRateValue(TBaudRate rate);
// How long a write of `bytes` bytes may take: 3 ms a byte, 100 to 3200 ms.
DWORD WriteWaitMilliseconds(std::size_t bytes);
// The Win32 event mask of a set of events.
DWORD EventMaskOf(TEvents events);

class TCustComPort;

// Waits for line events of one open port and runs the port's handlers on the
// main thread. Where the driver cannot wait for line events (a pseudo-terminal
// under Wine fails or aborts WaitCommEvent at once), it polls the input queue
// every few milliseconds and reports received bytes as EV_RXCHAR instead.
class TComThread : public TThread {
  FW_CLASS(TComThread, TThread)
 public:
  explicit TComThread(TCustComPort* port);
  void AfterConstruction() override;
  void Destroy() override;

  void StopWaiting();
  // True once the thread has given up on WaitCommEvent and polls the input queue.
  bool Polling() const { return polling_.load(); }

 protected:
  void Execute() override;

 private:
  friend class TCustComPort;
  void DispatchEvents();
  void Deliver(DWORD mask);
  void WaitWithDriver();
  void PollInput();
  // The port is closed from one of its own handlers: the thread cannot be
  // waited for there, so it takes the handle over, closes it when it ends and
  // frees itself.
  void Orphan();

  std::atomic<TCustComPort*> port_;
  HANDLE handle_;
  DWORD maskBits_;
  TManualResetEvent stopEvent_;
  DWORD eventMask_ = 0;  // the last event mask, written by WaitCommEvent
  std::atomic<bool> polling_{false};
  std::atomic<bool> ownsHandle_{false};
  // The thread running this thread's handlers right now (0: none).
  std::atomic<DWORD> dispatchingThread_{0};
};

class TCustComPort : public TComponent {
  FW_CLASS(TCustComPort, TComponent)
 public:
  explicit TCustComPort(TComponent* owner);
  void Destroy() override;

  void OpenPort();
  void ClosePort();
  bool Connected() const { return connected_; }
  HANDLE Handle() const { return handle_; }
  std::string DeviceName() const;

  void ApplySettings();
  int WriteData(const std::string& data);
  int ReadData(std::string& data, int count);
  bool WaitForEvent();
  void PurgeInput();
  void PurgeOutput();
  void PurgeAll();
  void RaiseDTR();
  void LowerRTS();
  void ClearLineErrors();
  int InputCount();

  // Published properties.
  TBaudRate BaudRate = br9600;
  std::uint8_t Port = 1;
  TParity Parity = prNone;
  TStopBits StopBits = sbOneStopBit;
  TFlowControl FlowControl = fcNone;
  std::uint8_t GetDataBits() const { return dataBits_; }
  void StoreDataBits(std::uint8_t value);
  TEvents Events{evRxChar, evTxEmpty, evRxFlag, evRing, evBreak, evCTS, evDSR, evError, evRLSD};
  bool EnableDTR = true;
  int WriteBufSize = 2048;
  int ReadBufSize = 2048;
  TRxCharEvent OnRxChar;
  TNotifyEvent OnTxEmpty, OnBreak, OnRing, OnCTS, OnDSR, OnRLSD, OnRxFlag, OnError, OnOpen, OnClose;
  bool GetDTR() const { return dtr_; }
  void StoreDTR(bool value);
  bool GetRTS() const { return rts_; }
  void StoreRTS(bool value);

  // The event thread while the port is open (null while closed).
  TComThread* EventThread() const { return thread_; }
  // How many line-event waits ran out their bound without a line event.
  int LineEventWaitsRunOut() const { return waitsRunOut_.load(); }

 protected:
  void CreateHandle();

 private:
  friend class TComThread;
  // Line events seen by the event thread: WaitForEvent waits for this signal
  // instead of a second WaitCommEvent on the handle (only one may be pending).
  TAutoResetEvent lineEvent_;
  // Line events seen by the event thread, and their count at the last write
  // (or at the last wait that took one): a line event after the mark is the
  // answer to that write, even when OnRxChar has read its bytes already.
  std::atomic<std::uint32_t> lineEvents_{0};
  std::atomic<std::uint32_t> answerMark_{0};
  std::atomic<int> waitsRunOut_{0};
  bool TakeLineEvent();
  // Set while the port closes: handlers of events that were already on their
  // way to the main thread are not run any more.
  std::atomic<bool> closing_{false};

  HANDLE handle_ = INVALID_HANDLE_VALUE;
  TComThread* thread_ = nullptr;
  bool connected_ = false;
  std::uint8_t dataBits_ = 8;
  bool dtr_ = false;
  bool rts_ = false;
};
