# Bundles the library units and the entry module with esbuild (cross-unit
# imports of quelt/*.mjs stay imports), then compiles all five units to
# bytecode with quelt-embed. Sets QUELT_UNITS_CPP to the generated source.

find_program(ESBUILD esbuild REQUIRED)

add_executable(quelt-embed tools/embed_units.cpp)
target_link_libraries(quelt-embed PRIVATE quickjs)

file(GLOB_RECURSE QUELT_UNIT_SOURCES CONFIGURE_DEPENDS
  "${PROJECT_SOURCE_DIR}/quelt/*.mjs" "${PROJECT_SOURCE_DIR}/quelt/*.js")

set(QUELT_BUNDLE_DIR "${PROJECT_BINARY_DIR}/bundle/quelt")
set(QUELT_BUNDLES)
foreach(unit native-entry compiler project runtime)
  set(bundle "${QUELT_BUNDLE_DIR}/${unit}.mjs")
  add_custom_command(
    OUTPUT "${bundle}"
    COMMAND "${ESBUILD}" "quelt/${unit}.mjs" --bundle --format=esm --target=esnext
            "--external:quelt/*" --log-level=warning "--outfile=${bundle}"
    WORKING_DIRECTORY "${PROJECT_SOURCE_DIR}"
    DEPENDS ${QUELT_UNIT_SOURCES}
    COMMENT "Bundling quelt/${unit}.mjs"
    VERBATIM)
  list(APPEND QUELT_BUNDLES "${bundle}")
endforeach()

set(QUELT_UNITS_CPP "${PROJECT_BINARY_DIR}/generated/quelt_units.cpp")
add_custom_command(
  OUTPUT "${QUELT_UNITS_CPP}"
  COMMAND "${CMAKE_COMMAND}" -E make_directory "${PROJECT_BINARY_DIR}/generated"
  COMMAND quelt-embed "${QUELT_UNITS_CPP}" "${PROJECT_SOURCE_DIR}/quelt/native-shims.js" ${QUELT_BUNDLES}
  DEPENDS quelt-embed "${PROJECT_SOURCE_DIR}/quelt/native-shims.js" ${QUELT_BUNDLES}
  COMMENT "Compiling the script units to bytecode"
  VERBATIM)
