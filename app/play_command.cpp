// `shenbao play [--db URL] [--fixture FILE] FILE...`: runs scenario files, each in a fresh
// database, and prints one line per file and a closing count.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/command_table.h"
#include "app/database_setup.h"
#include "app/registry.h"
#include "app/scenario.h"

namespace shenbao {
namespace {

namespace fs = std::filesystem;

constexpr const char* kUsage = "usage: shenbao play [--db postgresql://...] [--fixture FILE] FILE...\n";

bool is_postgres_url(const std::string& url) {
  return url.rfind("postgresql://", 0) == 0 || url.rfind("postgres://", 0) == 0;
}

// Fresh databases holding the schema and the fixture, one per scenario file. On SQLite each
// is a copy of a template made once; on PostgreSQL each is a schema of its own, made anew and
// dropped after the file.
class Databases {
 public:
  Databases(std::string server, std::string fixture, fs::path folder)
      : server_(std::move(server)), fixture_(std::move(fixture)), folder_(std::move(folder)) {}

  ~Databases() {
    if (!schema_.empty()) release();
  }

  // Makes the next fresh database; answers its URL, or "" with `error`.
  std::string make(std::string& error) {
    ++count_;
    if (server_.empty()) return make_sqlite(error);
    return make_postgres(error);
  }

  // Removes the database made last.
  void release() {
    if (server_.empty()) {
      std::error_code ec;
      for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(file_.string() + suffix, ec);
      return;
    }
    if (admin_ && !schema_.empty()) {
      admin_->execute("drop schema " + schema_ + " cascade");
      admin_->commit();
    }
    schema_.clear();
  }

 private:
  std::string make_sqlite(std::string& error) {
    const fs::path template_file = folder_ / "template.db";
    if (!template_ready_) {
      auto sqlca = Transaction::open("sqlite:" + template_file.string(), error);
      if (!sqlca || !create_database(*sqlca, true, fixture_, error)) return {};
      template_ready_ = true;
    }
    file_ = folder_ / ("scenario_" + std::to_string(count_) + ".db");
    std::error_code ec;
    for (const char* suffix : {"", "-wal"}) {
      const fs::path from = template_file.string() + suffix;
      if (fs::exists(from)) fs::copy_file(from, file_.string() + suffix, fs::copy_options::overwrite_existing, ec);
      if (ec) {
        error = "cannot copy the template database: " + ec.message();
        return {};
      }
    }
    return "sqlite:" + file_.string();
  }

  std::string make_postgres(std::string& error) {
    if (!admin_) {
      admin_ = Transaction::open(server_, error);
      if (!admin_) return {};
    }
    schema_ = "play_" + std::to_string(getpid()) + "_" + std::to_string(count_);
    if (admin_->execute("create schema " + schema_) != 0 || admin_->commit() != 0) {
      error = "cannot create schema " + schema_ + ": " + admin_->sqlerrtext;
      admin_->rollback();
      schema_.clear();
      return {};
    }
    const std::string url =
        server_ + (server_.find('?') == std::string::npos ? "?" : "&") + "options=-csearch_path%3D" + schema_;
    auto sqlca = Transaction::open(url, error);
    if (!sqlca || !create_database(*sqlca, true, fixture_, error)) return {};
    return url;
  }

  std::string server_;
  std::string fixture_;
  fs::path folder_;
  int count_ = 0;
  bool template_ready_ = false;
  fs::path file_;
  std::unique_ptr<Transaction> admin_;
  std::string schema_;
};

bool read_file(const std::string& path, std::string& text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  text = buffer.str();
  return true;
}

}  // namespace

int play_command(const std::vector<std::string>& args) {
  std::string server, fixture;
  std::vector<std::string> files;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if ((arg == "--db" || arg == "--fixture") && i + 1 < args.size()) {
      (arg == "--db" ? server : fixture) = args[++i];
    } else if (arg.rfind("--", 0) == 0) {
      std::fprintf(stderr, "unknown option %s\n%s", arg.c_str(), kUsage);
      return 2;
    } else {
      files.push_back(arg);
    }
  }
  if (files.empty()) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  if (!server.empty() && !is_postgres_url(server)) {
    std::fprintf(stderr, "--db takes a postgresql:// URL (SQLite databases are made in the temporary folder)\n");
    return 2;
  }
  if (!fixture.empty() && !fs::exists(fixture)) {
    std::fprintf(stderr, "no fixture %s\n", fixture.c_str());
    return 2;
  }

  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/shenbao_play_XXXXXX";
  if (!mkdtemp(pattern.data())) {
    std::fprintf(stderr, "cannot make a temporary folder under %s\n", tmp && *tmp ? tmp : "/tmp");
    return 1;
  }
  const fs::path folder = pattern;

  WindowRegistry registry;
  register_windows(registry);

  int passed = 0, failed = 0;
  {
    Databases databases(server, fixture, folder);
    for (size_t n = 0; n < files.size(); ++n) {
      const std::string& name = files[n];
      ScenarioOutcome outcome;
      std::string text;
      std::string error;
      if (!read_file(name, text)) {
        outcome = {false, 0, "expected a scenario file, got none that can be read"};
      } else {
        const std::string url = databases.make(error);
        if (url.empty()) {
          outcome = {false, 0, "expected a fresh database, got " + error};
        } else {
          const fs::path prints = folder / ("print_" + std::to_string(n + 1));
          outcome = run_scenario(text, {url, &registry, prints.string()});
          std::error_code ec;
          fs::remove_all(prints, ec);
        }
        databases.release();
      }
      if (outcome.passed) {
        ++passed;
        std::printf("ok %s\n", name.c_str());
      } else {
        ++failed;
        std::printf("FAIL %s:%d: %s\n", name.c_str(), outcome.line, outcome.message.c_str());
      }
      std::fflush(stdout);
    }
  }
  std::error_code ec;
  fs::remove_all(folder, ec);
  std::printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}

}  // namespace shenbao
