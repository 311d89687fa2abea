#pragma once

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace qlt {

// One PostgreSQL server per test program, started on first use in a
// temporary folder and listening on a Unix socket there only (no TCP
// port); stopped and removed when the program ends. Under root, which
// PostgreSQL refuses to run as, the server runs as the "postgres" user
// (or "nobody") through runuser. Each test takes a fresh database.
class PostgresTestServer {
 public:
  // The server, or null with the reason when PostgreSQL's programs are
  // missing or it does not start (tests skip then).
  static PostgresTestServer* shared(std::string* why) {
    static std::mutex mutex;
    static std::unique_ptr<PostgresTestServer> server;
    static std::string failure;
    std::lock_guard lock(mutex);
    if (!server && failure.empty()) {
      auto started = std::unique_ptr<PostgresTestServer>(new PostgresTestServer);
      if (started->start(&failure)) server = std::move(started);
    }
    if (!server && why) *why = failure;
    return server.get();
  }

  ~PostgresTestServer() {
    stop();
    std::error_code ignored;
    if (!folder_.empty()) std::filesystem::remove_all(folder_, ignored);
  }

  // A new empty database's connection URI.
  std::optional<std::string> createDatabase(std::string* why = nullptr) {
    static std::atomic<int> counter = 0;
    std::string name = "test_" + std::to_string(getpid()) + "_" + std::to_string(counter++);
    if (!run(bin_ + "/createdb -h '" + folder_ + "' -U quillet " + name, false)) {
      if (why) *why = "createdb failed";
      return std::nullopt;
    }
    return urlFor(name);
  }

  std::string urlFor(const std::string& database) const {
    return "postgresql:///" + database + "?host=" + folder_ + "&user=quillet";
  }

  // Stops the server at once (as a crash would) and starts it again.
  bool stop() {
    if (!running_) return true;
    running_ = !run(bin_ + "/pg_ctl -D '" + folder_ + "/data' -m immediate -w stop", true);
    return !running_;
  }
  bool restart() {
    if (running_) return true;
    running_ = run(startCommand(), true);
    return running_;
  }

  // Runs `sql` in `url`'s database in the background, in a session of its
  // own; its output is dropped.
  bool runInBackground(const std::string& url, const std::string& sql) const {
    std::string command = bin_ + "/psql -Atq -d '" + url + "' -c \"" + sql + "\" >/dev/null 2>&1 &";
    return std::system(command.c_str()) == 0;
  }

  // The first column of the first row of `sql` in `database`, or nullopt.
  std::optional<std::string> query(const std::string& url, const std::string& sql) const {
    std::string command = bin_ + "/psql -Atq -d '" + url + "' -c \"" + sql + "\" 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return std::nullopt;
    std::string output;
    char buffer[256];
    while (size_t read = fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, read);
    if (pclose(pipe) != 0) return std::nullopt;
    while (!output.empty() && output.back() == '\n') output.pop_back();
    return output;
  }

 private:
  PostgresTestServer() = default;

  static std::string binaryFolder() {
    std::string best;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/usr/lib/postgresql", error)) {
      std::string bin = entry.path().string() + "/bin";
      if (access((bin + "/initdb").c_str(), X_OK) == 0 && access((bin + "/pg_ctl").c_str(), X_OK) == 0 && bin > best)
        best = bin;
    }
    return best;
  }

  // Runs `command`, as the server's user when `asServer`; its output is
  // dropped.
  bool run(const std::string& command, bool asServer) const {
    std::string full = (asServer && !user_.empty() ? "runuser -u " + user_ + " -- " : std::string()) + command +
                       " >/dev/null 2>&1";
    return std::system(full.c_str()) == 0;
  }

  // initdb takes a second or more: one data folder, made once per user and
  // PostgreSQL version, is copied by every test program.
  std::string templateDataFolder(std::string* why) const {
    std::string base = (std::filesystem::temp_directory_path() /
                        ("qlt-pg-template-1-" + std::to_string(geteuid()) + "-" +
                         std::filesystem::path(bin_).parent_path().filename().string()))
                           .native();
    int lock = open((base + ".lock").c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600);
    if (lock < 0 || flock(lock, LOCK_EX) != 0) {
      if (lock >= 0) close(lock);
      *why = "cannot lock " + base + ".lock";
      return {};
    }
    std::error_code ignored;
    if (!std::filesystem::exists(base + "/data/PG_VERSION", ignored)) {
      std::filesystem::remove_all(base, ignored);
      std::filesystem::create_directories(base, ignored);
      if (!user_.empty()) {
        struct passwd* account = getpwnam(user_.c_str());
        if (chown(base.c_str(), account->pw_uid, account->pw_gid) != 0) base.clear();
      }
      if (base.empty() ||
          !run(bin_ + "/initdb -D '" + base + "/data' -A trust -U quillet -E UTF8 --locale=C --no-sync --wal-segsize=1", true)) {
        *why = "initdb failed";
        std::filesystem::remove_all(base, ignored);
        close(lock);
        return {};
      }
    }
    close(lock);
    return base + "/data";
  }

  std::string startCommand() const {
    return bin_ + "/pg_ctl -D '" + folder_ + "/data' -l '" + folder_ + "/server.log' -w -t 30 -o \"" +
           "-c listen_addresses='' -k '" + folder_ + "' -c fsync=off " +
           "-c full_page_writes=off -c max_connections=100\" start";
  }

  bool start(std::string* why) {
    bin_ = binaryFolder();
    if (bin_.empty()) {
      *why = "PostgreSQL's programs are not installed (/usr/lib/postgresql/<version>/bin)";
      return false;
    }
    if (geteuid() == 0) {
      for (const char* candidate : {"postgres", "nobody"}) {
        if (getpwnam(candidate)) {
          user_ = candidate;
          break;
        }
      }
      if (user_.empty() || std::system("command -v runuser >/dev/null 2>&1") != 0) {
        *why = "running as root without an unprivileged user for PostgreSQL";
        return false;
      }
    }
    std::string pattern = (std::filesystem::temp_directory_path() / "qlt-pg-XXXXXX").native();
    if (!mkdtemp(pattern.data())) {
      *why = "cannot make a temporary folder";
      return false;
    }
    folder_ = pattern;
    if (!user_.empty()) {
      struct passwd* account = getpwnam(user_.c_str());
      if (chown(folder_.c_str(), account->pw_uid, account->pw_gid) != 0) {
        *why = "cannot hand the temporary folder to " + user_;
        return false;
      }
    }
    chmod(folder_.c_str(), 0755);
    std::string made = templateDataFolder(why);
    if (made.empty()) return false;
    if (!run("cp -a '" + made + "' '" + folder_ + "/data'", false)) {
      *why = "cannot copy the template data folder";
      return false;
    }
    running_ = run(startCommand(), true);
    if (!running_) *why = "the server did not start (see " + folder_ + "/server.log)";
    return running_;
  }

  std::string bin_;
  std::string user_;
  std::string folder_;
  bool running_ = false;
};

}  // namespace qlt
