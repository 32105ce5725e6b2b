// Makes thumbnails off the user-interface thread: one worker thread with an archive reader of its
// own (a process apart from the window's), which opens the archives it is asked for by their paths
// on this host, reads only the level each thumbnail needs, and hands every thumbnail back by value
// through a queued signal. A file that stops the worker's reader or cannot be decoded costs only
// its own thumbnail, which comes back broken with why. The thread and its reader start with the
// first job.
#pragma once

#include <QObject>

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "ui/ThumbnailCache.h"
#include "ui/ThumbnailQueue.h"

namespace velmora {

class TArchiveReader;

class TThumbnailLoader : public QObject {
  Q_OBJECT

public:
  // `readerProgram`: the archive reader to run; empty for the one the window runs.
  explicit TThumbnailLoader(std::string readerProgram = {}, QObject* parent = nullptr);
  // Cancels what waits, lets the job being made stop at its next read, and ends the thread.
  ~TThumbnailLoader() override;
  TThumbnailLoader(const TThumbnailLoader&) = delete;
  TThumbnailLoader& operator=(const TThumbnailLoader&) = delete;

  // The thumbnails wanted now, most wanted first; cancels the others (ui/ThumbnailQueue.h).
  void Want(std::vector<TThumbnailJob> jobs);
  // Thumbnails made and handed back so far, and jobs given up because they were no longer wanted.
  std::uint64_t Made() const { return made_.load(); }
  std::uint64_t Cancelled() const { return cancelled_.load(); }

signals:
  // Emitted on the worker thread; a receiver on the user-interface thread gets it queued.
  void Ready(const velmora::TThumbnail& thumbnail);

private:
  void Run();

  std::string program_;
  TThumbnailQueue queue_;
  std::thread thread_;
  std::atomic<std::uint64_t> made_{0};
  std::atomic<std::uint64_t> cancelled_{0};
};

}  // namespace velmora

Q_DECLARE_METATYPE(velmora::TThumbnail)
