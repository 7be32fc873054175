# Read by cpack: the package's Depends, computed by dpkg-shlibdeps from the
# files listed in CPACK_QUARRIN_SHLIBDEPS_FILES.
if(CPACK_GENERATOR STREQUAL "DEB")
  set(work "${CPACK_QUARRIN_SHLIBDEPS_DIR}")
  # dpkg-shlibdeps wants a debian/control beside it.
  file(MAKE_DIRECTORY "${work}/debian")
  file(WRITE "${work}/debian/control" "")
  execute_process(
    COMMAND dpkg-shlibdeps -O ${CPACK_QUARRIN_SHLIBDEPS_FILES}
    WORKING_DIRECTORY "${work}"
    OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc
    OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT rc EQUAL 0 OR NOT out MATCHES "^shlibs:Depends=")
    message(FATAL_ERROR "dpkg-shlibdeps failed: ${err}")
  endif()
  string(REGEX REPLACE "^shlibs:Depends=" "" CPACK_DEBIAN_PACKAGE_DEPENDS "${out}")
endif()
