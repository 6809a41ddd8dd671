// The library's title search (get_fileentriesbyname) run on a thread of its own, so that the
// window stays alive while it opens every file of a large database for its title. While it
// runs, nothing may change the file table: the dialog refuses such commands meanwhile.
#ifndef VARNELO_UI_TITLE_SEARCH_H_
#define VARNELO_UI_TITLE_SEARCH_H_

#include <stdint.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class title_search {
 public:
  // Starts a search for words (the search string as typed).
  explicit title_search(std::string words);
  // Stops the search and waits for it.
  ~title_search();
  title_search(const title_search&) = delete;
  title_search& operator=(const title_search&) = delete;

  // Asks the search to end once the library returns its next match (or the end of the table).
  void stop() { stop_ = true; }
  bool done() const { return done_; }
  // Waits at most ms milliseconds for the search to end; true when it has.
  bool wait(int ms);
  // The matching file indexes found so far, in table order.
  std::vector<uint32_t> matches() const;
  size_t count() const;

 private:
  void run(const std::string& words);

  std::atomic<bool> stop_{false}, done_{false};
  mutable std::mutex mutex_;
  std::vector<uint32_t> matches_;
  std::thread thread_;
};

#endif  // VARNELO_UI_TITLE_SEARCH_H_
