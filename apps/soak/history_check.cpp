#include "soak/history_check.h"

#include <cstdio>
#include <set>

#include "history/history_store.h"

namespace soak {

void CheckHistory(const std::string& path, pid_t pid, int started,
                  std::vector<std::string>& problems) {
  std::vector<history::DownloadRow> rows;
  try {
    history::HistoryStore store(path, history::StoreOptions{.mustExist = true});
    for (auto& row : store.Query(history::HistoryFilter{}))
      if (row.hostPid == pid) rows.push_back(std::move(row));
  } catch (const std::exception& e) {
    problems.push_back("history: " + path + ": " + e.what());
    return;
  }
  int complete = 0, numbered = 0;
  std::set<int64_t> downloads;  // the plug-in's numbers of the downloads
  std::set<std::string> uids;
  for (const auto& row : rows) {
    complete += row.ended ? 1 : 0;
    uids.insert(row.uid);
    if (row.download) {
      ++numbered;
      downloads.insert(*row.download);
    }
  }
  const int count = static_cast<int>(rows.size());
  const int twice = numbered - static_cast<int>(downloads.size());
  std::printf("soak: history: %d row(s) for %d download(s) started, %d complete, %d twice\n", count,
              started, complete, twice);
  if (count != started)
    problems.push_back("history: " + std::to_string(count) + " rows for " +
                       std::to_string(started) + " downloads started");
  if (complete != count)
    problems.push_back("history: " + std::to_string(count - complete) + " row(s) not complete");
  if (twice > 0 || static_cast<int>(uids.size()) != count)
    problems.push_back("history: " + std::to_string(twice) + " download(s) on record twice");
}

}  // namespace soak
