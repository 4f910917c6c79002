#include "time_text.h"

#include <chrono>
#include <cstdio>
#include <ctime>

#include "session/download_record.h"

namespace history {
namespace {

struct Fields {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millis = 0;
};

bool Digits(const std::string& text, size_t at, size_t count, int& out) {
  if (at + count > text.size()) return false;
  int value = 0;
  for (size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + (text[i] - '0');
  }
  out = value;
  return true;
}

// "YYYY-MM-DD", then optionally " HH:MM", ":SS", ".mmm" (a "T" may stand for the blank);
// `rest` is what follows.
std::optional<Fields> ParseFields(const std::string& text, bool& hasTime, std::string& rest) {
  Fields f;
  if (!Digits(text, 0, 4, f.year) || text.size() < 10 || text[4] != '-' ||
      !Digits(text, 5, 2, f.month) || text[7] != '-' || !Digits(text, 8, 2, f.day))
    return std::nullopt;
  size_t at = 10;
  hasTime = at < text.size() && (text[at] == ' ' || text[at] == 'T');
  if (hasTime) {
    if (!Digits(text, at + 1, 2, f.hour) || text.size() < at + 6 || text[at + 3] != ':' ||
        !Digits(text, at + 4, 2, f.minute))
      return std::nullopt;
    at += 6;
    if (at < text.size() && text[at] == ':') {
      if (!Digits(text, at + 1, 2, f.second)) return std::nullopt;
      at += 3;
      if (at < text.size() && text[at] == '.') {
        if (!Digits(text, at + 1, 3, f.millis)) return std::nullopt;
        at += 4;
      }
    }
  }
  rest = text.substr(at);
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (f.month < 1 || f.month > 12 || f.day < 1 || f.hour > 23 || f.minute > 59 || f.second > 59)
    return std::nullopt;
  const bool leap = (f.year % 4 == 0 && f.year % 100 != 0) || f.year % 400 == 0;
  if (f.day > kDays[f.month - 1] + (f.month == 2 && leap ? 1 : 0)) return std::nullopt;
  return f;
}

std::tm TmOf(const Fields& f) {
  std::tm t{};
  t.tm_year = f.year - 1900;
  t.tm_mon = f.month - 1;
  t.tm_mday = f.day;
  t.tm_hour = f.hour;
  t.tm_min = f.minute;
  t.tm_sec = f.second;
  t.tm_isdst = -1;
  return t;
}

std::string UtcText(std::time_t when, int millis) {
  std::tm t{};
  gmtime_r(&when, &t);
  char buf[96];  // room for any int values, so nothing is ever cut
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", t.tm_year + 1900,
                t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, millis);
  return buf;
}

// The seconds since the epoch of a row's UTC time.
std::optional<std::time_t> EpochOfRow(const std::string& utc) {
  bool hasTime = false;
  std::string rest;
  const auto f = ParseFields(utc, hasTime, rest);
  if (!f || !hasTime || rest != "Z") return std::nullopt;
  std::tm t = TmOf(*f);
  return timegm(&t);
}

}  // namespace

std::string UtcNow() {
  return tr52::UtcTimestamp(std::chrono::system_clock::now());
}

std::string LocalTimeText(const std::string& utc) {
  const auto epoch = EpochOfRow(utc);
  if (!epoch) return utc;
  std::tm t{};
  localtime_r(&*epoch, &t);
  char buf[40];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &t);
  return buf;
}

std::string LocalDay(const std::string& utc) {
  return LocalTimeText(utc).substr(0, 10);
}

std::optional<std::string> UtcBound(const std::string& text, bool dayEnd) {
  bool hasTime = false;
  std::string rest;
  const auto f = ParseFields(text, hasTime, rest);
  if (!f || (rest != "" && rest != "Z") || (rest == "Z" && !hasTime)) return std::nullopt;
  std::tm t = TmOf(*f);
  if (!hasTime && dayEnd) ++t.tm_mday;  // mktime carries into the next month
  const std::time_t when = rest == "Z" ? timegm(&t) : std::mktime(&t);
  if (when == static_cast<std::time_t>(-1)) return std::nullopt;
  return UtcText(when, f->millis);
}

}  // namespace history
