# Database libraries of the door server: SQLite (Debian's library natively; on Windows
# the amalgamation that scripts/setup builds, compiled once as its own library) and
# ODBC (unixODBC natively, odbc32 on Windows). Sets PORVEX_SQLITE_LIB and
# PORVEX_ODBC_LIB for every folder.
if(PORVEX_WIN32)
    set(PORVEX_SQLITE_DIR ${PROJECT_SOURCE_DIR}/third_party/sqlite)
    if(NOT EXISTS ${PORVEX_SQLITE_DIR}/sqlite3.c)
        message(FATAL_ERROR "third_party/sqlite/sqlite3.c is missing: run scripts/setup")
    endif()
    add_library(porvex_sqlite3 STATIC ${PORVEX_SQLITE_DIR}/sqlite3.c)
    target_include_directories(porvex_sqlite3 SYSTEM PUBLIC ${PORVEX_SQLITE_DIR})
    target_compile_definitions(porvex_sqlite3 PRIVATE
        SQLITE_THREADSAFE=1 SQLITE_OMIT_LOAD_EXTENSION SQLITE_DQS=0)
    # Third-party source: its warnings are not ours to fix.
    target_compile_options(porvex_sqlite3 PRIVATE -w -O2)
    set(PORVEX_SQLITE_LIB porvex_sqlite3)
    set(PORVEX_ODBC_LIB odbc32)
else()
    find_package(SQLite3 REQUIRED)
    find_package(ODBC REQUIRED)
    set(PORVEX_SQLITE_LIB SQLite::SQLite3)
    set(PORVEX_ODBC_LIB ODBC::ODBC)
endif()
