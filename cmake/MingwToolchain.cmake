# What both toolchain files share: Debian's mingw-w64 cross compilers of the
# posix thread model (std::thread, std::mutex) for the triple the including
# file names in VOSTREL_MINGW_TRIPLE, and a search root of that target only.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER   ${VOSTREL_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VOSTREL_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER  ${VOSTREL_MINGW_TRIPLE}-windres)
set(CMAKE_AR           ${VOSTREL_MINGW_TRIPLE}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB       ${VOSTREL_MINGW_TRIPLE}-ranlib CACHE FILEPATH "")
set(WIDL               ${VOSTREL_MINGW_TRIPLE}-widl CACHE FILEPATH "IDL compiler")
set(DLLTOOL            ${VOSTREL_MINGW_TRIPLE}-dlltool CACHE FILEPATH "import library tool")

set(CMAKE_FIND_ROOT_PATH /usr/${VOSTREL_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
