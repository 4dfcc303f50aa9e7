// The location probe: functions in three source files, free and member
// functions, each naming the place it was called from.
#pragma once

namespace shapes {
class Circle {
 public:
  explicit Circle(int radius) : radius_(radius) {}
  int Area() const;
  int Grow(int by);

 private:
  int radius_;
};
struct Square {
  int side = 2;
  int Area() const;
};
}  // namespace shapes

namespace mathx {
int Scale(int value, int factor);
int SumTo(int n);
int Twice(int value);
}  // namespace mathx

// Prints the location of its caller's return address (`tag` names the caller).
void ReportCaller(const char* tag);
