#include "download_end.h"

#include <nlohmann/json.hpp>

#include "session/result_codes.h"
#include "time_text.h"

namespace history {

std::string ImagesJson(const tr52::DownloadRecord& record) {
  nlohmann::json images = nlohmann::json::array();
  for (const auto& image : record.facts.images) {
    nlohmann::json item = {{"type", StoredText(image.type)},
                           {"name", nullptr},
                           {"address", nullptr},
                           {"method", StoredText(image.method)},
                           {"size", image.size},
                           {"md5", StoredText(image.md5)},
                           {"written", image.written}};
    if (!image.name.empty()) item["name"] = StoredText(image.name);
    if (image.address) item["address"] = *image.address;
    images.push_back(std::move(item));
  }
  return images.dump();
}

void CompleteRow(DownloadRow& row, const DownloadEnd& end) {
  row.ended = UtcNow();
  row.seconds = end.seconds;
  row.version = 2;
  if (end.result) {
    row.result = *end.result;
    row.resultName = tr52::ResultCodeName(*end.result);
  } else {
    row.result.reset();
    row.resultName = end.whyNoResult;
  }
  if (!end.record) return;
  const tr52::DownloadRecord& r = *end.record;
  auto text = [](const std::optional<std::string>& value) -> std::optional<std::string> {
    if (!value) return std::nullopt;
    return StoredText(*value);
  };
  // The plug-in's own account of the download is the more exact one.
  row.result = r.result;
  row.resultName = StoredText(r.resultName);
  row.device = text(r.port);
  row.model = text(r.facts.model);
  row.banner = text(r.facts.banner);
  if (r.facts.flow) row.flow = *r.facts.flow;
  if (r.facts.package) {
    row.packagePath = StoredText(r.facts.package->path);
    row.packageMd5 = StoredText(r.facts.package->md5);
  }
  row.images = ImagesJson(r);
  row.endStep = text(r.facts.endStep);
  row.download = static_cast<int64_t>(r.download);
}

}  // namespace history
