#include "server/server_database.h"

#include <chrono>

namespace shenbao {

bool ServerDatabase::open(const std::string& url, std::string& error) {
  std::lock_guard lock(mutex_);
  url_ = url;
  db_ = Transaction::open(url, error);
  if (db_) postgres_ = db_->dialect() == Dialect::PostgreSQL;
  return db_ != nullptr;
}

bool ServerDatabase::transact(const std::function<bool(Transaction&)>& work) {
  std::lock_guard lock(mutex_);
  if (!db_) {
    db_ = Transaction::open(url_, error_);
    if (!db_) return false;
  }
  if (!db_->begin()) {
    error_ = db_->sqlerrtext;
    // A connection that cannot begin is taken as lost: the next call opens a new one.
    db_.reset();
    return false;
  }
  if (!work(*db_)) {
    error_ = db_->sqlerrtext;
    db_->rollback();
    return false;
  }
  if (db_->commit() != 0) {
    error_ = db_->sqlerrtext;
    db_->rollback();
    return false;
  }
  return true;
}

bool ServerDatabase::read(const std::function<bool(Transaction&)>& work) {
  std::lock_guard lock(mutex_);
  if (!db_) {
    db_ = Transaction::open(url_, error_);
    if (!db_) return false;
  }
  const bool ok = work(*db_);
  if (!ok) error_ = db_->sqlerrtext;
  db_->rollback();
  return ok;
}

std::string ServerDatabase::last_error() {
  std::lock_guard lock(mutex_);
  return error_;
}

int64_t epoch_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

}  // namespace shenbao
