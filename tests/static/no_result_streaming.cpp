// Statically linked test programs (linux32): GoogleTest can stream its
// results to a network socket (--gtest_stream_result_to), which needs
// glibc's getaddrinfo, and a static getaddrinfo needs glibc's shared
// libraries at run time (the linker warns). The tests never stream; here
// the name lookup fails, as it would without those libraries.
#include <netdb.h>

extern "C" {

int getaddrinfo(const char*, const char*, const addrinfo*, addrinfo** result) {
  *result = nullptr;
  return EAI_FAIL;
}

void freeaddrinfo(addrinfo*) {}

}  // extern "C"
