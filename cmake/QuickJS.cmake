# Provides the static library target `quickjs`: the system's libquickjs when
# scripts/setup.sh found a recent one, else built from the sources that
# scripts/setup.sh unpacked into .deps/quickjs.

set(QUELT_QUICKJS_DIR "${PROJECT_SOURCE_DIR}/.deps/quickjs" CACHE PATH "QuickJS source folder")

if(EXISTS "${QUELT_QUICKJS_DIR}/quickjs.c")
  file(READ "${QUELT_QUICKJS_DIR}/VERSION" QUELT_QUICKJS_VERSION)
  string(STRIP "${QUELT_QUICKJS_VERSION}" QUELT_QUICKJS_VERSION)
  add_library(quickjs STATIC
    "${QUELT_QUICKJS_DIR}/quickjs.c"
    "${QUELT_QUICKJS_DIR}/libregexp.c"
    "${QUELT_QUICKJS_DIR}/libunicode.c"
    "${QUELT_QUICKJS_DIR}/cutils.c"
    "${QUELT_QUICKJS_DIR}/dtoa.c")
  target_include_directories(quickjs SYSTEM PUBLIC "${QUELT_QUICKJS_DIR}")
  target_compile_definitions(quickjs PRIVATE _GNU_SOURCE "CONFIG_VERSION=\"${QUELT_QUICKJS_VERSION}\"")
  target_compile_options(quickjs PRIVATE -fwrapv -funsigned-char -w)
  set_target_properties(quickjs PROPERTIES C_STANDARD 11 C_EXTENSIONS ON POSITION_INDEPENDENT_CODE OFF)
  find_package(Threads REQUIRED)
  target_link_libraries(quickjs PUBLIC m Threads::Threads)
  message(STATUS "QuickJS ${QUELT_QUICKJS_VERSION} from ${QUELT_QUICKJS_DIR}")
else()
  find_path(QUELT_SYSTEM_QUICKJS_INCLUDE quickjs.h PATH_SUFFIXES quickjs)
  find_library(QUELT_SYSTEM_QUICKJS_LIBRARY NAMES libquickjs.a quickjs PATH_SUFFIXES quickjs)
  if(NOT QUELT_SYSTEM_QUICKJS_INCLUDE OR NOT QUELT_SYSTEM_QUICKJS_LIBRARY)
    message(FATAL_ERROR "QuickJS not found: run scripts/setup.sh first")
  endif()
  add_library(quickjs STATIC IMPORTED GLOBAL)
  set_target_properties(quickjs PROPERTIES
    IMPORTED_LOCATION "${QUELT_SYSTEM_QUICKJS_LIBRARY}"
    INTERFACE_INCLUDE_DIRECTORIES "${QUELT_SYSTEM_QUICKJS_INCLUDE}")
  find_package(Threads REQUIRED)
  target_link_libraries(quickjs INTERFACE m Threads::Threads)
  message(STATUS "QuickJS from the system: ${QUELT_SYSTEM_QUICKJS_LIBRARY}")
endif()
