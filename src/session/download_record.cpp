#include "session/download_record.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <nlohmann/json.hpp>

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

// Readers of one field; a field of the wrong type throws, which rejects the record.
std::optional<std::string> OptionalText(const nlohmann::json& j, const char* key) {
  const auto it = j.find(key);
  if (it == j.end() || it->is_null()) return std::nullopt;
  return it->get<std::string>();
}

template <typename T>
std::optional<T> OptionalNumber(const nlohmann::json& j, const char* key) {
  const auto it = j.find(key);
  if (it == j.end() || it->is_null()) return std::nullopt;
  return it->get<T>();
}

ImageWrite ImageFrom(const nlohmann::json& j) {
  ImageWrite image;
  image.type = j.at("type").get<std::string>();
  image.name = OptionalText(j, "name").value_or("");
  image.address = OptionalNumber<uint32_t>(j, "address");
  image.method = j.at("method").get<std::string>();
  image.size = j.at("size").get<uint64_t>();
  image.md5 = j.at("md5").get<std::string>();
  image.written = j.at("written").get<bool>();
  return image;
}

LoadedPackage PackageFrom(const nlohmann::json& j) {
  LoadedPackage package;
  package.path = j.at("path").get<std::string>();
  package.size = j.at("size").get<uint64_t>();
  package.md5 = j.at("md5").get<std::string>();
  for (const auto& image : j.at("images"))
    package.images.push_back({image.at("type").get<std::string>(),
                              image.at("name").get<std::string>(), image.at("size").get<uint64_t>(),
                              image.at("md5").get<std::string>()});
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
    if (j.at("record").get<int>() != kDownloadRecordVersion) return std::nullopt;
    DownloadRecord record;
    record.hostPid = j.at("host_pid").get<unsigned>();
    record.download = j.at("download").get<uint64_t>();
    record.com = j.at("com").get<int>();
    record.port = OptionalText(j, "port");
    record.started = j.at("started").get<std::string>();
    record.ended = j.at("ended").get<std::string>();
    record.result = j.at("result").get<int>();
    record.resultName = j.at("result_name").get<std::string>();
    DownloadFacts& facts = record.facts;
    facts.flow = OptionalNumber<int>(j, "flow");
    facts.bootModes = j.at("boot_modes").get<std::vector<int>>();
    facts.model = OptionalText(j, "model");
    facts.banner = OptionalText(j, "banner");
    for (const auto& image : j.at("images")) facts.images.push_back(ImageFrom(image));
    if (const auto it = j.find("package"); it != j.end() && !it->is_null())
      facts.package = PackageFrom(*it);
    facts.endStep = OptionalText(j, "end_step");
    return record;
  } catch (const nlohmann::json::exception&) {
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
