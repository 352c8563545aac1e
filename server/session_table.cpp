#include "server/session_table.h"

#include <sodium.h>

#include <algorithm>
#include <filesystem>
#include <tuple>
#include <unordered_set>

namespace shenbao {
namespace {

std::string token_key(std::string_view token) {
  unsigned char hash[crypto_generichash_BYTES];
  crypto_generichash(hash, sizeof hash, reinterpret_cast<const unsigned char*>(token.data()), token.size(), nullptr, 0);
  return std::string(reinterpret_cast<const char*>(hash), sizeof hash);
}

}  // namespace

std::string random_token(size_t bytes) {
  std::vector<unsigned char> raw(bytes);
  randombytes_buf(raw.data(), raw.size());
  std::string out(sodium_base64_ENCODED_LEN(bytes, sodium_base64_VARIANT_URLSAFE_NO_PADDING), '\0');
  sodium_bin2base64(out.data(), out.size(), raw.data(), raw.size(), sodium_base64_VARIANT_URLSAFE_NO_PADDING);
  out.resize(std::char_traits<char>::length(out.c_str()));
  sodium_memzero(raw.data(), raw.size());
  return out;
}

WebSession::WebSession(WebUser user, std::unique_ptr<Session> session, std::string csrf, std::string print_folder)
    : user_(std::move(user)),
      session_(std::move(session)),
      csrf_(std::move(csrf)),
      print_folder_(std::move(print_folder)),
      last_used_(Clock::now().time_since_epoch().count()) {}

WebSession::~WebSession() {
  session_.reset();
  if (!print_folder_.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(print_folder_, ec);
  }
}

bool WebSession::csrf_matches(std::string_view token) const {
  return token.size() == csrf_.size() && !csrf_.empty() &&
         sodium_memcmp(token.data(), csrf_.data(), csrf_.size()) == 0;
}

bool SessionTable::idle_too_long(const WebSession& session, WebSession::Clock::time_point now) const {
  return now - session.last_used() > limits_.idle || now - session.logged_in() > limits_.lifetime;
}

namespace {

std::string hex_of(std::string_view bytes) {
  std::string out(2 * bytes.size() + 1, '\0');
  sodium_bin2hex(out.data(), out.size(), reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
  out.pop_back();
  return out;
}

}  // namespace

bool SessionTable::admit(const WebUser& user, std::shared_ptr<WebSession>& ended) {
  const std::string seat_id = "p" + random_token(12);
  const int64_t now = epoch_ms();
  std::string ends_key;
  std::string ends_server;
  const bool admitted = shared_->transact([&](Transaction& t) {
    // One login at a time decides, over every server's seats.
    if (shared_->postgres() && t.execute("lock table sb_seat in share row exclusive mode") != 0) return false;
    const int64_t gone = now - std::chrono::duration_cast<std::chrono::milliseconds>(kServerGone).count();
    if (t.execute("delete from sb_seat where server_id <> :me and server_id not in "
                  "(select server_id from sb_server where seen >= :gone)",
                  {Value(server_id_), Value(gone)}) < 0 ||
        t.execute("delete from sb_server where seen < :gone and server_id <> :me", {Value(gone), Value(server_id_)}) < 0)
      return false;
    std::vector<SeatHolder> holders;
    std::vector<std::pair<std::string, std::string>> rows;  // seat id, server
    if (t.query("select seat_id, server_id, username, authority, since, pending from sb_seat", {},
                [&](const ResultRow& row) {
                  rows.emplace_back(row.get(0).to_string(), row.get(1).to_string());
                  holders.push_back({row.get(2).to_string(), row.get(3).as_long() != 0,
                                     std::chrono::system_clock::time_point(std::chrono::milliseconds(row.get(4).as_long())),
                                     row.get(5).as_long() == 0});
                  return true;
                }) != 0)
      return false;
    const SeatChoice choice = choose_seat(holders, user.username, user.may_accept(), limits_.seats());
    if (!choice.admitted) return false;
    if (choice.ends) {
      std::tie(ends_key, ends_server) = rows[*choice.ends];
      if (t.execute("delete from sb_seat where seat_id = :s", {Value(ends_key)}) < 0) return false;
    }
    return t.execute("insert into sb_seat (seat_id, server_id, username, authority, since, pending) "
                     "values (:s, :me, :u, :a, :now, 1)",
                     {Value(seat_id), Value(server_id_), Value(user.username), Value(user.may_accept() ? 1L : 0L),
                      Value(now)}) == 0;
  });
  if (!admitted) return false;
  std::lock_guard lock(mutex_);
  if (!ends_key.empty() && ends_server == server_id_) {
    for (auto it = sessions_.begin(); it != sessions_.end(); ++it) {
      if (hex_of(it->first) != ends_key) continue;
      ended = std::move(it->second);
      sessions_.erase(it);
      break;
    }
  }
  pending_.push_back({user.username, seat_id});
  return true;
}

std::string SessionTable::release_pending(const std::string& username) {
  auto it = std::find_if(pending_.begin(), pending_.end(), [&](const Pending& p) { return p.username == username; });
  if (it == pending_.end()) return {};
  std::string seat_id = std::move(it->seat_id);
  pending_.erase(it);
  return seat_id;
}

void SessionTable::give_up(const std::vector<std::string>& keys) {
  if (keys.empty()) return;
  shared_->transact([&](Transaction& t) {
    for (const std::string& key : keys)
      if (t.execute("delete from sb_seat where seat_id = :s", {Value(key)}) < 0) return false;
    return true;
  });
}

std::string SessionTable::add(std::shared_ptr<WebSession> session) {
  std::string token = server_id_ + "." + random_token();
  session->key_ = token_key(token);
  session->touch();
  std::string seat_id;
  {
    std::lock_guard lock(mutex_);
    seat_id = release_pending(session->user().username);
  }
  // The held seat becomes the session's. Should this fail (the database went away), the
  // next sync finds the session without a seat and ends it: the user logs in again.
  shared_->transact([&](Transaction& t) {
    return t.execute("update sb_seat set seat_id = :k, pending = 0 where seat_id = :s",
                     {Value(hex_of(session->key_)), Value(seat_id)}) >= 0;
  });
  std::lock_guard lock(mutex_);
  session->seated_at_ = WebSession::Clock::now();
  sessions_.emplace(session->key_, std::move(session));
  return token;
}

void SessionTable::cancel(const WebUser& user) {
  std::string seat_id;
  {
    std::lock_guard lock(mutex_);
    seat_id = release_pending(user.username);
  }
  if (!seat_id.empty()) give_up({seat_id});
}

std::shared_ptr<WebSession> SessionTable::find(std::string_view token) {
  if (token.empty()) return nullptr;
  const std::string key = token_key(token);
  std::lock_guard lock(mutex_);
  auto it = sessions_.find(key);
  if (it == sessions_.end()) return nullptr;
  if (idle_too_long(*it->second, WebSession::Clock::now())) return nullptr;
  it->second->touch();
  return it->second;
}

std::shared_ptr<WebSession> SessionTable::remove(std::string_view token) {
  if (token.empty()) return nullptr;
  const std::string key = token_key(token);
  std::unique_lock lock(mutex_);
  auto it = sessions_.find(key);
  if (it == sessions_.end()) return nullptr;
  auto session = std::move(it->second);
  sessions_.erase(it);
  lock.unlock();
  give_up({hex_of(key)});
  return session;
}

std::vector<std::shared_ptr<WebSession>> SessionTable::expire() {
  std::vector<std::shared_ptr<WebSession>> out;
  std::vector<std::string> keys;
  const auto now = WebSession::Clock::now();
  {
    std::lock_guard lock(mutex_);
    for (auto it = sessions_.begin(); it != sessions_.end();) {
      if (idle_too_long(*it->second, now)) {
        keys.push_back(hex_of(it->first));
        out.push_back(std::move(it->second));
        it = sessions_.erase(it);
      } else {
        ++it;
      }
    }
  }
  give_up(keys);
  return out;
}

std::vector<std::shared_ptr<WebSession>> SessionTable::clear() {
  std::vector<std::shared_ptr<WebSession>> out;
  {
    std::lock_guard lock(mutex_);
    for (auto& [key, session] : sessions_) out.push_back(std::move(session));
    sessions_.clear();
    pending_.clear();
  }
  shared_->transact([&](Transaction& t) {
    return t.execute("delete from sb_seat where server_id = :me", {Value(server_id_)}) >= 0 &&
           t.execute("delete from sb_server where server_id = :me", {Value(server_id_)}) >= 0;
  });
  return out;
}

std::vector<std::shared_ptr<WebSession>> SessionTable::sync() {
  const auto started = WebSession::Clock::now();
  std::unordered_set<std::string> seated;
  const bool read = shared_->transact([&](Transaction& t) {
    if (t.execute("insert into sb_server (server_id, seen) values (:me, :now) on conflict (server_id) do update "
                  "set seen = excluded.seen",
                  {Value(server_id_), Value(epoch_ms())}) < 0)
      return false;
    return t.query("select seat_id from sb_seat where server_id = :me and pending = 0", {Value(server_id_)},
                   [&](const ResultRow& row) {
                     seated.insert(row.get(0).to_string());
                     return true;
                   }) == 0;
  });
  std::vector<std::shared_ptr<WebSession>> out;
  if (!read) return out;
  std::lock_guard lock(mutex_);
  for (auto it = sessions_.begin(); it != sessions_.end();) {
    // A session added after the seats were read is not among them, and stays.
    if (it->second->seated_at_ < started && !seated.count(hex_of(it->first))) {
      out.push_back(std::move(it->second));
      it = sessions_.erase(it);
    } else {
      ++it;
    }
  }
  return out;
}

bool SessionTable::issued_here(std::string_view token) const {
  return token.size() > server_id_.size() && token.substr(0, server_id_.size()) == server_id_ &&
         token[server_id_.size()] == '.';
}

size_t SessionTable::size() const {
  std::lock_guard lock(mutex_);
  return sessions_.size();
}

}  // namespace shenbao
