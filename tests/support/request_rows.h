// Rows for tables over request builders and answer parsers: a built request against its golden
// bytes, a parse (put back into bytes) against the bytes expected.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tr52test {

using Bytes = std::vector<uint8_t>;

// `head` followed by zeros up to `length` bytes.
inline Bytes Padded(Bytes head, size_t length) {
  head.resize(length, 0);
  return head;
}

inline Bytes Joined(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

inline Bytes TextBytes(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

inline Bytes U16Bytes(uint16_t v) {
  return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)};
}

inline Bytes U32Bytes(uint32_t v) {
  return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 24)};
}

struct RequestRow {
  const char* what;
  Bytes built;
  Bytes golden;  // empty: the builder must refuse
};

inline void ExpectGolden(const std::vector<RequestRow>& rows) {
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(row.built.size(), row.golden.size());
    EXPECT_EQ(row.built, row.golden);
  }
}

// The fields a parser read, put back into bytes (nothing when it parsed nothing).
struct AnswerRow {
  const char* what;
  std::optional<Bytes> parsed;
  std::optional<Bytes> expected;
};

inline void ExpectParsed(const std::vector<AnswerRow>& rows) {
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(row.parsed, row.expected);
  }
}

template <class T, class F>
std::optional<Bytes> Put(const std::optional<T>& value, F&& fields) {
  if (!value) return std::nullopt;
  return fields(*value);
}

}  // namespace tr52test
