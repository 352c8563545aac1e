#pragma once
// The HTTP client of the server's tests and benchmarks: one connection, kept alive between
// requests and opened again when the server has closed it; every call blocks until the
// answer is in or the timeout has passed.
//
//   HttpClient client("127.0.0.1", port);
//   if (auto r = client.Post("/api/login", body, "application/json")) r->status ...

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <chrono>
#include <optional>
#include <string>

#include "server/http_message.h"

namespace shenbao {

struct HttpClientAnswer {
  int status = 0;
  std::string body;
  HttpHeaders headers;
  std::string get_header_value(const std::string& name) const {
    auto it = headers.find(name);
    return it == headers.end() ? std::string() : it->second;
  }
};

class HttpClient {
 public:
  HttpClient(std::string host, int port) : host_(std::move(host)), port_(port) {}

  void set_read_timeout(long seconds, long = 0) { timeout_ = std::chrono::seconds(seconds); }
  // false: each request on a connection of its own.
  void set_keep_alive(bool keep) { keep_alive_ = keep; }

  std::optional<HttpClientAnswer> Get(const std::string& path, const HttpHeaders& headers = {}) {
    return send(boost::beast::http::verb::get, path, headers, {}, {}, false);
  }
  std::optional<HttpClientAnswer> Post(const std::string& path, const HttpHeaders& headers, const std::string& body,
                                       const std::string& content_type) {
    return send(boost::beast::http::verb::post, path, headers, body, content_type, false);
  }
  std::optional<HttpClientAnswer> Post(const std::string& path, const std::string& body, const std::string& content_type) {
    return send(boost::beast::http::verb::post, path, {}, body, content_type, false);
  }
  // The body in chunks, of no stated length.
  std::optional<HttpClientAnswer> PostChunked(const std::string& path, const HttpHeaders& headers,
                                              const std::string& body, const std::string& content_type) {
    return send(boost::beast::http::verb::post, path, headers, body, content_type, true);
  }

 private:
  std::optional<HttpClientAnswer> send(boost::beast::http::verb verb, const std::string& path,
                                       const HttpHeaders& headers, const std::string& body,
                                       const std::string& content_type, bool chunked) {
    namespace http = boost::beast::http;
    http::request<http::string_body> request(verb, path, 11);
    request.set(http::field::host, host_ + ":" + std::to_string(port_));
    for (const auto& [name, value] : headers) request.insert(name, value);
    if (!content_type.empty()) request.set(http::field::content_type, content_type);
    request.keep_alive(keep_alive_);
    request.body() = body;
    if (chunked) {
      request.chunked(true);
    } else if (verb == http::verb::post) {
      request.prepare_payload();
    }
    // A kept connection the server has closed meanwhile is opened again once.
    for (int attempt = 0; attempt < 2; ++attempt) {
      const bool reused = stream_.has_value();
      if (!stream_ && !open()) return std::nullopt;
      boost::beast::error_code ec;
      stream_->expires_after(timeout_);
      http::write(*stream_, request, ec);
      http::response<http::string_body> response;
      if (!ec) {
        boost::beast::flat_buffer buffer;
        http::response_parser<http::string_body> parser;
        parser.body_limit(256 * 1024 * 1024);
        http::read(*stream_, buffer, parser, ec);
        if (!ec) response = parser.release();
      }
      if (ec) {
        stream_.reset();
        if (reused) continue;
        return std::nullopt;
      }
      HttpClientAnswer answer;
      answer.status = static_cast<int>(response.result_int());
      answer.body = std::move(response.body());
      for (const auto& field : response)
        answer.headers.emplace(std::string(field.name_string().data(), field.name_string().size()),
                               std::string(field.value().data(), field.value().size()));
      if (!keep_alive_ || !response.keep_alive()) stream_.reset();
      return answer;
    }
    return std::nullopt;
  }

  bool open() {
    boost::beast::error_code ec;
    boost::asio::ip::tcp::resolver resolver(io_);
    const auto endpoints = resolver.resolve(host_, std::to_string(port_), ec);
    if (ec) return false;
    stream_.emplace(io_);
    stream_->expires_after(timeout_);
    stream_->connect(endpoints, ec);
    if (ec) {
      stream_.reset();
      return false;
    }
    stream_->socket().set_option(boost::asio::ip::tcp::no_delay(true), ec);
    return true;
  }

  std::string host_;
  int port_;
  std::chrono::steady_clock::duration timeout_ = std::chrono::seconds(30);
  bool keep_alive_ = true;
  boost::asio::io_context io_;
  std::optional<boost::beast::tcp_stream> stream_;
};

}  // namespace shenbao
