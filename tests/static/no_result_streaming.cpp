// Statically linked test programs (linux32): GoogleTest's result streaming
// needs getaddrinfo, which a static glibc takes from its shared libraries at
// run time (the linker warns). The tests never stream: the lookup fails.
#include <netdb.h>

extern "C" {

int getaddrinfo(const char*, const char*, const addrinfo*, addrinfo** result) {
  *result = nullptr;
  return EAI_FAIL;
}

void freeaddrinfo(addrinfo*) {}

}  // extern "C"
