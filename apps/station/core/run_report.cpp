#include "run_report.h"

#include <cmath>
#include <nlohmann/json.hpp>

#include "base/printable_text.h"

namespace station {
namespace {

using Json = nlohmann::ordered_json;

template <typename T>
Json OrNull(const std::optional<T>& value) {
  return value ? Json(*value) : Json(nullptr);
}

// Text of a phone or a file, as valid UTF-8 (records read back hold it so already).
Json Text(const std::optional<std::string>& text) {
  return text ? Json(tr52::ValidUtf8Text(*text)) : Json(nullptr);
}

// Seconds to the millisecond; null for a value that is no number.
Json Seconds(double seconds) {
  return std::isfinite(seconds) ? Json(std::round(seconds * 1000) / 1000) : Json(nullptr);
}

Json ImagesJson(const std::optional<tr52::DownloadRecord>& record) {
  Json images = Json::array();
  if (!record) return images;
  for (const tr52::ImageWrite& image : record->facts.images)
    images.push_back({{"type", image.type},
                      {"name", image.name.empty() ? Json(nullptr) : Text(image.name)},
                      {"method", image.method},
                      {"address", OrNull(image.address)},
                      {"size", image.size},
                      {"md5", image.md5},
                      {"written", image.written}});
  return images;
}

Json PortJson(const PortReport& p) {
  const auto& record = p.record;
  const auto fact = [&record](auto pick) -> Json {
    return record ? OrNull(pick(*record)) : Json(nullptr);
  };
  const auto text = [&record](auto pick) -> Json {
    return record ? Text(pick(*record)) : Json(nullptr);
  };
  return {
      {"com", p.com},
      {"outcome", PortOutcomeName(p.outcome)},
      {"detail", p.detail},
      {"result", OrNull(p.result)},
      {"result_name", OrNull(p.resultName)},
      {"seconds", p.seconds ? Seconds(*p.seconds) : Json(nullptr)},
      {"model", text([](const auto& r) { return r.facts.model; })},
      {"flow", fact([](const auto& r) { return r.facts.flow; })},
      {"images", ImagesJson(record)},
      {"downloads", p.downloads},
      {"banner", text([](const auto& r) { return r.facts.banner; })},
      {"boot_modes", record ? Json(record->facts.bootModes) : Json(nullptr)},
      {"end_step", fact([](const auto& r) { return r.facts.endStep; })},
      {"port", text([](const auto& r) { return r.port; })},
      {"started", fact([](const auto& r) { return std::optional(r.started); })},
      {"ended", fact([](const auto& r) { return std::optional(r.ended); })},
  };
}

// The package the ports' last downloads name; none when none names one, or when they name
// different files (one station loads one package, so that would be a mix-up worth a null).
std::optional<tr52::LoadedPackage> RunPackage(const std::vector<PortReport>& ports) {
  std::optional<tr52::LoadedPackage> found;
  for (const PortReport& p : ports) {
    if (!p.record || !p.record->facts.package) continue;
    const tr52::LoadedPackage& package = *p.record->facts.package;
    if (!found)
      found = package;
    else if (found->path != package.path || found->md5 != package.md5)
      return std::nullopt;
  }
  return found;
}

Json PackageImagesJson(const std::optional<tr52::LoadedPackage>& package) {
  if (!package) return nullptr;
  Json images = Json::array();
  for (const tr52::LoadedImage& image : package->images)
    images.push_back({{"type", image.type},
                      {"name", Text(image.name)},
                      {"size", image.size},
                      {"md5", image.md5}});
  return images;
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

std::string RunReportJson(const RunReport& report) {
  int ok = 0, failed = 0, unfinished = 0;
  Json ports = Json::array();
  for (const auto& p : report.ports) {
    ok += p.outcome == PortOutcome::Ok;
    failed += p.outcome == PortOutcome::Failed;
    unfinished += p.outcome == PortOutcome::Unfinished;
    ports.push_back(PortJson(p));
  }
  const auto package = RunPackage(report.ports);
  const auto packageFact = [&package](auto pick) -> Json {
    return package ? Json(pick(*package)) : Json(nullptr);
  };
  const Json summary = {
      {"ports", report.ports.size()},
      {"ok", ok},
      {"failed", failed},
      {"unfinished", unfinished},
      {"wall_seconds", Seconds(report.wallSeconds)},
      {"timed_out", report.timedOut},
      {"interrupted", report.interrupted},
      {"package", package ? Text(package->path) : Json(nullptr)},
      {"log", tr52::ValidUtf8Text(report.log)},
      {"records", tr52::ValidUtf8Text(report.records)},
      {"package_size", packageFact([](const auto& p) { return p.size; })},
      {"package_md5", packageFact([](const auto& p) { return p.md5; })},
      {"package_images", PackageImagesJson(package)},
  };
  const Json run = {{"ports", std::move(ports)}, {"summary", summary}};
  // The record's texts are valid UTF-8 (read from JSON); replacing stays as a guard, so that
  // writing the report can never throw.
  return run.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

}  // namespace station
