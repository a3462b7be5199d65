# Profile-guided optimisation of the engine library (the `quickjs` target
# built from source; included by QuickJS.cmake).
#   QUELT_ENGINE_PROFILE=generate  instrument the engine; every run of a
#                                  program linked with it adds its counts to
#                                  QUELT_ENGINE_PROFILE_DIR
#   QUELT_ENGINE_PROFILE=use       optimise the engine with those counts
#   (empty)                        an ordinary build
# The counts are named after the object files relative to the build folder,
# so a profile trained in one build folder serves another. The profile's
# stamp file is part of the compile definitions: a new profile rebuilds the
# engine. scripts/profile-engine.sh trains the profile; scripts/build.sh uses it.

set(QUELT_ENGINE_PROFILE "" CACHE STRING "Engine profile mode: generate, use or empty")
set(QUELT_ENGINE_PROFILE_DIR "${PROJECT_SOURCE_DIR}/.deps/engine-profile" CACHE PATH "Engine profile folder")

set(quelt_profile_paths "-fprofile-dir=${QUELT_ENGINE_PROFILE_DIR}" "-fprofile-prefix-path=${CMAKE_BINARY_DIR}")
if(QUELT_ENGINE_PROFILE STREQUAL "generate")
  target_compile_options(quickjs PRIVATE -fprofile-generate -fprofile-update=single ${quelt_profile_paths})
  target_link_options(quickjs INTERFACE -fprofile-generate)
  message(STATUS "Engine profile: instrumented, counts in ${QUELT_ENGINE_PROFILE_DIR}")
elseif(QUELT_ENGINE_PROFILE STREQUAL "use")
  if(EXISTS "${QUELT_ENGINE_PROFILE_DIR}/stamp")
    file(READ "${QUELT_ENGINE_PROFILE_DIR}/stamp" quelt_profile_stamp)
    string(SHA256 quelt_profile_stamp "${quelt_profile_stamp}")
    # Code the training did not reach keeps the ordinary optimisation.
    target_compile_options(quickjs PRIVATE -fprofile-use -fprofile-partial-training ${quelt_profile_paths}
      -Wno-missing-profile -Wno-error=coverage-mismatch)
    target_compile_definitions(quickjs PRIVATE "QUELT_ENGINE_PROFILE_STAMP=${quelt_profile_stamp}")
    message(STATUS "Engine profile: optimised with ${QUELT_ENGINE_PROFILE_DIR}")
  else()
    message(WARNING "Engine profile: no trained profile in ${QUELT_ENGINE_PROFILE_DIR}; ordinary build")
  endif()
elseif(NOT QUELT_ENGINE_PROFILE STREQUAL "")
  message(FATAL_ERROR "QUELT_ENGINE_PROFILE must be generate, use or empty")
endif()
