#include "tests/support/pg_server.h"

#include <libpq-fe.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace pelliton {

namespace {

// Debian's server binaries: /usr/lib/postgresql/VERSION/bin, of the newest version there.
std::string ServerBin() {
  std::string newest;
  int newest_version = -1;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/usr/lib/postgresql", ec)) {
    const int version = std::atoi(entry.path().filename().c_str());
    if (version > newest_version && std::filesystem::exists(entry.path() / "bin" / "pg_ctl")) {
      newest_version = version;
      newest = (entry.path() / "bin").string();
    }
  }
  return newest;
}

int FreePort() {
  const int sock = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  int port = 0;
  if (bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(sock, reinterpret_cast<sockaddr*>(&address), &size) == 0)
    port = ntohs(address.sin_port);
  close(sock);
  return port;
}

std::string Quoted(const std::string& text) {
  return "'" + text + "'";
}

}  // namespace

PgServer::PgServer() : bin_(ServerBin()), port_(FreePort()) {
  char folder[] = "/tmp/pelliton-pg-XXXXXX";
  if (mkdtemp(folder) == nullptr) {
    why_ = "cannot make a temporary folder";
    return;
  }
  folder_ = folder;
  data_ = folder_ + "/data";
  if (geteuid() == 0) {
    if (const passwd* user = getpwnam("postgres"))
      (void)!chown(folder, user->pw_uid, user->pw_gid);
  }
  // Stops the server and removes the folder once this process has gone, however it went.
  const std::string guard = "setsid sh -c 'while kill -0 " + std::to_string(getpid()) +
                            " 2>/dev/null; do sleep 1; done; " + "runner=; [ \"$(id -u)\" = 0 ] " +
                            "&& runner=\"runuser -u postgres --\"; $runner " + bin_ +
                            "/pg_ctl -D " + data_ + " stop -m immediate; rm -rf " + folder_ +
                            "' </dev/null >/dev/null 2>&1 &";
  (void)!std::system(guard.c_str());
}

PgServer::~PgServer() {
  if (running_)
    Stop(true);
  std::error_code ec;
  if (!folder_.empty())
    std::filesystem::remove_all(folder_, ec);
}

bool PgServer::Run(const std::string& command) {
  const std::string runner = geteuid() == 0 ? "runuser -u postgres -- " : "";
  const std::string line = runner + command + " >>" + folder_ + "/commands.log 2>&1";
  if (std::system(line.c_str()) == 0)
    return true;
  why_ = command + " failed; see " + folder_ + "/commands.log";
  return false;
}

bool PgServer::Start() {
  if (bin_.empty()) {
    why_ = "no PostgreSQL server in /usr/lib/postgresql (scripts/setup installs it)";
    return false;
  }
  if (folder_.empty() || port_ == 0)
    return false;
  if (!made_) {
    if (!Run(bin_ + "/initdb -D " + data_ + " -U " + kOwner +
             " --auth=trust --no-sync -E UTF8 --locale=C"))
      return false;
    std::ofstream hba(data_ + "/pg_hba.conf", std::ios::trunc);
    hba << "local all all trust\n"
        << "host all " << kOwner << " 127.0.0.1/32 trust\n"
        << "host all all 127.0.0.1/32 scram-sha-256\n";
    if (!hba.flush()) {
      why_ = "cannot write pg_hba.conf";
      return false;
    }
  }
  const std::string options =
      "-c port=" + std::to_string(port_) +
      " -c listen_addresses=127.0.0.1 -c unix_socket_directories=" + folder_ +
      " -c fsync=off -c max_connections=40";
  if (!Run(bin_ + "/pg_ctl -D " + data_ + " -l " + folder_ + "/server.log -w -t 60 -o " +
           Quoted(options) + " start"))
    return false;
  running_ = true;
  if (!made_) {
    made_ = true;
    if (!Sql("CREATE DATABASE plant", nullptr, "postgres"))
      return false;
  }
  return true;
}

bool PgServer::Stop(bool immediate) {
  running_ = false;
  return Run(bin_ + "/pg_ctl -D " + data_ + " -w -t 60 stop -m " +
             (immediate ? "immediate" : "fast"));
}

std::string PgServer::Url(const std::string& database, const std::string& user) const {
  return "host=" + folder_ + " port=" + std::to_string(port_) + " dbname=" + database +
         " user=" + user;
}

std::string PgServer::TcpUrl(const std::string& database, const std::string& user) const {
  return "postgresql://" + user + "@127.0.0.1:" + std::to_string(port_) + "/" + database;
}

bool PgServer::Sql(const std::string& sql, std::string* value, const std::string& database) {
  PGconn* connection = PQconnectdb(Url(database).c_str());
  bool ok = PQstatus(connection) == CONNECTION_OK;
  if (!ok)
    why_ = PQerrorMessage(connection);
  if (ok) {
    PGresult* result = PQexec(connection, sql.c_str());
    const ExecStatusType status = PQresultStatus(result);
    ok = status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
    if (!ok)
      why_ = sql + ": " + PQresultErrorMessage(result);
    if (ok && value != nullptr)
      *value = PQntuples(result) > 0 && PQnfields(result) > 0 ? PQgetvalue(result, 0, 0) : "";
    PQclear(result);
  }
  PQfinish(connection);
  return ok;
}

}  // namespace pelliton
