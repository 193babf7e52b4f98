// tessiv-sim: a Tessiv card in the vpcd virtual reader of a running pcscd.
// Exit status: 0 after the last card or when the reader side closes or on SIGTERM/SIGINT,
// 1 when the reader cannot be reached, 2 on a bad command line.
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "sim/card/card_state.h"
#include "sim/vpcd/vpcd_bridge.h"

namespace {

using pelliton::sim::BridgeOptions;
using pelliton::sim::TessivCard;

constexpr int kQuietMs = 2;

volatile std::sig_atomic_t g_stop = 0;
volatile std::sig_atomic_t g_remove = 0;

void OnStop(int) {
  g_stop = 1;
}
void OnRemove(int) {
  g_remove = 1;
}

void Install(int signal, void (*handler)(int)) {
  struct sigaction action = {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: poll() returns so the loop sees the flag
  sigaction(signal, &action, nullptr);
}

bool WriteState(const BridgeOptions& options, const TessivCard& card, unsigned number) {
  if (options.state_path.empty()) {
    return true;
  }
  pelliton::sim::CardState state = pelliton::sim::CaptureCardState(card);
  state.card = number;
  // Written beside the target and renamed over it, so readers never see half a file.
  const std::string temporary = options.state_path + ".tmp";
  {
    std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
    file << pelliton::sim::FormatCardState(state);
    if (!file.flush()) {
      return false;
    }
  }
  return std::rename(temporary.c_str(), options.state_path.c_str()) == 0;
}

// Sleeps up to `ms`, waking early on a stop request.
void Pause(unsigned ms) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!g_stop && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

int Connect(const BridgeOptions& options) {
  addrinfo hints = {};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const std::string port = std::to_string(options.port);
  if (getaddrinfo(options.host.c_str(), port.c_str(), &hints, &found) != 0 || found == nullptr) {
    std::fprintf(stderr, "tessiv-sim: cannot resolve %s\n", options.host.c_str());
    return -1;
  }
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(options.connect_timeout_ms);
  int fd = -1;
  while (!g_stop) {
    for (addrinfo* a = found; a != nullptr && fd < 0; a = a->ai_next) {
      fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
      if (fd >= 0 && connect(fd, a->ai_addr, a->ai_addrlen) != 0) {
        close(fd);
        fd = -1;
      }
    }
    if (fd >= 0 || std::chrono::steady_clock::now() >= deadline) {
      break;
    }
    Pause(50);
  }
  freeaddrinfo(found);
  if (fd >= 0) {
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  }
  return fd;
}

bool SendAll(int fd, const std::vector<uint8_t>& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      return false;
    }
    sent += static_cast<size_t>(n);
  }
  return true;
}

enum class Ended { kCardLeft, kReaderClosed, kStopped };

Ended Serve(int fd, TessivCard& card, const BridgeOptions& options, unsigned number) {
  pelliton::sim::VpcdSession session(card, options.remove_after);
  std::vector<uint8_t> buffer(4096);
  std::vector<uint8_t> out;
  WriteState(options, card, number);
  // The state text grows with every command, so it is written once the reader has been
  // quiet for a moment rather than after each command of a burst.
  bool dirty = false;
  while (true) {
    if (g_stop) {
      return Ended::kStopped;
    }
    if (g_remove) {
      g_remove = 0;
      card.Remove();
      return Ended::kCardLeft;
    }
    pollfd p = {fd, POLLIN, 0};
    const int ready = poll(&p, 1, dirty ? kQuietMs : 200);
    if (ready < 0 && errno != EINTR) {
      return Ended::kReaderClosed;
    }
    if (ready <= 0) {
      if (ready == 0 && dirty) {
        WriteState(options, card, number);
        dirty = false;
      }
      continue;
    }
    const ssize_t n = recv(fd, buffer.data(), buffer.size(), 0);
    // vpcd writes a message's length and its body separately; without an immediate
    // acknowledgement, Nagle holds the body back for our delayed-ACK time (~40 ms).
    // Quick-ack mode lapses by itself, so it is asked for again after every read.
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
      continue;
    }
    if (n <= 0) {
      return Ended::kReaderClosed;
    }
    out.clear();
    const size_t before = session.events();
    const bool stays = session.Feed(buffer.data(), static_cast<size_t>(n), out);
    dirty = dirty || session.events() != before;
    if (!SendAll(fd, out)) {
      return Ended::kReaderClosed;
    }
    if (!stays) {
      return Ended::kCardLeft;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::string error;
  const auto options =
      pelliton::sim::ParseBridgeOptions(std::vector<std::string>(argv + 1, argv + argc), error);
  if (!options) {
    std::fputs(pelliton::sim::BridgeUsage().c_str(), error.empty() ? stdout : stderr);
    if (!error.empty()) {
      std::fprintf(stderr, "tessiv-sim: %s\n", error.c_str());
    }
    return error.empty() ? 0 : 2;
  }
  Install(SIGTERM, OnStop);
  Install(SIGINT, OnStop);
  Install(SIGUSR1, OnRemove);
  std::signal(SIGPIPE, SIG_IGN);

  for (unsigned number = 1; number <= options->cards && !g_stop; ++number) {
    Pause(options->insert_after_ms);
    if (g_stop) {
      break;
    }
    TessivCard card(options->card);
    for (const auto& fault : options->faults) {
      card.AddFault(fault);
    }
    const int fd = Connect(*options);
    if (fd < 0) {
      if (g_stop) {
        break;
      }
      std::fprintf(stderr, "tessiv-sim: cannot reach vpcd at %s:%u\n", options->host.c_str(),
                   options->port);
      return 1;
    }
    g_remove = 0;
    const Ended ended = Serve(fd, card, *options, number);
    close(fd);
    card.Remove();
    WriteState(*options, card, number);
    if (ended != Ended::kCardLeft) {
      break;
    }
  }
  return 0;
}
