// Common base of the localization engine's exception classes.
#pragma once

#include <stdexcept>
#include <string>

class LocException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
