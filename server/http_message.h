#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace shenbao {

// Header names compare without regard to case, as HTTP reads them.
struct HeaderNameLess {
  bool operator()(std::string_view a, std::string_view b) const;
  using is_transparent = void;
};
using HttpHeaders = std::multimap<std::string, std::string, HeaderNameLess>;

// A request as the route handlers see it, whatever carried it: read whole (head and body)
// before a handler runs.
struct HttpRequest {
  std::string method;
  std::string path;  // percent-decoded, without the query
  std::string body;
  std::string remote_addr;  // the connection's peer address
  HttpHeaders headers;
  std::multimap<std::string, std::string> params;  // of the query, decoded
  // The route's pattern groups: [0] the whole path, [1] the first group, ...
  std::vector<std::string> matches;
  // Why the head as it came is refused (request_head.h), "" when it is sound. Such a request
  // is only ever answered by the screen (HttpServer::screen) and its connection closes.
  std::string head_fault;

  bool has_header(std::string_view name) const { return headers.find(name) != headers.end(); }
  // The value of the `index`th header `name` as it came, "" when there is none.
  std::string get_header_value(std::string_view name, size_t index = 0) const;
  size_t get_header_value_count(std::string_view name) const { return headers.count(name); }
  bool has_param(const std::string& name) const { return params.count(name) > 0; }
  std::string get_param_value(const std::string& name) const;
};

// The answer a handler makes: a status, headers (set_header adds one, so Set-Cookie can come
// twice) and a body.
struct HttpAnswer {
  int status = 200;
  HttpHeaders headers;
  std::string body;

  void set_header(std::string name, std::string value) { headers.emplace(std::move(name), std::move(value)); }
  bool has_header(std::string_view name) const { return headers.find(name) != headers.end(); }
  void set_content(std::string content, std::string content_type);
};

// "%41b+c" -> "Ab c" with `plus_as_blank`, "Ab+c" without; a malformed escape stays as it is.
std::string percent_decoded(std::string_view text, bool plus_as_blank);

}  // namespace shenbao
