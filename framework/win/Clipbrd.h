// The system clipboard as one object: opened and closed in nested pairs,
// its formats asked for and its handles read and written.
#pragma once

#include <windows.h>

#include <cstdint>

#include "Persistent.h"

class TClipboard : public TPersistent {
  FW_CLASS(TClipboard, TPersistent)
 public:
  // Opens the clipboard for a hidden window of its own; calls nest, the last
  // Close closes it. Raises EOSError when another program holds it.
  void Open();
  void Close();
  // Empties the clipboard (opening it around the call when needed).
  void Clear();
  bool HasFormat(std::uint32_t format) const;
  // The handle of `format` (null when absent); the clipboard still owns it.
  HANDLE GetAsHandle(std::uint32_t format);
  // Hands `data` to the clipboard, which owns it from then on. When this
  // fails the handle stays the caller's and EOSError is raised.
  void SetAsHandle(std::uint32_t format, HANDLE data);
  // A registered format's number ("GIF Image"); 0 when the system refuses it.
  static std::uint32_t RegisterFormat(const char* name);

 private:
  void Adding();  // empties the clipboard once per opening, before the first new handle
  int openCount_ = 0;
  bool emptied_ = false;
  HWND window_ = nullptr;
};

// The process's clipboard object.
TClipboard* Clipboard();
