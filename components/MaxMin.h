// The larger and the smaller of two integers.
#pragma once

// The first when it is greater, else the second.
int IntMax(int a, int b);
// The first when it is less, else the second.
int IntMin(int a, int b);
