// The framework's exception classes. Every framework error is an Exception
// (which is also a std::exception, so generic handlers see the message);
// EAbort is the silent one that exception displays ignore.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <vector>

class Exception : public std::exception {
 public:
  Exception() = default;
  explicit Exception(std::string message, int helpContext = 0)
      : Message(std::move(message)), HelpContext(helpContext) {}

  std::string Message;
  int HelpContext = 0;

  const char* what() const noexcept override { return Message.c_str(); }
  // The exception's class name, as exception reports show it.
  virtual const char* ClassName() const { return "Exception"; }
  // The names of the exception's class and its ancestors, own class first
  // (filters match an exception by any of them).
  virtual std::vector<std::string> ClassNameChain() const { return {"Exception"}; }
};

// The name members of an exception class derived from Base (in the class body).
#define FW_EXCEPTION_NAMES(Cls, Base)                        \
  const char* ClassName() const override {                   \
    return #Cls;                                             \
  }                                                          \
  std::vector<std::string> ClassNameChain() const override { \
    std::vector<std::string> names = Base::ClassNameChain(); \
    names.insert(names.begin(), #Cls);                       \
    return names;                                            \
  }

// Declares an exception class that takes its base's constructors.
#define FW_EXCEPTION(Cls, Base)   \
  class Cls : public Base {       \
   public:                        \
    using Base::Base;             \
    FW_EXCEPTION_NAMES(Cls, Base) \
  }

FW_EXCEPTION(EAbort, Exception);
FW_EXCEPTION(EConvertError, Exception);
FW_EXCEPTION(EInvalidCast, Exception);
FW_EXCEPTION(EInvalidOperation, Exception);
FW_EXCEPTION(EOutOfResources, Exception);
FW_EXCEPTION(EOutOfMemory, Exception);
FW_EXCEPTION(EAssertionFailed, Exception);
FW_EXCEPTION(EExternalException, Exception);
FW_EXCEPTION(EIntError, Exception);
FW_EXCEPTION(ERangeError, EIntError);
FW_EXCEPTION(EListError, Exception);
FW_EXCEPTION(EStringListError, Exception);
FW_EXCEPTION(EComponentError, Exception);
FW_EXCEPTION(EPropertyError, Exception);
FW_EXCEPTION(EStreamError, Exception);
FW_EXCEPTION(EFCreateError, EStreamError);
FW_EXCEPTION(EFOpenError, EStreamError);
FW_EXCEPTION(EFilerError, EStreamError);
FW_EXCEPTION(EReadError, EFilerError);
FW_EXCEPTION(EWriteError, EFilerError);
FW_EXCEPTION(EClassNotFound, EFilerError);
FW_EXCEPTION(EMethodNotFound, EFilerError);
FW_EXCEPTION(EInvalidImage, EFilerError);
FW_EXCEPTION(EParserError, Exception);
FW_EXCEPTION(EResNotFound, Exception);
FW_EXCEPTION(ERegistryException, Exception);
FW_EXCEPTION(EThread, Exception);
FW_EXCEPTION(EInvalidGraphic, Exception);
FW_EXCEPTION(EInvalidGraphicOperation, Exception);

// An operating-system fault (an access violation, a stack overflow, ...)
// carried as an exception, with the fault's record.
struct TExternalExceptionRecord {
  std::uint32_t ExceptionCode = 0;
  std::uint32_t ExceptionFlags = 0;
  std::uint64_t ExceptionAddress = 0;
  std::vector<std::uint64_t> Parameters;
};
class EExternal : public Exception {
 public:
  using Exception::Exception;
  EExternal(std::string message, TExternalExceptionRecord record)
      : Exception(std::move(message)), ExceptionRecord(std::move(record)) {}
  TExternalExceptionRecord ExceptionRecord;
  FW_EXCEPTION_NAMES(EExternal, Exception)
};
FW_EXCEPTION(EAccessViolation, EExternal);
FW_EXCEPTION(EStackOverflow, EExternal);

// An operating-system error with its error code.
class EOSError : public Exception {
 public:
  using Exception::Exception;
  EOSError(std::string message, unsigned errorCode) : Exception(std::move(message)), ErrorCode(errorCode) {}
  unsigned ErrorCode = 0;
  FW_EXCEPTION_NAMES(EOSError, Exception)
};

// A run-time I/O error with its error code.
class EInOutError : public Exception {
 public:
  using Exception::Exception;
  EInOutError(std::string message, int errorCode) : Exception(std::move(message)), ErrorCode(errorCode) {}
  int ErrorCode = 0;
  FW_EXCEPTION_NAMES(EInOutError, Exception)
};

// Ends the current operation silently (raises EAbort "Operation aborted").
[[noreturn]] void Abort();
// Raises EAssertionFailed "<message> (<file>, line <line>)" when `condition` is false.
void Assert(bool condition, const std::string& message, const char* file, int line);
#define FW_ASSERT(cond, msg) Assert((cond), (msg), __FILE__, __LINE__)
