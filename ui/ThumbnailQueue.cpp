// The wanted list of thumbnails and its cancellation.
#include "ui/ThumbnailQueue.h"

#include <algorithm>

namespace velmora {

void TThumbnailQueue::Want(std::vector<TThumbnailJob> jobs) {
  {
    const std::lock_guard lock(m_);
    wanted_.clear();
    jobs_.clear();
    for (TThumbnailJob& job : jobs) {
      if (!wanted_.insert(job.key).second) continue;
      if (busy_ && job.key == running_) continue;
      jobs_.push_back(std::move(job));
    }
  }
  changed_.notify_all();
}

std::optional<TThumbnailJob> TThumbnailQueue::Take() {
  std::unique_lock lock(m_);
  changed_.wait(lock, [this] { return closed_ || !jobs_.empty(); });
  if (closed_) return std::nullopt;
  TThumbnailJob job = std::move(jobs_.front());
  jobs_.pop_front();
  running_ = job.key;
  busy_ = true;
  return job;
}

bool TThumbnailQueue::Wanted(const std::string& key) const {
  const std::lock_guard lock(m_);
  return !closed_ && wanted_.count(key) != 0;
}

void TThumbnailQueue::Finished() {
  const std::lock_guard lock(m_);
  busy_ = false;
  running_.clear();
}

void TThumbnailQueue::Close() {
  {
    const std::lock_guard lock(m_);
    closed_ = true;
    jobs_.clear();
    wanted_.clear();
  }
  changed_.notify_all();
}

std::size_t TThumbnailQueue::Waiting() const {
  const std::lock_guard lock(m_);
  return jobs_.size();
}

std::vector<std::string> TThumbnailQueue::Archives() const {
  const std::lock_guard lock(m_);
  std::vector<std::string> archives;
  for (const TThumbnailJob& job : jobs_) {
    if (!job.archive.empty() && std::find(archives.begin(), archives.end(), job.archive) == archives.end()) {
      archives.push_back(job.archive);
    }
  }
  return archives;
}

}  // namespace velmora
