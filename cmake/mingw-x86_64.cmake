# Cross-compiles 64-bit Windows binaries: the same tree as the i686 product,
# built and tested under 64-bit Wine.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VOSTREL_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/MingwToolchain.cmake)
