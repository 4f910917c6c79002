#include "session/download_record.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <nlohmann/json.hpp>
#include <utility>

#include "base/printable_text.h"

namespace tr52 {

namespace {

using Json = nlohmann::ordered_json;

Json Text(std::string_view text) {
  return ValidUtf8Text(text);
}

template <typename T>
Json OrNull(const std::optional<T>& value) {
  return value ? Json(*value) : Json(nullptr);
}

Json TextOrNull(const std::optional<std::string>& text) {
  return text ? Text(*text) : Json(nullptr);
}

Json ImageJson(const ImageWrite& image) {
  return {{"type", image.type},
          {"name", image.name.empty() ? Json(nullptr) : Text(image.name)},
          {"address", OrNull(image.address)},
          {"method", image.method},
          {"size", image.size},
          {"md5", image.md5},
          {"written", image.written}};
}

Json PackageJson(const LoadedPackage& package) {
  Json images = Json::array();
  for (const LoadedImage& image : package.images)
    images.push_back({{"type", image.type},
                      {"name", Text(image.name)},
                      {"size", image.size},
                      {"md5", image.md5}});
  return {{"path", Text(package.path)},
          {"size", package.size},
          {"md5", package.md5},
          {"images", std::move(images)}};
}

// Readers of one field. A field missing or of the wrong type throws (a json::exception or
// NotARecord), which rejects the record.
struct NotARecord {};

// A whole number that fits T (no fraction, no value out of T's range).
template <typename T>
T Whole(const nlohmann::json& j) {
  if (j.is_number_unsigned()) {
    if (const auto v = j.get<uint64_t>(); std::in_range<T>(v)) return static_cast<T>(v);
  } else if (j.is_number_integer()) {
    if (const auto v = j.get<int64_t>(); std::in_range<T>(v)) return static_cast<T>(v);
  }
  throw NotARecord{};
}

template <typename T>
T WholeAt(const nlohmann::json& j, const char* key) {
  return Whole<T>(j.at(key));
}

std::string TextAt(const nlohmann::json& j, const char* key) {
  return j.at(key).get<std::string>();
}

std::optional<std::string> OptionalText(const nlohmann::json& j, const char* key) {
  const auto it = j.find(key);
  if (it == j.end() || it->is_null()) return std::nullopt;
  return it->get<std::string>();
}

template <typename T>
std::optional<T> OptionalWhole(const nlohmann::json& j, const char* key) {
  const auto it = j.find(key);
  if (it == j.end() || it->is_null()) return std::nullopt;
  return Whole<T>(*it);
}

ImageWrite ImageFrom(const nlohmann::json& j) {
  ImageWrite image;
  image.type = TextAt(j, "type");
  image.name = OptionalText(j, "name").value_or("");
  image.address = OptionalWhole<uint32_t>(j, "address");
  image.method = TextAt(j, "method");
  image.size = WholeAt<uint64_t>(j, "size");
  image.md5 = TextAt(j, "md5");
  image.written = j.at("written").get<bool>();
  return image;
}

LoadedPackage PackageFrom(const nlohmann::json& j) {
  LoadedPackage package;
  package.path = TextAt(j, "path");
  package.size = WholeAt<uint64_t>(j, "size");
  package.md5 = TextAt(j, "md5");
  for (const auto& image : j.at("images"))
    package.images.push_back({TextAt(image, "type"), TextAt(image, "name"),
                              WholeAt<uint64_t>(image, "size"), TextAt(image, "md5")});
  return package;
}

}  // namespace

std::string UtcTimestamp(std::chrono::system_clock::time_point when) {
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count();
  const time_t seconds = static_cast<time_t>(ms / 1000);
  struct tm tm {};
  gmtime_r(&seconds, &tm);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900,
                tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                static_cast<int>(ms % 1000));
  return text;
}

std::string RecordPathFor(const std::string& logPath) {
  constexpr std::string_view kLogEnd = "_log.txt";
  constexpr std::string_view kRecordEnd = "_downloads.jsonl";
  if (logPath.size() >= kLogEnd.size() &&
      logPath.compare(logPath.size() - kLogEnd.size(), kLogEnd.size(), kLogEnd) == 0)
    return logPath.substr(0, logPath.size() - kLogEnd.size()) + std::string(kRecordEnd);
  const auto slash = logPath.rfind('/');
  const auto dot = logPath.rfind('.');
  const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  return (hasExtension ? logPath.substr(0, dot) : logPath) + std::string(kRecordEnd);
}

std::string DownloadRecordLine(const DownloadRecord& record) {
  const DownloadFacts& facts = record.facts;
  Json images = Json::array();
  for (const ImageWrite& image : facts.images) images.push_back(ImageJson(image));
  const Json line = {
      {"record", kDownloadRecordVersion},
      {"host_pid", record.hostPid},
      {"download", record.download},
      {"com", record.com},
      {"port", TextOrNull(record.port)},
      {"started", record.started},
      {"ended", record.ended},
      {"flow", OrNull(facts.flow)},
      {"boot_modes", facts.bootModes},
      {"model", TextOrNull(facts.model)},
      {"banner", TextOrNull(facts.banner)},
      {"images", std::move(images)},
      {"package", facts.package ? PackageJson(*facts.package) : Json(nullptr)},
      {"result", record.result},
      {"result_name", record.resultName},
      {"end_step", OrNull(facts.endStep)},
  };
  // Every text went through ValidUtf8Text; replacing stays as a guard, so that writing a record
  // can never throw.
  return line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

std::optional<DownloadRecord> ParseDownloadRecord(std::string_view line) {
  const nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
  if (!j.is_object()) return std::nullopt;
  try {
    if (WholeAt<int>(j, "record") != kDownloadRecordVersion) return std::nullopt;
    DownloadRecord record;
    record.hostPid = WholeAt<unsigned>(j, "host_pid");
    record.download = WholeAt<uint64_t>(j, "download");
    record.com = WholeAt<int>(j, "com");
    record.port = OptionalText(j, "port");
    record.started = TextAt(j, "started");
    record.ended = TextAt(j, "ended");
    record.result = WholeAt<int>(j, "result");
    record.resultName = TextAt(j, "result_name");
    DownloadFacts& facts = record.facts;
    facts.flow = OptionalWhole<int>(j, "flow");
    for (const auto& mode : j.at("boot_modes")) facts.bootModes.push_back(Whole<int>(mode));
    facts.model = OptionalText(j, "model");
    facts.banner = OptionalText(j, "banner");
    for (const auto& image : j.at("images")) facts.images.push_back(ImageFrom(image));
    if (const auto it = j.find("package"); it != j.end() && !it->is_null())
      facts.package = PackageFrom(*it);
    facts.endStep = OptionalText(j, "end_step");
    return record;
  } catch (const nlohmann::json::exception&) {
    return std::nullopt;
  } catch (const NotARecord&) {
    return std::nullopt;
  }
}

bool AppendDownloadRecord(const std::string& path, const DownloadRecord& record,
                          std::string& error) {
  const std::string line = DownloadRecordLine(record);
  // Never through a link, never into a FIFO or a device.
  const int fd = ::open(path.c_str(),
                        O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
  if (fd < 0) {
    error = std::strerror(errno);
    return false;
  }
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  if (!ok) error = "not a regular file";
  ssize_t n = -1;
  while (ok && (n = ::write(fd, line.data(), line.size())) < 0 && errno == EINTR) {
  }
  if (ok && n != static_cast<ssize_t>(line.size())) {
    error = n < 0 ? std::strerror(errno) : "the disk took only part of it";
    // A part of a line must not swallow the next record: end it (readers skip it).
    if (n > 0) (void)!::write(fd, "\n", 1);
    ok = false;
  }
  // The record outlives a crash of the host that follows the download.
  if (ok && ::fdatasync(fd) != 0 && errno != EINVAL) {
    error = std::strerror(errno);
    ok = false;
  }
  ::close(fd);
  return ok;
}

}  // namespace tr52
