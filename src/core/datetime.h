// Date-time value with a validity status, stored as an automation date
// (days since 30 December 1899, fraction for the time of day).
#pragma once

namespace tarvion {

struct DateParts {
  int year = 1899, month = 12, day = 30, hour = 0, minute = 0, second = 0, millisecond = 0;
};

class DateTime {
 public:
  DateTime() = default;  // valid, zero (30/12/1899 00:00:00)
  explicit DateTime(double automationDate) : oa_(automationDate) {}
  static DateTime invalid();
  // Invalid when a field is out of range.
  static DateTime fromParts(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);
  static DateTime now();  // local time

  bool valid() const { return valid_; }
  double automationDate() const { return valid_ ? oa_ : 0.0; }
  // False when invalid or outside years 100..9999.
  bool parts(DateParts& out) const;

 private:
  double oa_ = 0.0;
  bool valid_ = true;
};

}  // namespace tarvion
