// Feeds arbitrary frames to the reply decoder and the reply-field readers of
// every phone family: nothing may read past the frame, and what comes back is
// taken from the frame.
#include "NokiaUtils.h"
#include "PhoneFamilies.h"
#include "PhoneMessages.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

const TReplyContext kContexts[] = {
    {"NSE-3", 6110}, {"NHM-5NX", 3310}, {"NSE-5", 7110}, {"NPE-4", 6310}, {"NPW-2", 6360},
    {"RHV-3", 9998}, {"RH-21", 3520},   {"NHM-7", 8310}, {"", 0},         {"RM-233", 8800},
};

bool IsSuffix(const std::string& tail, const std::string& frame) {
  return tail.size() <= frame.size() && frame.compare(frame.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::uint8_t msgType = data[0];
  const std::string frame(reinterpret_cast<const char*>(data + 1), size - 1);

  for (const TReplyContext& context : kContexts) {
    const TDecodedReply d = DecodeReply(msgType, frame, context);
    if (d.rawIdentity) Check(IsSuffix(*d.rawIdentity, frame));
    if (d.signal) Check(*d.signal >= 0);
    for (const auto& o : d.outcomes) Check(!o.key.empty());
    (void)Battery8310Value(frame, context.productCode);
  }

  Check(ImeiFromReply(TIdentityRequest::ir5110, frame).size() <= 15);
  Check(ImeiFromReply(TIdentityRequest::ir7110, frame).size() <= 15);
  Check(ImeiFromReply(TIdentityRequest::ir8310, frame).size() <= 15);
  Check(ImeiFromReply(TIdentityRequest::ir6360, frame).size() <= 11);
  Check(HwVersionFromReply(false, frame).size() <= 4);
  Check(HwVersionFromReply(true, frame).size() <= 4);
  for (int family = 1; family <= 4; ++family) (void)DateTimeFromReply(family, frame);
  (void)AlarmFromReply(frame);
  (void)AlarmStateFromReply(frame);
  (void)AlarmTimeFromReply4(frame);

  // The model read: the product code of the reply, normalised and looked up.
  const TSysGetReply sys = ParseSysGetReply(frame);
  Check(sys.swVersion.size() + sys.date.size() + sys.productCode.size() <= frame.size());
  const std::string code = NormalizeProductCode(sys.productCode);
  const int n = ParseModelNumber(ModelNameFromCode(code, 0));
  const int family = PhoneFamily(-1, n, code);
  Check(family >= -1 && family <= 4);
  (void)IdentityRequestFor(code, family, n);
  (void)StatusRequests(family, n);
  (void)BatteryFactor(code);
  return 0;
}
