#include "server/session_table.h"

#include <sodium.h>

#include <filesystem>

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

std::string SessionTable::add(std::shared_ptr<WebSession> session, std::shared_ptr<WebSession>& evicted) {
  std::string token = random_token();
  // Declared before the lock so that sessions dropped here end after it is released.
  std::vector<std::shared_ptr<WebSession>> dropped;
  std::lock_guard lock(mutex_);
  const auto now = WebSession::Clock::now();
  // The same user's least recently used session makes room for his new one.
  size_t of_user = 0;
  std::unordered_map<std::string, std::shared_ptr<WebSession>>::iterator oldest = sessions_.end();
  for (auto it = sessions_.begin(); it != sessions_.end(); ++it) {
    if (it->second->user().username != session->user().username) continue;
    ++of_user;
    if (oldest == sessions_.end() || it->second->last_used() < oldest->second->last_used()) oldest = it;
  }
  if (of_user >= limits_.max_per_user && oldest != sessions_.end()) {
    evicted = std::move(oldest->second);
    sessions_.erase(oldest);
  }
  if (sessions_.size() >= limits_.max_sessions) {
    // Idle sessions that were not reaped yet do not count.
    for (auto it = sessions_.begin(); it != sessions_.end();) {
      if (idle_too_long(*it->second, now)) {
        dropped.push_back(std::move(it->second));
        it = sessions_.erase(it);
      } else {
        ++it;
      }
    }
    if (sessions_.size() >= limits_.max_sessions) return {};
  }
  session->key_ = token_key(token);
  session->touch();
  sessions_.emplace(session->key_, std::move(session));
  return token;
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
  std::lock_guard lock(mutex_);
  auto it = sessions_.find(key);
  if (it == sessions_.end()) return nullptr;
  auto session = std::move(it->second);
  sessions_.erase(it);
  return session;
}

std::vector<std::shared_ptr<WebSession>> SessionTable::expire() {
  std::vector<std::shared_ptr<WebSession>> out;
  const auto now = WebSession::Clock::now();
  std::lock_guard lock(mutex_);
  for (auto it = sessions_.begin(); it != sessions_.end();) {
    if (idle_too_long(*it->second, now)) {
      out.push_back(std::move(it->second));
      it = sessions_.erase(it);
    } else {
      ++it;
    }
  }
  return out;
}

std::vector<std::shared_ptr<WebSession>> SessionTable::clear() {
  std::vector<std::shared_ptr<WebSession>> out;
  std::lock_guard lock(mutex_);
  for (auto& [key, session] : sessions_) out.push_back(std::move(session));
  sessions_.clear();
  return out;
}

size_t SessionTable::size() const {
  std::lock_guard lock(mutex_);
  return sessions_.size();
}

}  // namespace shenbao
