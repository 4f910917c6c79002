#include "run_report.h"

#include <cmath>
#include <cstdio>

namespace station {
namespace {

// Length of the valid UTF-8 sequence at `i`, 0 when the bytes there are not one.
size_t Utf8Length(std::string_view s, size_t i) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char c = byte(i);
  size_t n = 0;
  uint32_t cp = 0;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
    cp = c & 0x1F;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    cp = c & 0x0F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    cp = c & 0x07;
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  for (size_t k = 1; k < n; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (byte(i + k) & 0x3F);
  }
  // Overlong forms, surrogates and values past U+10FFFF are not valid.
  if ((n == 3 && cp < 0x800) || (n == 4 && cp < 0x10000) || cp > 0x10FFFF ||
      (cp >= 0xD800 && cp <= 0xDFFF))
    return 0;
  return n;
}

std::string Number(double v) {
  if (!std::isfinite(v)) return "null";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.3f", v);
  return buf;
}

template <typename T, typename F>
std::string OrNull(const std::optional<T>& v, F format) {
  return v ? format(*v) : "null";
}

std::string Int(long long v) {
  return std::to_string(v);
}

std::string Bool(bool v) {
  return v ? "true" : "false";
}

std::string ImageJson(const ImageReport& image) {
  return "{\"type\": " + JsonString(image.type) + ", \"method\": " + JsonString(image.method) +
         ", \"size\": " + OrNull(image.size, [](uint64_t v) { return std::to_string(v); }) +
         ", \"written\": " + OrNull(image.written, Bool) + "}";
}

std::string PortJson(const PortReport& p) {
  std::string images;
  for (const auto& image : p.images)
    images += (images.empty() ? "\n        " : ",\n        ") + ImageJson(image);
  if (!images.empty()) images += "\n      ";
  return std::string("    {\n") + "      \"com\": " + Int(p.com) + ",\n" +
         "      \"outcome\": " + JsonString(PortOutcomeName(p.outcome)) + ",\n" +
         "      \"detail\": " + JsonString(p.detail) + ",\n" +
         "      \"result\": " + OrNull(p.result, [](int v) { return Int(v); }) + ",\n" +
         "      \"result_name\": " + OrNull(p.resultName, JsonString) + ",\n" +
         "      \"seconds\": " + OrNull(p.seconds, Number) + ",\n" +
         "      \"model\": " + OrNull(p.model, JsonString) + ",\n" +
         "      \"flow\": " + OrNull(p.flow, [](int v) { return Int(v); }) + ",\n" +
         "      \"images\": [" + images + "],\n" + "      \"downloads\": " + Int(p.downloads) +
         "\n    }";
}

}  // namespace

const char* PortOutcomeName(PortOutcome outcome) {
  switch (outcome) {
    case PortOutcome::Ok:
      return "ok";
    case PortOutcome::Failed:
      return "failed";
    case PortOutcome::Unfinished:
      return "unfinished";
  }
  return "unfinished";
}

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20 || c == 0x7F) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else if (c >= 0x80) {
      const size_t n = Utf8Length(text, i);
      if (n == 0) {
        out += "\\ufffd";
        ++i;
        continue;
      }
      out.append(text.substr(i, n));
      i += n;
      continue;
    } else {
      out += static_cast<char>(c);
    }
    ++i;
  }
  return out + "\"";
}

std::string RunReportJson(const RunReport& report) {
  int ok = 0, failed = 0, unfinished = 0;
  std::string ports;
  for (const auto& p : report.ports) {
    ok += p.outcome == PortOutcome::Ok;
    failed += p.outcome == PortOutcome::Failed;
    unfinished += p.outcome == PortOutcome::Unfinished;
    ports += (ports.empty() ? "\n" : ",\n") + PortJson(p);
  }
  if (!ports.empty()) ports += "\n  ";
  return std::string("{\n") + "  \"ports\": [" + ports + "],\n" + "  \"summary\": {\n" +
         "    \"ports\": " + Int(static_cast<long long>(report.ports.size())) + ",\n" +
         "    \"ok\": " + Int(ok) + ",\n" + "    \"failed\": " + Int(failed) + ",\n" +
         "    \"unfinished\": " + Int(unfinished) + ",\n" +
         "    \"wall_seconds\": " + Number(report.wallSeconds) + ",\n" +
         "    \"timed_out\": " + Bool(report.timedOut) + ",\n" +
         "    \"interrupted\": " + Bool(report.interrupted) + ",\n" +
         "    \"package\": " + OrNull(report.package, JsonString) + ",\n" +
         "    \"log\": " + JsonString(report.log) + "\n  }\n}\n";
}

}  // namespace station
