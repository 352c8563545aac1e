#include "framework/runtime/sql/wal_checkpointer.h"

#include <sqlite3.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <set>
#include <thread>
#include <utility>

namespace shenbao {
namespace {

// The log's size in pages past which a commit asks for a checkpoint (SQLite's own default),
// and past which the committing connection makes one itself.
constexpr int kRequestPages = 1000;
constexpr int kInlinePages = 16 * kRequestPages;

using File = std::pair<std::string, std::string>;  // path, vfs

// One thread for the process, checkpointing the files commits ask for, in turn. It opens a
// connection for each checkpoint rather than keeping one: a file deleted and made again under
// the same name (as tests do) is then never checkpointed through a stale handle.
class Checkpointer {
 public:
  // Where a connection's commits ask for the checkpoints of its file; lives as long as the
  // process.
  const File* file(const std::string& path, const std::string& vfs) {
    std::lock_guard lock(mutex_);
    return &*files_.emplace(path, vfs).first;
  }

  void request(const File* file) {
    {
      std::lock_guard lock(mutex_);
      for (const File* queued : queue_)
        if (queued == file) return;
      queue_.push_back(file);
      if (!started_) {
        // Detached: the process may end in the middle of a checkpoint, which SQLite survives as
        // it survives a crash; nothing then waits at exit for the disk.
        std::thread([this] { run(); }).detach();
        started_ = true;
      }
    }
    wake_.notify_one();
  }

  void wait_until_idle() {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [&] { return queue_.empty() && !busy_; });
  }

 private:
  void run() {
    for (;;) {
      const File* file;
      {
        std::unique_lock lock(mutex_);
        wake_.wait(lock, [&] { return !queue_.empty(); });
        file = queue_.front();
        queue_.pop_front();
        busy_ = true;
      }
      sqlite3* db = nullptr;
      if (sqlite3_open_v2(file->first.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX,
                          file->second.empty() ? nullptr : file->second.c_str()) == SQLITE_OK &&
          // A new connection finds the log only once it reads the database.
          sqlite3_exec(db, "pragma schema_version", nullptr, nullptr, nullptr) == SQLITE_OK) {
        // Busy (another checkpoint running) or not: the next commit past the size asks again.
        sqlite3_wal_checkpoint_v2(db, "main", SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
      }
      sqlite3_close_v2(db);
      {
        std::lock_guard lock(mutex_);
        busy_ = false;
      }
      idle_.notify_all();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_, idle_;
  std::set<File> files_;
  std::deque<const File*> queue_;
  bool started_ = false;
  bool busy_ = false;  // a checkpoint is under way
};

// Never destroyed: a connection may commit while the process exits.
Checkpointer& checkpointer() {
  static auto* one = new Checkpointer;
  return *one;
}

int on_commit(void* file, sqlite3* db, const char* schema, int pages) {
  if (pages >= kInlinePages)
    sqlite3_wal_checkpoint_v2(db, schema, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
  else if (pages >= kRequestPages)
    checkpointer().request(static_cast<const File*>(file));
  return SQLITE_OK;
}

}  // namespace

void wait_for_background_checkpoints() { checkpointer().wait_until_idle(); }

void checkpoint_in_background(sqlite3* db, const std::string& path, const std::string& vfs) {
  // A database in memory has no log to share.
  if (path.empty() || path == ":memory:" || path.rfind("file::memory:", 0) == 0) return;
  sqlite3_wal_hook(db, on_commit, const_cast<File*>(checkpointer().file(path, vfs)));
}

}  // namespace shenbao
