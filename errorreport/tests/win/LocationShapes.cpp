#include "LocationProbe.h"

namespace shapes {

int Circle::Area() const {
  ReportCaller("Circle::Area");
  return radius_ * radius_ * 3;
}

int Circle::Grow(int by) {
  radius_ += by;
  ReportCaller("Circle::Grow");
  return Area();
}

int Square::Area() const {
  int area = 0;
  for (int i = 0; i < side; ++i) area += side;
  ReportCaller("Square::Area");
  return area;
}

}  // namespace shapes
