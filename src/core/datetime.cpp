#include "core/datetime.h"

#include <cmath>

#include "platform/platform.h"

namespace tarvion {
namespace {

// Days between 1970-01-01 and the given civil date (proleptic Gregorian).
long long daysFromCivil(long long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

void civilFromDays(long long z, int& y, int& m, int& d) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yoe + era * 400 + (m <= 2));
}

const long long kEpoch = daysFromCivil(1899, 12, 30);

bool leap(int y) {
  return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}
int monthDays(int y, int m) {
  static const int k[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && leap(y) ? 29 : k[m - 1];
}

}  // namespace

DateTime DateTime::invalid() {
  DateTime d;
  d.valid_ = false;
  return d;
}

DateTime DateTime::fromParts(int year, int month, int day, int hour, int minute, int second) {
  if (year < 100 || year > 9999 || month < 1 || month > 12 || day < 1 || day > monthDays(year, month) || hour < 0 ||
      hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59)
    return invalid();
  double days = static_cast<double>(daysFromCivil(year, month, day) - kEpoch);
  double frac = (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
  // Before the epoch the fraction still counts forward from midnight of that day.
  return DateTime(days >= 0 ? days + frac : days - frac);
}

DateTime DateTime::now() {
  platform::LocalTime t = platform::localTime();
  return fromParts(t.year, t.month, t.day, t.hour, t.minute, t.second);
}

bool DateTime::parts(DateParts& out) const {
  if (!valid_ || !std::isfinite(oa_) || oa_ < -657434.0 || oa_ >= 2958466.0) return false;
  double whole = std::trunc(oa_);
  double frac = std::fabs(oa_ - whole);
  // Round to the millisecond so that 0.999999 of a second does not show as :59.
  long long ms = std::llround(frac * 86400000.0);
  long long day = static_cast<long long>(whole);
  if (ms >= 86400000LL) {
    ms -= 86400000LL;
    day += oa_ >= 0 ? 1 : -1;
  }
  civilFromDays(day + kEpoch, out.year, out.month, out.day);
  out.hour = static_cast<int>(ms / 3600000);
  out.minute = static_cast<int>(ms / 60000 % 60);
  out.second = static_cast<int>(ms / 1000 % 60);
  out.millisecond = static_cast<int>(ms % 1000);
  return true;
}

}  // namespace tarvion
