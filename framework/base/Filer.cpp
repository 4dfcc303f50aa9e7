#include "Filer.h"

FW_IMPLEMENT_CLASS(TFiler)

const char kFilerSignature[4] = {'T', 'P', 'F', '0'};

void DoubleToExtended(double value, std::uint8_t out[10]) {
  DoubleToExtended(value).ToBytes(out);
}

double ExtendedToDouble(const std::uint8_t in[10]) {
  return ExtendedToDouble(TExtended::FromBytes(in));
}
