#include "MaxMin.h"

int IntMax(int a, int b) {
  return a > b ? a : b;
}

int IntMin(int a, int b) {
  return a < b ? a : b;
}
