#include "server/session_table.h"

#include <sodium.h>

#include <algorithm>
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

bool SessionTable::admit(const WebUser& user, std::shared_ptr<WebSession>& ended) {
  std::lock_guard lock(mutex_);
  const auto now = WebSession::Clock::now();
  std::vector<SeatHolder> holders = pending_;
  std::vector<std::string> keys(holders.size());
  for (const auto& [key, session] : sessions_) {
    holders.push_back({session->user().username, session->user().may_accept(), session->logged_in(), true});
    keys.push_back(key);
  }
  const SeatChoice choice = choose_seat(holders, user.username, user.may_accept(), limits_.seats());
  if (!choice.admitted) return false;
  if (choice.ends) {
    auto it = sessions_.find(keys[*choice.ends]);
    ended = std::move(it->second);
    sessions_.erase(it);
  }
  pending_.push_back({user.username, user.may_accept(), now, false});
  return true;
}

void SessionTable::release_pending(const std::string& username) {
  auto it = std::find_if(pending_.begin(), pending_.end(), [&](const SeatHolder& h) { return h.user == username; });
  if (it != pending_.end()) pending_.erase(it);
}

std::string SessionTable::add(std::shared_ptr<WebSession> session) {
  std::string token = random_token();
  std::lock_guard lock(mutex_);
  release_pending(session->user().username);
  session->key_ = token_key(token);
  session->touch();
  sessions_.emplace(session->key_, std::move(session));
  return token;
}

void SessionTable::cancel(const WebUser& user) {
  std::lock_guard lock(mutex_);
  release_pending(user.username);
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
