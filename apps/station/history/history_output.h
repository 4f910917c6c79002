// The history's rows and summaries as people and programs read them: an aligned table (local
// times, phone text made safe for a terminal), CSV (RFC 4180, every column) or JSON.
#pragma once

#include <string>
#include <vector>

#include "download_row.h"

namespace history {

enum class Format { kTable, kCsv, kJson };

// "OK", "FAILED 1015 ZU3G_ERROR_NO_IMAGE", "FAILED (no progress pane)", "unfinished".
std::string ResultText(const DownloadRow& row);

std::string RowsText(const std::vector<DownloadRow>& rows, Format format);

// Rows of cells as columns two blanks apart, the first row being the heading.
std::string AlignedTable(const std::vector<std::vector<std::string>>& rows);
// One CSV field: quoted when it must be; text from a phone or a file that a spreadsheet would
// take for a formula ("=", "+", "-", "@" first) is given a leading "'".
std::string CsvField(const std::string& value, bool fromOutside);

}  // namespace history
