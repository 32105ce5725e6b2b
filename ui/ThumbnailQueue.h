// The thumbnails the grid wants made, most wanted first, between the user-interface thread (which
// says what it wants whenever what is visible changes) and the worker (which takes one job at a
// time). A new list cancels what it leaves out: waiting jobs are dropped, and the job being made
// learns through Wanted() that it may stop.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

namespace velmora {

// What the worker needs to make one thumbnail, by value: nothing it has to look up.
struct TThumbnailJob {
  std::string key;      // names the picture: where, which file, which size
  std::string archive;  // the archive's path on this host; empty for a file on disk
  std::string name;     // the member name as its archive lists it, or the path on disk
  std::uint32_t side = 0;  // the thumbnail's square, in device pixels
};

class TThumbnailQueue {
public:
  // The jobs wanted now, most wanted first, in place of the earlier list. A job of the same key as
  // the one being made is not queued again.
  void Want(std::vector<TThumbnailJob> jobs);
  // The most wanted job not taken yet; waits for one. None once closed.
  std::optional<TThumbnailJob> Take();
  // Whether the job of `key` is in the list wanted now.
  bool Wanted(const std::string& key) const;
  // The worker is done with the job it took.
  void Finished();
  // Wakes the worker for good: Take gives none from now on.
  void Close();
  std::size_t Waiting() const;
  // The archives the waiting jobs read from, each once, most wanted first.
  std::vector<std::string> Archives() const;

private:
  mutable std::mutex m_;
  std::condition_variable changed_;
  std::deque<TThumbnailJob> jobs_;
  std::unordered_set<std::string> wanted_;
  std::string running_;
  bool busy_ = false;
  bool closed_ = false;
};

}  // namespace velmora
