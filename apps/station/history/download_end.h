// How a download ended, as the station knows it: the code of its result message, and the
// plug-in's record of it when one was written (the record tells the phone, the images, the
// package and where it stopped, and its code wins).
#pragma once

#include <optional>
#include <string>

#include "download_row.h"
#include "session/download_record.h"

namespace history {

struct DownloadEnd {
  std::optional<int> result;  // none: the download gave no code
  // Said instead of a code's name when there is no code ("no progress pane").
  std::string whyNoResult;
  double seconds = 0;
  std::optional<tr52::DownloadRecord> record;
};

// Fills the end fields of `row` (version 2), the end time being now.
void CompleteRow(DownloadRow& row, const DownloadEnd& end);

// The images a record lists, as the row's JSON array.
std::string ImagesJson(const tr52::DownloadRecord& record);

}  // namespace history
