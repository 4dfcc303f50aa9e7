#include "PhoneFindWin.h"

#include "PhoneFind.h"
#include "PumpingWait.h"

namespace {

// A thread that ends without a last synchronous call is noticed this late at most.
constexpr std::uint32_t kLookAgainMs = 100;

}  // namespace

void PumpingFinderWait(const std::function<bool()>& done) {
  while (!done()) PumpingWaitUntil(kLookAgainMs, done);
}

void UseWinFinderWait() {
  SetFinderMainWait(&PumpingFinderWait);
}
