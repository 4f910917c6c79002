#include "port_history_board.h"

namespace station {

void PortHistoryBoard::Set(const std::string& port, std::string label) {
  std::lock_guard<std::mutex> lock(mutex_);
  labels_[port] = std::move(label);
}

std::string PortHistoryBoard::Label(const std::string& port) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = labels_.find(port);
  return it == labels_.end() ? std::string() : it->second;
}

}  // namespace station
