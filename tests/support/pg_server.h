// A private PostgreSQL server for one test process: a new cluster in a temporary folder,
// run as an unprivileged user (postgres when the tests run as root: the server refuses
// root), on a socket in that folder and a free port on 127.0.0.1. It is stopped and its
// folder removed when the object goes, and a guard process stops it should the test
// process die without that.
#pragma once

#include <string>

struct pg_conn;

namespace pelliton {

class PgServer {
 public:
  // The role that owns the cluster and the plant; the socket and local TCP trust it.
  static constexpr const char* kOwner = "plant_owner";

  PgServer();
  ~PgServer();
  PgServer(const PgServer&) = delete;
  PgServer& operator=(const PgServer&) = delete;

  // Makes the cluster (once) and starts the server; false with Why() when it cannot.
  bool Start();
  // Stops it: fast (the sessions are ended) or immediate (as if the server crashed).
  bool Stop(bool immediate = false);
  const std::string& Why() const { return why_; }

  // A libpq connection string for database `database` as `user`, over the socket.
  std::string Url(const std::string& database = "plant", const std::string& user = kOwner) const;
  // The same over TCP to 127.0.0.1, where every role but the owner needs its password.
  std::string TcpUrl(const std::string& database, const std::string& user) const;

  // Runs sql as the owner in `database`; the first row's first column of the last
  // statement in *value when given. False with Why().
  bool Sql(const std::string& sql, std::string* value = nullptr,
           const std::string& database = "plant");

 private:
  bool Run(const std::string& command);

  std::string bin_;
  std::string folder_;
  std::string data_;
  int port_ = 0;
  bool made_ = false;
  bool running_ = false;
  std::string why_;
};

}  // namespace pelliton
