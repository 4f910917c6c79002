#include "history_output.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "base/printable_text.h"
#include "time_text.h"

namespace history {
namespace {

std::string Cell(const std::optional<std::string>& value) {
  return value && !value->empty() ? tr52::PrintableText(*value) : "-";
}

std::string Seconds(const std::optional<double>& seconds) {
  if (!seconds) return "-";
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f", *seconds);
  return buf;
}

std::string Table(const std::vector<DownloadRow>& rows) {
  std::vector<std::vector<std::string>> cells = {
      {"STARTED", "STATION", "COM", "SERIAL", "MODEL", "RESULT", "SECONDS", "PACKAGE"}};
  for (const DownloadRow& r : rows)
    cells.push_back({LocalTimeText(r.started), Cell(r.station), "COM" + std::to_string(r.com),
                     Cell(r.usbSerial), Cell(r.model), tr52::PrintableText(ResultText(r)),
                     Seconds(r.seconds), r.packageMd5 ? r.packageMd5->substr(0, 8) : "-"});
  std::string text = AlignedTable(cells);
  if (rows.empty()) text += "(no downloads)\n";
  return text;
}

template <typename T>
std::string Number(const std::optional<T>& value) {
  return value ? std::to_string(*value) : "";
}

std::string Csv(const std::vector<DownloadRow>& rows) {
  std::string text =
      "uid,station,com,usb_position,usb_serial,device,model,banner,flow,package_path,package_md5,"
      "images,outcome,result,result_name,end_step,started,ended,seconds,host_pid,download\r\n";
  auto outside = [](const std::optional<std::string>& v) { return CsvField(v.value_or(""), true); };
  for (const DownloadRow& r : rows) {
    char seconds[32] = "";
    if (r.seconds) std::snprintf(seconds, sizeof seconds, "%.3f", *r.seconds);
    text += CsvField(r.uid, false) + "," + CsvField(r.station, true) + "," + std::to_string(r.com) +
            "," + outside(r.usbPosition) + "," + outside(r.usbSerial) + "," + outside(r.device) +
            "," + outside(r.model) + "," + outside(r.banner) + "," + Number(r.flow) + "," +
            outside(r.packagePath) + "," + outside(r.packageMd5) + "," + CsvField(r.images, false) +
            "," + OutcomeName(OutcomeOf(r)) + "," + Number(r.result) + "," + outside(r.resultName) +
            "," + outside(r.endStep) + "," + r.started + "," + r.ended.value_or("") + "," +
            seconds + "," + Number(r.hostPid) + "," + Number(r.download) + "\r\n";
  }
  return text;
}

nlohmann::json JsonOf(const DownloadRow& r) {
  auto opt = [](const auto& v) -> nlohmann::json {
    if (!v) return nullptr;
    return *v;
  };
  nlohmann::json images = nlohmann::json::parse(r.images, nullptr, false);
  if (images.is_discarded()) images = r.images;
  return {{"uid", r.uid},
          {"station", r.station},
          {"com", r.com},
          {"usb_position", opt(r.usbPosition)},
          {"usb_serial", opt(r.usbSerial)},
          {"device", opt(r.device)},
          {"model", opt(r.model)},
          {"banner", opt(r.banner)},
          {"flow", opt(r.flow)},
          {"package_path", opt(r.packagePath)},
          {"package_md5", opt(r.packageMd5)},
          {"images", images},
          {"outcome", OutcomeName(OutcomeOf(r))},
          {"result", opt(r.result)},
          {"result_name", opt(r.resultName)},
          {"end_step", opt(r.endStep)},
          {"started", r.started},
          {"ended", opt(r.ended)},
          {"seconds", opt(r.seconds)},
          {"host_pid", opt(r.hostPid)},
          {"download", opt(r.download)}};
}

}  // namespace

std::string ResultText(const DownloadRow& row) {
  switch (OutcomeOf(row)) {
    case Outcome::kOk:
      return "OK";
    case Outcome::kUnfinished:
      return "unfinished";
    case Outcome::kFailed:
      break;
  }
  if (!row.result) return "FAILED (" + row.resultName.value_or("no result") + ")";
  return "FAILED " + std::to_string(*row.result) + (row.resultName ? " " + *row.resultName : "");
}

std::string RowsText(const std::vector<DownloadRow>& rows, Format format) {
  switch (format) {
    case Format::kCsv:
      return Csv(rows);
    case Format::kJson: {
      nlohmann::json all = nlohmann::json::array();
      for (const DownloadRow& r : rows) all.push_back(JsonOf(r));
      // Stored text is valid UTF-8; anything else is replaced rather than failing the output.
      return all.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    }
    case Format::kTable:
      break;
  }
  return Table(rows);
}

std::string AlignedTable(const std::vector<std::vector<std::string>>& rows) {
  std::vector<size_t> width;
  // Widths in characters: UTF-8 continuation bytes take no column.
  auto columns = [](const std::string& s) {
    size_t n = 0;
    for (unsigned char c : s) n += (c & 0xC0) != 0x80;
    return n;
  };
  for (const auto& row : rows)
    for (size_t c = 0; c < row.size(); ++c) {
      if (width.size() <= c) width.push_back(0);
      width[c] = std::max(width[c], columns(row[c]));
    }
  std::string text;
  for (const auto& row : rows) {
    std::string line;
    for (size_t c = 0; c < row.size(); ++c) {
      line += row[c];
      if (c + 1 < row.size()) line += std::string(width[c] - columns(row[c]) + 2, ' ');
    }
    text += line + "\n";
  }
  return text;
}

std::string CsvField(const std::string& value, bool fromOutside) {
  // A phone's text moves no cursor when the file is shown on a terminal.
  std::string v = fromOutside ? tr52::PrintableText(value) : value;
  if (fromOutside && !v.empty() && (v[0] == '=' || v[0] == '+' || v[0] == '-' || v[0] == '@'))
    v.insert(v.begin(), '\'');
  if (v.find_first_of(",\"\r\n") == std::string::npos) return v;
  std::string quoted = "\"";
  for (char c : v) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

}  // namespace history
