# What the Windows build finds and sets before the folders: a cross build with
# cmake/mingw-w64-x86_64.cmake, whose programs run under Wine.
enable_language(RC)
# Static archives only (find_library would take a DLL's import library
# first), so that the programs need no DLL but Windows' own.
set(CMAKE_FIND_LIBRARY_SUFFIXES .a)
# The W functions with UTF-16 text; windows.h without min/max macros and
# without its rarely used parts; Windows 10 and later.
add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0A00)
# localtime_r and gmtime_r, which MinGW-w64 offers over localtime_s.
add_compile_definitions(_POSIX_THREAD_SAFE_FUNCTIONS=200112L)
find_package(Threads REQUIRED)
include(cmake/GoogleTestFromSource.cmake)
add_subdirectory(third_party/pugixml)
# Under the name the Linux build gives the system's pugixml.
add_library(PkgConfig::PUGIXML ALIAS pugixml)
# libmicrohttpd from its pinned sources, under the Linux build's name too.
add_subdirectory(third_party/libmicrohttpd)
add_library(PkgConfig::MHD ALIAS microhttpd)
# Its header, like the Linux build's system one, outside our warnings.
set_target_properties(microhttpd PROPERTIES SYSTEM TRUE)
# libgcrypt (update signatures) from Debian's MinGW-w64 packages, linked
# statically: with libgpg-error, which libgcrypt.pc names only as a private
# requirement, and the Winsock that libgpg-error calls.
find_package(PkgConfig REQUIRED)
pkg_check_modules(GCRYPT REQUIRED IMPORTED_TARGET libgcrypt gpg-error)
set_property(TARGET PkgConfig::GCRYPT APPEND PROPERTY INTERFACE_LINK_LIBRARIES ws2_32)
include(cmake/EventMessages.cmake)

# The folders ported so far, and the programs built of them.
# (http: only the server so far, update: its signature check and manifest;
# see their CMakeLists.txt.)
set(QUARRIN_FOLDERS platform core service diag disk popup http update inventory report agent)
set(QUARRIN_PROGRAMS stamped_fixture QuarrinSrvc QuarrinSrvc_next TARNStartSrvc)

# Wine runs the tests (and their listing at build time) quietly, in a prefix
# of the build's own rather than the user's; the first run creates it.
set(QUARRIN_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix" CACHE PATH "Wine prefix the tests run in")
set(QUARRIN_WINE_ENV "WINEPREFIX=${QUARRIN_WINEPREFIX}" WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=)
# Tests whose suite is named OnDisplay draw windows, on an Xvfb of their own.
set(CMAKE_CROSSCOMPILING_EMULATOR
  ${PROJECT_SOURCE_DIR}/cmake/wine-display.sh env ${QUARRIN_WINE_ENV} ${QUARRIN_WINE})

# Every test runs in one Wine session that a setup test starts and a cleanup
# test ends: the server kept up between programs (wineserver -p) and Wine's
# services started apart from the tests' output, which ctest would otherwise
# wait on for as long as the services live.
find_program(QUARRIN_WINESERVER NAMES wineserver64 wineserver PATHS /usr/lib/wine REQUIRED)
function(quarrin_wine_session)
  # Arial, which the charts ask for, is Liberation Sans (same metrics) here.
  set(arial "HKCU\\Software\\Wine\\Fonts\\Replacements")
  add_test(NAME wine.start COMMAND sh -c
    "${QUARRIN_WINESERVER} -p </dev/null >/dev/null 2>&1 && ${QUARRIN_WINE} wineboot </dev/null >/dev/null 2>&1 && ${QUARRIN_WINE} reg add '${arial}' /v Arial /t REG_SZ /d 'Liberation Sans' /f </dev/null >/dev/null 2>&1")
  add_test(NAME wine.stop COMMAND ${QUARRIN_WINESERVER} -k)
  set_tests_properties(wine.start wine.stop PROPERTIES ENVIRONMENT "${QUARRIN_WINE_ENV}")
  set_tests_properties(wine.start PROPERTIES FIXTURES_SETUP wine)
  set_tests_properties(wine.stop PROPERTIES FIXTURES_CLEANUP wine)
endfunction()
