# The third-party libraries the product calls: SQLite, compiled from the
# amalgamation that scripts/setup.sh generates from Debian's source package,
# and zlib from Debian's mingw-w64 package.

set(VOSTREL_SQLITE_DIR ${CMAKE_SOURCE_DIR}/.deps/sqlite CACHE PATH "SQLite amalgamation (sqlite3.c, sqlite3.h)")
if(NOT EXISTS ${VOSTREL_SQLITE_DIR}/sqlite3.c)
    message(FATAL_ERROR "SQLite amalgamation missing in ${VOSTREL_SQLITE_DIR}: run scripts/setup.sh")
endif()
add_library(vostrel_sqlite STATIC ${VOSTREL_SQLITE_DIR}/sqlite3.c)
target_include_directories(vostrel_sqlite SYSTEM PUBLIC ${VOSTREL_SQLITE_DIR})
target_compile_definitions(vostrel_sqlite PRIVATE SQLITE_THREADSAFE=1 SQLITE_OMIT_LOAD_EXTENSION
                           SQLITE_DEFAULT_FOREIGN_KEYS=0 SQLITE_DQS=0)
target_compile_options(vostrel_sqlite PRIVATE -w -O2)

find_library(VOSTREL_ZLIB NAMES libz.a z REQUIRED)
add_library(vostrel_zlib INTERFACE)
target_link_libraries(vostrel_zlib INTERFACE ${VOSTREL_ZLIB})
