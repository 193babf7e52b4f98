// pcsc-hold READER [exclusive|shared]: another application holding a card. Connects to
// READER, prints "held" (or "fail 0xCODE") on stdout and keeps the connection until
// its standard input closes or it gets SIGTERM.
#include <unistd.h>
#include <winscard.h>

#include <csignal>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: pcsc-hold READER [exclusive|shared]\n");
    return 2;
  }
  const bool shared = argc == 3 && std::strcmp(argv[2], "shared") == 0;
  std::signal(SIGTERM, [](int) {});  // only to wake read() below
  SCARDCONTEXT context = 0;
  SCARDHANDLE card = 0;
  DWORD protocol = 0;
  LONG rv = SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context);
  if (rv == SCARD_S_SUCCESS) {
    rv = SCardConnect(context, argv[1], shared ? SCARD_SHARE_SHARED : SCARD_SHARE_EXCLUSIVE,
                      SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &card, &protocol);
  }
  if (rv == SCARD_S_SUCCESS) {
    std::printf("held\n");
  } else {
    std::printf("fail 0x%08lX\n", static_cast<unsigned long>(rv));
  }
  std::fflush(stdout);
  char byte = 0;
  while (rv == SCARD_S_SUCCESS && read(STDIN_FILENO, &byte, 1) > 0) {
  }
  if (card != 0) {
    SCardDisconnect(card, SCARD_LEAVE_CARD);
  }
  if (context != 0) {
    SCardReleaseContext(context);
  }
  return rv == SCARD_S_SUCCESS ? 0 : 1;
}
