#include "LocationProbe.h"

namespace mathx {

int Scale(int value, int factor) {
  ReportCaller("mathx::Scale");
  return value * factor;
}

int SumTo(int n) {
  int sum = 0;
  for (int i = 1; i <= n; ++i) {
    if (i % 3 == 0)
      sum += Twice(i);
    else
      sum += i;
  }
  ReportCaller("mathx::SumTo");
  return sum;
}

int Twice(int value) {
  return Scale(value, 2);
}

}  // namespace mathx
