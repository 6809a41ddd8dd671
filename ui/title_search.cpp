// One search walk of the library, one match per call, on a worker thread.
#include "ui/title_search.h"

#include <chrono>

#include "database/mp3_db.h"

title_search::title_search(std::string words)
    : thread_([this, w = std::move(words)] { run(w); }) {}

title_search::~title_search() {
  stop();
  thread_.join();
}

void title_search::run(const std::string& words) {
  get_fileentriesbyname(words.c_str());
  while (!stop_) {
    const int32_t index = get_fileentriesbyname(nullptr);
    if (index < 0) break;
    std::lock_guard<std::mutex> lock(mutex_);
    matches_.push_back(static_cast<uint32_t>(index));
  }
  done_ = true;
}

bool title_search::wait(int ms) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!done_ && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  return done_;
}

std::vector<uint32_t> title_search::matches() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return matches_;
}

size_t title_search::count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return matches_.size();
}
