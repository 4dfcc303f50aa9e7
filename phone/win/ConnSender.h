// The link layer between the phone object and one physical link: sets the link
// up for a link method, frames outgoing phone messages, cuts incoming serial
// bytes into frames, acknowledges FBUS frames, answers the phone's 0xD9
// requests by itself, hands every other frame to the phone and can log every
// frame in hex.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "CommP.h"
#include "Debug.h"
#include "KernelHandles.h"
#include "LinkFrames.h"
#include "Object.h"
#include "PhoneLink.h"

class TConnectionSender;
class TIrReaderLink;
using TFrameEvent = Method<void(std::uint8_t msgType, const std::string& frame)>;
using TLinkClosedEvent = Method<void(TConnectionSender* sender)>;

class TConnectionSender : public TObject {
  FW_CLASS(TConnectionSender, TObject)
 public:
  // Sets the link up. `linkHandle` is the socket or DKU-2 handle (methods 2
  // and 5), `comNumber` the serial port (methods 0, 1, 3). `failureCode` is 0
  // when the link came up; otherwise 10 (the AT switch wrote nothing), 11 (port
  // in use), 12 (no such port), 13 (error 4 on methods 0 and 3) or 20.
  TConnectionSender(std::uint8_t linkMethod, TFrameEvent onFrame, const std::string& inLogName,
                    const std::string& outLogName, std::intptr_t linkHandle, std::uint8_t comNumber,
                    std::uint16_t& failureCode);
  void Destroy() override;

  // Sends one phone message (FBUS: in sequenced blocks of at most 120 bytes).
  // Errors are swallowed; the result is always true.
  bool SendPhoneMessage(std::uint8_t msgType, const std::string& payload);
  // Builds and writes one frame of `block` (an FBUS block or a PhoNet payload).
  void SendFrame(std::uint8_t msgType, const std::string& block);

  // The serial frame still being assembled, and emptying it (any thread).
  std::string GetReceived();
  void ClearReceived();

  // The serial port's OnRxChar handler (main thread).
  void ReceiveChars(TObject* sender, int inQue);
  // The reader thread's OnTerminate handler (link methods 2 and 5), on the main thread.
  void ReaderTerminated(TObject* sender);
  // The reader thread's frame handler (link methods 2 and 5), on the main thread.
  void ReaderFrame(std::uint8_t msgType, const std::string& frame);
  // True while the reader thread of link methods 2 and 5 runs.
  bool ReaderRunning() const { return readerRunning_.load(); }

  // True while a frame is being written.
  bool Sending() const { return sendOwner_.load() != 0; }
  std::uint8_t LinkMethod() const { return linkMethod_; }
  TCustComPort* ComPort() const { return port_; }

  TFrameEvent OnFrame;
  TLinkClosedEvent OnLinkClosed;

 private:
  std::uint16_t SetUpSerial(std::uint8_t comNumber);
  std::uint16_t StartReader(std::intptr_t linkHandle);
  void SwitchToFbus();
  // Writes the preamble (if any) and the frame back to back under the send
  // lock, waiting for it with messages handled; then logs the frame.
  void WriteWireFrame(const TWireFrame& wire);
  void AcquireSendLock();
  void ReleaseSendLock();
  void HandleFrame(const std::string& frame);
  void LogFrame(TLinkLogDirection direction, const std::string& frame);

  std::uint8_t linkMethod_;
  TCustComPort* port_ = nullptr;
  // Link methods 2 and 5: what this sender shares with its reader thread.
  std::shared_ptr<TIrReaderLink> reader_;
  std::atomic<bool> readerRunning_{false};
  TFrameEncoder encoder_;
  std::mutex encoderLock_;
  // The send lock: the id of the thread writing a frame (0: free), and an
  // event set whenever it is released.
  std::atomic<DWORD> sendOwner_{0};
  TAutoResetEvent sendFree_;
  // Received bytes: the cutter is shared with the thread that reads or clears
  // the frame being assembled; complete frames are handled on the main thread
  // in arrival order, also when a handler's wait lets more bytes in.
  std::mutex receiveLock_;
  TFrameCutter cutter_;
  std::deque<std::string> framesToHandle_;
  bool handlingFrames_ = false;
  // Cleared when the sender is being freed; handlers still on the stack check it.
  std::shared_ptr<std::atomic<bool>> alive_;
  std::string inLogName_, outLogName_;
  bool inLogEnabled_ = false, outLogEnabled_ = false;
};

// The phone engine's link over a link sender: what the Windows phone platform
// hands out for each connect attempt.
class TSenderPhoneLink : public TPhoneLink {
 public:
  TSenderPhoneLink(const TPhoneLinkParams& params, std::uint16_t& failureCode);
  ~TSenderPhoneLink() override;
  TSenderPhoneLink(const TSenderPhoneLink&) = delete;
  TSenderPhoneLink& operator=(const TSenderPhoneLink&) = delete;

  void SendPhoneMessage(std::uint8_t msgType, const std::string& payload) override;
  bool Sending() const override;
  void ClearReceived() override;
  TConnectionSender* Sender() const { return sender_; }

 private:
  void LinkClosed(TConnectionSender* sender);

  TPhoneLinkClosedEvent onLinkClosed_;
  TConnectionSender* sender_ = nullptr;
};
