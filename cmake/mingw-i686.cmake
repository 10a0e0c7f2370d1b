# Cross-compiles 32-bit Windows binaries (the product for 32-bit Outlook).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(VOSTREL_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/MingwToolchain.cmake)
