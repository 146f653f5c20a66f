# The native compiler in 32-bit mode (Debian's g++-multilib), everything
# linked statically (preset linux32), the tests run under qemu-i386 (qemu-user): this
# machine's kernel may not run 32-bit programs itself. It gives the 32-bit
# data model of the shipped Quilbo.exe (4-byte pointers and longs) a
# configuration whose tests run.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT -m32)
set(CMAKE_CXX_FLAGS_INIT -m32)
set(CMAKE_EXE_LINKER_FLAGS_INIT -m32)
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/qemu-i386)
